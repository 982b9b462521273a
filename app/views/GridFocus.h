// GridFocus: which part of a document window's grid holds keyboard focus, the grid
// itself (selection keys, typing over a cell) or the in-place cell editor.
#pragma once

namespace zarvel {

enum class GridFocus { grid, editor };

} // namespace zarvel
