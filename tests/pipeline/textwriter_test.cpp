#include "pipeline/textwriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <langinfo.h>
#endif

#include "support/environment.h"
#include "testutil.h"

namespace quillon {
namespace {

using namespace std::string_literals;
using testing::ReadFileBytes;
using testing::ScratchDir;

// Sets QUILLON_ANSI_CODEPAGE for the life of the object.
class CodePageOverride {
public:
    explicit CodePageOverride(const char* value) {
        if (const char* old = std::getenv(Name)) saved = old;
        if (value == nullptr) {
            testing::UnsetEnv(Name);
        } else {
            testing::SetEnv(Name, value);
        }
    }
    ~CodePageOverride() {
        if (saved) {
            testing::SetEnv(Name, saved->c_str());
        } else {
            testing::UnsetEnv(Name);
        }
    }

private:
    static constexpr const char* Name = "QUILLON_ANSI_CODEPAGE";
    std::optional<std::string> saved;
};

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

class TextFileWriterTest : public ::testing::Test {
protected:
    // The bytes a fresh file holds after one writer wrote `text` in `encoding`.
    std::string Written(int encoding, std::u16string_view text) {
        const auto path = dir / "out.txt";
        TextFile file;
        file.Attach(testing::CreateForWriting(path));
        EXPECT_TRUE(file.IsOpen());
        {
            TextFileWriter writer(&file, encoding);
            writer.WriteText(text);
            writer.Close();
            EXPECT_TRUE(writer.Ok());
        }
        EXPECT_TRUE(file.Close());
        return ReadFileBytes(path);
    }

    static long long SizeOf(const std::filesystem::path& path) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        return ec ? -1 : static_cast<long long>(size);
    }

