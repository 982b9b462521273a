// The grid as a user drives it: typing over cells, moving with the keys and seeing the
// view follow, clicking and dragging, the clipboard, and where keyboard focus goes.
#include "GridViewTestFixture.h"

#include "app/views/GridKeyConversion.h"

#include <QClipboard>
#include <QScreen>
#include <QKeyEvent>

namespace zarvel::test {
namespace {

TEST_F(GridViewTest, NewWindowGivesTheGridFocusSoTypingStartsAtOnce) {
    open(sampleCSV(5, 3));
    EXPECT_TRUE(grid->hasFocus());
    EXPECT_EQ(grid->gridFocus(), GridFocus::grid);
    typeText(QStringLiteral("x"));
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->text, "x");
}

TEST_F(GridViewTest, TypingOverACellAndReturnCommitsMovesDownInOneUndoStep) {
    open(sampleCSV(5, 3));
    click(1, 1);
    typeText(QStringLiteral("Hello"));
    ASSERT_TRUE(session->editing());
    EXPECT_TRUE(session->editing()->isEntering);
    EXPECT_TRUE(editor()->isVisible());
    EXPECT_FALSE(editor()->isFullEdit());
    EXPECT_TRUE(grid->hasFocus()) << "typing over keeps focus in the grid";
    EXPECT_EQ(cell(2, 1), "r1c1") << "nothing reaches the table before Return";

    key(Qt::Key_Return);
    EXPECT_EQ(cell(2, 1), "Hello");
    EXPECT_EQ(active(), (GridCell{2, 1}));
    EXPECT_FALSE(session->editing());
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(undo.count(), 1);
    session->undo();
    EXPECT_EQ(cell(2, 1), "r1c1");
}

TEST_F(GridViewTest, BackspaceWhileTypingOverErasesTheLastCharacter) {
    open(sampleCSV(5, 3));
    typeText(QStringLiteral("abc"));
    key(Qt::Key_Backspace);
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->text, "ab");
    key(Qt::Key_Escape);
    EXPECT_FALSE(session->editing());
    EXPECT_EQ(cell(1, 0), "r0c0");
    EXPECT_EQ(undo.count(), 0);
}

TEST_F(GridViewTest, ArrowsAndPageDownMoveTheSelectionAndTheViewFollows) {
    open(sampleCSV(2000, 4));
    QScrollBar* bar = grid->verticalScrollBar();
    EXPECT_EQ(bar->value(), 0);
    key(Qt::Key_Down);
    key(Qt::Key_Right);
    EXPECT_EQ(active(), (GridCell{1, 1}));
    EXPECT_EQ(bar->value(), 0) << "a visible cell does not scroll";

    const int64_t page = session->pageRowCount();
    key(Qt::Key_PageDown);
    key(Qt::Key_PageDown);
    EXPECT_EQ(active().row, 1 + 2 * page);
    EXPECT_GT(bar->value(), 0);
    // The active cell is fully visible, below the pinned header.
    const auto visible = grid->visibleContentRect();
    const auto rect = session->layout().cellRect(active().row, active().column);
    EXPECT_GE(rect.y, visible.y + session->layout().headerHeight());
    EXPECT_LE(rect.y + rect.height, visible.y + visible.height);
    // The window follows the scroll, and the session knows what is visible.
    EXPECT_TRUE(grid->gridWindow().rows.contains(active().row));
    EXPECT_EQ(session->visibleRect(), visible);

    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(active().row, 1999);
    EXPECT_EQ(bar->value(), bar->maximum());
    key(Qt::Key_Home);
    EXPECT_EQ(active().row, 0);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(GridViewTest, AScrollRequestAboveTheViewPutsTheRowUnderTheHeader) {
    open(sampleCSV(500, 4));
    grid->verticalScrollBar()->setValue(22 * 200);
    const double y = grid->scrollPosition().y();
    EXPECT_EQ(y, 22 * 200);
    select(210, 0);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->scrollPosition().y(), y) << "a visible cell does not move the view";
    select(100, 0);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->scrollPosition().y(), session->layout().yOfRow(99) - session->layout().headerHeight());
}

