#include <clocale>
#include <cstdio>

#include <curl/curl.h>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "quillon_version.h"

namespace quillon::cli {

int UsageError(std::string_view message) {
    std::fprintf(stderr, "quillon-cli: %.*s\n", static_cast<int>(message.size()), message.data());
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
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fputs("quillon-cli: the network layer could not be initialised\n", stderr);
        return ExitFailure;
    }
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given (see --help)");
    const std::string_view command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help") {
        std::fputs(kHelp, stdout);
        return ExitOk;
    }
    if (command == "--version") {
        std::printf("quillon-cli %s\n", quillon::Version);
        return ExitOk;
    }
    if (command == "checksum") return RunChecksum(args);
    if (command == "fetch") return RunFetch(args);
    if (command == "folder") return RunFolder(args);
    return UsageError("unknown command '" + std::string(command) + "' (see --help)");
}
