// The grid as a user drives it: typing over cells, moving with the keys and seeing the
// view follow, clicking and dragging, the clipboard, and where keyboard focus goes.
#include "GridViewTestFixture.h"

#include "app/views/CommandRegistry.h"
#include "app/views/GridKeyConversion.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>

#include <algorithm>

namespace zarvel::test {
namespace {

TEST_F(GridViewTest, ANewWindowTakesKeysAtOnceAndLeavesThoseThatProduceNothing) {
    open(sampleCSV(5, 3));
    EXPECT_TRUE(grid->hasFocus());
    EXPECT_EQ(grid->gridFocus(), GridFocus::grid);
    typeText(QStringLiteral("abc"));
    key(Qt::Key_Backspace);
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->text, "ab");
    key(Qt::Key_Escape);
    EXPECT_FALSE(session->editing());
    EXPECT_EQ(cell(1, 0), "r0c0");
    EXPECT_EQ(undo.count(), 0);

    for (int i = 0; i < 3; ++i)
        key(Qt::Key_Tab);
    EXPECT_EQ(active(), (GridCell{1, 0})) << "Tab wraps to the next row";
    EXPECT_TRUE(grid->hasFocus());
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(active(), (GridCell{0, 2}));

    // Unhandled keys are left to shortcuts and input methods.
    for (const Qt::Key unhandled : {Qt::Key_Dead_Acute, Qt::Key_F5}) {
        QKeyEvent event(QEvent::KeyPress, unhandled, Qt::NoModifier, QString());
        QApplication::sendEvent(grid, &event);
        EXPECT_FALSE(event.isAccepted()) << unhandled;
        EXPECT_FALSE(session->editing()) << unhandled;
    }
}

TEST_F(GridViewTest, TypingOverACellCommitsOnReturnOrWhenFocusLeavesInOneUndoStepEach) {
    open(sampleCSV(5, 3));
    click(1, 1);
    typeText(QStringLiteral("Hello"));
    ASSERT_TRUE(session->editing());
    EXPECT_TRUE(session->editing()->isEntering);
    EXPECT_TRUE(grid->hasFocus()) << "typing over keeps focus in the grid";
    EXPECT_EQ(cell(2, 1), "r1c1") << "nothing reaches the table before Return";

    key(Qt::Key_Return);
    EXPECT_EQ(cell(2, 1), "Hello");
    EXPECT_EQ(active(), (GridCell{2, 1}));
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(undo.count(), 1);

    // Focus moved elsewhere commits the draft where it was typed, and stays there.
    click(3, 2);
    typeText(QStringLiteral("kept"));
    ASSERT_TRUE(session->editing());
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(session->editing());
    EXPECT_EQ(cell(4, 2), "kept");
    EXPECT_EQ(active(), (GridCell{3, 2}));
    EXPECT_EQ(undo.count(), 2);
    EXPECT_TRUE(other->hasFocus());
}

TEST_F(GridViewTest, F2OpensTheActiveCellForAFullEditAsReturnDoesAndKeepsWhatWasTypedOver) {
    open(sampleCSV(5, 3));
    for (const Qt::Key opener : {Qt::Key_Return, Qt::Key_F2}) {
        SCOPED_TRACE(QKeySequence(opener).toString().toStdString());
        click(2, 1);
        key(opener);
        ASSERT_TRUE(session->editing());
        EXPECT_FALSE(session->editing()->isEntering);
        EXPECT_TRUE(waitForEditorFocus());
        EXPECT_EQ(editor()->textField()->toPlainText(), QStringLiteral("r2c1"));
        key(Qt::Key_Escape);
        EXPECT_FALSE(session->editing());
    }
    click(3, 2);
    typeText(QStringLiteral("new"));
    key(Qt::Key_F2);
    ASSERT_TRUE(session->editing());
    EXPECT_FALSE(session->editing()->isEntering);
    EXPECT_TRUE(waitForEditorFocus());
    EXPECT_EQ(editor()->textField()->toPlainText(), QStringLiteral("new"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(4, 2), "new");
    EXPECT_EQ(undo.count(), 1);

    // Home and End still go to the first and last row.
    key(Qt::Key_End);
    EXPECT_EQ(active().row, 4);
    key(Qt::Key_Home);
    EXPECT_EQ(active().row, 0);
}

TEST_F(GridViewTest, ArrowsAndPageDownMoveTheSelectionAndTheViewScrollsJustEnoughToFollow) {
    open(sampleCSV(2000, 4));
    const auto& layout = session->layout();
    QScrollBar* bar = grid->verticalScrollBar();
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
    const auto rect = layout.cellRect(active().row, active().column);
    EXPECT_GE(rect.y, visible.y + layout.headerHeight());
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

    bar->setValue(22 * 200);
    const double y = grid->scrollPosition().y();
    select(210, 0);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->scrollPosition().y(), y) << "a visible cell does not move the view";
    select(100, 0);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->scrollPosition().y(), layout.yOfRow(99) - layout.headerHeight())
        << "a row above the view";
    session->setColumnWidth(0, 100);
    session->setColumnWidth(1, 1500);
    select(99, 2);
    key(Qt::Key_Left);
    EXPECT_EQ(grid->scrollPosition().x(), layout.xOfColumn(1) - layout.gutterWidth())
        << "a cell wider than the view";
}

