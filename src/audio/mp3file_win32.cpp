// The music file reader on Windows: CreateFileW, ReadFile and SetFilePointerEx. The file is
// shared for reading only, so nobody writes or deletes it while it is held.
#include <windows.h>

#include <algorithm>

#include "audio/mp3file.h"

namespace quillon {
namespace {

HANDLE Native(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool Mp3File::Open(const std::filesystem::path& path) {
    Close();
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lastOpenError = static_cast<int>(::GetLastError());
        // A folder cannot be opened as a file; it is no music file, whatever its name.
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            lastOpenError = NotRegularFile;
        return false;
    }
    // A folder cannot be opened this way; a device or a pipe can, and is refused here.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        lastOpenError = NotRegularFile;
        ::CloseHandle(file);
        return false;
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    lastOpenError = 0;
    sizeAtOpen = static_cast<std::int64_t>(size.QuadPart);
    return true;
}

void Mp3File::Close() {
    if (handle != InvalidHandle) {
        ::CloseHandle(Native(handle));
        handle = InvalidHandle;
        sizeAtOpen = -1;
    }
}

std::int64_t Mp3File::Seek(std::int64_t offset, Origin origin) {
    if (handle == InvalidHandle) return NoPosition;
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER moved{};
    if (!::SetFilePointerEx(Native(handle), distance, &moved,
                            origin == Origin::Begin ? FILE_BEGIN : FILE_CURRENT))
        return NoPosition;
    return static_cast<std::int64_t>(moved.QuadPart);
}

bool Mp3File::Read(void* buffer, std::size_t count, std::size_t* bytesRead) {
    if (handle == InvalidHandle) return false;
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - total, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(Native(handle), out + total, piece, &got, nullptr)) {
            *bytesRead = total;
            return false;
        }
        if (got == 0) break;
        total += got;
    }
    *bytesRead = total;
    return true;
}

}  // namespace quillon
