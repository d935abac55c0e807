#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace quillon {

// A short message shown just above a control with a beep; it never takes the focus and goes
// away by itself after five seconds, at the next key press (but Enter) or mouse press in the
// application, or when the application loses activation.
class TipWnd : public QWidget {
    Q_OBJECT

public:
    static constexpr int ShadowWidth = 6;
    static constexpr int TimerInterval = 500;  // ms
    static constexpr int DisplayTime = 5000;   // ms
    // Space between the body's frame and the text.
    static constexpr int MarginLeft = 6;
    static constexpr int MarginTop = 4;
    static constexpr int MarginRight = 8;
    static constexpr int MarginBottom = 4;
    // Added to the anchor point before the tip is placed.
    static constexpr int AnchorOffsetX = -6;
    static constexpr int AnchorOffsetY = 0;

    TipWnd();
    ~TipWnd() override;

    // Makes the popup with `owner` as its parent window; false when it cannot.
    bool Create(QWidget* owner);
    bool IsCreated() const;
    // Shows `text` with its bottom-left corner at `anchor` (owner's coordinates) moved by the
    // anchor offset (-6, 0), kept on the primary screen.
    void Show(QPoint anchor, const QString& text);
    void Hide();
    void SetColors(const QColor& background, const QColor& text);

    // The size a text needs, margins and shadow included, at 0,0.
    virtual QRect CalcTipRect(const QString& text) const;
    // Puts the measured rectangle's bottom-left corner on the anchor (screen coordinates) and
    // moves it onto the screen `screen`.
    virtual QRect PlaceTipRect(QPoint anchor, QRect measured, QRect screen) const;

    const QString& Text() const { return tipText; }
    QColor BackgroundColor() const { return background; }
    QColor TextColor() const { return foreground; }
    // Milliseconds counted since the last Show, in timer ticks.
    int Elapsed() const { return elapsed; }
    // The darkened picture of what lay beneath when the tip was shown; null when the screen
    // could not be read.
    const QImage& Shadow() const { return shadow; }

public slots:
    // One beat of the 500 ms timer.
    void Tick();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Where the mouse cursor is, in screen coordinates.
    virtual QPoint CursorPosition() const;

private:
    QFont TipFont() const;
    QImage GrabBeneath(const QRect& area) const;
    void StopWatchingInput();

    QPointer<QWidget> owner;
    bool created = false;
    bool watchingInput = false;
    QTimer timer;
    int elapsed = 0;
    QColor background;
    QColor foreground;
    QString tipText;
    QImage shadow;
};

// Darkens the shadow band of a tip whose body is bodyWidth x bodyHeight pixels, in an image of
// the whole tip ((bodyWidth + 6) x (bodyHeight + 6)). Each colour channel of a band pixel is
// scaled by a percentage, truncating: 50 next to the body's right edge, 8 points lighter per
// pixel outwards, fading in from 98 at the band's far ends. Everything else is left alone.
QImage DarkenTipShadow(const QImage& beneath, int bodyWidth, int bodyHeight);

}  // namespace quillon
