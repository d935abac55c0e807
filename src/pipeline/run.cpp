#include "pipeline/run.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "pipeline/messages.h"
#include "text/textconv.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

using namespace std::chrono_literals;

constexpr auto Slice = 20ms;  // how often a wait looks at the stop request

// How a row names a song's LRC file: "a.lrc" for "a.mp3" (with its folders in a run that
// includes subfolders).
std::u16string LrcName(const ListedSong& song) {
    return WithoutExtension(std::u16string_view(song.name)) + u".lrc";
}

// The last row of a stopped run, with the number of songs it did not reach.
JobEvent RunStoppedEvent(int notReached) {
    std::u16string text = text::RunStopped;
    text += u" (남은 곡 " + Utf8ToWide(std::to_string(notReached)) + u"곡)";
    return {JobEventKind::RunStopped, std::move(text), {}};
}

// One song in a one-file run: shown, or its failure as a tip.
int RunOneFile(const RunSpec& spec, RunListener& listener, const std::atomic<int>& running,
               const SourceMaker& makeSource) {
    const ListedSong song{spec.path, DisplayName(spec.path)};
    SongTask task(song, spec.plan);
    const bool asked = spec.held.lyric.empty();
    if (asked) {
        const std::unique_ptr<LyricSource> source = makeSource();
        task.Prepare(*source, {[&running] { return running.load() != 0; }, {}, nullptr});
    } else {
        task.LayOut(spec.held);
    }
    const SongResult& result = task.Result();
    if (result.outcome == SongOutcome::Failed) {
        const bool checksum = result.stage == SongStage::Checksum;
        listener.Logged({checksum ? JobEventKind::ChecksumFailed : JobEventKind::ServerFailed,
                         checksum ? text::ChecksumFailedTip : text::ServerFailedTip, result.cause});
        return 0;
    }
    if (result.outcome == SongOutcome::Stopped || running.load() == 0) return 0;
    listener.SongShown({result.info, result.rows, result.lrcBody, asked});
    return running.load() != 0 ? 1 : 0;
}

// A song of a folder run as the workers leave it for the run's own thread.
struct SongWork {
    std::optional<SongTask> task;
    bool asking = false;  // its query has begun
    bool ready = false;
};

class FolderRun {
public:
    FolderRun(const RunSpec& runSpec, RunListener& runListener, const std::atomic<int>& isRunning,
              const SourceMaker& maker, const std::vector<ListedSong>& list, JobProgress& counts)
        : spec(runSpec),
          listener(runListener),
          running(isRunning),
          makeSource(maker),
          songs(list),
          progress(counts),
          workers(runSpec.options.concurrency),
          limit(workers),
          work(list.size()) {}

    RunEnd Run() {
        std::vector<std::thread> threads;
        RunEnd end;
        try {
            for (int i = 0; i < workers; ++i) threads.emplace_back([this] { Work(); });
            end.result = ShowInOrder();
        } catch (const std::exception& error) {
            end.cause = error.what();
        }
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& thread : threads) thread.join();
        // A worker's failure ends the run as the system's.
        if (end.cause.empty() && !failure.empty()) end = {0, failure};
        return end;
    }

