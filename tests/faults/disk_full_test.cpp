// A disk that fills up while an LRC file is written: a small tmpfs, filled almost to the brim.
// Mounting needs the superuser (or a sandbox that allows it); elsewhere the test is skipped and
// the failure mid-write is still covered through the file size limit in the LRC file tests.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fault_fixture.h"

namespace quillon::faults {
namespace {

using testing::Answer;
using testing::FakeService;

class DiskFullTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        disk = root / "disk";
        fs::create_directory(disk);
    }
    void TearDown() override {
        if (mounted && ::umount2(disk.c_str(), 0) != 0) ::umount2(disk.c_str(), MNT_DETACH);
        FaultTest::TearDown();
    }

    // Mounts a tmpfs with `options` on the disk folder; false (and why) where that is not allowed.
    bool Mount(const char* options) {
        mounted =
            ::mount("quillon-faults", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
        if (!mounted) whyNot = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        return mounted;
    }

    // Writes a filler file until the disk is full, then gives `spare` bytes back.
    void FillLeaving(off_t spare) {
        const fs::path filler = disk / "filler";
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        off_t size = 0;
        for (;;) {
            const ssize_t n = ::write(fd, block.data(), block.size());
            if (n <= 0) break;
            size += n;
        }
        const int error = errno;
        ASSERT_EQ(error, ENOSPC);
        ASSERT_GT(size, spare);
        ASSERT_EQ(::ftruncate(fd, size - spare), 0);
        ::close(fd);
    }

    std::uint64_t FreeBytes() const {
        struct statvfs st {};
        EXPECT_EQ(::statvfs(disk.c_str(), &st), 0);
        return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    }

    fs::path disk;
    bool mounted = false;
    std::string whyNot;
};

TEST_F(DiskFullTest, FullDiskKeepsEveryOldLrcLeavesNoTemporaryAndTheRunGoesOn) {
    if (!Mount("size=256k,mode=0755")) GTEST_SKIP() << whyNot;
    // Two songs whose lyric is far larger than the space left, each with an LRC file from an
    // earlier run, and a song with a short lyric that still fits.
    std::vector<std::string> bigLines;
    for (int i = 0; i < 4000; ++i)
        bigLines.push_back("가나다라마바사아자차카타파하 " + std::to_string(i));
    const std::vector<std::string> smallLines = {"짧은 가사"};
    FakeService service;
    const fs::path third = kAudio / "mpeg1-layer2.mp3";
    service.SetAnswer(ChecksumOf(kSong), Answer("Big", ServiceLyric(bigLines)));
    service.SetAnswer(ChecksumOf(kOtherSong), Answer("Big", ServiceLyric(bigLines)));
    service.SetAnswer(ChecksumOf(third), Answer("Small", ServiceLyric(smallLines)));
    fs::copy_file(kSong, disk / "one.mp3");
    fs::copy_file(kOtherSong, disk / "two.mp3");
    fs::copy_file(third, disk / "three.mp3");
    const std::string oldOne = "[ar:old]\r\n[00:01.00]one\r\n";
    const std::string oldTwo = ExpectedLrc("Old", {"two", "lines"});
    WriteFileBytes(disk / "one.lrc", oldOne);
    WriteFileBytes(disk / "two.lrc", oldTwo);
    FillLeaving(32 * 1024);
    const std::uint64_t freeBefore = FreeBytes();
    ASSERT_LT(freeBefore, ExpectedLrc("Big", bigLines).size());

    const testing::ProcessResult run =
        Cli({"folder", "--host", service.Host(), "--encoding", "utf8", disk.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto rows = LogRows(run.out);
    EXPECT_TRUE(Has(rows, "3 가사 파일 저장 실패 (one.mp3)")) << run.out;
    EXPECT_TRUE(Has(rows, "3 가사 파일 저장 실패 (two.mp3)")) << run.out;
    EXPECT_TRUE(Has(rows, "5 가사 파일 저장 완료 (three.mp3)")) << run.out;
    EXPECT_EQ(rows.size(), 9u) << run.out;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        if (rows[i + 1].starts_with("3 가사 파일 저장 실패")) {
            EXPECT_EQ(rows[i], "2 제목: Big, 가수: Singer, 앨범: Album");  // the title row first
        }
    }

    EXPECT_EQ(ReadFileBytes(disk / "one.lrc"), oldOne);
    EXPECT_EQ(ReadFileBytes(disk / "two.lrc"), oldTwo);
    EXPECT_EQ(ReadFileBytes(disk / "three.lrc"), ExpectedLrc("Small", smallLines));
    EXPECT_EQ(Names(disk), (std::vector<std::string>{"filler", "one.lrc", "one.mp3", "three.lrc",
                                                     "three.mp3", "two.lrc", "two.mp3"}));
    // Nothing half-written holds on to space either: only the new small file took any.
    EXPECT_GE(FreeBytes() + 4096, freeBefore);
}

// A disk with room for the LRC file but not for a copy of the song: the tag is written into a
// copy, so the song itself is never touched.
TEST_F(DiskFullTest, FullDiskDuringTheTagKeepsTheSongByteForByte) {
    if (!Mount("size=256k,mode=0755")) GTEST_SKIP() << whyNot;
    FakeService service;
    const std::vector<std::string> lines = {"새 가사"};
    service.SetAnswer(ChecksumOf(kSong), Answer("New", ServiceLyric(lines)));
    fs::copy_file(kSong, disk / "song.mp3");
    FillLeaving(16 * 1024);
    ASSERT_LT(FreeBytes(), fs::file_size(kSong));

    const testing::ProcessResult run =
        Cli({"folder", "--host", service.Host(), "--encoding", "utf8", "--embed", disk.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LogRows(run.out),
              (std::vector<std::string>{
                  "4 가사 정보 취득 개시 (song.mp3)", "2 제목: New, 가수: Singer, 앨범: Album",
                  "5 가사 파일 저장 완료 (song.mp3)", "3 태그에 가사 저장 실패 (song.mp3)"}));
    EXPECT_EQ(ReadFileBytes(disk / "song.mp3"), ReadFileBytes(kSong));
    EXPECT_EQ(ReadFileBytes(disk / "song.lrc"), ExpectedLrc("New", lines));
    EXPECT_EQ(TemporaryFiles(disk), 0);
}

// The other way a disk fills up: no file can be made because no inode is left, so not even the
// temporary file comes into being.
TEST_F(DiskFullTest, NoFreeInodeKeepsTheOldLrc) {
    if (!Mount("size=1m,nr_inodes=16,mode=0755")) GTEST_SKIP() << whyNot;
    FakeService service;
    const std::vector<std::string> lines = {"새 가사"};
    service.SetAnswer(ChecksumOf(kSong), Answer("New", ServiceLyric(lines)));
    fs::copy_file(kSong, disk / "song.mp3");
    const std::string old = ExpectedLrc("Old", {"옛 가사"});
    WriteFileBytes(disk / "song.lrc", old);
    int fillers = 0;
    for (;;) {
        const fs::path filler = disk / ("inode-" + std::to_string(fillers));
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            ASSERT_EQ(errno, ENOSPC);
            break;
        }
        ::close(fd);
        ASSERT_LT(++fillers, 100);
    }

    const testing::ProcessResult run =
        Cli({"folder", "--host", service.Host(), "--encoding", "utf8", disk.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LogRows(run.out), (std::vector<std::string>{"4 가사 정보 취득 개시 (song.mp3)",
                                                          "2 제목: New, 가수: Singer, 앨범: Album",
                                                          "3 가사 파일 저장 실패 (song.mp3)"}));
    EXPECT_EQ(ReadFileBytes(disk / "song.lrc"), old);
    EXPECT_EQ(TemporaryFiles(disk), 0);
    EXPECT_EQ(Names(disk).size(), static_cast<std::size_t>(fillers) + 2);
}

}  // namespace
}  // namespace quillon::faults
