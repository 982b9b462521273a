// GridStyle: the colours, fonts and paddings the grid's views share, so that the cells,
// the header strip, the gutter, the selection and the cell editor agree.
//
// Colours derive from the widget's palette: "primary" is the text colour, the lesser
// styles are the same colour at lower opacity, the accent is the highlight colour and
// the bar material is the window colour behind toolbars.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace zarvel::GridStyle {

inline constexpr double cellPadding = 5;       // left and right of a cell's text
inline constexpr double headerPadding = 6;     // left and right of a column title
inline constexpr double gutterPadding = 6;     // right of a row number
inline constexpr double resizeHandleWidth = 9; // hit area of a column's resize handle
inline constexpr int displayLimit = 256;       // bytes of a cell's text read for drawing

QColor withOpacity(QColor color, double opacity);

QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor accent(const QPalette& palette);
QColor bar(const QPalette& palette);
QColor divider(const QPalette& palette);
QColor destructive();

// Zebra band and grid line colours over the cells.
QColor zebra(const QPalette& palette);
QColor gridLine(const QPalette& palette);

QFont headerFont(const QFont& base);
QFont captionFont(const QFont& base);

} // namespace zarvel::GridStyle
