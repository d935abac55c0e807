// Start-up: a network layer that cannot start ends the program with a message and touches no
// setting.
#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "gui/qt/app_fixture.h"
#include "gui/qt/quillonapp.h"

namespace quillon::testing {
namespace {

class StartupTest : public AppTest {};

// Answers the next modal window with `answer` once it is up.
void WhenModal(const std::function<void(QWidget*)>& answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start();
}

TEST_F(StartupTest, NetworkFailureShowsTheMessageAndEnds) {
    QString text, caption, ok;
    int buttons = 0;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            modal->close();
            return;
        }
        text = box->text();
        caption = box->windowTitle();
        buttons = static_cast<int>(box->buttons().size());
        ok = box->button(QMessageBox::Ok)->text();
        box->button(QMessageBox::Ok)->click();
    });
    CQuillonApp app([] { return false; });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(text, u"Windows 소켓 초기화에 실패하였습니다."_s);
    EXPECT_EQ(caption, QCoreApplication::applicationName());
    EXPECT_EQ(buttons, 1);
    // Qt's own texts speak Korean where their translation is installed (scripts/packages.txt).
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + u"/qtbase_ko.qm"_s)) {
        EXPECT_EQ(ok, u"확인"_s);
    }
    EXPECT_TRUE(fs::is_empty(root / "config"));
}

// "Open with" on a song, or a folder given on the command line: the window starts in the
// matching mode with that path, and keeps it as the last one chosen.
TEST_F(StartupTest, AFolderStartsFolderModeAndAFileFileMode) {
    const fs::path folder = Work("앨범");
    fs::create_directories(folder);
    {
        SettingsStore seed;
        seed.SetLastOpenFile(u"/music/a.mp3"_s);
    }
    {
        SettingsStore settings;
        JobOptions options;
        options.open = folder;
        Dlg dlg(settings, options);
        EXPECT_EQ(ModeBox(dlg)->currentIndex(), 1);
        EXPECT_EQ(PathBox(dlg)->text(), Q(folder));
        EXPECT_FALSE(dlg.LogListView()->isHidden());
        EXPECT_EQ(Button(dlg, Dlg::IdDownload)->text(), u"가사 다운로드 개시"_s);
    }
    SettingsStore settings;
    EXPECT_EQ(settings.LastOpenDir(), Q(folder));
    EXPECT_EQ(settings.LastOpenFile(), u"/music/a.mp3"_s);

    // A file, or a name that is not there (the download press says so), is file mode; a
    // relative name is taken from where the program started.
    WriteFileBytes(Work("a.mp3"), "ID3");
    const fs::path started = fs::current_path();
    fs::current_path(Work(""));
    for (const char* name : {"a.mp3", "./없는 곡.mp3"}) {
        JobOptions options;
        options.open = fs::path(name);
        Dlg dlg(settings, options);
        EXPECT_EQ(ModeBox(dlg)->currentIndex(), 0) << name;
        EXPECT_EQ(PathBox(dlg)->text(), Q(Work(fs::path(name).filename())));
        EXPECT_TRUE(dlg.LogListView()->isHidden());
    }
    fs::current_path(started);
}

}  // namespace
}  // namespace quillon::testing