TEST_F(GridViewTest, ScrollingRightStopsAtTheLastColumn) {
    open(sampleCSV(10, 40), {600, 300});
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    EXPECT_EQ(grid->gridWindow().columns.upper, 40);
    key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(active().column, 39);
    const auto visible = grid->visibleContentRect();
    EXPECT_DOUBLE_EQ(visible.x + visible.width, session->layout().contentSize().width);
}

TEST_F(GridViewTest, ClickShiftClickAndDragSelectCells) {
    open(sampleCSV(20, 5));
    click(2, 1);
    EXPECT_EQ(selection(), (GridSelection{{2, 1}, {2, 1}}));
    click(4, 3, Qt::ShiftModifier);
    EXPECT_EQ(selection(), (GridSelection{{2, 1}, {4, 3}}));

    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cellPoint(1, 0));
    QTest::mouseMove(grid->viewport(), cellPoint(3, 2));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, cellPoint(3, 2));
    EXPECT_EQ(selection(), (GridSelection{{1, 0}, {3, 2}}));
}

TEST_F(GridViewTest, DraggingBelowTheViewScrollsAndKeepsSelecting) {
    open(sampleCSV(300, 3), {600, 300});
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cellPoint(2, 1));
    QTest::mouseMove(grid->viewport(), QPoint(cellPoint(2, 1).x(), grid->viewport()->height() + 40));
    ASSERT_TRUE(waitUntil([this] { return grid->verticalScrollBar()->value() > 200; }, 5000));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, QPoint(cellPoint(2, 1).x(), grid->viewport()->height() + 40));
    EXPECT_EQ(selection().anchor, (GridCell{2, 1}));
    EXPECT_GT(active().row, 15);
    EXPECT_EQ(active().column, 1);
}

TEST_F(GridViewTest, ACellWiderThanTheViewShowsItsLeftEdge) {
    open("a,b,c\n1,2,3\n", {500, 300});
    session->setColumnWidth(0, 100);
    session->setColumnWidth(1, 1500);
    select(0, 2);
    key(Qt::Key_Left);
    EXPECT_EQ(active().column, 1);
    EXPECT_EQ(grid->scrollPosition().x(), session->layout().xOfColumn(1) - session->layout().gutterWidth());
}

TEST_F(GridViewTest, AnOldSelectionLeavesNoHighlightBehindAfterScrolling) {
    std::string text = "a,b\n";
    for (int i = 0; i < 400; ++i) text += ",\n";
    open(text, {500, 300});
    QTest::mouseClick(grid->corner(), Qt::LeftButton);
    grid->verticalScrollBar()->setValue(22 * 200);
    QApplication::processEvents();
    const int64_t row = grid->gridWindow().rows.lower + 10;
    click(row, 0);
    QApplication::processEvents();
    // What is on screen (the window's backing store), not a fresh rendering.
    const QImage image = window->screen()->grabWindow(window->winId()).toImage();
    const QPoint offset = grid->viewport()->mapTo(window.get(), QPoint(0, 0));
    ASSERT_FALSE(image.isNull());
    auto tinted = [&](int64_t r, int64_t c) {
        const QColor color = image.pixelColor(cellPoint(r, c) + offset);
        return color.blue() - color.red() > 8;
    };
    EXPECT_TRUE(tinted(row, 0));
    EXPECT_FALSE(tinted(row, 1));
    EXPECT_FALSE(tinted(row + 2, 0));
}

TEST_F(GridViewTest, WhatScrollingLeavesOnScreenMatchesAFreshDrawing) {
    open(sampleCSV(400, 12), {640, 360});
    session->setColumnWidth(1, 77.5);
    click(3, 2);
    key(Qt::Key_Down, Qt::ShiftModifier);
    auto onScreen = [&] {
        QApplication::processEvents();
        const QImage screen = window->screen()->grabWindow(window->winId()).toImage();
        return screen.copy(QRect(grid->viewport()->mapTo(window.get(), QPoint(0, 0)), grid->viewport()->size()));
    };
    auto fresh = [&] { return grid->viewport()->grab().toImage().convertToFormat(onScreen().format()); };
    onScreen();
    for (int step : {1, 2, 7, 40}) {
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->value() + step * 3);
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->value() + step);
        const QImage shown = onScreen();
        EXPECT_EQ(shown, fresh()) << "after a scroll by " << step;
    }
}

