#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/lrc.h"
#include "pipeline/lyricview.h"
#include "service/lyricinfo.h"

namespace quillon {

class AudioChecksummer;
class LyricQuery;

// The index of the mode combo box.
enum class DownloadMode : int { SingleFile = 0, Folder = 1 };

// What the job tells whoever runs it. Each front end shows an event its own way: in Folder mode
// as a log row, in SingleFile mode (the failures only) as a tip.
enum class JobEventKind {
    QueryStarted,      // the lyric query of a file begins (Folder)
    InfoLogged,        // title, singer and album of a file whose LRC file is written (Folder)
    LrcSaved,          // the LRC file of a file is written (Folder)
    LrcSaveFailed,     // the LRC file of a file could not be written (Folder)
    ChecksumFailed,    // a file has no checksum
    ServerFailed,      // the service gave no lyric for a file
    FolderUnreadable,  // a subfolder of a run that includes them cannot be read (Folder)
    TagSaveFailed,     // the lyric could not be stored in a file's own tag (Folder)
    SavedAsUtf16,      // an LRC file went to UTF-16 LE: the ANSI code page lacks some of it
    RunStopped,        // the run was stopped before its end (Folder), the last row
};

struct JobEvent {
    JobEventKind kind;
    std::u16string text;  // what the user reads: the log row's text, or the tip's
    std::string cause;    // why a failure happened, in the words of the library or the system
};

// True for the events that report a failure.
inline bool IsFailure(JobEventKind kind) {
    return kind == JobEventKind::LrcSaveFailed || kind == JobEventKind::ChecksumFailed ||
           kind == JobEventKind::ServerFailed || kind == JobEventKind::FolderUnreadable ||
           kind == JobEventKind::TagSaveFailed;
}

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

// What a folder run does beyond the folder itself.
struct RunOptions {
    bool recursive = false;     // every folder below the chosen one too
    bool skipExisting = false;  // pass over songs whose LRC file exists
    int concurrency = 1;        // songs in hand at once (1 to 16)
    // Stores a song's LRC text in the song's own tag as well, once its LRC file is written,
    // given the audio checksum the lyric was found by; empty when the run does not.
    std::function<WriteResult(const std::filesystem::path& song, std::u16string_view lrcText,
                              std::string_view checksum)>
        embed;
};

// The state the window shares with the worker for the length of a job.
struct JobState {
    DownloadMode mode = DownloadMode::SingleFile;
    std::filesystem::path path;
    int includeLine[3] = {1, 1, 1};
    // 1 while a job runs; the window stores 0 to ask the worker to stop.
    std::atomic<int> isRunning{0};
    LyricInfo heldInfo;  // SingleFile: the answer of the last successful query
    std::u16string lrcBody;
    RunOptions options;  // Folder only
};

// Whoever runs a job: the application layer (for the window and the command-line front end), or
// a test. The lyric view's operations and SetInfoFields are carried out before they return.
// Events may be queued, but must reach the receiver in order, each with its own text; `wait`
// asks that this one has been taken before the call returns.
class JobHost {
public:
    virtual ~JobHost() = default;
    // The view the job's lyric rows go to.
    virtual LyricView& Lyrics() = 0;
    virtual void SetInfoFields(const std::u16string& title, const std::u16string& artist,
                               const std::u16string& album) = 0;
    virtual void JobMessage(const JobEvent& event, bool wait) = 0;
    // The "Encoding" setting, read anew before each LRC file.
    virtual int EncodingSetting() = 0;
    // A song's rows in one go, each (icon, time, lyric), appended at the end of the lyric view.
    virtual void AppendLyricRows(const std::vector<LyricView::Row>& rows);
    // A folder run's progress after each song, and its summary at the end.
    virtual void JobProgressed(const JobProgress& progress) { (void)progress; }
};

// One folder's entries: the names that hold ".mp3" and are no folders, in the order the system
// lists them, named as the folder (ending with its separator) + name; and the names of its
// folders (links to folders left out), sorted. `readable` is false when it cannot be read.
struct FolderListing {
    bool readable = false;
    std::vector<std::filesystem::path> songs;
    std::vector<std::filesystem::path::string_type> folders;
};
FolderListing ListFolder(const std::filesystem::path::string_type& dir);

// What a folder run goes through, in order: songs, and the subfolders it could not read.
struct ListedSong {
    std::filesystem::path path;
    std::u16string name;  // as the log names it: base name and extension, or the path below
                          // the chosen folder in a run that includes subfolders
    bool unreadableFolder = false;
};
// The songs of `folder`: its own in the system's order, then, when `recursive`, those of each
// subfolder in turn, sorted by name.
std::vector<ListedSong> ListSongs(const std::filesystem::path& folder, bool recursive);

// Every entry of `folder` whose lower-cased name holds ".mp3" and that is not a directory, in
// the order the system lists them, named as folder + separator + name.
std::vector<std::filesystem::path> CollectMp3Files(const std::filesystem::path& folder);

// True when the name, its ASCII letters lower-cased, holds ".mp3" anywhere: "A.MP3" and
// "a.mp3.bak" both do.
template <class Char>
bool NameHoldsMp3(std::basic_string_view<Char> name) {
    constexpr Char wanted[] = {Char('.'), Char('m'), Char('p'), Char('3')};
    for (std::size_t at = 0; at + 4 <= name.size(); ++at) {
        bool same = true;
        for (std::size_t k = 0; k < 4 && same; ++k) {
            const Char c = name[at + k];
            same = (c >= Char('A') && c <= Char('Z') ? Char(c - 'A' + 'a') : c) == wanted[k];
        }
        if (same) return true;
    }
    return false;
}

// What a path names, as the system sees it.
enum class PathKind { Missing, File, Folder };
PathKind KindOfPath(const std::filesystem::path& path);

// The tip text that refuses to start a job on `path`, or an empty view when it may start.
std::u16string_view CheckJobPath(DownloadMode mode, const std::filesystem::path& path);

// The name a message shows for a file: base name and extension.
std::u16string DisplayName(const std::filesystem::path& path);

// "제목: T, 가수: A, 앨범: B", the log row of a song whose LRC file is written.
std::u16string InfoText(const LyricInfo& info);

// Runs one job on the calling thread; returns the job result (1, or 0 when stopped or, in
// SingleFile mode, when the file failed). The caller sets isRunning to 1 before and delivers
// the end notification after.
// A folder run with a concurrency above 1 makes one query of its own per song in hand.
using QueryMaker = std::function<std::unique_ptr<LyricQuery>()>;
int RunDownloadJob(JobState& state, JobHost& host, AudioChecksummer& checksummer, LyricQuery& query,
                   const QueryMaker& makeQuery = {});

}  // namespace quillon
