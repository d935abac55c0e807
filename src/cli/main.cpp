#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "quillon_version.h"
#include "service/httptransport.h"

namespace quillon::cli {

int UsageError(std::string_view message) {
    Write(stderr, "quillon-cli: " + std::string(message) + "\n");
    return ExitUsage;
}

namespace {

constexpr const char* kHelp =
    "Usage: quillon-cli COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  fetch FILE         fetch the lyric of one MP3 file and print it (--save writes LRC)\n"
    "  folder DIR         write an LRC file beside every MP3 file in DIR, with a log\n"
    "  checksum FILE...   print the audio checksum of each MP3 file, one line per file:\n"
    "                     \"<32 hex digits>  <FILE>\"; files without one are named on stderr\n"
    "\n"
    "Run \"quillon-cli COMMAND --help\" for a command's options.\n"
    "\n"
    "Options:\n"
    "  -h, --help         show this help and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "Exit status: 0 when every file succeeded, 1 when any failed, 2 on a usage error.\n";

}  // namespace
}  // namespace quillon::cli

int main(int argc, char** argv) {
    using namespace quillon;
    using namespace quillon::cli;
    std::setlocale(LC_ALL, "");
    if (!StartNetworkLayer()) {
        Write(stderr, "quillon-cli: the network layer could not be initialised\n");
        return ExitFailure;
    }
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<std::string_view> args(arguments.begin(), arguments.end());
    if (args.empty()) return UsageError("no command given (see --help)");
    const std::string_view command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help") {
        Write(stdout, kHelp);
        return ExitOk;
    }
    if (command == "--version") {
        Write(stdout, std::string("quillon-cli ") + quillon::Version + "\n");
        return ExitOk;
    }
    if (command == "checksum") return RunChecksum(args);
    if (command == "fetch") return RunFetch(args);
    if (command == "folder") return RunFolder(args);
    return UsageError("unknown command '" + std::string(command) + "' (see --help)");
}
