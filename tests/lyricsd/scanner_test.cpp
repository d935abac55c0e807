#include "lyricsd/scanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue_folder.h"
#include "lyrics/lrcreader.h"
#include "lyricsd/options.h"
#include "lyricsd/store.h"
#include "support/tempdir.h"
#include "tagging/lyrictag.h"

namespace quillon::lyricsd {
namespace {

namespace fs = std::filesystem;
using testing::CatalogueFolder;

// A catalogue folder with its store and scanner.
class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        store = Store::Open(database.Path() / "catalogue.sqlite", error);
        ASSERT_TRUE(store) << error;
        scanner =
            std::make_unique<Scanner>(std::vector<fs::path>{folder.Root()}, *store,
                                      [this](const std::string& line) { log.push_back(line); });
    }
    ScanSummary Scan() { return scanner->Run(stop); }
    // The song stored for a file.
    std::optional<SongRecord> At(const fs::path& file) {
        const auto known = store->KnownFiles();
        const auto it = known.find(file.string());
        if (it == known.end()) return std::nullopt;
        return store->ById(it->second.id);
    }
    // The song the service answers for an MP3's audio, as the SOAP answer reads it.
    std::optional<SongRecord> Served(const fs::path& mp3) {
        auto song = store->ByChecksum(CatalogueFolder::ChecksumOf(mp3));
        if (song && !song->synced) return std::nullopt;
        return song;
    }

    CatalogueFolder folder;
    quillon::testing::TempDir database;
    std::unique_ptr<Store> store;
    std::unique_ptr<Scanner> scanner;
    std::vector<std::string> log;
    std::atomic<bool> stop{false};
};

TEST_F(ScanTest, ServesEveryMp3WithASiblingLrcAndTheFirstOfTwoEqualOnes) {
    const auto first = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "a/Song.MP3");
    folder.AddFile("a/song.lrc", std::string("\xFF\xFE[\0t\0i\0:\0O\0n\0e\0]\0", 18));
    const auto second = folder.AddAudio("mpeg1-layer3-vbr.mp3", "b/deeper/other.mp3");
    folder.AddFile("b/deeper/other.LRC", "\xEF\xBB\xBF[ti:Two]\n[00:01.00]line\n");
    const auto lonely = folder.AddAudio("mpeg2-layer3-22khz.mp3", "lonely.mp3");
    folder.AddFile("lonely.txt", "[ti:not a lyric file]");
    folder.AddAudio("mpeg1-layer3-cbr128.mp3", "same-audio.mp3");
    folder.AddFile("same-audio.lrc", "[ti:Duplicate]");
    folder.AddFile("text.mp3", "just text, no audio");
    folder.AddFile("text.lrc", "[ti:Text]");
    folder.AddFile("orphan.lrc", "[ti:Orphan]");

    const ScanSummary summary = Scan();
    EXPECT_EQ(summary.added, 4);
    EXPECT_EQ(summary.problems.size(), 1u);  // the text file
    EXPECT_EQ(log.size(), 1u);
    const CatalogueCounts counts = store->Counts();
    EXPECT_EQ(counts.songs, 4);
    EXPECT_EQ(counts.synced, 3);
    EXPECT_EQ(counts.plainOnly, 1);  // lonely.mp3, by its untimed .txt

    const auto one = Served(first);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->title, "One");  // "a/Song.MP3" sorts before "same-audio.mp3" and wins
    const auto two = Served(second);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->title, "Two");
    EXPECT_EQ(ParseLrc(*two->synced).lines, std::vector<std::string>{"[00:01.00]line"});
    EXPECT_FALSE(Served(lonely));
    ASSERT_TRUE(At(lonely));
    EXPECT_EQ(At(lonely)->plain, "[ti:not a lyric file]");
    EXPECT_FALSE(store->ByChecksum("ffffffffffffffffffffffffffffffff"));
}

