#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "pipeline/lrc.h"
#include "pipeline/run.h"
#include "settings/settingsport.h"

namespace quillon {

struct RunContext;

// A count with its thousands set apart by commas: 1,000.
std::u16string GroupedCount(int number);
// "저장 S곡, 실패 F곡, 건너뜀 K곡 (M분 S초)": a folder run's summary; ", UTF-16 LE로 저장 U곡"
// before the time when songs went to UTF-16 LE, and a stopped run's says so first and counts the
// songs it did not reach: "중지됨: 저장 S곡, 실패 F곡, 건너뜀 K곡, 남은 곡 N곡 (M분 S초)".
std::u16string SummaryText(const JobProgress& progress);
// "HH:MM:SS.mmm", the time of a log row.
std::u16string LogTimeText(int hour, int minute, int second, int millisecond);
// The same for the local time now.
std::u16string LogTimeNow();

// What the about box shows besides the program's name and icon.
struct AboutInfo {
    std::u16string version;   // "Quillon 버전 1.1"
    std::u16string licence;   // "MIT 라이선스"
    std::u16string homepage;  // "https://…"
    std::u16string service;   // "가사 서비스: host:port", the one a download would ask
};

// The settings that have no control of their own in the window, as the settings dialog shows
// and takes them: texts, as typed.
struct ServiceSettings {
    std::u16string host;         // a name or an address, without the port
    std::u16string port;         // 1 to 65535
    std::u16string concurrency;  // songs in hand at once in a folder run, 1 to 16
};

// Options beyond the settings, from a command line; what is not given comes from the settings.
struct JobOptions {
    std::string host;                  // else QUILLON_SERVICE_HOST, else the setting
    std::optional<int> encoding;       // else the "Encoding" setting, read when a run starts
    std::optional<bool> recursive;     // else IncludeSubfolders
    std::optional<bool> skipExisting;  // else SkipExisting
    std::optional<int> concurrency;    // else Concurrency
    std::optional<bool> embed;         // else EmbedLyrics
    // A file or folder to start with (the window's argument), else the last file in file mode.
    std::optional<std::filesystem::path> open;
};

// A run as the user asks for it.
struct RunRequest {
    DownloadMode mode = DownloadMode::SingleFile;
    std::filesystem::path path;
    bool second = true;  // keep the second line of each time
    bool third = true;   // keep the third
};

// Whether a run started, and when not, why: a refusal of its path (the tip's text), or the
// system's words when no worker could be started.
struct StartResult {
    bool started = false;
    std::u16string refusal;
    std::string cause;
};

// What a front end is told of a run, on the thread that calls LyricsSession::Deliver.
class RunObserver : public RunListener {
public:
    // The run has ended; the session no longer runs it. Comes last.
    virtual void RunEnded(const RunEnd& end) = 0;
};

// The raw lyric view's outcome: the file to open, and a note when it is not beside the song
// (with its cause); nothing to open when no file could be written.
struct RawLyricFile {
    std::optional<std::filesystem::path> open;
    std::u16string note;
    std::string cause;
};

// What a user can do, whatever the front end: start a run and stop it, save the lyric shown,
// store it in the song's tag, view it raw, and the settings the program keeps. Each returns its
// result with a cause. A run goes on a worker thread of its own; its events reach the front
// end through Deliver, on the front end's thread, in order, and the worker never waits for it.
class LyricsSession {
public:
    // The session waits this long for a stopping worker when it closes, and this long for a
    // worker that has announced its end.
    static constexpr std::chrono::milliseconds CloseWait{5000};
    static constexpr std::chrono::milliseconds EndWait{1000};

    LyricsSession(SettingsPort& settings, JobOptions options = {});
    // Stops a running job as closing does.
    virtual ~LyricsSession();
    LyricsSession(const LyricsSession&) = delete;
    LyricsSession& operator=(const LyricsSession&) = delete;

    // Where a run's events go: `observer`, on the thread that calls Deliver. `wake` may be
    // called on any thread and asks that Deliver be called on the front end's thread soon. A
    // front end whose thread only waits while a run goes (a headless one) may take the events
    // on the worker's thread instead (`onWorker`); only the run's end comes through Deliver.
    void Connect(RunObserver& observer, std::function<void()> wake, bool onWorker = false);
    // Hands the events that have come to the observer, for a few milliseconds at most; wakes
    // again for the rest.
    void Deliver();