TEST_F(GridViewTest, TheCornerSelectsEverything) {
    open(sampleCSV(6, 3));
    EXPECT_EQ(grid->corner()->toolTip(), QStringLiteral("Select All"));
    QTest::mouseClick(grid->corner(), Qt::LeftButton);
    EXPECT_EQ(selection(), (GridSelection{{0, 0}, {5, 2}}));
}

TEST_F(GridViewTest, CopyAndPasteABlockThroughTheClipboard) {
    open(sampleCSV(10, 4));
    click(0, 0);
    click(1, 1, Qt::ShiftModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("r0c0\tr0c1\nr1c0\tr1c1\n"));

    click(5, 2);
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(cell(6, 2), "r0c0");
    EXPECT_EQ(cell(6, 3), "r0c1");
    EXPECT_EQ(cell(7, 2), "r1c0");
    EXPECT_EQ(cell(7, 3), "r1c1");
    EXPECT_EQ(undo.count(), 1);
}

TEST_F(GridViewTest, CutPutsTheTextOnTheClipboardAndClearsInOneStep) {
    open(sampleCSV(5, 3));
    click(0, 1);
    click(1, 1, Qt::ShiftModifier);
    grid->cut();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("r0c1\nr1c1\n"));
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_EQ(cell(2, 1), "");
    EXPECT_EQ(undo.undoText(), QStringLiteral("Clear"));
    EXPECT_EQ(undo.count(), 1);
    // Pasting text from elsewhere goes through the same slot.
    QApplication::clipboard()->setText(QStringLiteral("a\tb\n"));
    grid->paste();
    EXPECT_EQ(cell(1, 1), "a");
    EXPECT_EQ(cell(1, 2), "b");
}

TEST_F(GridViewTest, LosingFocusWhileTypingOverCommitsTheDraftWhereItWasTyped) {
    open(sampleCSV(5, 3));
    click(2, 2);
    typeText(QStringLiteral("kept"));
    ASSERT_TRUE(session->editing());
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(session->editing());
    EXPECT_EQ(cell(3, 2), "kept");
    EXPECT_EQ(active(), (GridCell{2, 2}));
    EXPECT_EQ(undo.count(), 1);
    EXPECT_TRUE(other->hasFocus()) << "focus the user moved elsewhere stays there";
}

TEST_F(GridViewTest, KeysThatProduceNothingAreLeftUnhandled) {
    open(sampleCSV(5, 3));
    QKeyEvent dead(QEvent::KeyPress, Qt::Key_Dead_Acute, Qt::NoModifier, QString());
    QApplication::sendEvent(grid, &dead);
    EXPECT_FALSE(dead.isAccepted());
    EXPECT_FALSE(session->editing());

    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier, QString());
    QApplication::sendEvent(grid, &f5);
    EXPECT_FALSE(f5.isAccepted());

    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(grid, &down);
    EXPECT_TRUE(down.isAccepted());
}

TEST_F(GridViewTest, TabMovesAlongTheRowAndStaysInTheGrid) {
    open(sampleCSV(5, 3));
    key(Qt::Key_Tab);
    key(Qt::Key_Tab);
    key(Qt::Key_Tab);
    EXPECT_EQ(active(), (GridCell{1, 0})) << "Tab wraps to the next row";
    EXPECT_TRUE(grid->hasFocus());
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(active(), (GridCell{0, 2}));
}

