// GridGeometry: where everything in the grid lies.
//
// One value describes the row height, the header strip, the row-number gutter and the
// width and left edge of every column. Views ask it which rows and columns to draw for
// the visible part of the content, which cell lies under a point and which rectangle a
// cell or a block covers. It holds no reference to the table; its owner keeps
// `rowCount` and the widths in step.
//
// Coordinates are content points: the origin is the top-left corner of the scrolling
// content, x grows to the right and y downward. The header strip covers y in
// 0 ..< headerHeight, the gutter x in 0 ..< gutterWidth; cells start at
// (gutterWidth, headerHeight). Rows are display rows, columns table columns.
//
// Invariants kept by every change:
//   offsets.size() == columnCount() + 1, offsets[0] == 0,
//   offsets[i + 1] == offsets[i] + columnWidths[i]  (rebuilt in full on every change);
//   gutterWidth == max(digits of rowCount, 3) * 8 + 16.
// Column arguments of xOfColumn, cellRect, rect and setWidth must lie in
// 0 ..< columnCount(); widths are expected to be non-negative.
//
//   GridGeometry g({100, 50}, 1000);     // gutter 48, offsets {0, 100, 150}
//   g.columnAt(148);                     // 1: a boundary belongs to the column on its right
//   g.window(visible, 8, 2);             // rows and columns to render, with overscan
#pragma once

#include "core/IndexRange.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zarvel {

class GridGeometry {
public:
    static constexpr double minColumnWidth = 40;
    static constexpr double maxColumnWidth = 2000;
    static constexpr double defaultRowHeight = 22;
    static constexpr double defaultHeaderHeight = 26;

    struct Size {
        double width = 0;
        double height = 0;
        bool operator==(const Size&) const = default;
    };

    struct Rect {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;

        double minX() const { return x; }
        double minY() const { return y; }
        double maxX() const { return x + width; }
        double maxY() const { return y + height; }
        bool operator==(const Rect&) const = default;
    };

    // The rows and columns to render, both half-open. The default value is `empty()`.
    struct Window {
        IndexRange rows;
        IndexRange columns;

        static Window empty() { return {}; }
        bool operator==(const Window&) const = default;
    };

    // No columns and no rows: gutter 40, offsets {0}.
    GridGeometry() : GridGeometry({}, 0) {}
    // Widths are taken as they are, without clamping.
    GridGeometry(std::vector<double> columnWidths, int64_t rowCount);

    double rowHeight() const { return rowHeight_; }
    double headerHeight() const { return headerHeight_; }
    int64_t rowCount() const { return rowCount_; }
    double gutterWidth() const { return gutterWidth_; }
    const std::vector<double>& columnWidths() const { return columnWidths_; }
    const std::vector<double>& offsets() const { return offsets_; }
    int64_t columnCount() const { return static_cast<int64_t>(columnWidths_.size()); }

    // Gutter and all columns wide, header and all rows high.
    Size contentSize() const;
    // Left edge of a column.
    double xOfColumn(int64_t column) const { return gutterWidth_ + offsets_[column]; }
    // Top edge of a row; any row number is accepted.
    double yOfRow(int64_t row) const { return headerHeight_ + rowHeight_ * static_cast<double>(row); }
    Rect cellRect(int64_t row, int64_t column) const;
    // The rectangle covering a block of rows and columns (both half-open, not empty);
    // rect({r, r + 1}, {c, c + 1}) equals cellRect(r, c).
    Rect rect(IndexRange rows, IndexRange columns) const;

    // The row under y; none in the header strip and below the last row.
    std::optional<int64_t> rowAt(double y) const;
    // The column under x; none in the gutter and right of the last column. A point
    // exactly on a boundary belongs to the column on its right.
    std::optional<int64_t> columnAt(double x) const;
    // The nearest existing row and column, for drags beyond the cells. An empty axis
    // answers 0.
    int64_t nearestRow(double y) const;
    int64_t nearestColumn(double x) const;

    // The rows and columns to render for a visible rectangle in content coordinates
    // (header and gutter included), widened by the overscan counts and kept inside
    // the grid. A grid without rows still gets its columns, so the column titles show
    // for a header-only file or a filter without matches; a grid without columns
    // gets the empty window.
    Window window(const Rect& visible, int64_t overscanRows, int64_t overscanColumns) const;

    // Stores the count and recomputes the gutter width.
    void setRowCount(int64_t rowCount);
    // Stores the widths as given (no clamping) and rebuilds the offsets.
    void setColumnWidths(std::vector<double> columnWidths);
    // Stores the width clamped to minColumnWidth ... maxColumnWidth and rebuilds the offsets.
    void setWidth(int64_t column, double width);

    // The gutter width for a row count: room for at least three digits.
    static double gutterWidth(int64_t rowCount);

    bool operator==(const GridGeometry&) const = default;

private:
    // How many offsets are <= x (the first offset greater than x); 0 ... columnCount + 1.
    int64_t offsetsUpTo(double x) const;
    void rebuildOffsets();

    double rowHeight_ = defaultRowHeight;
    double headerHeight_ = defaultHeaderHeight;
    int64_t rowCount_ = 0;
    double gutterWidth_ = 40;
    std::vector<double> columnWidths_;
    std::vector<double> offsets_{0};
};

} // namespace zarvel
