#include "service/lyricquery.h"
#include "support/environment.h"
#include "support/files.h"
#include "text/textconv.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace quillon {
namespace {

using testing::ReadFileBytes;

TEST(BuildRequest, MatchesTheHandWrittenEnvelope) {
    const std::string golden = ReadFileBytes(std::filesystem::path(QUILLON_TEST_DATA_DIR) /
                                             "service/getlyric5-request.xml");
    ASSERT_EQ(golden.size(), 695u);
    const std::string body = LyricQuery::BuildRequest("0123456789abcdef0123456789abcdef");
    EXPECT_EQ(body, golden);
    EXPECT_EQ(body.find('\n'), 38u);
    EXPECT_EQ(body.find('\n', 39), std::string::npos);
}

TEST(BuildRequest, NeverOutgrowsTheRequestBuffer) {
    const std::string body = LyricQuery::BuildRequest(std::string(2000, 'a'));
    EXPECT_EQ(body.size(), RequestBufferSize - 1);
}

LyricInfo Extract(std::u16string_view answer, LyricInfo info = {}) {
    ExtractLyricInfo(answer, info);
    return info;
}

TEST(ExtractLyricInfo, CutsFieldsByTheirLiteralTags) {
    const LyricInfo info = Extract(
        u"<r><strTitle>T</strTitle><strArtist>가수</strArtist><strAlbum>A</strAlbum>"
        u"<strLyric>[00:01.00]one&lt;br&gt;[00:02.00]two</strLyric></r>");
    EXPECT_EQ(info.title, u"T");
    EXPECT_EQ(info.artist, u"가수");
    EXPECT_EQ(info.album, u"A");
    EXPECT_EQ(info.lyric, u"[00:01.00]one\n[00:02.00]two");
}

TEST(ExtractLyricInfo, DecodesReferencesOnceAfterTheLyricBreaks) {
    // The lyric's escaped breaks are line feeds first; every reference is then decoded once.
    const LyricInfo info = Extract(
        u"<strTitle>Tom &amp; Jerry&lt;br&gt;</strTitle><strArtist>&#xAC00;&#44032;</strArtist>"
        u"<strLyric>&lt;br&gt;&lt;br&gt;a &lt; b&amp;lt;br&amp;gt;&lt;br&gt</strLyric>");
    EXPECT_EQ(info.title, u"Tom & Jerry<br>");
    EXPECT_EQ(info.artist, u"가가");
    EXPECT_EQ(info.lyric, u"\n\na < b&lt;br&gt;<br&gt");
}

TEST(DecodeXmlReferences, DecodesWellFormedReferencesAndKeepsTheRest) {
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"&amp;&lt;&gt;&quot;&apos;", u"&<>\"'"},
        {u"&amp;lt;", u"&lt;"},  // once
        {u"x &#65;&#x41;&#X41;&#0065;", u"x AA&#X41;A"},
        {u"&#x1F3B5; &#127925;", u"\U0001F3B5 \U0001F3B5"},
        {u"end &amp;", u"end &"},
        {u"end &amp", u"end &amp"},
        {u"R&B & soul &;", u"R&B & soul &;"},
        {u"&#0; &#x0;", u"&#0; &#x0;"},
        {u"&#xD800; &#56320;", u"&#xD800; &#56320;"},
        {u"&#1114112; &#x110000; &#99999999999999999999;",
         u"&#1114112; &#x110000; &#99999999999999999999;"},
        {u"&#x10FFFF;", u"\U0010FFFF"},
        {u"&#; &#x; &#12a; &nbsp; &AMP;", u"&#; &#x; &#12a; &nbsp; &AMP;"},
    };
    for (const auto& [text, decoded] : cases)
        EXPECT_EQ(DecodeXmlReferences(text), decoded) << WideToUtf8(text);
}

TEST(ExtractLyricInfo, MissingOrMisplacedClosingTagEmptiesTheField) {
    LyricInfo before;
    before.title = u"old";
    before.album = u"old";
    const LyricInfo info = Extract(u"<strTitle>no end</strAlbum>x<strAlbum>late", before);
    EXPECT_EQ(info.title, u"");
    EXPECT_EQ(info.album, u"");  // its closing tag lies before the opening tag
}

TEST(ExtractLyricInfo, FieldWithoutOpeningTagKeepsItsValue) {
    LyricInfo before{u"t", u"a", u"b", u"[00:01.00]x&lt;br&gt;y"};
    const LyricInfo info = Extract(u"<strArtist>new</strArtist><strTitle/><StrAlbum>", before);
    EXPECT_EQ(info.title, u"t");
    EXPECT_EQ(info.artist, u"new");
    EXPECT_EQ(info.album, u"b");
    EXPECT_EQ(info.lyric, u"[00:01.00]x&lt;br&gt;y");  // kept as it was, not rewritten
}

TEST(ExtractLyricInfo, UsesTheFirstOccurrenceOfEachTag) {
    const LyricInfo info = Extract(u"<strTitle>a</strTitle><strTitle>b</strTitle>");
    EXPECT_EQ(info.title, u"a");
}

class ServiceHostEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("QUILLON_SERVICE_HOST")) saved = value;
    }
    void TearDown() override {
        if (saved)
            testing::SetEnv("QUILLON_SERVICE_HOST", saved->c_str());
        else
            testing::UnsetEnv("QUILLON_SERVICE_HOST");
    }
    std::optional<std::string> saved;
};

TEST_F(ServiceHostEnvironment, CommandLineThenEnvironmentThenSettingThenDefault) {
    testing::UnsetEnv("QUILLON_SERVICE_HOST");
    EXPECT_EQ(ResolveServiceHost("", ""), "localhost");
    EXPECT_EQ(ResolveServiceHost("", "lyrics.lan:8080"), "lyrics.lan:8080");
    testing::SetEnv("QUILLON_SERVICE_HOST", "");
    EXPECT_EQ(ResolveServiceHost("", "lyrics.lan"), "lyrics.lan");
    testing::SetEnv("QUILLON_SERVICE_HOST", "env.lan");
    EXPECT_EQ(ResolveServiceHost("", "lyrics.lan"), "env.lan");
    EXPECT_EQ(ResolveServiceHost("cli.lan:81", "lyrics.lan"), "cli.lan:81");
}

}  // namespace
}  // namespace quillon
