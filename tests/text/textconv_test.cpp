#include "text/textconv.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(Utf8ToWide, DecodesOneToThreeByteSequences) {
    EXPECT_EQ(Utf8ToWide("abc"), u"abc");
    EXPECT_EQ(Utf8ToWide("\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(Utf8ToWide("\xEA\xB0\x80"), u"\uAC00");
    EXPECT_EQ(Utf8ToWide("\xEA\xB0\x80\xEB\x82\x98 [00:01.00]"), u"\uAC00\uB098 [00:01.00]");
}

TEST(Utf8ToWide, MasksFollowBytesWithoutCheckingThem) {
    // A stray continuation byte leads a three-byte sequence by its low four bits.
    EXPECT_EQ(Utf8ToWide("\x80\x41\x42"), std::u16string(1, char16_t((0x01 << 6) | 0x02)));
    // Follow bytes that are plain ASCII are masked all the same.
    EXPECT_EQ(Utf8ToWide("\xC3\x29"), std::u16string(1, char16_t((0x03 << 6) | 0x29)));
}

TEST(Utf8ToWide, WellFormedFourByteSequenceIsASurrogatePairAndAnyOtherKeepsTheThreeByteReading) {
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x8E\xB5!"), u"\U0001F3B5!");
    EXPECT_EQ(Utf8ToWide("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), u"\U00010000\U0010FFFF");
    // Beyond U+10FFFF, an overlong form, or a follow byte that is no continuation byte: the
    // lead is read as a three-byte lead by its low four bits, and the fourth byte starts anew.
    const auto threeByteReading = [](const char* bytes) {
        const auto b = [&](int k) { return static_cast<unsigned char>(bytes[k]); };
        return std::u16string(
            1, char16_t(((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F)));
    };
    for (const char* bytes :
         {"\xF4\x90\x80\x80", "\xF0\x8F\xBF\xBF", "\xF0\x9F\x8E\x41", "\xF5\x80\x80\x80"}) {
        const std::u16string wide = Utf8ToWide(bytes);
        ASSERT_EQ(wide.size(), 2u) << bytes;
        EXPECT_EQ(wide.substr(0, 1), threeByteReading(bytes)) << bytes;
    }
    // Cut off after three bytes: the three-byte reading, as before.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x8E"), threeByteReading("\xF0\x9F\x8E"));
}

TEST(Utf8ToWide, CutOffSequenceYieldsOneReplacementAndReadsNoFurther) {
    EXPECT_EQ(Utf8ToWide("ab\xC3"), u"ab\uFFFD");
    EXPECT_EQ(Utf8ToWide("ab\xEA"), u"ab\uFFFD");
    EXPECT_EQ(Utf8ToWide("ab\xEA\xB0"), u"ab\uFFFD");
    // The view ends before the bytes that would complete the sequence.
    const std::string whole = "x\xEA\xB0\x80";
    EXPECT_EQ(Utf8ToWide(std::string_view(whole).substr(0, 3)), u"x\uFFFD");
    EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(WideToUtf8, EncodesEachCodeUnitOnItsOwnButASurrogatePair) {
    EXPECT_EQ(WideToUtf8(u"\uAC00"), "\xEA\xB0\x80");
    EXPECT_EQ(WideToUtf8(u"\u00E9\u007F\u0080\u07FF\u0800"),
              "\xC3\xA9\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80");
    // A pair is one four-byte character; lone halves, and a low half before a high one, keep
    // three bytes each.
    EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(WideToUtf8(u"a\xD83D"), "a\xED\xA0\xBD");
    EXPECT_EQ(WideToUtf8(std::u16string{0xDE00, 0xD83D}), "\xED\xB8\x80\xED\xA0\xBD");
}

TEST(TextConversions, RoundTripKeepsEveryCodeUnitButZero) {
    std::u16string all;
    for (unsigned c = 1; c <= 0xFFFF; ++c) all.push_back(static_cast<char16_t>(c));
    EXPECT_EQ(Utf8ToWide(WideToUtf8(all)), all);
    const std::u16string lonely = u"a\xD800z\xDFFF";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(lonely)), lonely);
}

struct PathCase {
    std::u16string path;
    std::u16string root, folder, base, extension;
};

std::u16string Part(const PathParts& parts, int part) {
    return parts.Span(part, nullptr, part);
}

void ExpectParts(const PathCase& c, char16_t separator) {
    PathParts parts;
    ASSERT_EQ(parts.Parse(c.path, separator), 1);
    EXPECT_EQ(Part(parts, PathParts::Root), c.root);
    EXPECT_EQ(Part(parts, PathParts::Folder), c.folder);
    EXPECT_EQ(Part(parts, PathParts::BaseName), c.base);
    EXPECT_EQ(Part(parts, PathParts::Extension), c.extension);
}

TEST(PathParts, BackslashExamples) {
    const PathCase cases[] = {
        {u"D:\\music\\song.mp3", u"D:", u"\\music\\", u"song", u".mp3"},
        {u"D:\\music\\song", u"D:", u"\\music\\", u"song", u""},
        {u"D:\\my.dir\\song", u"D:", u"\\my.dir\\", u"song", u""},
        {u"  D:\\music\\song.mp3 \t", u"D:", u"\\music\\", u"song", u".mp3"},
        {u"\\\\server\\share\\song.mp3", u"", u"\\server\\share\\", u"song", u".mp3"},
        {u"D:\\music\\.mp3", u"D:", u"\\music\\", u".mp3", u""},
        {u"D:\\music\\a.b.mp3", u"D:", u"\\music\\", u"a.b", u".mp3"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        ExpectParts(c, u'\\');
    }
}

TEST(PathParts, PosixForms) {
    const PathCase cases[] = {
        {u"/home/u/music/song.mp3", u"", u"/home/u/music/", u"song", u".mp3"},
        {u"music/song.mp3", u"music", u"/", u"song", u".mp3"},
        {u"//host/share/.hidden", u"", u"/host/share/", u".hidden", u""},
        {u"/music/", u"", u"/music/", u"", u""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        ExpectParts(c, u'/');
    }
}

TEST(PathParts, StartsAndLengths) {
    PathParts parts(u"D:\\music\\song.mp3", u'\\');
    EXPECT_EQ(parts.Start(PathParts::Folder), 2);
    EXPECT_EQ(parts.Length(PathParts::Folder), 7);
    EXPECT_EQ(parts.Start(PathParts::BaseName), 9);
    EXPECT_EQ(parts.Start(PathParts::Extension), 13);
    EXPECT_EQ(parts.Length(PathParts::Extension), 4);

    // Without a separator the folder starts at -1 and every later number stays 0.
    ASSERT_EQ(parts.Parse(u"song.mp3", u'\\'), 1);
    EXPECT_EQ(parts.Length(PathParts::Root), 8);
    EXPECT_EQ(parts.Start(PathParts::Folder), -1);
    for (int part = PathParts::Folder; part <= PathParts::Extension; ++part) {
        EXPECT_EQ(parts.Length(part), 0);
        if (part != PathParts::Folder) {
            EXPECT_EQ(parts.Start(part), 0);
        }
    }
    EXPECT_EQ(parts.Span(3, nullptr, 0), u"song.mp3");
    EXPECT_EQ(parts.Span(1, nullptr, 1), u"");

    // The separator other than the one asked for is an ordinary character.
    ASSERT_EQ(parts.Parse(u"D:\\music\\song.mp3", u'/'), 1);
    EXPECT_EQ(parts.Length(PathParts::Root), 17);
}

TEST(PathParts, BlankPathGivesZeroAndClearsEverything) {
    PathParts parts(u"D:\\music\\song.mp3", u'\\');
    EXPECT_EQ(parts.Parse(u" \t\u3000 ", u'\\'), 0);
    EXPECT_EQ(parts.Parse(u"", u'\\'), 0);
    for (int part = 0; part < 4; ++part) {
        EXPECT_EQ(parts.Start(part), 0);
        EXPECT_EQ(parts.Length(part), 0);
    }
    EXPECT_EQ(parts.Span(3, u"!", 0), u"!");
}

TEST(PathParts, SpanClampsPartsAndAppendsSuffix) {
    const PathParts parts(u"D:\\music\\song.mp3", u'\\');
    EXPECT_EQ(parts.Span(2, nullptr, 2), u"song");
    EXPECT_EQ(parts.Span(3, nullptr, 3), u".mp3");
    EXPECT_EQ(parts.Span(3, nullptr, 2), u"song.mp3");
    EXPECT_EQ(parts.Span(2, u".lrc", 0), u"D:\\music\\song.lrc");
    EXPECT_EQ(parts.Span(9, nullptr, -4), u"D:\\music\\song.mp3");
    EXPECT_EQ(parts.Span(1, nullptr, 3), u"\\music\\");  // first above last counts as last
    EXPECT_EQ(parts.Span(-1, nullptr, 0), u"D:");

    const PathParts noExtension(u"D:\\music\\song", u'\\');
    EXPECT_EQ(noExtension.Span(3, nullptr, 2), u"song");
    EXPECT_EQ(noExtension.Span(3, u".lrc", 0), u"D:\\music\\song.lrc");
}

}  // namespace
}  // namespace quillon
