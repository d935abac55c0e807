#pragma once

#include <QDialog>
#include <QIcon>

#include "application/session.h"

namespace quillon {

// The about box: the program's icon, its name and version, its licence, its homepage, the
// lyrics service in use, and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IdOk = 1;

    CAboutDlg(const QIcon& icon, const AboutInfo& about, QWidget* parent = nullptr);
};

}  // namespace quillon
