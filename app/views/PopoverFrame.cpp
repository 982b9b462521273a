#include "app/views/PopoverFrame.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include <algorithm>

namespace zarvel {

namespace {
// Room between the anchor's edge and the panel.
constexpr int anchorGap = 4;
} // namespace

PopoverFrame::PopoverFrame(QWidget* anchor) : QFrame(anchor, Qt::Popup), anchor_(anchor) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Plain);
    setAutoFillBackground(true);
}

QPoint PopoverFrame::popupPosition(const QSize& size) const {
    if (!anchor_) return pos();
    const QRect anchorRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    const QScreen* screen = anchor_->screen() ? anchor_->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(anchorRect.topLeft(), size);

    int x = anchorRect.center().x() - size.width() / 2;
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    int y = anchorRect.bottom() + 1 + anchorGap;
    // A status bar sits at the bottom of the screen: open upwards when below is too short.
    if (y + size.height() > available.bottom() + 1 &&
        anchorRect.top() - anchorGap - size.height() >= available.top())
        y = anchorRect.top() - anchorGap - size.height();
    return {x, y};
}

void PopoverFrame::popup() {
    adjustSize();
    move(popupPosition(size()));
    if (isVisible()) {
        raise();
        return;
    }
    show();
}

void PopoverFrame::mousePressEvent(QMouseEvent* event) {
    // A click on the anchor closes the panel; replaying it would open it again at once.
    if (!rect().contains(event->position().toPoint()) && anchor_ &&
        anchor_->rect().contains(anchor_->mapFromGlobal(event->globalPosition().toPoint())))
        setAttribute(Qt::WA_NoMouseReplay);
    QFrame::mousePressEvent(event);
}

void PopoverFrame::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

} // namespace zarvel
