#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace quillon {

class LyricsSession;

// The settings that have no control in the window: the lyrics service's host and port, and
// how many songs a folder run has in hand at once. OK stores them only when every value is
// right; otherwise it says what is wrong and the dialog stays open with nothing changed.
class CSettingsDlg : public QDialog {
    Q_OBJECT

public:
    CSettingsDlg(LyricsSession& application, QWidget* parent = nullptr);

    QLineEdit* HostField() const { return host; }
    QLineEdit* PortField() const { return port; }
    QLineEdit* ConcurrencyField() const { return concurrency; }

    void accept() override;

protected:
    // Tells the user why the values were not stored.
    virtual void ShowRefusal(const QString& text);

private:
    LyricsSession& app;
    QLineEdit* host = nullptr;
    QLineEdit* port = nullptr;
    QLineEdit* concurrency = nullptr;
};

}  // namespace quillon
