#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTime>

#include <memory>
#include <optional>

#include "gui/presenter/dialogpresenter.h"
#include "gui/qt/widgets/tipwnd.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace quillon {

class BrowseEdit;
class ReportListCtrl;
class SettingsStore;

// Hands a run's events to the presenter on the window's thread. The wake-up is a call by name
// that carries no data: the events themselves cross threads in the session's own locked queue,
// where the race detector sees their order.
class RunEventPump : public QObject {
    Q_OBJECT

public:
    RunEventPump(DialogPresenter& presenter, QObject* parent) : QObject(parent), app(presenter) {}
    Q_INVOKABLE void Drain() { app.Drain(); }

private:
    DialogPresenter& app;
};

// The program's one window: choose a file or a folder, download its lyrics, save them, and
// watch the log of a folder run.
class CQuillonDlg : public QDialog, private DialogView {
    Q_OBJECT

public:
    // Control identifiers of the window's layout.
    enum ControlId : int {
        IdCancel = 2,
        IdDownload = 1000,
        IdLyricView = 1002,
        IdSave = 1003,
        IdLogView = 1004,
        IdSecondLine = 1009,
        IdThirdLine = 1010,
        IdPath = 1017,
        IdFileGroup = 1018,
        IdInfoGroup = 1020,
        IdViewGroup = 1021,
        IdTitle = 1022,
        IdArtist = 1023,
        IdAlbum = 1024,
        IdTitleLabel = 1025,
        IdAlbumLabel = 1026,
        IdArtistLabel = 1027,
        IdMode = 1032,
    };

    // `options.open` names a file or folder to start with.
    explicit CQuillonDlg(SettingsStore& settings, JobOptions options = {},
                         QWidget* parent = nullptr);
    ~CQuillonDlg() override;

    // The control with the identifier, or nullptr (also for the static text, which has none).
    QWidget* Control(int id) const { return controls.value(id, nullptr); }
    ReportListCtrl* LyricListView() const { return lyricView; }
    ReportListCtrl* LogListView() const { return logView; }
    TipWnd& Tip() { return tip; }
    // The log view's images; a log row shows the one whose index is its message kind.
    const QList<QIcon>& LogImages() const { return logImages; }
    QSize InitialSize() const { return initialSize; }
    // The menu with "가사 원본 보기..." and "Quillon 정보(&A)...". Qt cannot add items to the
    // window's own menu in the title bar (most desktops have none), so a right-click anywhere on
    // the window but the lists pops it up instead.
    QMenu* WindowMenu() const { return windowMenu; }
    bool JobRunning() const { return app.JobRunning(); }
    DialogPresenter& App() { return app; }

    // Commands.
    void OnDownload();
    void SaveLyricsAs();
    void ViewRawLyrics();
    void ShowAbout();
    void ShowSettings();

    // Shows `text` in the tip above control `id`, with a beep, black on yellow.
    void ShowTip(int id, const QString& text);
    // Appends a log row with the image `kind`, the local time and `text`; neither scrolls nor
    // selects.
    void AppendLogRow(int kind, const QString& text);
    static QString FormatLogTime(const QTime& time);

    // Workers that were left running when their window closed and have not ended yet.
    static int LiveWorkers() { return LyricsSession::LiveWorkers(); }

    // Enter does nothing; Esc, the exit button and the close box close the window.
    void accept() override;
    void reject() override;

protected:
    // The file or folder dialog of the browse button; an empty text when cancelled.
    virtual QString ChooseOpenPath(DownloadMode mode, const QString& current);
    struct SaveChoice {
        QString path;
        int filter = 0;  // 0 ANSI, 1 UTF-16 BE, 2 UTF-16 LE
    };
    // The save dialog of the save command, starting in `folder` with `name` and `filter`.
    virtual std::optional<SaveChoice> ChooseSaveFile(const QString& folder, const QString& name,
                                                     int filter);
    // Gives a file dialog a size at which its columns can be read.
    void FitFileDialog(QFileDialog& dialog) const;
    // Hands the raw lyric text file to the system's viewer.
    virtual void OpenRawLyrics(const QString& path);
    // Runs the about box.
    virtual void RunAboutBox();
    // Runs the settings dialog.
    virtual void RunSettingsDialog();
    // A yes-or-no question in a message box; true for yes.
    virtual bool Ask(const QString& question, bool yesByDefault);

    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // DialogView: what the application asks of the window.
    ControlValues ReadControls() override;
    LyricView& LyricRows() override { return *lyricRows; }
    void ClearViews() override;
    void ShowInfoFields(std::u16string_view title, std::u16string_view artist,
                        std::u16string_view album) override;
    void ShowControls(const ControlState& state) override;
    void ShowMode(DownloadMode mode, const ModeLayout& layout) override;
    void ShowPath(std::u16string_view text) override;
    void ShowTipAt(TipAnchor anchor, std::u16string_view text, std::string_view cause) override;
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

    // The busy cursor over the window while a single file is queried.
    void SetBusyCursor(bool busy);

    void BuildControls();
    template <class W>
    W* Add(int id, W* widget, QRect units);

    std::unique_ptr<LyricView> lyricRows;
    bool busyCursor = false;

    QIcon icon;
    QList<QIcon> logImages;
    TipWnd tip;

    QMap<int, QWidget*> controls;
    QComboBox* modeBox = nullptr;
    BrowseEdit* pathEdit = nullptr;
    QPushButton* downloadButton = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* exitButton = nullptr;
    QLabel* sameTimeLabel = nullptr;
    QCheckBox* secondBox = nullptr;
    QCheckBox* thirdBox = nullptr;
    QGroupBox* fileGroup = nullptr;
    QLineEdit* titleEdit = nullptr;
    QLineEdit* albumEdit = nullptr;
    QLineEdit* artistEdit = nullptr;
    QGroupBox* infoGroup = nullptr;
    ReportListCtrl* lyricView = nullptr;
    ReportListCtrl* logView = nullptr;
    QGroupBox* viewGroup = nullptr;
    QMenu* windowMenu = nullptr;

    // Initial geometry of the controls that follow the window's edges.
    QSize initialSize;
    struct Anchored {
        QWidget* widget;
        QRect initial;
        bool bottom;  // follows the bottom edge too
    };
    QList<Anchored> anchored;

    // Last, so that it goes first: a job it stops may still touch the controls.
    DialogPresenter app;
};

}  // namespace quillon
