// The in-place cell editor: typing over, full edits with their keys and line breaks,
// and where focus goes when an edit opens and closes.
#include "GridViewTestFixture.h"

#include "app/views/GridStyle.h"

#include <QClipboard>

namespace zarvel::test {
namespace {

class CellEditorTest : public GridViewTest {
protected:
    // Opens a full edit on a cell with a double click and waits for its text field.
    void fullEdit(int64_t row, int64_t column) {
        doubleClick(row, column);
        ASSERT_TRUE(editor()->isFullEdit());
        ASSERT_TRUE(waitForEditorFocus());
    }
    QString fieldText() const { return editor()->textField()->toPlainText(); }
    int caretPosition() const { return editor()->textField()->textCursor().position(); }
};

TEST_F(CellEditorTest, TypingALetterShowsItWithAnAccentCaretWhileTheGridKeepsFocus) {
    open(sampleCSV(4, 3));
    click(1, 1);
    typeText(QStringLiteral("W"));
    ASSERT_TRUE(editor()->isVisible());
    EXPECT_FALSE(editor()->isFullEdit());
    EXPECT_FALSE(editor()->textField()->isVisible());
    EXPECT_TRUE(grid->hasFocus());

    // The caret is drawn in the accent colour inside the editor's frame.
    const QImage image = editor()->grab().toImage();
    const QColor accent = GridStyle::accent(editor()->palette());
    ASSERT_GT(accent.blue() - accent.red(), 60) << "the check below looks for the accent's blue";
    const QRect inner = editor()->rect().adjusted(CellEditor::shadowMargin + 3, CellEditor::shadowMargin + 3,
                                                  -CellEditor::shadowMargin - 3, -CellEditor::shadowMargin - 3);
    int accentPixels = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            // The caret is a hairline, blended with the background at its edges.
            if (c.blue() - c.red() > 30) ++accentPixels;
        }
    EXPECT_GT(accentPixels, 3);
}

TEST_F(CellEditorTest, AClickOnTypedTextTurnsItIntoAFullEditWithTheCaretAtTheEnd) {
    open(sampleCSV(4, 3));
    click(0, 0);
    typeText(QStringLiteral("abc"));
    QTest::mouseClick(editor(), Qt::LeftButton, {}, editor()->rect().center());
    ASSERT_TRUE(waitForEditorFocus());
    EXPECT_TRUE(editor()->isFullEdit());
    EXPECT_EQ(grid->gridFocus(), GridFocus::editor);
    EXPECT_EQ(fieldText(), QStringLiteral("abc"));
    EXPECT_EQ(caretPosition(), 3);
    typeText(QStringLiteral("d"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(1, 0), "abcd");
    EXPECT_TRUE(grid->hasFocus());
}

TEST_F(CellEditorTest, DoubleClickOpensTheCellsTextWithTheCaretAtTheEnd) {
    open(sampleCSV(4, 3));
    fullEdit(2, 1);
    EXPECT_EQ(fieldText(), QStringLiteral("r2c1"));
    EXPECT_EQ(caretPosition(), 4);
    typeText(QStringLiteral("!"));
    EXPECT_EQ(session->editing()->text, "r2c1!") << "every change reaches the draft";
    EXPECT_EQ(cell(3, 1), "r2c1");
    key(Qt::Key_Return);
    EXPECT_EQ(cell(3, 1), "r2c1!");
    EXPECT_EQ(active(), (GridCell{3, 1}));
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_TRUE(grid->hasFocus());
    EXPECT_EQ(grid->gridFocus(), GridFocus::grid);
}

TEST_F(CellEditorTest, AFullEditKeepsLineBreaksAndAltReturnAddsOne) {
    open("a,b\n\"two\nlines\",x\n\"crlf\r\nkept\",y\n");
    fullEdit(0, 0);
    EXPECT_EQ(fieldText(), QStringLiteral("two\nlines"));
    key(Qt::Key_Return, Qt::AltModifier);
    typeText(QStringLiteral("three"));
    EXPECT_TRUE(editor()->isFullEdit()) << "Alt+Return does not commit";
    key(Qt::Key_Return);
    EXPECT_EQ(cell(1, 0), "two\nlines\nthree");

    // A value written with CR LF keeps CR LF, edited or not.
    fullEdit(1, 0);
    EXPECT_EQ(fieldText(), QStringLiteral("crlf\nkept"));
    typeText(QStringLiteral("!"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(2, 0), "crlf\r\nkept!");
}

TEST_F(CellEditorTest, UnchangedFullEditLeavesNothingToUndo) {
    open("a,b\n\"x\r\ny\",1\n");
    fullEdit(0, 0);
    key(Qt::Key_Tab);
    EXPECT_EQ(cell(1, 0), "x\r\ny");
    EXPECT_EQ(undo.count(), 0);
}

TEST_F(CellEditorTest, EscapeCancelsAndTheCellKeepsItsText) {
    open(sampleCSV(4, 3));
    fullEdit(1, 2);
    typeText(QStringLiteral("changed"));
    key(Qt::Key_Escape);
    EXPECT_FALSE(session->editing());
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(cell(2, 2), "r1c2");
    EXPECT_EQ(undo.count(), 0);
    EXPECT_TRUE(grid->hasFocus());
}

TEST_F(CellEditorTest, TabAndShiftTabCommitAndMoveAlongTheRow) {
    open(sampleCSV(4, 3));
    fullEdit(1, 2);
    typeText(QStringLiteral("T"));
    key(Qt::Key_Tab);
    EXPECT_EQ(cell(2, 2), "r1c2T");
    EXPECT_EQ(active(), (GridCell{2, 0})) << "Tab on the last column wraps";
    EXPECT_TRUE(grid->hasFocus());

    fullEdit(2, 0);
    typeText(QStringLiteral("S"));
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(cell(3, 0), "r2c0S");
    EXPECT_EQ(active(), (GridCell{1, 2})) << "Shift+Tab from the first cell goes to the previous row's last";
}

TEST_F(CellEditorTest, ClickingElsewhereCommitsWhereTheEditStood) {
    open(sampleCSV(6, 3));
    fullEdit(1, 1);
    typeText(QStringLiteral("Z"));
    click(4, 0);
    EXPECT_EQ(cell(2, 1), "r1c1Z");
    EXPECT_EQ(active(), (GridCell{4, 0}));
    EXPECT_FALSE(editor()->isVisible());

    fullEdit(0, 0);
    typeText(QStringLiteral("Y"));
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(cell(1, 0), "r0c0Y");
    EXPECT_TRUE(other->hasFocus()) << "closing the edit does not pull focus back from the field";
    EXPECT_EQ(undo.count(), 2);
}

TEST_F(CellEditorTest, ReturnOnTheLastRowAddsARowAndMovesIntoIt) {
    open(sampleCSV(3, 2));
    fullEdit(2, 1);
    typeText(QStringLiteral("+"));
    key(Qt::Key_Return);
    EXPECT_EQ(table().rowCount(), 5);
    EXPECT_EQ(cell(3, 1), "r2c1+");
    EXPECT_EQ(active(), (GridCell{3, 1}));
    EXPECT_EQ(undo.count(), 2) << "\"Add Row\" and \"Edit Cell\"";
}

TEST_F(CellEditorTest, ANarrowCellOpensAWideEnoughEditor) {
    open("a,b\n1,2\n");
    session->setColumnWidth(0, 40);
    fullEdit(0, 0);
    EXPECT_DOUBLE_EQ(editor()->frame().width(), CellEditor::minimumWidth);
    EXPECT_GE(editor()->frame().height(), session->layout().rowHeight());
    EXPECT_EQ(editor()->frame().topLeft(), grid->viewportPoint(QPointF(session->layout().xOfColumn(0),
                                                                       session->layout().yOfRow(0))));
}

TEST_F(CellEditorTest, ALongTextGrowsTheEditorRightAndDown) {
    open("a,b\nshort,2\n", {700, 400});
    fullEdit(0, 0);
    const QRectF before = editor()->frame();
    typeText(QString(60, QChar('w')));
    const QRectF wider = editor()->frame();
    EXPECT_GT(wider.width(), before.width());
    EXPECT_EQ(wider.topLeft(), before.topLeft());
    for (int i = 0; i < 4; ++i) key(Qt::Key_Return, Qt::AltModifier);
    EXPECT_GT(editor()->frame().height(), wider.height());
    EXPECT_LE(editor()->frame().right(), grid->viewport()->width());
}

TEST_F(CellEditorTest, RenamingAColumnEditsItsTitleOverTheHeader) {
    open(sampleCSV(3, 3));
    const QRectF title = grid->columnHeader()->cellFrame(1);
    QTest::mouseDClick(grid->columnHeader(), Qt::LeftButton, {}, title.center().toPoint());
    ASSERT_TRUE(session->editing());
    EXPECT_TRUE(session->editing()->target.isHeader());
    ASSERT_TRUE(waitForEditorFocus());
    EXPECT_EQ(fieldText(), QStringLiteral("h1"));
    // It stands over the header strip, in the view itself.
    EXPECT_EQ(editor()->parentWidget(), grid);
    EXPECT_LT(editor()->frame().top(), session->layout().headerHeight());
    typeText(QStringLiteral("x"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(0, 1), "h1x");
    EXPECT_EQ(undo.undoText(), QStringLiteral("Edit Cell"));
}

TEST_F(CellEditorTest, ClipboardCommandsActOnTheTextWhileAFullEditHasFocus) {
    open(sampleCSV(3, 3));
    fullEdit(0, 0);
    editor()->textField()->selectAll();
    grid->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("r0c0"));
    key(Qt::Key_End);
    grid->paste();
    EXPECT_EQ(fieldText(), QStringLiteral("r0c0r0c0"));
    EXPECT_EQ(cell(1, 0), "r0c0") << "the table is untouched until the edit commits";
}

} // namespace
} // namespace zarvel::test
