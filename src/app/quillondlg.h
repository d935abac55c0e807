#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTime>

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "app/jobhost.h"
#include "audio/checksum.h"
#include "pipeline/job.h"
#include "widgets/tipwnd.h"

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

// Everything a job shares with its worker thread. The worker holds it too, so a worker that
// outlives the window (it did not stop in time when the window closed) still finds it.
struct JobContext {
    JobState state;  // mode, path, includeLine, isRunning, heldInfo, lrcBody
    AudioChecksummer checksummer;
    std::unique_ptr<LyricQuery> query;
    WindowJobHost host{state.isRunning};

    JobContext();
    ~JobContext();
};

// The program's one window: choose a file or a folder, download its lyrics, save them, and
// watch the log of a folder run.
class CQuillonDlg : public QDialog, private JobWindow {
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

    // The window waits this long for a stopping worker when it closes, and this long for a
    // worker that has announced its end.
    static constexpr std::chrono::milliseconds CloseWait{5000};
    static constexpr std::chrono::milliseconds EndWait{1000};

    explicit CQuillonDlg(SettingsStore& settings, QWidget* parent = nullptr);
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
    bool JobRunning() const;

    // Commands.
    void OnDownload();
    void SaveLyricsAs();
    void ViewRawLyrics();
    void ShowAbout();

    // Shows `text` in the tip above control `id`, with a beep, black on yellow.
    void ShowTip(int id, const QString& text);
    // Appends a log row with the image `kind`, the local time and `text`; neither scrolls nor
    // selects.
    void AppendLogRow(int kind, const QString& text);
    static QString FormatLogTime(const QTime& time);

    // Workers that were left running when their window closed and have not ended yet.
    static int LiveWorkers();

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

    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The data exchange: the controls into the fields.
    void ReadControls();
    void OnPathChanged();
    void OnModeChanged();
    void OnBrowse();
    // Empties heldInfo, the three fields and both views and disables the save button.
    void ClearResults();
    void ClearInfoFields();
    // Stops a running worker and waits for it as long as `limit`; a worker that is still busy
    // then is left to finish on its own.
    void StopWorker(std::chrono::milliseconds limit);
    // The job end steps: controls back to idle, the save button as the result says.
    void FinishJob(int result);
    // The busy cursor over the window while a single file is queried.
    void SetBusyCursor(bool busy);

    // JobWindow
    LyricView& JobLyricView() override;
    void ShowInfoFields(const QString& title, const QString& artist, const QString& album) override;
    void HandleJobMessage(int kind, const QString& text) override;
    void HandleJobEnd(std::uint64_t job, int result) override;

    void BuildControls();
    template <class W>
    W* Add(int id, W* widget, QRect units);

    SettingsStore& settings;

    // Fields the controls are read into.
    QString path;
    DownloadMode mode = DownloadMode::SingleFile;
    int includeSecond = 1;
    int includeThird = 1;
    QString lastFile;
    QString lastDir;

    std::shared_ptr<JobContext> job;
    std::thread worker;
    std::future<void> workerDone;
    std::uint64_t jobSerial = 0;
    bool busyCursor = false;
    std::unique_ptr<LyricView> lyricRows;

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
};

}  // namespace quillon
