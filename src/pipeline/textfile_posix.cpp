// A text file's writes on POSIX systems: write, fsync and close on a descriptor.
#include <cerrno>

#include <unistd.h>

#include "pipeline/textwriter.h"

namespace quillon {

TextFile::~TextFile() {
    if (IsOpen()) ::close(static_cast<int>(handle));
}

bool TextFile::Write(const void* data, std::size_t size) {
    if (!IsOpen() || failed) {
        Fail(EBADF);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(handle), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool TextFile::Sync() {
    if (!IsOpen() || failed) return false;
    // EINVAL: a device or pipe that has nothing to push to a disk.
    if (::fsync(static_cast<int>(handle)) != 0 && errno != EINVAL) Fail(errno);
    return !failed;
}

bool TextFile::Close() {
    if (!IsOpen()) return !failed;
    // Linux releases the descriptor even when close reports EINTR; only other errors (a write
    // the file system could not complete) count.
    if (::close(static_cast<int>(handle)) != 0 && errno != EINTR) Fail(errno);
    handle = InvalidHandle;
    return !failed;
}

}  // namespace quillon
