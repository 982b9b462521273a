#include "grid/GridGeometry.h"

#include <gtest/gtest.h>

#include <random>

namespace zarvel {
namespace {

using Rect = GridGeometry::Rect;
using Window = GridGeometry::Window;

// A visible rectangle from content-space edges.
Rect edges(double minX, double minY, double maxX, double maxY) { return {minX, minY, maxX - minX, maxY - minY}; }

// ---- construction and derived fields ----

TEST(GridGeometryConstruction, EmptyGeometryHasNarrowGutterAndOneOffset) {
    const GridGeometry g;
    EXPECT_EQ(g.rowHeight(), 22);
    EXPECT_EQ(g.headerHeight(), 26);
    EXPECT_EQ(g.rowCount(), 0);
    EXPECT_EQ(g.gutterWidth(), 40);
    EXPECT_EQ(g.offsets(), std::vector<double>{0});
    EXPECT_EQ(g.columnCount(), 0);
    EXPECT_EQ(g.contentSize(), (GridGeometry::Size{40, 26}));
    EXPECT_EQ(g, GridGeometry({}, 0));
}

TEST(GridGeometryConstruction, WidthsAreTakenWithoutClamping) {
    const GridGeometry g({10, 5000, 0}, 3);
    EXPECT_EQ(g.columnWidths(), (std::vector<double>{10, 5000, 0}));
    EXPECT_EQ(g.offsets(), (std::vector<double>{0, 10, 5010, 5010}));
}

TEST(GridGeometryGutter, GrowsWithTheDigitsOfTheRowCount) {
    EXPECT_EQ(GridGeometry::gutterWidth(0), 40);
    EXPECT_EQ(GridGeometry::gutterWidth(9), 40);
    EXPECT_EQ(GridGeometry::gutterWidth(999), 40);
    EXPECT_EQ(GridGeometry::gutterWidth(1000), 48);
    EXPECT_EQ(GridGeometry::gutterWidth(9999), 48);
    EXPECT_EQ(GridGeometry::gutterWidth(10000), 56);
    EXPECT_EQ(GridGeometry::gutterWidth(99999), 56);
    EXPECT_EQ(GridGeometry::gutterWidth(100000), 64);
    EXPECT_EQ(GridGeometry::gutterWidth(1000000), 72);
}

TEST(GridGeometryGutter, AssigningTheRowCountMovesEveryColumn) {
    GridGeometry g({100, 50}, 999);
    EXPECT_EQ(g.xOfColumn(1), 140);
    g.setRowCount(1000);
    EXPECT_EQ(g.gutterWidth(), 48);
    EXPECT_EQ(g.xOfColumn(0), 48);
    EXPECT_EQ(g.xOfColumn(1), 148);
    EXPECT_EQ(g.contentSize(), (GridGeometry::Size{198, 26 + 22 * 1000}));
    g.setRowCount(999);
    EXPECT_EQ(g, GridGeometry({100, 50}, 999));
}

// ---- width changes ----

TEST(GridGeometryWidths, SetWidthClampsToTheColumnBounds) {
    GridGeometry g({100, 100, 100}, 1);
    g.setWidth(0, 10);
    EXPECT_EQ(g.columnWidths()[0], GridGeometry::minColumnWidth);
    g.setWidth(0, 5000);
    EXPECT_EQ(g.columnWidths()[0], GridGeometry::maxColumnWidth);
    g.setWidth(0, 39.5);
    EXPECT_EQ(g.columnWidths()[0], 40);
    g.setWidth(0, 2000);
    EXPECT_EQ(g.columnWidths()[0], 2000);
    g.setWidth(0, 123.25);
    EXPECT_EQ(g.columnWidths()[0], 123.25);
}

TEST(GridGeometryWidths, AssigningWidthsDoesNotClamp) {
    GridGeometry g;
    g.setColumnWidths({10});
    EXPECT_EQ(g.columnWidths(), std::vector<double>{10});
    EXPECT_EQ(g.offsets(), (std::vector<double>{0, 10}));
}

TEST(GridGeometryWidths, EveryChangeRebuildsAllLaterOffsets) {
    GridGeometry g({100, 50, 70}, 10);
    g.setWidth(0, 60);
    EXPECT_EQ(g.offsets(), (std::vector<double>{0, 60, 110, 180}));
    g.setWidth(2, 45);
    EXPECT_EQ(g.offsets(), (std::vector<double>{0, 60, 110, 155}));
    g.setColumnWidths({1, 2});
    EXPECT_EQ(g.offsets(), (std::vector<double>{0, 1, 3}));
    g.setColumnWidths({});
    EXPECT_EQ(g.offsets(), std::vector<double>{0});
}

TEST(GridGeometryWidths, EqualityComparesEveryField) {
    const GridGeometry a({100, 50}, 10);
    GridGeometry b = a;
    EXPECT_EQ(a, b);
    b.setWidth(1, 51);
    EXPECT_NE(a, b);
    b.setWidth(1, 50);
    EXPECT_EQ(a, b);
    b.setRowCount(11);
    EXPECT_NE(a, b);
}

// ---- rectangles ----

TEST(GridGeometryRects, CellRectSitsAtTheColumnAndRowEdges) {
    const GridGeometry g({100, 50}, 10);
    EXPECT_EQ(g.cellRect(0, 0), (Rect{40, 26, 100, 22}));
    EXPECT_EQ(g.cellRect(9, 1), (Rect{140, 26 + 22 * 9, 50, 22}));
    EXPECT_EQ(g.yOfRow(-1), 4);
    EXPECT_EQ(g.yOfRow(10), 26 + 220);
}

TEST(GridGeometryRects, SingleCellBlockEqualsCellRect) {
    const GridGeometry g({100, 50, 30}, 10);
    EXPECT_EQ(g.rect({2, 3}, {1, 2}), g.cellRect(2, 1));
}

TEST(GridGeometryRects, BlockSpansFromFirstToLastCell) {
    const GridGeometry g({100, 50, 30}, 10);
    const Rect r = g.rect({2, 5}, {0, 3});
    EXPECT_EQ(r, (Rect{40, 26 + 44, 180, 66}));
    EXPECT_EQ(r.maxX(), g.cellRect(4, 2).maxX());
    EXPECT_EQ(r.maxY(), g.cellRect(4, 2).maxY());
}

// ---- hit tests ----

TEST(GridGeometryHitTest, ColumnBoundariesBelongToTheRightColumn) {
    const GridGeometry g({100, 50}, 10);
    EXPECT_EQ(g.offsets(), (std::vector<double>{0, 100, 150}));
    EXPECT_EQ(g.columnAt(39), std::nullopt);
    EXPECT_EQ(g.columnAt(39.999), std::nullopt);
    EXPECT_EQ(g.columnAt(40), 0);
    EXPECT_EQ(g.columnAt(139.9), 0);
    EXPECT_EQ(g.columnAt(140), 1);
    EXPECT_EQ(g.columnAt(189.99), 1);
    EXPECT_EQ(g.columnAt(190), std::nullopt);
    EXPECT_EQ(g.columnAt(1e9), std::nullopt);
}

TEST(GridGeometryHitTest, NearestColumnClampsToTheGrid) {
    const GridGeometry g({100, 50}, 10);
    EXPECT_EQ(g.nearestColumn(10), 0);
    EXPECT_EQ(g.nearestColumn(-1e9), 0);
    EXPECT_EQ(g.nearestColumn(140), 1);
    EXPECT_EQ(g.nearestColumn(190), 1);
    EXPECT_EQ(g.nearestColumn(500), 1);
    EXPECT_EQ(GridGeometry({}, 10).nearestColumn(100), 0);
}

TEST(GridGeometryHitTest, RowsStartBelowTheHeaderAndEndAtTheLastRow) {
    const GridGeometry g({100}, 10);
    EXPECT_EQ(g.rowAt(0), std::nullopt);
    EXPECT_EQ(g.rowAt(25.9), std::nullopt);
    EXPECT_EQ(g.rowAt(26), 0);
    EXPECT_EQ(g.rowAt(47.99), 0);
    EXPECT_EQ(g.rowAt(48), 1);
    EXPECT_EQ(g.rowAt(26 + 22 * 10 - 0.01), 9);
    EXPECT_EQ(g.rowAt(26 + 22 * 10), std::nullopt);
    EXPECT_EQ(g.rowAt(1e300), std::nullopt);
    EXPECT_EQ(GridGeometry({100}, 0).rowAt(26), std::nullopt);
}

TEST(GridGeometryHitTest, NearestRowClampsToTheGrid) {
    const GridGeometry g({100}, 10);
    EXPECT_EQ(g.nearestRow(0), 0);
    EXPECT_EQ(g.nearestRow(-1e300), 0);
    EXPECT_EQ(g.nearestRow(26 + 22 * 3 + 1), 3);
    EXPECT_EQ(g.nearestRow(100000), 9);
    EXPECT_EQ(g.nearestRow(1e300), 9);
    EXPECT_EQ(GridGeometry({100}, 0).nearestRow(500), 0);
}

TEST(GridGeometryHitTest, HitTestsAgreeWithCellRectsForRandomWidths) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> width(1, 300);
    for (int round = 0; round < 20; ++round) {
        std::vector<double> widths(1 + round * 3);
        for (double& w : widths) w = width(rng) + 0.5;
        const GridGeometry g(widths, 50);
        for (int64_t c = 0; c < g.columnCount(); ++c) {
            const Rect r = g.cellRect(0, c);
            EXPECT_EQ(g.columnAt(r.minX()), c);
            EXPECT_EQ(g.columnAt(r.maxX() - 0.25), c);
            EXPECT_EQ(g.nearestColumn(r.minX() + r.width / 2), c);
        }
        EXPECT_EQ(g.offsets().back(), g.contentSize().width - g.gutterWidth());
    }
}

// ---- visible window ----

TEST(GridGeometryWindow, DefaultWindowIsEmpty) {
    EXPECT_EQ(Window{}, Window::empty());
    EXPECT_EQ(Window::empty().rows, (IndexRange{0, 0}));
    EXPECT_EQ(Window::empty().columns, (IndexRange{0, 0}));
}

TEST(GridGeometryWindow, GridWithoutColumnsHasAnEmptyWindow) {
    EXPECT_EQ(GridGeometry().window(edges(0, 0, 800, 600), 8, 2), Window::empty());
    EXPECT_EQ(GridGeometry({}, 1000).window(edges(0, 0, 800, 600), 8, 2), Window::empty());
}

TEST(GridGeometryWindow, GridWithoutRowsStillLaysOutItsColumns) {
    // A header-only file, or a filter without matches, keeps its column titles.
    GridGeometry g({100, 100, 100, 100, 100, 100}, 0);
    const Window w = g.window(edges(0, 0, 300, 600), 8, 2);
    EXPECT_EQ(w.rows, (IndexRange{0, 0}));
    EXPECT_EQ(w.columns, (IndexRange{0, 5}));

    g.setRowCount(500);
    const Window withRows = g.window(edges(0, 0, 300, 600), 8, 2);
    g.setRowCount(0);
    EXPECT_EQ(g.window(edges(0, 0, 300, 600), 8, 2).columns, withRows.columns);
}

TEST(GridGeometryWindow, MiddleOfTheGridGetsOverscanOnBothSides) {
    const GridGeometry g({100}, 1000);
    const Window w = g.window(edges(0, g.yOfRow(100), 200, g.yOfRow(121)), 8, 2);
    EXPECT_EQ(w.rows, (IndexRange{92, 129}));
}

TEST(GridGeometryWindow, PartlyVisibleRowsAreIncluded) {
    const GridGeometry g({100}, 1000);
    const Window w = g.window(edges(0, g.yOfRow(100) + 5, 200, g.yOfRow(110) + 1), 0, 0);
    EXPECT_EQ(w.rows, (IndexRange{100, 111}));
}

TEST(GridGeometryWindow, TopOfTheGridStartsAtRowZero) {
    const GridGeometry g({100}, 1000);
    const Window w = g.window(edges(0, 0, 200, 26 + 22 * 20), 8, 2);
    EXPECT_EQ(w.rows, (IndexRange{0, 28}));
}

TEST(GridGeometryWindow, BottomOfTheGridStopsAtTheRowCount) {
    const GridGeometry g({100}, 1000);
    const double bottom = g.contentSize().height;
    const Window w = g.window(edges(0, bottom - 400, 200, bottom), 8, 2);
    EXPECT_EQ(w.rows.upper, 1000);
    EXPECT_EQ(w.rows.lower, 1000 - 8 - 19); // floor of a partial row, minus overscan
}

TEST(GridGeometryWindow, RectangleBelowTheContentGivesNoRowsButStaysInside) {
    const GridGeometry g({100}, 10);
    const Window w = g.window(edges(0, 5000, 200, 5600), 8, 2);
    EXPECT_TRUE(w.rows.empty());
    EXPECT_LE(w.rows.lower, 10);
    EXPECT_LE(w.rows.upper, 10);
}

TEST(GridGeometryWindow, WideRectangleStopsAtTheLastColumn) {
    const GridGeometry g({100, 50, 70}, 10);
    EXPECT_EQ(g.window(edges(0, 0, 5000, 600), 8, 2).columns, (IndexRange{0, 3}));
}

TEST(GridGeometryWindow, ColumnsGetOverscanOnBothSides) {
    const GridGeometry g(std::vector<double>(20, 100), 10);
    // Columns 5 to 8 visible; 8 only in part.
    const Window w = g.window(edges(g.xOfColumn(5) + 10, 0, g.xOfColumn(8) + 1, 600), 8, 2);
    EXPECT_EQ(w.columns, (IndexRange{3, 11}));
    // A rectangle ending exactly on a boundary still counts the next column as touched.
    const Window exact = g.window(edges(g.xOfColumn(5), 0, g.xOfColumn(8), 600), 0, 0);
    EXPECT_EQ(exact.columns, (IndexRange{5, 9}));
}

TEST(GridGeometryWindow, RightEdgeEndsAtTheColumnCount) {
    const GridGeometry g(std::vector<double>(20, 100), 10);
    const double right = g.contentSize().width;
    const Window w = g.window(edges(right - 250, 0, right, 600), 8, 2);
    EXPECT_EQ(w.columns, (IndexRange{15, 20}));
}

TEST(GridGeometryWindow, AlwaysInsideTheGridAndCoversEveryVisibleCell) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> coord(-500, 6000);
    std::uniform_int_distribution<int> count(0, 40);
    std::uniform_int_distribution<int> width(0, 250);
    for (int round = 0; round < 2000; ++round) {
        std::vector<double> widths(count(rng));
        for (double& w : widths) w = width(rng);
        const GridGeometry g(widths, count(rng) * 7);
        double x0 = coord(rng), x1 = coord(rng), y0 = coord(rng), y1 = coord(rng);
        if (x1 < x0) std::swap(x0, x1);
        if (y1 < y0) std::swap(y0, y1);
        const Window w = g.window(edges(x0, y0, x1, y1), round % 9, round % 3);
        ASSERT_GE(w.rows.lower, 0);
        ASSERT_LE(w.rows.lower, w.rows.upper);
        ASSERT_LE(w.rows.upper, g.rowCount());
        ASSERT_GE(w.columns.lower, 0);
        ASSERT_LE(w.columns.lower, w.columns.upper);
        ASSERT_LE(w.columns.upper, g.columnCount());
        if (g.columnCount() == 0) {
            ASSERT_EQ(w, Window::empty());
            continue;
        }
        // The corners' cells, where there are any, are in the window.
        for (double y : {y0, y1 - 0.001}) {
            if (auto r = g.rowAt(y); r && y1 > y0) {
                ASSERT_TRUE(w.rows.contains(*r)) << round;
            }
        }
        for (double x : {x0, x1 - 0.001}) {
            if (auto c = g.columnAt(x); c && x1 > x0) {
                ASSERT_TRUE(w.columns.contains(*c)) << round;
            }
        }
    }
}

} // namespace
} // namespace zarvel
