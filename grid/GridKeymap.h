// GridKeymap: the grid's key bindings, as one pure function from a key press to the
// action it means. The same key always gives the same answer; a key that means nothing
// to the grid gives none, so the platform can handle it (menu shortcuts, system keys).
//
// Precedence worth knowing: Option with an arrow inserts a row or column, but Command
// wins over Option (Command+Option+arrow moves to the edge); Control with an arrow
// moves like the plain arrow. Home and End go to the first and last row. Enter and the
// edit key (F2) open the active cell. Command+Delete deletes rows and Command+Minus
// columns. Command+A, shifted or not, selects all; other Command+characters and Control+characters are
// left to the platform; typed text that is empty, holds a control character or starts
// with a default-ignorable code point starts no edit.
#pragma once

#include "grid/GridAction.h"
#include "grid/GridKey.h"

#include <optional>
#include <string_view>

namespace zarvel::GridKeymap {

std::optional<GridAction> action(const GridKey& key);

// Whether typed text may start an edit: not empty, valid UTF-8, no control character
// (general category Cc: below 32, 127 and the C1 range) anywhere, and not starting with
// a Default_Ignorable_Code_Point. Ignorables after a visible character (the joiners and
// variation selectors of emoji sequences) are part of what was typed.
bool isTypeableText(std::string_view text);

} // namespace zarvel::GridKeymap
