#include "audio/checksum.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_fixtures.h"
#include "support/files.h"

namespace quillon {
namespace {

using fixtures::AudioFixture;
using fixtures::TempDir;
using testing::ReadFileBytes;

ChecksumStatus StatusNamed(const std::string& name) {
    if (name == "no-audio-frame") return ChecksumStatus::NoAudioFrame;
    ADD_FAILURE() << "unknown failure name " << name;
    return ChecksumStatus::Ok;
}

// Every committed audio file against the checksum the fixture script worked out with md5sum,
// all through one checksummer, as a job reuses it.
TEST(AudioChecksumTest, MatchesTheIndependentlyComputedChecksums) {
    const auto expected = fixtures::LoadExpectedChecksums();
    std::set<std::string> listed;
    AudioChecksummer job;
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        listed.insert(e.name);
        AudioChecksum sum;
        const ChecksumStatus status = job.Compute(AudioFixture(e.name), sum);
        EXPECT_FALSE(job.File().IsOpen()) << "the song stays held after its checksum";
        if (e.start < 0) {
            EXPECT_EQ(status, StatusNamed(e.result));
            EXPECT_EQ(sum[0], '\0');
            EXPECT_EQ(job.StreamHeader(), Mp3FrameHeader{});
            continue;
        }
        ASSERT_EQ(status, ChecksumStatus::Ok);
        EXPECT_EQ(sum.data(), e.result);
        EXPECT_EQ(sum[32], '\0');
    }
    for (const auto& entry : std::filesystem::directory_iterator(AudioFixture(""))) {
        if (entry.path().extension() != ".mp3") continue;
        EXPECT_TRUE(listed.count(entry.path().filename().string()))
            << entry.path() << " has no expected checksum";
    }
}

TEST(AudioChecksumTest, TrailingTagsBeyondTheRegionDoNotMatter) {
    TempDir dir;
    const std::string audio = ReadFileBytes(AudioFixture("mpeg1-layer3-cbr256-long.mp3"));
    ASSERT_GT(audio.size(), ChecksumRegionSize);
    std::string tagA = "TAG" + std::string(125, 'a'), tagB = "TAG" + std::string(125, 'b');
    AudioChecksummer job;
    AudioChecksum a, b;
    ASSERT_EQ(job.Compute(dir.Write("a.mp3", audio + tagA), a), ChecksumStatus::Ok);
    ASSERT_EQ(job.Compute(dir.Write("b.mp3", audio + tagB), b), ChecksumStatus::Ok);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.data(), fixtures::ExpectedChecksumOf("mpeg1-layer3-cbr256-long.mp3"));
}

TEST(AudioChecksumTest, FailureAfterASuccessLeavesNoChecksum) {
    AudioChecksummer job;
    AudioChecksum sum;
    ASSERT_EQ(job.Compute(AudioFixture("mpeg1-layer3-cbr128.mp3"), sum), ChecksumStatus::Ok);
    EXPECT_EQ(job.Compute(AudioFixture("text-renamed.mp3"), sum), ChecksumStatus::NoAudioFrame);
    EXPECT_EQ(std::count(sum.begin(), sum.end(), '\0'), static_cast<long>(sum.size()));
    EXPECT_EQ(job.StreamHeader(), Mp3FrameHeader{});
    EXPECT_EQ(job.Compute(AudioFixture("missing.mp3"), sum), ChecksumStatus::CannotOpen);
    EXPECT_EQ(sum[0], '\0');
}

TEST(AudioChecksumTest, WhatCannotBeOpenedFails) {
    TempDir dir;
    AudioChecksummer job;
    AudioChecksum sum;
    std::filesystem::create_directory(dir.Path() / "folder.mp3");
    std::vector<const char*> names{"missing.mp3", "folder.mp3"};
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe.mp3").c_str(), 0600), 0);
    names.push_back("pipe.mp3");
#endif
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(job.Compute(dir.Path() / name, sum), ChecksumStatus::CannotOpen);
        EXPECT_EQ(sum[0], '\0');
    }
}

#ifndef _WIN32
// On Windows a file cannot be made unreadable this way, nor cut short while it is held: see the
// Windows tests for a file held without sharing.
TEST(AudioChecksumTest, UnreadableFileFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
    TempDir dir;
    const auto path = dir.Write("locked.mp3", ReadFileBytes(AudioFixture("sync-at-509.mp3")));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    AudioChecksummer job;
    AudioChecksum sum;
    EXPECT_EQ(job.Compute(path, sum), ChecksumStatus::CannotOpen);
    EXPECT_EQ(job.File().LastOpenError(), EACCES);
}

// The file loses its tail between the open and the region read. Padding the missing part with
// zero bytes would give a wrong key, so it is a read error.
TEST(AudioChecksumTest, FileThatShrinksWhileReadIsAReadError) {
    TempDir dir;
    const auto path =
        dir.Write("shrinking.mp3", ReadFileBytes(AudioFixture("mpeg1-layer3-cbr256-long.mp3")));
    Mp3File file;
    Mp3FrameHeader stream;
    AudioChecksum sum;
    ASSERT_TRUE(file.Open(path));
    ASSERT_EQ(::truncate(path.c_str(), 100000), 0);
    EXPECT_EQ(ComputeAudioChecksumOfOpenFile(file, stream, sum), ChecksumStatus::ReadError);
    EXPECT_EQ(sum[0], '\0');

    // Shrunk to nothing: no frame is left to find.
    ASSERT_TRUE(file.Open(path));
    ASSERT_EQ(::truncate(path.c_str(), 0), 0);
    EXPECT_EQ(ComputeAudioChecksumOfOpenFile(file, stream, sum), ChecksumStatus::NoAudioFrame);
}
#endif

}  // namespace
}  // namespace quillon
