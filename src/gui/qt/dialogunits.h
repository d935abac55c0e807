#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

namespace quillon {

// Converts the layout units of a dialog template into pixels the way the dialog manager of the
// window system the layout was drawn for does: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its character height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int averageCharWidth, int charHeight)
        : baseX(averageCharWidth), baseY(charHeight) {}

    int X(int units) const { return Scale(units, baseX, 4); }
    int Y(int units) const { return Scale(units, baseY, 8); }
    QRect Rect(int x, int y, int width, int height) const {
        return QRect(X(x), Y(y), X(width), Y(height));
    }
    QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

    int AverageCharWidth() const { return baseX; }
    int CharHeight() const { return baseY; }

private:
    // units * base / divisor, rounded half away from zero.
    static int Scale(int units, int base, int divisor) {
        const long long product = static_cast<long long>(units) * base;
        const long long half = divisor / 2;
        return static_cast<int>(product >= 0 ? (product + half) / divisor
                                             : -((-product + half) / divisor));
    }

    int baseX;
    int baseY;
};

// `family` at `pointSize` when the system has it, else the system's general font.
QFont DialogFont(const QString& family, int pointSize);

}  // namespace quillon
