// Symbols: the program's own small icon set, looked up by the symbol names the views
// use ("trash", "plus.rectangle", "magnifyingglass", …). Icons are drawn with QPainter,
// so they follow the palette and scale to any size.
#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace zarvel::Symbols {

// An icon for a symbol name; an unknown name gives a neutral placeholder, never null.
// It is drawn in the application palette's text colour (greyed when disabled).
QIcon icon(const QString& name);
// The same in a fixed colour, e.g. red for a destructive menu item.
QIcon icon(const QString& name, const QColor& color);
// Whether a symbol has its own drawing.
bool has(const QString& name);
// Every name with a drawing.
QStringList names();
// Draws a symbol, centred and square, into a rectangle.
void paint(QPainter& painter, const QRectF& rect, const QString& name, const QColor& color);

} // namespace zarvel::Symbols