    ScratchDir dir;
    CodePageOverride codePage{"CP949"};
};

TEST_F(TextFileWriterTest, BracketAInEveryEncoding) {
    EXPECT_EQ(Written(0, u"[a"), "[a");
    EXPECT_EQ(Written(1, u"[a"), "\xFE\xFF\x00[\x00\x61"s);
    EXPECT_EQ(Written(2, u"[a"), "\xFF\xFE[\x00\x61\x00"s);
    EXPECT_EQ(Written(3, u"[a"), "\xEF\xBB\xBF[a");
    // Values outside 0..3 (set outside the program) mean UTF-8 without a byte order mark.
    EXPECT_EQ(Written(7, u"[a"), "[a");
    EXPECT_EQ(Written(-1, u"[a"), "[a");
}

TEST_F(TextFileWriterTest, HangulInEveryEncoding) {
    EXPECT_EQ(Written(0, u"\uAC00"), "\xB0\xA1");
    EXPECT_EQ(Written(1, u"\uAC00"), "\xFE\xFF\xAC\x00"s);
    EXPECT_EQ(Written(2, u"\uAC00"), "\xFF\xFE\x00\xAC"s);
    EXPECT_EQ(Written(3, u"\uAC00"), "\xEF\xBB\xBF\xEA\xB0\x80");
    EXPECT_EQ(Written(7, u"\uAC00"), "\xEA\xB0\x80");
    // Two bytes in UTF-8 form.
    EXPECT_EQ(Written(3, u"\u00E9"), "\xEF\xBB\xBF\xC3\xA9");
}

TEST_F(TextFileWriterTest, SurrogatePairIsOneCharacter) {
    const std::u16string smiley = u"\U0001F600";  // D83D DE00
    EXPECT_EQ(Written(3, smiley), "\xEF\xBB\xBF\xF0\x9F\x98\x80");
    EXPECT_EQ(Written(7, u"\xD83D!"), "\xED\xA0\xBD!");  // a lone half keeps its three bytes
    EXPECT_EQ(Written(1, smiley), "\xFE\xFF\xD8\x3D\xDE\x00"s);
    EXPECT_EQ(Written(2, smiley), "\xFF\xFE\x3D\xD8\x00\xDE"s);
    // CP949 has no emoji. iconv replaces the character, WideCharToMultiByte each code unit.
#ifdef _WIN32
    EXPECT_EQ(Written(0, u"a" + smiley + u"b"), "a??b");
#else
    EXPECT_EQ(Written(0, u"a" + smiley + u"b"), "a?b");
#endif
}

TEST_F(TextFileWriterTest, EmptyTextAndTextUpToNul) {
    EXPECT_EQ(Written(0, u""), "");
    EXPECT_EQ(Written(3, u""), "\xEF\xBB\xBF");
    EXPECT_EQ(Written(7, u""), "");
    const std::u16string withNul(u"ab\0cd", 5);
    EXPECT_EQ(Written(0, withNul), "ab");
    EXPECT_EQ(Written(2, withNul), "\xFF\xFE\x61\x00\x62\x00"s);
    EXPECT_EQ(Written(3, withNul), "\xEF\xBB\xBF\x61\x62");
}

TEST_F(TextFileWriterTest, BufferGoesOutWhenThe1025thByteArrives) {
    const auto path = dir / "buffer.txt";
    for (const std::size_t extra : {0u, 1u}) {
        TextFile file;
        file.Attach(testing::CreateForWriting(path));
        TextFileWriter writer(&file, EncodingUtf8);
        // The byte order mark counts: 3 + 1,021 bytes fill the buffer exactly.
        writer.WriteText(std::u16string(1021 + extra, u'x'));
        EXPECT_EQ(SizeOf(path), extra == 0 ? 0 : 1024) << "extra " << extra;
        writer.Close();
        EXPECT_EQ(SizeOf(path), 1024 + static_cast<long long>(extra));
        EXPECT_TRUE(file.Close());
    }
    // Multi-byte characters straddle the buffer's end without loss.
    EXPECT_EQ(Written(3, std::u16string(700, u'\uAC00')),
              "\xEF\xBB\xBF" + Repeat("\xEA\xB0\x80", 700));
    EXPECT_EQ(Written(0, std::u16string(700, u'\uAC00')), Repeat("\xB0\xA1", 700));
}

#ifndef _WIN32
TEST_F(TextFileWriterTest, FailedWriteReachesTheCaller) {
    for (const std::size_t length : {5u, 2000u}) {  // failing at Close, or on the way
        TextFile file;
        file.Attach(::open("/dev/full", O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(file.IsOpen());
        TextFileWriter writer(&file, EncodingUtf8);
        writer.WriteText(std::u16string(length, u'x'));
        EXPECT_EQ(writer.Ok(), length < 1000);  // still all in the buffer
        writer.Close();
        EXPECT_FALSE(writer.Ok());
        EXPECT_FALSE(file.Sync());
        EXPECT_FALSE(file.Close());
    }
}
#endif

TEST_F(TextFileWriterTest, WriterOnAClosedFileWritesNothing) {
    TextFile file;
    TextFileWriter writer(&file, EncodingUtf16BE);
    writer.WriteText(u"abc");
    writer.Close();
    EXPECT_TRUE(writer.Ok());
    EXPECT_FALSE(file.Failed());
}

// iconv's code pages; the Windows tests check WideCharToMultiByte's.
#ifndef _WIN32
TEST(ConvertToAnsiTest, UnrepresentableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(ConvertToAnsi(u"a\uAC00b", "ASCII"), "a?b");
    EXPECT_EQ(ConvertToAnsi(u"\uAC00\u00E9\uAC01", "CP949"), "\xB0\xA1?\xB0\xA2");
    EXPECT_EQ(ConvertToAnsi(u"x\U0001F600y", "ISO-8859-1"), "x?y");
    EXPECT_EQ(ConvertToAnsi(u"\u00E9", "ISO-8859-1"), "\xE9");
}

TEST(ConvertToAnsiTest, LoneSurrogatesBecomeQuestionMarks) {
    const char16_t high = 0xD83D;
    const char16_t low = 0xDE00;
    EXPECT_EQ(ConvertToAnsi(std::u16string{u'a', high, u'b'}, "UTF-8"), "a?b");
    EXPECT_EQ(ConvertToAnsi(std::u16string{u'a', low, u'b'}, "UTF-8"), "a?b");
    EXPECT_EQ(ConvertToAnsi(std::u16string{u'a', high}, "UTF-8"), "a?");
    EXPECT_EQ(ConvertToAnsi(std::u16string{low, high}, "CP949"), "??");
    EXPECT_EQ(ConvertToAnsi(std::u16string{high, low}, "UTF-8"), "\xF0\x9F\x98\x80");
}

TEST(ConvertToAnsiTest, UnknownCodePageKeepsAsciiOnly) {
    EXPECT_EQ(ConvertToAnsi(u"[a]\uAC00\U0001F600.", "NO-SUCH-CODEPAGE"), "[a]??.");
    EXPECT_EQ(ConvertToAnsi(u"[a]", ""), "[a]");
}

TEST(ConvertToAnsiTest, StopsAtNul) {
    EXPECT_EQ(ConvertToAnsi(std::u16string(u"ab\0c", 4), "CP949"), "ab");
    EXPECT_EQ(ConvertToAnsi(u"", "CP949"), "");
}

TEST(AnsiCodePageTest, EnvironmentOverridesTheLocale) {
    {
        CodePageOverride set("CP949");
        EXPECT_EQ(AnsiCodePage(), "CP949");
    }
    {
        CodePageOverride empty("");
        EXPECT_EQ(AnsiCodePage(), ::nl_langinfo(CODESET));
    }
    CodePageOverride unset(nullptr);
    EXPECT_EQ(AnsiCodePage(), ::nl_langinfo(CODESET));
}
#endif

}  // namespace
}  // namespace quillon
