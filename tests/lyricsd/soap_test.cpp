#include "lyricsd/soap.h"

#include <gtest/gtest.h>

#include <string>

#include "service/lyricinfo.h"
#include "service/lyricquery.h"
#include "text/textconv.h"

namespace quillon::lyricsd {
namespace {

constexpr const char* Checksum = "0123456789abcdef0123456789abcdef";

TEST(ParseGetLyric5Request, ReadsTheClientsOwnRequest) {
    const GetLyric5Request request = ParseGetLyric5Request(LyricQuery::BuildRequest(Checksum));
    EXPECT_EQ(request.error, RequestError::None);
    EXPECT_EQ(request.checksum, Checksum);
}

TEST(ParseGetLyric5Request, AcceptsOtherWritingsOfTheSameCall) {
    const char* body =
        "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- a comment -->\n"
        "<s:Envelope xmlns:s='http://www.w3.org/2003/05/soap-envelope' a=\"x>y\">\n"
        "  <s:Header/>\n  <s:Body>\n    <GetLyric5 xmlns=\"ALSongWebServer\">\n"
        "      <stQuery><strVersion>2</strVersion>\n"
        "        <strChecksum> <![CDATA[0123456789ABCDEF]]>0123456789abcdef </strChecksum>\n"
        "        <strChecksum>ffffffffffffffffffffffffffffffff</strChecksum>\n"
        "      </stQuery>\n    </GetLyric5>\n  </s:Body>\n</s:Envelope>\n";
    const GetLyric5Request request = ParseGetLyric5Request(body);
    EXPECT_EQ(request.error, RequestError::None);
    EXPECT_EQ(request.checksum, Checksum);  // the first strChecksum, lower-cased
}

TEST(ParseGetLyric5Request, NamesWhatIsWrong) {
    const std::string good = LyricQuery::BuildRequest(Checksum);
    std::string nested = "<Envelope><Body><GetLyric5>";
    for (int i = 0; i < 40; ++i) nested += "<a>";
    const struct {
        std::string body;
        RequestError error;
    } cases[] = {
        {"", RequestError::Malformed},
        {"not xml at all", RequestError::Malformed},
        {good.substr(0, good.size() - 1), RequestError::Malformed},
        {good + "<second/>", RequestError::Malformed},
        {good + "trailing", RequestError::Malformed},
        {"<!DOCTYPE x [<!ENTITY e 'x'>]><Envelope/>", RequestError::Malformed},
        {"<Envelope><Body></Envelope></Body>", RequestError::Malformed},
        {"<Envelope><Body a=\"unclosed></Body></Envelope>", RequestError::Malformed},
        {"<Envelope><Body><!-- never closed </Body></Envelope>", RequestError::Malformed},
        {nested, RequestError::Malformed},
        {"<Document><Body><GetLyric5/></Body></Document>", RequestError::NotEnvelope},
        {"<Envelope><Header/></Envelope>", RequestError::NotEnvelope},
        {"<Envelope><Body><GetLyric3><strChecksum>" + std::string(Checksum) +
             "</strChecksum></GetLyric3></Body></Envelope>",
         RequestError::NotGetLyric5},
        {"<Envelope><Body><x><GetLyric5/></x></Body></Envelope>", RequestError::NotGetLyric5},
        {"<Envelope><Body><GetLyric5><stQuery/></GetLyric5></Body></Envelope>",
         RequestError::NoChecksum},
        {"<Envelope><Header><strChecksum>" + std::string(Checksum) +
             "</strChecksum></Header><Body><GetLyric5/></Body></Envelope>",
         RequestError::NoChecksum},
        {"<Envelope><Body><GetLyric5><strChecksum/></GetLyric5></Body></Envelope>",
         RequestError::BadChecksum},
        {"<Envelope><Body><GetLyric5><strChecksum>0123456789abcdef0123456789abcdeg"
         "</strChecksum></GetLyric5></Body></Envelope>",
         RequestError::BadChecksum},
        {"<Envelope><Body><GetLyric5><strChecksum>&#x30;123456789abcdef0123456789abcdef"
         "</strChecksum></GetLyric5></Body></Envelope>",
         RequestError::BadChecksum},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseGetLyric5Request(c.body).error, c.error) << c.body;
        EXPECT_STRNE(RequestErrorText(c.error), "");
    }
}

// What the client reads back out of an answer.
LyricInfo ReadBack(const std::string& answer) {
    LyricInfo info;
    ExtractLyricInfo(Utf8ToWide(answer), info);
    return info;
}

TEST(BuildGetLyric5Response, ClientReadsBackWhatTheCatalogueHolds) {
    LrcSong song;
    song.title = "Tom & Jerry <Live>";
    song.artist = "방탄소년단";
    song.album = "</strAlbum>";
    song.lines = {"[00:01.00]a < b & c", "[00:02.00]봄날", "[00:03.00]<br>"};
    const std::string answer = BuildGetLyric5Response(&song);
    EXPECT_NE(answer.find("<strTitle>Tom &amp; Jerry &lt;Live&gt;</strTitle>"), std::string::npos);
    EXPECT_NE(answer.find("<strLyric>[00:01.00]a &lt; b &amp; c&lt;br&gt;[00:02.00]봄날&lt;br&gt;"
                          "[00:03.00]&lt;br&gt;</strLyric>"),
              std::string::npos);

    const LyricInfo info = ReadBack(answer);
    EXPECT_EQ(info.title, u"Tom & Jerry <Live>");
    EXPECT_EQ(info.artist, u"방탄소년단");
    EXPECT_EQ(info.album, u"</strAlbum>");
    // An escaped <br> inside a line is indistinguishable from the break between lines.
    EXPECT_EQ(info.lyric, u"[00:01.00]a < b & c\n[00:02.00]봄날\n[00:03.00]\n");
}

TEST(BuildGetLyric5Response, CharacterOutsideTheBmpSwallowsNoMarkup) {
    // Found by lyricsd_lrc_fuzzer: a client that reads a four-byte sequence as three bytes plus
    // the start of another sequence took the "</" of </strTitle> (an empty title) and the "&l"
    // of the break after a line (two lines run together). Such characters go out as references.
    LrcSong song;
    song.title = "Song \xF0\x9F\x8E\xB5";
    song.lines = {"[00:01.00]a\xF0\x9F\x8E\xB5", "[00:02.00]b"};
    const std::string answer = BuildGetLyric5Response(&song);
    EXPECT_NE(answer.find("<strTitle>Song &#x1F3B5;</strTitle>"), std::string::npos);
    const LyricInfo info = ReadBack(answer);
    EXPECT_EQ(info.title, u"Song \U0001F3B5");
    EXPECT_EQ(info.lyric, u"[00:01.00]a\U0001F3B5\n[00:02.00]b");
}

TEST(BuildGetLyric5Response, UnknownSongHasEmptyFields) {
    const std::string answer = BuildGetLyric5Response(nullptr);
    for (const char* element : {"<strTitle></strTitle>", "<strArtist></strArtist>",
                                "<strAlbum></strAlbum>", "<strLyric></strLyric>"})
        EXPECT_NE(answer.find(element), std::string::npos) << element;
    EXPECT_EQ(ParseGetLyric5Request(answer).error, RequestError::NotGetLyric5);
}

TEST(BuildSoapFault, IsAWellFormedSoap12Fault) {
    const std::string fault = BuildSoapFault("Sender", "bad <input>");
    EXPECT_NE(fault.find("xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\""),
              std::string::npos);
    EXPECT_NE(fault.find("<soap:Value>soap:Sender</soap:Value>"), std::string::npos);
    EXPECT_NE(fault.find("bad &lt;input&gt;"), std::string::npos);
    EXPECT_EQ(ParseGetLyric5Request(fault).error, RequestError::NotGetLyric5);
}

}  // namespace
}  // namespace quillon::lyricsd
