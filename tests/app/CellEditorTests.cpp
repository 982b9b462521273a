// The in-place cell editor: typing over, full edits with their keys and line breaks,
// and where focus goes when an edit opens and closes.
#include "GridViewTestFixture.h"

#include "app/views/GridStyle.h"

#include <QClipboard>
#include <QTextBlock>

#include <functional>
#include <iostream>

namespace zarvel::test {
namespace {

class CellEditorTest : public GridViewTest {
protected:
    // Opens a full edit on a cell with a double click and waits for its text field.
    void fullEdit(int64_t row, int64_t column) {
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cellPoint(row, column));
        ASSERT_TRUE(editor()->isFullEdit());
        ASSERT_TRUE(waitForEditorFocus());
    }
    QString fieldText() const { return editor()->textField()->toPlainText(); }
    int caretPosition() const { return editor()->textField()->textCursor().position(); }
};

TEST_F(CellEditorTest, TypingOverShowsAnAccentCaretAndAClickMakesItAFullEdit) {
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
    const int inset = CellEditor::shadowMargin + 3;
    const QRect inner = editor()->rect().adjusted(inset, inset, -inset, -inset);
    int accentPixels = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            // The caret is a hairline, blended with the background at its edges.
            if (c.blue() - c.red() > 30) ++accentPixels;
        }
    EXPECT_GT(accentPixels, 3);

