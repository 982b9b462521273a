#include "core/TableEdit.h"

#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

using namespace zarvel;

namespace {

FileFormat noHeader() {
    FileFormat f;
    f.hasHeader = false;
    return f;
}

CSVTable source(std::string_view text, bool header = false) {
    return test::indexedTable(text, CSVDialect::comma(), header);
}

std::vector<std::string> column(const CSVTable& t, int64_t c) {
    std::vector<std::string> out;
    for (int64_t r = 0; r < t.rowCount(); ++r)
        out.push_back(t.value(r, c));
    return out;
}

using Strings = std::vector<std::string>;

} // namespace

// --- Constructors ---------------------------------------------------------------------

TEST(TableEditConstructors, PermutationMoving) {
    EXPECT_EQ(Permutation::moving({0}, 3, 4).order, (std::vector<int64_t>{1, 2, 0, 3}));
    EXPECT_EQ(Permutation::moving({2, 3}, 0, 4).order, (std::vector<int64_t>{2, 3, 0, 1}));
    // A destination past the end clamps to the end; one inside the block moves nothing.
    EXPECT_EQ(Permutation::moving({1}, 9, 4).order, (std::vector<int64_t>{0, 2, 3, 1}));
    EXPECT_TRUE(Permutation::moving({1, 2}, 2, 4).isIdentity());
}

TEST(TableEditConstructors, PermutationInverse) {
    Permutation p{{2, 0, 1}};
    EXPECT_EQ(p.inverse().order, (std::vector<int64_t>{1, 2, 0}));
    EXPECT_TRUE(Permutation{{}}.inverse().order.empty());
    EXPECT_FALSE(p.isIdentity());
}

// --- Cell edits -----------------------------------------------------------------------

TEST(TableEditCells, InverseGivesTheRowBackToTheSource) {
    CSVTable t = source("a,b,c\nd,e,f\n");
    TableEdit undo = t.apply(TableEdit::setCells({{1, 0, "x"}, {1, 2, "y"}}));
    EXPECT_EQ(t.values(1), (Strings{"x", "e", "y"}));
    EXPECT_TRUE(t.rowRef(1).isEdited());

    TableEdit redo = t.apply(undo);
    EXPECT_EQ(t.values(1), (Strings{"d", "e", "f"}));
    EXPECT_EQ(t.rowRef(1), RowRef::original(1));
    EXPECT_EQ(CSVWriter::write(t, t.format()), "a,b,c\nd,e,f\n");

    t.apply(redo);
    EXPECT_EQ(t.values(1), (Strings{"x", "e", "y"}));
}

TEST(TableEditCells, SameCellTwiceUndoesToTheOldestText) {
    CSVTable t = source("a,b\n");
    TableEdit undo = t.apply(TableEdit::setCells({{0, 1, "x"}, {0, 1, "y"}}));
    EXPECT_EQ(t.value(0, 1), "y");
    const auto& revert = std::get<TableEdit::RevertCells>(undo.value).revert;
    EXPECT_EQ(revert.rowRefs.size(), 1u); // the row is recorded once
    TableEdit redo = t.apply(undo);
    EXPECT_EQ(t.value(0, 1), "b");
    t.apply(redo);
    EXPECT_EQ(t.value(0, 1), "y");
}

TEST(TableEditCells, EditedRowStaysEditedAfterUndo) {
    CSVTable t = source("a,b\n");
    t.apply(TableEdit::setCells({{0, 0, "first"}}));
    TableEdit undo = t.apply(TableEdit::setCells({{0, 1, "second"}}));
    EXPECT_TRUE(std::get<TableEdit::RevertCells>(undo.value).revert.rowRefs.empty());
    t.apply(undo);
    EXPECT_EQ(t.values(0), (Strings{"first", "b"}));
    EXPECT_TRUE(t.rowRef(0).isEdited());
}

