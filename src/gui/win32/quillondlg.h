#pragma once

#include <windows.h>

#include <commctrl.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/presenter/dialogpresenter.h"
#include "gui/win32/browseedit.h"
#include "gui/win32/reportlistctrl.h"
#include "gui/win32/resource.h"
#include "gui/win32/tipwnd.h"

namespace quillon::win32 {

class ReportListView;

// The program's one window on Windows: the dialog of template 102, a view over the application
// layer. It draws and asks through the system's dialogs; what each command does, and what the
// controls show when, is the application's.
class CQuillonDlg : private DialogView {
public:
    // Wakes the window's thread for a run's events.
    static constexpr UINT WM_RUN_EVENTS = WM_APP + 2;
    // Asks for the next slice of lyric rows still to be appended.
    static constexpr UINT WM_APPEND_ROWS = WM_APP + 3;

    // `options.open`: a file or folder to start with instead of the last file.
    explicit CQuillonDlg(SettingsPort& settings, JobOptions options = {});
    virtual ~CQuillonDlg();
    CQuillonDlg(const CQuillonDlg&) = delete;
    CQuillonDlg& operator=(const CQuillonDlg&) = delete;

    // Runs the dialog modally until it closes.
    INT_PTR DoModal(HWND owner = nullptr);
    // Creates it without a loop of its own (the tests drive it with messages); destroyed with
    // the object or by Close.
    HWND Create(HWND owner = nullptr);
    HWND Handle() const { return dialog; }
    HWND Control(int id) const { return ::GetDlgItem(dialog, id); }
    ReportListCtrl& LyricList() { return lyricList; }
    ReportListCtrl& LogList() { return logList; }
    TipWnd& Tip() { return tip; }
    DialogPresenter& App() { return app; }
    // Whether lyric rows are still on their way into the list, a slice at a time.
    bool RowsWaiting() const;
    SIZE InitialSize() const { return initialSize; }

    // Shows `text` in the tip above control `id`, with a beep, black on yellow.
    void ShowTip(int id, const std::wstring& text);
    // Appends a log row with `image`, the local time and `text`, as a run's event does.
    void AppendLogRow(int image, const std::wstring& text);

    struct SaveChoice {
        std::wstring path;
        int filter = 0;  // 0 ANSI, 1 UTF-16 BE, 2 UTF-16 LE
    };

protected:
    // The system's dialogs and shell, replaced by the tests.
    virtual std::optional<std::wstring> ChooseFile(const std::wstring& folder);
    virtual std::optional<std::wstring> ChooseFolder(const std::wstring& start);
    virtual std::optional<SaveChoice> ChooseSaveFile(const std::wstring& folder,
                                                     const std::wstring& name, int filter);
    virtual void OpenRawLyrics(const std::wstring& path);
    virtual void RunAboutBox();
    // A yes-or-no question in a message box; true for yes.
    virtual bool Ask(const std::wstring& question, bool yesByDefault);
    // Tells the user why the settings dialog (`box`) stored nothing; the dialog stays open.
    virtual void ShowRefusal(HWND box, const std::wstring& text);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK SettingsProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(WORD id, WORD code);
    void OnSysCommand(WPARAM command);
    void OnSize();
    void OnClose();
    void OnDestroy();
    void RunSettingsDialog();

    // DialogView: what the application asks of the window.
    ControlValues ReadControls() override;
    LyricView& LyricRows() override;
    void ClearViews() override;
    void ShowInfoFields(std::u16string_view title, std::u16string_view artist,
                        std::u16string_view album) override;
    void ShowControls(const ControlState& state) override;
    void ShowMode(DownloadMode mode, const ModeLayout& layout) override;
    void ShowPath(std::u16string_view text) override;
    void ShowTipAt(TipAnchor anchor, std::u16string_view text, std::string_view cause) override;
    void FollowLog();  // the pending scroll to the log's newest row
    void AddLogRow(int image, std::u16string_view time, std::u16string_view text,
                   std::string_view cause) override;
    void JobStarted(DownloadMode mode) override;
    void JobEnded(int result) override;
    void ShowCaption(std::u16string_view caption) override;
    std::optional<std::u16string> AskOpenPath(DownloadMode mode,
                                              std::u16string_view current) override;
    std::optional<quillon::SaveChoice> AskSaveFile(std::u16string_view folder,
                                                   std::u16string_view name, int filter) override;
    void OpenWithViewer(const std::filesystem::path& file) override;
    bool AskYesNo(std::u16string_view question, bool yesByDefault) override;

    HWND dialog = nullptr;
    bool modal = false;
    bool ready = false;  // the controls hold the fields; their notifications count from now
    bool busy = false;   // the busy cursor while one file is queried
    // The log has rows it has not yet scrolled to: it scrolls once a FollowInterval, not once a
    // row, since each scroll redraws the list.
    bool followPending = false;
    static constexpr UINT_PTR FollowTimer = 1;
    static constexpr UINT FollowInterval = 40;  // ms
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    HIMAGELIST lyricImages = nullptr;
    HIMAGELIST logImages = nullptr;
    HWND sizeGrip = nullptr;
    ReportListCtrl lyricList;
    ReportListCtrl logList;
    BrowseEdit pathBox;
    TipWnd tip;
    std::unique_ptr<ReportListView> lyricRows;
    SIZE initialSize{};
    struct Anchored {
        int id;
        RECT initial;
        bool bottom;  // follows the bottom edge too
    };
    std::vector<Anchored> anchored;
    DialogPresenter app;
};

}  // namespace quillon::win32
