// A folder's entries and a path's kind on Windows: FindFirstFileW and FindNextFileW in the
// order the system gives, GetFileAttributesW.
#include <windows.h>

#include <algorithm>
#include <string>

#include "pipeline/listing.h"

namespace fs = std::filesystem;

namespace quillon {

FolderListing ListFolder(const fs::path::string_type& dir) {
    FolderListing listing;
    WIN32_FIND_DATAW entry{};
    const HANDLE find = ::FindFirstFileW((dir + L"*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return listing;
    listing.readable = true;
    do {
        const std::wstring name(entry.cFileName);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // "." and "..", and a junction or a link to a folder, are not followed: no loops.
            if (name != L"." && name != L".." &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
                listing.folders.push_back(name);
            continue;
        }
        if (NameHoldsMp3(std::wstring_view(name))) listing.songs.emplace_back(dir + name);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

PathKind KindOfPath(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::File;
}

}  // namespace quillon