TEST(TableEditCells, ShortRowIsCopiedOutWithEmptyCells) {
    CSVTable t = source("a,b,c\nd\n");
    t.apply(TableEdit::setCells({{1, 2, "z"}}));
    EXPECT_EQ(t.values(1), (Strings{"d", "", "z"}));
}

TEST(TableEditCells, RedoAfterRevertCopiesTheRowOutAgain) {
    CSVTable t = source("a,b\n");
    TableEdit undo = t.apply(TableEdit::setCells({{0, 0, "x"}}));
    const size_t entries = t.editedRowCount();
    TableEdit redo = t.apply(undo);
    EXPECT_EQ(t.editedRowCount(), entries); // nothing is deleted
    t.apply(redo);
    EXPECT_EQ(t.editedRowCount(), entries + 1);
    EXPECT_EQ(t.value(0, 0), "x");
}

// --- Rows -----------------------------------------------------------------------------

TEST(TableEditRows, InsertAtScatteredFinalPositions) {
    CSVTable t({{"A"}, {"B"}}, noHeader());
    IndexSet positions{0, 2};
    TableEdit undo = t.apply(TableEdit::insertRows(RowBlock{positions, RowBlock::Values{{{"n1"}, {"n2"}}}}));
    EXPECT_EQ(column(t, 0), (Strings{"n1", "A", "n2", "B"}));
    EXPECT_EQ(undo, TableEdit::removeRows(positions));

    const RowRef n1 = t.rowRef(0), n2 = t.rowRef(2);
    TableEdit redo = t.apply(undo);
    EXPECT_EQ(column(t, 0), (Strings{"A", "B"}));
    EXPECT_EQ(redo, TableEdit::insertRows(RowBlock{positions, RowBlock::Refs{{n1, n2}}}));
    t.apply(redo);
    EXPECT_EQ(column(t, 0), (Strings{"n1", "A", "n2", "B"}));
}

TEST(TableEditRows, InsertedRowsAreFittedToTheColumnCount) {
    CSVTable t = source("a,b\n");
    t.apply(TableEdit::insertRows(RowBlock::fromRows({{"1", "2", "3"}, {"4"}}, 1)));
    EXPECT_EQ(t.values(1), (Strings{"1", "2"}));
    EXPECT_EQ(t.values(2), (Strings{"4", ""}));
    t.apply(TableEdit::insertRows(RowBlock::empty(1, 0)));
    EXPECT_EQ(t.values(0), (Strings{"", ""}));
}

TEST(TableEditRows, RemoveKeepsEditedEntriesAndReinsertsTheSameRows) {
    CSVTable t = source("r0\nr1\nr2\nr3\nr4\n");
    t.apply(TableEdit::setCells({{3, 0, "edited"}}));
    const size_t entries = t.editedRowCount();
    TableEdit undo = t.apply(TableEdit::removeRows(IndexSet{1, 3, 4}));
    EXPECT_EQ(column(t, 0), (Strings{"r0", "r2"}));
    EXPECT_EQ(t.editedRowCount(), entries);
    t.apply(undo);
    EXPECT_EQ(column(t, 0), (Strings{"r0", "r1", "r2", "edited", "r4"}));
    EXPECT_EQ(t.rowRef(1), RowRef::original(1));
}

TEST(TableEditRows, ReorderAndItsInverse) {
    CSVTable t = source("a\nb\nc\n");
    TableEdit undo = t.apply(TableEdit::reorderRows(Permutation{{2, 0, 1}}));
    EXPECT_EQ(column(t, 0), (Strings{"c", "a", "b"}));
    EXPECT_EQ(undo, TableEdit::reorderRows(Permutation{{1, 2, 0}}));
    t.apply(undo);
    EXPECT_EQ(column(t, 0), (Strings{"a", "b", "c"}));
}

// --- Columns --------------------------------------------------------------------------

