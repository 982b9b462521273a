// CellPosition: a cell address in a table, ordered row-major.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>

namespace zarvel {

struct CellPosition {
    int64_t row = 0;
    int64_t column = 0;
    bool operator==(const CellPosition&) const = default;
    auto operator<=>(const CellPosition&) const = default;
};

} // namespace zarvel

template <> struct std::hash<zarvel::CellPosition> {
    size_t operator()(const zarvel::CellPosition& p) const noexcept {
        return std::hash<int64_t>{}(p.row) * 1000003u ^ std::hash<int64_t>{}(p.column);
    }
};
