// Music files that change or are not what their names say while a folder run goes over them.
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "fault_fixture.h"
#include "pipeline/run.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "text/textconv.h"

namespace quillon::faults {
namespace {

class FileFaultTest : public FaultTest {};

using namespace std::chrono_literals;
using testing::Answer;
using testing::FakeService;

const std::vector<std::string> kLines = {"하나", "two"};

// A front end stand-in that, when the run announces its first song, deletes `victim` and lets
// the service answer that song: the file vanishes after the folder was listed and before its
// checksum is taken.
class DeletingListener final : public RunListener {
public:
    DeletingListener(fs::path file, FakeService& held) : victim(std::move(file)), service(held) {}

    void Logged(const JobEvent& event) override {
        if (messages.empty()) {
            fs::remove(victim);
            service.Release();
        }
        messages.push_back(std::to_string(static_cast<int>(ToneOf(event.kind))) + " " +
                           WideToUtf8(event.text));
    }
    void SongShown(const ShownSong&) override {}

    std::vector<std::string> messages;

private:
    fs::path victim;
    FakeService& service;
};

TEST_F(FileFaultTest, FileThatVanishesAfterTheListingIsAChecksumFailureAndTheRunGoesOn) {
    FakeService service;
    PlaceSongs(Work(), {"a.mp3", "b.mp3", "c.mp3"});
    service.SetAnswer(ChecksumOf(kSong), Answer("T", ServiceLyric(kLines)));
    const std::vector<fs::path> files = CollectMp3Files(Work());
    ASSERT_EQ(files.size(), 3u);
    const std::string first = files[0].filename(), gone = files[1].filename(),
                      last = files[2].filename();

    // One song in hand, held at the service until the victim is gone.
    service.StallRequest(1);
    DeletingListener host(files[1], service);
    RunSpec spec;
    spec.mode = DownloadMode::Folder;
    spec.path = Work();
    spec.plan.writeFile = true;
    spec.plan.encoding = EncodingUtf8;
    const std::atomic<int> running{1};
    const std::string at = service.Host();
    EXPECT_EQ(
        RunJob(spec, host, running, [&at] { return std::make_unique<ChecksumSource>(at); }).result,
        1);

    // By tone: 0 info, 1 error, 2 start, 3 saved.
    const std::string info = "0 제목: T, 가수: Singer, 앨범: Album";
    EXPECT_EQ(
        host.messages,
        (std::vector<std::string>{
            "2 가사 정보 취득 개시 (" + first + ")", info, "3 가사 파일 저장 완료 (" + first + ")",
            "1 파일 채크썸 취득 실패 (" + gone + ")", "2 가사 정보 취득 개시 (" + last + ")", info,
            "3 가사 파일 저장 완료 (" + last + ")"}));
    EXPECT_EQ(service.Requests(), 2);
    EXPECT_EQ(ReadFileBytes(fs::path(files[0]).replace_extension(".lrc")),
              ExpectedLrc("T", kLines));
    EXPECT_EQ(ReadFileBytes(fs::path(files[2]).replace_extension(".lrc")),
              ExpectedLrc("T", kLines));
    EXPECT_FALSE(fs::exists(fs::path(files[1]).replace_extension(".lrc")));
}

// Entries whose names hold ".mp3" but that are no music files: a FIFO nobody writes to, a
// folder, a link to a folder and a link to nothing. None may hold the run up.
TEST_F(FileFaultTest, FifoFolderAndLinksNamedMp3NeitherHangNorStopTheRun) {
    FakeService service;
    fs::copy_file(kSong, Work() / "z.mp3");
    service.SetAnswer(ChecksumOf(kSong), Answer("T", ServiceLyric(kLines)));
    ASSERT_EQ(::mkfifo((Work() / "x.mp3").c_str(), 0644), 0);
    fs::create_directory(Work() / "y.mp3");
    fs::create_directory_symlink(Work() / "y.mp3", Work() / "u.mp3");
    fs::create_symlink(Work() / "missing", Work() / "v.mp3");

    testing::Process cli(Command(FolderArgs(service.Host())), root / "cli.err", Env());
    const auto started = std::chrono::steady_clock::now();
    const std::string out = cli.ReadRest(10s);
    const auto code = cli.Wait(1s);
    ASSERT_TRUE(code) << "still running after " << out;
    EXPECT_EQ(*code, 0) << cli.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

    const auto rows = LogRows(out);
    EXPECT_TRUE(Has(rows, "3 파일 채크썸 취득 실패 (x.mp3)")) << out;
    EXPECT_TRUE(Has(rows, "3 파일 채크썸 취득 실패 (v.mp3)")) << out;
    EXPECT_TRUE(Has(rows, "5 가사 파일 저장 완료 (z.mp3)")) << out;
    EXPECT_EQ(rows.size(), 5u) << out;  // the folder and the link to it are passed over
    EXPECT_EQ(out.find("y.mp3"), std::string::npos);
    EXPECT_EQ(out.find("u.mp3"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(Work() / "z.lrc"), ExpectedLrc("T", kLines));
    EXPECT_EQ(Names(Work()),
              (std::vector<std::string>{"u.mp3", "v.mp3", "x.mp3", "y.mp3", "z.lrc", "z.mp3"}));
}

// Names are bytes: one that is not UTF-8, in a folder whose name is not UTF-8 either, gets its
// LRC file under the same bytes.
TEST_F(FileFaultTest, NamesThatAreNotUtf8GetTheirLrcUnderTheSameBytes) {
    FakeService service;
    service.SetAnswer(ChecksumOf(kSong), Answer("T", ServiceLyric(kLines)));
    const fs::path folder = Work() / "앨범 \xC3";  // a lead byte whose sequence is cut off
    fs::create_directory(folder);
    const std::vector<std::string> stems = {"\xFF\xFE", "caf\xE9", "\xED\xA0\x80", "a\xC3.b"};
    PlaceSongs(folder,
               {stems[0] + ".mp3", stems[1] + ".mp3", stems[2] + ".mp3", stems[3] + ".mp3"});

    const testing::ProcessResult run =
        Cli({"folder", "--host", service.Host(), "--encoding", "utf8", folder.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto rows = LogRows(run.out);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const std::string& row) { return row.starts_with("5 "); }),
              4)
        << run.out;
    for (const auto& stem : stems) {
        SCOPED_TRACE(stem);
        EXPECT_EQ(ReadFileBytes(folder / (stem + ".lrc")), ExpectedLrc("T", kLines));
    }
    EXPECT_EQ(Names(folder).size(), 8u);
}

}  // namespace
}  // namespace quillon::faults
