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

// The outcome of writing a file: whether it was written and, when not, why in the system's
// words.
struct WriteResult {
    bool written = false;
    std::string cause;
    operator bool() const { return written; }
};

// The steps of a safe write, as the cause of a failure names them before the system's words.
enum class WriteStep { Replace, Create, Write, Rename };
WriteResult WriteFailed(WriteStep step, std::string_view systemText);

// The three header lines, each ending in CR LF.
std::u16string LrcHeader(const LyricInfo& info);

// A new name for a temporary file in `folder`: ".quillon-" and ten random letters and digits.
std::filesystem::path TemporaryNameIn(const std::filesystem::path& folder);

// Writes `text` to `target` in `encoding` through a temporary file in the same folder that is
// renamed over the target only once it is whole and synced: a failure leaves the old file as it
// was and no temporary file behind. An existing target that could not be written in place (a
// read-only file, a folder) is left alone and the result is false.
WriteResult WriteTextFileAtomically(const std::filesystem::path& target, std::u16string_view text,
                                    int encoding);

// A text file written whole beside its target, waiting to take the target's place: the first
// half of WriteTextFileAtomically, so that files can be written side by side and put in place
// in an order of the caller's.
struct PreparedFile {
    std::filesystem::path target;
    std::filesystem::path temporary;  // empty when nothing is waiting
    WriteResult result;               // why it could not be prepared
};
PreparedFile PrepareTextFile(const std::filesystem::path& target, std::u16string_view text,
                             int encoding);
// Puts a prepared file in place of its target; a file that could not be prepared gives its
// cause. Either way nothing is left waiting.
WriteResult CommitPreparedFile(PreparedFile& prepared);
// Removes a prepared file that is no longer wanted.
void DiscardPreparedFile(PreparedFile& prepared);

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
