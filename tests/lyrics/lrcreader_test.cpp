// The LRC reader: encodings, time tags, header tags and timed lines, and the entries of a
// synchronised lyric.
#include "lyrics/lrcreader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillon {
namespace {

std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    }
    return out;
}

TEST(DecodeLrcText, ReadsEveryEncodingItsByteOrderMarkNames) {
    const std::string expected = "[ti:봄날]\r\n[00:01.00]\xF0\x9F\x8E\xB5 보고 싶다\n";
    const std::u16string wide = u"[ti:봄날]\r\n[00:01.00]\U0001F3B5 보고 싶다\n";
    EXPECT_EQ(DecodeLrcText(expected), expected);
    EXPECT_EQ(DecodeLrcText("\xEF\xBB\xBF" + expected), expected);
    EXPECT_EQ(DecodeLrcText(Utf16(wide, false)), expected);
    EXPECT_EQ(DecodeLrcText(Utf16(wide, true)), expected);
}

TEST(DecodeLrcText, ReplacesWhatIsNotTextAndDropsControls) {
    // A CP949 byte pair, an overlong slash, an encoded surrogate, a cut-off sequence.
    EXPECT_EQ(DecodeLrcText("a\xB0\xA1"
                            "b\xC0\xAF"
                            "c\xED\xA0\x80"
                            "d\xEA\xB0"),
              "a\uFFFD\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFDd\uFFFD\uFFFD");
    EXPECT_EQ(DecodeLrcText(std::string("a\0b\x01\x7F\tc\xC2\x85\xEF\xBF\xBE", 13)), "ab\tc\uFFFD");
    // A lone surrogate and an odd last byte in UTF-16.
    EXPECT_EQ(DecodeLrcText(Utf16(u"x\xD800y", false) + "z"), "x\uFFFDy");
}

// Every tag of the time's shape starts a timed line; only one whose parts a lyric's time can
// have gives a time.
TEST(ReadTimeTag, TheShapeStartsATimedLineAndTheRangesGiveATime) {
    struct Row {
        const char* text;
        std::size_t length;
        std::optional<std::uint32_t> ms;
    };
    const Row rows[] = {
        {"[00:12.34]x", 10, 12340},            // hundredths
        {"[1:02]", 6, 62000},                  // no fraction
        {"[00:12:34] x", 10, 12340},           // a colon before the fraction
        {"[123:00.5]", 10, 7380500},           // tenths
        {"[00:01.345]", 11, 1345},             // thousandths
        {"[71582:47.295]", 14, 4294967295u},   // the latest time 32 bits hold
        {"[71582:47.296]", 14, std::nullopt},  // was 0: the time ran past 32 bits
        {"[99999:59.999]", 14, std::nullopt},  // was 1,705,032,703
        {"[00:60.00]", 10, std::nullopt},      // 60 seconds
        {"[00:005]", 8, std::nullopt},         // three digits of seconds
        {"[00:01.1234]", 12, std::nullopt},    // four of a fraction
        {"[123456:00]", 11, std::nullopt},     // six of minutes
        {"", 0, std::nullopt},
        {"[ti:x]", 0, std::nullopt},
        {"[00:12.]", 0, std::nullopt},
        {"[:12]", 0, std::nullopt},
        {"[00:]", 0, std::nullopt},
        {"[00:12.34", 0, std::nullopt},
        {" [00:12]", 0, std::nullopt},
        {"[00.12]", 0, std::nullopt},
        {"[00:12.34x]", 0, std::nullopt},
        {"[\xD9\xA1:00]", 0, std::nullopt},  // Arabic-Indic digit one
    };
    for (const Row& row : rows) {
        const TimeTag tag = ReadTimeTag(row.text);
        EXPECT_EQ(tag.length, row.length) << row.text;
        EXPECT_EQ(tag.ms, row.ms) << row.text;
        EXPECT_EQ(StartsWithTimeTag(row.text), row.length != 0) << row.text;
        const std::u16string wide(row.text, row.text + std::char_traits<char>::length(row.text));
        EXPECT_EQ(ReadTimeTag(wide).ms, row.ms) << row.text;
    }
}

TEST(ParseLrc, TakesHeaderTagsAndTimedLines) {
    const LrcSong song = ParseLrc(
        "[ti: Song [Live] ]\r\n[AR:Artist & Co]\r[al:Album]\n[by:someone]\n[offset:+100]\n"
        "plain text without time\n\n  [00:01.00]first  \r\n[00:02.00][00:30.00]chorus\n"
        "[ti:second title]\n[00:03.00]");
    EXPECT_EQ(song.title, "Song [Live]");
    EXPECT_EQ(song.artist, "Artist & Co");
    EXPECT_EQ(song.album, "Album");
    const std::vector<std::string> expected = {"[00:01.00]first", "[00:02.00][00:30.00]chorus",
                                               "[00:03.00]"};
    EXPECT_EQ(song.lines, expected);
}

TEST(ParseLrc, EmptyTextGivesAnEmptySong) {
    const LrcSong song = ParseLrc("");
    EXPECT_TRUE(song.title.empty());
    EXPECT_TRUE(song.lines.empty());
}

// The lines are those the service reads: a lone CR ends one too (it once left the next line's
// tag in an entry's text, and that line's time was lost), and blanks around a line do not count.
TEST(TimedEntriesOf, TimeTagsBecomeEntriesAndEntriesTimeTags) {
    const auto entries = TimedEntriesOf(
        u"[ti:x]\n[00:01.5]a\r\n[01:02:34][00:03.456]two tags\nplain\n[1:02]\n[00:61.00]bad\n"
        u"[00:06]\r[00:07] b \r\r\n  [00:08]c\t");
    const std::vector<TimedText> expected{{1500, u"a"}, {62340, u"two tags"}, {3456, u"two tags"},
                                          {62000, u""}, {6000, u""},          {7000, u" b"},
                                          {8000, u"c"}};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(LrcLinesOf(expected),
              u"[00:01.50]a\n[01:02.34]two tags\n[00:03.45]two tags\n[01:02.00]\n[00:06.00]\n"
              u"[00:07.00] b\n[00:08.00]c\n");
}

// An entry of a synchronised lyric that begins with a line end, as some tags write every line,
// or holds one, gave a line without a time, which readers of the LRC text drop.
TEST(LrcLinesOf, LineEndsInAnEntryGiveALineAtItsTimeForEachPiece) {
    EXPECT_EQ(LrcLinesOf({{1000, u"\nfirst"}, {2500, u"a\r\nb\rc\n"}, {3000, u"\r\n"}}),
              u"[00:01.00]first\n[00:02.50]a\n[00:02.50]b\n[00:02.50]c\n[00:03.00]\n");
}

}  // namespace
}  // namespace quillon
