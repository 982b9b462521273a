#include "grid/GridGeometry.h"

#include <gtest/gtest.h>

#include <random>

namespace zarvel {
namespace {

using Rect = GridGeometry::Rect;
using Window = GridGeometry::Window;
using Widths = std::vector<double>;

// A visible rectangle from content-space edges.
Rect edges(double minX, double minY, double maxX, double maxY) {
    return {minX, minY, maxX - minX, maxY - minY};
}

// ---- construction, gutter and widths ----

TEST(GridGeometryConstruction, EmptyGeometryAndUnclampedWidths) {
    const GridGeometry empty;
    EXPECT_EQ(empty.offsets(), Widths{0});
    EXPECT_EQ(empty.contentSize(), (GridGeometry::Size{40, 26}));
    EXPECT_EQ(empty, GridGeometry({}, 0));

    // The constructor and setColumnWidths take widths as given; only setWidth clamps.
    GridGeometry g({10, 5000, 0}, 3);
    EXPECT_EQ(g.offsets(), (Widths{0, 10, 5010, 5010}));
    g.setColumnWidths({10});
    EXPECT_EQ(g.offsets(), (Widths{0, 10}));
    g.setColumnWidths({});
    EXPECT_EQ(g.offsets(), Widths{0});
}

TEST(GridGeometryGutter, GrowsWithTheDigitsOfTheRowCount) {
    const std::pair<int64_t, double> cases[] = {{0, 40},     {999, 40},   {1000, 48},   {9999, 48},
                                                {10000, 56}, {99999, 56}, {100000, 64}, {1000000, 72}};
    for (auto [rows, width] : cases)
        EXPECT_EQ(GridGeometry::gutterWidth(rows), width) << rows;
}

TEST(GridGeometryGutter, AssigningTheRowCountMovesEveryColumn) {
    GridGeometry g({100, 50}, 999);
    EXPECT_EQ(g.xOfColumn(1), 140);
    g.setRowCount(1000);
    EXPECT_EQ(g.xOfColumn(0), 48);
    EXPECT_EQ(g.xOfColumn(1), 148);
    EXPECT_EQ(g.contentSize(), (GridGeometry::Size{198, 26 + 22 * 1000}));
    EXPECT_NE(g, GridGeometry({100, 50}, 999));
    g.setRowCount(999);
    EXPECT_EQ(g, GridGeometry({100, 50}, 999));
}

TEST(GridGeometryWidths, SetWidthClampsAndRebuildsLaterOffsets) {
    const std::pair<double, double> cases[] = {
        {10, 40}, {39.5, 40}, {123.25, 123.25}, {2000, 2000}, {5000, 2000}};
    for (auto [asked, stored] : cases) {
        GridGeometry g({100, 50, 70}, 10);
        g.setWidth(1, asked);
        EXPECT_EQ(g.offsets(), (Widths{0, 100, 100 + stored, 170 + stored})) << asked;
    }
}

// ---- rectangles ----

TEST(GridGeometryRects, CellsAndBlocksSitAtTheColumnAndRowEdges) {
    const GridGeometry g({100, 50, 30}, 10);
    EXPECT_EQ(g.cellRect(0, 0), (Rect{40, 26, 100, 22}));
    EXPECT_EQ(g.cellRect(9, 1), (Rect{140, 26 + 22 * 9, 50, 22}));
    EXPECT_EQ(g.yOfRow(-1), 4);
    EXPECT_EQ(g.yOfRow(10), 26 + 220);
    EXPECT_EQ(g.rect({2, 3}, {1, 2}), g.cellRect(2, 1));
    EXPECT_EQ(g.rect({2, 5}, {0, 3}), (Rect{40, 26 + 44, 180, 66}));
}

// ---- hit tests ----

TEST(GridGeometryHitTest, ColumnBoundariesBelongToTheRightColumn) {
    const GridGeometry g({100, 50}, 10); // cells span x 40 ..< 190
    struct Case {
        double x;
        std::optional<int64_t> at;
        int64_t nearest;
    };
    const Case cases[] = {{-1e9, std::nullopt, 0},
                          {39.999, std::nullopt, 0},
                          {40, 0, 0},
                          {139.9, 0, 0},
                          {140, 1, 1},
                          {189.99, 1, 1},
                          {190, std::nullopt, 1},
                          {1e9, std::nullopt, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(g.columnAt(c.x), c.at) << c.x;
        EXPECT_EQ(g.nearestColumn(c.x), c.nearest) << c.x;
    }
    EXPECT_EQ(GridGeometry({}, 10).nearestColumn(100), 0);
}

TEST(GridGeometryHitTest, RowsStartBelowTheHeaderAndEndAtTheLastRow) {
    const GridGeometry g({100}, 10); // rows span y 26 ..< 246
    struct Case {
        double y;
        std::optional<int64_t> at;
        int64_t nearest;
    };
    const Case cases[] = {{-1e300, std::nullopt, 0},
                          {25.9, std::nullopt, 0},
                          {26, 0, 0},
                          {47.99, 0, 0},
                          {48, 1, 1},
                          {26 + 22 * 3 + 1, 3, 3},
                          {245.99, 9, 9},
                          {246, std::nullopt, 9},
                          {1e300, std::nullopt, 9}};
    for (const Case& c : cases) {
        EXPECT_EQ(g.rowAt(c.y), c.at) << c.y;
        EXPECT_EQ(g.nearestRow(c.y), c.nearest) << c.y;
    }
    EXPECT_EQ(GridGeometry({100}, 0).rowAt(26), std::nullopt);
    EXPECT_EQ(GridGeometry({100}, 0).nearestRow(500), 0);
}

TEST(GridGeometryHitTest, HitTestsAgreeWithCellRectsForRandomWidths) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> width(1, 300);
    for (int round = 0; round < 20; ++round) {
        Widths widths(1 + round * 3);
        for (double& w : widths)
            w = width(rng) + 0.5;
        const GridGeometry g(widths, 50);
        for (int64_t c = 0; c < g.columnCount(); ++c) {
            const Rect r = g.cellRect(0, c);
            EXPECT_EQ(g.columnAt(r.minX()), c);
            EXPECT_EQ(g.columnAt(r.maxX() - 0.25), c);
            EXPECT_EQ(g.nearestColumn(r.minX() + r.width / 2), c);
        }
    }
}

// ---- visible window ----

TEST(GridGeometryWindow, EdgesOverscanAndEmptyAxes) {
    const Widths one{100}, three{100, 50, 70}, six(6, 100), twenty(20, 100);
    struct Case {
        const char* name;
        Widths widths;
        int64_t rows;
        Rect visible;
        int64_t overscanRows, overscanColumns;
        Window expected;
    };
    const Case cases[] = {
        {"no rows or columns", {}, 0, edges(0, 0, 800, 600), 8, 2, Window::empty()},
        {"no columns", {}, 1000, edges(0, 0, 800, 600), 8, 2, Window::empty()},
        // A header-only file, or a filter without matches, keeps its column titles.
        {"no rows", six, 0, edges(0, 0, 300, 600), 8, 2, {{0, 0}, {0, 5}}},
        {"rows leave columns alone", six, 500, edges(0, 0, 300, 600), 8, 2, {{0, 35}, {0, 5}}},
        {"middle", one, 1000, edges(0, 26 + 22 * 100, 200, 26 + 22 * 121), 8, 2, {{92, 129}, {0, 1}}},
        {"partly visible rows",
         one,
         1000,
         edges(0, 26 + 22 * 100 + 5, 200, 26 + 22 * 110 + 1),
         0,
         0,
         {{100, 111}, {0, 1}}},
        {"top", one, 1000, edges(0, 0, 200, 26 + 22 * 20), 8, 2, {{0, 28}, {0, 1}}},
        // floor of the partial first row (981), minus overscan
        {"bottom", one, 1000, edges(0, 22026 - 400, 200, 22026), 8, 2, {{973, 1000}, {0, 1}}},
        {"below the content", one, 10, edges(0, 5000, 200, 5600), 8, 2, {{10, 10}, {0, 1}}},
        {"wider than the columns", three, 10, edges(0, 0, 5000, 600), 8, 2, {{0, 10}, {0, 3}}},
        // Columns 5 to 8 visible, 8 only in part.
        {"column overscan", twenty, 10, edges(40 + 510, 0, 40 + 801, 600), 8, 2, {{0, 10}, {3, 11}}},
        // Ending exactly on a boundary still touches the next column.
        {"boundary", twenty, 10, edges(40 + 500, 0, 40 + 800, 600), 0, 0, {{0, 10}, {5, 9}}},
        {"right edge", twenty, 10, edges(2040 - 250, 0, 2040, 600), 8, 2, {{0, 10}, {15, 20}}},
    };
    for (const Case& c : cases) {
        const Window w = GridGeometry(c.widths, c.rows).window(c.visible, c.overscanRows, c.overscanColumns);
        EXPECT_EQ(w.rows, c.expected.rows) << c.name << ": rows " << w.rows.lower << " ..< " << w.rows.upper;
        EXPECT_EQ(w.columns, c.expected.columns)
            << c.name << ": columns " << w.columns.lower << " ..< " << w.columns.upper;
    }
}

TEST(GridGeometryWindow, AlwaysInsideTheGridAndCoversEveryVisibleCell) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> coord(-500, 6000);
    std::uniform_int_distribution<int> count(0, 40);
    std::uniform_int_distribution<int> width(0, 250);
    for (int round = 0; round < 2000; ++round) {
        Widths widths(count(rng));
        for (double& w : widths)
            w = width(rng);
        const GridGeometry g(widths, count(rng) * 7);
        double x0 = coord(rng), x1 = coord(rng), y0 = coord(rng), y1 = coord(rng);
        if (x1 < x0) std::swap(x0, x1);
        if (y1 < y0) std::swap(y0, y1);
        const Window w = g.window(edges(x0, y0, x1, y1), round % 9, round % 3);
        ASSERT_TRUE(0 <= w.rows.lower && w.rows.lower <= w.rows.upper && w.rows.upper <= g.rowCount())
            << round;
        ASSERT_TRUE(0 <= w.columns.lower && w.columns.lower <= w.columns.upper &&
                    w.columns.upper <= g.columnCount())
            << round;
        if (g.columnCount() == 0) {
            ASSERT_EQ(w, Window::empty());
            continue;
        }
        // The corners' cells, where there are any, are in the window.
        for (double y : {y0, y1 - 0.001}) {
            const auto r = g.rowAt(y);
            ASSERT_TRUE(!r || y1 <= y0 || w.rows.contains(*r)) << round;
        }
        for (double x : {x0, x1 - 0.001}) {
            const auto c = g.columnAt(x);
            ASSERT_TRUE(!c || x1 <= x0 || w.columns.contains(*c)) << round;
        }
    }
}

} // namespace
} // namespace zarvel
