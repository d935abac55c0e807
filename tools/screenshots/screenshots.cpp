// Drives the real window through a single-file run, a folder run and a refused start, opens its
// settings dialog and about box, and saves what the screen shows of each as PNG files. Run it on a
// display (scripts/screenshots starts one) with QUILLON_SERVICE_HOST pointing at a lyrics service
// that knows the songs.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "service/httptransport.h"

#include "gui/qt/quillondlg.h"
#include "settings/settings.h"

using namespace quillon;

namespace {

// Runs the event loop until `done` holds or `limitMs` has passed.
bool WaitFor(const std::function<bool()>& done, int limitMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void Settle(int ms) {
    WaitFor([] { return false; }, ms);
}

// What the screen shows of the window and, when given and shown, of the tip beside it; the rest
// of the picture is transparent.
bool Shoot(QWidget& window, const QString& file, const QWidget* tip = nullptr) {
    Settle(400);
    QRegion shown(window.frameGeometry());
    if (tip != nullptr && tip->isVisible()) shown += tip->frameGeometry();
    const QRect area = shown.boundingRect();
    const QImage screen = QGuiApplication::primaryScreen()
                              ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                              .toImage();
    QImage shot(area.size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    {
        QPainter painter(&shot);
        painter.setClipRegion(shown.translated(-area.topLeft()));
        painter.drawImage(0, 0, screen);
    }
    if (screen.isNull() || !shot.save(file)) {
        std::fprintf(stderr, "quillon-screenshots: cannot save %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// Opens a modal dialog with `open` and shoots it once it shows, then closes it.
bool ShootDialog(const std::function<void()>& open, const QString& file) {
    bool ok = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = nullptr;
        WaitFor([&] { return (dialog = QApplication::activeModalWidget()) != nullptr; }, 5000);
        if (dialog == nullptr) return;
        ok = Shoot(*dialog, file);
        static_cast<QDialog*>(dialog)->reject();
    });
    open();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("Usage: quillon-screenshots MUSIC_DIR OUT_DIR\n", stderr);
        return 2;
    }
    quillon::StartNetworkLayer();
    const QString music = QFile::decodeName(argv[1]);
    const QString out = QFile::decodeName(argv[2]);

    SettingsStore settings;
    CQuillonDlg dlg(settings);
    dlg.move(40, 90);
    dlg.show();
    auto* mode = static_cast<QComboBox*>(dlg.Control(CQuillonDlg::IdMode));
    auto* path = static_cast<QLineEdit*>(dlg.Control(CQuillonDlg::IdPath));
    auto* save = static_cast<QPushButton*>(dlg.Control(CQuillonDlg::IdSave));
    bool ok = true;

    // One song: the lyric rows with their translations, ready to save.
    path->setText(music + QStringLiteral("/tone-a440.mp3"));
    dlg.OnDownload();
    ok &= WaitFor([&] { return !dlg.JobRunning() && save->isEnabled(); });
    ok &= Shoot(dlg, out + QStringLiteral("/window-single-file.png"));

    // The whole folder: the log of every step.
    mode->setCurrentIndex(1);
    path->setText(music);
    dlg.OnDownload();
    ok &= WaitFor([&] { return !dlg.JobRunning(); });
    ok &= Shoot(dlg, out + QStringLiteral("/window-folder.png"));

    // A start without a song: the tip above the download button.
    mode->setCurrentIndex(0);
    path->setText(QString());
    dlg.OnDownload();
    ok &= Shoot(dlg, out + QStringLiteral("/window-tip.png"), &dlg.Tip());

    // The settings dialog and the about box, from the window's context menu.
    dlg.Tip().hide();
    ok &= ShootDialog([&] { dlg.ShowSettings(); }, out + QStringLiteral("/window-settings.png"));
    ok &= ShootDialog([&] { dlg.ShowAbout(); }, out + QStringLiteral("/window-about.png"));

    dlg.reject();
    quillon::StopNetworkLayer();
    return ok ? 0 : 1;
}
