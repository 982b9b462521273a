// GridFuzzChecks: the property the grid fuzz target checks. Bytes become key presses,
// selection moves and geometry changes on a small model of the grid (a size, a
// selection and a geometry kept in step, as the editor session keeps them); after
// every step the selection lies inside the grid and every window, hit test and
// rectangle lies inside the geometry. tests/grid/GridRegressionTests.cpp replays the
// fuzzer's findings through the same function.
#pragma once

#include "fuzz/FuzzInput.h"
#include "grid/ColumnWidthEstimator.h"
#include "grid/GridGeometry.h"
#include "grid/GridKeymap.h"
#include "grid/GridSelection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace zarvel::fuzz {

class GridModel {
public:
    explicit GridModel(ByteSource& in) : in_(in) {
        size_.columns = in_.below(6);
        setRows(rowCount());
        std::vector<double> widths;
        for (int64_t c = 0; c < size_.columns; ++c)
            widths.push_back(width());
        geometry_ = GridGeometry(widths, size_.rows);
        visible_ = rect();
    }

    void step() {
        switch (in_.below(10)) {
        case 0:
        case 1:
        case 2:
            key();
            break;
        case 3:
            if (!size_.isEmpty()) selection_.select(cell(), in_.flag());
            break;
        case 4: {
            if (size_.isEmpty()) break;
            const int64_t a = in_.below(size_.rows), b = in_.below(size_.rows);
            selection_.selectRows(a, b, size_);
            expect(selection_.coversWholeRows(size_), "selected rows cover whole rows");
            break;
        }
        case 5: {
            if (size_.isEmpty()) break;
            const int64_t a = in_.below(size_.columns), b = in_.below(size_.columns);
            selection_.selectColumns(a, b, size_);
            expect(selection_.coversWholeColumns(size_), "selected columns cover whole columns");
            break;
        }
        case 6:
            // The table changed underneath: new counts, the selection kept inside.
            setRows(rowCount());
            geometry_.setRowCount(size_.rows);
            selection_.clamp(size_);
            break;
        case 7:
            if (in_.flag() || size_.columns == 0) {
                std::vector<double> widths;
                for (int64_t c = 0; c < size_.columns; ++c)
                    widths.push_back(width());
                geometry_.setColumnWidths(widths);
            } else {
                geometry_.setWidth(in_.below(size_.columns), anyFinite());
            }
            break;
        default:
            visible_ = rect();
            overscanRows_ = in_.below(17);
            overscanColumns_ = in_.below(5);
            break;
        }
        checkInvariants();
    }

