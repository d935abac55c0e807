#include "application/session.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <system_error>
#include <utility>

#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "quillon_version.h"
#include "service/lyricquery.h"
#include "text/textconv.h"
#ifdef QUILLON_HAVE_TAGLIB
#include "tagging/lyrictag.h"
#endif

namespace quillon {
namespace {

std::atomic<int> liveWorkers{0};

// How long Deliver hands events over before it lets the front end breathe.
constexpr std::chrono::milliseconds DeliverSlice{8};
// A folder run's progress reaches the front end at most ten times a second, and at its end.
constexpr std::chrono::milliseconds ProgressEvery{100};

}  // namespace

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

// The events of one run on their way to the front end's thread. Shared by the worker and the
// session, so either may go first.
struct EventChannel {
    std::mutex mutex;
    std::deque<std::function<void(LyricsSession&)>> queue;
    LyricsSession* target = nullptr;  // none once the session has let the run go
    std::function<void()> wake;
    bool onWorker = false;
    bool wakePending = false;  // a Deliver has been asked for and has not begun
};

// Everything a run shares with its worker thread. The worker holds it too, so a worker that
// outlives its session (it did not stop in time) still finds it.
struct RunContext {
    RunSpec spec;
    std::atomic<int> running{1};  // the session stores 0 to ask the run to stop
    SourceMaker makeSource;
    std::shared_ptr<EventChannel> channel = std::make_shared<EventChannel>();
};

// The run's listener on the worker's thread: every event goes into the channel as a call for
// the front end's thread, and nothing is waited for.
class LyricsSession::Forwarder final : public RunListener {
public:
    explicit Forwarder(std::shared_ptr<EventChannel> events) : channel(std::move(events)) {}

    void Logged(const JobEvent& event) override {
        Post([event](LyricsSession& session) {
            if (session.observer) session.observer->Logged(event);
        });
    }
    void SongShown(const ShownSong& song) override {
        Post([song](LyricsSession& session) { session.ShowSong(song); });
    }
    void Progressed(const JobProgress& progress) override {
        const auto now = std::chrono::steady_clock::now();
        if (!progress.finished && now - progressSent < ProgressEvery) return;
        progressSent = now;
        Post([progress](LyricsSession& session) {
            if (session.observer) session.observer->Progressed(progress);
        });
    }
    // The run's end, always on the front end's own thread.
    void Ended(std::uint64_t serial, const RunEnd& end) {
        Post([serial, end](LyricsSession& session) { session.HandleRunEnd(serial, end); }, true);
    }

private:
    void Post(std::function<void(LyricsSession&)> call, bool ownThread = false) {
        LyricsSession* direct = nullptr;
        {
            std::lock_guard lock(channel->mutex);
            if (channel->target == nullptr || !channel->wake) return;
            if (channel->onWorker && !ownThread) {
                direct = channel->target;
            } else {
                channel->queue.push_back(std::move(call));
                // Waking under the lock: the session cannot go away between the check and the
                // wake. One wake stands for every call queued until Deliver begins.
                if (!channel->wakePending) {
                    channel->wakePending = true;
                    channel->wake();
                }
                return;
            }
        }
        call(*direct);
    }

