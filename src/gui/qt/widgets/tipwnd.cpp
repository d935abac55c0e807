#include "gui/qt/widgets/tipwnd.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStringList>
#include <QToolTip>

#include <algorithm>

namespace quillon {

namespace {

constexpr int TextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;

QRgb Darken(QRgb pixel, int percent) {
    return qRgba(qRed(pixel) * percent / 100, qGreen(pixel) * percent / 100,
                 qBlue(pixel) * percent / 100, qAlpha(pixel));
}

bool IsClosingButton(Qt::MouseButton button) {
    return button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
}

}  // namespace

QImage DarkenTipShadow(const QImage& beneath, int bodyWidth, int bodyHeight) {
    QImage image = beneath.convertToFormat(QImage::Format_ARGB32);
    const int w = bodyWidth;
    const int h = bodyHeight;
    auto darken = [&image](int x, int y, int percent) {
        if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
        image.setPixel(x, y, Darken(image.pixel(x, y), percent));
    };
    // Right band, fading in at its top end.
    for (int y = 5; y <= h + 4; ++y) {
        for (int x = w; x <= w + 5; ++x) {
            darken(x, y, std::max(50 + 8 * std::max(x - w, y - h + 1), 98 - 8 * (y - 5)));
        }
    }
    // Bottom band, fading in at its left end.
    for (int y = h; y <= h + 4; ++y) {
        for (int x = 6; x <= w - 1; ++x) {
            darken(x, y, std::max(50 + 8 * (y - h + 1), 98 - 8 * (x - 6)));
        }
    }
    return image;
}

TipWnd::TipWnd() {
    const QPalette tipPalette = QToolTip::palette();
    background = tipPalette.color(QPalette::ToolTipBase);
    foreground = tipPalette.color(QPalette::ToolTipText);
    timer.setParent(this);
    timer.setObjectName(QStringLiteral("TipTimer"));
    timer.setInterval(TimerInterval);
    connect(&timer, &QTimer::timeout, this, &TipWnd::Tick);
}

TipWnd::~TipWnd() {
    Hide();
}

bool TipWnd::Create(QWidget* ownerWidget) {
    owner = ownerWidget;
    // A tool-tip window is never activated by the platform; the flags say the same to
    // platforms that look at them instead.
    setParent(ownerWidget, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                               Qt::NoDropShadowWindowHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Where what lies beneath cannot be read, the shadow band stays see-through.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setGeometry(0, 0, 10, 10);
    create();
    created = windowHandle() != nullptr;
    return created;
}

bool TipWnd::IsCreated() const {
    return created;
}

void TipWnd::SetColors(const QColor& backgroundColor, const QColor& textColor) {
    background = backgroundColor;
    foreground = textColor;
}

void TipWnd::Show(QPoint anchor, const QString& text) {
    if (!created) return;
    tipText = text;
    const QPoint local = anchor + QPoint(AnchorOffsetX, AnchorOffsetY);
    const QPoint global = owner ? owner->mapToGlobal(local) : local;
    if (!watchingInput) {
        qApp->installEventFilter(this);
        watchingInput = true;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area =
        PlaceTipRect(global, CalcTipRect(text), screen != nullptr ? screen->geometry() : QRect());
    // The tip must not see itself in the picture of what lies beneath.
    if (isVisible()) hide();
    shadow = GrabBeneath(area);
    setGeometry(area);
    show();
    update();
    elapsed = 0;
    timer.start();
}

void TipWnd::Hide() {
    if (created) {
        timer.stop();
        hide();
    }
    StopWatchingInput();
}

void TipWnd::StopWatchingInput() {
    if (!watchingInput) return;
    qApp->removeEventFilter(this);
    watchingInput = false;
}

QRect TipWnd::CalcTipRect(const QString& text) const {
    const QFontMetrics metrics(TipFont());
    int width = 0;
    // Two spaces more than each line needs keep the layout below from breaking any line.
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        width = std::max(width, metrics.horizontalAdvance(line + QStringLiteral("  ")));
    }
    const QRect laidOut = metrics.boundingRect(QRect(0, 0, width, 0), TextFlags, text);
    return QRect(0, 0, laidOut.width() + MarginLeft + MarginRight + ShadowWidth,
                 laidOut.height() + MarginTop + MarginBottom + ShadowWidth);
}

QRect TipWnd::PlaceTipRect(QPoint anchor, QRect measured, QRect screen) const {
    // The bottom edge lies just above the anchor's row of pixels.
    QRect placed(QPoint(anchor.x(), anchor.y() - measured.height()), measured.size());
    if (!screen.isValid()) return placed;
    const int screenRight = screen.x() + screen.width();
    const int right = placed.x() + placed.width();
    if (right > screenRight) placed.translate(screenRight - right, 0);
    if (placed.left() < screen.left()) placed.moveLeft(screen.left());
    if (placed.top() < screen.top()) placed.moveTop(screen.top());
    return placed;
}

void TipWnd::Tick() {
    if (QApplication::activeWindow() == nullptr) {
        Hide();
        return;
    }
    elapsed += TimerInterval;
    const QRect body(geometry().topLeft(), QSize(width() - ShadowWidth, height() - ShadowWidth));
    if (body.contains(CursorPosition())) return;
    if (elapsed >= DisplayTime) Hide();
}

QPoint TipWnd::CursorPosition() const {
    return QCursor::pos();
}

bool TipWnd::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter) Hide();
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
            if (IsClosingButton(static_cast<QMouseEvent*>(event)->button())) Hide();
            break;
        default:
            break;
    }
    // The event goes on to where it was going.
    return QWidget::eventFilter(watched, event);
}

void TipWnd::paintEvent(QPaintEvent* event) {
    Q_UNUSED(event);
    QPainter painter(this);
    const QRect body(0, 0, width() - ShadowWidth, height() - ShadowWidth);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (shadow.size() == size()) {
        painter.drawImage(0, 0, shadow);
    } else {
        painter.fillRect(rect(), Qt::transparent);
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(body, background);
    painter.setPen(Qt::black);
    painter.drawRect(body.adjusted(0, 0, -1, -1));
    painter.setPen(foreground);
    painter.setFont(TipFont());
    painter.drawText(body.adjusted(MarginLeft, MarginTop, -MarginRight, -MarginBottom), TextFlags,
                     tipText);
}

QFont TipWnd::TipFont() const {
    return QApplication::font("QStatusBar");
}

QImage TipWnd::GrabBeneath(const QRect& area) const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || area.width() <= ShadowWidth || area.height() <= ShadowWidth) {
        return {};
    }
    const QRect screenArea = screen->geometry();
    const QPixmap picture = screen->grabWindow(
        0, area.x() - screenArea.x(), area.y() - screenArea.y(), area.width(), area.height());
    if (picture.isNull()) return {};
    QImage image = picture.toImage();
    if (image.size() != area.size()) {
        image = image.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    image.setDevicePixelRatio(1.0);
    return DarkenTipShadow(image, area.width() - ShadowWidth, area.height() - ShadowWidth);
}

}  // namespace quillon
