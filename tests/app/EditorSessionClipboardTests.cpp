#include "SessionTestSupport.h"

#include "core/CSVWriter.h"
#include "core/TableSearch.h"
#include "core/UTF8.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QThreadPool>

#include <algorithm>

using namespace zarvel;

namespace {
class ClipboardTest : public zarvel::test::SessionTest {};
} // namespace

TEST_F(ClipboardTest, CopyWritesTabSeparatedRows) {
    open("h1,h2,h3\na,b,x\nc,d,y\n");
    select({0, 0}, {1, 1});
    EXPECT_EQ(session->copyText(), "a\tb\nc\td\n");
    open("h1,h2\n\"tab\there\",\"line\nbreak\"\n\"q\"\"uote\",plain\n");
    select({0, 0}, {1, 1});
    const std::string text = session->copyText();
    EXPECT_EQ(text, "\"tab\there\"\t\"line\nbreak\"\n\"q\"\"uote\"\tplain\n");
    // Pasting it back elsewhere gives the same values.
    select(0, 0);
    session->insertColumn(false);
    select(0, 1);
    session->paste(text);
    EXPECT_EQ(table().value(1, 1), "tab\there");
    EXPECT_EQ(table().value(1, 2), "line\nbreak");
    EXPECT_EQ(table().value(2, 1), "q\"uote");
}

TEST_F(ClipboardTest, OneValueFillsTheSelectionInOneStep) {
    open("a,b,c\n1,2,3\n4,5,6\n7,8,9\n");
    select({0, 0}, {2, 2});
    session->paste("z");
    EXPECT_EQ(rows(), (StringRows{{"a", "b", "c"}, {"z", "z", "z"}, {"z", "z", "z"}, {"z", "z", "z"}}));
    EXPECT_EQ(session->selection(), (GridSelection{{0, 0}, {2, 2}}));
    EXPECT_EQ(undo.count(), 1);
    EXPECT_EQ(undoText(), QStringLiteral("Paste"));
    select(1, 1);
    session->paste("one");
    EXPECT_EQ(table().value(2, 1), "one");
    EXPECT_EQ(session->selection(), (GridSelection{{1, 1}, {1, 1}}));
}

TEST_F(ClipboardTest, BlocksGrowTheTableInTheSameStep) {
    open("a,b\n1,2\n3,4\n");
    const StringRows before = rows();
    select(1, 1);
    session->paste("x\ty\tz\nu\nv\tw\n");
    EXPECT_EQ(rows(), (StringRows{{"a", "b", "", ""},
                                  {"1", "2", "", ""},
                                  {"3", "x", "y", "z"},
                                  {"", "u", "", ""},
                                  {"", "v", "w", ""}}));
    EXPECT_EQ(session->selection(), (GridSelection{{1, 1}, {3, 3}})) << "spans the longest row";
    EXPECT_EQ(undo.count(), 1);
    expectUndoRedoRestores(before, rows());
    EXPECT_EQ(table().value(0, 2), "") << "new columns get no header name";
}

TEST_F(ClipboardTest, ShortRowsLeaveTheirOtherCellsAlone) {
    open("a,b\n1,2\n3,4\n");
    select(0, 0);
    session->paste("x\ty\nz\n");
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"x", "y"}, {"z", "4"}}));
}

TEST_F(ClipboardTest, CutCopiesAndClears) {
    open("a,b\n1,2\n");
    select({0, 0}, {0, 1});
    EXPECT_EQ(session->cut(), "1\t2\n");
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"", ""}}));
    EXPECT_EQ(undoText(), QStringLiteral("Clear"));
    EXPECT_EQ(session->cut(), "\t\n");
    EXPECT_EQ(undo.count(), 1) << "cutting empty cells registers nothing";
}

TEST_F(ClipboardTest, ASepLookingFirstLineIsData) {
    open("a,b\n1,2\n");
    select(0, 0);
    session->paste("sep=;\nx\n");
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"sep=;", "2"}, {"x", ""}}));
}

TEST_F(ClipboardTest, PasteThatAddsRowsUnderAFilterSelectsTheWrittenCells) {
    open("h\nkeep\nother\nkeep\n");
    session->setQuery("keep");
    session->search();
    ASSERT_TRUE(zarvel::test::waitUntil([&] { return session->find().matches.size() == 2; }));
    session->setShowsOnlyMatches(true);
    select(1, 0); // table row 3
    session->paste("p\nq\nr\n");
    EXPECT_FALSE(session->rowFilter());
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"keep"}, {"other"}, {"p"}, {"q"}, {"r"}}));
    // Written to table rows 3, 4 and 5: display rows 2 to 4 of the unfiltered grid.
    EXPECT_EQ(session->selection(), (GridSelection{{2, 0}, {4, 0}}));
}

