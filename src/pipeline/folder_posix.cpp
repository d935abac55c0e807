// A folder's music files and a path's kind on POSIX systems, through std::filesystem.
#include <string>
#include <system_error>

#include "pipeline/job.h"

namespace fs = std::filesystem;

namespace quillon {

std::vector<fs::path> CollectMp3Files(const fs::path& folder) {
    std::vector<fs::path> files;
    // The separator goes on whether or not the folder already ends with one.
    const std::string dir = folder.native() + '/';
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        const std::string name = it->path().filename().native();
        if (NameHoldsMp3(std::string_view(name))) files.emplace_back(dir + name);
    }
    return files;
}

PathKind KindOfPath(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return PathKind::Missing;
    return fs::is_directory(status) ? PathKind::Folder : PathKind::File;
}

}  // namespace quillon
