#include "grid/GridGeometry.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace zarvel {

namespace {

// A row number computed in floating point, forced into lo ... hi before it becomes an
// integer (so a far-away or NaN coordinate can neither overflow nor go negative).
int64_t clampedIndex(double v, int64_t lo, int64_t hi) {
    if (!(v > static_cast<double>(lo))) return lo;
    if (!(v < static_cast<double>(hi))) return hi;
    return static_cast<int64_t>(v);
}

} // namespace

GridGeometry::GridGeometry(std::vector<double> columnWidths, int64_t rowCount)
    : columnWidths_(std::move(columnWidths)) {
    setRowCount(rowCount);
    rebuildOffsets();
}

double GridGeometry::gutterWidth(int64_t rowCount) {
    const auto digits = static_cast<int64_t>(std::to_string(rowCount).size());
    return static_cast<double>(std::max<int64_t>(digits, 3) * 8 + 16);
}

void GridGeometry::setRowCount(int64_t rowCount) {
    rowCount_ = rowCount;
    gutterWidth_ = gutterWidth(rowCount);
}

void GridGeometry::setColumnWidths(std::vector<double> columnWidths) {
    columnWidths_ = std::move(columnWidths);
    rebuildOffsets();
}

void GridGeometry::setWidth(int64_t column, double width) {
    columnWidths_[column] = std::min(std::max(width, minColumnWidth), maxColumnWidth);
    rebuildOffsets();
}

void GridGeometry::rebuildOffsets() {
    std::vector<double> offsets;
    offsets.reserve(columnWidths_.size() + 1);
    double sum = 0;
    offsets.push_back(sum);
    for (double w : columnWidths_) {
        sum += w;
        offsets.push_back(sum);
    }
    offsets_ = std::move(offsets);
}

GridGeometry::Size GridGeometry::contentSize() const {
    return {gutterWidth_ + offsets_.back(), headerHeight_ + rowHeight_ * static_cast<double>(rowCount_)};
}

GridGeometry::Rect GridGeometry::cellRect(int64_t row, int64_t column) const {
    return {xOfColumn(column), yOfRow(row), columnWidths_[column], rowHeight_};
}

GridGeometry::Rect GridGeometry::rect(IndexRange rows, IndexRange columns) const {
    const int64_t lastColumn = columns.upper - 1;
    const double x0 = xOfColumn(columns.lower);
    return {x0, yOfRow(rows.lower), xOfColumn(lastColumn) + columnWidths_[lastColumn] - x0,
            rowHeight_ * static_cast<double>(rows.upper - rows.lower)};
}

int64_t GridGeometry::offsetsUpTo(double x) const {
    return std::upper_bound(offsets_.begin(), offsets_.end(), x) - offsets_.begin();
}

std::optional<int64_t> GridGeometry::rowAt(double y) const {
    if (!(y >= headerHeight_)) return std::nullopt;
    const double r = std::floor((y - headerHeight_) / rowHeight_);
    if (!(r < static_cast<double>(rowCount_))) return std::nullopt;
    return static_cast<int64_t>(r);
}

std::optional<int64_t> GridGeometry::columnAt(double x) const {
    const double local = x - gutterWidth_;
    if (!(local >= 0) || !(local < offsets_.back())) return std::nullopt;
    return offsetsUpTo(local) - 1;
}

int64_t GridGeometry::nearestRow(double y) const {
    if (rowCount_ < 1) return 0;
    return clampedIndex(std::floor((y - headerHeight_) / rowHeight_), 0, rowCount_ - 1);
}

int64_t GridGeometry::nearestColumn(double x) const {
    if (columnWidths_.empty()) return 0;
    const int64_t u = offsetsUpTo(x - gutterWidth_);
    return u < 1 ? 0 : std::min(u, columnCount()) - 1;
}

GridGeometry::Window GridGeometry::window(const Rect& visible, int64_t overscanRows,
                                          int64_t overscanColumns) const {
    if (columnWidths_.empty()) return Window::empty();

    Window w;
    // A grid without rows keeps rows 0 ..< 0 but still lays out its columns, so the
    // header strip has titles to draw.
    if (rowCount_ >= 1) {
        const double first =
            std::floor((visible.minY() - headerHeight_) / rowHeight_) - static_cast<double>(overscanRows);
        const double last =
            std::ceil((visible.maxY() - headerHeight_) / rowHeight_) + static_cast<double>(overscanRows);
        w.rows.lower = clampedIndex(first, 0, rowCount_);
        w.rows.upper = clampedIndex(last, w.rows.lower, rowCount_);
    }

    const int64_t n = columnCount();
    const int64_t first = offsetsUpTo(visible.minX() - gutterWidth_) - 1 - overscanColumns;
    const int64_t end = offsetsUpTo(visible.maxX() - gutterWidth_) + overscanColumns;
    w.columns.lower = std::clamp<int64_t>(first, 0, n);
    w.columns.upper = std::clamp<int64_t>(end, w.columns.lower, n);
    return w;
}

} // namespace zarvel
