#include "app/quillondlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeView>
#include <QUrl>

#include <atomic>
#include <exception>
#include <system_error>
#include <utility>

#include "app/aboutdlg.h"
#include "app/browseedit.h"
#include "app/dialogunits.h"
#include "pipeline/lrc.h"
#include "pipeline/messages.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "settings/settings.h"
#include "widgets/reportlistctrl.h"

// Resources of a static library have to be pulled in by name, outside any namespace.
static void InitAppResources() {
    Q_INIT_RESOURCE(quillon);
}

namespace fs = std::filesystem;

namespace quillon {
namespace {

std::atomic<int> liveWorkers{0};

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// Paths in the window are Qt texts; the job works on the system's own bytes.
fs::path NativePath(const QString& text) {
    return fs::path(QFile::encodeName(text).toStdString());
}

QString DisplayPath(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// The path without the extension of its file name (a dot in a folder's name does not count).
QString WithoutExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const qsizetype separator =
        qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
    return dot > separator ? path.left(dot) : path;
}

const QStringList& SaveFilters() {
    static const QStringList filters{
        QStringLiteral("표준 ANSI (*.lrc)"),
        QStringLiteral("유니코드 Big Endian (*.lrc)"),
        QStringLiteral("유니코드 Little Endian(*.lrc)"),
    };
    return filters;
}

// The lyric view as the composition and the save command read and fill it, on the window's
// thread. Rows the user deleted meanwhile are skipped quietly.
class ReportListView final : public LyricView {
public:
    explicit ReportListView(ReportListCtrl& view) : list(view) {}