TEST(TableEditColumns, RemoveRestoresTextsOfCopiedOutRowsAndTheSourceMapping) {
    CSVTable t = source("a,b,c,d\ne,f,g,h\n");
    t.apply(TableEdit::setCells({{1, 1, "F"}, {1, 3, "H"}}));
    TableEdit undo = t.apply(TableEdit::removeColumns(IndexSet{1, 3}));
    EXPECT_EQ(t.values(0), (Strings{"a", "c"}));
    EXPECT_EQ(t.values(1), (Strings{"e", "g"}));
    EXPECT_FALSE(t.columnsMatchSource());

    t.apply(undo);
    EXPECT_EQ(t.values(0), (Strings{"a", "b", "c", "d"}));
    EXPECT_EQ(t.values(1), (Strings{"e", "F", "g", "H"}));
    EXPECT_TRUE(t.columnsMatchSource());
}

TEST(TableEditColumns, InsertedColumnIsEmptyAndUndoRestoresTheSourceLayout) {
    CSVTable t = source("a,b\nc,d\n");
    t.apply(TableEdit::setCells({{0, 0, "A"}}));
    TableEdit undo = t.apply(TableEdit::insertColumns(ColumnBlock::empty(2, 1)));
    EXPECT_EQ(t.values(0), (Strings{"A", "", "", "b"}));
    EXPECT_EQ(t.values(1), (Strings{"c", "", "", "d"}));
    EXPECT_EQ(undo, TableEdit::removeColumns(IndexSet{1, 2}));
    EXPECT_FALSE(t.columnsMatchSource());
    t.apply(undo);
    EXPECT_TRUE(t.columnsMatchSource());
    EXPECT_EQ(t.values(0), (Strings{"A", "b"}));
}

TEST(TableEditColumns, PositionsAppliedOneAfterAnotherAreRemovedWhereTheyEndUp) {
    // Inserting at 2 and then at 0 leaves the first new column at 3, not at 2.
    CSVTable t = source("a,b,c\n");
    ColumnBlock block{{2, 0}, {-1, 1}, {}};
    TableEdit undo = t.apply(TableEdit::insertColumns(block));
    EXPECT_EQ(t.values(0), (Strings{"b", "a", "b", "", "c"}));
    EXPECT_EQ(undo, TableEdit::removeColumns(IndexSet{0, 3}));
    t.apply(undo);
    EXPECT_EQ(t.values(0), (Strings{"a", "b", "c"}));
    EXPECT_TRUE(t.columnsMatchSource());
}

TEST(TableEditColumns, ReorderMovesCopiedOutTextsToo) {
    CSVTable t = source("a,b,c\nd,e,f\n");
    t.apply(TableEdit::setCells({{1, 0, "D"}}));
    TableEdit undo = t.apply(TableEdit::reorderColumns(Permutation::moving({0}, 3, 3)));
    EXPECT_EQ(t.values(0), (Strings{"b", "c", "a"}));
    EXPECT_EQ(t.values(1), (Strings{"e", "f", "D"}));
    t.apply(undo);
    EXPECT_EQ(t.values(1), (Strings{"D", "e", "f"}));
    EXPECT_TRUE(t.columnsMatchSource());
}

TEST(TableEditColumns, RowCopiedOutAfterAColumnMoveKeepsTheNewLayout) {
    CSVTable t = source("a,b,c\n");
    TableEdit undoMove = t.apply(TableEdit::reorderColumns(Permutation{{2, 0, 1}}));
    TableEdit undoCell = t.apply(TableEdit::setCells({{0, 1, "A"}}));
    EXPECT_EQ(t.values(0), (Strings{"c", "A", "b"}));
    t.apply(undoCell);
    t.apply(undoMove);
    EXPECT_EQ(t.values(0), (Strings{"a", "b", "c"}));
    EXPECT_EQ(CSVWriter::write(t, t.format()), "a,b,c\n");
}

// --- Format, whole table, batch, revision ---------------------------------------------

TEST(TableEditFormat, HeaderSwitchMovesNoRow) {
    CSVTable t = source("h\nv\n");
    FileFormat withHeader = t.format();
    withHeader.hasHeader = true;
    TableEdit undo = t.apply(TableEdit::setFormat(withHeader));
    EXPECT_EQ(t.firstDataRow(), 1);
    EXPECT_EQ(t.columnTitle(0), "h");
    EXPECT_EQ(column(t, 0), (Strings{"h", "v"}));
    t.apply(undo);
    EXPECT_EQ(t.firstDataRow(), 0);
}

