#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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

// The LRC path of a music file: everything up to its last ".", then ".lrc".
std::filesystem::path LrcPathFor(const std::filesystem::path& musicPath);

// The three header lines, each ending in CR LF.
std::u16string LrcHeader(const LyricInfo& info);

// Writes `text` to `target` in `encoding` through a temporary file in the same folder that is
// renamed over the target only once it is whole and synced: a failure leaves the old file as it
// was and no temporary file behind. An existing target that could not be written in place (a
// read-only file, a folder) is left alone and the result is false.
bool WriteTextFileAtomically(const std::filesystem::path& target, std::u16string_view text,
                             int encoding);

// Writes the LRC file beside the music file. False when it cannot be written.
bool WriteLrcFile(const std::filesystem::path& musicPath, const LyricInfo& info,
                  std::u16string_view lrcBody, int encoding);

// The text the save-lyrics command writes: the header without a line end after the album, then
// CR LF + "[time]lyric" for every row whose time and lyric are both non-empty.
std::u16string BuildSavedLyricsText(const LyricInfo& info, LyricView& view);

}  // namespace quillon
