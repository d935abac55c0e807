#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"

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
    "  checksum FILE...   print the audio checksum of each MP3 file, one line per file:\n"
    "                     \"<32 hex digits>  <FILE>\"; files without one are named on stderr\n"
    "\n"
    "Options:\n"
    "  -h, --help         show this help and exit\n"
    "\n"
    "Exit status: 0 when every file succeeded, 1 when any failed, 2 on a usage error.\n";

}  // namespace
}  // namespace quillon::cli

int main(int argc, char** argv) {
    using namespace quillon::cli;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given (see --help)");
    const std::string_view command = args.front();
    args.erase(args.begin());
    for (const auto arg : args) {
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return ExitOk;
        }
    }
    if (command == "-h" || command == "--help") {
        std::fputs(kHelp, stdout);
        return ExitOk;
    }
    if (command == "checksum") return RunChecksum(args);
    return UsageError("unknown command '" + std::string(command) + "' (see --help)");
}
