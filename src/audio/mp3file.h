#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace quillon {

// The position every failed seek or search reports: the largest signed 64-bit number.
inline constexpr std::int64_t NoPosition = 0x7FFFFFFFFFFFFFFF;

// Read-only access to one music file at a time, with forward searches for MPEG audio
// frame-sync candidates through a sliding 512-byte window.
class Mp3File {
public:
    static constexpr std::size_t SyncWindowSize = 512;

    enum class Origin { Begin, Current };

    Mp3File() = default;
    ~Mp3File();  // releases a held file
    Mp3File(const Mp3File&) = delete;
    Mp3File& operator=(const Mp3File&) = delete;

    // Releases a held file, then opens an existing regular file for reading. Anything that is
    // not a regular file (a directory, a FIFO, a device) is refused without blocking.
    bool Open(const std::filesystem::path& path);
    void Close();
    bool IsOpen() const { return handle != InvalidHandle; }

    // Why the last Open failed: the system's error number (errno, or GetLastError on Windows),
    // or NotRegularFile; 0 after a success.
    static constexpr int NotRegularFile = -1;
    int LastOpenError() const { return lastOpenError; }
    // Size of the held file when it was opened, or -1 without a file.
    std::int64_t SizeAtOpen() const { return sizeAtOpen; }

    // Moves the position; returns the new position from the start, or NoPosition without a
    // file or when the system refuses the move (a position before the start of the file).
    std::int64_t Seek(std::int64_t offset, Origin origin);

    // Reads up to `count` bytes at the current position. End of file is not an error: fewer
    // bytes, possibly none, are reported in *bytesRead. False on a read error, and false
    // without touching *bytesRead when no file is held.
    bool Read(void* buffer, std::size_t count, std::size_t* bytesRead);

    // Forward search from the current position for the first frame-sync candidate; on success
    // the file stands at the candidate. NoPosition at the end of the file.
    std::int64_t FindSync();
    // The same search, counting only candidates of the given version code and layer.
    std::int64_t FindMatchingSync(int version, int layer);

private:
    // A file descriptor, or a Windows file handle; -1 is the invalid value of both.
    using Handle = std::intptr_t;
    static constexpr Handle InvalidHandle = -1;

    template <typename Accept>
    std::int64_t SearchSync(Accept accept);

    Handle handle = InvalidHandle;
    int lastOpenError = 0;
    std::int64_t sizeAtOpen = -1;
};

// True when the four bytes at `b` form a frame-sync candidate: eleven sync bits set, layer bits
// not zero, bitrate index not 15, sample-rate index not 3.
constexpr bool IsSyncCandidate(const std::uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && (b[1] & 0x06) != 0 && (b[2] >> 4) != 15 &&
           ((b[2] >> 2) & 0x03) != 3;
}

// Version code of a candidate: 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5.
constexpr int SyncVersion(std::uint8_t b1) {
    if (b1 & 0x10) return (b1 & 0x08) ? 1 : 2;
    return 3;
}

// Layer of a candidate: 1, 2 or 3 (layer bits 0b11, 0b10, 0b01).
constexpr int SyncLayer(std::uint8_t b1) {
    return 4 - ((b1 >> 1) & 0x03);
}

}  // namespace quillon
