#include "application/application.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <system_error>
#include <utility>

#include "audio/checksum.h"
#include "pipeline/folderrun.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "quillon_version.h"
#include "service/lyricquery.h"
#include "settings/settingsport.h"
#include "text/textconv.h"
#ifdef QUILLON_HAVE_TAGLIB
#include "tagging/lyrictag.h"
#endif

namespace quillon {
namespace {

std::atomic<int> liveWorkers{0};

constexpr char16_t CaptionDownload[] = u"가사 다운로드";
constexpr char16_t CaptionStart[] = u"가사 다운로드 개시";
constexpr char16_t CaptionStop[] = u"가사 다운로드 종료";

}  // namespace

int LogIcon(JobEventKind kind) {
    switch (kind) {
        case JobEventKind::QueryStarted:
            return LogIconStart;
        case JobEventKind::InfoLogged:
            return LogIconInfo;
        case JobEventKind::LrcSaved:
            return LogIconSaved;
        case JobEventKind::SavedAsUtf16:
        case JobEventKind::RunStopped:
            return LogIconWarning;
        case JobEventKind::LrcSaveFailed:
        case JobEventKind::ChecksumFailed:
        case JobEventKind::ServerFailed:
        case JobEventKind::FolderUnreadable:
        case JobEventKind::TagSaveFailed:
            break;
    }
    return LogIconError;
}

std::u16string SummaryText(const JobProgress& progress) {
    const auto count = [](int n) { return Utf8ToWide(std::to_string(n)) + u"곡"; };
    const long long seconds = progress.elapsed.count() / 1000;
    std::u16string text = progress.stopped ? u"중지됨: " : u"";
    text += u"저장 " + count(progress.saved) + u", 실패 " + count(progress.failed) + u", 건너뜀 " +
            count(progress.skipped);
    if (progress.savedAsUtf16 > 0) text += u", UTF-16 LE로 저장 " + count(progress.savedAsUtf16);
    if (progress.stopped) text += u", 남은 곡 " + count(progress.NotReached());
    return text + u" (" + Utf8ToWide(std::to_string(seconds / 60)) + u"분 " +
           Utf8ToWide(std::to_string(seconds % 60)) + u"초)";
}

std::u16string GroupedCount(int number) {
    const std::string digits = std::to_string(number);
    const std::size_t first = number < 0 ? 1 : 0;
    std::u16string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        // A comma before every group of three that has a digit before it.
        if (at > first && (digits.size() - at) % 3 == 0) grouped += u',';
        grouped += static_cast<char16_t>(digits[at]);
    }
    return grouped;
}

std::u16string ProgressCaption(const JobProgress& progress) {
    if (progress.finished && !progress.stopped) return WindowCaption;
    return std::u16string(WindowCaption) + u" \u2014 " + (progress.stopped ? u"중지됨 " : u"") +
           GroupedCount(progress.done) + u"/" + GroupedCount(progress.total);
}

std::u16string LogTimeText(int hour, int minute, int second, int millisecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", hour, minute, second, millisecond);
    return Utf8ToWide(text);
}

std::u16string LogTimeNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millisecond =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return LogTimeText(local.tm_hour, local.tm_min, local.tm_sec, millisecond);
}

ModeLayout LayoutOf(DownloadMode mode) {
    if (mode == DownloadMode::Folder) return {CaptionStart, u"가사 다운로드 로그", false};
    return {CaptionDownload, u"가사 보기", true};
}

// The calls a worker has queued for the front end's thread, and the application they go to.
// Shared by the worker's port and the application, so either may go first.
struct JobCallChannel {
    std::mutex mutex;
    std::deque<std::function<void(QuillonApplication&)>> queue;
    QuillonApplication* target = nullptr;
    std::function<void()> wake;
    bool callsOnWorker = false;
    std::condition_variable drained;  // a queued call has been taken
};

