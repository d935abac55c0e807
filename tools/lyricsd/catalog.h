#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "lyrics/lrcreader.h"

namespace quillon::lyricsd {

// The songs the service knows, keyed by audio checksum (32 lower-case hex digits). Read-only
// once loaded, so any number of request threads may look songs up at the same time.
class Catalog {
public:
    // False when the checksum is taken already; the first song keeps it.
    bool Add(std::string checksum, LrcSong song);
    const LrcSong* Find(std::string_view checksum) const;
    std::size_t Size() const { return songs.size(); }

private:
    std::unordered_map<std::string, LrcSong> songs;
};

struct CatalogReport {
    std::size_t songs = 0;       // indexed
    std::size_t withoutLrc = 0;  // MP3 files without a sibling .lrc
    std::size_t failed = 0;      // MP3 or LRC files that could not be used
};

using LogFunction = std::function<void(const std::string&)>;

// Indexes every MP3 file under `root` (subfolders included) that has an LRC file of the same
// name beside it, extension case ignored. Each file that cannot be used is reported through
// `log`. False only when `root` is not a readable folder.
bool LoadCatalog(const std::filesystem::path& root, Catalog& catalog, CatalogReport& report,
                 const LogFunction& log);

}  // namespace quillon::lyricsd
