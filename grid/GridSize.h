// GridSize: the grid's dimensions in cells (displayed rows by table columns), passed to
// every selection operation that must stay inside the grid.
#pragma once

#include <cstdint>

namespace zarvel {

struct GridSize {
    int64_t rows = 0;
    int64_t columns = 0;

    // No cell at all: selection moves do nothing on an empty grid.
    bool isEmpty() const { return rows <= 0 || columns <= 0; }
    bool operator==(const GridSize&) const = default;
};

} // namespace zarvel