private:
    bool Stopped() const { return running.load() == 0 || stopping.load(); }

    // The workers: take the next song (never too far ahead of the one shown), find its lyric,
    // lay out its rows and write its LRC file ahead.
    void Work() {
        try {
            const std::unique_ptr<LyricSource> source = makeSource();
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
                Prepare(index, *source);
                {
                    std::lock_guard lock(mutex);
                    work[index].ready = true;
                }
                changed.notify_all();
            }
        } catch (const std::exception& error) {
            std::lock_guard lock(mutex);
            if (failure.empty()) failure = error.what();
            stopping = true;
        }
        changed.notify_all();
    }

    void Prepare(std::size_t index, LyricSource& source) {
        SongWork& song = work[index];
        song.task.emplace(songs[index], spec.plan);
        if (songs[index].unreadableFolder) return;
        Slots slots(*this);
        const FindContext context{[this] { return !Stopped(); },
                                  [this, &song] {
                                      {
                                          std::lock_guard lock(mutex);
                                          song.asking = true;
                                      }
                                      changed.notify_all();
                                  },
                                  &slots};
        song.task->Prepare(source, context);
    }

    // The queries in flight: at most `limit` of them, halved when the service is busy.
    class Slots final : public QuerySlots {
    public:
        explicit Slots(FolderRun& owner) : run(owner) {}
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
        FolderRun& run;
    };

    // The run's own thread: each song's rows and file in the songs' order. The song's start
    // row goes out as soon as its query begins, the rest once the song is ready.
    int ShowInOrder() {
        for (std::size_t index = 0; index < songs.size(); ++index) {
            SongWork& song = work[index];
            bool announced = false;
            for (;;) {
                bool asking = false;
                {
                    std::unique_lock lock(mutex);
                    while (!song.ready && !(song.asking && !announced) && !Stopped())
                        changed.wait_for(lock, Slice);
                    if (song.ready) break;
                    asking = song.asking;
                }
                if (Stopped()) return 0;
                if (asking && !announced) {
                    Announce(songs[index]);
                    announced = true;
                }
            }
            if (Stopped()) return 0;
            const SongResult& result = song.task->Result();
            if (!announced && !songs[index].unreadableFolder && result.stage != SongStage::Checksum)
                Announce(songs[index]);
            if (!Show(songs[index], *song.task)) return 0;
            song.task.reset();
            {
                std::lock_guard lock(mutex);
                shown = index + 1;
            }
            changed.notify_all();
        }
        return 1;
    }

    void Announce(const ListedSong& song) {
        listener.Logged(
            {JobEventKind::QueryStarted, FileMessage(text::QueryStarted, song.name), {}});
    }

    void Log(JobEventKind kind, std::u16string text, std::string cause = {}) {
        listener.Logged({kind, std::move(text), std::move(cause)});
    }

    // One song's rows after its start row; false when the run stopped at it.
    bool Show(const ListedSong& song, SongTask& task) {
        if (song.unreadableFolder) {
            Log(JobEventKind::FolderUnreadable, FileMessage(text::FolderUnreadable, song.name));
            return true;
        }
        const SongResult& prepared = task.Result();
        switch (prepared.outcome) {
            case SongOutcome::Stopped:
                return false;
            case SongOutcome::Failed:
                Log(prepared.stage == SongStage::Checksum ? JobEventKind::ChecksumFailed
                                                          : JobEventKind::ServerFailed,
                    FileMessage(prepared.stage == SongStage::Checksum ? text::ChecksumFailed
                                                                      : text::ServerFailed,
                                song.name),
                    prepared.cause);
                ++progress.failed;
                break;
            case SongOutcome::Instrumental:
                break;
            default: {
                if (running.load() == 0) return false;
                listener.SongShown({prepared.info, prepared.rows, prepared.lrcBody, true});
                if (running.load() == 0) return false;
                const bool hasFile = prepared.outcome == SongOutcome::Shown && prepared.hasFile();
                const SongResult& result = task.Finish();
                if (!hasFile) break;
                Log(JobEventKind::InfoLogged, InfoText(result.info));
                if (result.outcome != SongOutcome::Saved) {
                    ++progress.failed;
                    Log(JobEventKind::LrcSaveFailed, FileMessage(text::LrcSaveFailed, song.name),
                        result.cause);
                    break;
                }
                ++progress.saved;
                Log(JobEventKind::LrcSaved, FileMessage(text::LrcSaved, song.name));
                if (result.lost > 0) {
                    ++progress.savedAsUtf16;
                    listener.Logged(SavedAsUtf16Event(LrcName(song), result.lost));
                }
                if (result.tagFailed)
                    Log(JobEventKind::TagSaveFailed, FileMessage(text::TagSaveFailed, song.name),
                        result.tagCause);
            }
        }
        ++progress.done;
        listener.Progressed(progress);
        return true;
    }

    const RunSpec& spec;
    RunListener& listener;
    const std::atomic<int>& running;
    const SourceMaker& makeSource;
    const std::vector<ListedSong>& songs;
    JobProgress& progress;
    const int workers;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;   // the next song a worker takes
    std::size_t shown = 0;  // songs shown so far
    int inFlight = 0;
    int limit;
    std::atomic<bool> stopping{false};
    std::string failure;  // a worker's, in the system's words
    std::vector<SongWork> work;
};

