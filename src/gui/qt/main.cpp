#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "application/startarguments.h"
#include "common/exitstatus.h"
#include "gui/qt/quillonapp.h"
#include "gui/qt/quillondlg.h"
#include "quillon_version.h"

namespace {

void PrintUsage() {
    std::fputs(quillon::StartUsage, stdout);
    std::fputs("\nQt's own options (-platform, -style, ...) are taken too.\n", stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments that need no window system are answered before it is started.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quillon %s\n", quillon::Version);
            return quillon::ExitOk;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage();
            return quillon::ExitOk;
        }
    }
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    // The desktop entry that the window belongs to, for the desktop's task bar and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brantwell.Quillon"));
    const quillon::StartArguments start =
        quillon::ParseStartArguments(std::vector<std::filesystem::path>(argv + 1, argv + argc));
    if (start.action == quillon::StartArguments::Action::Help) {
        PrintUsage();
        return quillon::ExitOk;
    }
    if (start.action == quillon::StartArguments::Action::Usage) {
        std::fprintf(stderr, "quillon: %s (see --help)\n", start.error.c_str());
        return quillon::ExitUsage;
    }
    quillon::CQuillonApp app;
    if (start.open) app.OpenAtStart(*start.open);
    app.InitInstance();
    // The settings are stored once the window is gone. A worker that did not stop in time (the
    // system holds it in a call) must neither hold the exit nor see the libraries it still
    // uses torn down under it: the process ends here.
    if (quillon::CQuillonDlg::LiveWorkers() > 0) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
