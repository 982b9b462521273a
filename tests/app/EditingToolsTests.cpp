// Go to Row, filling and the repairs as a user reaches them in a document window: the
// keys and menu commands, the messages they leave, undo and redo, and the saved file.
#include "ShellTestSupport.h"

#include "app/views/CellEditor.h"
#include "app/views/CommandRegistry.h"
#include "app/views/GoToRowPopover.h"
#include "app/views/SelectionOverlay.h"
#include "core/CSVReader.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QUndoStack>

namespace zarvel::test {
namespace {

using EditingToolsTest = ShellTest;

std::string numberedRows(int count) {
    std::string text = "n,v\n";
    for (int i = 1; i <= count; ++i)
        text += std::to_string(i) + ",x\n";
    return text;
}

TEST_F(EditingToolsTest, CtrlLGoesToARowAndSaysWhenTheNumberWasOutOfRange) {
    const QString file = path(QStringLiteral("rows.csv"));
    writeFile(file, QByteArray::fromStdString(numberedRows(300)));
    DocumentWindow* window = controller->openFile(file);
    ASSERT_TRUE(showAndActivate(window));
    GridView* grid = window->gridView();
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_L, Qt::ControlModifier);
    GoToRowPopover* popover = grid->goToRowPopover();
    ASSERT_NE(popover, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isVisible() && popover->field()->hasFocus(); }));

    QTest::keyClicks(popover->field(), QStringLiteral("1000"));
    QTest::keyClick(popover->field(), Qt::Key_Return);
    EXPECT_TRUE(popover->isVisible()) << "stays open to say what happened";
    EXPECT_EQ(popover->message()->text(), QStringLiteral("There is no row 1000; went to the last row, 300."));
    EXPECT_EQ(window->session()->selection().rows(), (IndexRange{299, 300}));

    QTest::keyClicks(popover->field(), QStringLiteral("0"));
    QTest::keyClick(popover->field(), Qt::Key_Return);
    EXPECT_EQ(popover->message()->text(), QStringLiteral("There is no row 0; went to the first row, 1."));

    QTest::keyClicks(popover->field(), QStringLiteral("150"));
    QTest::keyClick(popover->field(), Qt::Key_Return);
    EXPECT_FALSE(popover->isVisible());
    EXPECT_EQ(window->session()->selection(), (GridSelection{{149, 1}, {149, 0}}));
    EXPECT_EQ(cell(window, 150, 0), "150");
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->hasFocus(); }));
    // The row is on screen.
    const auto visible = window->session()->visibleRect();
    const auto row = window->session()->layout().cellRect(149, 0);
    EXPECT_GE(row.y, visible.y);
    EXPECT_LE(row.y + row.height, visible.y + visible.height);
    EXPECT_EQ(window->document()->revision(), 0) << "going somewhere changes nothing";
}

TEST_F(EditingToolsTest, CtrlReturnInTheCellEditorFillsTheSelectionAndFillDownFillsColumns) {
    DocumentWindow* window = controller->openFile([&] {
        const QString file = path(QStringLiteral("fill.csv"));
        writeFile(file, "a,b,c\n1,2,3\n4,5,6\n7,8,9\n");
        return file;
    }());
    ASSERT_TRUE(showAndActivate(window));
    EditorSession* session = window->session();
    const StringRows before = window->document()->table().allRows();
    session->setSelection({{0, 0}, {1, 1}});
    window->gridView()->setFocus();
    QTest::keyClick(window->gridView(), Qt::Key_Return);
    CellTextField* field = window->gridView()->cellEditor()->textField();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }));
    // The block stays drawn around the edited cell.
    const auto shape = SelectionOverlay(session).shape(window->gridView()->gridWindow());
    ASSERT_TRUE(shape.has_value());
    EXPECT_EQ(shape->block, session->layout().rect({0, 2}, {0, 2}));
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("new"));
    QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
    const StringRows filled{{"a", "b", "c"}, {"new", "new", "3"}, {"new", "new", "6"}, {"7", "8", "9"}};
    EXPECT_EQ(window->document()->table().allRows(), filled);
    EXPECT_EQ(window->undoStack()->undoText(), QStringLiteral("Fill Cells"));
    EXPECT_EQ(session->selection(), (GridSelection{{0, 0}, {1, 1}}));

    session->setSelection({{0, 2}, {2, 2}});
    QTest::keyClick(window->gridView(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(cell(window, 3, 2), "3");
    EXPECT_EQ(window->undoStack()->undoText(), QStringLiteral("Fill Down"));
    const StringRows after = window->document()->table().allRows();
    QTest::keyClick(window->gridView(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(window->document()->table().allRows(), filled);
    QTest::keyClick(window->gridView(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(window->document()->table().allRows(), before);
    QTest::keyClick(window->gridView(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(window->gridView(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(window->document()->table().allRows(), after);
}

TEST_F(EditingToolsTest, RepairsFromTheTableMenuSayHowManyCellsChangedAndSaveCompleteRows) {
    const QString file = path(QStringLiteral("ragged.csv"));
    writeFile(file, "a,b,c\n1\n 2,3,4\n5,6\n");
    DocumentWindow* window = controller->openFile(file);
    ASSERT_TRUE(showAndActivate(window));
    CommandRegistry* commands = window->commands();
    commands->action(Command::padShortRows)->trigger();
    QLabel* notice = window->gridView()->noticeLabel();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), QStringLiteral("Pad Short Rows: 3 cells changed"));
    window->session()->setSelection({{1, 0}, {1, 0}});
    commands->action(Command::trimSpaces)->trigger();
    EXPECT_EQ(notice->text(), QStringLiteral("Trim Spaces: 1 cell changed"));
    commands->action(Command::trimSpaces)->trigger();
    EXPECT_EQ(notice->text(), QStringLiteral("Trim Spaces: 0 cells changed"));
    EXPECT_EQ(window->undoStack()->count(), 2);

    ASSERT_TRUE(controller->save(window));
    const QByteArray saved = readFile(file);
    EXPECT_EQ(saved, QByteArray("a,b,c\n1,,\n2,3,4\n5,6,\n"));
    const ReadResult back = CSVReader::read(SharedBytes::copyOf(saved.toStdString()), {});
    EXPECT_EQ(back.table.allRows(), window->document()->table().allRows());
    EXPECT_EQ(back.report.raggedRowCount, 0);
}

} // namespace
} // namespace zarvel::test
