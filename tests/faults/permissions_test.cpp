// Files and folders the user may not read or write. The superuser passes every permission check,
// so when the tests run as root quillon-cli runs as the unprivileged user 65534 instead.
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fault_fixture.h"

namespace quillon::faults {
namespace {

using testing::Answer;
using testing::FakeService;

const std::vector<std::string> kLines = {"하나", "two"};
// An LRC file from an earlier run, in UTF-16 so that any rewrite would show.
const std::string kOldLrc("\xFF\xFE[\0a\0r\0:\0o\0l\0d\0]\0\r\0\n\0", 22);

class PermissionTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        if (::geteuid() == 0) {
            for (const char* path : {"/usr/bin/setpriv", "/bin/setpriv"}) {
                if (::access(path, X_OK) == 0) {
                    setpriv = path;
                    break;
                }
            }
            if (setpriv.empty()) GTEST_SKIP() << "running as root and setpriv is missing";
            // The unprivileged user must reach the folders and read the settings.
            fs::permissions(root, fs::perms::all);
            fs::permissions(root / "config", fs::perms::all);
        }
        service.SetAnswer(ChecksumOf(kSong), Answer("T", ServiceLyric(kLines)));
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(Work(), fs::perms::owner_all, ec);
        FaultTest::TearDown();
    }

