#include "audio/mp3file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_fixtures.h"

namespace quillon {
namespace {

using fixtures::TempDir;

const std::string kMpeg1Layer3("\xFF\xFB\x90\x64", 4);

std::string Zeros(std::size_t n) {
    return std::string(n, '\0');
}

TEST(Mp3FileTest, FileShorterThanFourBytesHasNoCandidate) {
    Mp3File file;
    ASSERT_TRUE(file.Open(fixtures::AudioFixture("three-bytes.mp3")));
    EXPECT_EQ(file.FindSync(), NoPosition);
}

TEST(Mp3FileTest, CandidateAtOffsetZeroIsFoundAndReadable) {
    TempDir dir;
    Mp3File file;
    ASSERT_TRUE(file.Open(dir.Write("a.mp3", kMpeg1Layer3 + Zeros(600))));
    EXPECT_EQ(file.FindSync(), 0);
    char bytes[4];
    std::size_t got = 0;
    ASSERT_TRUE(file.Read(bytes, 4, &got));
    EXPECT_EQ(std::string(bytes, got), kMpeg1Layer3);
}

TEST(Mp3FileTest, SearchStartsAtTheCurrentPositionWithoutSkippingIt) {
    TempDir dir;
    Mp3File file;
    ASSERT_TRUE(file.Open(dir.Write("a.mp3", Zeros(10) + kMpeg1Layer3 + Zeros(10) + kMpeg1Layer3)));
    ASSERT_EQ(file.Seek(10, Mp3File::Origin::Begin), 10);
    EXPECT_EQ(file.FindSync(), 10);
    EXPECT_EQ(file.FindSync(), 10);  // positioned at the candidate, so found again
    ASSERT_EQ(file.Seek(1, Mp3File::Origin::Current), 11);
    EXPECT_EQ(file.FindSync(), 24);
    EXPECT_EQ(file.FindSync(), 24);
    ASSERT_EQ(file.Seek(25, Mp3File::Origin::Begin), 25);
    EXPECT_EQ(file.FindSync(), NoPosition);
}

// The window holds 512 bytes, then 3 carried bytes and 509 new ones: candidates around both
// window edges, and well past them, are found at their true offsets.
TEST(Mp3FileTest, CandidateIsFoundAtItsOffsetWhereverWindowsSplitIt) {
    TempDir dir;
    for (const std::int64_t at : {1, 508, 509, 510, 511, 512, 1017, 1018, 1019, 1020, 5000}) {
        SCOPED_TRACE(at);
        Mp3File file;
        const auto offset = static_cast<std::size_t>(at);
        ASSERT_TRUE(file.Open(dir.Write("a.mp3", Zeros(offset) + kMpeg1Layer3 + Zeros(3))));
        EXPECT_EQ(file.FindSync(), at);
        EXPECT_EQ(file.Seek(0, Mp3File::Origin::Current), at);
        ASSERT_EQ(file.Seek(0, Mp3File::Origin::Begin), 0);
        EXPECT_EQ(file.FindMatchingSync(1, 3), at);
    }
    // The committed straddling files, whose first frame begins at 509, 510 and 511.
    for (const std::int64_t at : {509, 510, 511}) {
        Mp3File file;
        ASSERT_TRUE(file.Open(fixtures::AudioFixture("sync-at-" + std::to_string(at) + ".mp3")));
        EXPECT_EQ(file.FindSync(), at);
    }
}

TEST(Mp3FileTest, RecognisesCandidatesWithTheirVersionAndLayer) {
    struct Case {
        std::string bytes;
        int version;  // 0: not a candidate
        int layer;
    };
    const Case cases[] = {
        {std::string("\xFF\xFF\xFF\xFF", 4), 0, 0},  // bitrate index 15
        {std::string("\xFF\xE0\x90\x00", 4), 0, 0},  // layer bits zero
        {std::string("\xFF\xFB\x9C\x00", 4), 0, 0},  // sample-rate index 3
        {std::string("\xFF\x7B\x90\x00", 4), 0, 0},  // only ten sync bits
        {std::string("\xFF\xFB\x90\x64", 4), 1, 3},
        {std::string("\xFF\xFB\x00\x00", 4), 1, 3},  // free format passes the candidate test
        {std::string("\xFF\xF3\x90\x00", 4), 2, 3},
        {std::string("\xFF\xE2\x90\x00", 4), 3, 3},
        {std::string("\xFF\xEA\x90\x00", 4), 3, 3},  // version bits 0b01 count as MPEG-2.5
        {std::string("\xFF\xFD\x90\x00", 4), 1, 2},
        {std::string("\xFF\xFF\x10\x00", 4), 1, 1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        Mp3File file;
        // At the very end of the file, so no later position forms a candidate.
        ASSERT_TRUE(file.Open(dir.Write("a.mp3", Zeros(20) + c.bytes)));
        if (c.version == 0) {
            EXPECT_EQ(file.FindSync(), NoPosition);
            continue;
        }
        EXPECT_EQ(file.FindSync(), 20);
        ASSERT_EQ(file.Seek(0, Mp3File::Origin::Begin), 0);
        EXPECT_EQ(file.FindMatchingSync(c.version, c.layer), 20);
        ASSERT_EQ(file.Seek(0, Mp3File::Origin::Begin), 0);
        EXPECT_EQ(file.FindMatchingSync(c.version % 3 + 1, c.layer), NoPosition);
        ASSERT_EQ(file.Seek(0, Mp3File::Origin::Begin), 0);
        EXPECT_EQ(file.FindMatchingSync(c.version, c.layer % 3 + 1), NoPosition);
    }
}

TEST(Mp3FileTest, MatchingSyncSkipsCandidatesOfAnotherVersion) {
    TempDir dir;
    Mp3File file;
    const std::string mpeg2(std::string("\xFF\xF3\x90\x00", 4));
    ASSERT_TRUE(file.Open(dir.Write("a.mp3", Zeros(10) + mpeg2 + Zeros(700) + kMpeg1Layer3)));
    EXPECT_EQ(file.FindMatchingSync(1, 3), 714);
    ASSERT_EQ(file.Seek(0, Mp3File::Origin::Begin), 0);
    EXPECT_EQ(file.FindSync(), 10);
}

TEST(Mp3FileTest, SeekAndReadWithoutAFileFail) {
    TempDir dir;
    Mp3File file;
    auto expectNoFile = [&file] {
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(file.Seek(0, Mp3File::Origin::Begin), NoPosition);
        EXPECT_EQ(file.Seek(4, Mp3File::Origin::Current), NoPosition);
        char buffer[4];
        std::size_t got = 77;
        EXPECT_FALSE(file.Read(buffer, sizeof buffer, &got));
        EXPECT_EQ(got, 77u);  // untouched
    };
    expectNoFile();
    ASSERT_TRUE(file.Open(dir.Write("a.mp3", kMpeg1Layer3)));
    file.Close();
    expectNoFile();
    ASSERT_TRUE(file.Open(dir.Write("a.mp3", kMpeg1Layer3)));
    EXPECT_FALSE(file.Open(dir.Path() / "missing.mp3"));  // a failed open releases the old file
    EXPECT_EQ(file.LastOpenError(), ENOENT);
    expectNoFile();
}

TEST(Mp3FileTest, SeekPastTheEndIsAllowedAndReadsNothing) {
    TempDir dir;
    Mp3File file;
    ASSERT_TRUE(file.Open(dir.Write("a.mp3", kMpeg1Layer3)));
    EXPECT_EQ(file.Seek(0x1'0000'0000, Mp3File::Origin::Begin), 0x1'0000'0000);
    char buffer[4];
    std::size_t got = 77;
    EXPECT_TRUE(file.Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(file.FindSync(), NoPosition);
}

// Whether this process holds `path` open: on Linux its descriptors in /proc; on Windows a held
// file cannot be renamed, for it is shared for reading only.
bool HeldOpen(const std::filesystem::path& path) {
#ifdef _WIN32
    std::filesystem::path moved = path;
    moved += ".moved";
    std::error_code ec;
    std::filesystem::rename(path, moved, ec);
    if (ec) return true;
    std::filesystem::rename(moved, path, ec);
    return false;
#else
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec))
        if (std::filesystem::read_symlink(entry.path(), ec) == path) return true;
    return false;
#endif
}

TEST(Mp3FileTest, OpeningASecondFileReleasesTheFirst) {
    TempDir dir;
    const auto first = dir.Write("first.mp3", kMpeg1Layer3);
    const auto second = dir.Write("second.mp3", Zeros(8) + kMpeg1Layer3);
    Mp3File file;
    ASSERT_TRUE(file.Open(first));
    ASSERT_TRUE(file.Open(second));
    EXPECT_FALSE(HeldOpen(first));
    EXPECT_TRUE(HeldOpen(second));
    EXPECT_EQ(file.FindSync(), 8);
}

TEST(Mp3FileTest, RefusesWhatIsNotAnExistingRegularFile) {
    TempDir dir;
    Mp3File file;
    EXPECT_FALSE(file.Open(dir.Path() / "missing.mp3"));
    EXPECT_EQ(file.LastOpenError(), ENOENT);

    std::filesystem::create_directory(dir.Path() / "folder.mp3");
    EXPECT_FALSE(file.Open(dir.Path() / "folder.mp3"));
    EXPECT_EQ(file.LastOpenError(), Mp3File::NotRegularFile);

#ifdef _WIN32
    EXPECT_FALSE(file.Open("NUL"));
#else
    EXPECT_FALSE(file.Open("/dev/zero"));
#endif
    EXPECT_EQ(file.LastOpenError(), Mp3File::NotRegularFile);
    EXPECT_FALSE(file.IsOpen());
}

#ifndef _WIN32
TEST(Mp3FileTest, RefusesAFifoWithoutWaitingForAWriter) {
    TempDir dir;
    const auto fifo = dir.Path() / "pipe.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Mp3File file;
    auto opened = std::async(std::launch::async, [&] { return file.Open(fifo); });
    if (opened.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        // Give the blocked open a writer so the test can end, then report the hang.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        opened.wait();
        if (writer >= 0) ::close(writer);
        FAIL() << "Open blocked on a FIFO";
    }
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(file.LastOpenError(), Mp3File::NotRegularFile);
    EXPECT_FALSE(file.IsOpen());
}
#endif

}  // namespace
}  // namespace quillon
