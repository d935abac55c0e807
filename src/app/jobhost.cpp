#include "app/jobhost.h"

#include <QMetaObject>

#include <future>
#include <memory>

#include "settings/settings.h"

namespace quillon {
namespace {

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// One synchronous call in flight: the worker waits on `done`; once the worker has given up,
// `abandoned` keeps the call from touching the window when it finally runs.
struct PendingCall {
    std::promise<void> done;
    std::atomic<bool> abandoned{false};
};

}  // namespace

void JobCallPump::Drain() {
    std::function<void(JobWindow&)> call;
    JobWindow* target = nullptr;
    {
        std::lock_guard lock(channel->mutex);
        if (channel->queue.empty() || channel->window == nullptr) return;
        call = std::move(channel->queue.front());
        channel->queue.pop_front();
        target = channel->window;
    }
    call(*target);
}

void WindowJobHost::Connect(QObject* receiver, JobWindow* target) {
    std::lock_guard lock(channel->mutex);
    pump = new JobCallPump(channel, receiver);
    channel->window = target;
    channel->queue.clear();
}

void WindowJobHost::Disconnect() {
    std::lock_guard lock(channel->mutex);
    channel->window = nullptr;
    channel->queue.clear();
    if (pump != nullptr) pump->deleteLater();
    pump = nullptr;
}

bool WindowJobHost::Post(WindowCall call) {
    std::lock_guard lock(channel->mutex);
    if (pump == nullptr || channel->window == nullptr) return false;
    channel->queue.push_back(std::move(call));
    // Posting under the lock: the pump cannot go away between the check and the post.
    QMetaObject::invokeMethod(pump, "Drain", Qt::QueuedConnection);
    return true;
}

bool WindowJobHost::Run(const WindowCall& call, bool always) {
    if (!Running() && !always) return false;
    auto pending = std::make_shared<PendingCall>();
    std::future<void> done = pending->done.get_future();
    const bool posted = Post([pending, call, always](JobWindow& target) {
        if (pending->abandoned.load() && !always) return;
        call(target);
        pending->done.set_value();
    });
    if (!posted) return false;
    while (done.wait_for(WaitSlice) != std::future_status::ready) {
        if (!Running()) {
            pending->abandoned.store(true);
            // It may have run just now; then its effect stands and so does its answer.
            return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        }
    }
    return true;
}

void WindowJobHost::PostEnd(std::uint64_t job, int result) {
    Post([job, result](JobWindow& target) { target.HandleJobEnd(job, result); });
}

int WindowJobHost::RowCount() {
    auto count = std::make_shared<int>(0);
    if (!Run([count](JobWindow& target) { *count = target.JobLyricView().RowCount(); })) return 0;
    return *count;
}

int WindowJobHost::AppendRow() {
    auto row = std::make_shared<int>(-1);
    if (!Run([row](JobWindow& target) { *row = target.JobLyricView().AppendRow(); })) return -1;
    return *row;
}

void WindowJobHost::SetCell(int row, int column, std::u16string_view text) {
    Run([row, column, value = std::u16string(text)](JobWindow& target) {
        target.JobLyricView().SetCell(row, column, value);
    });
}

std::u16string WindowJobHost::Cell(int row, int column) {
    auto text = std::make_shared<std::u16string>();
    if (!Run([row, column, text](JobWindow& target) {
            *text = target.JobLyricView().Cell(row, column);
        }))
        return {};
    return *text;
}

void WindowJobHost::SetInfoFields(const std::u16string& title, const std::u16string& artist,
                                  const std::u16string& album) {
    Run([t = ToQString(title), a = ToQString(artist), b = ToQString(album)](JobWindow& target) {
        target.ShowInfoFields(t, a, b);
    });
}

void WindowJobHost::JobMessage(int kind, const std::u16string& text, bool wait) {
    // A message is always delivered, also after a stop request (the rows of the song in hand
    // up to the stop belong in the log); only the wait for it ends with the job.
    WindowCall show = [kind, value = ToQString(text)](JobWindow& target) {
        target.HandleJobMessage(kind, value);
    };
    if (wait && Running()) {
        Run(show, true);
    } else {
        Post(std::move(show));
    }
}

int WindowJobHost::EncodingSetting() {
    SettingsStore settings;
    return settings.Encoding();
}

}  // namespace quillon
