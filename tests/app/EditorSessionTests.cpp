#include "SessionTestSupport.h"

#include "core/CSVWriter.h"

#include <QSignalSpy>
#include <QThreadPool>

using namespace zarvel;
using K = GridKey::Key;

namespace {
class EditorSessionTest : public zarvel::test::SessionTest {};
} // namespace

TEST_F(EditorSessionTest, SyncSizesTheGridFromTheTable) {
    open("id,name\n1,a\n2,b\n3,c\n4,d\n5,e\n");
    EXPECT_EQ(session->displayedRowCount(), 5);
    EXPECT_EQ(session->layout().rowCount(), 5);
    EXPECT_EQ(session->layout().gutterWidth(), 40);
    EXPECT_EQ(session->layout().columnCount(), 2);
    EXPECT_EQ(session->knownRowCount(), 6);
    EXPECT_EQ(session->columnKinds(), (std::vector<ColumnKind>{ColumnKind::number, ColumnKind::text}));
    EXPECT_EQ(session->tableRow(0), 1);
    EXPECT_EQ(session->displayRow(0), std::nullopt) << "the header row is not displayed";

    std::string big = "n\n";
    for (int i = 0; i < 12345; ++i)
        big += "1\n";
    open(big);
    EXPECT_EQ(session->layout().gutterWidth(), 56);
}

TEST_F(EditorSessionTest, UserWidthsSurviveEditsThatKeepTheColumnCount) {
    open("a,b\n1,2\n");
    session->setColumnWidth(0, 333);
    select(0, 1);
    type("9");
    key(K::enter);
    EXPECT_EQ(session->layout().columnWidths()[0], 333);
    session->setColumnWidth(1, 1);
    EXPECT_EQ(session->layout().columnWidths()[1], GridGeometry::minColumnWidth);
}

TEST_F(EditorSessionTest, TypingOverCommitsWithReturnTabAndArrows) {
    open("a,b,c\n1,2,3\n4,5,6\n");
    type("xy");
    ASSERT_TRUE(session->editing());
    EXPECT_TRUE(session->editing()->isEntering);
    EXPECT_EQ(session->editing()->text, "xy");
    key(K::enter);
    EXPECT_EQ(cell(1, 0), "xy");
    EXPECT_EQ(active(), (GridCell{1, 0}));
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));

    type("t");
    key(K::tab);
    EXPECT_EQ(cell(2, 0), "t");
    EXPECT_EQ(active(), (GridCell{1, 1}));
    type("s");
    key(K::tab, {.shift = true});
    EXPECT_EQ(cell(2, 1), "s");
    EXPECT_EQ(active(), (GridCell{1, 0}));
    type("r");
    key(K::right);
    EXPECT_EQ(cell(2, 0), "r");
    EXPECT_EQ(active(), (GridCell{1, 1})) << "the arrow moves after committing";
    EXPECT_EQ(undo.count(), 4);
}

TEST_F(EditorSessionTest, TypingOverRules) {
    open("a\n1\n");
    type("x");
    key(K::enter, {.option = true});
    type("y");
    EXPECT_EQ(session->editing()->text, "x\ny");
    key(K::deleteKey);
    key(K::deleteKey);
    EXPECT_EQ(session->editing()->text, "x");
    EXPECT_FALSE(key(K::home));
    EXPECT_FALSE(session->handleKey(GridKey::typed("c", {.command = true})));
    key(K::escape);
    EXPECT_FALSE(session->editing());
    EXPECT_EQ(cell(1, 0), "1");
    EXPECT_EQ(undo.count(), 0);

    // Delete removes one user-perceived character: e + combining acute is one.
    type("e");
    session->handleKey(GridKey::typed("\xCC\x81"));
    session->handleKey(GridKey::typed("\xF0\x9F\x91\x8D"));
    key(K::deleteKey);
    EXPECT_EQ(session->editing()->text, "e\xCC\x81");
    key(K::deleteKey);
    EXPECT_EQ(session->editing()->text, "");
}

TEST_F(EditorSessionTest, ReturnOnTheLastRowAppendsARowAsItsOwnStep) {
    open("h\nlast\n");
    select(0, 0);
    type("z");
    key(K::enter);
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"z"}, {""}}));
    EXPECT_EQ(active(), (GridCell{1, 0}));
    EXPECT_EQ(undoText(), QStringLiteral("Add Row"));
    session->undo();
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"z"}})) << "the first undo removes the row";
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
    session->undo();
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"last"}}));
}

TEST_F(EditorSessionTest, UnchangedCommitsAndClearingEmptyCellsRegisterNothing) {
    open("a,b\n1,2\n");
    key(K::enter); // a full edit holding the cell's own value
    ASSERT_TRUE(session->editing());
    EXPECT_FALSE(session->editing()->isEntering);
    EXPECT_EQ(session->editing()->text, "1");
    session->commitEditing(CommitMove::none);
    EXPECT_EQ(undo.count(), 0);
    EXPECT_EQ(document->revision(), 0);

    open("a,b\n,\n");
    select({0, 0}, {0, 1});
    key(K::deleteKey);
    EXPECT_EQ(undo.count(), 0);
    EXPECT_EQ(document->revision(), 0);
}