TEST(TableEditFormat, ChangingTheQuoteKeepsHowCellsRead) {
    CSVTable t = source("\"a,b\",c\n");
    FileFormat f = t.format();
    f.dialect.quote = Byte::singleQuote;
    t.apply(TableEdit::setFormat(f));
    EXPECT_EQ(t.value(0, 0), "a,b");
    EXPECT_EQ(CSVWriter::write(t, t.format()), "'a,b',c\n");
}

TEST(TableEditReplace, RevisionContinuesAndTheOldTableKeepsItsOwn) {
    CSVTable t = source("a\n");
    t.apply(TableEdit::setCells({{0, 0, "x"}}));
    t.apply(TableEdit::setCells({{0, 0, "y"}}));
    ASSERT_EQ(t.revision(), 2);
    TableEdit undo = t.apply(TableEdit::replaceTable(CSVTable({{"new", "table"}}, noHeader())));
    EXPECT_EQ(t.revision(), 3);
    EXPECT_EQ(t.values(0), (Strings{"new", "table"}));
    const CSVTable& old = std::get<TableEdit::ReplaceTable>(undo.value).table;
    EXPECT_EQ(old.revision(), 2);
    t.apply(undo);
    EXPECT_EQ(t.revision(), 4); // continues from the table it replaces, never back
    EXPECT_EQ(t.value(0, 0), "y");
}

TEST(TableEditBatch, EmptyBatchRaisesTheRevisionOnly) {
    CSVTable t = source("a\n");
    TableEdit undo = t.apply(TableEdit::batch({}));
    EXPECT_EQ(undo, TableEdit::batch({}));
    EXPECT_EQ(t.revision(), 1);
    EXPECT_EQ(t.value(0, 0), "a");
}

TEST(TableEditBatch, MembersSeeEachOthersResultsAndUndoLastFirst) {
    CSVTable t = source("a,b\nc,d\n");
    TableEdit undo = t.apply(TableEdit::batch({
        TableEdit::insertRows(RowBlock::fromRows({{"n", "m"}}, 0)),
        TableEdit::setCells({{1, 0, "A"}}), // the row that was row 0
        TableEdit::removeColumns({1}),
    }));
    EXPECT_EQ(t.revision(), 4); // three members and the batch
    EXPECT_EQ(column(t, 0), (Strings{"n", "A", "c"}));
    ASSERT_EQ(std::get<TableEdit::Batch>(undo.value).edits.size(), 3u);
    EXPECT_EQ(std::get<TableEdit::Batch>(undo.value).edits.front().value.index(), 4u); // insertColumns first
    t.apply(undo);
    EXPECT_EQ(t.allRows(), (StringRows{{"a", "b"}, {"c", "d"}}));
    EXPECT_EQ(CSVWriter::write(t, t.format()), "a,b\nc,d\n");
}

// --- Values ---------------------------------------------------------------------------

TEST(TableEditValues, CopiesTakenBeforeAnEditSeeNoneOfIt) {
    CSVTable t = source("a,b\nc,d\n");
    t.apply(TableEdit::setCells({{0, 0, "x"}}));
    const CSVTable before = t;
    t.apply(TableEdit::setCells({{0, 1, "y"}, {1, 0, "z"}}));
    t.apply(TableEdit::insertColumns(ColumnBlock::empty(1, 0)));
    t.apply(TableEdit::reorderRows(Permutation{{1, 0}}));
    t.apply(TableEdit::removeRows({0}));
    EXPECT_EQ(before.allRows(), (StringRows{{"x", "b"}, {"c", "d"}}));
    EXPECT_EQ(before.revision(), 1);
    EXPECT_EQ(t.allRows(), (StringRows{{"", "x", "y"}}));
}
