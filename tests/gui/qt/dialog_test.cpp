// The window without a service: its layout, the modes, the checks before a job, the keys that
// close it or do nothing, resizing, the log rows and what it stores when it goes.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSizeGrip>
#include <QTest>

#include "gui/qt/aboutdlg.h"
#include "gui/qt/app_fixture.h"
#include "gui/qt/dialogunits.h"
#include "gui/qt/settingsdlg.h"
#include "pipeline/messages.h"
#include "quillon_version.h"

namespace quillon::testing {
namespace {

QString Title(Dlg& dlg, int id) {
    return static_cast<QGroupBox*>(dlg.Control(id))->title();
}

// Fills what a finished job leaves behind, to see what a change empties.
void FakeResults(Dlg& dlg) {
    for (int id : {Dlg::IdTitle, Dlg::IdArtist, Dlg::IdAlbum}) Field(dlg, id)->setText(u"x"_s);
    dlg.LyricListView()->AppendRow(0);
    dlg.LogListView()->AppendRow(2);
    Button(dlg, Dlg::IdSave)->setEnabled(true);
}

void ExpectResultsCleared(Dlg& dlg) {
    for (int id : {Dlg::IdTitle, Dlg::IdArtist, Dlg::IdAlbum})
        EXPECT_TRUE(Field(dlg, id)->text().isEmpty()) << id;
    EXPECT_EQ(dlg.LyricListView()->RowCount(), 0);
    EXPECT_EQ(dlg.LogListView()->RowCount(), 0);
    EXPECT_FALSE(Button(dlg, Dlg::IdSave)->isEnabled());
}

void SeedPaths() {
    SettingsStore seed;
    seed.SetLastOpenFile(u"/music/a.mp3"_s);
    seed.SetLastOpenDir(u"/music"_s);
}

class DialogTest : public AppTest {};

TEST_F(DialogTest, StartsInSingleFileModeWithTheLastFile) {
    SeedPaths();
    SettingsStore settings;
    Dlg dlg(settings);
    EXPECT_EQ(dlg.windowTitle(), u"Quillon - Brantwell"_s);
    EXPECT_EQ(ModeBox(dlg)->currentIndex(), 0);
    ASSERT_EQ(ModeBox(dlg)->count(), 2);
    EXPECT_EQ(ModeBox(dlg)->itemText(0), u"파일선택"_s);
    EXPECT_EQ(ModeBox(dlg)->itemText(1), u"폴더선택"_s);
    EXPECT_EQ(PathBox(dlg)->text(), u"/music/a.mp3"_s);
    EXPECT_TRUE(PathBox(dlg)->isReadOnly());
    EXPECT_TRUE(static_cast<QCheckBox*>(dlg.Control(Dlg::IdSecondLine))->isChecked());
    EXPECT_TRUE(static_cast<QCheckBox*>(dlg.Control(Dlg::IdThirdLine))->isChecked());
    EXPECT_FALSE(dlg.LyricListView()->isHidden());
    EXPECT_TRUE(dlg.LogListView()->isHidden());
    EXPECT_FALSE(Button(dlg, Dlg::IdSave)->isEnabled());
    EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드"_s);
    EXPECT_EQ(Title(dlg, Dlg::IdViewGroup), u"가사보기"_s);
    for (int id : {Dlg::IdTitle, Dlg::IdArtist, Dlg::IdAlbum})
        EXPECT_TRUE(Field(dlg, id)->isReadOnly()) << id;

    // Seven log images cut from the strip, white standing for transparent.
    ASSERT_EQ(dlg.LogImages().size(), 7);
    const QImage info = dlg.LogImages()[LogIconInfo].pixmap(16, 16).toImage();
    EXPECT_EQ(info.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(info.pixel(0, 0)), 0);
    EXPECT_GT(qAlpha(info.pixel(8, 8)), 0);
}

TEST_F(DialogTest, ControlsSitAndTabAsTheLayoutSays) {
    SettingsStore settings;
    Dlg dlg(settings);
    const DialogUnits du(dlg.font());
    EXPECT_EQ(dlg.size(), du.Size(548, 265));
    EXPECT_EQ(dlg.Control(Dlg::IdDownload)->geometry(), du.Rect(281, 14, 107, 28));
    // Both views share one place.
    EXPECT_EQ(dlg.Control(Dlg::IdLogView)->geometry(), du.Rect(15, 102, 516, 150));
    EXPECT_EQ(dlg.Control(Dlg::IdLyricView)->geometry(), du.Rect(15, 102, 516, 150));
    // A quarter of the average width and an eighth of the height, rounded.
    EXPECT_EQ(DialogUnits(7, 15).Rect(281, 14, 107, 28), QRect(492, 26, 187, 53));

    ModeBox(dlg)->setCurrentIndex(1);  // the log view takes its turn in the chain
    std::vector<int> order;
    QWidget* w = dlg.Control(Dlg::IdMode);
    do {
        if (w->property("controlId").isValid() && (w->focusPolicy() & Qt::TabFocus) != 0)
            order.push_back(w->property("controlId").toInt());
        w = w->nextInFocusChain();
    } while (w != dlg.Control(Dlg::IdMode) && order.size() < 40);
    EXPECT_EQ(order,
              (std::vector<int>{Dlg::IdMode, Dlg::IdPath, Dlg::IdDownload, Dlg::IdSave,
                                Dlg::IdCancel, Dlg::IdSecondLine, Dlg::IdThirdLine, Dlg::IdTitle,
                                Dlg::IdAlbum, Dlg::IdArtist, Dlg::IdLyricView, Dlg::IdLogView}));
}

TEST_F(DialogTest, ModeChangesSwapViewsCaptionsAndRememberedPaths) {
    SeedPaths();
    SettingsStore settings;
    TestDlg dlg(settings);

    FakeResults(dlg);
    ModeBox(dlg)->setCurrentIndex(1);
    ExpectResultsCleared(dlg);
    EXPECT_EQ(PathBox(dlg)->text(), u"/music"_s);
    EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드 개시"_s);
    EXPECT_EQ(Title(dlg, Dlg::IdViewGroup), u"가사 다운로드 로그"_s);
    EXPECT_TRUE(dlg.LyricListView()->isHidden());
    EXPECT_FALSE(dlg.LogListView()->isHidden());
    dlg.openAnswer = u"/elsewhere"_s;
    PathBox(dlg)->BrowseButton()->click();
    EXPECT_EQ(dlg.openAsked, std::vector<DownloadMode>{DownloadMode::Folder});

    FakeResults(dlg);
    ModeBox(dlg)->setCurrentIndex(0);
    ExpectResultsCleared(dlg);
    EXPECT_EQ(PathBox(dlg)->text(), u"/music/a.mp3"_s);
    EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드"_s);
    EXPECT_EQ(Title(dlg, Dlg::IdViewGroup), u"가사 보기"_s);
    EXPECT_FALSE(dlg.LyricListView()->isHidden());
    EXPECT_TRUE(dlg.LogListView()->isHidden());

    // A cancelled file dialog changes nothing; a chosen file is a path change.
    FakeResults(dlg);
    dlg.openAnswer.clear();
    PathBox(dlg)->BrowseButton()->click();
    EXPECT_EQ(dlg.LyricListView()->RowCount(), 1);
    dlg.openAnswer = u"/music/b.mp3"_s;
    PathBox(dlg)->BrowseButton()->click();
    EXPECT_EQ(dlg.openAsked.back(), DownloadMode::SingleFile);
    ExpectResultsCleared(dlg);

    ModeBox(dlg)->setCurrentIndex(1);
    EXPECT_EQ(PathBox(dlg)->text(), u"/elsewhere"_s);
    ModeBox(dlg)->setCurrentIndex(0);
    EXPECT_EQ(PathBox(dlg)->text(), u"/music/b.mp3"_s);
}

TEST_F(DialogTest, AStartThatCannotRunExplainsWhyInATip) {
    SettingsStore settings;
    TestDlg dlg(settings);
    dlg.move(100, 200);
    dlg.show();
    const fs::path file = Work("song.mp3");
    WriteFileBytes(file, "not really");
    const std::vector<std::tuple<int, QString, const char16_t*>> cases{
        {0, QString(), text::ChooseFile},         {0, Q(Work("missing.mp3")), text::InvalidFile},
        {0, Q(root / "work"), text::InvalidFile}, {1, QString(), text::ChooseFolder},
        {1, Q(file), text::InvalidFolder},        {1, Q(Work("missing")), text::InvalidFolder},
    };
    for (const auto& [mode, path, tip] : cases) {
        ModeBox(dlg)->setCurrentIndex(mode);
        PathBox(dlg)->setText(path);
        FakeResults(dlg);
        dlg.Tip().Hide();
        Button(dlg, Dlg::IdDownload)->click();
        // The views and fields are emptied before the tip tells what is wrong.
        ExpectResultsCleared(dlg);
        EXPECT_TRUE(dlg.Tip().isVisible()) << path.toStdString();
        EXPECT_EQ(dlg.Tip().Text(), QString::fromUtf16(tip)) << path.toStdString();
        EXPECT_FALSE(dlg.JobRunning());
    }
    EXPECT_EQ(dlg.Tip().BackgroundColor(), QColor(255, 255, 0));
    EXPECT_EQ(dlg.Tip().TextColor(), QColor(0, 0, 0));
    // Its lower left corner lies on the button's upper left one, moved by the anchor offset.
    const QPoint anchor = dlg.mapToGlobal(dlg.Control(Dlg::IdDownload)->geometry().topLeft());
    EXPECT_EQ(dlg.Tip().geometry().left(), anchor.x() + TipWnd::AnchorOffsetX);
    EXPECT_NEAR(dlg.Tip().geometry().bottom(), anchor.y(), 1);
}

TEST_F(DialogTest, EnterPressesOnlyAFocusedButtonAndEscCloses) {
    SettingsStore settings;
    TestDlg dlg(settings);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    for (QWidget* w :
         {dlg.Control(Dlg::IdPath), dlg.Control(Dlg::IdMode), dlg.Control(Dlg::IdSecondLine)}) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_Enter, Qt::KeypadModifier);
    }
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.Tip().isVisible());  // the download button was not pressed

    Button(dlg, Dlg::IdDownload)->setFocus();
    QTest::keyClick(Button(dlg, Dlg::IdDownload), Qt::Key_Return);
    EXPECT_EQ(dlg.Tip().Text(), QString::fromUtf16(text::ChooseFile));

    QTest::keyClick(ModeBox(dlg), Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    dlg.show();
    Button(dlg, Dlg::IdCancel)->click();
    EXPECT_FALSE(dlg.isVisible());
    dlg.show();
    EXPECT_TRUE(dlg.close());  // the close box
}

