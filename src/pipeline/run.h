#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/listing.h"
#include "pipeline/songtask.h"
#include "service/lyricinfo.h"

namespace quillon {

// The index of the mode combo box.
enum class DownloadMode : int { SingleFile = 0, Folder = 1 };

// What a run tells whoever runs it. Each front end shows an event its own way: in Folder mode
// as a log row, in SingleFile mode (the failures only) as a tip.
enum class JobEventKind {
    QueryStarted,      // a song's lyric query begins: the song has started (Folder)
    InfoLogged,        // title, singer and album of a song whose LRC file is written (Folder)
    LrcSaved,          // the LRC file of a song is written (Folder)
    LrcSaveFailed,     // the LRC file of a song could not be written (Folder)
    ChecksumFailed,    // a song has no checksum
    ServerFailed,      // the service gave no lyric for a song
    FolderUnreadable,  // a subfolder of a run that includes them cannot be read (Folder)
    TagSaveFailed,     // the lyric could not be stored in a song's own tag (Folder)
    SavedAsUtf16,      // an LRC file went to UTF-16 LE: the ANSI code page lacks some of it
    RunStopped,        // the run was stopped before its end (Folder), the last row
    RunFailed,         // the run could not go on: the system failed it (out of memory, threads)
};

struct JobEvent {
    JobEventKind kind;
    std::u16string text;  // what the user reads: the log row's text, or the tip's
    std::string cause;    // why a failure happened, in the words of the library or the system
};

// True for the events that report a failure.
bool IsFailure(JobEventKind kind);
// What sort of news an event is, for the front ends' pictures and marks.
enum class EventTone { Info, Error, Start, Saved, Warning };
EventTone ToneOf(JobEventKind kind);

// How far a folder run has come, and at its end its summary.
struct JobProgress {
    int done = 0;          // songs dealt with
    int total = 0;         // songs to deal with (skipped ones not counted)
    int saved = 0;         // LRC files written
    int failed = 0;        // songs that failed: no checksum, no lyric from the service, no LRC file
    int skipped = 0;       // songs passed over for their LRC file
    int savedAsUtf16 = 0;  // of the saved ones, those written in UTF-16 LE instead of ANSI
    std::chrono::milliseconds elapsed{0};
    bool finished = false;
    bool stopped = false;  // ended by a stop request
    // Songs the run did not reach (or left as they were when it stopped).
    int NotReached() const { return total - done; }
};

// Songs in hand at once in a folder run.
inline constexpr int MinConcurrency = 1;
inline constexpr int MaxConcurrency = 16;

// What a folder run does beyond the folder itself.
struct RunOptions {
    bool recursive = false;     // every folder below the chosen one too
    bool skipExisting = false;  // pass over songs whose LRC file exists
    int concurrency = 1;        // MinConcurrency to MaxConcurrency, checked where it is read
};

// Everything a run needs, given when it starts: it asks its front end nothing on its way.
struct RunSpec {
    DownloadMode mode = DownloadMode::SingleFile;
    std::filesystem::path path;
    SongPlan plan;       // which lines to keep; in Folder mode the encoding and the tag too
    RunOptions options;  // Folder only
    LyricInfo held;      // SingleFile: a lyric found before, laid out again without asking
};

// A song laid out for the lyric view.
struct ShownSong {
    LyricInfo info;
    std::vector<LyricView::Row> rows;  // appended at the end of the view, in one go
    std::u16string lrcBody;            // the rows as LRC lines, what the save command needs
    bool asked = false;                // SingleFile: found just now rather than held
};

// How a run ended: 1 when it went through, 0 when it was stopped or (one file) failed; a cause
// when the system made it fail.
struct RunEnd {
    int result = 0;
    std::string cause;
};

// Where a run's events go, in order, from the thread that runs it. Nothing comes back: a
// front end that shows them on a thread of its own queues them.
class RunListener {
public:
    virtual ~RunListener() = default;
    virtual void Logged(const JobEvent& event) = 0;
    virtual void SongShown(const ShownSong& song) = 0;
    // A folder run's progress after each song, and its summary at the end.
    virtual void Progressed(const JobProgress& progress) { (void)progress; }
};

// "<what> (<name>)": a log row that names a song.
std::u16string FileMessage(std::u16string_view what, std::u16string_view name);
// "제목: T, 가수: A, 앨범: B", the log row of a song whose LRC file is written.
std::u16string InfoText(const LyricInfo& info);
// The warning row of a song whose LRC file went to UTF-16 LE because the ANSI code page lacks
// `lost` of its characters; it names the LRC file.
JobEvent SavedAsUtf16Event(std::u16string_view lrcName, std::size_t lost);
// A run the system made fail: "<what>: <cause>" in the event's cause.
JobEvent RunFailedEvent(std::string cause);

// The tip text that refuses to start a run on `path`, or an empty view when it may start.
std::u16string_view CheckJobPath(DownloadMode mode, const std::filesystem::path& path);

// Runs one job on the calling thread until it ends or `running` drops to 0. One file: its song
// found (or laid out again from `held`) and shown. A folder: its songs through `workers`
// concurrent song tasks, each with a source of its own; the rows go out and the files are put
// in place in the order of the songs, exactly as one song at a time would show them, and a
// service that answers 429 or 503 halves the queries in flight. A stop ends the run at the song
// in turn: no rows or files from there on. Failures of the system (no memory, no thread) end
// the run with their cause.
RunEnd RunJob(const RunSpec& spec, RunListener& listener, const std::atomic<int>& running,
              const SourceMaker& makeSource);

}  // namespace quillon
