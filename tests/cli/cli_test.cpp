// quillon-cli as a user runs it: the real binary, its stdout, stderr and exit status.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_fixtures.h"
#include "common/systemerror.h"
#include "support/files.h"
#include "support/process.h"

namespace quillon {
namespace {

using fixtures::AudioFixture;
using fixtures::TempDir;

using CliRun = testing::ProcessResult;
using testing::PathUtf8;

CliRun RunCli(const std::vector<std::string>& args) {
    TempDir dir;
    std::vector<std::string> argv{QUILLON_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::RunProcess(argv, dir.Path() / "stderr");
}

std::string Line(const std::string& file) {
    return fixtures::ExpectedChecksumOf(file) + "  " + PathUtf8(AudioFixture(file)) + "\n";
}

TEST(CliChecksumTest, PrintsOneLinePerFileInArgumentOrder) {
    const CliRun run = RunCli({"checksum", PathUtf8(AudioFixture("sync-at-509.mp3")),
                               PathUtf8(AudioFixture("mpeg1-layer3-cbr128.mp3")),
                               PathUtf8(AudioFixture("mpeg25-layer3-8khz.mp3"))});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Line("sync-at-509.mp3") + Line("mpeg1-layer3-cbr128.mp3") +
                           Line("mpeg25-layer3-8khz.mp3"));
    EXPECT_EQ(run.err, "");
}

TEST(CliChecksumTest, NamesEachFailedFileAndItsCauseOnStderr) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder.mp3");
    const auto missing = dir.Path() / "missing.mp3", folder = dir.Path() / "folder.mp3";
    const auto text = AudioFixture("text-renamed.mp3");
    const CliRun run =
        RunCli({"checksum", PathUtf8(missing), PathUtf8(AudioFixture("mpeg1-layer2.mp3")),
                PathUtf8(text), PathUtf8(folder)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Line("mpeg1-layer2.mp3"));
    // The system's own words for a missing file (error 2 on either system).
    EXPECT_EQ(run.err, "quillon-cli: " + PathUtf8(missing) +
                           ": 파일을 열 수 없습니다: " + SystemErrorText(2) +
                           "\n"
                           "quillon-cli: " +
                           PathUtf8(text) +
                           ": MPEG 오디오 프레임을 찾지 못했습니다\nquillon-cli: " +
                           PathUtf8(folder) + ": 파일을 열 수 없습니다: 일반 파일이 아닙니다\n");
}

TEST(CliChecksumTest, FileNamesWithSpacesAndKoreanLetters) {
    TempDir dir;
    const auto song = dir.Path() / u8"노래 제목 01.mp3";
    std::filesystem::copy_file(AudioFixture("mpeg2-layer3-22khz.mp3"), song);
    const CliRun run = RunCli({"checksum", PathUtf8(song)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, fixtures::ExpectedChecksumOf("mpeg2-layer3-22khz.mp3") + "  " +
                           PathUtf8(song) + "\n");
}

TEST(CliTest, HelpExitsZero) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"checksum", "--help"}}) {
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 0) << args.back();
        EXPECT_NE(run.out.find("checksum FILE..."), std::string::npos);
        EXPECT_EQ(run.err, "");
    }
}

TEST(VersionTest, EveryProgramPrintsItsNameAndTheProjectVersion) {
    std::vector<std::pair<std::string, std::string>> programs{{QUILLON_CLI, "quillon-cli"}};
#ifdef QUILLON_LYRICSD
    programs.emplace_back(QUILLON_LYRICSD, "quillon-lyricsd");
#endif
#ifdef QUILLON_APP
    programs.emplace_back(QUILLON_APP, "quillon");  // needs no display for it
#endif
    for (const auto& [binary, name] : programs) {
        TempDir dir;
        const CliRun run = testing::RunProcess({binary, "--version"}, dir.Path() / "stderr");
        EXPECT_EQ(run.exitCode, 0) << name;
        EXPECT_EQ(run.out, name + " " QUILLON_PROJECT_VERSION "\n");
        EXPECT_EQ(run.err, "") << name;
    }
}

TEST(CliTest, UsageErrorsExitTwoWithOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"checksum"}, {"checksum", "--bogus", "a.mp3"}, {"frobnicate", "a.mp3"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
        EXPECT_EQ(run.err.rfind("quillon-cli: ", 0), 0u) << run.err;
    }
}

}  // namespace
}  // namespace quillon
