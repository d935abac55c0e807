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

#include "pipeline/job.h"
#include "pipeline/lrc.h"
#include "settings/settingsport.h"

namespace quillon {

struct JobContext;

// The images of the log view; a log row shows the one of its event.
inline constexpr int LogIconInfo = 2;
inline constexpr int LogIconError = 3;
inline constexpr int LogIconStart = 4;
inline constexpr int LogIconSaved = 5;
inline constexpr int LogIconWarning = 6;
int LogIcon(JobEventKind kind);

// A count with its thousands set apart by commas: 1,000.
std::u16string GroupedCount(int number);
// "저장 S곡, 실패 F곡, 건너뜀 K곡 (M분 S초)": a folder run's summary; ", UTF-16 LE로 저장 U곡"
// before the time when songs went to UTF-16 LE, and a stopped run's says so first and counts the
// songs it did not reach: "중지됨: 저장 S곡, 실패 F곡, 건너뜀 K곡, 남은 곡 N곡 (M분 S초)".
std::u16string SummaryText(const JobProgress& progress);
// The window's caption while a folder run goes, "Quillon - Brantwell — 120/1,000"; without the
// count once it has ended, and "Quillon - Brantwell — 중지됨 120/1,000" once it was stopped.
std::u16string ProgressCaption(const JobProgress& progress);
inline constexpr char16_t WindowCaption[] = u"Quillon - Brantwell";

// "HH:MM:SS.mmm", the time column of a log row.
std::u16string LogTimeText(int hour, int minute, int second, int millisecond);
// The same for the local time now.
std::u16string LogTimeNow();

// What the controls hold: the data exchange of a front end's controls into the application.
struct ControlValues {
    DownloadMode mode = DownloadMode::SingleFile;
    std::u16string pathText;     // what the path box shows
    std::filesystem::path path;  // the same as the system names it
    bool second = true;          // "2번째"
    bool third = true;           // "3번째 가사 포함"
};

// The controls a tip can point at.
enum class TipAnchor { Download, Save };

// What the dialog's controls show, by the rules of the window for the mode and the job.
struct ControlState {
    std::u16string_view downloadCaption;
    bool downloadEnabled = true;
    bool saveEnabled = false;
    bool modeEnabled = true;
    bool pathEnabled = true;
};

// What a mode shows: the download button's caption when idle, the caption of the view's frame,
// which of the two views, and what the browse button chooses.
struct ModeLayout {
    std::u16string_view downloadCaption;
    std::u16string_view viewCaption;
    bool lyricViewShown;  // else the log view
};
ModeLayout LayoutOf(DownloadMode mode);

// The file and file type a Save As dialog was confirmed with.
struct SaveChoice {
    std::filesystem::path file;
    int filter = 0;  // 0 ANSI, 1 UTF-16 BE, 2 UTF-16 LE
};

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

// What a front end does for the application: its controls, views and dialogs. Everything is
// called on the front end's own thread (see QuillonApplication::Connect).
class AppView {
public:
    virtual ~AppView() = default;

    virtual ControlValues ReadControls() = 0;
    // The lyric view's rows, as the composition and the save command read and fill them.
    virtual LyricView& LyricRows() = 0;
    // Deletes every row of the lyric view and of the log view.
    virtual void ClearViews() = 0;
    virtual void ShowInfoFields(std::u16string_view title, std::u16string_view artist,
                                std::u16string_view album) = 0;
    virtual void ShowControls(const ControlState& state) = 0;
    // Captions, the view shown and the browse button's target of `mode`.
    virtual void ShowMode(DownloadMode mode, const ModeLayout& layout) = 0;
    // Puts a text into the path box; the box's change runs OnPathChanged.
    virtual void ShowPath(std::u16string_view text) = 0;
    // A tip above the control, with a beep.
    virtual void ShowTipAt(TipAnchor anchor, std::u16string_view text, std::string_view cause) = 0;
    // A row of the log view; `cause` tells why a failure happened (empty for the others).
    virtual void AddLogRow(int icon, std::u16string_view time, std::u16string_view text,
                           std::string_view cause) = 0;
    // A job has started on its worker; the controls show it already.
    virtual void JobStarted(DownloadMode mode) { (void)mode; }
    // How far a folder run has come, at most ten times a second and once more when it ends
    // (its summary then goes to the download button's tip). ShowCaption gets the window's
    // caption with the count, and the caption as it was at the end.
    virtual void ShowProgress(const JobProgress& progress) { (void)progress; }
    virtual void ShowCaption(std::u16string_view caption) { (void)caption; }
    // The job has ended and the controls are back; for front ends that wait for it.
    virtual void JobEnded(int result) { (void)result; }