TEST_F(GridViewTest, ScrollingRightStopsAtTheLastColumn) {
    open(sampleCSV(10, 40), {600, 300});
    key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(active().column, 39);
    EXPECT_EQ(grid->gridWindow().columns.upper, 40);
    const auto visible = grid->visibleContentRect();
    EXPECT_DOUBLE_EQ(visible.x + visible.width, session->layout().contentSize().width);
}

TEST_F(GridViewTest, ClickShiftClickDragAndTheCornerSelectCells) {
    open(sampleCSV(300, 5), {600, 300});
    click(2, 1);
    EXPECT_EQ(selection(), (GridSelection{{2, 1}, {2, 1}}));
    click(4, 3, Qt::ShiftModifier);
    EXPECT_EQ(selection(), (GridSelection{{2, 1}, {4, 3}}));

    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cellPoint(1, 0));
    QTest::mouseMove(grid->viewport(), cellPoint(3, 2));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, cellPoint(3, 2));
    EXPECT_EQ(selection(), (GridSelection{{1, 0}, {3, 2}}));

    // Dragging below the view scrolls and keeps selecting.
    const QPoint below(cellPoint(2, 1).x(), grid->viewport()->height() + 40);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cellPoint(2, 1));
    QTest::mouseMove(grid->viewport(), below);
    ASSERT_TRUE(waitUntil([this] { return grid->verticalScrollBar()->value() > 200; }, 5000));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(selection().anchor, (GridCell{2, 1}));
    EXPECT_GT(active().row, 15);
    EXPECT_EQ(active().column, 1);

    QTest::mouseClick(grid->corner(), Qt::LeftButton);
    EXPECT_EQ(selection(), (GridSelection{{0, 0}, {299, 4}}));
}

// What is on screen (the window's backing store) must match a fresh rendering: no
// highlight or text left behind by scrolling or by a selection that moved away.
TEST_F(GridViewTest, WhatScrollingAndSelectingLeaveOnScreenMatchesAFreshDrawing) {
    open(sampleCSV(400, 12), {640, 360});
    session->setColumnWidth(1, 77.5);
    click(3, 2);
    key(Qt::Key_Down, Qt::ShiftModifier);
    auto onScreen = [&] {
        QApplication::processEvents();
        const QImage screen = window->screen()->grabWindow(window->winId()).toImage();
        return screen.copy(
            QRect(grid->viewport()->mapTo(window.get(), QPoint(0, 0)), grid->viewport()->size()));
    };
    auto fresh = [&] { return grid->viewport()->grab().toImage().convertToFormat(onScreen().format()); };
    onScreen();
    for (int step : {1, 2, 7, 40}) {
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->value() + step * 3);
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->value() + step);
        EXPECT_EQ(onScreen(), fresh()) << "after a scroll by " << step;
    }
    QTest::mouseClick(grid->corner(), Qt::LeftButton);
    EXPECT_EQ(onScreen(), fresh()) << "after selecting everything";
    click(grid->gridWindow().rows.lower + 10, grid->gridWindow().columns.lower);
    EXPECT_EQ(onScreen(), fresh()) << "after selecting one cell again";
}

