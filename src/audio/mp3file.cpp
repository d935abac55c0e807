#include "audio/mp3file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

Mp3File::~Mp3File() {
    Close();
}

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
        ::close(handle);
        handle = InvalidHandle;
        sizeAtOpen = -1;
    }
}

std::int64_t Mp3File::Seek(std::int64_t offset, Origin origin) {
    if (handle == InvalidHandle) return NoPosition;
    const off_t result =
        ::lseek(handle, static_cast<off_t>(offset), origin == Origin::Begin ? SEEK_SET : SEEK_CUR);
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
        const ssize_t n = ::read(handle, out + total, count - total);
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

template <typename Accept>
std::int64_t Mp3File::SearchSync(Accept accept) {
    std::uint8_t window[SyncWindowSize];
    std::size_t filled = 0;
    if (!Read(window, SyncWindowSize, &filled) || filled <= 3) return NoPosition;
    for (;;) {
        for (std::size_t i = 0; i + 4 <= filled; ++i) {
            if (window[i] == 0xFF && IsSyncCandidate(window + i) && accept(window[i + 1])) {
                // The file stands just behind the window's data.
                const std::int64_t end = Seek(0, Origin::Current);
                if (end == NoPosition) return NoPosition;
                return Seek(end - static_cast<std::int64_t>(filled - i), Origin::Begin);
            }
        }
        // Carry the last three bytes so a candidate straddling two windows is seen whole.
        std::memmove(window, window + filled - 3, 3);
        std::size_t more = 0;
        if (!Read(window + 3, SyncWindowSize - 3, &more)) return NoPosition;
        filled = 3 + more;
        if (filled <= 3) return NoPosition;
    }
}

std::int64_t Mp3File::FindSync() {
    return SearchSync([](std::uint8_t) { return true; });
}

std::int64_t Mp3File::FindMatchingSync(int version, int layer) {
    return SearchSync(
        [=](std::uint8_t b1) { return SyncVersion(b1) == version && SyncLayer(b1) == layer; });
}

}  // namespace quillon
