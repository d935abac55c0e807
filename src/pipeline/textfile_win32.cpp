// A text file's writes on Windows: WriteFile, FlushFileBuffers and CloseHandle.
#include <windows.h>

#include <algorithm>

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
