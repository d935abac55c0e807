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

std::optional<int> FileArguments(const std::vector<std::string_view>& args,
                                 std::string_view command, const char* help,
                                 std::vector<std::string_view>& files) {
    bool optionsEnded = false;
    for (const auto arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            Write(stdout, help);
            return ExitOk;
        } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            return UsageError(std::string(command) + ": unknown option '" + std::string(arg) + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError(std::string(command) + ": no FILE given (see --help)");
    return std::nullopt;
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
#ifdef QUILLON_HAVE_TAGLIB
    "  lyrics FILE        print the lyric stored in the MP3 file's own tag\n"
#endif
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
#ifdef QUILLON_HAVE_TAGLIB
    if (command == "lyrics") return RunLyrics(args);
#endif
    return UsageError("unknown command '" + std::string(command) + "' (see --help)");
}
