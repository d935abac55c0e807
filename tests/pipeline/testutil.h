#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#endif

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/lyricview.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace quillon::testing {

using ScratchDir = TempDir;

// A new empty file for a TextFile to take over: a descriptor, or a Windows file handle.
inline std::intptr_t CreateForWriting(const std::filesystem::path& path) {
#ifdef _WIN32
    return reinterpret_cast<std::intptr_t>(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
#endif
}
using RecordingView = MemoryLyricView;

}  // namespace quillon::testing
