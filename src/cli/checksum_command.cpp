#include <cstdio>
#include <cstring>
#include <string>

#include "audio/checksum.h"
#include "cli/commands.h"

namespace quillon::cli {
int RunChecksum(const std::vector<std::string_view>& args) {
    std::vector<std::string_view> files;
    bool optionsEnded = false;
    for (const auto arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            std::fputs(
                "Usage: quillon-cli checksum FILE...\n"
                "\n"
                "Prints the audio checksum of each MP3 file, \"<32 hex digits>  <FILE>\", in\n"
                "argument order. A file without one is named on stderr with the cause.\n"
                "\n"
                "Exit status: 0 when every file succeeded, 1 when any failed, 2 on a usage\n"
                "error.\n",
                stdout);
            return ExitOk;
        } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            return UsageError("checksum: unknown option '" + std::string(arg) + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("checksum: no FILE given (see --help)");

    AudioChecksummer job;
    int status = ExitOk;
    for (const auto file : files) {
        AudioChecksum sum;
        const ChecksumStatus result = job.Compute(std::string(file), sum);
        if (result == ChecksumStatus::Ok) {
            std::printf("%s  %.*s\n", sum.data(), static_cast<int>(file.size()), file.data());
        } else {
            std::fflush(stdout);
            std::fprintf(stderr, "quillon-cli: %.*s: %s\n", static_cast<int>(file.size()),
                         file.data(), ChecksumCause(job, result).c_str());
            status = ExitFailure;
        }
    }
    return status;
}

}  // namespace quillon::cli
