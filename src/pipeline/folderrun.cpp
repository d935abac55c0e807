#include "pipeline/folderrun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "audio/checksum.h"
#include "pipeline/lrc.h"
#include "pipeline/messages.h"
#include "service/lyricquery.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

constexpr auto Slice = 20ms;  // how often a wait looks at the stop request
constexpr int MaxTries = 3;   // per song, when the service asks to be left alone
constexpr auto MaxRetryAfter = 60s;

QueryResult StoppedResult() {
    QueryResult stopped;
    stopped.status = QueryStatus::Stopped;
    return stopped;
}

// What the workers found out about one song, for the job's thread to show in turn.
struct SongWork {
    bool asking = false;  // its query has begun
    bool ready = false;
    ChecksumStatus checksum = ChecksumStatus::Ok;
    std::string checksumCause;
    std::string checksumText;  // the 32 digits
    QueryResult answer;
    LyricInfo info;
    std::vector<LyricView::Row> rows;
    bool hasFile = false;
    std::u16string lrcText;
    std::size_t lost = 0;  // characters the ANSI code page lacks: written in UTF-16 LE
    PreparedFile file;
};

class ConcurrentRun {
public:
    ConcurrentRun(JobState& job, JobHost& jobHost, const std::vector<ListedSong>& list,
                  JobProgress& jobProgress, const QueryMaker& maker)
        : state(job),
          host(jobHost),
          songs(list),
          progress(jobProgress),
          makeQuery(maker),
          workers(std::clamp(job.options.concurrency, 1, 16)),
          limit(workers),
          work(list.size()) {}

    int Run() {
        // Files are written ahead of their turn, so the run reads the setting once.
        encoding = host.EncodingSetting();
        std::vector<std::thread> threads;
        for (int i = 0; i < workers; ++i) threads.emplace_back([this] { Work(); });
        const int result = ShowInOrder();
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& thread : threads) thread.join();
        // What was written ahead for songs that were not shown goes again.
        for (SongWork& song : work) DiscardPreparedFile(song.file);
        state.lrcBody.clear();
        return result;
    }

