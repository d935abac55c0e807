#include "gui/qt/dialogunits.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

namespace quillon {

DialogUnits::DialogUnits(const QFont& font) {
    // The average width is that of the 52 Latin letters, rounded, and the height the full
    // character height (ascent and descent), as the dialog manager measures them.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (letters / 26 + 1) / 2;
    baseY = metrics.height();
    if (baseX < 1) baseX = 1;
    if (baseY < 1) baseY = 1;
}

QFont DialogFont(const QString& family, int pointSize) {
    QFont font(family);
    font.setPointSize(pointSize);
    if (QFontInfo(font).family().compare(family, Qt::CaseInsensitive) == 0) return font;
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}

}  // namespace quillon