    // quillon-cli as a user whom permissions bind.
    testing::ProcessResult CliAsUser(std::vector<std::string> args) const {
        args = Command(std::move(args));
        if (!setpriv.empty())
            args.insert(args.begin(),
                        {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
        return testing::RunProcess(args, root / "cli.err", Env());
    }

    // A folder the user may write into (root's own folders are closed to user 65534).
    void OpenWorkFolder() { fs::permissions(Work(), fs::perms::all); }
    // A folder the user may list but not write into.
    void CloseWorkFolder() {
        fs::permissions(Work(), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    }

    std::string setpriv;
    FakeService service;
};

TEST_F(PermissionTest, UnreadableSongIsAChecksumFailureAndTheRunGoesOn) {
    OpenWorkFolder();
    fs::copy_file(kSong, Work() / "locked.mp3");
    fs::permissions(Work() / "locked.mp3", fs::perms::none);
    fs::copy_file(kSong, Work() / "song.mp3");

    const testing::ProcessResult run = CliAsUser(FolderArgs(service.Host()));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto rows = LogRows(run.out);
    EXPECT_TRUE(Has(rows, "3 파일 채크썸 취득 실패 (locked.mp3)")) << run.out;
    EXPECT_TRUE(Has(rows, "5 가사 파일 저장 완료 (song.mp3)")) << run.out;
    EXPECT_EQ(rows.size(), 4u) << run.out;
    EXPECT_EQ(ReadFileBytes(Work() / "song.lrc"), ExpectedLrc("T", kLines));
    EXPECT_EQ(Names(Work()), (std::vector<std::string>{"locked.mp3", "song.lrc", "song.mp3"}));

    const std::string locked = (Work() / "locked.mp3").string();
    const testing::ProcessResult sum = CliAsUser({"checksum", locked});
    EXPECT_EQ(sum.exitCode, 1);
    EXPECT_EQ(sum.out, "");
    EXPECT_EQ(sum.err, "quillon-cli: " + locked + ": 파일을 열 수 없습니다: Permission denied\n");
}

// A subfolder the user may not read is one error row in its place, and the run goes on.
TEST_F(PermissionTest, UnreadableSubfolderIsOneRowAndTheRunGoesOn) {
    OpenWorkFolder();
    for (const char* folder : {"closed", "open"}) {
        fs::create_directories(Work() / folder);
        fs::permissions(Work() / folder, fs::perms::all);
    }
    fs::copy_file(kSong, Work() / "closed" / "hidden.mp3");
    fs::permissions(Work() / "closed", fs::perms::none);
    fs::copy_file(kSong, Work() / "open" / "song.mp3");

    std::vector<std::string> args = FolderArgs(service.Host());
    args.insert(args.begin() + 1, "--recursive");
    const testing::ProcessResult run = CliAsUser(args);
    fs::permissions(Work() / "closed", fs::perms::owner_all);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(
        LogRows(run.out),
        (std::vector<std::string>{
            "3 폴더를 읽을 수 없습니다 (closed)", "4 가사 정보 취득 개시 (open/song.mp3)",
            "2 제목: T, 가수: Singer, 앨범: Album", "5 가사 파일 저장 완료 (open/song.mp3)"}));
    EXPECT_EQ(ReadFileBytes(Work() / "open" / "song.lrc"), ExpectedLrc("T", kLines));
    EXPECT_FALSE(fs::exists(Work() / "closed" / "hidden.lrc"));
}

TEST_F(PermissionTest, ReadOnlyFolderKeepsTheOldLrcByteForByte) {
    fs::copy_file(kSong, Work() / "song.mp3");
    WriteFileBytes(Work() / "song.lrc", kOldLrc);
    CloseWorkFolder();

    const testing::ProcessResult run = CliAsUser(FolderArgs(service.Host()));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LogRows(run.out), (std::vector<std::string>{"4 가사 정보 취득 개시 (song.mp3)",
                                                          "2 제목: T, 가수: Singer, 앨범: Album",
                                                          "3 가사 파일 저장 실패 (song.mp3)"}));
    EXPECT_EQ(ReadFileBytes(Work() / "song.lrc"), kOldLrc);
    EXPECT_EQ(Names(Work()), (std::vector<std::string>{"song.lrc", "song.mp3"}));
}

TEST_F(PermissionTest, ReadOnlyLrcIsLeftAloneAndTheNextSongIsWritten) {
    OpenWorkFolder();
    fs::copy_file(kSong, Work() / "kept.mp3");
    WriteFileBytes(Work() / "kept.lrc", kOldLrc);
    fs::permissions(Work() / "kept.lrc",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::copy_file(kSong, Work() / "fresh.mp3");

    const testing::ProcessResult run = CliAsUser(FolderArgs(service.Host()));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto rows = LogRows(run.out);
    EXPECT_TRUE(Has(rows, "3 가사 파일 저장 실패 (kept.mp3)")) << run.out;
    EXPECT_TRUE(Has(rows, "5 가사 파일 저장 완료 (fresh.mp3)")) << run.out;
    EXPECT_EQ(rows.size(), 6u) << run.out;
    EXPECT_EQ(ReadFileBytes(Work() / "kept.lrc"), kOldLrc);
    EXPECT_EQ(ReadFileBytes(Work() / "fresh.lrc"), ExpectedLrc("T", kLines));
    EXPECT_EQ(Names(Work()),
              (std::vector<std::string>{"fresh.lrc", "fresh.mp3", "kept.lrc", "kept.mp3"}));
}

// --embed over a song the user may not write: its tag stays as it was, with the error row after
// its saved row; the other song gets its tag, and no copy is left behind.
TEST_F(PermissionTest, ReadOnlySongKeepsItsTagAndItsLrcIsWritten) {
    OpenWorkFolder();
    fs::copy_file(kSong, Work() / "kept.mp3");
    fs::permissions(Work() / "kept.mp3",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::copy_file(kSong, Work() / "tagged.mp3");
    fs::permissions(Work() / "tagged.mp3", fs::perms::all);  // whoever runs may write it
    const std::string before = ReadFileBytes(Work() / "kept.mp3");

    std::vector<std::string> args = FolderArgs(service.Host());
    args.insert(args.begin() + 1, "--embed");
    const testing::ProcessResult run = CliAsUser(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto rows = LogRows(run.out);
    const auto saved = std::find(rows.begin(), rows.end(), "5 가사 파일 저장 완료 (kept.mp3)");
    ASSERT_NE(saved, rows.end()) << run.out;
    ASSERT_NE(saved + 1, rows.end());
    EXPECT_EQ(saved[1], "3 태그에 가사 저장 실패 (kept.mp3)");
    EXPECT_FALSE(Has(rows, "3 태그에 가사 저장 실패 (tagged.mp3)")) << run.out;
    EXPECT_EQ(ReadFileBytes(Work() / "kept.mp3"), before);
    EXPECT_NE(ReadFileBytes(Work() / "tagged.mp3").rfind("ID3", 0), std::string::npos);
    EXPECT_EQ(Names(Work()),
              (std::vector<std::string>{"kept.lrc", "kept.mp3", "tagged.lrc", "tagged.mp3"}));
}

}  // namespace
}  // namespace quillon::faults