// A song without a lyric file is served from the lyric in its own tag when that has time-tagged
// lines: title and the rest from the tag's frames, else from the lyric's header lines.
TEST_F(ScanTest, ServesTheTimedLyricInASongsOwnTag) {
    const auto tagged = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "tagged.mp3");
    ASSERT_TRUE(EmbedLyrics(tagged, u"[ti:표지]\r\n[ar:가수]\r\n[00:01.00]하나\r\n"));
    const auto untimed = folder.AddAudio("mpeg1-layer3-vbr.mp3", "untimed.mp3");
    ASSERT_TRUE(EmbedLyrics(untimed, u"no times here"));

    Scan();
    const auto song = Served(tagged);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->title, "표지");
    EXPECT_EQ(song->artist, "가수");
    EXPECT_EQ(ParseLrc(*song->synced).lines, std::vector<std::string>{"[00:01.00]하나"});
    EXPECT_FALSE(Served(untimed));
    ASSERT_TRUE(At(untimed));
    EXPECT_EQ(At(untimed)->plain, "no times here");
}

// Lyric files beside a song: the .lrc first, then a .txt with time tags; an untimed .txt of at
// most 64 KiB is plain text, a larger one or one with NUL bytes is no lyric.
TEST_F(ScanTest, TextFilesBesideASongByTheirContent) {
    const struct {
        const char* lrc;  // nullptr: none
        std::string txt;  // empty: none
        bool synced;
        bool plain;
    } cases[] = {
        {"[00:01.00]from lrc", "[00:02.00]from txt", true, false},
        {nullptr, "[00:02.00]timed txt", true, false},
        {nullptr, "words\r\nonly", false, true},
        {nullptr, std::string(MaxTextLyricSize + 1, 'x'), false, false},
        {nullptr, std::string("bin\0ary", 7), false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "song" + std::to_string(n++);
        folder.AddAudio("mpeg1-layer3-cbr128.mp3", name + ".mp3");
        if (c.lrc) folder.AddFile(name + ".lrc", c.lrc);
        if (!c.txt.empty()) folder.AddFile(name + ".txt", c.txt);
    }
    Scan();
    for (n = 0; n < static_cast<int>(std::size(cases)); ++n) {
        const std::optional<SongRecord> song =
            At(folder.Root() / ("song" + std::to_string(n) + ".mp3"));
        ASSERT_TRUE(song) << n;
        EXPECT_EQ(song->synced.has_value(), cases[n].synced) << n;
        EXPECT_EQ(song->plain.has_value(), cases[n].plain) << n;
    }
    EXPECT_EQ(At(folder.Root() / "song0.mp3")->synced, "[00:01.00]from lrc");
    EXPECT_EQ(At(folder.Root() / "song2.mp3")->plain, "words\nonly");
}

// A start with nothing changed reads no audio; an added, changed, renamed or removed song or
// lyric file is read again, or leaves.
TEST_F(ScanTest, OnlyWhatChangedIsReadAgain) {
    const auto song = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "a.mp3");
    folder.AddFile("a.lrc", "[ti:A]\n[00:01.00]a\n");
    folder.AddAudio("mpeg1-layer3-vbr.mp3", "b.mp3");
    ScanSummary summary = Scan();
    EXPECT_EQ(summary.added, 2);
    EXPECT_EQ(scanner->SongsRead(), 2);

    summary = Scan();
    EXPECT_EQ(summary.unchanged, 2);
    EXPECT_EQ(summary.added + summary.changed + summary.removed, 0);
    EXPECT_EQ(scanner->SongsRead(), 2);
    // A fresh scanner on the same store, as after a restart: still nothing read.
    Scanner restarted({folder.Root()}, *store, {});
    EXPECT_EQ(restarted.Run(stop).unchanged, 2);
    EXPECT_EQ(restarted.SongsRead(), 0);

    folder.AddFile("a.lrc", "[ti:A2]\n[00:01.00]a\n[00:02.00]b\n");  // the lyric changes
    folder.AddFile("b.txt", "plain words");                          // a lyric comes
    fs::rename(folder.Root() / "b.mp3", folder.Root() / "c.mp3");    // renamed without its .txt
    summary = Scan();
    EXPECT_EQ(summary.changed, 1);
    EXPECT_EQ(summary.added, 1);
    EXPECT_EQ(summary.removed, 1);
    EXPECT_EQ(Served(song)->title, "A2");

    fs::remove(folder.Root() / "a.lrc");
    fs::remove(folder.Root() / "c.mp3");
    summary = Scan();
    EXPECT_EQ(summary.changed, 1);
    EXPECT_EQ(summary.removed, 1);
    EXPECT_FALSE(Served(song));
    EXPECT_EQ(store->Counts().songs, 1);
}

