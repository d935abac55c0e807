#include "gui/qt/browseedit.h"

#include <QKeyEvent>
#include <QStyle>

namespace quillon {

BrowseEdit::BrowseEdit(QWidget* parent) : QLineEdit(parent), button(new QToolButton(this)) {
    button->setText(QStringLiteral("..."));
    button->setCursor(Qt::ArrowCursor);
    // The box is the tab stop; the button is reached with the mouse or the browse keys.
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(false);
    connect(button, &QToolButton::clicked, this, &BrowseEdit::BrowseRequested);
    PlaceButton();
}

void BrowseEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    PlaceButton();
}

void BrowseEdit::keyPressEvent(QKeyEvent* event) {
    const bool altDown =
        event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier) != 0;
    if ((altDown || (event->key() == Qt::Key_F4 && event->modifiers() == Qt::NoModifier)) &&
        isEnabled()) {
        emit BrowseRequested();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void BrowseEdit::PlaceButton() {
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int height = qMax(0, this->height() - 2 * frame);
    const int width = qMax(height, fontMetrics().horizontalAdvance(button->text()) + 8);
    button->setGeometry(this->width() - frame - width, frame, width, height);
    setTextMargins(0, 0, width, 0);
}

}  // namespace quillon