// Cell edits, their undo and redo write the document's row list where it is: a copy of
// the table still sharing it when an edit lands would make the edit copy the whole list.
TEST_F(EditorSessionTest, CellEditsUndoAndRedoKeepTheRowList) {
    open("a,b\n1,2\n3,4\n");
    const auto rowList = [this] {
        const CSVTable t = table();
        return t.rows().data();
    };
    const RowRef* list = rowList();
    type("x");
    key(K::enter);
    select(1, 1);
    session->clearContents();
    session->paste("p");
    session->undo();
    session->redo();
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"x", "2"}, {"3", "p"}}));
    EXPECT_EQ(rowList(), list);
}

TEST_F(EditorSessionTest, RenamingAColumnWritesTheHeaderRow) {
    open("id,name\n1,a\n");
    select(0, 1);
    session->beginRenamingColumn(0);
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->text, "id");
    session->updateDraft("key", false);
    session->commitEditing(CommitMove::down);
    EXPECT_EQ(cell(0, 0), "key");
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
    EXPECT_EQ(active(), (GridCell{0, 1})) << "renaming leaves the selection where it was";

    open("1,2\n3,4\n");
    session->beginRenamingColumn(0);
    EXPECT_FALSE(session->editing()) << "no header row, nothing to rename";
}

TEST_F(EditorSessionTest, PagingMovesByTheVisibleRows) {
    std::string s = "n\n";
    for (int i = 0; i < 100; ++i)
        s += std::to_string(i) + "\n";
    open(s);
    session->setVisibleRect({0, 0, 500, 22 * 12});
    EXPECT_EQ(session->pageRowCount(), 10);
    key(K::pageDown);
    EXPECT_EQ(active(), (GridCell{10, 0}));
    key(K::pageDown, {.shift = true});
    EXPECT_EQ(session->selection().anchor, (GridCell{10, 0}));
    EXPECT_EQ(active(), (GridCell{20, 0}));
    for (int i = 0; i < 20; ++i)
        key(K::pageDown);
    EXPECT_EQ(active(), (GridCell{99, 0}));
    ASSERT_TRUE(session->scrollRequest());
    const QUuid id = session->scrollRequest()->id;
    key(K::pageDown);
    EXPECT_NE(session->scrollRequest()->id, id) << "every request is new, even for the same cell";
}

TEST_F(EditorSessionTest, SelectAllAndPointerSelection) {
    open("a,b,c\n1,2,3\n4,5,6\n");
    const auto scroll = session->scrollRequest();
    session->handleKey(GridKey::typed("a", {.command = true}));
    EXPECT_EQ(session->selection(), (GridSelection{{0, 0}, {1, 2}}));
    EXPECT_EQ(session->scrollRequest(), scroll) << "select all requests no scroll";

    const auto& l = session->layout();
    const auto r = l.cellRect(1, 2);
    session->selectCellAtPoint(r.x + 1, r.y + 1, false);
    EXPECT_EQ(session->selection(), (GridSelection{{1, 2}, {1, 2}}));
    session->extendSelectionToPoint(-100, -100);
    EXPECT_EQ(session->selection(), (GridSelection{{1, 2}, {0, 0}}));
    session->selectWholeRows(1, 1, false);
    EXPECT_EQ(session->selection(), (GridSelection{{1, 0}, {1, 2}}));
    session->selectWholeColumns(0, 0, true);
    EXPECT_EQ(session->selection(), (GridSelection{{0, 0}, {1, 2}}));
    session->editCellAtPoint(r.x + 1, r.y + 1);
    ASSERT_TRUE(session->editing());
    EXPECT_EQ(session->editing()->text, "6");

    open("a\n");
    session->handleKey(GridKey::typed("a", {.command = true}));
    EXPECT_EQ(session->selection(), GridSelection{}) << "nothing to select in an empty grid";
}

TEST_F(EditorSessionTest, ChangeFormatIsOneStepAndSkipsEqualFormats) {
    open("a,b\n1,2\n");
    session->changeFormat(table().format());
    EXPECT_EQ(undo.count(), 0);
    EXPECT_EQ(document->revision(), 0);
    FileFormat f = table().format();
    f.dialect.delimiter = ';';
    session->changeFormat(f);
    EXPECT_EQ(undoText(), QStringLiteral("Change File Format"));
    EXPECT_EQ(CSVWriter::write(table(), table().format()), "a;b\n1;2\n");
    session->undo();
    EXPECT_EQ(table().format().dialect.delimiter, ',');
}