    void checkInvariants() const {
        expect(geometry_.rowCount() == size_.rows, "geometry row count follows the grid");
        expect(geometry_.columnCount() == size_.columns, "geometry column count follows the grid");
        const auto& offsets = geometry_.offsets();
        const auto& widths = geometry_.columnWidths();
        expect(offsets.size() == widths.size() + 1 && offsets.front() == 0, "one offset per column plus one");
        for (size_t i = 0; i < widths.size(); ++i)
            expect(offsets[i + 1] == offsets[i] + widths[i], "offsets add up");
        const auto digits = static_cast<int64_t>(std::to_string(size_.rows).size());
        expect(geometry_.gutterWidth() == static_cast<double>(std::max<int64_t>(digits, 3) * 8 + 16),
               "gutter width");

        const IndexRange rows = selection_.rows(), columns = selection_.columns();
        expect(!rows.empty() && !columns.empty(), "a selection spans at least one cell");
        if (!size_.isEmpty()) {
            for (const GridCell& c : {selection_.anchor, selection_.active}) {
                expect(c.row >= 0 && c.row < size_.rows, "selected row inside the grid");
                expect(c.column >= 0 && c.column < size_.columns, "selected column inside the grid");
            }
            const GridGeometry::Rect r = geometry_.rect(rows, columns);
            expect(std::isfinite(r.x) && std::isfinite(r.y) && r.width >= 0 && r.height > 0,
                   "selection rectangle");
            const GridGeometry::Rect cell =
                geometry_.cellRect(selection_.active.row, selection_.active.column);
            expect(cell.x >= r.x && cell.maxY() <= r.maxY() + 1e-6 * std::abs(r.maxY()),
                   "active cell inside the selection");
        }

        const GridGeometry::Window w = geometry_.window(visible_, overscanRows_, overscanColumns_);
        expect(w.rows.lower >= 0 && w.rows.lower <= w.rows.upper && w.rows.upper <= size_.rows,
               "window rows inside");
        expect(w.columns.lower >= 0 && w.columns.lower <= w.columns.upper && w.columns.upper <= size_.columns,
               "window columns inside");
        if (size_.columns == 0) expect(w == GridGeometry::Window::empty(), "no columns, empty window");

        for (double v : {visible_.x, visible_.y, visible_.maxX(), visible_.maxY()}) {
            if (const auto row = geometry_.rowAt(v)) expect(*row >= 0 && *row < size_.rows, "rowAt inside");
            if (const auto column = geometry_.columnAt(v))
                expect(*column >= 0 && *column < size_.columns, "columnAt inside");
            const int64_t nr = geometry_.nearestRow(v), nc = geometry_.nearestColumn(v);
            expect(nr >= 0 && nr <= std::max<int64_t>(size_.rows - 1, 0), "nearestRow inside");
            expect(nc >= 0 && nc <= std::max<int64_t>(size_.columns - 1, 0), "nearestColumn inside");
        }
    }

private:
    int64_t rowCount() {
        switch (in_.below(4)) {
        case 0:
            return 0;
        case 1:
            return in_.below(1 << 16) + (int64_t{1} << in_.below(34)); // up to ten billion
        default:
            return in_.below(12);
        }
    }
    void setRows(int64_t rows) { size_.rows = rows; }

