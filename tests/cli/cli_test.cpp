// quillon-cli as a user runs it: the real binary, its stdout, stderr and exit status.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_fixtures.h"

extern char** environ;

namespace quillon {
namespace {

using fixtures::AudioFixture;
using fixtures::TempDir;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CliRun RunCli(const std::vector<std::string>& args) {
    TempDir dir;
    const auto outPath = dir.Path() / "stdout", errPath = dir.Path() / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<std::string> argStrings{QUILLON_CLI};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    CliRun run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, QUILLON_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << QUILLON_CLI;
        return run;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = fixtures::ReadBytes(outPath);
    run.err = fixtures::ReadBytes(errPath);
    return run;
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

TEST(CliTest, UsageErrorsExitTwoWithOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"checksum"}, {"checksum", "--bogus", "a.mp3"}, {"frobnicate", "a.mp3"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
        EXPECT_EQ(run.err.rfind("quillon-cli: ", 0), 0u) << run.err;
    }
}

}  // namespace
}  // namespace quillon