TEST_F(DialogTest, GrowsOnlyInHeightWithTheViews) {
    SettingsStore settings;
    Dlg dlg(settings);
    dlg.show();
    const QSize initial = dlg.InitialSize();
    ASSERT_EQ(dlg.size(), initial);
    auto* grip = dlg.findChild<QSizeGrip*>();
    ASSERT_NE(grip, nullptr);
    EXPECT_TRUE(grip->isVisible());
    std::map<int, QRect> before;
    for (int id : {Dlg::IdDownload, Dlg::IdFileGroup, Dlg::IdInfoGroup, Dlg::IdViewGroup,
                   Dlg::IdLyricView, Dlg::IdLogView})
        before[id] = dlg.Control(id)->geometry();

    dlg.resize(initial.width() + 100, initial.height() + 120);
    EXPECT_EQ(dlg.size(), QSize(initial.width(), initial.height() + 120));
    for (const auto& [id, rect] : before) {
        const bool grows = id == Dlg::IdViewGroup || id == Dlg::IdLyricView || id == Dlg::IdLogView;
        EXPECT_EQ(dlg.Control(id)->geometry(), rect.adjusted(0, 0, 0, grows ? 120 : 0)) << id;
    }
    EXPECT_EQ(grip->geometry().bottomRight(), dlg.rect().bottomRight());

    dlg.resize(initial.width() - 50, initial.height() - 50);
    EXPECT_EQ(dlg.size(), initial);
    EXPECT_EQ(dlg.Control(Dlg::IdLyricView)->geometry(), before[Dlg::IdLyricView]);
}

