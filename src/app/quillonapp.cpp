#include "app/quillonapp.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include <utility>

#include "app/quillondlg.h"
#include "service/httptransport.h"
#include "settings/settings.h"

namespace quillon {

const char StartUsage[] =
    "Usage: quillon [FILE | FOLDER]\n"
    "\n"
    "Opens Quillon's window: a FILE in file mode, a FOLDER in folder mode, and without\n"
    "either the last file chosen. Qt's own options (-platform, -style, ...) are taken too.\n"
    "\n"
    "  -h, --help   show this help and exit\n"
    "  --version    print the version and exit\n";

StartArguments ParseStartArguments(const std::vector<std::string>& args) {
    StartArguments parsed;
    bool optionsEnd = false;
    for (const std::string& arg : args) {
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "-h" || arg == "--help")) {
            parsed.action = StartArguments::Action::Help;
        } else if (!optionsEnd && arg.size() > 1 && arg.front() == '-') {
            parsed.action = StartArguments::Action::Usage;
            parsed.error = "unknown option " + arg;
            return parsed;
        } else if (parsed.open) {
            parsed.action = StartArguments::Action::Usage;
            parsed.error = "one file or folder at a time";
            return parsed;
        } else {
            parsed.open = std::filesystem::path(arg);
        }
    }
    return parsed;
}

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