// MARK: large copies

namespace {

// The clipboard text as it was made before it was written straight from the table: the
// block's strings through the writer, then repaired.
std::string referenceText(const CSVTable& t, const std::vector<int64_t>& tableRows, IndexRange columns,
                          bool titles) {
    StringRows block;
    auto line = [&](auto cell) {
        StringRow r;
        for (int64_t c = columns.lower; c < columns.upper; ++c)
            r.push_back(c >= 0 && c < t.columnCount() ? cell(c) : std::string());
        block.push_back(std::move(r));
    };
    if (titles) line([&](int64_t c) { return t.columnTitle(c); });
    for (const int64_t row : tableRows)
        line([&](int64_t c) { return t.value(row, c); });
    const std::string bytes =
        CSVWriter::write(CSVTable(std::move(block), clipboardFormat()), clipboardFormat());
    return UTF8::isValid(bytes) ? bytes : UTF8::repaired(bytes);
}

std::string clipboardUtf8() {
    const QByteArray bytes =
        QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("text/plain;charset=utf-8"));
    return bytes.toStdString();
}

// Cells that quoting and decoding must get right, the file's own bytes in CSV.
const std::vector<std::string> trickyCells = {
    "plain",
    "\"tab\there\"",
    "\"line\nbreak\"",
    "\"q\"\"uote\"",
    "\"cr\rhere\"",
    "",
    "caf\xC3\xA9",
    "bad\xE2\x82",
    "\"quoted plain\"",
    "\"\"",
    "\xEF\xBB\xBF"
    "bom",
    "sep=;",
};

std::string trickyFile(int64_t rows, int64_t columns) {
    std::string text = "\"ti\ttle\",h\xFF,sep=x,\"q\"\"\"\n";
    for (int64_t r = 0; r < rows; ++r) {
        for (int64_t c = 0; c < columns; ++c) {
            if (c) text += ',';
            text += trickyCells[static_cast<size_t>(r * 7 + c * 3) % trickyCells.size()];
        }
        text += '\n';
    }
    return text;
}

} // namespace

// Every shape of block, over source rows, edited rows, titles, a filter and columns
// past the table, writes the same text as the writer did over the block's strings.
TEST_F(ClipboardTest, TextWrittenFromTheTableMatchesTheWriter) {
    open(trickyFile(40, 4));
    // Edited rows hold strings, some of them invalid UTF-8 or with a first-row trap.
    document->apply(TableEdit::setCells({{1, 0, "sep=,"}, {2, 1, "x\ty"}, {3, 2, std::string("\xC0z")}}));
    struct Case {
        GridSelection selection;
        bool titles;
        bool filtered;
    };
    const std::vector<Case> cases = {
        {{{0, 0}, {39, 3}}, false, false}, {{{0, 0}, {39, 3}}, true, false}, {{{0, 1}, {5, 1}}, true, false},
        {{{2, 2}, {2, 2}}, false, false},  {{{0, 2}, {9, 5}}, true, false},  {{{0, 0}, {3, 3}}, false, true},
        {{{1, 0}, {4, 2}}, true, true},    {{{0, 0}, {3, 0}}, false, false},
    };
    for (const Case& c : cases) {
        session->setShowsOnlyMatches(false);
        if (c.filtered) {
            FindState f = session->find();
            f.query = "plain";
            f.matches = TableSearch::find("plain", table(), false);
            session->setFind(f);
            session->setShowsOnlyMatches(true);
            ASSERT_TRUE(session->rowFilter());
        }
        session->setSelection(c.selection);
        std::vector<int64_t> tableRows;
        const IndexRange displayed = c.selection.rows().clamped(0, session->displayedSize().rows);
        for (int64_t r = displayed.lower; r < displayed.upper; ++r)
            tableRows.push_back(session->tableRow(r));
        const std::string expected = referenceText(table(), tableRows, c.selection.columns(), c.titles);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(session->copyText(c.titles), expected)
            << "rows " << c.selection.rows().lower << "–" << c.selection.rows().upper
            << (c.titles ? " titles" : "") << (c.filtered ? " filtered" : "");
        EXPECT_TRUE(UTF8::isValid(session->copyText(c.titles)));
    }
}

