#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// One folder's entries: the names that hold ".mp3" and are no folders, in the order the system
// lists them, named as the folder (ending with its separator) + name; and the names of its
// folders (links to folders left out), sorted. `readable` is false when it cannot be read.
struct FolderListing {
    bool readable = false;
    std::vector<std::filesystem::path> songs;
    std::vector<std::filesystem::path::string_type> folders;
};
FolderListing ListFolder(const std::filesystem::path::string_type& dir);

// What a folder run goes through, in order: songs, and the subfolders it could not read.
struct ListedSong {
    std::filesystem::path path;
    std::u16string name;  // as the log names it: base name and extension, or the path below
                          // the chosen folder in a run that includes subfolders
    bool unreadableFolder = false;
};
// The songs of `folder`: its own in the system's order, then, when `recursive`, those of each
// subfolder in turn, sorted by name.
std::vector<ListedSong> ListSongs(const std::filesystem::path& folder, bool recursive);

// Every entry of `folder` whose lower-cased name holds ".mp3" and that is not a directory, in
// the order the system lists them, named as folder + separator + name.
std::vector<std::filesystem::path> CollectMp3Files(const std::filesystem::path& folder);

// True when the name, its ASCII letters lower-cased, holds ".mp3" anywhere: "A.MP3" and
// "a.mp3.bak" both do.
template <class Char>
bool NameHoldsMp3(std::basic_string_view<Char> name) {
    constexpr Char wanted[] = {Char('.'), Char('m'), Char('p'), Char('3')};
    for (std::size_t at = 0; at + 4 <= name.size(); ++at) {
        bool same = true;
        for (std::size_t k = 0; k < 4 && same; ++k) {
            const Char c = name[at + k];
            same = (c >= Char('A') && c <= Char('Z') ? Char(c - 'A' + 'a') : c) == wanted[k];
        }
        if (same) return true;
    }
    return false;
}

// What a path names, as the system sees it.
enum class PathKind { Missing, File, Folder };
PathKind KindOfPath(const std::filesystem::path& path);

// The name a message shows for a file: base name and extension.
std::u16string DisplayName(const std::filesystem::path& path);

}  // namespace quillon