    // Starts a run unless one goes (or is winding down) or its path is refused.
    StartResult StartRun(const RunRequest& request);
    // Asks a running job to stop; it ends at its next check point and says so.
    void RequestStop();
    bool StopRequested() const;
    // Stops a running job and waits for it up to `limit`; a worker that does not end in time is
    // let go. Nothing of the run reaches the front end any more, its end included: true when
    // there was one, for the front end to end it itself.
    bool Stop(std::chrono::milliseconds limit = CloseWait);
    bool Running() const { return worker.joinable(); }

    // The mode and path a front end starts with: the last file in file mode, or what the
    // command line names, a folder in folder mode and anything else in file mode.
    DownloadMode InitialMode() const { return initialMode; }
    const std::u16string& InitialPath() const {
        return initialMode == DownloadMode::Folder ? lastDir : lastFile;
    }
    // The path of a mode as the user left it; stored with StorePaths.
    void RememberPath(DownloadMode mode, std::u16string_view text);
    const std::u16string& PathOf(DownloadMode mode) const {
        return mode == DownloadMode::Folder ? lastDir : lastFile;
    }
    void StorePath(DownloadMode mode, std::u16string_view text);

    // The lyric a one-file run found last (held until the path or the mode changes), and the
    // LRC lines of the rows it laid out; both empty when there is nothing to save.
    const LyricInfo& HeldInfo() const { return held; }
    bool HasRows() const { return !lrcBody.empty(); }
    void ForgetLyric();
    // Writes the rows (as the user left them) with the held title, singer and album, as the
    // save command does, to `file` in `encoding`.
    WriteResult SaveLyricsTo(const std::filesystem::path& file, int encoding, LyricView& rows);
    // The encoding that save would keep every character in: `encoding`, unless that is ANSI and
    // the code page lacks some (then UTF-16 LE, with how many it lacks).
    LosslessChoice LosslessSaveEncoding(int encoding, LyricView& rows);
    // Stores the same text in the song's own tag.
    WriteResult EmbedLyricsIn(const std::filesystem::path& song, LyricView& rows);
    // The save command's encoding: the command line's, else the setting; and the one the user
    // chose last, stored.
    int SaveEncoding();
    void StoreSaveEncoding(int encoding);
    // The held lyric as a UTF-16 text file beside the song, for the system's viewer. A file of
    // that name that is not what this view wrote is the user's: it is replaced only when
    // `replace` (asked with the question) says so, else the text goes to the temporary folder.
    RawLyricFile WriteRawLyric(const std::filesystem::path& song,
                               const std::function<bool(std::u16string_view question)>& replace);

    // Whether this build can store lyrics in a song's tag (not on Windows), and whether saving
    // and folder runs do (the command line's choice, else the EmbedLyrics setting).
    static bool CanEmbed();
    bool EmbedOn();
    // The folder run's options as the settings hold them (IncludeSubfolders, SkipExisting); a
    // change is stored at once.
    bool FolderOption(SettingsPort::Option which);
    void SetFolderOption(SettingsPort::Option which, bool on);
    AboutInfo About();
    // The settings dialog: what it shows, and what it stores when confirmed. ApplySettings
    // checks every value first and stores nothing when one is wrong; it returns why (Korean),
    // or nothing when they were stored.
    ServiceSettings CurrentSettings();
    std::optional<std::u16string> ApplySettings(const ServiceSettings& values);

    // Workers that were left running when their session closed and have not ended yet.
    static int LiveWorkers();

protected:
    // Starts the worker thread; throws std::system_error as std::thread does.
    virtual std::thread StartWorker(std::function<void()> body);

private:
    class Forwarder;
    friend class Forwarder;

    RunSpec SpecFor(const RunRequest& request);
    std::string ServiceHost();
    void HandleRunEnd(std::uint64_t serial, const RunEnd& end);
    void ShowSong(const ShownSong& song);

    SettingsPort& settings;
    JobOptions options;
    DownloadMode initialMode = DownloadMode::SingleFile;
    std::u16string lastFile;
    std::u16string lastDir;
    LyricInfo held;
    std::u16string lrcBody;
    RunObserver* observer = nullptr;
    std::function<void()> wake;
    bool onWorker = false;
    std::shared_ptr<RunContext> run;
    std::thread worker;
    std::future<void> workerDone;
    std::uint64_t runSerial = 0;
};

}  // namespace quillon
