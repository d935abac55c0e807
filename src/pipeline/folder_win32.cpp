// A folder's music files and a path's kind on Windows: FindFirstFileW and FindNextFileW in the
// order the system gives, GetFileAttributesW.
#include <windows.h>

#include <string>

#include "pipeline/job.h"

namespace fs = std::filesystem;

namespace quillon {

std::vector<fs::path> CollectMp3Files(const fs::path& folder) {
    std::vector<fs::path> files;
    // The backslash goes on whether or not the folder already ends with one.
    const std::wstring dir = folder.native() + L'\\';
    WIN32_FIND_DATAW entry{};
    const HANDLE find = ::FindFirstFileW((dir + L"*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        const std::wstring_view name(entry.cFileName);
        if (NameHoldsMp3(name)) files.emplace_back(dir + std::wstring(name));
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return files;
}

PathKind KindOfPath(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::File;
}

}  // namespace quillon
