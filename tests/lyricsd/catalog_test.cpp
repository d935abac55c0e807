#include "lyricsd/catalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue_folder.h"
#include "lyricsd/options.h"
#include "tagging/lyrictag.h"

namespace quillon::lyricsd {
namespace {

using testing::CatalogueFolder;

TEST(LoadCatalog, IndexesEveryMp3WithASiblingLrc) {
    CatalogueFolder folder;
    const auto first = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "a/Song.MP3");
    folder.AddFile("a/song.lrc", std::string("\xFF\xFE[\0t\0i\0:\0O\0n\0e\0]\0", 18));
    const auto second = folder.AddAudio("mpeg1-layer3-vbr.mp3", "b/deeper/other.mp3");
    folder.AddFile("b/deeper/other.LRC", "\xEF\xBB\xBF[ti:Two]\n[00:01.00]line\n");
    folder.AddAudio("mpeg2-layer3-22khz.mp3", "lonely.mp3");
    folder.AddFile("lonely.txt", "[ti:not a lyric file]");
    folder.AddAudio("mpeg1-layer3-cbr128.mp3", "same-audio.mp3");
    folder.AddFile("same-audio.lrc", "[ti:Duplicate]");
    folder.AddFile("text.mp3", "just text, no audio");
    folder.AddFile("text.lrc", "[ti:Text]");
    folder.AddFile("orphan.lrc", "[ti:Orphan]");

    Catalog catalog;
    CatalogReport report;
    std::vector<std::string> log;
    ASSERT_TRUE(LoadCatalog(folder.Root(), catalog, report,
                            [&log](const std::string& line) { log.push_back(line); }));
    EXPECT_EQ(report.songs, 2u);
    EXPECT_EQ(report.withoutLrc, 1u);
    EXPECT_EQ(report.failed, 2u);  // the second copy of the same audio, the text file
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(catalog.Size(), 2u);

    const LrcSong* one = catalog.Find(CatalogueFolder::ChecksumOf(first));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->title, "One");  // "a/Song.MP3" sorts before "same-audio.mp3" and wins
    const LrcSong* two = catalog.Find(CatalogueFolder::ChecksumOf(second));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->title, "Two");
    EXPECT_EQ(two->lines, std::vector<std::string>{"[00:01.00]line"});
    EXPECT_EQ(catalog.Find("ffffffffffffffffffffffffffffffff"), nullptr);
}

// A song without an LRC file is served from the lyric in its own tag when that has time-tagged
// lines: title and the rest from the tag's frames, else from the lyric's header lines.
TEST(LoadCatalog, ServesTheTimedLyricInASongsOwnTag) {
    CatalogueFolder folder;
    const auto tagged = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "tagged.mp3");
    ASSERT_TRUE(EmbedLyrics(tagged, u"[ti:표지]\r\n[ar:가수]\r\n[00:01.00]하나\r\n"));
    const auto untimed = folder.AddAudio("mpeg1-layer3-vbr.mp3", "untimed.mp3");
    ASSERT_TRUE(EmbedLyrics(untimed, u"no times here"));

    Catalog catalog;
    CatalogReport report;
    ASSERT_TRUE(LoadCatalog(folder.Root(), catalog, report, {}));
    EXPECT_EQ(report.songs, 1u);
    EXPECT_EQ(report.withoutLrc, 1u);
    const LrcSong* song = catalog.Find(CatalogueFolder::ChecksumOf(tagged));
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->title, "표지");
    EXPECT_EQ(song->artist, "가수");
    EXPECT_EQ(song->lines, std::vector<std::string>{"[00:01.00]하나"});
}

TEST(LoadCatalog, RefusesWhatIsNotAFolder) {
    CatalogueFolder folder;
    folder.AddFile("file.txt", "x");
    Catalog catalog;
    CatalogReport report;
    EXPECT_FALSE(LoadCatalog(folder.Root() / "missing", catalog, report, {}));
    EXPECT_FALSE(LoadCatalog(folder.Root() / "file.txt", catalog, report, {}));
    EXPECT_TRUE(LoadCatalog(folder.Root(), catalog, report, {}));
    EXPECT_EQ(catalog.Size(), 0u);
}

TEST(ParseListenAddress, HostAndPort) {
    const auto v4 = ParseListenAddress("0.0.0.0:8080");
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->host, "0.0.0.0");
    EXPECT_EQ(v4->port, 8080);
    const auto v6 = ParseListenAddress("[::1]:0");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(FormatListenAddress({"::1", 81}), "[::1]:81");
    for (const char* bad : {"", "8080", ":80", "host:", "host:65536", "host:-1", "host:8o",
                            "::1:80", "[::1]80", "[::1]:"})
        EXPECT_FALSE(ParseListenAddress(bad)) << bad;
}

TEST(ParseOptions, CatalogueIsRequired) {
    std::string error;
    const auto options = ParseOptions({"--listen=127.0.0.1:9000", "--catalog", "/srv/lrc"}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->catalog, "/srv/lrc");
    EXPECT_EQ(options->listen.port, 9000);
    EXPECT_FALSE(ParseOptions({"--listen", "127.0.0.1:9000"}, error));
    EXPECT_FALSE(ParseOptions({"--catalog="}, error));
    const auto slow = ParseOptions({"--catalog", "c", "--latency=30"}, error);
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->latencyMs, 30);
    for (const char* bad : {"", "-1", "3x", "60001", "999999"})
        EXPECT_FALSE(ParseOptions({"--catalog", "c", "--latency", bad}, error)) << bad;
}

}  // namespace
}  // namespace quillon::lyricsd