TEST_F(DialogTest, LogRowsAreAppendedWithTheirTimeAndImageFollowingTheNewestWithoutSelecting) {
    EXPECT_EQ(CQuillonDlg::FormatLogTime(QTime(9, 5, 3, 7)), u"09:05:03.007"_s);
    EXPECT_EQ(CQuillonDlg::FormatLogTime(QTime(23, 59, 59, 999)), u"23:59:59.999"_s);

    SettingsStore settings;
    Dlg dlg(settings);
    ModeBox(dlg)->setCurrentIndex(1);
    dlg.show();
    ReportListCtrl* log = dlg.LogListView();
    for (int i = 0; i < 60; ++i) dlg.AppendLogRow(2 + i % 4, QString::number(i));
    ASSERT_EQ(log->RowCount(), 60);
    const QRegularExpression time(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"_s);
    for (int i = 0; i < 60; ++i) {
        EXPECT_TRUE(time.match(log->CellText(i, 1)).hasMatch()) << i;
        EXPECT_EQ(log->CellText(i, 2), QString::number(i));
        EXPECT_EQ(LogKind(dlg, i), 2 + i % 4);
    }
    // The newest row stays in sight, unless the user scrolled up to read an older one.
    QScrollBar* bar = log->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(3);
    dlg.AppendLogRow(6, u"warning"_s);
    EXPECT_EQ(bar->value(), 3);
    EXPECT_EQ(LogKind(dlg, 60), 6);
    EXPECT_FALSE(log->selectionModel()->hasSelection());
}

TEST_F(DialogTest, WindowMenuOpensTheAboutBoxAndRawLyricsAndHoldsTheFolderOptions) {
    SettingsStore settings;
    TestDlg dlg(settings);
    const QList<QAction*> actions = dlg.WindowMenu()->actions();
    ASSERT_EQ(actions.size(), 8);
    EXPECT_EQ(actions[0]->text(), u"가사 원본 보기..."_s);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), u"하위 폴더 포함"_s);
    EXPECT_EQ(actions[3]->text(), u"가사 파일이 있는 곡 건너뛰기"_s);
    EXPECT_EQ(actions[4]->text(), u"MP3 태그에도 가사 저장"_s);
    EXPECT_TRUE(actions[5]->isSeparator());
    EXPECT_EQ(actions[6]->text(), u"설정(&S)..."_s);
    EXPECT_EQ(actions[7]->text(), u"Quillon 정보(&A)..."_s);
    // A choice is stored at once, and the menu shows what the settings hold.
    actions[3]->trigger();
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, u"Brantwell"_s, u"Quillon"_s);
    EXPECT_EQ(raw.value(u"Settings/SkipExisting"_s).toInt(), 1);
    EXPECT_FALSE(raw.contains(u"Settings/IncludeSubfolders"_s));
    raw.setValue(u"Settings/SkipExisting"_s, 0);
    raw.setValue(u"Settings/IncludeSubfolders"_s, 1);
    raw.sync();
    emit dlg.WindowMenu()->aboutToShow();
    EXPECT_TRUE(actions[2]->isChecked());
    EXPECT_FALSE(actions[3]->isChecked());
    actions[4]->trigger();
    EXPECT_EQ(raw.value(u"Settings/EmbedLyrics"_s).toInt(), 1);
    actions[6]->trigger();
    EXPECT_EQ(dlg.settingsDialogs, 1);
    actions[7]->trigger();
    EXPECT_EQ(dlg.aboutBoxes, 1);
    actions[0]->trigger();  // nothing to show before a lyric came
    EXPECT_TRUE(dlg.opened.isEmpty());

    // The about box names the version, the licence, the homepage and the service in use.
    raw.setValue(u"Settings/ServiceHost"_s, u"lyrics.example:8080"_s);
    raw.sync();
    CAboutDlg about(dlg.windowIcon(), dlg.App().Session().About());
    const auto label = [&](const char* name) {
        const auto* found = about.findChild<QLabel*>(QString::fromLatin1(name));
        return found ? found->toolTip() : QString();
    };
    EXPECT_EQ(label("version"), u"Quillon 버전 "_s + QString::fromLatin1(Version));
    EXPECT_EQ(label("licence"), u"MIT 라이선스"_s);
    EXPECT_EQ(label("homepage"), QString::fromLatin1(Homepage));
    EXPECT_EQ(label("service"), u"가사 서비스: lyrics.example:8080"_s);
    const auto buttons = about.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    about.show();
    buttons[0]->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