TEST_F(GridViewTest, CopyCutAndPasteGoThroughTheClipboard) {
    open(sampleCSV(10, 4));
    click(0, 0);
    click(1, 1, Qt::ShiftModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("r0c0\tr0c1\nr1c0\tr1c1\n"));
    click(5, 2);
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ((StringRows{{cell(6, 2), cell(6, 3)}, {cell(7, 2), cell(7, 3)}}),
              (StringRows{{"r0c0", "r0c1"}, {"r1c0", "r1c1"}}));
    EXPECT_EQ(undo.count(), 1);

    click(0, 1);
    click(1, 1, Qt::ShiftModifier);
    grid->cut();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("r0c1\nr1c1\n"));
    EXPECT_EQ(cell(1, 1) + cell(2, 1), "");
    EXPECT_EQ(undo.count(), 2) << "a cut is one step";
    QApplication::clipboard()->setText(QStringLiteral("a\tb\n")); // text from elsewhere
    grid->paste();
    EXPECT_EQ(cell(1, 1) + cell(1, 2), "ab");
}

// While another window's large copy is written, a paste into a text field, by its key,
// the Paste command or its own menu, waits for the copy's text; after a cancel it pastes
// what the clipboard held before.
TEST_F(GridViewTest, TextFieldPastesWaitForALargeCopy) {
    open(sampleCSV(3, 2));
    std::string big;
    for (int64_t r = 0; r < EditorSession::syncCopyCells / 10 + 100; ++r)
        big += "a,b,c,d,e,f,g,h,i,j\n";
    auto bigDocument = CSVDocument::fromBytes(SharedBytes::copyOf(big));
    EditorSession copier(bigDocument.get());
    copier.sync();
    copier.selectAll();
    QPlainTextEdit* cellField = editor()->textField();
    const StringRows before = rows();

    enum class Way { key, command, menu };
    const struct Case {
        const char* name;
        bool inCell; // else the other line edit
        Way way;
        bool cancelled;
    } cases[] = {
        {"cell editor, Ctrl+V", true, Way::key, false},
        {"line edit, Paste command", false, Way::command, false},
        {"cell editor, its menu", true, Way::menu, false},
        {"line edit, its menu", false, Way::menu, false},
        {"line edit, cancelled", false, Way::key, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget* field = c.inCell ? static_cast<QWidget*>(cellField) : other;
        if (c.inCell) {
            select(0, 0);
            grid->setFocus();
            key(Qt::Key_Return);
            ASSERT_TRUE(waitForEditorFocus());
        } else {
            other->clear();
            other->setFocus();
        }
        const auto fieldText = [&] { return c.inCell ? cellField->toPlainText() : other->text(); };
        const QString start = fieldText();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        copier.copyToClipboard();
        ASSERT_TRUE(copier.isCopying());

        QPointer<QMenu> menu;
        switch (c.way) {
        case Way::key:
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
            break;
        case Way::command:
            grid->commands()->action(Command::paste)->trigger();
            break;
        case Way::menu: {
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(4, 4),
                                    field->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(field, &event);
            menu = field->findChild<QMenu*>();
            ASSERT_TRUE(menu);
            const QList<QAction*> items = menu->actions();
            const auto item = std::find_if(items.begin(), items.end(), [](QAction* a) {
                return a->text().startsWith(QStringLiteral("&Paste\t"));
            });
            ASSERT_NE(item, items.end());
            (*item)->trigger();
            break;
        }
        }
        EXPECT_EQ(fieldText(), start) << "the old text must not be pasted";
        if (c.cancelled) copier.cancelCopy();
        ASSERT_TRUE(waitUntil([&] { return !copier.isCopying(); }));

        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
                  c.cancelled ? "before" : copier.copyText());
        // What a field of the same kind makes of the clipboard's text, pasted at its end.
        QString expected;
        if (c.inCell) {
            QPlainTextEdit reference(start);
            reference.moveCursor(QTextCursor::End);
            reference.paste();
            expected = reference.toPlainText();
        } else {
            QLineEdit reference;
            reference.paste();
            expected = reference.text();
        }
        // Compared whole, reported short: the texts are half a megabyte.
        EXPECT_TRUE(fieldText() == expected) << fieldText().size() << " characters, not " << expected.size()
                                             << "; starts " << fieldText().left(24).toStdString();
        if (c.inCell) session->cancelEditing();
        if (menu) {
            // Open until now: the offscreen platform gives the window's activation back to
            // no one when a popup closes, and the edit would end with it.
            menu->close();
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        }
        EXPECT_EQ(rows(), before);
        EXPECT_EQ(undo.count(), 0);
    }
}

