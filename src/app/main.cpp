#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/quillonapp.h"
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
    return 0;
}
