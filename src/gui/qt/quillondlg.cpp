#include "gui/qt/quillondlg.h"

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
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTreeView>
#include <QUrl>

#include <utility>
#include <vector>

#include "gui/qt/aboutdlg.h"
#include "gui/qt/browseedit.h"
#include "gui/qt/dialogunits.h"
#include "gui/qt/settingsdlg.h"
#include "gui/qt/widgets/reportlistctrl.h"
#include "settings/qttext.h"
#include "settings/settings.h"

// Resources of a static library have to be pulled in by name, outside any namespace.
static void InitAppResources() {
    Q_INIT_RESOURCE(quillon);
}

namespace fs = std::filesystem;

namespace quillon {
namespace {

// Paths in the window are Qt texts; the job works on the system's own bytes.
fs::path NativePath(const QString& text) {
    return fs::path(QFile::encodeName(text).toStdString());
}

QString DisplayPath(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
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
// thread.
class ReportListView final : public LyricView {
public:
    explicit ReportListView(ReportListCtrl& view) : list(view) {}

    int RowCount() override { return list.RowCount(); }
    int AppendRow() override { return list.AppendRow(0); }
    void SetCell(int row, int column, std::u16string_view text) override {
        list.SetCellText(row, column, ToQString(text));
    }
    std::u16string Cell(int row, int column) override {
        return list.CellText(row, column).toStdU16String();
    }
    void AppendRows(const std::vector<Row>& rows) override {
        QList<QStringList> texts;
        texts.reserve(static_cast<qsizetype>(rows.size()));
        for (const Row& row : rows)
            texts.append({QString(), ToQString(row[TimeColumn]), ToQString(row[LyricColumn])});
        list.AppendRows(0, texts);
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

CQuillonDlg::CQuillonDlg(SettingsStore& settings, JobOptions options, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      app(settings, *this, std::move(options)) {
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

    setWindowTitle(QStringLiteral("Quillon - Brantwell"));
    setWindowIcon(icon);
    setFont(DialogFont(QStringLiteral("Tahoma"), 8));
    BuildControls();
    lyricRows = std::make_unique<ReportListView>(*lyricView);

    // A run's events come over as queued calls to a child of the window, which go with it.
    auto* pump = new RunEventPump(app, this);
    app.Connect([pump] { QMetaObject::invokeMethod(pump, "Drain", Qt::QueuedConnection); });
}

CQuillonDlg::~CQuillonDlg() {
    app.OnDestroy();
    SetBusyCursor(false);
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
    pathEdit->setText(ToQString(app.Session().InitialPath()));
    secondBox->setChecked(true);
    thirdBox->setChecked(true);
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
    // The folder run's options, and storing the lyric in the song's tag (for folder runs and
    // saving) where the build can, kept in the settings as soon as they change.
    std::vector<std::pair<QString, SettingsPort::Option>> options{
        {QStringLiteral("하위 폴더 포함"), SettingsPort::Option::IncludeSubfolders},
        {QStringLiteral("가사 파일이 있는 곡 건너뛰기"), SettingsPort::Option::SkipExisting}};
    if (LyricsSession::CanEmbed())
        options.emplace_back(QStringLiteral("MP3 태그에도 가사 저장"),
                             SettingsPort::Option::EmbedLyrics);
    for (const auto& [caption, which] : options) {
        QAction* item = windowMenu->addAction(caption);
        item->setCheckable(true);
        connect(windowMenu, &QMenu::aboutToShow, item,
                [this, item, which] { item->setChecked(app.Session().FolderOption(which)); });
        connect(item, &QAction::triggered, this,
                [this, which](bool on) { app.Session().SetFolderOption(which, on); });
    }
    windowMenu->addSeparator();
    connect(windowMenu->addAction(QStringLiteral("설정(&S)...")), &QAction::triggered, this,
            &CQuillonDlg::ShowSettings);
    connect(windowMenu->addAction(QStringLiteral("Quillon 정보(&A)...")), &QAction::triggered, this,
            &CQuillonDlg::ShowAbout);

    pathEdit->SetTarget(BrowseEdit::Target::File);
    modeBox->addItem(QStringLiteral("파일선택"));
    modeBox->addItem(QStringLiteral("폴더선택"));
    modeBox->setCurrentIndex(static_cast<int>(DownloadMode::SingleFile));

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
    connect(pathEdit, &QLineEdit::textChanged, this, [this] { app.OnPathChanged(); });
    connect(pathEdit, &BrowseEdit::BrowseRequested, this, [this] { app.OnBrowse(); });
    connect(modeBox, &QComboBox::currentIndexChanged, this, [this] { app.OnModeChanged(); });
    // Started on a folder: folder mode, as choosing it shows it.
    if (app.Session().InitialMode() == DownloadMode::Folder) modeBox->setCurrentIndex(1);
}

ControlValues CQuillonDlg::ReadControls() {
    ControlValues values;
    values.mode = modeBox->currentIndex() == 1 ? DownloadMode::Folder : DownloadMode::SingleFile;
    values.pathText = pathEdit->text().toStdU16String();
    values.path = NativePath(pathEdit->text());
    values.second = secondBox->isChecked();
    values.third = thirdBox->isChecked();
    return values;
}

void CQuillonDlg::ClearViews() {
    lyricView->DeleteAllRows();
    logView->DeleteAllRows();
}

void CQuillonDlg::ShowInfoFields(std::u16string_view title, std::u16string_view artist,
                                 std::u16string_view album) {
    titleEdit->setText(ToQString(title));
    artistEdit->setText(ToQString(artist));
    albumEdit->setText(ToQString(album));
}

void CQuillonDlg::ShowControls(const ControlState& state) {
    downloadButton->setText(ToQString(state.downloadCaption));
    downloadButton->setEnabled(state.downloadEnabled);
    saveButton->setEnabled(state.saveEnabled);
    modeBox->setEnabled(state.modeEnabled);
    pathEdit->setEnabled(state.pathEnabled);
}

void CQuillonDlg::ShowMode(DownloadMode mode, const ModeLayout& layout) {
    downloadButton->setText(ToQString(layout.downloadCaption));
    viewGroup->setTitle(ToQString(layout.viewCaption));
    pathEdit->SetTarget(mode == DownloadMode::SingleFile ? BrowseEdit::Target::File
                                                         : BrowseEdit::Target::Folder);
    lyricView->setVisible(layout.lyricViewShown);
    logView->setVisible(!layout.lyricViewShown);
}

void CQuillonDlg::ShowPath(std::u16string_view text) {
    pathEdit->setText(ToQString(text));
}

void CQuillonDlg::ShowTipAt(TipAnchor anchor, std::u16string_view text, std::string_view cause) {
    // The cause goes on a line of its own below the message.
    QString shown = ToQString(text);
    if (!cause.empty())
        shown += u'\n' + QString::fromUtf8(cause.data(), static_cast<qsizetype>(cause.size()));
    ShowTip(anchor == TipAnchor::Save ? IdSave : IdDownload, shown);
}

void CQuillonDlg::AddLogRow(int image, std::u16string_view time, std::u16string_view text,
                            std::string_view cause) {
    // The log follows its newest row, unless the user has scrolled up to read an older one.
    const QScrollBar* bar = logView->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int row = logView->AppendRow(image);
    logView->SetCellText(row, 1, ToQString(time));
    logView->SetCellText(row, 2, ToQString(text));
    if (!cause.empty())
        logView->SetRowTip(row,
                           QString::fromUtf8(cause.data(), static_cast<qsizetype>(cause.size())));
    if (following) logView->scrollToBottom();
}

void CQuillonDlg::JobStarted(DownloadMode mode) {
    // Nothing else shows that a single query is under way, and it may take a minute.
    if (mode == DownloadMode::SingleFile) SetBusyCursor(true);
}

void CQuillonDlg::JobEnded(int) {
    SetBusyCursor(false);
}

void CQuillonDlg::ShowCaption(std::u16string_view caption) {
    setWindowTitle(ToQString(caption));
}

std::optional<std::u16string> CQuillonDlg::AskOpenPath(DownloadMode mode,
                                                       std::u16string_view current) {
    const QString chosen = ChooseOpenPath(mode, ToQString(current));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdU16String();
}

std::optional<quillon::SaveChoice> CQuillonDlg::AskSaveFile(std::u16string_view folder,
                                                            std::u16string_view name, int filter) {
    const std::optional<SaveChoice> choice =
        ChooseSaveFile(ToQString(folder), ToQString(name), filter);
    if (!choice) return std::nullopt;
    return quillon::SaveChoice{NativePath(choice->path), choice->filter};
}

void CQuillonDlg::OpenWithViewer(const fs::path& file) {
    OpenRawLyrics(DisplayPath(file));
}

void CQuillonDlg::OnDownload() {
    app.OnDownload();
}

void CQuillonDlg::SaveLyricsAs() {
    app.OnSave();
}

void CQuillonDlg::ViewRawLyrics() {
    app.OnViewRaw();
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

void CQuillonDlg::SetBusyCursor(bool busy) {
    if (busy == busyCursor) return;
    busyCursor = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
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
    return ToQString(LogTimeText(time.hour(), time.minute(), time.second(), time.msec()));
}

void CQuillonDlg::AppendLogRow(int kind, const QString& text) {
    AddLogRow(kind, LogTimeNow(), text.toStdU16String(), {});
}

void CQuillonDlg::OpenRawLyrics(const QString& textPath) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(textPath));
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
    CAboutDlg about(icon, app.Session().About(), this);
    about.exec();
}

void CQuillonDlg::ShowSettings() {
    ReadControls();
    RunSettingsDialog();
}

void CQuillonDlg::RunSettingsDialog() {
    CSettingsDlg dialog(app.Session(), this);
    dialog.exec();
}

bool CQuillonDlg::AskYesNo(std::u16string_view question, bool yesByDefault) {
    return Ask(ToQString(question), yesByDefault);
}

bool CQuillonDlg::Ask(const QString& question, bool yesByDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quillon"), question,
                    QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(QStringLiteral("예(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("아니요(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yesByDefault ? yes : no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void CQuillonDlg::accept() {
    // The window has no OK command: Enter outside a push button does nothing.
}

void CQuillonDlg::reject() {
    app.OnClose();
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
