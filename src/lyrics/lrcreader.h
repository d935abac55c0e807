#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::lyricsd {

// What the service knows of one song, all in UTF-8.
struct LrcSong {
    std::string title;               // [ti:]
    std::string artist;              // [ar:]
    std::string album;               // [al:]
    std::vector<std::string> lines;  // the timed lines, in file order, tags included
};

// Largest LRC file the catalogue reads; a lyric file is a few kilobytes.
inline constexpr std::uintmax_t MaxLrcFileSize = 4u << 20;

// The text of an LRC file as UTF-8: a UTF-8 (with or without byte order mark) or UTF-16 (LE or
// BE with byte order mark) file. Whatever is not valid text (a broken sequence, a lone
// surrogate) becomes U+FFFD; control characters other than tab, CR and LF are dropped, so the
// result can go into an XML document as it is.
std::string DecodeLrcText(std::string_view bytes);

// Header tags and timed lines of an LRC text. Lines without a time tag, other header tags and
// blank lines are left out.
LrcSong ParseLrc(std::string_view utf8);

// Reads and parses an LRC file. False when it cannot be read or is larger than MaxLrcFileSize.
bool ReadLrcFile(const std::filesystem::path& path, LrcSong& song, std::string& error);

// True for a time tag such as [00:12.34], [1:02] or [00:12:34] at the start of `line`.
bool StartsWithTimeTag(std::string_view line);

}  // namespace quillon::lyricsd