    // The front end's own dialogs and shell; a headless front end has none.
    // The Open dialog (SingleFile) or the folder browser (Folder), starting at `current`;
    // nothing when cancelled.
    virtual std::optional<std::u16string> AskOpenPath(DownloadMode mode,
                                                      std::u16string_view current) {
        (void)mode, (void)current;
        return std::nullopt;
    }
    virtual std::optional<SaveChoice> AskSaveFile(std::u16string_view folder,
                                                  std::u16string_view name, int filter) {
        (void)folder, (void)name, (void)filter;
        return std::nullopt;
    }
    virtual void OpenWithViewer(const std::filesystem::path& file) { (void)file; }
    // A question with the answers yes and no, `yesByDefault` telling which the window offers
    // first (the one that loses nothing); a front end that cannot ask says no.
    virtual bool AskYesNo(std::u16string_view question, bool yesByDefault) {
        (void)question, (void)yesByDefault;
        return false;
    }
};

// Options beyond the settings, from a command line; what is not given comes from the settings.
struct JobOptions {
    std::string host;                  // else QUILLON_SERVICE_HOST, else the setting
    std::optional<int> encoding;       // else the "Encoding" setting, read before each LRC file
    std::optional<bool> recursive;     // else IncludeSubfolders
    std::optional<bool> skipExisting;  // else SkipExisting
    std::optional<int> concurrency;    // else Concurrency
    std::optional<bool> embed;         // else EmbedLyrics
    // A file or folder to start with (the window's argument), else the last file in file mode.
    std::optional<std::filesystem::path> open;
};

// What every front end drives: the window's rules (what each command does, what the controls
// show when), the download job with its worker thread, saving, and what is stored at close. A
// front end draws, asks through its own dialogs and prints; it holds no job logic.
class QuillonApplication {
public:
    // The application waits this long for a stopping worker when it closes, and this long for a
    // worker that has announced its end.
    static constexpr std::chrono::milliseconds CloseWait{5000};
    static constexpr std::chrono::milliseconds EndWait{1000};

    QuillonApplication(SettingsPort& settings, AppView& view, JobOptions options = {});
    // Stops a running job as closing does, without storing anything.
    ~QuillonApplication();
    QuillonApplication(const QuillonApplication&) = delete;
    QuillonApplication& operator=(const QuillonApplication&) = delete;

    // How a worker's calls reach the front end's thread: `wake` may be called on any thread
    // and asks that Drain() be called on the front end's thread soon, once per call. A front
    // end whose thread only waits while a job runs (a headless one) may take the worker's calls
    // on the worker's thread instead (`callsOnWorker`); only the job's end comes through Drain.
    void Connect(std::function<void()> wake, bool callsOnWorker = false);
    // Runs the oldest call a worker has queued for the front end.
    void Drain();

    // The mode and path the window starts with: the last file in file mode, or what the
    // command line names, a folder in folder mode and anything else in file mode.
    DownloadMode InitialMode() const { return shownMode; }
    const std::u16string& InitialPath() const {
        return shownMode == DownloadMode::Folder ? lastDir : lastFile;
    }

    // Commands; each reads the controls first.
    void OnDownload();  // start, or stop a running job
    void OnSave();      // "가사 저장..."
    void OnViewRaw();   // "가사 원본 보기..."
    void OnBrowse();    // the path box's browse button
    void OnPathChanged();
    void OnModeChanged();
    // The close command: stops a running job, waiting for it up to CloseWait.
    void OnClose();
    // The window goes: stops a running job as OnClose does and stores the path of the mode.
    void OnDestroy();

    bool JobRunning() const { return worker.joinable(); }
    // The folder run's options as the settings hold them (IncludeSubfolders, SkipExisting),
    // for the window's menu items; a change is stored at once.
    bool FolderOption(SettingsPort::Option which);
    void SetFolderOption(SettingsPort::Option which, bool on);
    // The held answer of the last single-file run (empty after a path or mode change).
    const LyricInfo& HeldInfo() const;
    // Writes the rows of the lyric view with the held title, singer and album, as the save
    // command does, to `file` in `encoding`; the setting is not touched.
    WriteResult SaveLyricsTo(const std::filesystem::path& file, int encoding);
    // The encoding that save would keep every character in: `encoding`, unless that is ANSI and
    // the code page lacks some (then UTF-16 LE, with how many it lacks).
    LosslessChoice LosslessSaveEncoding(int encoding);
    // Stores the same text in the song's own tag.
    WriteResult EmbedLyricsIn(const std::filesystem::path& song);

    // Whether this build can store lyrics in a song's tag (not on Windows), and whether saving
    // and folder runs do (the command line's choice, else the EmbedLyrics setting).
    static bool CanEmbed();
    bool EmbedOn();

    // What the about box shows.
    AboutInfo About();
    // The settings dialog: what it shows, and what it stores when confirmed. ApplySettings
    // checks every value first and stores nothing when one is wrong; it returns why (Korean),
    // or nothing when they were stored.
    ServiceSettings CurrentSettings();
    std::optional<std::u16string> ApplySettings(const ServiceSettings& values);

    // Workers that were left running when their application closed and have not ended yet.
    static int LiveWorkers();

private:
    class Port;
    friend struct JobContext;

    void ClearResults();
    void StopWorker(std::chrono::milliseconds limit);
    void HandleJobEnd(std::uint64_t job, int result);
    void HandleEvent(const JobEvent& event);
    void HandleProgress(const JobProgress& progress);
    RunOptions ResolveRunOptions();
    void FinishJob(int result);
    ControlState IdleControls(bool saveEnabled) const;
    // The encoding of the next LRC file: the command line's, else the setting's.
    int EncodingForJob();
    // The lyrics service host a download asks: the command line's, the environment's, or the
    // setting's.
    std::string ServiceHostForJob();

    SettingsPort& settings;
    AppView& view;
    JobOptions options;
    DownloadMode shownMode = DownloadMode::SingleFile;
    std::u16string lastFile;
    std::u16string lastDir;
    std::shared_ptr<JobContext> job;
    std::function<void()> wake;
    bool callsOnWorker = false;
    std::thread worker;
    std::future<void> workerDone;
    std::uint64_t jobSerial = 0;
    std::chrono::steady_clock::time_point progressShown{};
};

}  // namespace quillon
