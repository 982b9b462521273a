#include "grid/GridSelection.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>

namespace zarvel {
namespace {

GridSelection sel(GridCell anchor, GridCell active) { return {anchor, active}; }

// ---- derived values ----

TEST(GridSelectionDerived, NewSelectionIsTheFirstCell) {
    const GridSelection s;
    EXPECT_EQ(s.anchor, (GridCell{0, 0}));
    EXPECT_EQ(s.active, (GridCell{0, 0}));
    EXPECT_TRUE(s.isSingleCell());
    EXPECT_EQ(s.cellCount(), 1);
}

TEST(GridSelectionDerived, RangesSpanBothCornersInEitherOrder) {
    const GridSelection s = sel({4, 1}, {2, 3});
    EXPECT_EQ(s.rows(), (IndexRange{2, 5}));
    EXPECT_EQ(s.columns(), (IndexRange{1, 4}));
    EXPECT_EQ(s.cellCount(), 9);
    EXPECT_EQ(sel({2, 3}, {4, 1}).rows(), s.rows());
    EXPECT_FALSE(s.isSingleCell());
}

TEST(GridSelectionDerived, ContainsIsInclusiveOfBothCorners) {
    const GridSelection s = sel({4, 1}, {2, 3});
    EXPECT_TRUE(s.contains({2, 1}));
    EXPECT_TRUE(s.contains({4, 3}));
    EXPECT_TRUE(s.contains({3, 2}));
    EXPECT_FALSE(s.contains({1, 2}));
    EXPECT_FALSE(s.contains({5, 2}));
    EXPECT_FALSE(s.contains({3, 0}));
    EXPECT_FALSE(s.contains({3, 4}));
}

TEST(GridSelectionDerived, WholeRowsNeedEveryColumn) {
    const GridSelection s = sel({2, 0}, {4, 4});
    EXPECT_TRUE(s.coversWholeRows({10, 5}));
    EXPECT_FALSE(s.coversWholeRows({10, 6}));
    EXPECT_FALSE(sel({2, 1}, {4, 4}).coversWholeRows({10, 5}));
    EXPECT_FALSE(s.coversWholeColumns({10, 5}));
}

TEST(GridSelectionDerived, OneColumnTableMakesASingleCellAWholeRow) {
    EXPECT_TRUE(sel({3, 0}, {3, 0}).coversWholeRows({10, 1}));
    EXPECT_TRUE(sel({0, 3}, {0, 3}).coversWholeColumns({1, 10}));
}

TEST(GridSelectionDerived, WholeColumnsNeedEveryRow) {
    EXPECT_TRUE(sel({0, 1}, {9, 2}).coversWholeColumns({10, 5}));
    EXPECT_FALSE(sel({0, 1}, {8, 2}).coversWholeColumns({10, 5}));
    EXPECT_FALSE(sel({1, 1}, {9, 2}).coversWholeColumns({10, 5}));
    // An empty grid treats the first cell as the whole axis.
    EXPECT_TRUE(GridSelection{}.coversWholeColumns({0, 5}));
    EXPECT_TRUE(GridSelection{}.coversWholeRows({5, 0}));
}

// ---- select ----

TEST(GridSelectionSelect, ClickCollapsesShiftClickExtends) {
    GridSelection s = sel({1, 1}, {2, 2});
    s.select({5, 6}, false);
    EXPECT_EQ(s, sel({5, 6}, {5, 6}));
    s.select({7, 0}, true);
    EXPECT_EQ(s, sel({5, 6}, {7, 0}));
}

// ---- move ----

TEST(GridSelectionMove, StepAgainstAnEdgeStays) {
    GridSelection s;
    s.move(GridDirection::up, false, false, {10, 5});
    EXPECT_EQ(s, GridSelection{});
    s.move(GridDirection::left, false, false, {10, 5});
    EXPECT_EQ(s, GridSelection{});

    GridSelection e = sel({3, 3}, {3, 0});
    e.move(GridDirection::left, true, false, {10, 5});
    EXPECT_EQ(e, sel({3, 3}, {3, 0}));

    GridSelection corner = sel({9, 4}, {9, 4});
    corner.move(GridDirection::down, false, false, {10, 5});
    corner.move(GridDirection::right, false, false, {10, 5});
    EXPECT_EQ(corner, sel({9, 4}, {9, 4}));
}

TEST(GridSelectionMove, StepsMoveOneCellAndCollapse) {
    GridSelection s = sel({0, 0}, {3, 2});
    s.move(GridDirection::down, false, false, {10, 5});
    EXPECT_EQ(s, sel({4, 2}, {4, 2}));
    s.move(GridDirection::right, false, false, {10, 5});
    EXPECT_EQ(s, sel({4, 3}, {4, 3}));
    s.move(GridDirection::up, true, false, {10, 5});
    EXPECT_EQ(s, sel({4, 3}, {3, 3}));
    s.move(GridDirection::left, true, false, {10, 5});
    EXPECT_EQ(s, sel({4, 3}, {3, 2}));
}

TEST(GridSelectionMove, ToEdgeReachesTheLastRowAndColumn) {
    GridSelection s = sel({5, 2}, {5, 2});
    s.move(GridDirection::down, false, true, {100, 5});
    EXPECT_EQ(s, sel({99, 2}, {99, 2}));

    GridSelection e = sel({5, 2}, {5, 2});
    e.move(GridDirection::down, true, true, {100, 5});
    EXPECT_EQ(e, sel({5, 2}, {99, 2}));
    e.move(GridDirection::right, true, true, {100, 5});
    EXPECT_EQ(e, sel({5, 2}, {99, 4}));
    e.move(GridDirection::up, true, true, {100, 5});
    e.move(GridDirection::left, true, true, {100, 5});
    EXPECT_EQ(e, sel({5, 2}, {0, 0}));
}

TEST(GridSelectionMove, ActiveCellOutsideTheGridIsPulledIn) {
    GridSelection s = sel({20, 20}, {20, 20});
    s.move(GridDirection::up, false, false, {10, 5});
    EXPECT_EQ(s, sel({9, 4}, {9, 4}));
}

// ---- advance ----

TEST(GridSelectionAdvance, WrapsAtRowEndsButNotAtTheEnds) {
    const GridSize size{10, 5};
    GridSelection s = sel({2, 4}, {2, 4});
    s.advance(false, size);
    EXPECT_EQ(s, sel({3, 0}, {3, 0}));
    s.advance(true, size);
    EXPECT_EQ(s, sel({2, 4}, {2, 4}));

    GridSelection last = sel({9, 4}, {9, 4});
    last.advance(false, size);
    EXPECT_EQ(last, sel({9, 4}, {9, 4}));

    GridSelection first;
    first.advance(true, size);
    EXPECT_EQ(first, GridSelection{});
}

TEST(GridSelectionAdvance, CollapsesABlockFromItsActiveCorner) {
    GridSelection s = sel({1, 1}, {4, 3});
    s.advance(false, {10, 5});
    EXPECT_EQ(s, sel({4, 4}, {4, 4}));
    GridSelection b = sel({1, 1}, {4, 3});
    b.advance(true, {10, 5});
    EXPECT_EQ(b, sel({4, 2}, {4, 2}));
}

TEST(GridSelectionAdvance, OneColumnGridMovesDownRows) {
    GridSelection s;
    s.advance(false, {3, 1});
    EXPECT_EQ(s.active, (GridCell{1, 0}));
    s.advance(false, {3, 1});
    s.advance(false, {3, 1});
    EXPECT_EQ(s.active, (GridCell{2, 0}));
}

TEST(GridSelectionAdvance, VisitsEveryCellInReadingOrderAndBack) {
    const GridSize size{7, 4};
    GridSelection s;
    std::vector<GridCell> visited{s.active};
    for (int i = 0; i < 40; ++i) {
        s.advance(false, size);
        if (s.active == visited.back()) break;
        visited.push_back(s.active);
    }
    ASSERT_EQ(visited.size(), 28u);
    for (size_t i = 0; i < visited.size(); ++i)
        EXPECT_EQ(visited[i], (GridCell{int64_t(i) / 4, int64_t(i) % 4}));
    for (size_t i = visited.size() - 1; i > 0; --i) {
        s.advance(true, size);
        EXPECT_EQ(s.active, visited[i - 1]);
    }
}

// ---- whole-grid operations ----

TEST(GridSelectionWhole, SelectAllRowsAndColumns) {
    GridSelection s;
    s.selectAll({10, 5});
    EXPECT_EQ(s, sel({0, 0}, {9, 4}));
    EXPECT_TRUE(s.coversWholeRows({10, 5}));
    EXPECT_TRUE(s.coversWholeColumns({10, 5}));
    EXPECT_EQ(s.cellCount(), 50);

    s.selectRows(3, 1, {10, 5});
    EXPECT_EQ(s, sel({3, 0}, {1, 4}));
    EXPECT_TRUE(s.coversWholeRows({10, 5}));

    s.selectColumns(2, 2, {10, 5});
    EXPECT_EQ(s, sel({0, 2}, {9, 2}));
    EXPECT_TRUE(s.coversWholeColumns({10, 5}));
}

TEST(GridSelectionWhole, EmptySizesChangeNothing) {
    for (const GridSize size : {GridSize{0, 5}, GridSize{5, 0}, GridSize{0, 0}}) {
        EXPECT_TRUE(size.isEmpty());
        const GridSelection start = sel({1, 2}, {3, 4});
        GridSelection s = start;
        s.move(GridDirection::down, false, true, size);
        s.move(GridDirection::left, true, false, size);
        s.advance(false, size);
        s.advance(true, size);
        s.selectAll(size);
        s.selectRows(0, 1, size);
        s.selectColumns(0, 1, size);
        EXPECT_EQ(s, start);
    }
    EXPECT_FALSE((GridSize{1, 1}).isEmpty());
}

// ---- clamp ----

TEST(GridSelectionClamp, ForcesEveryCoordinateIntoTheGrid) {
    GridSelection s = sel({-1, 0}, {7, 9});
    s.clamp({3, 2});
    EXPECT_EQ(s, sel({0, 0}, {2, 1}));

    GridSelection inside = sel({1, 1}, {2, 0});
    inside.clamp({3, 2});
    EXPECT_EQ(inside, sel({1, 1}, {2, 0}));
}

TEST(GridSelectionClamp, EmptySizeClampsToTheFirstCell) {
    for (const GridSize size : {GridSize{0, 5}, GridSize{5, 0}, GridSize{0, 0}}) {
        GridSelection s = sel({4, 3}, {2, 7});
        s.clamp(size);
        EXPECT_EQ(s, GridSelection{}) << size.rows << " x " << size.columns;
    }
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
            case 0: s.move(direction, rng() % 2, rng() % 4 == 0, size); break;
            case 1: s.advance(rng() % 2, size); break;
            case 2: s.select({int64_t(rng() % size.rows), int64_t(rng() % size.columns)}, rng() % 2); break;
            case 3: s.selectRows(int64_t(rng() % size.rows), int64_t(rng() % size.rows), size); break;
            default: s.selectColumns(int64_t(rng() % size.columns), int64_t(rng() % size.columns), size); break;
            }
            for (const GridCell& c : {s.anchor, s.active}) {
                ASSERT_GE(c.row, 0);
                ASSERT_LT(c.row, size.rows);
                ASSERT_GE(c.column, 0);
                ASSERT_LT(c.column, size.columns);
            }
            ASSERT_TRUE(s.contains(s.anchor));
            ASSERT_TRUE(s.contains(s.active));
            ASSERT_EQ(s.cellCount(), s.rows().count() * s.columns().count());
        }
    }
}

TEST(GridSelectionRecords, CellsAndSelectionsHashByTheirFields) {
    std::unordered_set<GridCell> cells{{0, 1}, {1, 0}, {1, 1}, {0, 1}};
    EXPECT_EQ(cells.size(), 3u);
    std::unordered_set<GridSelection> selections{sel({0, 1}, {1, 0}), sel({1, 0}, {0, 1}), sel({0, 1}, {1, 0})};
    EXPECT_EQ(selections.size(), 2u);
}

} // namespace
} // namespace zarvel
