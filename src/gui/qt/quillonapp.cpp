#include "gui/qt/quillonapp.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include <utility>

#include "gui/qt/quillondlg.h"
#include "service/httptransport.h"
#include "settings/settings.h"

namespace quillon {

CQuillonApp::CQuillonApp() : CQuillonApp([] { return StartNetworkLayer(); }) {}

CQuillonApp::CQuillonApp(NetworkStartup startup) : startNetwork(std::move(startup)) {}

CQuillonApp::~CQuillonApp() = default;

bool CQuillonApp::LoadQtTranslation() {
    if (qtTexts) return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_ko"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get()))
        return false;
    qtTexts = std::move(translator);
    return true;
}

bool CQuillonApp::InitInstance() {
    LoadQtTranslation();
    if (!startNetwork()) {
        // The caption is the program's name, the base name of its executable.
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                        QStringLiteral("Windows 소켓 초기화에 실패하였습니다."), QMessageBox::Ok);
        box.exec();
        return false;
    }

    SettingsStore settings;
    {
        JobOptions options;
        options.open = open;
        CQuillonDlg dialog(settings, std::move(options));
        dialog.exec();
    }  // the window's destruction stores the last file or folder

    // A worker that did not stop in time may still hold a transfer; the process ends anyway,
    // but the network layer is only taken down under no one's feet.
    if (CQuillonDlg::LiveWorkers() == 0) StopNetworkLayer();
    return false;
}

}  // namespace quillon