    // A click on the typed text turns it into a full edit with the caret at the end.
    typeText(QStringLiteral("bc"));
    QTest::mouseClick(editor(), Qt::LeftButton, {}, editor()->rect().center());
    ASSERT_TRUE(waitForEditorFocus());
    EXPECT_TRUE(editor()->isFullEdit());
    EXPECT_EQ(grid->gridFocus(), GridFocus::editor);
    EXPECT_EQ(fieldText(), QStringLiteral("Wbc"));
    EXPECT_EQ(caretPosition(), 3);
    typeText(QStringLiteral("d"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(2, 1), "Wbcd");
    EXPECT_TRUE(grid->hasFocus());
}

// A double click opens the cell's text with the caret at the end; every way of leaving
// commits where the edit stood (Escape cancels), and focus goes back to the grid unless
// the user moved it elsewhere.
TEST_F(CellEditorTest, EveryWayOfEndingAFullEditCommitsWhereItStood) {
    open(sampleCSV(6, 3));
    const struct {
        const char* name;
        GridCell cell;
        std::function<void()> end;
        bool commits;
        GridCell then;
        QWidget* focus;
    } cases[] = {
        {"Return", {2, 1}, [&] { key(Qt::Key_Return); }, true, {3, 1}, grid},
        {"Tab on the last column wraps", {1, 2}, [&] { key(Qt::Key_Tab); }, true, {2, 0}, grid},
        {"Shift+Tab on the first column",
         {2, 0},
         [&] { key(Qt::Key_Backtab, Qt::ShiftModifier); },
         true,
         {1, 2},
         grid},
        {"Escape", {0, 0}, [&] { key(Qt::Key_Escape); }, false, {0, 0}, grid},
        {"a click on another cell", {1, 1}, [&] { click(4, 0); }, true, {4, 0}, grid},
        {"focus moved elsewhere",
         {0, 1},
         [&] { other->setFocus(Qt::MouseFocusReason); },
         true,
         {0, 1},
         other},
    };
    for (const auto& c : cases) {
        const std::string before = cell(c.cell.row + 1, c.cell.column);
        fullEdit(c.cell.row, c.cell.column);
        EXPECT_EQ(fieldText(), QString::fromStdString(before)) << c.name;
        EXPECT_EQ(caretPosition(), static_cast<int>(before.size())) << c.name;
        typeText(QStringLiteral("!"));
        EXPECT_EQ(session->editing()->text, before + "!") << c.name << ": every change reaches the draft";
        EXPECT_EQ(cell(c.cell.row + 1, c.cell.column), before) << c.name;
        c.end();
        EXPECT_EQ(cell(c.cell.row + 1, c.cell.column), c.commits ? before + "!" : before) << c.name;
        EXPECT_FALSE(session->editing()) << c.name;
        EXPECT_FALSE(editor()->isVisible()) << c.name;
        EXPECT_EQ(active(), c.then) << c.name;
        EXPECT_TRUE(c.focus->hasFocus()) << c.name;
        EXPECT_EQ(grid->gridFocus(), GridFocus::grid) << c.name;
    }
    EXPECT_EQ(undo.count(), 5);
}

TEST_F(CellEditorTest, AFullEditKeepsLineBreaksAndAltReturnAddsOne) {
    open("a,b\n\"two\nlines\",x\n\"crlf\r\nkept\",y\n");
    // A value written with CR LF keeps CR LF, edited or not; unchanged, it is no step.
    fullEdit(1, 0);
    EXPECT_EQ(fieldText(), QStringLiteral("crlf\nkept"));
    key(Qt::Key_Tab);
    EXPECT_EQ(cell(2, 0), "crlf\r\nkept");
    EXPECT_EQ(undo.count(), 0);
    fullEdit(1, 0);
    typeText(QStringLiteral("!"));
    key(Qt::Key_Return);
    EXPECT_EQ(cell(2, 0), "crlf\r\nkept!");

    fullEdit(0, 0);
    EXPECT_EQ(fieldText(), QStringLiteral("two\nlines"));
    key(Qt::Key_Return, Qt::AltModifier);
    typeText(QStringLiteral("three"));
    EXPECT_TRUE(editor()->isFullEdit()) << "Alt+Return does not commit";
    key(Qt::Key_Return);
    EXPECT_EQ(cell(1, 0), "two\nlines\nthree");
}

TEST_F(CellEditorTest, TheEditorIsWideEnoughForANarrowCellAndGrowsRightAndDown) {
    open("a,b\n1,2\n", {700, 400});
    session->setColumnWidth(0, 40);
    fullEdit(0, 0);
    const QRectF before = editor()->frame();
    EXPECT_DOUBLE_EQ(before.width(), CellEditor::minimumWidth);
    EXPECT_GE(before.height(), session->layout().rowHeight());
    EXPECT_EQ(before.topLeft(),
              grid->viewportPoint(QPointF(session->layout().xOfColumn(0), session->layout().yOfRow(0))));
    typeText(QString(60, QChar('w')));
    const QRectF wider = editor()->frame();
    EXPECT_GT(wider.width(), before.width());
    EXPECT_EQ(wider.topLeft(), before.topLeft());
    for (int i = 0; i < 4; ++i)
        key(Qt::Key_Return, Qt::AltModifier);
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

namespace zarvel::test {
namespace {

// A cell of megabytes opens, takes a keystroke and commits exactly; the times are
// printed for reading, never judged here.
TEST_F(CellEditorTest, AHugeCellOpensEditsAndCommitsExactly) {
    const size_t size = qEnvironmentVariableIntValue("ZARVEL_BIG_CELL_BYTES") > 0
                            ? static_cast<size_t>(qEnvironmentVariableIntValue("ZARVEL_BIG_CELL_BYTES"))
                            : 1 << 20;
    std::string big;
    big.reserve(size);
    for (size_t i = 0; big.size() < size; ++i)
        big += (i % 13 == 12) ? "w\xC3\xA9rd " : "word ";
    big.resize(size);
    while (static_cast<unsigned char>(big.back()) >= 0x80)
        big.pop_back(); // no half character
    open("a,b\n1,\"" + big + "\"\n2,x\n");
    ASSERT_TRUE(cell(1, 1) == big);
    QElapsedTimer timer;
    timer.start();
    click(0, 1);
    key(Qt::Key_Return);
    ASSERT_TRUE(editor()->isFullEdit());
    ASSERT_TRUE(waitForEditorFocus());
    QApplication::processEvents();
    const qint64 opened = timer.restart();
    typeText(QStringLiteral("!"));
    QApplication::processEvents();
    const qint64 typed = timer.restart();
    key(Qt::Key_Return);
    const qint64 committed = timer.elapsed();
    std::cout << "[ timing ] " << size << "-byte cell: open " << opened << " ms, keystroke " << typed
              << " ms, commit " << committed << " ms\n";
    EXPECT_TRUE(cell(1, 1) == big + "!");
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
    session->undo();
    EXPECT_TRUE(cell(1, 1) == big);
}

// A long value is shown in pieces; the cuts between them are no part of the value.
TEST_F(CellEditorTest, ALongValueReadsBackExactlyAcrossItsPieces) {
    const std::string as(3000, 'a'), bs(40000, 'b');
    open("h\n\"" + as + "\r\n" + bs + "\"\nx\n");
    const int64_t steps = undo.count();
    fullEdit(0, 0);
    QPlainTextEdit* field = editor()->textField();
    ASSERT_GT(field->document()->blockCount(), 20) << "shown in pieces";
    key(Qt::Key_Tab);
    EXPECT_EQ(undo.count(), steps) << "unchanged, line breaks and all";
    EXPECT_TRUE(cell(1, 0) == as + "\r\n" + bs);

    fullEdit(0, 0);
    // Backspace at the cut inside the first line takes the character before it.
    QTextCursor c(field->document()->findBlockByNumber(1));
    field->setTextCursor(c);
    key(Qt::Key_Backspace);
    // Alt+Return at a cut inside the second line breaks the line there.
    field->setTextCursor(QTextCursor(field->document()->findBlockByNumber(3)));
    key(Qt::Key_Return, Qt::AltModifier);
    key(Qt::Key_Return);
    EXPECT_TRUE(cell(1, 0) ==
                std::string(2999, 'a') + "\r\n" + std::string(2000, 'b') + "\r\n" + std::string(38000, 'b'));
}

} // namespace
} // namespace zarvel::test
