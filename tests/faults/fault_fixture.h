#pragma once

// What the fault tests share: a temporary folder of their own, quillon-cli run as a user runs
// it, its folder log without the times, and the LRC file a lyric answer must give.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "audio/checksum.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/process.h"
#include "support/tempdir.h"

namespace quillon::faults {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

inline const fs::path kAudio = fs::path(QUILLON_TEST_DATA_DIR) / "audio";
// The song most tests use, and a second song with another checksum.
inline const fs::path kSong = kAudio / "mpeg1-layer3-cbr128.mp3";
inline const fs::path kOtherSong = kAudio / "mpeg2-layer3-22khz.mp3";

inline std::string ChecksumOf(const fs::path& path) {
    AudioChecksummer checksummer;
    AudioChecksum sum;
    EXPECT_EQ(checksummer.Compute(path, sum), ChecksumStatus::Ok) << path;
    return std::string(sum.data(), 32);
}

// Puts the song into `folder` under each of `names`: one copy, and hard links to it for the rest
// (the test data itself may be on another file system or belong to another user).
inline void PlaceSongs(const fs::path& folder, const std::vector<std::string>& names,
                       const fs::path& song = kSong) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i == 0)
            fs::copy_file(song, folder / names[0]);
        else
            fs::create_hard_link(folder / names[0], folder / names[i]);
    }
}

// The names in a folder, sorted.
inline std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// The hidden temporary files an LRC write leaves while it runs.
inline int TemporaryFiles(const fs::path& folder) {
    int count = 0;
    for (const auto& name : Names(folder)) count += name.starts_with(".quillon-") ? 1 : 0;
    return count;
}

// "[MM:SS.00]" for the n-th second.
inline std::string TimeTag(std::size_t second) {
    char tag[48];
    std::snprintf(tag, sizeof tag, "[%02zu:%02zu.00]", second / 60, second % 60);
    return tag;
}

// A lyric as the service sends it: timed lines joined by the escaped break. Each line has a time
// of its own (from 00:01), so each becomes one LRC line.
inline std::string ServiceLyric(const std::vector<std::string>& lines) {
    std::string lyric;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) lyric += "&lt;br&gt;";
        lyric += TimeTag(i + 1) + lines[i];
    }
    return lyric;
}

// The UTF-8 LRC file a folder run writes for FakeService's answer ("Singer", "Album").
inline std::string ExpectedLrc(const std::string& title, const std::vector<std::string>& lines) {
    std::string lrc = "\xEF\xBB\xBF[ar:Singer]\r\n[ti:" + title + "]\r\n[al:Album]\r\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lrc += TimeTag(i + 1) + lines[i] + "\r\n";
    }
    return lrc;
}

// "HH:MM:SS.mmm<TAB>KIND<TAB>TEXT" lines as "KIND TEXT".
inline std::vector<std::string> LogRows(const std::string& out) {
    std::vector<std::string> rows;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        rows.push_back(line.size() > 15 && line[12] == '\t' && line[14] == '\t'
                           ? line.substr(13, 1) + " " + line.substr(15)
                           : "malformed: " + line);
        start = end + 1;
    }
    return rows;
}

inline bool Has(const std::vector<std::string>& rows, const std::string& row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root / "work");
        fs::create_directories(root / "config");
    }

    fs::path Work() const { return root / "work"; }

    // Settings in a folder of the test's own, no proxy for loopback, messages in English.
    std::vector<std::string> Env() const {
        return {"XDG_CONFIG_HOME=" + (root / "config").string(),
                "QUILLON_SERVICE_HOST=", "no_proxy=*", "LC_ALL=C"};
    }

    std::vector<std::string> Command(std::vector<std::string> args) const {
        args.insert(args.begin(), QUILLON_CLI);
        return args;
    }

    testing::ProcessResult Cli(std::vector<std::string> args) const {
        return testing::RunProcess(Command(std::move(args)), root / "cli.err", Env());
    }

    // `folder` over the work folder against `host`, writing UTF-8 LRC files.
    std::vector<std::string> FolderArgs(const std::string& host) const {
        return {"folder", "--host", host, "--encoding", "utf8", Work().string()};
    }

    testing::TempDir scratch;
    const fs::path root = scratch.Path();
};

}  // namespace quillon::faults
