// A file's writes on Windows: WriteFile (or ReadFile from another file), FlushFileBuffers and
// CloseHandle.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "pipeline/textwriter.h"

namespace quillon {
namespace {

HANDLE Native(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

TextFile::~TextFile() {
    if (IsOpen()) ::CloseHandle(Native(handle));
}

bool TextFile::Write(const void* data, std::size_t size) {
    if (!IsOpen() || failed) {
        Fail(ERROR_INVALID_HANDLE);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(Native(handle), p, piece, &written, nullptr) || written == 0) {
            Fail(static_cast<int>(written == 0 && ::GetLastError() == 0 ? ERROR_DISK_FULL
                                                                        : ::GetLastError()));
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

bool TextFile::AppendFrom(const std::filesystem::path& source, std::uint64_t offset) {
    if (!IsOpen() || failed) {
        Fail(ERROR_INVALID_HANDLE);
        return false;
    }
    // Others may go on reading the source, as the checksum's reader lets them.
    const HANDLE in = ::CreateFileW(source.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        Fail(static_cast<int>(::GetLastError()));
        return false;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(in, at, nullptr, FILE_BEGIN)) Fail(static_cast<int>(::GetLastError()));
    std::vector<char> buffer(1 << 16);
    while (!failed) {
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            Fail(static_cast<int>(::GetLastError()));
        } else if (got == 0) {
            break;
        } else {
            Write(buffer.data(), got);
        }
    }
    ::CloseHandle(in);
    return !failed;
}

bool TextFile::Sync() {
    if (!IsOpen() || failed) return false;
    if (!::FlushFileBuffers(Native(handle))) Fail(static_cast<int>(::GetLastError()));
    return !failed;
}

bool TextFile::Close() {
    if (!IsOpen()) return !failed;
    if (!::CloseHandle(Native(handle))) Fail(static_cast<int>(::GetLastError()));
    handle = InvalidHandle;
    return !failed;
}

}  // namespace quillon
