#include "grid/GridSelection.h"

#include <algorithm>

namespace zarvel {

namespace {

int64_t clampTo(int64_t value, int64_t limit) {
    return std::clamp<int64_t>(value, 0, std::max<int64_t>(limit - 1, 0));
}

IndexRange span(int64_t a, int64_t b) {
    return {std::min(a, b), std::max(a, b) + 1};
}

// The whole axis as a range: 0 ... max(count - 1, 0).
IndexRange wholeAxis(int64_t count) {
    return {0, std::max<int64_t>(count, 1)};
}

} // namespace

IndexRange GridSelection::rows() const {
    return span(anchor.row, active.row);
}

IndexRange GridSelection::columns() const {
    return span(anchor.column, active.column);
}

bool GridSelection::coversWholeRows(const GridSize& size) const {
    return columns() == wholeAxis(size.columns);
}

bool GridSelection::coversWholeColumns(const GridSize& size) const {
    return rows() == wholeAxis(size.rows);
}

void GridSelection::select(const GridCell& cell, bool extend) {
    active = cell;
    if (!extend) anchor = cell;
}

void GridSelection::move(GridDirection direction, bool extend, bool toEdge, const GridSize& size) {
    if (size.isEmpty()) return;
    int64_t r = active.row;
    int64_t c = active.column;
    switch (direction) {
    case GridDirection::up:
        r = toEdge ? 0 : r - 1;
        break;
    case GridDirection::down:
        r = toEdge ? size.rows - 1 : r + 1;
        break;
    case GridDirection::left:
        c = toEdge ? 0 : c - 1;
        break;
    case GridDirection::right:
        c = toEdge ? size.columns - 1 : c + 1;
        break;
    }
    select({clampTo(r, size.rows), clampTo(c, size.columns)}, extend);
}

void GridSelection::advance(bool backwards, const GridSize& size) {
    if (size.isEmpty()) return;
    GridCell cell = active;
    if (!backwards) {
        if (cell.column < size.columns - 1)
            ++cell.column;
        else if (cell.row < size.rows - 1)
            cell = {cell.row + 1, 0};
    } else {
        if (cell.column >= 1)
            --cell.column;
        else if (cell.row >= 1)
            cell = {cell.row - 1, size.columns - 1};
    }
    select(cell, false);
}

void GridSelection::selectAll(const GridSize& size) {
    if (size.isEmpty()) return;
    anchor = {0, 0};
    active = {size.rows - 1, size.columns - 1};
}

void GridSelection::selectRows(int64_t first, int64_t last, const GridSize& size) {
    if (size.isEmpty()) return;
    anchor = {first, 0};
    active = {last, size.columns - 1};
}

void GridSelection::selectColumns(int64_t first, int64_t last, const GridSize& size) {
    if (size.isEmpty()) return;
    anchor = {0, first};
    active = {size.rows - 1, last};
}

void GridSelection::clamp(const GridSize& size) {
    // A grid without cells has nothing to keep: the selection goes back to the start.
    if (size.isEmpty()) {
        *this = GridSelection{};
        return;
    }
    anchor = {clampTo(anchor.row, size.rows), clampTo(anchor.column, size.columns)};
    active = {clampTo(active.row, size.rows), clampTo(active.column, size.columns)};
}

} // namespace zarvel