// The job's port into the front end, used on the worker thread. Every call is carried over to
// the front end's thread as a queued call; the lyric view and field calls wait for it, but only
// while the job runs: once `isRunning` drops to 0 a waiting call gives up within one wait slice
// and returns a neutral value, and later ones are not made at all, so a front end that waits for
// the worker can never deadlock with it. A call given up on does nothing when it comes to run.
class QuillonApplication::Port final : public JobHost, private LyricView {
public:
    static constexpr std::chrono::milliseconds WaitSlice{10};
    static constexpr std::size_t MaxQueued = 64;

    Port(const std::atomic<int>& isRunning, std::shared_ptr<JobCallChannel> calls)
        : running(isRunning), channel(std::move(calls)) {}

    // Queues `call` (or runs it at once, for a front end that takes calls on the worker's
    // thread, unless it must reach the front end's own thread); false when no application takes
    // calls any more.
    bool Post(std::function<void(QuillonApplication&)> call, bool ownThread = false) {
        QuillonApplication* direct = nullptr;
        {
            std::unique_lock lock(channel->mutex);
            if (channel->target == nullptr || !channel->wake) return false;
            if (channel->callsOnWorker && !ownThread) {
                direct = channel->target;
            } else {
                // A job that runs ahead of its front end waits for it to catch up, so that the
                // queue stays short; a stopped job never waits.
                while (channel->queue.size() >= MaxQueued && Running() && channel->target)
                    channel->drained.wait_for(lock, WaitSlice);
                if (channel->target == nullptr || !channel->wake) return false;
                channel->queue.push_back(std::move(call));
                // Waking under the lock: the front end cannot go away between the check and
                // the wake.
                channel->wake();
                return true;
            }
        }
        call(*direct);
        return true;
    }

    LyricView& Lyrics() override { return *this; }
    int RowCount() override {
        auto count = std::make_shared<int>(0);
        if (!Run([count](QuillonApplication& app) { *count = app.view.LyricRows().RowCount(); }))
            return 0;
        return *count;
    }
    int AppendRow() override {
        auto row = std::make_shared<int>(-1);
        if (!Run([row](QuillonApplication& app) { *row = app.view.LyricRows().AppendRow(); }))
            return -1;
        return *row;
    }
    void SetCell(int row, int column, std::u16string_view text) override {
        Run([row, column, value = std::u16string(text)](QuillonApplication& app) {
            LyricView& rows = app.view.LyricRows();
            // Rows the user deleted meanwhile are skipped quietly.
            if (row >= 0 && row < rows.RowCount()) rows.SetCell(row, column, value);
        });
    }
    std::u16string Cell(int row, int column) override {
        auto text = std::make_shared<std::u16string>();
        if (!Run([row, column, text](QuillonApplication& app) {
                LyricView& rows = app.view.LyricRows();
                if (row >= 0 && row < rows.RowCount()) *text = rows.Cell(row, column);
            }))
            return {};
        return *text;
    }
    void SetInfoFields(const std::u16string& title, const std::u16string& artist,
                       const std::u16string& album) override {
        Run([title, artist, album](QuillonApplication& app) {
            app.view.ShowInfoFields(title, artist, album);
        });
    }
    void AppendLyricRows(const std::vector<LyricView::Row>& rows) override {
        // One queued call for a whole song; nothing comes back, so nothing is waited for.
        Post([rows](QuillonApplication& app) { app.view.LyricRows().AppendRows(rows); });
    }
    void JobProgressed(const JobProgress& progress) override {
        Post([progress](QuillonApplication& app) { app.HandleProgress(progress); });
    }
    void JobMessage(const JobEvent& event, bool wait) override {
        // An event is always delivered, also after a stop request (the rows of the song in hand
        // up to the stop belong in the log); only the wait for it ends with the job.
        auto show = [event](QuillonApplication& app) { app.HandleEvent(event); };
        if (wait && Running()) {
            Run(show, true);
        } else {
            Post(std::move(show));
        }
    }
    int EncodingSetting() override {
        // Read on the front end's thread, where the settings are also written (the window's
        // menu may change them while a run goes); a stopped job, or one its application has
        // let go of, keeps the value read last.
        auto value = std::make_shared<int>(lastEncoding);
        if (Run([value](QuillonApplication& app) { *value = app.EncodingForJob(); }))
            lastEncoding = *value;
        return lastEncoding;
    }

