#include "gui/qt/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "gui/qt/dialogunits.h"
#include "settings/qttext.h"

namespace quillon {

CAboutDlg::CAboutDlg(const QIcon& icon, const AboutInfo& about, QWidget* parent)
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

    // The version beside the button, the rest below it, each line cut short rather than run
    // off the box.
    const auto line = [&](const QString& text, int y, int width) {
        auto* label = new QLabel(this);
        label->setGeometry(units.Rect(40, y, width, 10));
        label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
        label->setToolTip(text);
        return label;
    };
    line(ToQString(about.version), 10, 130)->setObjectName(QStringLiteral("version"));
    line(ToQString(about.licence), 27, 188)->setObjectName(QStringLiteral("licence"));
    QLabel* homepage = line(ToQString(about.homepage), 41, 188);
    homepage->setObjectName(QStringLiteral("homepage"));
    homepage->setText(
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(ToQString(about.homepage).toHtmlEscaped(), homepage->text().toHtmlEscaped()));
    homepage->setOpenExternalLinks(true);
    line(ToQString(about.service), 55, 188)->setObjectName(QStringLiteral("service"));

    auto* ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setGeometry(units.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    ok->setProperty("controlId", IdOk);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quillon
