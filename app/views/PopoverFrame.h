// PopoverFrame: a small floating panel anchored under a widget (a toolbar or status
// bar button), closed by a click outside it or by Escape. Subclasses fill it with their
// content; owners learn that it closed from `closed()`, whoever closed it.
#pragma once

#include <QFrame>
#include <QPointer>

namespace zarvel {

class PopoverFrame : public QFrame {
    Q_OBJECT
public:
    // The frame is owned by the anchor's widget tree but floats as its own window.
    explicit PopoverFrame(QWidget* anchor);

    QWidget* anchor() const { return anchor_; }
    void setAnchor(QWidget* anchor) { anchor_ = anchor; }

    // Positions the frame under the anchor (above it when the screen ends below) and
    // shows it; raises it when already open.
    void popup();
    // Where popup() places the frame, in global coordinates, for a frame of `size`.
    QPoint popupPosition(const QSize& size) const;

Q_SIGNALS:
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QWidget> anchor_;
};

} // namespace zarvel