    int RowCount() override { return list.RowCount(); }
    int AppendRow() override { return list.AppendRow(0); }
    void SetCell(int row, int column, std::u16string_view text) override {
        if (row >= 0 && row < list.RowCount()) list.SetCellText(row, column, ToQString(text));
    }
    std::u16string Cell(int row, int column) override {
        if (row < 0 || row >= list.RowCount()) return {};
        return list.CellText(row, column).toStdU16String();
    }

private:
    ReportListCtrl& list;
};

int LyricEditorKind(int column) {
    return column == LyricView::LyricColumn ? 0 : 2;
}

// Read-only boxes look like the window's background, as the system draws them.
void MakeReadOnly(QLineEdit* edit) {
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
}

}  // namespace

JobContext::JobContext() = default;
JobContext::~JobContext() = default;

CQuillonDlg::CQuillonDlg(SettingsStore& store, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      settings(store),
      job(std::make_shared<JobContext>()),
      lyricRows(nullptr) {
    InitAppResources();

    icon.addFile(QStringLiteral(":/quillon/icon-128.png"));
    icon.addFile(QStringLiteral(":/quillon/icon-128-16.png"));
    // Seven 16 x 16 images side by side, white standing for transparent.
    const QPixmap strip(QStringLiteral(":/quillon/bitmap-130.png"));
    for (int i = 0; i < strip.width() / 16; ++i) {
        QPixmap image = strip.copy(i * 16, 0, 16, 16);
        image.setMask(image.createMaskFromColor(Qt::white));
        logImages.append(QIcon(image));
    }

    lastFile = settings.LastOpenFile();
    lastDir = settings.LastOpenDir();
    path = lastFile;

    setWindowTitle(QStringLiteral("Quillon - Brantwell"));
    setWindowIcon(icon);
    setFont(DialogFont(QStringLiteral("Tahoma"), 8));
    BuildControls();
    lyricRows = std::make_unique<ReportListView>(*lyricView);

    job->host.Connect(this, this);
}

CQuillonDlg::~CQuillonDlg() {
    ReadControls();
    StopWorker(CloseWait);
    SetBusyCursor(false);
    job->host.Disconnect();
    if (!path.isEmpty()) {
        if (mode == DownloadMode::SingleFile) {
            settings.SetLastOpenFile(path);
        } else {
            settings.SetLastOpenDir(path);
        }
    }
}

template <class W>
W* CQuillonDlg::Add(int id, W* widget, QRect units) {
    const DialogUnits du(font());
    widget->setGeometry(du.Rect(units.x(), units.y(), units.width(), units.height()));
    if (id != -1) {
        controls.insert(id, widget);
        widget->setProperty("controlId", id);
    }
    return widget;
}

void CQuillonDlg::BuildControls() {
    const DialogUnits du(font());
    initialSize = du.Size(548, 265);
    resize(initialSize);

    // In the order of the layout, which is also the tab order.
    modeBox = Add(IdMode, new QComboBox(this), QRect(15, 16, 51, 50));
    // The layout's height includes the dropped-down list; the closed box is as tall as the
    // style makes it.
    modeBox->resize(modeBox->width(), modeBox->sizeHint().height());
    pathEdit = Add(IdPath, new BrowseEdit(this), QRect(72, 16, 202, 14));
    downloadButton = Add(IdDownload, new QPushButton(QStringLiteral("가사 다운로드"), this),
                         QRect(281, 14, 107, 28));
    saveButton =
        Add(IdSave, new QPushButton(QStringLiteral("가사 저장..."), this), QRect(395, 14, 65, 28));
    exitButton =
        Add(IdCancel, new QPushButton(QStringLiteral("종료(&X)"), this), QRect(467, 14, 65, 28));
    sameTimeLabel =
        Add(-1, new QLabel(QStringLiteral("동일 시각에 복수의 가사가  존재할 경우"), this),
            QRect(14, 36, 141, 8));
    secondBox =
        Add(IdSecondLine, new QCheckBox(QStringLiteral("2번째"), this), QRect(158, 36, 35, 10));
    thirdBox = Add(IdThirdLine, new QCheckBox(QStringLiteral("3번째 가사 포함"), this),
                   QRect(197, 36, 73, 10));
    fileGroup = Add(IdFileGroup, new QGroupBox(QStringLiteral("음악 파일 선택"), this),
                    QRect(6, 3, 535, 47));
    Add(IdTitleLabel, new QLabel(QStringLiteral("제목:"), this), QRect(14, 67, 20, 8));
    titleEdit = Add(IdTitle, new QLineEdit(this), QRect(38, 65, 150, 14));
    Add(IdAlbumLabel, new QLabel(QStringLiteral("앨범:"), this), QRect(195, 67, 21, 8));
    albumEdit = Add(IdAlbum, new QLineEdit(this), QRect(220, 65, 146, 14));
    Add(IdArtistLabel, new QLabel(QStringLiteral("가수:"), this), QRect(374, 67, 20, 8));
    artistEdit = Add(IdArtist, new QLineEdit(this), QRect(398, 65, 133, 14));
    infoGroup =
        Add(IdInfoGroup, new QGroupBox(QStringLiteral("음악 정보"), this), QRect(6, 53, 535, 34));
    lyricView = Add(IdLyricView, new ReportListCtrl(this), QRect(15, 102, 516, 150));
    logView = Add(IdLogView, new ReportListCtrl(this), QRect(15, 102, 516, 150));
    viewGroup =
        Add(IdViewGroup, new QGroupBox(QStringLiteral("가사보기"), this), QRect(6, 90, 535, 170));

    // Frames lie beneath what they frame, so that they never take its clicks.
    for (QGroupBox* group : {fileGroup, infoGroup, viewGroup}) group->lower();
    const QList<QWidget*> tabOrder{modeBox,    pathEdit,   downloadButton, saveButton,
                                   exitButton, secondBox,  thirdBox,       titleEdit,
                                   albumEdit,  artistEdit, lyricView,      logView};
    for (qsizetype i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
    for (QGroupBox* group : {fileGroup, infoGroup, viewGroup}) group->setFocusPolicy(Qt::NoFocus);

    // Only a focused button answers Enter; the window has no default button.
    for (QPushButton* button : {downloadButton, saveButton, exitButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // The fields go into the controls.
    MakeReadOnly(pathEdit);
    pathEdit->setText(path);
    secondBox->setChecked(includeSecond != 0);
    thirdBox->setChecked(includeThird != 0);
    for (QLineEdit* field : {titleEdit, albumEdit, artistEdit}) MakeReadOnly(field);

    // Never smaller than at start, never wider or narrower; a grip in the corner.
    setMinimumSize(initialSize);
    setMaximumSize(initialSize.width(), QWIDGETSIZE_MAX);
    setSizeGripEnabled(true);
    for (QWidget* widget : {static_cast<QWidget*>(fileGroup), static_cast<QWidget*>(infoGroup)})
        anchored.append({widget, widget->geometry(), false});
    for (QWidget* widget : {static_cast<QWidget*>(viewGroup), static_cast<QWidget*>(lyricView),
                            static_cast<QWidget*>(logView)})
        anchored.append({widget, widget->geometry(), true});

    windowMenu = new QMenu(this);
    connect(windowMenu->addAction(QStringLiteral("가사 원본 보기...")), &QAction::triggered, this,
            &CQuillonDlg::ViewRawLyrics);
    windowMenu->addSeparator();
    connect(windowMenu->addAction(QStringLiteral("Quillon 정보(&A)...")), &QAction::triggered, this,
            &CQuillonDlg::ShowAbout);

    pathEdit->SetTarget(BrowseEdit::Target::File);
    modeBox->addItem(QStringLiteral("파일선택"));
    modeBox->addItem(QStringLiteral("폴더선택"));
    modeBox->setCurrentIndex(static_cast<int>(mode));

    for (ReportListCtrl* view : {lyricView, logView})
        view->setSelectionMode(QAbstractItemView::SingleSelection);
    lyricView->SetImageList({QIcon(QStringLiteral(":/quillon/icon-129.png"))});
    lyricView->AddExtendedStyle(ReportListCtrl::GridLines | ReportListCtrl::FullRowSelect);
    lyricView->InsertColumn(0, QString(), Qt::AlignLeft, 18);
    lyricView->InsertColumn(1, QStringLiteral("시간"), Qt::AlignHCenter, 70);
    lyricView->InsertColumn(2, QStringLiteral("가사"), Qt::AlignLeft, 650);
    lyricView->EditorKindCallback = &LyricEditorKind;
    lyricView->LockColumns({0, 1});

    logView->SetImageList(logImages);
    logView->AddExtendedStyle(ReportListCtrl::GridLines | ReportListCtrl::FullRowSelect |
                              ReportListCtrl::LabelTip);
    logView->InsertColumn(0, QString(), Qt::AlignLeft, 18);
    logView->InsertColumn(1, QStringLiteral("로그출력시각"), Qt::AlignHCenter, 90);
    logView->InsertColumn(2, QStringLiteral("로그내용"), Qt::AlignLeft, 630);
    logView->LockColumns({0, 1, 2});

    logView->hide();
    saveButton->setEnabled(false);
    modeBox->setFocus();

    connect(downloadButton, &QPushButton::clicked, this, &CQuillonDlg::OnDownload);
    connect(saveButton, &QPushButton::clicked, this, &CQuillonDlg::SaveLyricsAs);
    connect(exitButton, &QPushButton::clicked, this, &CQuillonDlg::reject);
    connect(pathEdit, &QLineEdit::textChanged, this, &CQuillonDlg::OnPathChanged);
    connect(pathEdit, &BrowseEdit::BrowseRequested, this, &CQuillonDlg::OnBrowse);
    connect(modeBox, &QComboBox::currentIndexChanged, this, &CQuillonDlg::OnModeChanged);
}

bool CQuillonDlg::JobRunning() const {
    return worker.joinable();
}

int CQuillonDlg::LiveWorkers() {
    return liveWorkers.load();
}

void CQuillonDlg::ReadControls() {
    path = pathEdit->text();
    mode = modeBox->currentIndex() == 1 ? DownloadMode::Folder : DownloadMode::SingleFile;
    includeSecond = secondBox->isChecked() ? 1 : 0;
    includeThird = thirdBox->isChecked() ? 1 : 0;
}

void CQuillonDlg::ClearInfoFields() {
    for (QLineEdit* field : {titleEdit, artistEdit, albumEdit}) field->clear();
}

void CQuillonDlg::ClearResults() {
    job->state.heldInfo = LyricInfo{};
    ClearInfoFields();
    saveButton->setEnabled(false);
    lyricView->DeleteAllRows();
    logView->DeleteAllRows();
}

void CQuillonDlg::OnPathChanged() {
    ReadControls();
    ClearResults();
    if (path.isEmpty()) return;
    if (mode == DownloadMode::SingleFile) {
        lastFile = path;
    } else {
        lastDir = path;
    }
}

void CQuillonDlg::OnModeChanged() {
    ReadControls();
    ClearResults();
    if (mode == DownloadMode::SingleFile) {
        downloadButton->setText(QStringLiteral("가사 다운로드"));
        viewGroup->setTitle(QStringLiteral("가사 보기"));
        pathEdit->SetTarget(BrowseEdit::Target::File);
        lyricView->show();
        logView->hide();
        path = lastFile;
    } else {
        downloadButton->setText(QStringLiteral("가사 다운로드 개시"));
        viewGroup->setTitle(QStringLiteral("가사 다운로드 로그"));
        pathEdit->SetTarget(BrowseEdit::Target::Folder);
        lyricView->hide();
        logView->show();
        path = lastDir;
    }
    pathEdit->setText(path);
}

void CQuillonDlg::OnBrowse() {
    ReadControls();
    const QString chosen = ChooseOpenPath(mode, path);
    if (!chosen.isEmpty()) pathEdit->setText(chosen);
}

QString CQuillonDlg::ChooseOpenPath(DownloadMode target, const QString& current) {
    QFileDialog dialog(this);
    if (target == DownloadMode::SingleFile) {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(
            {QStringLiteral("MP3 음악 파일 (*.mp3)"), QStringLiteral("모든 파일 (*.*)")});
        // No file is preselected; the dialog opens where the current file lies.
        if (!current.isEmpty()) dialog.setDirectory(QFileInfo(current).absolutePath());
    } else {
        // The folder browser carries its prompt inside, which only Qt's own dialog can show.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setWindowTitle(QStringLiteral("폴더 찾아보기"));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::FileName, QStringLiteral("디렉토리 이름을 입력하세요:"));
        dialog.setDirectory(current.isEmpty() ? QDir::currentPath() : current);
    }
    FitFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

void CQuillonDlg::FitFileDialog(QFileDialog& dialog) const {
    // Wide enough for the name, size, type and date columns of the detail view to be read.
    const QFontMetrics metrics(dialog.font());
    dialog.resize(std::max(dialog.sizeHint().width(), metrics.averageCharWidth() * 110),
                  std::max(dialog.sizeHint().height(), metrics.height() * 26));
    // Qt's own dialog keeps fixed column widths; the columns after the name follow what they
    // hold, and the name takes the rest. A native dialog has no such view.
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

void CQuillonDlg::OnDownload() {
    ReadControls();
    JobState& state = job->state;
    // A press while a job runs asks it to stop. While a stopped job is still winding down the
    // press does nothing more: a second worker never starts beside the first.
    if (state.isRunning.load() != 0 || JobRunning()) {
        state.isRunning.store(0);
        return;
    }

    state.lrcBody.clear();
    ClearInfoFields();
    saveButton->setEnabled(false);
    lyricView->DeleteAllRows();
    logView->DeleteAllRows();

    const fs::path target = NativePath(path);
    const std::u16string_view refusal = CheckJobPath(mode, target);
    if (!refusal.empty()) {
        ShowTip(IdDownload, ToQString(refusal));
        return;
    }

    state.mode = mode;
    state.path = target;
    state.includeLine[0] = 1;
    state.includeLine[1] = includeSecond;
    state.includeLine[2] = includeThird;
    state.isRunning.store(1);
    job->query = std::make_unique<LyricQuery>(
        ResolveServiceHost(std::string_view(), settings.ServiceHost().toStdString()));

    std::promise<void> done;
    std::future<void> finished = done.get_future();
    const std::uint64_t serial = ++jobSerial;
    liveWorkers.fetch_add(1);
    try {
        worker = std::thread([context = job, serial, done = std::move(done)]() mutable {
            int result = 0;
            try {
                result = RunDownloadJob(context->state, context->host, context->checksummer,
                                        *context->query);
            } catch (const std::exception&) {
                result = 0;  // out of memory and the like: the job ends as if stopped
            }
            context->host.PostEnd(serial, result);
            done.set_value();
            // A worker that outlived its window releases the job's state (and the service
            // connection) before it counts itself out.
            context.reset();
            liveWorkers.fetch_sub(1);
        });
    } catch (const std::system_error&) {
        liveWorkers.fetch_sub(1);
        state.isRunning.store(0);
        return;
    }
    workerDone = std::move(finished);

    if (mode == DownloadMode::SingleFile) {
        downloadButton->setEnabled(false);
        // Nothing else shows that a single query is under way, and it may take a minute.
        SetBusyCursor(true);
    } else {
        downloadButton->setText(QStringLiteral("가사 다운로드 종료"));
    }
    modeBox->setEnabled(false);
    pathEdit->setEnabled(false);
}

void CQuillonDlg::StopWorker(std::chrono::milliseconds limit) {
    job->state.isRunning.store(0);
    if (!worker.joinable()) return;
    if (workerDone.wait_for(limit) == std::future_status::ready) {
        worker.join();
    } else {
        // It did not reach a check point in time. It keeps its own share of the job's state and
        // no longer reaches this window; the window goes on with a fresh state.
        const DownloadMode jobMode = job->state.mode;
        job->host.Disconnect();
        worker.detach();
        job = std::make_shared<JobContext>();
        job->state.mode = jobMode;
        job->host.Connect(this, this);
    }
    FinishJob(0);
}

void CQuillonDlg::HandleJobEnd(std::uint64_t serial, int result) {
    // An end that the window has already waited for (it closed meanwhile) is old news.
    if (!worker.joinable() || serial != jobSerial) return;
    if (workerDone.wait_for(EndWait) == std::future_status::ready) {
        worker.join();
    } else {
        worker.detach();
    }
    FinishJob(result);
}

void CQuillonDlg::SetBusyCursor(bool busy) {
    if (busy == busyCursor) return;
    busyCursor = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void CQuillonDlg::FinishJob(int result) {
    JobState& state = job->state;
    SetBusyCursor(false);
    modeBox->setEnabled(true);
    pathEdit->setEnabled(true);
    state.isRunning.store(0);
    if (state.mode == DownloadMode::SingleFile) {
        saveButton->setEnabled(result == 1);
        downloadButton->setEnabled(true);
        // A run laid out from the held answer asked nobody, yet the fields were emptied when it
        // started: show the answer's title, singer and album again.
        if (result == 1 && !state.heldInfo.lyric.empty()) {
            ShowInfoFields(ToQString(state.heldInfo.title), ToQString(state.heldInfo.artist),
                           ToQString(state.heldInfo.album));
        }
    } else {
        downloadButton->setText(QStringLiteral("가사 다운로드 개시"));
    }
}

LyricView& CQuillonDlg::JobLyricView() {
    return *lyricRows;
}

void CQuillonDlg::ShowInfoFields(const QString& title, const QString& artist,
                                 const QString& album) {
    titleEdit->setText(title);
    artistEdit->setText(artist);
    albumEdit->setText(album);
}

void CQuillonDlg::HandleJobMessage(int kind, const QString& text) {
    if (job->state.mode == DownloadMode::SingleFile) {
        if (Control(kind) != nullptr) ShowTip(kind, text);
    } else {
        AppendLogRow(kind, text);
    }
}

void CQuillonDlg::ShowTip(int id, const QString& text) {
    QWidget* control = Control(id);
    if (control == nullptr) return;
    if (!tip.IsCreated()) tip.Create(this);
    if (!tip.IsCreated()) return;
    const QPoint anchor = control->geometry().topLeft();
    QApplication::beep();
    tip.SetColors(QColor(255, 255, 0), QColor(0, 0, 0));
    tip.Show(anchor, text);
}

QString CQuillonDlg::FormatLogTime(const QTime& time) {
    return QString::asprintf("%02d:%02d:%02d.%03d", time.hour(), time.minute(), time.second(),
                             time.msec());
}

void CQuillonDlg::AppendLogRow(int kind, const QString& text) {
    const QTime now = QTime::currentTime();
    const int row = logView->AppendRow(kind);
    logView->SetCellText(row, 1, FormatLogTime(now));
    logView->SetCellText(row, 2, text);
}

void CQuillonDlg::ViewRawLyrics() {
    ReadControls();
    const JobState& state = job->state;
    if (JobRunning() || mode != DownloadMode::SingleFile || state.heldInfo.lyric.empty()) return;
    // Beside the music file, with ".txt" in place of its extension.
    fs::path::string_type name = LrcPathFor(NativePath(path)).native();
    name.resize(name.size() - 4);
    name += ".txt";
    const fs::path textPath(std::move(name));
    // The service's line feeds stay as they are.
    if (!WriteTextFileAtomically(textPath, state.heldInfo.lyric, EncodingUtf16BE)) return;
    OpenRawLyrics(DisplayPath(textPath));
}

void CQuillonDlg::OpenRawLyrics(const QString& textPath) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(textPath));
}

void CQuillonDlg::SaveLyricsAs() {
    ReadControls();
    JobState& state = job->state;
    if (JobRunning() || state.lrcBody.empty() || lyricView->RowCount() == 0) return;

    int encoding = settings.Encoding();
    // The dialog starts beside the music file, with its name.
    const QString start = path.isEmpty() ? QString() : WithoutExtension(path);
    const qsizetype separator =
        qMax(start.lastIndexOf(QLatin1Char('/')), start.lastIndexOf(QDir::separator()));
    const QString folder = start.left(separator + 1);
    const QString name = start.mid(separator + 1);
    const int filter = encoding >= 0 && encoding < SaveFilters().size() ? encoding : 0;

    const std::optional<SaveChoice> choice = ChooseSaveFile(folder, name, filter);
    if (!choice) return;
    encoding = choice->filter;

    ReportListView rows(*lyricView);
    const bool written = WriteTextFileAtomically(
        NativePath(choice->path), BuildSavedLyricsText(state.heldInfo, rows), encoding);
    settings.SetEncoding(encoding);
    if (!written) ShowTip(IdSave, ToQString(text::SaveFailedTip));
}

std::optional<CQuillonDlg::SaveChoice> CQuillonDlg::ChooseSaveFile(const QString& folder,
                                                                   const QString& name,
                                                                   int filter) {
    QFileDialog dialog(this);
    FitFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(SaveFilters());
    dialog.selectNameFilter(SaveFilters().at(filter));
    dialog.setDefaultSuffix(QStringLiteral("lrc"));
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    if (!name.isEmpty()) dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const int chosen = static_cast<int>(SaveFilters().indexOf(dialog.selectedNameFilter()));
    return SaveChoice{dialog.selectedFiles().constFirst(), chosen < 0 ? 0 : chosen};
}

void CQuillonDlg::ShowAbout() {
    ReadControls();
    RunAboutBox();
}

void CQuillonDlg::RunAboutBox() {
    CAboutDlg about(icon, this);
    about.exec();
}

void CQuillonDlg::accept() {
    // The window has no OK command: Enter outside a push button does nothing.
}

void CQuillonDlg::reject() {
    ReadControls();
    StopWorker(CloseWait);
    QDialog::reject();
}

void CQuillonDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A focused push button is pressed by Enter; anywhere else Enter does nothing.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled()) {
            button->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CQuillonDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int dw = width() - initialSize.width();
    const int dh = height() - initialSize.height();
    for (const Anchored& item : anchored) {
        QRect rect = item.initial;
        rect.setWidth(rect.width() + dw);
        if (item.bottom) rect.setHeight(rect.height() + dh);
        item.widget->setGeometry(rect);
    }
}

void CQuillonDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The lists answer a right-click with nothing; the window's commands are for the rest of it.
    for (QWidget* widget = childAt(event->pos()); widget != nullptr && widget != this;
         widget = widget->parentWidget()) {
        if (widget == lyricView || widget == logView) {
            event->accept();
            return;
        }
    }
    windowMenu->exec(event->globalPos());
}

}  // namespace quillon
