#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "application/session.h"

namespace quillon {

// The images of the log view; a log row shows the one of its event.
inline constexpr int LogIconInfo = 2;
inline constexpr int LogIconError = 3;
inline constexpr int LogIconStart = 4;
inline constexpr int LogIconSaved = 5;
inline constexpr int LogIconWarning = 6;
int LogIcon(JobEventKind kind);

// The window's caption while a folder run goes, "Quillon - Brantwell — 120/1,000"; without the
// count once it has ended, and "Quillon - Brantwell — 중지됨 120/1,000" once it was stopped.
std::u16string ProgressCaption(const JobProgress& progress);
inline constexpr char16_t WindowCaption[] = u"Quillon - Brantwell";

// What the controls hold: the data exchange of a window's controls into the presenter.
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

// What a window does for the presenter: its controls, views and dialogs, all on the window's
// own thread.
class DialogView {
public:
    virtual ~DialogView() = default;

    virtual ControlValues ReadControls() = 0;
    // The lyric view's rows, as runs fill them and the save command reads them.
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
    // A run has started on its worker; the controls show it already.
    virtual void JobStarted(DownloadMode mode) { (void)mode; }
    // How far a folder run has come, at most ten times a second and once more when it ends
    // (its summary then goes to the download button's tip). ShowCaption gets the window's
    // caption with the count, and the caption as it was at the end.
    virtual void ShowProgress(const JobProgress& progress) { (void)progress; }
    virtual void ShowCaption(std::u16string_view caption) { (void)caption; }
    // The run has ended and the controls are back.
    virtual void JobEnded(int result) { (void)result; }

    // The Open dialog (SingleFile) or the folder browser (Folder), starting at `current`;
    // nothing when cancelled.
    virtual std::optional<std::u16string> AskOpenPath(DownloadMode mode,
                                                      std::u16string_view current) = 0;
    virtual std::optional<SaveChoice> AskSaveFile(std::u16string_view folder,
                                                  std::u16string_view name, int filter) = 0;
    virtual void OpenWithViewer(const std::filesystem::path& file) = 0;
    // A question with the answers yes and no, `yesByDefault` telling which the window offers
    // first (the one that loses nothing).
    virtual bool AskYesNo(std::u16string_view question, bool yesByDefault) = 0;
};

// The window's rules, the same in every window: what each command does with the session and
// what the controls show when. A window draws, asks through its own dialogs and hands its
// commands here; it holds no rule of its own.
class DialogPresenter final : private RunObserver {
public:
    DialogPresenter(SettingsPort& settings, DialogView& view, JobOptions options = {});
    DialogPresenter(const DialogPresenter&) = delete;
    DialogPresenter& operator=(const DialogPresenter&) = delete;

    // How a run's events reach the window's thread: `wake` may be called on any thread and asks
    // that Drain() be called on the window's thread soon.
    void Connect(std::function<void()> wake);
    void Drain() { session.Deliver(); }

    LyricsSession& Session() { return session; }
    bool JobRunning() const { return session.Running(); }

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

private:
    void Logged(const JobEvent& event) override;
    void SongShown(const ShownSong& song) override;
    void Progressed(const JobProgress& progress) override;
    void RunEnded(const RunEnd& end) override;

    void ClearResults();
    void FinishJob(int result);
    ControlState IdleControls(bool saveEnabled) const;

    DialogView& view;
    DownloadMode shownMode = DownloadMode::SingleFile;
    DownloadMode runMode = DownloadMode::SingleFile;  // of the run started last
    // Last, so that it goes first: a run it stops may still reach the view.
    LyricsSession session;
};

}  // namespace quillon
