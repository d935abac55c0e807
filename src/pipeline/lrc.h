#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "pipeline/atomicwrite.h"
#include "pipeline/lyricview.h"
#include "service/lyricinfo.h"

namespace quillon {

// One line of the UTF-8 lyric starting at `pos`, without its line feed, and the index of that
// line feed (the text's length when none ends the line).
struct LyricLineRead {
    std::string_view line;
    std::size_t end;
};
LyricLineRead ReadLyricLine(std::string_view text, std::size_t pos);

// A timed line "[time]lyric" split into its time text and lyric text. `length` is the lyric's
// length in bytes; 0 means the line carries no lyric.
struct TimedLine {
    std::string time;
    std::string lyric;
    std::size_t length = 0;
};
TimedLine SplitTimedLine(std::string_view line);

// Groups the lyric's lines that share a time, joins the included first, second and third line of
// each group with " / ", and appends one row to `view` and one line to `lrcBody` per group.
void ComposeLyricRows(std::u16string_view lyric, const int includeLine[3], LyricView& view,
                      std::u16string& lrcBody);

// The characters that end a folder's name in a path: "/", and on Windows "\\" too.
template <class Char>
inline constexpr Char PathSeparators[] = {Char('/'),
#ifdef _WIN32
                                          Char('\\'),
#endif
                                          Char(0)};

// A file's path without the extension of its name: up to the name's last "." ("a.mp3.bak" gives
// "a.mp3"); a dot in a folder's name never counts. The path as it is when the name has no dot.
template <class Char>
std::basic_string<Char> WithoutExtension(std::basic_string_view<Char> path) {
    const std::size_t separator = path.find_last_of(PathSeparators<Char>);
    const std::size_t dot = path.rfind(Char('.'));
    if (dot != path.npos && (separator == path.npos || dot > separator)) path = path.substr(0, dot);
    return std::basic_string<Char>(path);
}
std::filesystem::path WithoutExtension(const std::filesystem::path& path);

// The LRC path of a music file: the path without its extension, then ".lrc".
std::filesystem::path LrcPathFor(const std::filesystem::path& musicPath);

// The three header lines, each ending in CR LF.
std::u16string LrcHeader(const LyricInfo& info);

// The text of a song's LRC file: the header, then the rows' lines.
std::u16string LrcFileText(const LyricInfo& info, std::u16string_view lrcBody);

// The encoding a text is written in so that nothing of it is lost: the one chosen, unless that
// is ANSI and the code page lacks characters of the text (`lost` of them): then UTF-16 little
// endian.
struct LosslessChoice {
    int encoding = 0;
    std::size_t lost = 0;
};
LosslessChoice LosslessEncoding(std::u16string_view text, int encoding);

// Writes the LRC file beside the music file. False when it cannot be written.
WriteResult WriteLrcFile(const std::filesystem::path& musicPath, const LyricInfo& info,
                         std::u16string_view lrcBody, int encoding);

// The text the save-lyrics command writes: the header without a line end after the album, then
// CR LF + "[time]lyric" for every row whose time and lyric are both non-empty.
std::u16string BuildSavedLyricsText(const LyricInfo& info, LyricView& view);

}  // namespace quillon