TEST_F(EditorSessionTest, ReinterpretAnEditedDocumentAndUndoIt) {
    open("a;b\n1;2\n");
    type("edited");
    session->commitEditing(CommitMove::none);
    ReadOptions o;
    o.dialect = CSVDialect::comma();
    std::optional<std::optional<CSVError>> outcome;
    session->reinterpret(o, [&](std::optional<CSVError> e) { outcome = e; });
    EXPECT_TRUE(session->isBusy());
    ASSERT_TRUE(zarvel::test::waitUntil([&] { return outcome.has_value(); }));
    EXPECT_FALSE(*outcome);
    EXPECT_FALSE(session->isBusy());
    EXPECT_EQ(rows(), (StringRows{{"a;b"}, {"1;2"}})) << "read again from the bytes as opened";
    EXPECT_EQ(undoText(), QStringLiteral("Reinterpret File"));
    session->undo();
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"edited", "2"}}));
}

TEST_F(EditorSessionTest, ReinterpretANeverSavedDocumentReadsItsOwnBytes) {
    openNew();
    ReadOptions o;
    o.hasHeader = false;
    bool done = false;
    session->reinterpret(o, [&](std::optional<CSVError> e) { done = !e; });
    ASSERT_TRUE(zarvel::test::waitUntil([&] { return done; }));
    EXPECT_EQ(table().firstDataRow(), 0);
    EXPECT_EQ(session->displayedRowCount(), 2);
    session->undo();
    EXPECT_EQ(session->displayedRowCount(), 1);

    // 0x81 (in «Á») is no character of code page 1252.
    select(0, 0);
    session->handleKey(GridKey::typed("\xC3\x81"));
    session->commitEditing(CommitMove::none);
    ReadOptions bad;
    bad.encoding = TextEncoding::windows1252;
    std::optional<CSVError> error;
    bool finished = false;
    session->reinterpret(bad, [&](std::optional<CSVError> e) { error = e, finished = true; });
    ASSERT_TRUE(zarvel::test::waitUntil([&] { return finished; }));
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, CSVError::undecodable(TextEncoding::windows1252));
}

// Faults mended: a draft never lands in another cell.
TEST_F(EditorSessionTest, UndoCommitsThePendingDraftBeforeMovingRows) {
    open("h\na\nb\n");
    select(1, 0);
    session->insertRow(true); // rows: a, "", b
    select(1, 0);
    type("draft");
    session->undo(); // commits "draft" into row 2 first, then undoes that commit
    EXPECT_FALSE(session->editing());
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"a"}, {""}, {"b"}}));
    session->redo();
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"a"}, {"draft"}, {"b"}})) << "the draft landed in its own row";
    session->undo();
    session->undo();
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"a"}, {"b"}}));
}

TEST_F(EditorSessionTest, SelectionStaysInsideTheGridAfterShapeChanges) {
    open("h,i\n1,2\n3,4\n5,6\n");
    select({0, 0}, {2, 1});
    session->deleteRows();
    EXPECT_EQ(session->displayedRowCount(), 0);
    EXPECT_EQ(session->selection(), GridSelection{}) << "clamped at once, not at some later refresh";
    session->undo();
    select({1, 1}, {1, 1});
    session->deleteColumns();
    EXPECT_LT(active().column, table().columnCount());
}

TEST_F(EditorSessionTest, AReadOrSortThatLandsAfterTheUserEditedIsDroppedAndTheEditStays) {
    const struct {
        const char* name;
        std::function<void(EditorSession&)> start;
    } tasks[] = {
        {"reinterpret",
         [](EditorSession& s) {
             ReadOptions o;
             o.dialect = CSVDialect::semicolon();
             s.reinterpret(o);
         }},
        {"sort", [](EditorSession& s) { s.sort(0, false); }},
    };
    for (const auto& task : tasks) {
        for (const bool committed : {true, false}) {
            SCOPED_TRACE(std::string(task.name) +
                         (committed ? ", edit committed" : ", cell still being typed"));
            open("n,m\n1,a\n2,b\n3,c\n");
            task.start(*session);
            // The result is queued for the main thread, so it lands after these keys.
            select(1, 1);
            type("edited");
            if (committed) session->commitEditing(CommitMove::none);
            ASSERT_TRUE(waitIdle());
            if (!committed) {
                ASSERT_TRUE(session->editing()) << "the draft is left open";
                EXPECT_EQ(session->editing()->text, "edited");
                session->commitEditing(CommitMove::none);
            }
            EXPECT_EQ(rows(), (StringRows{{"n", "m"}, {"1", "a"}, {"2", "edited"}, {"3", "c"}}));
            EXPECT_EQ(undo.count(), 1);
            EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
            EXPECT_EQ(document->report()->format.dialect.delimiter, Byte::comma)
                << "nothing of the dropped read";
        }
    }
}

TEST_F(EditorSessionTest, AResultLandingAfterTheSessionIsGoneIsDropped) {
    std::string s = "n\n";
    for (int i = 0; i < 200000; ++i)
        s += std::to_string(200000 - i) + "\n";
    open(s);
    session->sort(0, true);
    session->reinterpret(
        {}, [](std::optional<CSVError>) { ADD_FAILURE() << "completion ran on a destroyed session"; });
    session.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(document->revision(), 0);
}
