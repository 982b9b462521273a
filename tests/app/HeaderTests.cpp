// The column header strip, the row gutter and the symbols their menus show: selecting
// whole columns and rows, resizing, renaming, and the context menus' items and actions.
#include "GridViewTestFixture.h"

#include "app/views/ContextMenu.h"
#include "app/views/Symbols.h"

#include <QMenu>
#include <QTimer>

namespace zarvel::test {
namespace {

class HeaderTest : public GridViewTest {
protected:
    ColumnHeaderView* header() const { return grid->columnHeader(); }
    RowGutterView* gutter() const { return grid->rowGutter(); }
    QPoint titlePoint(int64_t column) const { return header()->cellFrame(column).center().toPoint(); }
    QPoint handlePoint(int64_t column) const {
        const QRectF f = header()->cellFrame(column);
        return QPointF(f.right(), f.center().y()).toPoint();
    }
    QPoint numberPoint(int64_t row) const { return gutter()->rowFrame(row).center().toPoint(); }
    bool highlighted(int64_t column) const {
        for (const HeaderCell& c : header()->cells())
            if (c.column == column) return c.isSelected;
        return false;
    }
    double width(int64_t column) const { return session->layout().columnWidths()[column]; }
    // Each item's title, marked when it is disabled or destructive; dividers as "-".
    static QStringList describe(QMenu& menu) {
        QStringList list;
        for (QAction* a : menu.actions())
            if (a->isVisible())
                list << (a->isSeparator() ? QStringLiteral("-")
                                          : a->text() + (a->isEnabled() ? "" : " (disabled)") +
                                                (ContextMenu::isDestructive(a) ? " (destructive)" : ""));
        return list;
    }
    static QAction* item(QMenu& menu, const QString& text) {
        for (QAction* a : menu.actions())
            if (a->text() == text) return a;
        return nullptr;
    }
    // Opens a widget's context menu as a right click does and chooses an item in it.
    static void chooseFromContextMenu(QWidget* widget, QPoint at, const QString& text) {
        bool chosen = false;
        QTimer::singleShot(0, widget, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            QAction* action = item(*menu, text);
            ASSERT_NE(action, nullptr) << text.toStdString();
            menu->close();
            action->trigger();
            chosen = true;
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &event);
        EXPECT_TRUE(chosen);
    }
};

TEST_F(HeaderTest, ClickingTitlesAndRowNumbersSelectsWholeColumnsAndRowsAndShiftWidens) {
    open(sampleCSV(10, 9), {1400, 400});
    click(1, 1);
    EXPECT_FALSE(highlighted(1)) << "a single cell lights up no title";
    QTest::mouseClick(header(), Qt::LeftButton, {}, titlePoint(2));
    EXPECT_EQ(selection(), (GridSelection{{0, 2}, {9, 2}}));
    EXPECT_FALSE(highlighted(1));
    QTest::mouseClick(header(), Qt::LeftButton, Qt::ShiftModifier, titlePoint(3));
    QTest::mouseClick(header(), Qt::LeftButton, Qt::ShiftModifier, titlePoint(7));
    EXPECT_EQ(selection().columns(), (IndexRange{2, 8}));
    EXPECT_TRUE(selection().coversWholeColumns(session->displayedSize()));
    for (int64_t c = 2; c <= 7; ++c)
        EXPECT_TRUE(highlighted(c)) << c;

    QTest::mouseClick(gutter(), Qt::LeftButton, {}, numberPoint(3));
    EXPECT_EQ(selection(), (GridSelection{{3, 0}, {3, 8}}));
    QTest::mouseClick(gutter(), Qt::LeftButton, Qt::ShiftModifier, numberPoint(6));
    EXPECT_EQ(selection(), (GridSelection{{3, 0}, {6, 8}}));
    EXPECT_FALSE(highlighted(0)) << "whole rows light up no column title";

    open(sampleCSV(1, 3));
    click(0, 1);
    EXPECT_TRUE(highlighted(1)) << "in a one-row table a cell is its whole column";
    EXPECT_FALSE(highlighted(0));
}

TEST_F(HeaderTest, DraggingATitlesEdgeResizesWithinTheLimitsAndDoubleClickingFits) {
    open("a,b\nx,a much longer text than the column shows at first\n");
    const double before = width(1);
    const QPoint edge = handlePoint(1);
    EXPECT_EQ(header()->resizeHandleAt(edge), 1);
    QTest::mousePress(header(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(header(), edge + QPoint(30, 0));
    EXPECT_DOUBLE_EQ(width(1), before + 30);
    QTest::mouseMove(header(), edge - QPoint(500, 0));
    QTest::mouseRelease(header(), Qt::LeftButton, {}, edge - QPoint(500, 0));
    EXPECT_DOUBLE_EQ(width(1), GridGeometry::minColumnWidth);
    EXPECT_EQ(selection(), (GridSelection{})) << "a resize selects nothing";

    // The next drag starts from the new width.
    const QPoint newEdge = handlePoint(1);
    QTest::mousePress(header(), Qt::LeftButton, {}, newEdge);
    QTest::mouseMove(header(), newEdge + QPoint(10, 0));
    QTest::mouseRelease(header(), Qt::LeftButton, {}, newEdge + QPoint(10, 0));
    EXPECT_DOUBLE_EQ(width(1), GridGeometry::minColumnWidth + 10);

    QTest::mouseDClick(header(), Qt::LeftButton, {}, handlePoint(1));
    EXPECT_GT(width(1), 200);
    EXPECT_FALSE(session->editing()) << "fitting does not rename";
}

TEST_F(HeaderTest, TheMenusListTheirItemsInOrderWithTheirStates) {
    open(sampleCSV(3, 3));
    auto first = header()->makeContextMenu(0);
    EXPECT_EQ(describe(*first),
              (QStringList{"Sort Ascending by Column", "Sort Descending by Column",
                           "Sort Naturally Ascending", "Sort Naturally Descending", "-", "Rename Column…",
                           "Insert Column Left", "Insert Column Right", "Move Column Left (disabled)",
                           "Move Column Right", "Fit Width", "-", "Delete Column (destructive)"}));
    for (QAction* a : first->actions())
        EXPECT_TRUE(a->isSeparator() || !a->icon().isNull()) << a->text().toStdString();
    auto last = header()->makeContextMenu(2);
    EXPECT_TRUE(item(*last, "Move Column Left")->isEnabled());
    EXPECT_FALSE(item(*last, "Move Column Right")->isEnabled());
    auto rowMenu = gutter()->makeContextMenu(0);
    EXPECT_EQ(describe(*rowMenu),
              (QStringList{"Insert Row Above", "Insert Row Below", "-", "Delete Row (destructive)", "-",
                           "Sort Ascending by “h2”", "Sort Descending by “h2”",
                           "Sort Naturally Ascending by “h2”", "Sort Naturally Descending by “h2”"}))
        << "the rows sort by the column the cursor was in";

    // One column and no header row: nothing to delete, nothing to rename.
    open("1\n2\n");
    ASSERT_EQ(table().firstDataRow(), 0);
    auto single = header()->makeContextMenu(0);
    EXPECT_FALSE(item(*single, "Delete Column")->isEnabled());
    EXPECT_FALSE(item(*single, "Rename Column…")->isVisible());
    QTest::mouseDClick(header(), Qt::LeftButton, {}, titlePoint(0));
    EXPECT_FALSE(session->editing());
}

TEST_F(HeaderTest, ChoosingMenuItemsChangesTheTable) {
    open("a,b\n3,x\n1,y\n2,z\n");
    const struct {
        bool onHeader;
        int64_t index;
        const char* item;
        StringRows after;
    } steps[] = {
        {true, 0, "Sort Descending by Column", {{"a", "b"}, {"3", "x"}, {"2", "z"}, {"1", "y"}}},
        {true, 0, "Sort Ascending by Column", {{"a", "b"}, {"1", "y"}, {"2", "z"}, {"3", "x"}}},
        {true,
         1,
         "Insert Column Left",
         {{"a", "Column 3", "b"}, {"1", "", "y"}, {"2", "", "z"}, {"3", "", "x"}}},
        {true,
         1,
         "Move Column Right",
         {{"a", "b", "Column 3"}, {"1", "y", ""}, {"2", "z", ""}, {"3", "x", ""}}},
        {true, 0, "Delete Column", {{"b", "Column 3"}, {"y", ""}, {"z", ""}, {"x", ""}}},
        {false, 1, "Delete Row", {{"b", "Column 3"}, {"y", ""}, {"x", ""}}},
        {false, 0, "Insert Row Above", {{"b", "Column 3"}, {"", ""}, {"y", ""}, {"x", ""}}},
        {false, 2, "Insert Row Below", {{"b", "Column 3"}, {"", ""}, {"y", ""}, {"x", ""}, {"", ""}}},
    };
    for (const auto& step : steps) {
        if (step.onHeader)
            chooseFromContextMenu(header(), titlePoint(step.index), QString::fromUtf8(step.item));
        else
            chooseFromContextMenu(gutter(), numberPoint(step.index), QString::fromUtf8(step.item));
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(rows(), step.after) << step.item;
    }
    chooseFromContextMenu(header(), titlePoint(1), QStringLiteral("Rename Column…"));
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->target, CellDraft::Target::header(1));
}

TEST_F(HeaderTest, NaturalAndDateOrdersWhereTheyApply) {
    open("name,day,n\nfile10,25/12/2020,1\nfile2,2020-12-24,2\nfile1,03.04.2021,3\n");
    auto sorts = [](QMenu& menu) {
        QStringList list = describe(menu).filter(QStringLiteral("Sort"));
        return list;
    };
    EXPECT_EQ(sorts(*header()->makeContextMenu(2)),
              (QStringList{"Sort Ascending by Column", "Sort Descending by Column"}));
    EXPECT_EQ(sorts(*header()->makeContextMenu(1)),
              (QStringList{"Sort Ascending by Column", "Sort Descending by Column", "Sort by Date Ascending",
                           "Sort by Date Descending"}));
    chooseFromContextMenu(header(), titlePoint(0), QStringLiteral("Sort Naturally Ascending"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(rows(), (StringRows{{"name", "day", "n"},
                                  {"file1", "03.04.2021", "3"},
                                  {"file2", "2020-12-24", "2"},
                                  {"file10", "25/12/2020", "1"}}));
    session->setSelection({{0, 1}, {0, 1}});
    chooseFromContextMenu(gutter(), numberPoint(2), QStringLiteral("Sort by Date Ascending by “day”"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(rows(), (StringRows{{"name", "day", "n"},
                                  {"file2", "2020-12-24", "2"},
                                  {"file10", "25/12/2020", "1"},
                                  {"file1", "03.04.2021", "3"}}));
}

TEST_F(HeaderTest, AFilteredGutterShowsTheMatchingRowsOwnNumbers) {
    open("k\nx\nx\nx\nx\nhit\nx\nx\nx\nhit\nx\n");
    session->setQuery("hit");
    session->search();
    ASSERT_TRUE(waitUntil([this] { return session->find().matches.size() == 2; }));
    session->setShowsOnlyMatches(true);
    EXPECT_EQ(grid->gridWindow().rows, (IndexRange{0, 2}));
    EXPECT_EQ(gutter()->rowNumber(0), 5);
    EXPECT_EQ(gutter()->rowNumber(1), 9);
    // Clicking the second number selects that display row.
    QTest::mouseClick(gutter(), Qt::LeftButton, {}, numberPoint(1));
    EXPECT_EQ(selection().rows(), (IndexRange{1, 2}));
}

TEST(Symbols, EveryNameTheViewsUseHasItsOwnDrawing) {
    const QStringList used = {"plus.rectangle",
                              "rectangle.split.3x1",
                              "trash",
                              "magnifyingglass",
                              "doc.badge.gearshape",
                              "tablecells",
                              "chevron.down",
                              "chevron.up",
                              "chevron.left",
                              "chevron.right",
                              "chevron.up.chevron.down",
                              "arrow.up",
                              "arrow.down",
                              "arrow.left",
                              "arrow.right",
                              "arrow.down.right",
                              "arrow.up.to.line",
                              "arrow.down.to.line",
                              "arrow.left.to.line",
                              "arrow.right.to.line",
                              "arrow.left.and.right",
                              "arrow.up.arrow.down",
                              "exclamationmark.triangle",
                              "exclamationmark.triangle.fill",
                              "xmark",
                              "textformat",
                              "pencil",
                              "scissors",
                              "doc.on.doc",
                              "clipboard",
                              "eraser",
                              "plus",
                              "minus"};
    for (const QString& name : used) {
        EXPECT_TRUE(Symbols::has(name)) << name.toStdString();
        const QImage image = Symbols::icon(name, Qt::black).pixmap(32, 32).toImage();
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ink += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(ink, 15) << name.toStdString();
    }
    EXPECT_FALSE(Symbols::has("no.such.symbol"));
    EXPECT_FALSE(Symbols::icon("no.such.symbol").isNull());
}

} // namespace
} // namespace zarvel::test