TEST_F(GridViewTest, OptionDownInsertsARowBelow) {
    open(sampleCSV(5, 3));
    click(1, 0);
    key(Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(table().rowCount(), 7);
    EXPECT_EQ(cell(3, 0), "");
    EXPECT_EQ(active().row, 2);
}

TEST_F(GridViewTest, AnEmptyTableDrawsNoRowsButKeepsHeaderGutterAndCorner) {
    open("a,b,c\n");
    EXPECT_EQ(session->displayedRowCount(), 0);
    EXPECT_TRUE(grid->gridWindow().rows.empty());
    EXPECT_EQ(grid->columnHeader()->cells().size(), 3u) << "the titles still show";
    const auto& layout = session->layout();
    EXPECT_EQ(grid->columnHeader()->geometry().topLeft(), QPoint(static_cast<int>(layout.gutterWidth()), 0));
    EXPECT_EQ(grid->rowGutter()->geometry().topLeft(), QPoint(0, static_cast<int>(layout.headerHeight())));
    EXPECT_EQ(grid->corner()->geometry(), QRect(0, 0, static_cast<int>(layout.gutterWidth()),
                                                static_cast<int>(layout.headerHeight())));
    typeText(QStringLiteral("x"));
    EXPECT_FALSE(session->editing());
}

TEST_F(GridViewTest, CellTextsAreDrawnFromTheTableAndNumbersAlignRight) {
    open("name,amount\nwide,7\n", {500, 200});
    grid->repaint();
    const QImage image = grid->viewport()->grab().toImage();
    // Something dark is drawn near the right edge of the number's cell, not its left.
    const auto& layout = session->layout();
    const QPointF number = grid->viewportPoint(QPointF(layout.xOfColumn(1), layout.yOfRow(0)));
    auto darkIn = [&](double x0, double x1) {
        for (int x = static_cast<int>(x0); x < static_cast<int>(x1); ++x)
            for (int y = static_cast<int>(number.y()); y < static_cast<int>(number.y() + layout.rowHeight()); ++y)
                if (qGray(image.pixel(x, y)) < 128) return true;
        return false;
    };
    const double width = layout.columnWidths()[1];
    EXPECT_TRUE(darkIn(number.x() + width - 20, number.x() + width - 2));
    EXPECT_FALSE(darkIn(number.x() + 2, number.x() + width / 2));
}

// MARK: key conversion

TEST(GridKeyConversion, MapsQtKeysAndModifiersToGridKeys) {
    using K = GridKey::Key;
    auto convert = [](int key, Qt::KeyboardModifiers mods, const QString& text = {}) {
        return GridKeyConversion::fromKeyEvent(QKeyEvent(QEvent::KeyPress, key, mods, text));
    };
    EXPECT_EQ(convert(Qt::Key_Down, Qt::AltModifier), GridKey::press(K::down, {.option = true}));
    EXPECT_EQ(convert(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier),
              GridKey::press(K::up, {.shift = true, .command = true}));
    EXPECT_EQ(convert(Qt::Key_Left, Qt::MetaModifier), GridKey::press(K::left, {.control = true}));
    EXPECT_EQ(convert(Qt::Key_Backtab, Qt::NoModifier), GridKey::press(K::tab, {.shift = true}));
    EXPECT_EQ(convert(Qt::Key_Backspace, Qt::NoModifier), GridKey::press(K::deleteKey));
    EXPECT_EQ(convert(Qt::Key_Delete, Qt::NoModifier), GridKey::press(K::deleteKey));
    EXPECT_EQ(convert(Qt::Key_Enter, Qt::KeypadModifier), GridKey::press(K::enter));
    EXPECT_EQ(convert(Qt::Key_PageDown, Qt::NoModifier), GridKey::press(K::pageDown));
    EXPECT_EQ(convert(Qt::Key_E, Qt::NoModifier, QStringLiteral("é")), GridKey::typed("é"));
    // X11 reports Ctrl+A as the control character U+0001; the key map wants "a".
    EXPECT_EQ(convert(Qt::Key_A, Qt::ControlModifier, QString(QChar(1))), GridKey::typed("a", {.command = true}));
    EXPECT_EQ(convert(Qt::Key_Dead_Grave, Qt::NoModifier), std::nullopt);
    EXPECT_EQ(convert(Qt::Key_Shift, Qt::ShiftModifier), std::nullopt);
}

} // namespace
} // namespace zarvel::test
