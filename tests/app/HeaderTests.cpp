// The column header strip, the row gutter and the symbols their menus show: selecting
// whole columns and rows, resizing, renaming, and the context menus' items and actions.
#include "GridViewTestFixture.h"

#include "app/views/ContextMenu.h"
#include "app/views/Symbols.h"

#include <QMenu>
#include <QPainter>
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
    void clickTitle(int64_t column, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(header(), Qt::LeftButton, mods, titlePoint(column));
    }
    bool highlighted(int64_t column) const {
        for (const HeaderCell& c : header()->cells())
            if (c.column == column) return c.isSelected;
        return false;
    }
    static QStringList titles(QMenu& menu) {
        QStringList list;
        for (QAction* a : menu.actions()) list << (a->isSeparator() ? QStringLiteral("-") : a->text());
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

TEST_F(HeaderTest, ClickingATitleSelectsTheWholeColumnAndShiftWidensIt) {
    open(sampleCSV(6, 9), {1400, 400});
    clickTitle(2);
    EXPECT_EQ(selection(), (GridSelection{{0, 2}, {5, 2}}));
    EXPECT_TRUE(highlighted(2));
    EXPECT_FALSE(highlighted(1));
    clickTitle(3, Qt::ShiftModifier);
    clickTitle(7, Qt::ShiftModifier);
    EXPECT_EQ(selection().columns(), (IndexRange{2, 8}));
    EXPECT_TRUE(selection().coversWholeColumns(session->displayedSize()));
    for (int64_t c = 2; c <= 7; ++c) EXPECT_TRUE(highlighted(c)) << c;
}

TEST_F(HeaderTest, ClickingARowNumberSelectsTheWholeRowAndShiftWidensIt) {
    open(sampleCSV(10, 4));
    QTest::mouseClick(gutter(), Qt::LeftButton, {}, numberPoint(3));
    EXPECT_EQ(selection(), (GridSelection{{3, 0}, {3, 3}}));
    QTest::mouseClick(gutter(), Qt::LeftButton, Qt::ShiftModifier, numberPoint(6));
    EXPECT_EQ(selection(), (GridSelection{{3, 0}, {6, 3}}));
    EXPECT_FALSE(highlighted(0)) << "whole rows light up no column title";
}

TEST_F(HeaderTest, ASingleCellHighlightsNoTitleUnlessTheTableHasOneRow) {
    open(sampleCSV(5, 3));
    click(1, 1);
    EXPECT_FALSE(highlighted(1));
    open(sampleCSV(1, 3));
    click(0, 1);
    EXPECT_TRUE(highlighted(1));
    EXPECT_FALSE(highlighted(0));
}

TEST_F(HeaderTest, DraggingATitlesEdgeResizesTheColumnWithinItsLimits) {
    open(sampleCSV(3, 3));
    const double before = session->layout().columnWidths()[1];
    const QPoint edge = handlePoint(1);
    EXPECT_EQ(header()->resizeHandleAt(edge), 1);
    QTest::mousePress(header(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(header(), edge + QPoint(30, 0));
    EXPECT_DOUBLE_EQ(session->layout().columnWidths()[1], before + 30);
    QTest::mouseMove(header(), edge - QPoint(500, 0));
    QTest::mouseRelease(header(), Qt::LeftButton, {}, edge - QPoint(500, 0));
    EXPECT_DOUBLE_EQ(session->layout().columnWidths()[1], GridGeometry::minColumnWidth);
    EXPECT_EQ(selection(), (GridSelection{})) << "a resize selects nothing";

    // The next drag starts from the new width.
    const QPoint newEdge = handlePoint(1);
    QTest::mousePress(header(), Qt::LeftButton, {}, newEdge);
    QTest::mouseMove(header(), newEdge + QPoint(10, 0));
    QTest::mouseRelease(header(), Qt::LeftButton, {}, newEdge + QPoint(10, 0));
    EXPECT_DOUBLE_EQ(session->layout().columnWidths()[1], GridGeometry::minColumnWidth + 10);
}

TEST_F(HeaderTest, DoubleClickingATitlesEdgeFitsTheColumn) {
    open("a,b\nx,a much longer text than the column shows at first\n");
    session->setColumnWidth(1, 60);
    QTest::mouseDClick(header(), Qt::LeftButton, {}, handlePoint(1));
    EXPECT_GT(session->layout().columnWidths()[1], 200);
    EXPECT_FALSE(session->editing()) << "fitting does not rename";
}

TEST_F(HeaderTest, DoubleClickingATitleWithoutAHeaderRowDoesNothing) {
    open("1,2\n3,4\n");
    ASSERT_EQ(table().firstDataRow(), 0);
    QTest::mouseDClick(header(), Qt::LeftButton, {}, titlePoint(0));
    EXPECT_FALSE(session->editing());
    auto menu = header()->makeContextMenu(0);
    EXPECT_EQ(item(*menu, QStringLiteral("Rename Column…")), nullptr);
}

TEST_F(HeaderTest, TheColumnMenuListsItsItemsInOrderWithTheirStates) {
    open(sampleCSV(3, 3));
    auto first = header()->makeContextMenu(0);
    EXPECT_EQ(titles(*first), (QStringList{"Sort Ascending", "Sort Descending", "-", "Rename Column…",
                                           "Insert Column Left", "Insert Column Right", "Move Column Left",
                                           "Move Column Right", "Fit Width", "-", "Delete Column"}));
    EXPECT_FALSE(item(*first, "Move Column Left")->isEnabled());
    EXPECT_TRUE(item(*first, "Move Column Right")->isEnabled());
    EXPECT_TRUE(item(*first, "Delete Column")->isEnabled());
    EXPECT_TRUE(ContextMenu::isDestructive(item(*first, "Delete Column")));
    EXPECT_FALSE(ContextMenu::isDestructive(item(*first, "Fit Width")));
    for (QAction* a : first->actions()) EXPECT_TRUE(a->isSeparator() || !a->icon().isNull()) << a->text().toStdString();

    auto last = header()->makeContextMenu(2);
    EXPECT_TRUE(item(*last, "Move Column Left")->isEnabled());
    EXPECT_FALSE(item(*last, "Move Column Right")->isEnabled());

    open("only\n1\n2\n");
    auto single = header()->makeContextMenu(0);
    EXPECT_FALSE(item(*single, "Delete Column")->isEnabled());
}

TEST_F(HeaderTest, ChoosingColumnMenuItemsChangesTheTable) {
    open(sampleCSV(3, 3));
    chooseFromContextMenu(header(), titlePoint(1), QStringLiteral("Insert Column Left"));
    EXPECT_EQ(table().columnCount(), 4);
    EXPECT_EQ(cell(1, 2), "r0c1");
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_EQ(active().column, 1);

    chooseFromContextMenu(header(), titlePoint(2), QStringLiteral("Move Column Right"));
    EXPECT_EQ(cell(0, 3), "h1");

    chooseFromContextMenu(header(), titlePoint(0), QStringLiteral("Delete Column"));
    EXPECT_EQ(table().columnCount(), 3);
    EXPECT_EQ(cell(0, 0), "Column 4");

    chooseFromContextMenu(header(), titlePoint(2), QStringLiteral("Rename Column…"));
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->target, CellDraft::Target::header(2));
}

TEST_F(HeaderTest, SortingFromTheMenuReordersTheRows) {
    open("n\n3\n1\n2\n");
    chooseFromContextMenu(header(), titlePoint(0), QStringLiteral("Sort Descending"));
    ASSERT_TRUE(waitUntil([this] { return cell(1, 0) == "3" && cell(3, 0) == "1" && !session->isBusy(); }));
    chooseFromContextMenu(header(), titlePoint(0), QStringLiteral("Sort Ascending"));
    ASSERT_TRUE(waitUntil([this] { return cell(1, 0) == "1" && !session->isBusy(); }));
    EXPECT_EQ(cell(3, 0), "3");
}

TEST_F(HeaderTest, TheRowMenuInsertsAndDeletesRows) {
    open(sampleCSV(4, 2));
    auto menu = gutter()->makeContextMenu(0);
    EXPECT_EQ(titles(*menu), (QStringList{"Insert Row Above", "Insert Row Below", "-", "Delete Row"}));
    EXPECT_TRUE(ContextMenu::isDestructive(item(*menu, "Delete Row")));

    chooseFromContextMenu(gutter(), numberPoint(1), QStringLiteral("Delete Row"));
    EXPECT_EQ(table().rowCount(), 4);
    EXPECT_EQ(cell(2, 0), "r2c0");
    chooseFromContextMenu(gutter(), numberPoint(0), QStringLiteral("Insert Row Above"));
    EXPECT_EQ(cell(1, 0), "");
    EXPECT_EQ(cell(2, 0), "r0c0");
    chooseFromContextMenu(gutter(), numberPoint(3), QStringLiteral("Insert Row Below"));
    EXPECT_EQ(table().rowCount(), 6);
    EXPECT_EQ(cell(5, 0), "");
    EXPECT_EQ(undo.count(), 3);
}

TEST_F(HeaderTest, AFilteredGutterShowsTheMatchingRowsOwnNumbers) {
    open("k\nx\nx\nx\nx\nhit\nx\nx\nx\nhit\nx\n");
    session->presentFind(false);
    session->setQuery("hit");
    session->search();
    ASSERT_TRUE(waitUntil([this] { return session->find().matches.size() == 2; }));
    session->setShowsOnlyMatches(true);
    ASSERT_TRUE(session->rowFilter());
    EXPECT_EQ(grid->gridWindow().rows, (IndexRange{0, 2}));
    EXPECT_EQ(gutter()->rowNumber(0), 5);
    EXPECT_EQ(gutter()->rowNumber(1), 9);
    // Clicking the second number selects that display row.
    QTest::mouseClick(gutter(), Qt::LeftButton, {}, numberPoint(1));
    EXPECT_EQ(selection().rows(), (IndexRange{1, 2}));
}

TEST(Symbols, EveryNameTheViewsUseHasItsOwnDrawing) {
    const QStringList used = {
        "plus.rectangle", "rectangle.split.3x1", "trash", "magnifyingglass", "doc.badge.gearshape", "tablecells",
        "chevron.down", "chevron.up", "chevron.left", "chevron.right", "chevron.up.chevron.down", "arrow.up",
        "arrow.down", "arrow.left", "arrow.right", "arrow.down.right", "arrow.up.to.line", "arrow.down.to.line",
        "arrow.left.to.line", "arrow.right.to.line", "arrow.left.and.right", "arrow.up.arrow.down",
        "exclamationmark.triangle", "exclamationmark.triangle.fill", "xmark", "textformat", "pencil", "scissors",
        "doc.on.doc", "clipboard", "eraser", "plus", "minus"};
    for (const QString& name : used) {
        EXPECT_TRUE(Symbols::has(name)) << name.toStdString();
        const QImage image = Symbols::icon(name, Qt::black).pixmap(32, 32).toImage();
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) ink += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(ink, 15) << name.toStdString();
    }
    EXPECT_FALSE(Symbols::has("no.such.symbol"));
    EXPECT_FALSE(Symbols::icon("no.such.symbol").isNull());
}

} // namespace
} // namespace zarvel::test
