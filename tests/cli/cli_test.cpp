// quillon-cli as a user runs it: the real binary, its stdout, stderr and exit status.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_fixtures.h"
#include "support/process.h"

namespace quillon {
namespace {

using fixtures::AudioFixture;
using fixtures::TempDir;

using CliRun = testing::ProcessResult;

CliRun RunCli(const std::vector<std::string>& args) {
    TempDir dir;
    std::vector<std::string> argv{QUILLON_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::RunProcess(argv, dir.Path() / "stderr");
}

std::string Line(const std::string& file) {
    return fixtures::ExpectedChecksumOf(file) + "  " + AudioFixture(file).string() + "\n";
}

TEST(CliChecksumTest, PrintsOneLinePerFileInArgumentOrder) {
    const CliRun run =
        RunCli({"checksum", AudioFixture("sync-at-509.mp3"),
                AudioFixture("mpeg1-layer3-cbr128.mp3"), AudioFixture("mpeg25-layer3-8khz.mp3")});
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
        RunCli({"checksum", missing, AudioFixture("mpeg1-layer2.mp3"), text, folder});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Line("mpeg1-layer2.mp3"));
    EXPECT_EQ(run.err, "quillon-cli: " + missing.string() +
                           ": cannot be opened: No such file or directory\n"
                           "quillon-cli: " +
                           text.string() + ": no MPEG audio frame\nquillon-cli: " +
                           folder.string() + ": cannot be opened: not a regular file\n");
}

TEST(CliChecksumTest, FileNamesWithSpacesAndKoreanLetters) {
    TempDir dir;
    const auto song = dir.Path() / "노래 제목 01.mp3";
    std::filesystem::copy_file(AudioFixture("mpeg2-layer3-22khz.mp3"), song);
    const CliRun run = RunCli({"checksum", song});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              fixtures::ExpectedChecksumOf("mpeg2-layer3-22khz.mp3") + "  " + song.string() + "\n");
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
    std::vector<std::pair<std::string, std::string>> programs{{QUILLON_CLI, "quillon-cli"},
                                                              {QUILLON_LYRICSD, "quillon-lyricsd"}};
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