    int lastEncoding = 0;

private:
    struct PendingCall {
        std::promise<void> done;
        std::atomic<bool> abandoned{false};
    };

    bool Running() const { return running.load() != 0; }

    // Queues `call` and waits until it has run, or until the job is stopped; false when it was
    // given up on or never queued. A call given up on is dropped unless `always` is set.
    bool Run(const std::function<void(QuillonApplication&)>& call, bool always = false) {
        if (!Running() && !always) return false;
        auto pending = std::make_shared<PendingCall>();
        std::future<void> done = pending->done.get_future();
        const bool posted = Post([pending, call, always](QuillonApplication& app) {
            if (pending->abandoned.load() && !always) return;
            call(app);
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

    const std::atomic<int>& running;
    std::shared_ptr<JobCallChannel> channel;
};

// Everything a job shares with its worker thread. The worker holds it too, so a worker that
// outlives its application (it did not stop in time) still finds it.
struct JobContext {
    JobState state;  // mode, path, includeLine, isRunning, heldInfo, lrcBody
    AudioChecksummer checksummer;
    std::unique_ptr<LyricQuery> query;
    QueryMaker makeQuery;
    std::shared_ptr<JobCallChannel> channel = std::make_shared<JobCallChannel>();
    QuillonApplication::Port port{state.isRunning, channel};
};

QuillonApplication::QuillonApplication(SettingsPort& store, AppView& frontEnd, JobOptions chosen)
    : settings(store),
      view(frontEnd),
      options(std::move(chosen)),
      lastFile(settings.ReadText(SettingsPort::Text::LastOpenFile)),
      lastDir(settings.ReadText(SettingsPort::Text::LastOpenDir)),
      job(std::make_shared<JobContext>()) {
    job->channel->target = this;
    if (options.open && !options.open->empty()) {
        // Shown as given, made absolute: what is stored at close must not depend on where the
        // program was started.
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(*options.open, error);
        if (error) path = *options.open;
        path = path.lexically_normal();
        if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
        if (KindOfPath(path) == PathKind::Folder) {
            shownMode = DownloadMode::Folder;
            lastDir = PathText(path);
        } else {
            lastFile = PathText(path);
        }
    }
}

QuillonApplication::~QuillonApplication() {
    StopWorker(CloseWait);
    std::lock_guard lock(job->channel->mutex);
    job->channel->target = nullptr;
    job->channel->wake = nullptr;
    job->channel->queue.clear();
}

void QuillonApplication::Connect(std::function<void()> wakeUp, bool onWorker) {
    wake = std::move(wakeUp);
    callsOnWorker = onWorker;
    std::lock_guard lock(job->channel->mutex);
    job->channel->wake = wake;
    job->channel->callsOnWorker = callsOnWorker;
}

void QuillonApplication::Drain() {
    std::function<void(QuillonApplication&)> call;
    {
        std::lock_guard lock(job->channel->mutex);
        if (job->channel->queue.empty() || job->channel->target == nullptr) return;
        call = std::move(job->channel->queue.front());
        job->channel->queue.pop_front();
    }
    job->channel->drained.notify_all();
    call(*this);
}

const LyricInfo& QuillonApplication::HeldInfo() const {
    return job->state.heldInfo;
}

int QuillonApplication::LiveWorkers() {
    return liveWorkers.load();
}

int QuillonApplication::EncodingForJob() {
    return options.encoding ? *options.encoding : settings.ReadEncoding();
}

std::string QuillonApplication::ServiceHostForJob() {
    const std::u16string stored = settings.ReadText(SettingsPort::Text::ServiceHost);
    return ResolveServiceHost(options.host, WideToUtf8(stored));
}

ControlState QuillonApplication::IdleControls(bool saveEnabled) const {
    ControlState state;
    state.downloadCaption = LayoutOf(shownMode).downloadCaption;
    state.saveEnabled = saveEnabled;
    return state;
}

void QuillonApplication::ClearResults() {
    job->state.heldInfo = LyricInfo{};
    view.ShowInfoFields({}, {}, {});
    view.ShowControls(IdleControls(false));
    view.ClearViews();
}

void QuillonApplication::OnPathChanged() {
    const ControlValues values = view.ReadControls();
    ClearResults();
    if (values.pathText.empty()) return;
    (values.mode == DownloadMode::SingleFile ? lastFile : lastDir) = values.pathText;
}

void QuillonApplication::OnModeChanged() {
    const ControlValues values = view.ReadControls();
    shownMode = values.mode;
    ClearResults();
    view.ShowMode(values.mode, LayoutOf(values.mode));
    view.ShowPath(values.mode == DownloadMode::SingleFile ? lastFile : lastDir);
}

void QuillonApplication::OnBrowse() {
    const ControlValues values = view.ReadControls();
    const std::optional<std::u16string> chosen = view.AskOpenPath(values.mode, values.pathText);
    if (chosen && !chosen->empty()) view.ShowPath(*chosen);
}

void QuillonApplication::OnDownload() {
    const ControlValues values = view.ReadControls();
    JobState& state = job->state;
    // A press while a job runs asks it to stop. While a stopped job is still winding down the
    // press does nothing more: a second worker never starts beside the first.
    if (state.isRunning.load() != 0 || JobRunning()) {
        state.isRunning.store(0);
        return;
    }
    shownMode = values.mode;

    state.lrcBody.clear();
    view.ShowInfoFields({}, {}, {});
    view.ShowControls(IdleControls(false));
    view.ClearViews();

    const std::u16string_view refusal = CheckJobPath(values.mode, values.path);
    if (!refusal.empty()) {
        view.ShowTipAt(TipAnchor::Download, refusal, {});
        return;
    }

    state.mode = values.mode;
    state.path = values.path;
    state.options = ResolveRunOptions();
    state.includeLine[0] = 1;
    state.includeLine[1] = values.second ? 1 : 0;
    state.includeLine[2] = values.third ? 1 : 0;
    state.isRunning.store(1);
    const std::string host = ServiceHostForJob();
    job->query = std::make_unique<LyricQuery>(host);
    // Each song in hand at once asks over a connection of its own.
    job->makeQuery = [host] { return std::make_unique<LyricQuery>(host); };
    job->port.lastEncoding = EncodingForJob();

    std::promise<void> done;
    std::future<void> finished = done.get_future();
    const std::uint64_t serial = ++jobSerial;
    liveWorkers.fetch_add(1);
    try {
        worker = std::thread([context = job, serial, done = std::move(done)]() mutable {
            int result = 0;
            try {
                result = RunDownloadJob(context->state, context->port, context->checksummer,
                                        *context->query, context->makeQuery);
            } catch (const std::exception&) {
                result = 0;  // out of memory and the like: the job ends as if stopped
            }
            context->port.Post(
                [serial, result](QuillonApplication& app) { app.HandleJobEnd(serial, result); },
                true);
            done.set_value();
            // A worker that outlived its application releases the job's state (and the service
            // connection) before it counts itself out.
            context.reset();
            liveWorkers.fetch_sub(1);
        });
    } catch (const std::system_error&) {
        liveWorkers.fetch_sub(1);
        state.isRunning.store(0);
        return;
    }
    workerDone = std::move(finished);

    ControlState running;
    running.downloadCaption = values.mode == DownloadMode::Folder ? CaptionStop : CaptionDownload;
    running.downloadEnabled = values.mode == DownloadMode::Folder;
    running.modeEnabled = false;
    running.pathEnabled = false;
    view.ShowControls(running);
    view.JobStarted(values.mode);
}

void QuillonApplication::StopWorker(std::chrono::milliseconds limit) {
    job->state.isRunning.store(0);
    if (!worker.joinable()) return;
    if (workerDone.wait_for(limit) == std::future_status::ready) {
        worker.join();
    } else {
        // It did not reach a check point in time. It keeps its own share of the job's state and
        // no longer reaches this application, which goes on with a fresh state.
        const DownloadMode jobMode = job->state.mode;
        {
            std::lock_guard lock(job->channel->mutex);
            job->channel->target = nullptr;
            job->channel->queue.clear();
        }
        worker.detach();
        job = std::make_shared<JobContext>();
        job->state.mode = jobMode;
        job->channel->target = this;
        job->channel->wake = wake;
        job->channel->callsOnWorker = callsOnWorker;
    }
    FinishJob(0);
}

void QuillonApplication::HandleJobEnd(std::uint64_t serial, int result) {
    // An end that the application has already waited for (it closed meanwhile) is old news.
    if (!worker.joinable() || serial != jobSerial) return;
    if (workerDone.wait_for(EndWait) == std::future_status::ready) {
        worker.join();
    } else {
        worker.detach();
    }
    FinishJob(result);
}

void QuillonApplication::FinishJob(int result) {
    JobState& state = job->state;
    state.isRunning.store(0);
    const bool single = state.mode == DownloadMode::SingleFile;
    view.ShowControls(IdleControls(single && result == 1));
    // A run laid out from the held answer asked nobody, yet the fields were emptied when it
    // started: show the answer's title, singer and album again.
    if (single && result == 1 && !state.heldInfo.lyric.empty())
        view.ShowInfoFields(state.heldInfo.title, state.heldInfo.artist, state.heldInfo.album);
    view.JobEnded(result);
}

void QuillonApplication::HandleEvent(const JobEvent& event) {
    if (job->state.mode == DownloadMode::Folder) {
        view.AddLogRow(LogIcon(event.kind), LogTimeNow(), event.text, event.cause);
    } else if (IsFailure(event.kind)) {
        view.ShowTipAt(TipAnchor::Download, event.text, event.cause);
    }
}

void QuillonApplication::HandleProgress(const JobProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    if (!progress.finished && now - progressShown < std::chrono::milliseconds(100)) return;
    progressShown = now;
    view.ShowProgress(progress);
    view.ShowCaption(ProgressCaption(progress));
    if (progress.finished) view.ShowTipAt(TipAnchor::Download, SummaryText(progress), {});
}

RunOptions QuillonApplication::ResolveRunOptions() {
    using Option = SettingsPort::Option;
    RunOptions run;
    run.recursive = options.recursive ? *options.recursive
                                      : settings.ReadOption(Option::IncludeSubfolders) != 0;
    run.skipExisting = options.skipExisting ? *options.skipExisting
                                            : settings.ReadOption(Option::SkipExisting) != 0;
    run.concurrency = std::clamp(
        options.concurrency ? *options.concurrency : settings.ReadOption(Option::Concurrency), 1,
        16);
#ifdef QUILLON_HAVE_TAGLIB
    if (EmbedOn())
        run.embed = [](const std::filesystem::path& song, std::u16string_view lrcText,
                       std::string_view checksum) { return EmbedLyrics(song, lrcText, checksum); };
#endif
    return run;
}

bool QuillonApplication::CanEmbed() {
#ifdef QUILLON_HAVE_TAGLIB
    return true;
#else
    return false;
#endif
}

bool QuillonApplication::EmbedOn() {
    if (!CanEmbed()) return false;
    return options.embed ? *options.embed
                         : settings.ReadOption(SettingsPort::Option::EmbedLyrics) != 0;
}

WriteResult QuillonApplication::EmbedLyricsIn(const std::filesystem::path& song) {
#ifdef QUILLON_HAVE_TAGLIB
    return EmbedLyrics(song, BuildSavedLyricsText(job->state.heldInfo, view.LyricRows()));
#else
    (void)song;
    return {false, "this build cannot write tags"};
#endif
}

bool QuillonApplication::FolderOption(SettingsPort::Option which) {
    return settings.ReadOption(which) != 0;
}

void QuillonApplication::SetFolderOption(SettingsPort::Option which, bool on) {
    settings.WriteOption(which, on ? 1 : 0);
}

WriteResult QuillonApplication::SaveLyricsTo(const std::filesystem::path& file, int encoding) {
    return WriteTextFileAtomically(
        file, BuildSavedLyricsText(job->state.heldInfo, view.LyricRows()), encoding);
}

LosslessChoice QuillonApplication::LosslessSaveEncoding(int encoding) {
    return LosslessEncoding(BuildSavedLyricsText(job->state.heldInfo, view.LyricRows()), encoding);
}

void QuillonApplication::OnSave() {
    const ControlValues values = view.ReadControls();
    if (JobRunning() || job->state.lrcBody.empty() || view.LyricRows().RowCount() == 0) return;

    int encoding = settings.ReadEncoding();
    // The dialog starts beside the music file, with its name.
    const std::u16string start = WithoutExtension(std::u16string_view(values.pathText));
    const std::size_t separator = start.find_last_of(PathSeparators<char16_t>);
    const std::size_t split = separator == std::u16string::npos ? 0 : separator + 1;
    const int filter = encoding >= 0 && encoding <= EncodingUtf16LE ? encoding : 0;

    const std::optional<SaveChoice> choice =
        view.AskSaveFile(std::u16string_view(start).substr(0, split),
                         std::u16string_view(start).substr(split), filter);
    if (!choice) return;
    encoding = choice->filter;
    // What the code page lacks would become "?": the user may keep every character instead.
    int written = encoding;
    if (const LosslessChoice lossless = LosslessSaveEncoding(encoding); lossless.lost > 0) {
        const std::u16string question =
            text::AnsiLost + Utf8ToWide(std::to_string(lossless.lost)) + text::AnsiLossQuestionEnd;
        if (view.AskYesNo(question, true)) written = lossless.encoding;
    }
    const WriteResult saved = SaveLyricsTo(choice->file, written);
    settings.WriteEncoding(encoding);
    if (!saved) {
        view.ShowTipAt(TipAnchor::Save, text::SaveFailedTip, saved.cause);
    } else if (EmbedOn()) {
        const WriteResult stored = EmbedLyricsIn(values.path);
        if (!stored)
            view.ShowTipAt(TipAnchor::Save,
                           FileMessage(text::TagSaveFailed, DisplayName(values.path)),
                           stored.cause);
    }
}

namespace {

// Whether `file` holds exactly the bytes the raw lyric view writes for `lyric`: UTF-16 big
// endian with its byte order mark.
bool HoldsRawLyric(const std::filesystem::path& file, std::u16string_view lyric) {
    std::string expected = "\xFE\xFF";
    for (const char16_t unit : UpToNul(lyric)) {
        expected.push_back(static_cast<char>(unit >> 8));
        expected.push_back(static_cast<char>(unit & 0xFF));
    }
    std::error_code error;
    if (std::filesystem::file_size(file, error) != expected.size() || error) return false;
    std::ifstream in(file, std::ios::binary);
    std::string held(expected.size(), '\0');
    return in.read(held.data(), static_cast<std::streamsize>(held.size())) && held == expected;
}

}  // namespace

void QuillonApplication::OnViewRaw() {
    const ControlValues values = view.ReadControls();
    const JobState& state = job->state;
    if (JobRunning() || values.mode != DownloadMode::SingleFile || state.heldInfo.lyric.empty())
        return;
    const std::u16string& lyric = state.heldInfo.lyric;
    // Beside the music file, with ".txt" in place of its extension; the service's line feeds
    // stay as they are. A file of that name that is not what this view wrote is the user's: it
    // is replaced only when the user says so, else the text goes to the temporary folder.
    std::filesystem::path beside = WithoutExtension(values.path);
    beside += ".txt";
    const std::u16string name = PathText(beside.filename());
    bool besideWanted = true;
    switch (KindOfPath(beside)) {
        case PathKind::Missing:
            break;
        case PathKind::File:
            if (HoldsRawLyric(beside, lyric)) return view.OpenWithViewer(beside);
            besideWanted = view.AskYesNo(name + text::ReplaceRawQuestion, false);
            break;
        case PathKind::Folder:
            besideWanted = false;
            break;
    }
    WriteResult besideResult;
    if (besideWanted) {
        besideResult = WriteTextFileAtomically(beside, lyric, EncodingUtf16BE);
        if (besideResult) return view.OpenWithViewer(beside);
    }
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error) / name;
    const WriteResult inTemporary =
        error ? WriteFailed(WriteStep::Create, error.message())
              : WriteTextFileAtomically(temporary, lyric, EncodingUtf16BE);
    if (!inTemporary) {
        view.ShowTipAt(TipAnchor::Download, FileMessage(text::RawViewFailed, name),
                       inTemporary.cause);
        return;
    }
    // The user's own file stayed; say why the text is elsewhere when they did not choose it.
    if (besideWanted || KindOfPath(beside) == PathKind::Folder)
        view.ShowTipAt(TipAnchor::Download, FileMessage(text::RawViewInTemporary, name),
                       besideWanted ? besideResult.cause : std::string());
    view.OpenWithViewer(temporary);
}

AboutInfo QuillonApplication::About() {
    AboutInfo about;
    about.version = u"Quillon 버전 " + Utf8ToWide(Version);
    about.licence = Utf8ToWide(Licence) + u" 라이선스";
    about.homepage = Utf8ToWide(Homepage);
    about.service = u"가사 서비스: " + Utf8ToWide(HostWithPort(ServiceHostForJob()));
    return about;
}

ServiceSettings QuillonApplication::CurrentSettings() {
    ServiceSettings values;
    std::string stored = WideToUtf8(settings.ReadText(SettingsPort::Text::ServiceHost));
    stored = HostWithPort(stored.empty() ? "localhost" : stored);
    const std::size_t colon = stored.rfind(':');
    values.host = Utf8ToWide(stored.substr(0, colon));
    values.port = Utf8ToWide(stored.substr(colon + 1));
    values.concurrency =
        Utf8ToWide(std::to_string(settings.ReadOption(SettingsPort::Option::Concurrency)));
    return values;
}

namespace {

// A whole number from `low` to `high`, written in digits alone.
std::optional<int> NumberIn(std::u16string_view text, int low, int high) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::u16string Trimmed(std::u16string_view text) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::u16string(text);
}

}  // namespace

std::optional<std::u16string> QuillonApplication::ApplySettings(const ServiceSettings& values) {
    std::u16string host = Trimmed(values.host);
    if (host.empty()) return std::u16string(text::HostMissing);
    // An IPv6 address goes in brackets, so that its colons are not taken for the port's.
    const bool bracketed = host.front() == u'[' && host.back() == u']' && host.size() > 2;
    const bool ipv6 = !bracketed && host.find(u':') != std::u16string::npos;
    const std::u16string_view bare = bracketed
                                         ? std::u16string_view(host).substr(1, host.size() - 2)
                                         : std::u16string_view(host);
    for (const char16_t c : bare) {
        const bool hex =
            (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        const bool name = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                          (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_';
        if ((bracketed || ipv6) ? !(hex || c == u':' || c == u'.') : !name)
            return text::HostInvalid + std::u16string(1, c);
    }
    if (ipv6) host = u"[" + host + u"]";
    const std::optional<int> port = NumberIn(Trimmed(values.port), 1, 65535);
    if (!port) return std::u16string(text::PortInvalid);
    const std::optional<int> concurrency = NumberIn(Trimmed(values.concurrency), 1, 16);
    if (!concurrency) return std::u16string(text::ConcurrencyInvalid);

    if (*port != 80) host += u":" + Utf8ToWide(std::to_string(*port));
    settings.WriteText(SettingsPort::Text::ServiceHost, host);
    settings.WriteOption(SettingsPort::Option::Concurrency, *concurrency);
    return std::nullopt;
}

void QuillonApplication::OnClose() {
    view.ReadControls();
    StopWorker(CloseWait);
}

void QuillonApplication::OnDestroy() {
    const ControlValues values = view.ReadControls();
    StopWorker(CloseWait);
    if (values.pathText.empty()) return;
    settings.WriteText(values.mode == DownloadMode::SingleFile ? SettingsPort::Text::LastOpenFile
                                                               : SettingsPort::Text::LastOpenDir,
                       values.pathText);
}

}  // namespace quillon
