#pragma once

#include <filesystem>
#include <string>

namespace quillon {

// What a song's own tags say of it, whatever its audio format (MP3, FLAC, Ogg Vorbis, Opus,
// M4A, WMA, WAV, AIFF, APE, WavPack): texts in UTF-8, LF line ends.
struct SongTags {
    bool readable = false;  // the file could be read as audio of a known format
    std::string title;
    std::string artist;
    std::string album;
    double duration = 0;  // seconds; 0 when unknown
    // A lyric with time tags: MP3's SYLT (as LRC lines) or a lyric tag (USLT, LYRICS, ©lyr,
    // WM/Lyrics) whose lines carry time tags.
    std::string syncedLyrics;
    // A lyric tag without time tags.
    std::string plainLyrics;
};

// The song's tags and length; an unreadable file gives readable = false and nothing else.
SongTags ReadSongTags(const std::filesystem::path& song);

// True for the extensions of the audio formats ReadSongTags knows, in any case.
bool IsSongFile(const std::filesystem::path& file);

}  // namespace quillon
