// GridStyle: the colours, fonts and paddings the grid's views share, so that the cells,
// the header strip, the gutter, the selection and the cell editor agree.
//
// Colours derive from the widget's palette: "primary" is the text colour, the lesser
// styles are the same colour at lower opacity, the accent is the highlight colour and
// the bar material is the window colour behind toolbars. No colour is fixed: each is
// derived from the palette it is drawn on, so a light or dark palette both read.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include <functional>

class QWidget;

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
// Signal colours, tuned to the palette's lightness so that they read on its base.
QColor destructive(const QPalette& palette);
QColor warning(const QPalette& palette); // orange
QColor caution(const QPalette& palette); // yellow
bool isDark(const QPalette& palette);

// Zebra band and grid line colours over the cells.
QColor zebra(const QPalette& palette);
QColor gridLine(const QPalette& palette);

// A widget whose palette holds a colour derived from its surroundings (the secondary
// text of a counter, a red error line) keeps it current: `apply` runs now and every
// time the palette the widget inherits changes, e.g. when the desktop turns dark.
// `base` is that inherited palette, without the widget's own colours.
void follow(QWidget* widget, std::function<void(QWidget* widget, const QPalette& base)> apply);
// The common case: one role of the widget's palette in a colour derived from `base`.
void followColor(QWidget* widget, QPalette::ColorRole role, QColor (*color)(const QPalette& base));

// Dark colours for a style that brings none (Fusion's standard palette is light).
QPalette darkPalette();
// Follows the desktop's light or dark preference (Qt's colour-scheme hint, Qt 6.5 and
// later): dark gets darkPalette() unless the platform's palette is dark already.
void followColorScheme();

QFont headerFont(const QFont& base);
QFont captionFont(const QFont& base);

} // namespace zarvel::GridStyle