// A copy too large to write at once lands from the worker with the same bytes, and a
// paste reads them back as the cells copied.
TEST_F(ClipboardTest, ALargeCopyLandsFromTheWorkerAndPastesBack) {
    const int64_t columns = 4;
    const int64_t rowCount = EditorSession::syncCopyCells / columns + 100;
    open(trickyFile(rowCount, columns));
    session->selectAll();
    const std::string expected = session->copyText();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    session->copyToClipboard();
    EXPECT_TRUE(session->isCopying()) << "written on a worker";
    // Another window's paste issued at once waits for the copy instead of pasting "before".
    auto otherDocument = CSVDocument::fromBytes(SharedBytes::copyOf("x\n1\n"));
    QUndoStack otherUndo;
    EditorSession other(otherDocument.get());
    other.setUndoManager(&otherUndo);
    other.sync();
    other.setSelection({{0, 0}, {0, 0}});
    other.pasteFromClipboard();
    EXPECT_EQ(otherDocument->table().value(1, 0), "1");
    ASSERT_TRUE(test::waitUntil([&] { return !session->isCopying(); }));
    EXPECT_EQ(clipboardUtf8(), expected);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toUtf8().toStdString(), expected);

    // The waiting paste ran once the copy landed: its cells are the copied ones.
    const CSVTable pasted = otherDocument->table();
    ASSERT_EQ(pasted.rowCount(), rowCount + 1);
    for (int64_t r = 1; r <= rowCount; r += 997)
        for (int64_t c = 0; c < columns; ++c)
            EXPECT_EQ(pasted.value(r, c), table().value(r, c)) << r << "," << c;
    EXPECT_EQ(otherUndo.count(), 1);
}

TEST_F(ClipboardTest, ACancelledCopyLeavesTheClipboardAndDropsAWaitingPaste) {
    open(trickyFile(EditorSession::syncCopyCells / 4 + 100, 4));
    session->selectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    session->copyToClipboard();
    ASSERT_TRUE(session->isCopying());
    select(0, 0);
    session->pasteFromClipboard();
    session->cancelCopy();
    EXPECT_FALSE(session->isCopying());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    EXPECT_EQ(undo.count(), 0) << "the paste that waited for the copy is dropped";

    // A copy elsewhere supersedes one still being written.
    session->selectAll();
    session->copyToClipboard();
    ASSERT_TRUE(session->isCopying());
    QGuiApplication::clipboard()->setText(QStringLiteral("newer"));
    EXPECT_FALSE(session->isCopying());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("newer"));
}

// A large cut clears its cells only once their text is on the clipboard: cancelled or
// closed first it changes nothing, and over a table edited meanwhile it keeps the cells.
TEST_F(ClipboardTest, ALargeCutClearsOnlyCellsWhoseTextLanded) {
    open(trickyFile(EditorSession::syncCopyCells / 4 + 100, 4));
    const StringRows before = rows();
    const auto settle = [] {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    };
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    for (const bool closed : {false, true}) {
        SCOPED_TRACE(closed ? "window closed" : "cancelled");
        session->selectAll();
        session->cutToClipboard();
        ASSERT_TRUE(session->isCopying());
        if (closed)
            session.reset();
        else
            session->cancelCopy();
        settle();
        EXPECT_EQ(rows(), before);
        EXPECT_EQ(undo.count(), 0);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }
    start();

    QSignalSpy notices(session.get(), &EditorSession::clipboardNotice);
    session->selectAll();
    const std::string copied = session->copyText();
    session->cutToClipboard();
    document->apply(TableEdit::setCells({{2, 1, "typed meanwhile"}}), &undo, QStringLiteral("Edit Cell"));
    const StringRows edited = rows();
    ASSERT_TRUE(test::waitUntil([&] { return !session->isCopying(); }));
    EXPECT_EQ(clipboardUtf8(), copied);
    EXPECT_EQ(rows(), edited) << "the cut cells stay";
    EXPECT_EQ(undo.count(), 1);
    EXPECT_EQ(notices.count(), 1);

    const std::string copiedAgain = session->copyText();
    session->cutToClipboard();
    ASSERT_TRUE(test::waitUntil([&] { return !session->isCopying(); }));
    EXPECT_EQ(clipboardUtf8(), copiedAgain);
    StringRows cleared = edited;
    for (size_t r = static_cast<size_t>(table().firstDataRow()); r < cleared.size(); ++r)
        std::fill(cleared[r].begin(), cleared[r].end(), std::string());
    EXPECT_EQ(rows(), cleared);
    EXPECT_EQ(undo.count(), 2) << "a cut is one step";
    session->undo();
    EXPECT_EQ(rows(), edited);
    EXPECT_EQ(notices.count(), 1);
}