private:
    bool Stopped() const { return state.isRunning.load() == 0 || stopping.load(); }

    // The workers: take the next song (never too far ahead of the one shown), find its
    // checksum, ask the service, lay out its rows and write its LRC file ahead.
    void Work() {
        AudioChecksummer checksummer;
        const std::unique_ptr<LyricQuery> query = makeQuery();
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex);
                while (!Stopped() && next < songs.size() &&
                       next >= shown + static_cast<std::size_t>(2 * workers))
                    changed.wait_for(lock, Slice);
                if (Stopped() || next >= songs.size()) return;
                index = next++;
            }
            Prepare(songs[index], work[index], checksummer, *query);
            {
                std::lock_guard lock(mutex);
                work[index].ready = true;
            }
            changed.notify_all();
        }
    }

    void Prepare(const ListedSong& song, SongWork& result, AudioChecksummer& checksummer,
                 LyricQuery& query) {
        if (song.unreadableFolder) return;
        AudioChecksum checksum;
        result.checksum = checksummer.Compute(song.path, checksum);
        if (result.checksum != ChecksumStatus::Ok) {
            result.checksumCause = ChecksumCause(checksummer, result.checksum);
            return;
        }
        result.checksumText.assign(checksum.data(), 32);
        const std::string request = LyricQuery::BuildRequest(result.checksumText);
        {
            std::lock_guard lock(mutex);
            result.asking = true;
        }
        changed.notify_all();
        Slots slots(*this);
        result.answer = AskPolitely(
            query, request, result.info, [this] { return !Stopped(); }, slots);
        if (result.answer.status != QueryStatus::Found) return;
        MemoryLyricView rows;
        std::u16string body;
        ComposeLyricRows(result.info.lyric, state.includeLine, rows, body);
        result.rows = std::move(rows.rows);
        if (body.empty()) return;
        result.hasFile = true;
        result.lrcText = LrcFileText(result.info, body);
        const LosslessChoice chosen = LosslessEncoding(result.lrcText, encoding);
        result.lost = chosen.lost;
        result.file = PrepareTextFile(LrcPathFor(song.path), result.lrcText, chosen.encoding);
    }

    // The queries in flight: at most `limit` of them, halved when the service is busy.
    class Slots final : public QuerySlots {
    public:
        explicit Slots(ConcurrentRun& owner) : run(owner) {}
        bool Acquire() override {
            std::unique_lock lock(run.mutex);
            while (!run.Stopped() && run.inFlight >= run.limit) run.changed.wait_for(lock, Slice);
            if (run.Stopped()) return false;
            ++run.inFlight;
            return true;
        }
        void Release(bool busy) override {
            {
                std::lock_guard lock(run.mutex);
                --run.inFlight;
                if (busy) run.limit = std::max(1, run.limit / 2);
            }
            run.changed.notify_all();
        }

    private:
        ConcurrentRun& run;
    };

    // The job's own thread: each song's rows and file in the songs' order, as a run with one
    // song at a time shows them.
    int ShowInOrder() {
        for (std::size_t index = 0; index < songs.size(); ++index) {
            SongWork& song = work[index];
            // The song's start row goes out as soon as its query begins, as it would one song at
            // a time; the rest once the song is ready.
            bool announced = false;
            for (;;) {
                bool asking = false;
                {
                    std::unique_lock lock(mutex);
                    while (!song.ready && !(song.asking && !announced) &&
                           state.isRunning.load() != 0)
                        changed.wait_for(lock, Slice);
                    if (song.ready) break;
                    asking = song.asking;
                }
                if (state.isRunning.load() == 0) return 0;
                if (asking && !announced) {
                    Announce(songs[index]);
                    announced = true;
                }
            }
            if (state.isRunning.load() == 0) return 0;
            if (!announced && song.checksum == ChecksumStatus::Ok && !songs[index].unreadableFolder)
                Announce(songs[index]);
            if (!Show(songs[index], song)) return 0;
            {
                std::lock_guard lock(mutex);
                shown = index + 1;
            }
            changed.notify_all();
        }
        return 1;
    }

    void Announce(const ListedSong& song) {
        host.JobMessage(
            {JobEventKind::QueryStarted, FileMessage(text::QueryStarted, song.name), {}}, false);
    }

    // One song's rows after its start row; false when the run stopped at it. Nothing is waited
    // for: the rows reach the front end in the order they are sent, and this thread only
    // keeps the order.
    bool Show(const ListedSong& song, SongWork& result) {
        const auto message = [&](JobEventKind kind, std::u16string text, std::string cause) {
            host.JobMessage({kind, std::move(text), std::move(cause)}, false);
        };
        if (song.unreadableFolder) {
            message(JobEventKind::FolderUnreadable, FileMessage(text::FolderUnreadable, song.name),
                    {});
            return true;
        }
        if (result.checksum != ChecksumStatus::Ok) {
            message(JobEventKind::ChecksumFailed, FileMessage(text::ChecksumFailed, song.name),
                    result.checksumCause);
            ++progress.failed;
        } else {
            // A query the stop cut short was not run.
            if (result.answer.status == QueryStatus::Stopped) return false;
            if (result.answer.status != QueryStatus::Found) {
                message(JobEventKind::ServerFailed, FileMessage(text::ServerFailed, song.name),
                        result.answer.Cause());
                ++progress.failed;
            } else {
                if (state.isRunning.load() == 0) return false;
                host.AppendLyricRows(result.rows);
                if (state.isRunning.load() == 0) return false;
                if (result.hasFile) {
                    const WriteResult written = CommitPreparedFile(result.file);
                    message(JobEventKind::InfoLogged, InfoText(result.info), {});
                    if (written) {
                        ++progress.saved;
                        message(JobEventKind::LrcSaved, FileMessage(text::LrcSaved, song.name), {});
                        if (result.lost > 0) {
                            ++progress.savedAsUtf16;
                            host.JobMessage(SavedAsUtf16Event(LrcName(song), result.lost), false);
                        }
                        EmbedInTag(state.options, host, song, result.lrcText, result.checksumText);
                    } else {
                        ++progress.failed;
                        message(JobEventKind::LrcSaveFailed,
                                FileMessage(text::LrcSaveFailed, song.name), written.cause);
                    }
                }
            }
        }
        ++progress.done;
        host.JobProgressed(progress);
        return true;
    }

    JobState& state;
    JobHost& host;
    const std::vector<ListedSong>& songs;
    JobProgress& progress;
    const QueryMaker& makeQuery;
    const int workers;
    int encoding = 0;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;   // the next song a worker takes
    std::size_t shown = 0;  // songs shown so far
    int inFlight = 0;
    int limit;
    std::atomic<bool> stopping{false};
    std::vector<SongWork> work;
};

}  // namespace

void EmbedInTag(const RunOptions& options, JobHost& host, const ListedSong& song,
                std::u16string_view lrcText, std::string_view checksum) {
    if (!options.embed) return;
    const WriteResult stored = options.embed(song.path, lrcText, checksum);
    if (!stored)
        host.JobMessage({JobEventKind::TagSaveFailed, FileMessage(text::TagSaveFailed, song.name),
                         stored.cause},
                        true);
}

QueryResult AskPolitely(LyricQuery& query, const std::string& request, LyricInfo& info,
                        const std::function<bool()>& isRunning, QuerySlots& slots) {
    auto pause = std::chrono::milliseconds(1s);
    for (int tries = 1;; ++tries) {
        if (!slots.Acquire()) return StoppedResult();
        LyricInfo answered;
        QueryResult answer = query.Execute(request, answered, isRunning);
        const bool busy = answer.status == QueryStatus::HttpStatus &&
                          (answer.httpStatus == 429 || answer.httpStatus == 503);
        slots.Release(busy);
        if (!busy || tries >= MaxTries) {
            info = std::move(answered);
            return answer;
        }
        const auto wait = answer.retryAfterSeconds >= 0
                              ? std::min<std::chrono::milliseconds>(
                                    std::chrono::seconds(answer.retryAfterSeconds), MaxRetryAfter)
                              : pause;
        pause *= 2;
        const auto until = std::chrono::steady_clock::now() + wait;
        while (isRunning() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                Slice, until - std::chrono::steady_clock::now()));
        if (!isRunning()) return StoppedResult();
    }
}

int RunConcurrentFolder(JobState& state, JobHost& host, const std::vector<ListedSong>& songs,
                        JobProgress& progress, const QueryMaker& makeQuery) {
    ConcurrentRun run(state, host, songs, progress, makeQuery);
    return run.Run();
}

}  // namespace quillon
