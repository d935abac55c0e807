#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "pipeline/job.h"

namespace quillon {

// What the window does for a running job; called on the window's thread only.
class JobWindow {
public:
    virtual ~JobWindow() = default;
    virtual LyricView& JobLyricView() = 0;
    virtual void ShowInfoFields(const QString& title, const QString& artist,
                                const QString& album) = 0;
    virtual void HandleJobMessage(int kind, const QString& text) = 0;
    virtual void HandleJobEnd(std::uint64_t job, int result) = 0;
};

// The calls a job host has queued for the window, and the window they go to. Shared by the
// host and its pump, so either may go first.
struct JobCallChannel {
    std::mutex mutex;
    std::deque<std::function<void(JobWindow&)>> queue;
    JobWindow* window = nullptr;
};

// Runs a job host's queued calls on the window's thread, the oldest one per wake-up. The
// wake-up carries no data: the calls cross threads in the channel, under its lock.
class JobCallPump : public QObject {
    Q_OBJECT

public:
    JobCallPump(std::shared_ptr<JobCallChannel> calls, QObject* parent)
        : QObject(parent), channel(std::move(calls)) {}
    Q_INVOKABLE void Drain();

private:
    std::shared_ptr<JobCallChannel> channel;
};

// The job's port into the window, used on the worker thread. Every call is carried over to the
// window's thread as a queued call; the lyric view and field calls wait for it, but only while
// the job runs: once `isRunning` drops to 0 a waiting call gives up within one wait slice and
// returns a neutral value, and later ones are not made at all, so a window that waits for the
// worker can never deadlock with it. A call given up on does nothing when it comes to run.
class WindowJobHost final : public JobHost, private LyricView {
public:
    static constexpr std::chrono::milliseconds WaitSlice{10};

    explicit WindowJobHost(const std::atomic<int>& isRunning) : running(isRunning) {}

    // `context` is the QObject whose thread runs the calls, normally the window itself. After
    // Disconnect no call reaches the window any more, and calls already queued are dropped with
    // `context` when it is destroyed.
    void Connect(QObject* context, JobWindow* window);
    void Disconnect();

    // Queues the end notification of `job` with its result.
    void PostEnd(std::uint64_t job, int result);

    LyricView& Lyrics() override { return *this; }
    int RowCount() override;
    int AppendRow() override;
    void SetCell(int row, int column, std::u16string_view text) override;
    std::u16string Cell(int row, int column) override;
    void SetInfoFields(const std::u16string& title, const std::u16string& artist,
                       const std::u16string& album) override;
    void JobMessage(int kind, const std::u16string& text, bool wait) override;
    // Read on the worker's thread from a settings object of its own.
    int EncodingSetting() override;

private:
    using WindowCall = std::function<void(JobWindow&)>;

    // Queues `call`; false when no window is connected.
    bool Post(WindowCall call);
    // Queues `call` and waits until it has run, or until the job is stopped; false when it was
    // given up on or never queued. A call given up on is dropped unless `always` is set.
    bool Run(const WindowCall& call, bool always = false);
    bool Running() const { return running.load() != 0; }

    const std::atomic<int>& running;
    std::shared_ptr<JobCallChannel> channel = std::make_shared<JobCallChannel>();
    JobCallPump* pump = nullptr;  // a child of the context object; guarded by the channel's lock
};

}  // namespace quillon
