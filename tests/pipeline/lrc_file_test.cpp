#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "pipeline/lrc.h"
#include "support/environment.h"
#include "testutil.h"

namespace quillon {
namespace {

using namespace std::string_literals;
using testing::ReadFileBytes;
using testing::RecordingView;
using testing::ScratchDir;
using testing::WriteFileBytes;

using Names = std::set<std::string>;

class LrcFileTest : public ::testing::Test {
protected:
    void SetUp() override { testing::SetEnv("QUILLON_ANSI_CODEPAGE", "CP949"); }
    void TearDown() override { testing::UnsetEnv("QUILLON_ANSI_CODEPAGE"); }

    ScratchDir dir;
    const LyricInfo info{u"\uAC00", u"a", u"", u"ignored"};  // title, artist, album, lyric
    const std::u16string body = u"[00:01.00]X\r\n";
};

TEST_F(LrcFileTest, BytesInEveryEncoding) {
    const std::string expected[] = {
        // 0: CP949, no byte order mark
        "[ar:a]\r\n[ti:\xB0\xA1]\r\n[al:]\r\n[00:01.00]X\r\n",
        // 1: UTF-16 big endian
        "\xFE\xFF"
        "\0[\0a\0r\0:\0a\0]\0\r\0\n"
        "\0[\0t\0i\0:\xAC\0\0]\0\r\0\n"
        "\0[\0a\0l\0:\0]\0\r\0\n"
        "\0[\0000\0000\0:\0000\0001\0.\0000\0000\0]\0X\0\r\0\n"s,
        // 2: UTF-16 little endian
        "\xFF\xFE"
        "[\0a\0r\0:\0a\0]\0\r\0\n\0"
        "[\0t\0i\0:\0\0\xAC]\0\r\0\n\0"
        "[\0a\0l\0:\0]\0\r\0\n\0"
        "[\0000\0000\0:\0000\0001\0.\0000\0000\0]\0X\0\r\0\n\0"s,
        // 3: UTF-8 with its mark
        "\xEF\xBB\xBF[ar:a]\r\n[ti:\xEA\xB0\x80]\r\n[al:]\r\n[00:01.00]X\r\n",
    };
    for (int encoding = 0; encoding < 4; ++encoding) {
        ASSERT_TRUE(WriteLrcFile(dir / "song.mp3", info, body, encoding));
        EXPECT_EQ(ReadFileBytes(dir / "song.lrc"), expected[encoding]) << "encoding " << encoding;
    }
    ASSERT_TRUE(WriteLrcFile(dir / "song.mp3", info, body, 7));
    EXPECT_EQ(ReadFileBytes(dir / "song.lrc"), expected[3].substr(3));
    EXPECT_EQ(dir.Names(), (Names{"song.lrc"}));
}

TEST(LrcPathForTest, ReplacesWhatFollowsTheNamesLastDot) {
    EXPECT_EQ(LrcPathFor("/music/song.mp3"), "/music/song.lrc");
    EXPECT_EQ(LrcPathFor("/music/a.mp3.bak"), "/music/a.mp3.lrc");
    EXPECT_EQ(LrcPathFor("song.MP3"), "song.lrc");
    EXPECT_EQ(LrcPathFor("/music.d/song"), "/music.d/song.lrc");
    EXPECT_EQ(LrcPathFor("/music/\xEA\xB0\x80.mp3"), "/music/\xEA\xB0\x80.lrc");
}

TEST_F(LrcFileTest, BackupNameGivesItsOwnLrc) {
    WriteFileBytes(dir / "a.mp3.bak", "audio");
    ASSERT_TRUE(WriteLrcFile(dir / "a.mp3.bak", info, body, 3));
    EXPECT_EQ(dir.Names(), (Names{"a.mp3.bak", "a.mp3.lrc"}));
}

TEST_F(LrcFileTest, StaleLrcIsReplacedWholeKeepingItsMode) {
    const auto lrc = dir / "song.lrc";
    WriteFileBytes(lrc, std::string(5000, 'o'));
#ifndef _WIN32
    ASSERT_EQ(::chmod(lrc.c_str(), 0640), 0);
#endif
    ASSERT_TRUE(WriteLrcFile(dir / "song.mp3", info, body, 0));
    EXPECT_EQ(ReadFileBytes(lrc), "[ar:a]\r\n[ti:\xB0\xA1]\r\n[al:]\r\n[00:01.00]X\r\n");
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(lrc.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
    EXPECT_EQ(dir.Names(), (Names{"song.lrc"}));
}

TEST_F(LrcFileTest, LrcNameTakenByAFolderFails) {
    std::filesystem::create_directory(dir / "song.lrc");
    WriteFileBytes(dir / "song.lrc" / "inside", "kept");
    EXPECT_FALSE(WriteLrcFile(dir / "song.mp3", info, body, 3));
    EXPECT_EQ(ReadFileBytes(dir / "song.lrc" / "inside"), "kept");
    EXPECT_EQ(dir.Names(), (Names{"song.lrc"}));
}

TEST_F(LrcFileTest, MissingFolderFails) {
    EXPECT_FALSE(WriteLrcFile(dir / "gone" / "song.mp3", info, body, 3));
    EXPECT_TRUE(dir.Names().empty());
}

// Permissions and resource limits of POSIX systems; the read-only file of Windows has a test of
// its own among the Windows tests.
#ifndef _WIN32
TEST_F(LrcFileTest, NewFileGetsTheUsualPermissions) {
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(WriteLrcFile(dir / "song.mp3", info, body, 0));
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "song.lrc").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(LrcFileTest, UnwritableFolderFailsAndKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    WriteFileBytes(dir / "song.lrc", "old");
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(WriteLrcFile(dir / "song.mp3", info, body, 3));
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(ReadFileBytes(dir / "song.lrc"), "old");
    EXPECT_EQ(dir.Names(), (Names{"song.lrc"}));
}

TEST_F(LrcFileTest, ReadOnlyLrcIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    WriteFileBytes(dir / "song.lrc", "old");
    ASSERT_EQ(::chmod((dir / "song.lrc").c_str(), 0444), 0);
    EXPECT_FALSE(WriteLrcFile(dir / "song.mp3", info, body, 3));
    EXPECT_EQ(ReadFileBytes(dir / "song.lrc"), "old");
    EXPECT_EQ(dir.Names(), (Names{"song.lrc"}));
}

// Lowers the file size limit so that writes past it fail with EFBIG, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        applied = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    bool Applied() const { return applied; }

private:
    rlimit saved{};
    void (*oldHandler)(int) = nullptr;
    bool applied = false;
};

TEST_F(LrcFileTest, FailureMidWriteKeepsTheOldFileAndLeavesNoTemporary) {
    const std::string old = "[ar:old]\r\n" + std::string(100, 'o');
    WriteFileBytes(dir / "song.lrc", old);
    std::u16string longBody;
    for (int i = 0; i < 2000; ++i) longBody += u"[00:01.00]\uAC00\uAC00\uAC00\r\n";
    for (const int encoding : {0, 1, 3}) {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Applied());
        EXPECT_FALSE(WriteLrcFile(dir / "song.mp3", info, longBody, encoding));
        EXPECT_EQ(ReadFileBytes(dir / "song.lrc"), old);
        EXPECT_EQ(dir.Names(), (Names{"song.lrc"}));
    }
    // Without the limit the same text goes through.
    ASSERT_TRUE(WriteLrcFile(dir / "song.mp3", info, longBody, 3));
    EXPECT_GT(ReadFileBytes(dir / "song.lrc").size(), 4096u);
}
#endif

TEST(BuildSavedLyricsTextTest, RowsAsTheyStandWithoutFinalLineEnd) {
    const LyricInfo info{u"T", u"A", u"L", u""};
    RecordingView view({{u"", u"00:00.00", u"T / S"},
                        {u"", u"", u"no time"},
                        {u"", u"00:05.00", u""},
                        {u"", u"00:06.00", u"\uAC00"}});
    EXPECT_EQ(BuildSavedLyricsText(info, view),
              u"[ar:A]\r\n[ti:T]\r\n[al:L]\r\n[00:00.00]T / S\r\n[00:06.00]\uAC00");
    RecordingView empty({{u"", u"", u"x"}});
    EXPECT_EQ(BuildSavedLyricsText(info, empty), u"[ar:A]\r\n[ti:T]\r\n[al:L]");
}

TEST(LrcHeaderTest, ValuesAsGivenInArtistTitleAlbumOrder) {
    EXPECT_EQ(LrcHeader(LyricInfo{u"t]", u"", u"\uAC00", u"x"}),
              u"[ar:]\r\n[ti:t]]\r\n[al:\uAC00]\r\n");
}

}  // namespace
}  // namespace quillon