    double width() {
        static constexpr double widths[] = {0, 1, 40, 60.5, 100, 400, 2000, 1e6};
        return in_.pick(widths);
    }
    double anyFinite() {
        static constexpr double values[] = {-1e300, -5, 0, 0.5, 39.9, 77, 2000.1, 1e300};
        return in_.pick(values);
    }
    double coordinate() {
        static constexpr double values[] = {-1e300, -1e9, -1,  0,     10,   25.999, 26,
                                            47.5,   140,  1e4, 2.2e8, 1e15, 1e300};
        switch (in_.below(8)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return std::numeric_limits<double>::infinity();
        case 2:
            return static_cast<double>(static_cast<int16_t>(in_.below(65'536)));
        default:
            return in_.pick(values);
        }
    }
    GridGeometry::Rect rect() {
        GridGeometry::Rect r{coordinate(), coordinate(), 0, 0};
        r.width = std::abs(coordinate());
        r.height = std::abs(coordinate());
        return r;
    }
    GridCell cell() { return {in_.below(size_.rows), in_.below(size_.columns)}; }

    // The number of rows a page moves by, as the session computes it for its visible height.
    int64_t pageRows() const {
        const double rows = visible_.height / geometry_.rowHeight() - 2;
        if (!(rows >= 1)) return 1;
        return rows < 1e12 ? static_cast<int64_t>(rows) : int64_t{1'000'000'000'000};
    }

    void key() {
        GridKey k;
        k.key = in_.pick(GridKey::allKeys);
        const uint8_t m = in_.byte();
        k.shift = m & 1;
        k.command = m & 2;
        k.option = m & 4;
        k.control = m & 8;
        if (k.key == GridKey::Key::character) k.text = in_.bytes(6);
        const std::optional<GridAction> a = GridKeymap::action(k);
        expect(a == GridKeymap::action(k), "the same key means the same action");
        if (k.key == GridKey::Key::character) {
            const int64_t n = ColumnWidthEstimator::characterCount(k.text);
            expect(n >= 0 && n <= static_cast<int64_t>(k.text.size()),
                   "character count within the byte count");
        }
        if (!a) return;
        perform(*a);
    }

    void perform(const GridAction& action) {
        std::visit(
            [this](const auto& a) {
                using T = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<T, GridAction::Move>) {
                    selection_.move(a.direction, a.extend, a.toEdge, size_);
                } else if constexpr (std::is_same_v<T, GridAction::Page>) {
                    if (size_.isEmpty()) return;
                    const int64_t rows = pageRows();
                    int64_t row = selection_.active.row;
                    row = a.direction == GridDirection::down
                              ? (row > size_.rows - 1 - rows ? size_.rows - 1 : row + rows)
                              : (row < rows ? 0 : row - rows);
                    selection_.select({row, selection_.active.column}, a.extend);
                } else if constexpr (std::is_same_v<T, GridAction::Advance>) {
                    selection_.advance(a.backwards, size_);
                } else if constexpr (std::is_same_v<T, GridAction::SelectAll>) {
                    selection_.selectAll(size_);
                    if (!size_.isEmpty())
                        expect(selection_.coversWholeRows(size_) && selection_.coversWholeColumns(size_),
                               "select all");
                } else if constexpr (std::is_same_v<T, GridAction::BeginEditing>) {
                    if (a.replacingWith)
                        expect(GridKeymap::isTypeableText(*a.replacingWith),
                               "typing starts with typeable text");
                } else if constexpr (std::is_same_v<T, GridAction::InsertRow>) {
                    if (size_.columns == 0) return;
                    const int64_t at = size_.rows == 0 ? 0 : selection_.active.row + (a.above ? 0 : 1);
                    ++size_.rows;
                    geometry_.setRowCount(size_.rows);
                    selection_.select({at, selection_.active.column}, false);
                    selection_.clamp(size_);
                } else if constexpr (std::is_same_v<T, GridAction::InsertColumn>) {
                    const int64_t at = size_.columns == 0 ? 0 : selection_.active.column + (a.left ? 0 : 1);
                    std::vector<double> widths = geometry_.columnWidths();
                    widths.insert(widths.begin() + at, 100);
                    ++size_.columns;
                    geometry_.setColumnWidths(widths);
                    selection_.select({selection_.active.row, at}, false);
                    selection_.clamp(size_);
                } else if constexpr (std::is_same_v<T, GridAction::DeleteRows>) {
                    if (size_.isEmpty()) return;
                    const IndexRange removed = selection_.rows();
                    size_.rows -= removed.count();
                    geometry_.setRowCount(size_.rows);
                    selection_.select({removed.lower, selection_.active.column}, false);
                    selection_.clamp(size_);
                } else if constexpr (std::is_same_v<T, GridAction::DeleteColumns>) {
                    if (size_.isEmpty()) return;
                    const IndexRange removed = selection_.columns();
                    std::vector<double> widths = geometry_.columnWidths();
                    widths.erase(widths.begin() + removed.lower, widths.begin() + removed.upper);
                    size_.columns -= removed.count();
                    geometry_.setColumnWidths(widths);
                    selection_.select({selection_.active.row, removed.lower}, false);
                    selection_.clamp(size_);
                }
            },
            action.value);
    }

    ByteSource& in_;
    GridSize size_;
    GridSelection selection_;
    GridGeometry geometry_;
    GridGeometry::Rect visible_;
    int64_t overscanRows_ = 8;
    int64_t overscanColumns_ = 2;
};

inline constexpr int maxGridSteps = 256;

inline void checkGrid(const uint8_t* data, size_t size) {
    ByteSource in(data, size);
    GridModel model(in);
    model.checkInvariants();
    for (int step = 0; step < maxGridSteps && !in.exhausted(); ++step)
        model.step();
}

} // namespace zarvel::fuzz
