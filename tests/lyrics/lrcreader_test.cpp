#include "lyricsd/lrc.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::lyricsd {
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

TEST(StartsWithTimeTag, AcceptsTheUsualForms) {
    for (const char* line : {"[00:12.34]x", "[1:02]", "[00:12:34] x", "[123:00.5]"})
        EXPECT_TRUE(StartsWithTimeTag(line)) << line;
    for (const char* line : {"", "[ti:x]", "[00:12.]", "[:12]", "[00:]", "[00:12.34", " [00:12]",
                             "[00.12]", "[00:12.34x]"})
        EXPECT_FALSE(StartsWithTimeTag(line)) << line;
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

}  // namespace
}  // namespace quillon::lyricsd