// Lyric files and folders of odd shapes: each song gets what can be read of them, and the scan
// goes on.
TEST_F(ScanTest, OddLyricFilesAndALinkLoopLeaveTheScanWhole) {
    std::string utf16NoMark;  // "[00:01]x" in UTF-16 LE without its byte order mark
    for (const char c : std::string_view("[00:01]x")) utf16NoMark += {c, '\0'};
    const std::string longLine = "[00:01.00]" + std::string(1 << 20, 'x') + "\n";
    const struct {
        const char* name;
        std::string lrc;
        bool timed;  // the served lyric has a timed line
    } cases[] = {
        {"utf16-without-mark", utf16NoMark, true},         // its NUL bytes dropped
        {"cp949", "[00:01.00]\xBA\xBD \xB3\xAF\n", true},  // bytes that are no UTF-8
        {"megabyte-line", longLine, true},
        {"past-99-minutes", "[123:45.67]late\n[00:01.00]early\n", true},
        {"nul-bytes", std::string("[00:01.00]a\0b\n", 15), true},
    };
    for (const auto& c : cases) {
        folder.AddAudio("mpeg1-layer3-cbr128.mp3", std::string(c.name) + ".mp3");
        folder.AddFile(std::string(c.name) + ".lrc", c.lrc);
    }
    fs::create_directories(folder.Root() / "loop");
    fs::create_directory_symlink(folder.Root(), folder.Root() / "loop" / "again");

    const ScanSummary summary = Scan();
    EXPECT_EQ(summary.added, static_cast<std::int64_t>(std::size(cases)));
    for (const auto& c : cases) {
        const auto song = At(folder.Root() / (std::string(c.name) + ".mp3"));
        ASSERT_TRUE(song && song->synced) << c.name;
        EXPECT_EQ(!ParseLrc(*song->synced).lines.empty(), c.timed) << c.name;
        // Whatever the bytes were, what is stored is text.
        EXPECT_EQ(song->synced->find('\0'), std::string::npos) << c.name;
    }
    EXPECT_NE(At(folder.Root() / "cp949.mp3")->synced->find("\xEF\xBF\xBD"), std::string::npos);
}

// A song replaced while the scan runs is read as it is then, or at the next scan.
TEST_F(ScanTest, SongReplacedBetweenScansIsReadAgain) {
    const auto song = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "a.mp3");
    folder.AddFile("a.lrc", "[ti:A]\n[00:01.00]a\n");
    Scan();
    const std::string before = CatalogueFolder::ChecksumOf(song);
    folder.AddAudio("mpeg1-layer3-vbr.mp3", "a.mp3");
    const ScanSummary summary = Scan();
    EXPECT_EQ(summary.changed, 1);
    EXPECT_FALSE(store->ByChecksum(before));
    EXPECT_EQ(Served(song)->title, "A");
}

TEST_F(ScanTest, FolderThatCannotBeListedKeepsItsSongs) {
    const auto song = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "a.mp3");
    folder.AddFile("a.lrc", "[ti:A]\n[00:01.00]a\n");
    Scan();
    const fs::path moved = folder.Root().string() + ".away";
    fs::rename(folder.Root(), moved);
    const ScanSummary summary = Scan();
    fs::rename(moved, folder.Root());
    EXPECT_EQ(summary.removed, 0);
    EXPECT_FALSE(summary.problems.empty());
    EXPECT_TRUE(Served(song));
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
    EXPECT_EQ(options->catalogs, std::vector<std::string>{"/srv/lrc"});
    EXPECT_FALSE(options->database.empty());
    const auto two =
        ParseOptions({"--catalog", "a", "--catalog=b", "--database", "/var/lib/l.sqlite"}, error);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->catalogs, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(two->database, "/var/lib/l.sqlite");
    EXPECT_FALSE(ParseOptions({"--catalog", "a", "--database="}, error));
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
