#include "grid/GridSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_set>

namespace zarvel {
namespace {

using D = GridDirection;

GridSelection sel(GridCell anchor, GridCell active) {
    return {anchor, active};
}
GridSelection collapsed(GridCell cell) {
    return {cell, cell};
}

std::string describe(const GridSelection& s) {
    return "(" + std::to_string(s.anchor.row) + "," + std::to_string(s.anchor.column) + ")..(" +
           std::to_string(s.active.row) + "," + std::to_string(s.active.column) + ")";
}

// ---- derived values ----

TEST(GridSelectionDerived, RangesAndContainsSpanBothCornersInclusively) {
    for (const GridSelection& s : {sel({4, 1}, {2, 3}), sel({2, 3}, {4, 1})}) {
        EXPECT_EQ(s.rows(), (IndexRange{2, 5}));
        EXPECT_EQ(s.columns(), (IndexRange{1, 4}));
        EXPECT_EQ(s.cellCount(), 9);
        for (const GridCell& in : {GridCell{2, 1}, GridCell{4, 3}, GridCell{3, 2}})
            EXPECT_TRUE(s.contains(in));
        for (const GridCell& out : {GridCell{1, 2}, GridCell{5, 2}, GridCell{3, 0}, GridCell{3, 4}})
            EXPECT_FALSE(s.contains(out));
    }
}

TEST(GridSelectionDerived, WholeRowsNeedEveryColumnWholeColumnsEveryRow) {
    struct Case {
        GridSelection s;
        GridSize size;
        bool wholeRows, wholeColumns;
    };
    const Case cases[] = {
        {sel({2, 0}, {4, 4}), {10, 5}, true, false},
        {sel({2, 0}, {4, 4}), {10, 6}, false, false},
        {sel({2, 1}, {4, 4}), {10, 5}, false, false},
        {sel({0, 1}, {9, 2}), {10, 5}, false, true},
        {sel({0, 1}, {8, 2}), {10, 5}, false, false},
        {sel({1, 1}, {9, 2}), {10, 5}, false, false},
        // In a one-column (one-row) table a single cell is a whole row (column).
        {sel({3, 0}, {3, 0}), {10, 1}, true, false},
        {sel({0, 3}, {0, 3}), {1, 10}, false, true},
        // An empty axis counts its first cell as the whole axis.
        {GridSelection{}, {0, 5}, false, true},
        {GridSelection{}, {5, 0}, true, false},
    };
    for (const Case& c : cases) {
        const std::string name =
            describe(c.s) + " in " + std::to_string(c.size.rows) + " x " + std::to_string(c.size.columns);
        EXPECT_EQ(c.s.coversWholeRows(c.size), c.wholeRows) << name;
        EXPECT_EQ(c.s.coversWholeColumns(c.size), c.wholeColumns) << name;
    }
}

// ---- select and move ----

TEST(GridSelectionSelect, ClickCollapsesShiftClickExtends) {
    GridSelection s = sel({1, 1}, {2, 2});
    s.select({5, 6}, false);
    EXPECT_EQ(s, sel({5, 6}, {5, 6}));
    s.select({7, 0}, true);
    EXPECT_EQ(s, sel({5, 6}, {7, 0}));
}

TEST(GridSelectionMove, StepsEdgesAndExtension) {
    struct Case {
        GridSelection from;
        D direction;
        bool extend, toEdge;
        GridSize size;
        GridSelection to;
    };
    const GridSize s{10, 5}, tall{100, 5};
    const Case cases[] = {
        // A step against an edge stays, extending or not.
        {GridSelection{}, D::up, false, false, s, GridSelection{}},
        {GridSelection{}, D::left, false, false, s, GridSelection{}},
        {sel({3, 3}, {3, 0}), D::left, true, false, s, sel({3, 3}, {3, 0})},
        {sel({9, 4}, {9, 4}), D::down, false, false, s, sel({9, 4}, {9, 4})},
        {sel({9, 4}, {9, 4}), D::right, false, false, s, sel({9, 4}, {9, 4})},
        // A step moves from the active cell and collapses unless extending.
        {sel({0, 0}, {3, 2}), D::down, false, false, s, sel({4, 2}, {4, 2})},
        {sel({4, 2}, {4, 2}), D::right, false, false, s, sel({4, 3}, {4, 3})},
        {sel({4, 3}, {4, 3}), D::up, true, false, s, sel({4, 3}, {3, 3})},
        {sel({4, 3}, {3, 3}), D::left, true, false, s, sel({4, 3}, {3, 2})},
        // To the edge: the last row and column, or the first.
        {sel({5, 2}, {5, 2}), D::down, false, true, tall, sel({99, 2}, {99, 2})},
        {sel({5, 2}, {5, 2}), D::down, true, true, tall, sel({5, 2}, {99, 2})},
        {sel({5, 2}, {99, 2}), D::right, true, true, tall, sel({5, 2}, {99, 4})},
        {sel({5, 2}, {99, 4}), D::up, true, true, tall, sel({5, 2}, {0, 4})},
        {sel({5, 2}, {0, 4}), D::left, true, true, tall, sel({5, 2}, {0, 0})},
        // An active cell outside the grid is pulled in.
        {sel({20, 20}, {20, 20}), D::up, false, false, s, sel({9, 4}, {9, 4})},
    };
    for (const Case& c : cases) {
        GridSelection m = c.from;
        m.move(c.direction, c.extend, c.toEdge, c.size);
        EXPECT_EQ(m, c.to) << describe(c.from) << " direction " << int(c.direction) << " extend " << c.extend
                           << " toEdge " << c.toEdge << " gave " << describe(m);
    }
}

// ---- advance ----

TEST(GridSelectionAdvance, VisitsEveryCellInReadingOrderAndStopsAtBothEnds) {
    for (const GridSize size : {GridSize{7, 4}, GridSize{3, 1}, GridSize{1, 3}}) {
        const int64_t cells = size.rows * size.columns;
        const auto only = [&](int64_t i) { return collapsed({i / size.columns, i % size.columns}); };
        // Each walk starts from a block anchored at its far end: advancing leaves from the
        // active cell and collapses the block.
        GridSelection s = sel(only(cells - 1).anchor, {0, 0});
        for (int64_t i = 1; i < cells + 2; ++i) {
            s.advance(false, size);
            EXPECT_EQ(s, only(std::min(i, cells - 1))) << size.rows << "x" << size.columns << " step " << i;
        }
        s.anchor = {0, 0};
        for (int64_t i = cells - 2; i > -2; --i) {
            s.advance(true, size);
            EXPECT_EQ(s, only(std::max<int64_t>(i, 0))) << size.rows << "x" << size.columns << " back " << i;
        }
    }
}

// ---- whole-grid operations and clamp ----

TEST(GridSelectionWhole, SelectAllRowsAndColumns) {
    GridSelection s;
    s.selectAll({10, 5});
    EXPECT_EQ(s, sel({0, 0}, {9, 4}));
    s.selectRows(3, 1, {10, 5});
    EXPECT_EQ(s, sel({3, 0}, {1, 4}));
    s.selectColumns(2, 2, {10, 5});
    EXPECT_EQ(s, sel({0, 2}, {9, 2}));
}

TEST(GridSelectionWhole, EmptySizesChangeNothingButClampGoesToTheFirstCell) {
    for (const GridSize size : {GridSize{0, 5}, GridSize{5, 0}, GridSize{0, 0}}) {
        const GridSelection start = sel({1, 2}, {3, 4});
        GridSelection s = start;
        s.move(D::down, false, true, size);
        s.move(D::left, true, false, size);
        s.advance(false, size);
        s.advance(true, size);
        s.selectAll(size);
        s.selectRows(0, 1, size);
        s.selectColumns(0, 1, size);
        EXPECT_EQ(s, start) << size.rows << "x" << size.columns;
        s.clamp(size);
        EXPECT_EQ(s, GridSelection{}) << size.rows << "x" << size.columns;
    }
}

TEST(GridSelectionClamp, ForcesEveryCoordinateIntoTheGrid) {
    GridSelection s = sel({-1, 0}, {7, 9});
    s.clamp({3, 2});
    EXPECT_EQ(s, sel({0, 0}, {2, 1}));
    s = sel({7, 9}, {1, -4});
    s.clamp({3, 2});
    EXPECT_EQ(s, sel({2, 1}, {1, 0}));
    s = sel({1, 1}, {2, 0});
    s.clamp({3, 2});
    EXPECT_EQ(s, sel({1, 1}, {2, 0}));
}

// ---- properties ----

TEST(GridSelectionProperties, RandomOperationsStayInsideTheGrid) {
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        const GridSize size{1 + int64_t(rng() % 30), 1 + int64_t(rng() % 8)};
        GridSelection s;
        for (int step = 0; step < 200; ++step) {
            const auto direction = allGridDirections[rng() % 4];
            switch (rng() % 5) {
            case 0:
                s.move(direction, rng() % 2, rng() % 4 == 0, size);
                break;
            case 1:
                s.advance(rng() % 2, size);
                break;
            case 2:
                s.select({int64_t(rng() % size.rows), int64_t(rng() % size.columns)}, rng() % 2);
                break;
            case 3:
                s.selectRows(int64_t(rng() % size.rows), int64_t(rng() % size.rows), size);
                break;
            default:
                s.selectColumns(int64_t(rng() % size.columns), int64_t(rng() % size.columns), size);
                break;
            }
            for (const GridCell& c : {s.anchor, s.active})
                ASSERT_TRUE(c.row >= 0 && c.row < size.rows && c.column >= 0 && c.column < size.columns)
                    << describe(s) << " round " << round << " step " << step;
            ASSERT_TRUE(s.contains(s.anchor) && s.contains(s.active)) << describe(s);
            ASSERT_EQ(s.cellCount(), s.rows().count() * s.columns().count());
        }
    }
}

TEST(GridSelectionRecords, CellsAndSelectionsHashByTheirFields) {
    std::unordered_set<GridCell> cells{{0, 1}, {1, 0}, {1, 1}, {0, 1}};
    EXPECT_EQ(cells.size(), 3u);
    std::unordered_set<GridSelection> selections{sel({0, 1}, {1, 0}), sel({1, 0}, {0, 1}),
                                                 sel({0, 1}, {1, 0})};
    EXPECT_EQ(selections.size(), 2u);
}

} // namespace
} // namespace zarvel
