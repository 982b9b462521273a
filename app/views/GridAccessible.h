// GridAccessible: the grid as a table for screen readers and other assistive technology.
//
// GridView draws its cells itself, so Qt knows nothing of them. This gives the grid an
// accessible interface with a table interface: rows and columns as displayed (a row
// filter's rows only), each cell's display text, the column titles and row numbers as
// header cells, the selection, and events when the active cell moves, the selection
// changes or the table's contents change. Cell interfaces are made on demand and
// dropped whenever the table changes, so a huge table costs nothing until asked.
#pragma once

#include <QAccessibleEvent>

#include <functional>

class QWidget;

namespace zarvel {

class GridView;

namespace GridAccessible {

// Registers the interface factory (once) and starts the grid's event notifications.
void attach(GridView* grid);

// Every event the grid posts also goes here. Tests look at them without a running
// accessibility bridge (Qt only passes events on while one is active).
using EventSink = std::function<void(QAccessibleEvent*)>;
void setEventSink(EventSink sink);

// Gives every control under `root` that has no accessible name one: its own text, its
// placeholder, the text of the label that names it, or its tooltip — what a sighted
// user reads beside it. Icon-only buttons and fields are otherwise silent.
void nameControls(QWidget* root);

} // namespace GridAccessible

} // namespace zarvel
