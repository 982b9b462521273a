#include "app/views/Symbols.h"

#include <QPainter>
#include <QPixmap>

namespace zarvel::Symbols {

// Placeholder drawing until the icon set lands: a rounded square.
QIcon icon(const QString&) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 2));
    p.drawRoundedRect(QRectF(5, 5, 22, 22), 4, 4);
    return QIcon(pixmap);
}

bool has(const QString&) { return false; }

} // namespace zarvel::Symbols
