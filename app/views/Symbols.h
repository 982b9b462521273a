// Symbols: the program's own small icon set, looked up by the symbol names the views
// use ("trash", "plus.rectangle", "magnifyingglass", …). Icons are drawn with QPainter,
// so they follow the palette and scale to any size.
#pragma once

#include <QIcon>
#include <QString>

namespace zarvel::Symbols {

// An icon for a symbol name; an unknown name gives a neutral placeholder, never null.
QIcon icon(const QString& name);
// Whether a symbol has its own drawing.
bool has(const QString& name);

} // namespace zarvel::Symbols
