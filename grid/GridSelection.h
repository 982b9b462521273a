// GridSelection: the grid's one rectangular selection.
//
// Two cells span it: the `anchor`, where the selection was started, and the `active`
// cell, the cursor that moves and that editing and scrolling refer to. Every cell
// between them, inclusive, is selected. The selection knows nothing of the table:
// operations that must stay inside the grid take its GridSize. Operations on an empty
// size change nothing, except `clamp`, which then puts both cells at (0, 0).
//
// The derived `rows` and `columns` are half-open ranges (never empty), so they feed
// IndexSet and GridGeometry::rect directly.
//
//   GridSelection s;                       // (0, 0) .. (0, 0)
//   s.move(GridDirection::down, true, true, {100, 5});  // active (99, 0), anchor stays
//   s.rows();                              // 0 ..< 100
#pragma once

#include "core/IndexRange.h"
#include "grid/GridCell.h"
#include "grid/GridDirection.h"
#include "grid/GridSize.h"

#include <cstdint>
#include <functional>

namespace zarvel {

struct GridSelection {
    GridCell anchor;
    GridCell active;

    // Rows min(anchor.row, active.row) ..< max(...) + 1; columns likewise.
    IndexRange rows() const;
    IndexRange columns() const;
    int64_t cellCount() const { return rows().count() * columns().count(); }
    bool isSingleCell() const { return anchor == active; }
    bool contains(const GridCell& cell) const {
        return rows().contains(cell.row) && columns().contains(cell.column);
    }
    // The selection spans every column (0 ... max(columns - 1, 0)): it is whole rows.
    bool coversWholeRows(const GridSize& size) const;
    // The selection spans every row (0 ... max(rows - 1, 0)): it is whole columns.
    bool coversWholeColumns(const GridSize& size) const;

    // Makes `cell` active; unless extending, the anchor too. No clamping.
    void select(const GridCell& cell, bool extend);
    // One step, or to the edge of the grid, clamped to the grid; a step against an edge
    // leaves the cell where it is. Unless extending, the anchor follows.
    void move(GridDirection direction, bool extend, bool toEdge, const GridSize& size);
    // The Tab order: the next (previous) cell in reading order, wrapping at row ends but
    // not from the last cell to the first. Collapses the selection to the new cell.
    void advance(bool backwards, const GridSize& size);
    void selectAll(const GridSize& size);
    // Rows first ... last (taken as given) across all columns.
    void selectRows(int64_t first, int64_t last, const GridSize& size);
    // Columns first ... last (taken as given) across all rows.
    void selectColumns(int64_t first, int64_t last, const GridSize& size);
    // Forces each coordinate into 0 ... limit - 1; an empty size puts both cells at (0, 0).
    void clamp(const GridSize& size);

    bool operator==(const GridSelection&) const = default;
};

} // namespace zarvel

template <> struct std::hash<zarvel::GridSelection> {
    size_t operator()(const zarvel::GridSelection& s) const noexcept {
        const std::hash<zarvel::GridCell> h;
        return h(s.anchor) * 31u + h(s.active);
    }
};
