#pragma once

#include <QDialog>
#include <QIcon>

namespace quillon {

// The about box: the program's icon, its name and version, and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IdOk = 1;

    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};

}  // namespace quillon
