// Start-up: a network layer that cannot start ends the program with a message and touches no
// setting.
#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/app_fixture.h"
#include "app/quillonapp.h"

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

}  // namespace
}  // namespace quillon::testing
