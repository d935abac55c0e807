#pragma once

// The one reader of LRC text, for every part that reads it: the lyrics service's catalogue (its
// files' bytes, the header tags and the timed lines), the lyric in a song's tag (the times of
// the lines), and the tests.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// A time tag at the start of a text: "[" minutes ":" seconds, then "." or ":" and a fraction
// or nothing, then "]", each part one or more ASCII digits ("[01:02.34]", "[1:02]",
// "[01:02:34]", "[01:02.345]").
struct TimeTag {
    std::size_t length = 0;  // of the tag with its brackets; 0 when the text starts with none
    // The time in milliseconds, when the parts are those of a lyric's time: minutes of at most
    // five digits, seconds of at most two and below 60, and a fraction in tenths, hundredths or
    // thousandths, and the whole within 32 bits ("[71582:47.295]" at most). A tag like
    // "[00:75.00]" still starts a timed line, but gives no time.
    std::optional<std::uint32_t> ms;
};
TimeTag ReadTimeTag(std::string_view text);
TimeTag ReadTimeTag(std::u16string_view text);

// True for a time tag at the start of `line`.
bool StartsWithTimeTag(std::string_view line);

// What an LRC text holds for the lyrics service, all in UTF-8.
struct LrcSong {
    std::string title;               // [ti:]
    std::string artist;              // [ar:]
    std::string album;               // [al:]
    std::vector<std::string> lines;  // the timed lines, in file order, tags included
};

// Largest LRC file ReadLrcFile reads; a lyric file is a few kilobytes.
inline constexpr std::uintmax_t MaxLrcFileSize = 4u << 20;

// The text of an LRC file as UTF-8: a UTF-8 (with or without byte order mark) or UTF-16 (LE or
// BE with byte order mark) file. Whatever is not valid text (a broken sequence, a lone
// surrogate) becomes U+FFFD; control characters other than tab, CR and LF are dropped, so the
// result can go into an XML document as it is.
std::string DecodeLrcText(std::string_view bytes);

// Header tags and timed lines of an LRC text. CR LF, LF and a lone CR end a line, and blanks
// around a line do not count. Lines without a time tag, other header tags and blank lines are
// left out; the first of each header tag counts.
LrcSong ParseLrc(std::string_view utf8);

// Reads and parses an LRC file. False when it cannot be read or is larger than MaxLrcFileSize.
bool ReadLrcFile(const std::filesystem::path& path, LrcSong& song, std::string& error);

// One entry of a synchronised lyric: its time in milliseconds and its text.
struct TimedText {
    std::uint32_t ms = 0;
    std::u16string text;
    bool operator==(const TimedText&) const = default;
};

// The entries of an LRC text, as a synchronised lyric holds them: one per time tag with a time
// (see TimeTag) that starts a line, or follows such a tag, with the text after the line's tags.
// The lines are those ParseLrc reads; header lines and lines without a time tag give none.
std::vector<TimedText> TimedEntriesOf(std::u16string_view lrcText);
// The entries as LRC lines, "[mm:ss.xx]text", each ending in LF. An entry whose text holds line
// ends (CR, LF) gives a line at its time for each piece of text between them.
std::u16string LrcLinesOf(const std::vector<TimedText>& entries);

}  // namespace quillon