RunEnd RunFolder(const RunSpec& spec, RunListener& listener, const std::atomic<int>& running,
                 const SourceMaker& makeSource) {
    const auto started = std::chrono::steady_clock::now();
    JobProgress progress;
    std::vector<ListedSong> songs;
    for (ListedSong& song : ListSongs(spec.path, spec.options.recursive)) {
        // A song whose LRC file is there already is passed over without a word.
        std::error_code ec;
        if (!song.unreadableFolder && spec.options.skipExisting &&
            fs::exists(LrcPathFor(song.path), ec)) {
            ++progress.skipped;
            continue;
        }
        progress.total += song.unreadableFolder ? 0 : 1;
        songs.push_back(std::move(song));
    }
    RunEnd end;
    if (running.load() != 0)
        end = FolderRun(spec, listener, running, makeSource, songs, progress).Run();
    // A folder run ends with its summary, however it ends.
    if (!end.cause.empty()) listener.Logged(RunFailedEvent(end.cause));
    progress.finished = true;
    progress.stopped = end.result == 0 && end.cause.empty();
    if (progress.stopped) listener.Logged(RunStoppedEvent(progress.NotReached()));
    progress.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    listener.Progressed(progress);
    return end;
}

}  // namespace

bool IsFailure(JobEventKind kind) {
    switch (kind) {
        case JobEventKind::LrcSaveFailed:
        case JobEventKind::ChecksumFailed:
        case JobEventKind::ServerFailed:
        case JobEventKind::FolderUnreadable:
        case JobEventKind::TagSaveFailed:
        case JobEventKind::RunFailed:
            return true;
        default:
            return false;
    }
}

EventTone ToneOf(JobEventKind kind) {
    switch (kind) {
        case JobEventKind::QueryStarted:
            return EventTone::Start;
        case JobEventKind::InfoLogged:
            return EventTone::Info;
        case JobEventKind::LrcSaved:
            return EventTone::Saved;
        case JobEventKind::SavedAsUtf16:
        case JobEventKind::RunStopped:
            return EventTone::Warning;
        default:
            return EventTone::Error;
    }
}

std::u16string FileMessage(std::u16string_view what, std::u16string_view name) {
    std::u16string text(what);
    text += u" (";
    text += name;
    text += u')';
    return text;
}

JobEvent SavedAsUtf16Event(std::u16string_view lrcName, std::size_t lost) {
    std::u16string what = text::AnsiLost;
    what += Utf8ToWide(std::to_string(lost));
    what += text::SavedAsUtf16;
    return {JobEventKind::SavedAsUtf16, FileMessage(what, lrcName), {}};
}

JobEvent RunFailedEvent(std::string cause) {
    return {JobEventKind::RunFailed, text::RunFailed, std::move(cause)};
}

std::u16string_view CheckJobPath(DownloadMode mode, const fs::path& path) {
    const bool single = mode == DownloadMode::SingleFile;
    if (path.empty()) return single ? text::ChooseFile : text::ChooseFolder;
    const PathKind kind = KindOfPath(path);
    if (single) {
        if (kind != PathKind::File) return text::InvalidFile;
    } else if (kind != PathKind::Folder) {
        return text::InvalidFolder;
    }
    return {};
}

std::u16string InfoText(const LyricInfo& info) {
    std::u16string text(text::TitleLabel);
    text += info.title;
    text += u", ";
    text += text::ArtistLabel;
    text += info.artist;
    text += u", ";
    text += text::AlbumLabel;
    text += info.album;
    return text;
}

RunEnd RunJob(const RunSpec& spec, RunListener& listener, const std::atomic<int>& running,
              const SourceMaker& makeSource) {
    if (spec.mode == DownloadMode::Folder) return RunFolder(spec, listener, running, makeSource);
    try {
        return {RunOneFile(spec, listener, running, makeSource), {}};
    } catch (const std::exception& error) {
        listener.Logged(RunFailedEvent(error.what()));
        return {0, error.what()};
    }
}

}  // namespace quillon