    std::shared_ptr<EventChannel> channel;
    std::chrono::steady_clock::time_point progressSent{};
};

LyricsSession::LyricsSession(SettingsPort& store, JobOptions chosen)
    : settings(store),
      options(std::move(chosen)),
      lastFile(settings.ReadText(SettingsPort::Text::LastOpenFile)),
      lastDir(settings.ReadText(SettingsPort::Text::LastOpenDir)) {
    if (options.open && !options.open->empty()) {
        // Shown as given, made absolute: what is stored at close must not depend on where the
        // program was started.
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(*options.open, error);
        if (error) path = *options.open;
        path = path.lexically_normal();
        if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
        if (KindOfPath(path) == PathKind::Folder) {
            initialMode = DownloadMode::Folder;
            lastDir = PathText(path);
        } else {
            lastFile = PathText(path);
        }
    }
}

LyricsSession::~LyricsSession() {
    Stop(CloseWait);
}

void LyricsSession::Connect(RunObserver& runObserver, std::function<void()> wakeUp,
                            bool takeOnWorker) {
    observer = &runObserver;
    wake = std::move(wakeUp);
    onWorker = takeOnWorker;
}

void LyricsSession::Deliver() {
    if (!run) return;
    const std::shared_ptr<EventChannel> channel = run->channel;
    std::deque<std::function<void(LyricsSession&)>> batch;
    {
        std::lock_guard lock(channel->mutex);
        channel->wakePending = false;
        batch.swap(channel->queue);
    }
    const auto until = std::chrono::steady_clock::now() + DeliverSlice;
    while (!batch.empty()) {
        {
            // A run the session let go of meanwhile says nothing more.
            std::lock_guard lock(channel->mutex);
            if (channel->target != this) return;
        }
        const auto call = std::move(batch.front());
        batch.pop_front();
        call(*this);
        if (!batch.empty() && std::chrono::steady_clock::now() >= until) {
            // The rest waits for the next turn, ahead of what came meanwhile.
            std::lock_guard lock(channel->mutex);
            if (channel->target != this) return;
            while (!batch.empty()) {
                channel->queue.push_front(std::move(batch.back()));
                batch.pop_back();
            }
            if (!channel->wakePending && channel->wake) {
                channel->wakePending = true;
                channel->wake();
            }
            return;
        }
    }
}

int LyricsSession::LiveWorkers() {
    return liveWorkers.load();
}

std::string LyricsSession::ServiceHost() {
    const std::u16string stored = settings.ReadText(SettingsPort::Text::ServiceHost);
    return ResolveServiceHost(options.host, WideToUtf8(stored));
}

RunSpec LyricsSession::SpecFor(const RunRequest& request) {
    using Option = SettingsPort::Option;
    RunSpec spec;
    spec.mode = request.mode;
    spec.path = request.path;
    spec.plan.includeLine[1] = request.second ? 1 : 0;
    spec.plan.includeLine[2] = request.third ? 1 : 0;
    if (request.mode == DownloadMode::SingleFile) {
        spec.held = held;
        return spec;
    }
    spec.plan.writeFile = true;
    spec.plan.encoding = options.encoding ? *options.encoding : settings.ReadEncoding();
#ifdef QUILLON_HAVE_TAGLIB
    if (EmbedOn())
        spec.plan.embed = [](const std::filesystem::path& song, std::u16string_view lrcText,
                             std::string_view key) { return EmbedLyrics(song, lrcText, key); };
#endif
    spec.options.recursive = options.recursive
                                 ? *options.recursive
                                 : settings.ReadOption(Option::IncludeSubfolders) != 0;
    spec.options.skipExisting = options.skipExisting
                                    ? *options.skipExisting
                                    : settings.ReadOption(Option::SkipExisting) != 0;
    // The one place the number of songs in hand is read, so the one place it is checked.
    spec.options.concurrency = std::clamp(
        options.concurrency ? *options.concurrency : settings.ReadOption(Option::Concurrency),
        MinConcurrency, MaxConcurrency);
    return spec;
}

std::thread LyricsSession::StartWorker(std::function<void()> body) {
    return std::thread(std::move(body));
}

StartResult LyricsSession::StartRun(const RunRequest& request) {
    // A second worker never starts beside the first, nor beside one still winding down.
    if (Running()) return {};
    lrcBody.clear();
    const std::u16string_view refusal = CheckJobPath(request.mode, request.path);
    if (!refusal.empty()) return {false, std::u16string(refusal), {}};

    auto context = std::make_shared<RunContext>();
    context->spec = SpecFor(request);
    const std::string host = ServiceHost();
    // Each song in hand at once asks over a connection of its own.
    context->makeSource = [host] { return std::make_unique<ChecksumSource>(host); };
    context->channel->target = this;
    context->channel->wake = wake;
    context->channel->onWorker = onWorker;

    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    const std::uint64_t serial = ++runSerial;
    liveWorkers.fetch_add(1);
    // Set before the worker starts: a front end that takes events on the worker's thread reads
    // it there.
    run = context;
    try {
        worker = StartWorker([context, serial, done]() mutable {
            Forwarder events(context->channel);
            RunEnd end;
            try {
                end = RunJob(context->spec, events, context->running, context->makeSource);
            } catch (const std::exception& error) {
                // The front end's share of the run failed it (out of memory and the like).
                end = {0, error.what()};
                events.Logged(RunFailedEvent(end.cause));
            }
            events.Ended(serial, end);
            done->set_value();
            // A worker that outlived its session releases the run's state (and the service
            // connections) before it counts itself out.
            context.reset();
            liveWorkers.fetch_sub(1);
        });
    } catch (const std::system_error& error) {
        liveWorkers.fetch_sub(1);
        run.reset();
        return {false, {}, error.what()};
    }
    workerDone = std::move(finished);
    return {true, {}, {}};
}

void LyricsSession::RequestStop() {
    if (run) run->running.store(0);
}

bool LyricsSession::StopRequested() const {
    return !run || run->running.load() == 0;
}

bool LyricsSession::Stop(std::chrono::milliseconds limit) {
    RequestStop();
    if (!worker.joinable()) return false;
    // A worker that does not reach a check point in time keeps its own share of the run.
    if (workerDone.wait_for(limit) == std::future_status::ready)
        worker.join();
    else
        worker.detach();
    std::lock_guard lock(run->channel->mutex);
    run->channel->target = nullptr;
    run->channel->queue.clear();
    return true;
}

void LyricsSession::HandleRunEnd(std::uint64_t serial, const RunEnd& end) {
    // An end that the session has already waited for (it closed meanwhile) is old news.
    if (!worker.joinable() || serial != runSerial) return;
    if (workerDone.wait_for(EndWait) == std::future_status::ready)
        worker.join();
    else
        worker.detach();
    run->running.store(0);
    if (observer) observer->RunEnded(end);
}

void LyricsSession::ShowSong(const ShownSong& song) {
    if (run && run->spec.mode == DownloadMode::SingleFile) {
        if (song.asked) held = song.info;
        lrcBody = song.lrcBody;
    }
    if (observer) observer->SongShown(song);
}

void LyricsSession::RememberPath(DownloadMode mode, std::u16string_view text) {
    if (text.empty()) return;
    (mode == DownloadMode::Folder ? lastDir : lastFile) = text;
}

void LyricsSession::StorePath(DownloadMode mode, std::u16string_view text) {
    if (text.empty()) return;
    settings.WriteText(mode == DownloadMode::SingleFile ? SettingsPort::Text::LastOpenFile
                                                        : SettingsPort::Text::LastOpenDir,
                       std::u16string(text));
}

void LyricsSession::ForgetLyric() {
    held = LyricInfo{};
    lrcBody.clear();
}

bool LyricsSession::CanEmbed() {
#ifdef QUILLON_HAVE_TAGLIB
    return true;
#else
    return false;
#endif
}

bool LyricsSession::EmbedOn() {
    if (!CanEmbed()) return false;
    return options.embed ? *options.embed
                         : settings.ReadOption(SettingsPort::Option::EmbedLyrics) != 0;
}

WriteResult LyricsSession::EmbedLyricsIn(const std::filesystem::path& song, LyricView& rows) {
#ifdef QUILLON_HAVE_TAGLIB
    return EmbedLyrics(song, BuildSavedLyricsText(held, rows));
#else
    (void)song, (void)rows;
    return {false, "this build cannot write tags"};
#endif
}

bool LyricsSession::FolderOption(SettingsPort::Option which) {
    return settings.ReadOption(which) != 0;
}

void LyricsSession::SetFolderOption(SettingsPort::Option which, bool on) {
    settings.WriteOption(which, on ? 1 : 0);
}

WriteResult LyricsSession::SaveLyricsTo(const std::filesystem::path& file, int encoding,
                                        LyricView& rows) {
    return WriteTextFileAtomically(file, BuildSavedLyricsText(held, rows), encoding);
}

LosslessChoice LyricsSession::LosslessSaveEncoding(int encoding, LyricView& rows) {
    return LosslessEncoding(BuildSavedLyricsText(held, rows), encoding);
}

int LyricsSession::SaveEncoding() {
    return options.encoding ? *options.encoding : settings.ReadEncoding();
}

void LyricsSession::StoreSaveEncoding(int encoding) {
    settings.WriteEncoding(encoding);
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

RawLyricFile LyricsSession::WriteRawLyric(
    const std::filesystem::path& song,
    const std::function<bool(std::u16string_view question)>& replace) {
    RawLyricFile outcome;
    const std::u16string& lyric = held.lyric;
    // Beside the music file, with ".txt" in place of its extension; the service's line feeds
    // stay as they are.
    std::filesystem::path beside = WithoutExtension(song);
    beside += ".txt";
    const std::u16string name = PathText(beside.filename());
    bool besideWanted = true;
    switch (KindOfPath(beside)) {
        case PathKind::Missing:
            break;
        case PathKind::File:
            if (HoldsRawLyric(beside, lyric)) {
                outcome.open = beside;
                return outcome;
            }
            besideWanted = replace(name + text::ReplaceRawQuestion);
            break;
        case PathKind::Folder:
            besideWanted = false;
            break;
    }
    WriteResult besideResult;
    if (besideWanted) {
        besideResult = WriteTextFileAtomically(beside, lyric, EncodingUtf16BE);
        if (besideResult) {
            outcome.open = beside;
            return outcome;
        }
    }
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error) / name;
    const WriteResult inTemporary =
        error ? WriteFailed(WriteStep::Create, error.message())
              : WriteTextFileAtomically(temporary, lyric, EncodingUtf16BE);
    if (!inTemporary) {
        outcome.note = FileMessage(text::RawViewFailed, name);
        outcome.cause = inTemporary.cause;
        return outcome;
    }
    // The user's own file stayed; say why the text is elsewhere when they did not choose it.
    if (besideWanted || KindOfPath(beside) == PathKind::Folder) {
        outcome.note = FileMessage(text::RawViewInTemporary, name);
        if (besideWanted) outcome.cause = besideResult.cause;
    }
    outcome.open = temporary;
    return outcome;
}

AboutInfo LyricsSession::About() {
    AboutInfo about;
    about.version = u"Quillon 버전 " + Utf8ToWide(Version);
    about.licence = Utf8ToWide(Licence) + u" 라이선스";
    about.homepage = Utf8ToWide(Homepage);
    about.service = u"가사 서비스: " + Utf8ToWide(HostWithPort(ServiceHost()));
    return about;
}

ServiceSettings LyricsSession::CurrentSettings() {
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

std::optional<std::u16string> LyricsSession::ApplySettings(const ServiceSettings& values) {
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

}  // namespace quillon
