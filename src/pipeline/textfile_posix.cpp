// A file's writes on POSIX systems: write (or a copy from another file), fsync and close on a
// descriptor.
#include <cerrno>

#include <fcntl.h>
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

bool TextFile::AppendFrom(const std::filesystem::path& source, std::uint64_t offset) {
    if (!IsOpen() || failed) {
        Fail(EBADF);
        return false;
    }
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        Fail(errno);
        return false;
    }
    const int out = static_cast<int>(handle);
    auto at = static_cast<off_t>(offset);
    bool copied = false;
    // In the file system where it can (a reflink, or a copy that never leaves the kernel).
    for (;;) {
        const ssize_t moved = ::copy_file_range(in, &at, out, nullptr, std::size_t{1} << 30, 0);
        if (moved == 0) {
            copied = true;
            break;
        }
        if (moved > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
            Fail(errno);
            break;
        }
        break;  // not between these files: piece by piece below
    }
    char buffer[1 << 16];
    while (!copied && !failed) {
        const ssize_t got = ::pread(in, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            Fail(errno);
        } else if (got == 0) {
            copied = true;
        } else if (Write(buffer, static_cast<std::size_t>(got))) {
            at += got;
        }
    }
    ::close(in);
    return !failed;
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