TEST_F(GridViewTest, AnEmptyTableDrawsNoRowsButKeepsHeaderGutterAndCorner) {
    open("a,b,c\n");
    EXPECT_EQ(session->displayedRowCount(), 0);
    EXPECT_TRUE(grid->gridWindow().rows.empty());
    EXPECT_EQ(grid->columnHeader()->cells().size(), 3u) << "the titles still show";
    const int gutter = static_cast<int>(session->layout().gutterWidth());
    const int header = static_cast<int>(session->layout().headerHeight());
    EXPECT_EQ(grid->columnHeader()->geometry().topLeft(), QPoint(gutter, 0));
    EXPECT_EQ(grid->rowGutter()->geometry().topLeft(), QPoint(0, header));
    EXPECT_EQ(grid->corner()->geometry(), QRect(0, 0, gutter, header));
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
            for (int y = static_cast<int>(number.y()); y < static_cast<int>(number.y() + layout.rowHeight());
                 ++y)
                if (qGray(image.pixel(x, y)) < 128) return true;
        return false;
    };
    const double width = layout.columnWidths()[1];
    EXPECT_TRUE(darkIn(number.x() + width - 20, number.x() + width - 2));
    EXPECT_FALSE(darkIn(number.x() + 2, number.x() + width / 2));
}

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
    EXPECT_EQ(convert(Qt::Key_A, Qt::ControlModifier, QString(QChar(1))),
              GridKey::typed("a", {.command = true}));
    EXPECT_EQ(convert(Qt::Key_F2, Qt::NoModifier), GridKey::press(K::edit));
    // Alt with a letter belongs to the menus' mnemonics; AltGr text still types.
    EXPECT_EQ(convert(Qt::Key_T, Qt::AltModifier, QStringLiteral("t")), std::nullopt);
    EXPECT_EQ(convert(Qt::Key_E, Qt::GroupSwitchModifier, QStringLiteral("€")), GridKey::typed("€"));
    EXPECT_EQ(convert(Qt::Key_Minus, Qt::ControlModifier, QStringLiteral("-")),
              GridKey::typed("-", {.command = true}));
    EXPECT_EQ(convert(Qt::Key_Dead_Grave, Qt::NoModifier), std::nullopt);
    EXPECT_EQ(convert(Qt::Key_Shift, Qt::ShiftModifier), std::nullopt);
}

} // namespace
} // namespace zarvel::test

namespace zarvel::test {
namespace {

TEST_F(GridViewTest, AFrozenFirstColumnStaysAtTheLeftAndAnswersAsTheColumnItself) {
    open(sampleCSV(30, 20), {640, 360});
    const QImage unscrolled = grid->viewport()->grab().toImage();
    grid->setFirstColumnFrozen(true);
    EXPECT_TRUE(grid->frozenStrip().isEmpty()) << "nothing to pin before scrolling";
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    ASSERT_GT(grid->scrollPosition().x(), 0);
    const QRectF strip = grid->frozenStrip();
    ASSERT_FALSE(strip.isEmpty());
    EXPECT_TRUE(grid->frozenHeader()->isVisible());
    const QImage scrolled = grid->viewport()->grab().toImage();
    if (const QString dir = qEnvironmentVariable("ZARVEL_SHOTS"); !dir.isEmpty())
        window->grab().save(dir + QStringLiteral("/frozen-first-column.png"));
    // The strip is the first column as it was drawn before scrolling (its edge aside).
    const QRect column(0, 0, static_cast<int>(strip.width()) - 1, scrolled.height());
    EXPECT_EQ(scrolled.copy(column), unscrolled.copy(column));

    // A click on the strip selects the first column's cell; a double click edits it there.
    const int y = cellPoint(3, 0).y();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(10, y));
    EXPECT_EQ(selection(), (GridSelection{{3, 0}, {3, 0}}));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(10, y));
    ASSERT_TRUE(editor()->isFullEdit());
    ASSERT_TRUE(waitForEditorFocus());
    EXPECT_EQ(editor()->frame().x(), 0);
    typeText(QStringLiteral("!"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(4, 0), "r3c0!");
    EXPECT_GT(grid->scrollPosition().x(), 0) << "the first column needs no scrolling to";
    EXPECT_EQ(selection(), (GridSelection{{4, 0}, {4, 0}}));

    grid->setFirstColumnFrozen(false);
    EXPECT_TRUE(grid->frozenStrip().isEmpty());
    EXPECT_FALSE(grid->frozenHeader()->isVisible());
}

} // namespace
} // namespace zarvel::test
