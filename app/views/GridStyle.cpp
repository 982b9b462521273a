#include "app/views/GridStyle.h"

#include <algorithm>

namespace zarvel::GridStyle {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QColor primary(const QPalette& palette) { return palette.color(QPalette::Text); }
QColor secondary(const QPalette& palette) { return withOpacity(primary(palette), 0.6); }
QColor tertiary(const QPalette& palette) { return withOpacity(primary(palette), 0.4); }
QColor accent(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Highlight); }
QColor bar(const QPalette& palette) { return palette.color(QPalette::Window); }
QColor divider(const QPalette& palette) { return withOpacity(primary(palette), 0.18); }
QColor destructive() { return QColor(0xd7, 0x30, 0x2a); }

QColor zebra(const QPalette& palette) { return withOpacity(primary(palette), 0.03); }
QColor gridLine(const QPalette& palette) { return withOpacity(primary(palette), 0.08); }

QFont headerFont(const QFont& base) {
    QFont f = base;
    f.setWeight(QFont::DemiBold);
    return f;
}

QFont captionFont(const QFont& base) {
    QFont f = base;
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * 0.85);
    else
        f.setPixelSize(std::max(8, f.pixelSize() * 85 / 100));
    return f;
}

} // namespace zarvel::GridStyle
