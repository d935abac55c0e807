#include "tagging/songtags.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "audio/audio_fixtures.h"
#include "support/files.h"
#include "support/tempdir.h"
#include "tagging/lyrictag.h"

namespace quillon {
namespace {

using fixtures::AudioFixture;

// Each format's own tags, read the same way: the lyric tag (LYRICS, ©lyr, USLT) is synced when
// its lines carry time tags and plain otherwise.
TEST(SongTagsTest, EveryFormatByItsOwnTags) {
    const std::string synced = "[00:00.10]하나\n[00:00.30]둘";
    const struct {
        const char* file;
        const char* title;
        const char* artist;
        const char* album;
        bool timed;
    } cases[] = {
        {"tagged-synced.flac", "봄 노래", "가수", "앨범", true},
        {"tagged-plain.ogg", "Ogg Song", "Singer", "Album", false},
        {"tagged-synced.opus", "Opus Song", "Singer", "", true},
        {"tagged-synced.m4a", "M4A Song", "Singer", "Album", true},
    };
    for (const auto& c : cases) {
        const SongTags tags = ReadSongTags(AudioFixture(c.file));
        ASSERT_TRUE(tags.readable) << c.file;
        EXPECT_EQ(tags.title, c.title) << c.file;
        EXPECT_EQ(tags.artist, c.artist) << c.file;
        EXPECT_EQ(tags.album, c.album) << c.file;
        EXPECT_NEAR(tags.duration, 0.5, 0.2) << c.file;  // AAC adds its priming
        EXPECT_EQ(tags.syncedLyrics, c.timed ? synced : "") << c.file;
        EXPECT_EQ(tags.plainLyrics, c.timed ? "" : "그냥 말\n두 줄") << c.file;
        EXPECT_TRUE(IsSongFile(std::string("/x/Y.") +
                               (std::filesystem::path(c.file).extension().string().substr(1))));
    }
}

TEST(SongTagsTest, Mp3LyricFramesAndWhatIsNoSong) {
    const quillon::testing::TempDir dir;
    const std::filesystem::path song = dir.Path() / "a.mp3";
    std::filesystem::copy_file(AudioFixture("mpeg1-layer3-cbr128.mp3"), song);
    ASSERT_TRUE(EmbedLyrics(song, u"[ar:가수]\r\n[00:01.00]하나\r\n"));
    SongTags tags = ReadSongTags(song);
    ASSERT_TRUE(tags.readable);
    EXPECT_EQ(tags.syncedLyrics, "[ar:가수]\n[00:01.00]하나\n");
    ASSERT_TRUE(EmbedLyrics(song, u"words only"));
    tags = ReadSongTags(song);
    EXPECT_EQ(tags.syncedLyrics, "");
    EXPECT_EQ(tags.plainLyrics, "words only");

    EXPECT_FALSE(ReadSongTags(dir.Write("text.flac", "not audio at all")).readable);
    EXPECT_FALSE(ReadSongTags(dir.Path() / "missing.ogg").readable);
    for (const char* name : {"a.MP3", "b.Flac", "c.opus", "d.wv", "e.aiff"})
        EXPECT_TRUE(IsSongFile(name)) << name;
    for (const char* name : {"a.lrc", "b.txt", "c.mp3.bak", "flac", "d.jpg"})
        EXPECT_FALSE(IsSongFile(name)) << name;
}

}  // namespace
}  // namespace quillon
