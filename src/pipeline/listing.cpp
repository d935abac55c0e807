#include "pipeline/listing.h"

#include "text/textconv.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

void ListFolderInto(const fs::path::string_type& dir, const std::u16string& relative,
                    bool recursive, std::vector<ListedSong>& songs) {
    const FolderListing listing = ListFolder(dir);
    for (const fs::path& song : listing.songs)
        songs.push_back(
            {song, recursive ? relative + PathText(song.filename()) : DisplayName(song)});
    if (!recursive) return;
    for (const auto& name : listing.folders) {
        const fs::path::string_type sub = dir + name + fs::path::preferred_separator;
        const std::u16string below = relative + PathText(fs::path(name)) + NativeSeparator;
        if (!ListFolder(sub).readable) {
            songs.push_back({fs::path(sub), below.substr(0, below.size() - 1), true});
            continue;
        }
        ListFolderInto(sub, below, true, songs);
    }
}

}  // namespace

std::vector<fs::path> CollectMp3Files(const fs::path& folder) {
    // The separator goes on whether or not the folder already ends with one.
    return ListFolder(folder.native() + fs::path::preferred_separator).songs;
}

std::vector<ListedSong> ListSongs(const fs::path& folder, bool recursive) {
    std::vector<ListedSong> songs;
    ListFolderInto(folder.native() + fs::path::preferred_separator, {}, recursive, songs);
    return songs;
}

std::u16string DisplayName(const fs::path& path) {
    // Only the name is decoded: a folder name that is not valid UTF-8 cannot run into it.
    const PathParts parts(NativeSeparator + PathText(path.filename()));
    return parts.Span(PathParts::BaseName, nullptr, PathParts::BaseName) +
           parts.Span(PathParts::Extension, nullptr, PathParts::Extension);
}

}  // namespace quillon
