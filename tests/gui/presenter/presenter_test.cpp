// The dialog's rules under a window that records what it is told, against a lyrics service on
// loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gui/presenter/dialogpresenter.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "support/fake_service.h"
#include "support/files.h"
#include "support/memory_settings.h"
#include "support/songs.h"
#include "support/tempdir.h"
#include "text/textconv.h"

namespace fs = std::filesystem;
using namespace quillon;
using quillon::testing::Answer;
using quillon::testing::ChecksumOf;
using quillon::testing::FakeService;
using quillon::testing::MakeMp3;
using quillon::testing::MemorySettings;
using quillon::testing::ReadFileBytes;
using quillon::testing::TempDir;
using quillon::testing::WriteFileBytes;
using namespace std::string_literals;

namespace {

// A front end on the test's thread: records what the application shows, and on which thread.
class RecordingView final : public DialogView {
public:
    ControlValues ReadControls() override { return values; }
    LyricView& LyricRows() override {
        Note("rows");
        return rows;
    }
    void ClearViews() override { rows.rows.clear(); }
    void ShowInfoFields(std::u16string_view title, std::u16string_view,
                        std::u16string_view) override {
        if (!title.empty()) Note("fields " + WideToUtf8(title));
    }
    void ShowControls(const ControlState& state) override {
        Note("controls " + WideToUtf8(state.downloadCaption) + (state.modeEnabled ? "" : " busy"));
    }
    void ShowMode(DownloadMode, const ModeLayout&) override {}
    void ShowPath(std::u16string_view) override {}
    void ShowTipAt(TipAnchor, std::u16string_view text, std::string_view cause) override {
        Note("tip " + WideToUtf8(text) + " | " + std::string(cause));
    }
    void AddLogRow(int icon, std::u16string_view time, std::u16string_view text,
                   std::string_view cause) override {
        times.push_back(WideToUtf8(time));
        Note("row " + std::to_string(icon) + " " + WideToUtf8(text) +
             (cause.empty() ? "" : " | " + std::string(cause)));
    }
    void JobEnded(int jobResult) override {
        Note("end " + std::to_string(jobResult));
        ended = true;
    }
    std::optional<std::u16string> AskOpenPath(DownloadMode, std::u16string_view) override {
        return std::nullopt;
    }
    std::optional<SaveChoice> AskSaveFile(std::u16string_view, std::u16string_view, int) override {
        return std::nullopt;
    }
    void OpenWithViewer(const fs::path&) override {}
    bool AskYesNo(std::u16string_view, bool) override { return false; }

    void Note(const std::string& what) {
        if (what != "rows") calls.push_back(what);
        onOwnThread &= std::this_thread::get_id() == owner;
    }

