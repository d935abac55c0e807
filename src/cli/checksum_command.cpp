#include <cstdio>
#include <cstring>
#include <string>

#include "audio/checksum.h"
#include "cli/commands.h"
#include "cli/console.h"

namespace quillon::cli {
int RunChecksum(const std::vector<std::string_view>& args) {
    std::vector<std::string_view> files;
    if (const auto done = FileArguments(
            args, "checksum",
            "Usage: quillon-cli checksum FILE...\n"
            "\n"
            "Prints the audio checksum of each MP3 file, \"<32 hex digits>  <FILE>\", in\n"
            "argument order. A file without one is named on stderr with the cause.\n"
            "\n"
            "Exit status: 0 when every file succeeded, 1 when any failed, 2 on a usage\n"
            "error.\n",
            files))
        return *done;

    AudioChecksummer job;
    int status = ExitOk;
    for (const auto file : files) {
        AudioChecksum sum;
        const ChecksumStatus result = job.Compute(ArgumentPath(file), sum);
        if (result == ChecksumStatus::Ok) {
            Write(stdout, std::string(sum.data(), 32) + "  " + std::string(file) + "\n");
        } else {
            Write(stderr,
                  "quillon-cli: " + std::string(file) + ": " + ChecksumCause(job, result) + "\n");
            status = ExitFailure;
        }
    }
    return status;
}

}  // namespace quillon::cli
