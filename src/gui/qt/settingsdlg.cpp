#include "gui/qt/settingsdlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "application/session.h"
#include "gui/qt/dialogunits.h"
#include "settings/qttext.h"

namespace quillon {

CSettingsDlg::CSettingsDlg(LyricsSession& application, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      app(application) {
    setWindowTitle(QStringLiteral("Quillon 설정"));
    setFont(DialogFont(QStringLiteral("Tahoma"), 8));
    const DialogUnits units(font());
    setFixedSize(units.Size(222, 84));

    const ServiceSettings values = app.CurrentSettings();
    const auto row = [&](const QString& caption, int y, int width, const std::u16string& text) {
        auto* label = new QLabel(caption, this);
        label->setGeometry(units.Rect(7, y + 2, 110, 8));
        auto* field = new QLineEdit(ToQString(text), this);
        field->setGeometry(units.Rect(120, y, width, 14));
        label->setBuddy(field);
        return field;
    };
    host = row(QStringLiteral("가사 서비스 호스트(&H):"), 7, 95, values.host);
    port = row(QStringLiteral("포트(&P):"), 25, 40, values.port);
    concurrency =
        row(QStringLiteral("동시에 처리할 곡 수 (1~16)(&C):"), 43, 40, values.concurrency);

    auto* ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setGeometry(units.Rect(111, 63, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("취소"), this);
    cancel->setGeometry(units.Rect(165, 63, 50, 14));
    connect(ok, &QPushButton::clicked, this, &CSettingsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    host->setFocus();
}

void CSettingsDlg::accept() {
    const std::optional<std::u16string> refusal =
        app.ApplySettings({host->text().toStdU16String(), port->text().toStdU16String(),
                           concurrency->text().toStdU16String()});
    if (refusal) return ShowRefusal(ToQString(*refusal));
    QDialog::accept();
}

void CSettingsDlg::ShowRefusal(const QString& text) {
    QMessageBox::warning(this, windowTitle(), text);
}

}  // namespace quillon
