// The music file reader on POSIX systems: open, read and lseek.
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/mp3file.h"

namespace quillon {

bool Mp3File::Open(const std::filesystem::path& path) {
    Close();
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; the type check below
    // then refuses it. It has no effect on regular files.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        lastOpenError = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        lastOpenError = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        lastOpenError = NotRegularFile;
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    handle = fd;
    lastOpenError = 0;
    sizeAtOpen = static_cast<std::int64_t>(st.st_size);
    return true;
}

void Mp3File::Close() {
    if (handle != InvalidHandle) {
        ::close(static_cast<int>(handle));
        handle = InvalidHandle;
        sizeAtOpen = -1;
    }
}

std::int64_t Mp3File::Seek(std::int64_t offset, Origin origin) {
    if (handle == InvalidHandle) return NoPosition;
    const off_t result = ::lseek(static_cast<int>(handle), static_cast<off_t>(offset),
                                 origin == Origin::Begin ? SEEK_SET : SEEK_CUR);
    if (result < 0) return NoPosition;
    return static_cast<std::int64_t>(result);
}

bool Mp3File::Read(void* buffer, std::size_t count, std::size_t* bytesRead) {
    if (handle == InvalidHandle) return false;
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    // A regular file gives fewer bytes than asked only at its end; a signal may still cut a
    // read short, so keep reading until the count is reached or the file ends.
    while (total < count) {
        const ssize_t n = ::read(static_cast<int>(handle), out + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            *bytesRead = total;
            return false;
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    *bytesRead = total;
    return true;
}

}  // namespace quillon