// The settings dialog refuses what it cannot store and says why; what it stores, it shows next.
TEST_F(DialogTest, SettingsDialogStoresValidValuesAndRefusesOthers) {
    struct RefusingDlg : CSettingsDlg {
        using CSettingsDlg::CSettingsDlg;
        QStringList refusals;
        void ShowRefusal(const QString& text) override { refusals.append(text); }
    };
    SettingsStore settings;
    TestDlg dlg(settings);
    RefusingDlg dialog(dlg.App().Session(), &dlg);
    EXPECT_EQ(dialog.HostField()->text(), u"localhost"_s);
    EXPECT_EQ(dialog.PortField()->text(), u"80"_s);
    const auto ok = dialog.findChildren<QPushButton*>().at(0);
    dialog.HostField()->setText(u"lyrics.example"_s);
    dialog.PortField()->setText(u"0"_s);
    ok->click();
    EXPECT_EQ(dialog.refusals, QStringList{QString::fromUtf16(text::PortInvalid)});
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.ServiceHost(), u"localhost"_s);
    dialog.PortField()->setText(u"8080"_s);
    dialog.ConcurrencyField()->setText(u"5"_s);
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.ServiceHost(), u"lyrics.example:8080"_s);
    EXPECT_EQ(settings.ReadOption(SettingsPort::Option::Concurrency), 5);
}

