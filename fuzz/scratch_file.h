#pragma once

// A file that a fuzz target rewrites with each input, for code that reads files by their path.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"

namespace quillon::fuzzing {

// One scratch file per process, unlinked at once and reached through /proc/self/fd, so that no
// file is left behind however the run ends.
class ScratchFile {
public:
    ScratchFile() {
        // Rewriting a file per input is several times faster in memory than on a disk.
        const char* dir = std::getenv("TMPDIR");
        if (dir == nullptr || *dir == '\0')
            dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(dir) + "/quillon-fuzz-XXXXXX";
        fd = ::mkstemp(pattern.data());
        QUILLON_FUZZ_CHECK(fd >= 0, "cannot create the scratch file");
        ::unlink(pattern.c_str());
        path = "/proc/self/fd/" + std::to_string(fd);
    }

    void Fill(const std::uint8_t* data, std::size_t size) {
        QUILLON_FUZZ_CHECK(::ftruncate(fd, 0) == 0, "cannot truncate the scratch file");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            QUILLON_FUZZ_CHECK(n > 0, "cannot write the scratch file");
            done += static_cast<std::size_t>(n);
        }
    }

    const std::string& Path() const { return path; }

private:
    int fd = -1;
    std::string path;
};

}  // namespace quillon::fuzzing
