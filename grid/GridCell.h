// GridCell: one cell of the grid, as a display row and a table column.
#pragma once

#include <cstdint>
#include <functional>

namespace zarvel {

struct GridCell {
    int64_t row = 0;
    int64_t column = 0;
    bool operator==(const GridCell&) const = default;
};

} // namespace zarvel

template <> struct std::hash<zarvel::GridCell> {
    size_t operator()(const zarvel::GridCell& c) const noexcept {
        return std::hash<int64_t>{}(c.row) * 1000003u ^ std::hash<int64_t>{}(c.column);
    }
};
