#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/quillonapp.h"
#include "app/quillondlg.h"
#include "quillon_version.h"

int main(int argc, char** argv) {
    // The one argument of its own, answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quillon %s\n", quillon::Version);
            return 0;
        }
    }
    QApplication application(argc, argv);
    quillon::CQuillonApp app;
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
