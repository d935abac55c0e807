#include <QApplication>

#include "app/quillonapp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    quillon::CQuillonApp app;
    app.InitInstance();
    return 0;
}
