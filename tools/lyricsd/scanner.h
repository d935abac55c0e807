#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lyricsd/store.h"

namespace quillon::lyricsd {

using LogFunction = std::function<void(const std::string&)>;

// Largest `.txt` beside a song that counts as its lyric.
inline constexpr std::uintmax_t MaxTextLyricSize = 64 * 1024;

// A song file and the lyric files beside it ("Song.lrc" and "Song.txt" for "Song.flac",
// extension case ignored).
struct SongFiles {
    std::filesystem::path song;
    std::filesystem::path lrc;  // empty when there is none
    std::filesystem::path txt;
};

// Reads one song into a record: its tags and length, the audio checksum of an MP3 file, and
// its lyrics. Synced lyrics come from the first of: the `.lrc` (whatever it holds), a `.txt`
// with time tags, the tags' synced lyric; plain lyrics from the first of: the tags' untimed
// lyric, an untimed `.txt` of at most MaxTextLyricSize. Title, artist and album come from a
// lyric file's header when it has them, else from the tags, else from the tags' synced lyric's
// header. False, with the reason in `problem`, when the song cannot be read as audio (an MP3
// file without audio frames included).
bool ReadSong(const SongFiles& files, SongRecord& song, std::string& problem);

// Keeps the store in step with the catalogue folders, one pass at a time.
class Scanner {
public:
    Scanner(std::vector<std::filesystem::path> roots, Store& store, LogFunction log);

    // One pass: a song whose size and modification time, and whose lyric files' sizes and
    // times, are what the store holds is left alone and its audio not read; new and changed
    // songs are read and stored in batches, each committed whole; songs that are gone leave the
    // store. A catalogue folder that cannot be listed keeps its songs. A file that cannot be
    // read is logged once and passed over until it changes. Ends early, with what it
    // committed, when `stop` is set.
    ScanSummary Run(const std::atomic<bool>& stop);

    // Song files opened and read so far (not only looked at).
    std::int64_t SongsRead() const { return songsRead; }

private:
    std::vector<std::filesystem::path> roots;
    Store& store;
    LogFunction log;
    std::unordered_map<std::string, KnownFile> unreadable;  // as they were when reported
    std::int64_t songsRead = 0;
};

}  // namespace quillon::lyricsd
