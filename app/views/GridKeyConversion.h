// GridKeyConversion: turns a Qt key press into the grid's toolkit-free GridKey.
//
// Ctrl is the command modifier, Alt the option modifier and Meta the control modifier,
// so Ctrl+A selects all and Alt+Down inserts a row below. Backtab is Tab with Shift.
// Keys that produce no characters and mean nothing to the grid (dead keys, function
// keys, a lone modifier) give none, and the press goes on unhandled.
#pragma once

#include "grid/GridKey.h"

#include <Qt>

#include <optional>

class QKeyEvent;

namespace zarvel::GridKeyConversion {

GridKey::Modifiers modifiers(Qt::KeyboardModifiers flags);
std::optional<GridKey> fromKeyEvent(const QKeyEvent& event);

} // namespace zarvel::GridKeyConversion
