#include "app/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/dialogunits.h"
#include "quillon_version.h"

namespace quillon {

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Quillon 정보"));
    setFont(DialogFont(QStringLiteral("굴림"), 9));
    const DialogUnits units(font());
    setFixedSize(units.Size(235, 79));

    // An icon control takes the icon's own size; only its place comes from the layout.
    auto* picture = new QLabel(this);
    picture->setPixmap(icon.pixmap(32, 32));
    picture->setGeometry(QRect(QPoint(units.X(11), units.Y(17)), QSize(32, 32)));

    auto* version =
        new QLabel(QStringLiteral("Quillon 버전 ") + QString::fromLatin1(Version), this);
    version->move(units.X(40), units.Y(10));
    version->resize(version->sizeHint());

    auto* ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setGeometry(units.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    ok->setProperty("controlId", IdOk);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quillon
