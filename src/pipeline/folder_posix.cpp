// A folder's entries and a path's kind on POSIX systems, through std::filesystem.
#include <algorithm>
#include <string>
#include <system_error>

#include "pipeline/listing.h"

namespace fs = std::filesystem;

namespace quillon {

FolderListing ListFolder(const fs::path::string_type& dir) {
    FolderListing listing;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return listing;
    listing.readable = true;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        const std::string name = it->path().filename().native();
        if (it->is_directory(typeError)) {
            // A link to a folder is not followed: no loops.
            if (!it->is_symlink(typeError)) listing.folders.push_back(name);
            continue;
        }
        if (NameHoldsMp3(std::string_view(name))) listing.songs.emplace_back(dir + name);
    }
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

PathKind KindOfPath(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return PathKind::Missing;
    return fs::is_directory(status) ? PathKind::Folder : PathKind::File;
}

}  // namespace quillon