    ControlValues values;
    MemoryLyricView rows;
    std::vector<std::string> calls;
    std::vector<std::string> times;
    bool ended = false;
    bool onOwnThread = true;
    std::thread::id owner = std::this_thread::get_id();
};

class PresenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.Connect([this] { wakes.fetch_add(1); });
        view.values.second = view.values.third = true;
    }
    // Makes a song the service knows.
    fs::path Song(const std::string& name, int seed, const std::string& title,
                  const std::string& lyric) {
        const fs::path path = dir / name;
        WriteFileBytes(path, MakeMp3(seed));
        service.SetAnswer(ChecksumOf(path), Answer(title, lyric));
        return path;
    }
    // Runs the worker's calls on this thread until the job has ended.
    void RunUntilEnded() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!view.ended && std::chrono::steady_clock::now() < until) {
            if (wakes.load() > 0) {
                wakes.fetch_sub(1);
                app.Drain();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    TempDir scratch;
    const fs::path dir = scratch.Path();
    FakeService service;
    MemorySettings settings;
    RecordingView view;
    std::atomic<int> wakes{0};
    DialogPresenter app{settings, view,
                        JobOptions{service.Host(), EncodingUtf8, {}, {}, {}, {}, {}}};
};

TEST_F(PresenterTest, RunEventsReachTheWindowThreadInOrderAsRowsWithTheirCauses) {
    Song("one.mp3", 21, "첫 노래", "[00:01.00]a");
    WriteFileBytes(dir / "unknown.mp3", MakeMp3(22));
    view.values.mode = DownloadMode::Folder;
    view.values.path = dir;
    app.OnDownload();
    ASSERT_TRUE(app.JobRunning());
    RunUntilEnded();
    EXPECT_FALSE(app.JobRunning());
    EXPECT_TRUE(view.onOwnThread);

    std::vector<std::string> expected{"controls 가사 다운로드 종료 busy"};
    for (const fs::path& file : CollectMp3Files(dir)) {
        const std::string name = file.filename().string();
        expected.push_back("row 4 가사 정보 취득 개시 (" + name + ")");
        if (name == "one.mp3") {
            expected.push_back("row 2 제목: 첫 노래, 가수: Singer, 앨범: Album");
            expected.push_back("row 5 가사 파일 저장 완료 (one.mp3)");
        } else {
            expected.push_back(
                "row 3 서버에서 가사 정보 취득 실패 (unknown.mp3) | 가사 서비스에 이 곡의 가사가 "
                "없습니다");
        }
    }
    // The run's summary, above the download button.
    expected.push_back("tip 저장 1곡, 실패 1곡, 건너뜀 0곡 (0분 0초) | ");
    expected.push_back("controls 가사 다운로드 개시");
    expected.push_back("end 1");
    // What the start shows before the worker runs: the views emptied, the idle controls. The
    // summary's time is the run's own, whatever a slow machine makes of it.
    const auto first = std::find(view.calls.begin(), view.calls.end(), expected.front());
    ASSERT_NE(first, view.calls.end());
    for (std::string& call : view.calls)
        if (const std::size_t time = call.find(" (0분 "); call.starts_with("tip 저장 "))
            call.replace(time, call.find(')', time) - time + 1, " (0분 0초)");
    EXPECT_EQ(std::vector<std::string>(first, view.calls.end()), expected);
    for (const std::string& time : view.times) {
        ASSERT_EQ(time.size(), 12u) << time;
        EXPECT_EQ(time[2], ':');
        EXPECT_EQ(time[8], '.');
    }
    EXPECT_EQ(LogTimeText(9, 5, 3, 7), u"09:05:03.007");
    // The caption while a run goes, and the summary's minutes and seconds.
    JobProgress progress{.done = 120, .total = 1000, .saved = 100, .failed = 20, .skipped = 3};
    progress.elapsed = std::chrono::milliseconds(125'999);
    EXPECT_EQ(ProgressCaption(progress), u"Quillon - Brantwell \u2014 120/1,000");
    EXPECT_EQ(SummaryText(progress), u"저장 100곡, 실패 20곡, 건너뜀 3곡 (2분 5초)");
    progress.finished = true;
    EXPECT_EQ(ProgressCaption(progress), u"Quillon - Brantwell");
    // A stopped run says so, counts the songs it did not reach and those saved as UTF-16 LE.
    progress.stopped = true;
    progress.savedAsUtf16 = 2;
    EXPECT_EQ(ProgressCaption(progress), u"Quillon - Brantwell \u2014 중지됨 120/1,000");
    EXPECT_EQ(SummaryText(progress),
              u"중지됨: 저장 100곡, 실패 20곡, 건너뜀 3곡, UTF-16 LE로 저장 2곡, 남은 곡 880곡 "
              u"(2분 5초)");
    for (const auto& [number, text] :
         {std::pair{999, u"999"}, std::pair{1234567, u"1,234,567"}, std::pair{-1000, u"-1,000"}})
        EXPECT_EQ(GroupedCount(number), text);
}

TEST_F(PresenterTest, CloseDropsWhatTheRunHasNotYetShown) {
    const fs::path song = Song("one.mp3", 23, "T", "[00:01.00]a");
    view.values.path = song;
    app.OnDownload();
    // The run has shown its song; the window has not taken it yet.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (wakes.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(wakes.load(), 0);

    const auto closing = std::chrono::steady_clock::now();
    app.OnClose();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(500));
    EXPECT_FALSE(app.JobRunning());
    // What was queued for the window does nothing when the window comes to it.
    view.calls.clear();
    while (wakes.load() > 0) {
        wakes.fetch_sub(1);
        app.Drain();
    }
    EXPECT_TRUE(view.calls.empty()) << view.calls.front();
    EXPECT_TRUE(view.rows.rows.empty());
}

}  // namespace