TEST_F(DialogTest, ClosingStoresThePathOfTheCurrentModeOnly) {
    {
        SettingsStore settings;
        TestDlg dlg(settings);
        ModeBox(dlg)->setCurrentIndex(1);  // nothing chosen: nothing stored
    }
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, u"Brantwell"_s, u"Quillon"_s);
    EXPECT_TRUE(raw.allKeys().filter(u"LastOpen"_s).isEmpty());

    const auto closeWith = [](int mode, const QString& folder, const QString& file) {
        SettingsStore settings;
        TestDlg dlg(settings);
        ModeBox(dlg)->setCurrentIndex(1);
        dlg.openAnswer = folder;
        PathBox(dlg)->BrowseButton()->click();
        ModeBox(dlg)->setCurrentIndex(0);
        dlg.openAnswer = file;
        PathBox(dlg)->BrowseButton()->click();
        ModeBox(dlg)->setCurrentIndex(mode);
    };
    closeWith(1, u"/music/folder"_s, u"/music/a.mp3"_s);
    SettingsStore settings;
    EXPECT_EQ(settings.LastOpenDir(), u"/music/folder"_s);
    EXPECT_TRUE(settings.LastOpenFile().isEmpty());
    closeWith(0, u"/music/other"_s, u"/music/b.mp3"_s);
    EXPECT_EQ(settings.LastOpenDir(), u"/music/folder"_s);
    EXPECT_EQ(settings.LastOpenFile(), u"/music/b.mp3"_s);
}

}  // namespace
}  // namespace quillon::testing
