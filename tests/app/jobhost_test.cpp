// The worker's port into the window: calls run on the window's thread in the order they were
// made, each message with its own text, and a worker is never held once the job is stopped.
#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_fixture.h"
#include "app/jobhost.h"

namespace quillon::testing {
namespace {

using namespace std::chrono_literals;

// Records what the worker asked the window to do, and on which thread.
class RecordingWindow : public QObject, public JobWindow, public LyricView {
public:
    int RowCount() override {
        Note(u"count"_s);
        return static_cast<int>(rows.size());
    }
    int AppendRow() override {
        Note(u"append"_s);
        rows.emplace_back();
        return static_cast<int>(rows.size()) - 1;
    }
    void SetCell(int row, int, std::u16string_view text) override {
        Note(u"set "_s + QString::fromStdU16String(std::u16string(text)));
        rows.at(static_cast<std::size_t>(row)) = text;
    }
    std::u16string Cell(int row, int) override {
        Note(u"cell"_s);
        return rows.at(static_cast<std::size_t>(row));
    }

    LyricView& JobLyricView() override { return *this; }
    void ShowInfoFields(const QString& title, const QString&, const QString&) override {
        Note(u"fields "_s + title);
    }
    void HandleJobMessage(int kind, const QString& text) override {
        Note(u"message "_s + QString::number(kind) + u' ' + text);
    }
    void HandleJobEnd(std::uint64_t job, int result) override {
        Note(u"end "_s + QString::number(job) + u' ' + QString::number(result));
    }

    void Note(const QString& what) {
        calls.append(what);
        onOwnThread &= QThread::currentThread() == thread();
    }

    QStringList calls;
    std::vector<std::u16string> rows;
    bool onOwnThread = true;
};

class JobHostTest : public AppTest {};

TEST_F(JobHostTest, CallsRunOnTheWindowThreadInOrderWithTheirOwnTexts) {
    std::atomic<int> running{1};
    RecordingWindow window;
    WindowJobHost host(running);
    host.Connect(&window, &window);

    std::atomic<bool> finished{false};
    std::u16string readBack;
    int countBack = -1;
    std::thread worker([&] {
        std::u16string text = u"first";
        host.JobMessage(4, text, false);
        text = u"second";  // the first message keeps its own text
        const int row = host.Lyrics().AppendRow();
        host.Lyrics().SetCell(row, 2, u"가사");
        readBack = host.Lyrics().Cell(row, 2);
        countBack = host.Lyrics().RowCount();
        host.SetInfoFields(u"봄", u"a", u"b");
        host.JobMessage(5, text, true);
        host.PostEnd(7, 1);
        finished = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return finished.load(); }));
    worker.join();
    WaitUntil([&] { return window.calls.size() == 8; }, 2s);

    EXPECT_EQ(window.calls,
              (QStringList{u"message 4 first"_s, u"append"_s, u"set 가사"_s, u"cell"_s, u"count"_s,
                           u"fields 봄"_s, u"message 5 second"_s, u"end 7 1"_s}));
    EXPECT_TRUE(window.onOwnThread);
    EXPECT_EQ(readBack, u"가사");
    EXPECT_EQ(countBack, 1);
}

TEST_F(JobHostTest, AWorkerIsNotHeldOnceTheJobStops) {
    std::atomic<int> running{1};
    RecordingWindow window;
    WindowJobHost host(running);
    host.Connect(&window, &window);

    // The window's thread is busy (it waits for the worker, as a closing window does).
    std::atomic<bool> returned{false};
    int count = -1;
    std::thread worker([&] {
        count = host.Lyrics().RowCount();
        host.Lyrics().AppendRow();          // not even queued any more
        host.JobMessage(3, u"late", true);  // queued, but not waited for
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned.load());
    const auto stopped = std::chrono::steady_clock::now();
    running = 0;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 500ms);
    EXPECT_EQ(count, 0);

    // The call given up on does nothing when the window comes to it; the message still shows.
    QCoreApplication::processEvents();
    EXPECT_EQ(window.calls, QStringList{u"message 3 late"_s});
    EXPECT_TRUE(window.rows.empty());
}

}  // namespace
}  // namespace quillon::testing
