#include "core/TableEdit.h"

#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

using namespace zarvel;

namespace {

using Strings = std::vector<std::string>;

CSVTable source(std::string_view text) {
    return test::indexedTable(text, CSVDialect::comma(), false);
}

std::string written(const CSVTable& t) {
    return CSVWriter::write(t, t.format());
}

std::vector<RowRef> rowRefs(const CSVTable& t) {
    std::vector<RowRef> refs;
    for (int64_t r = 0; r < t.rowCount(); ++r)
        refs.push_back(t.rowRef(r));
    return refs;
}

// Applies `edit` and checks the cells it leaves. Its inverse must restore the cells, the
// written text, the format, the column mapping and which rows refer to the source, and
// the inverse of that must redo the edit; edited-row entries are never removed, and a copy
// taken before sees none of it. Returns the inverse `edit` gave; the table is left edited.
TableEdit applyChecked(CSVTable& t, const TableEdit& edit, const StringRows& after) {
    const StringRows cells = t.allRows();
    const std::vector<RowRef> refs = rowRefs(t);
    const std::string text = written(t);
    const FileFormat format = t.format();
    const bool matching = t.columnsMatchSource();
    const size_t entries = t.editedRowCount();
    const CSVTable copy = t;
    const TableEdit undo = t.apply(edit);
    EXPECT_EQ(t.allRows(), after);
    const TableEdit redo = t.apply(undo);
    EXPECT_EQ(t.allRows(), cells);
    EXPECT_EQ(rowRefs(t), refs);
    EXPECT_EQ(written(t), text);
    EXPECT_EQ(t.format(), format);
    EXPECT_EQ(t.columnsMatchSource(), matching);
    EXPECT_GE(t.editedRowCount(), entries);
    t.apply(redo);
    EXPECT_EQ(t.allRows(), after);
    EXPECT_EQ(copy.allRows(), cells);
    EXPECT_EQ(written(copy), text);
    return undo;
}

} // namespace

// --- Constructors ---------------------------------------------------------------------

TEST(TableEditConstructors, PermutationMovingAndInverse) {
    const struct {
        IndexSet block;
        int64_t destination;
        std::vector<int64_t> order;
    } cases[] = {
        {{0}, 3, {1, 2, 0, 3}},
        {{2, 3}, 0, {2, 3, 0, 1}},
        {{1}, 9, {0, 2, 3, 1}},    // a destination past the end clamps to the end
        {{1, 2}, 2, {0, 1, 2, 3}}, // one inside the block moves nothing
    };
    for (const auto& c : cases)
        EXPECT_EQ(Permutation::moving(c.block, c.destination, 4).order(), c.order) << c.destination;
    EXPECT_EQ((Permutation{{2, 0, 1}}.inverse().order()), (std::vector<int64_t>{1, 2, 0}));
    EXPECT_TRUE(Permutation{{}}.inverse().order().empty());
}

// --- Cell edits -----------------------------------------------------------------------

TEST(TableEditCells, InverseGivesTheRowBackToTheSource) {
    CSVTable t = source("a,b,c\nd,e,f\n");
    applyChecked(t, TableEdit::setCells({{1, 0, "x"}, {1, 2, "y"}}), {{"a", "b", "c"}, {"x", "e", "y"}});
    EXPECT_TRUE(t.rowRef(1).isEdited());
}

// Undo and redo only point rows at other entries: however often they alternate, no row is
// copied out again.
TEST(TableEditCells, SameCellTwiceUndoesToTheOldestTextAndRedoReusesTheCopy) {
    CSVTable t = source("a,b\n");
    const TableEdit undo = applyChecked(t, TableEdit::setCells({{0, 1, "x"}, {0, 1, "y"}}), {{"a", "y"}});
    EXPECT_EQ(std::get<TableEdit::SetRowRefs>(undo.value).changes,
              (std::vector<RowRefChange>{{0, RowRef::original(0)}})); // the row, once
    EXPECT_EQ(t.editedRowCount(), 1u);
    const TableEdit redo = t.apply(undo);
    t.apply(t.apply(t.apply(redo)));
    EXPECT_EQ(t.allRows(), (StringRows{{"a", "y"}}));
    EXPECT_EQ(t.editedRowCount(), 1u);
}

TEST(TableEditCells, RowCopiedOutEarlierIsCopiedAgainAndGetsItsOldEntryBack) {
    CSVTable t = source("a,b,c\nd\n");
    t.apply(TableEdit::setCells({{1, 2, "z"}})); // the short row is copied out with empty cells
    const RowRef earlier = t.rowRef(1);
    const TableEdit undo =
        applyChecked(t, TableEdit::setCells({{1, 1, "second"}, {0, 0, "A"}, {1, 1, "third"}}),
                     {{"A", "b", "c"}, {"d", "third", "z"}});
    EXPECT_EQ(t.editedRow(earlier.number()), (Strings{"d", "", "z"})) << "the old entry is never written";
    EXPECT_EQ(std::get<TableEdit::SetRowRefs>(undo.value).changes,
              (std::vector<RowRefChange>{{1, earlier}, {0, RowRef::original(0)}}));
}

// --- Rows -----------------------------------------------------------------------------

TEST(TableEditRows, InsertAtScatteredFinalPositions) {
    CSVTable t = source("A\nB\n");
    const IndexSet positions{0, 2};
    EXPECT_EQ(applyChecked(t, TableEdit::insertRows(RowBlock{positions, RowBlock::Values{{{"n1"}, {"n2"}}}}),
                           {{"n1"}, {"A"}, {"n2"}, {"B"}}),
              TableEdit::removeRows(positions));
    // Removing them again gives back the very rows, not copies of their texts.
    const RowRef n1 = t.rowRef(0), n2 = t.rowRef(2);
    EXPECT_EQ(t.apply(TableEdit::removeRows(positions)),
              TableEdit::insertRows(RowBlock{positions, RowBlock::Refs{{n1, n2}}}));
}

TEST(TableEditRows, InsertedRowsAreFittedToTheColumnCount) {
    CSVTable t = source("a,b\n");
    applyChecked(t, TableEdit::insertRows(RowBlock::fromRows({{"1", "2", "3"}, {"4"}}, 1)),
                 {{"a", "b"}, {"1", "2"}, {"4", ""}});
    applyChecked(t, TableEdit::insertRows(RowBlock::empty(1, 0)),
                 {{"", ""}, {"a", "b"}, {"1", "2"}, {"4", ""}});
}

TEST(TableEditRows, RemoveKeepsEditedEntriesAndReinsertsTheSameRows) {
    CSVTable t = source("r0\nr1\nr2\nr3\nr4\n");
    t.apply(TableEdit::setCells({{3, 0, "edited"}}));
    applyChecked(t, TableEdit::removeRows(IndexSet{1, 3, 4}), {{"r0"}, {"r2"}});
    EXPECT_EQ(t.editedRowCount(), 1u);
}

TEST(TableEditRows, ReorderAndItsInverse) {
    CSVTable t = source("a\nb\nc\n");
    EXPECT_EQ(applyChecked(t, TableEdit::reorderRows(Permutation{{2, 0, 1}}), {{"c"}, {"a"}, {"b"}}),
              TableEdit::reorderRows(Permutation{{1, 2, 0}}));
}

// --- Columns --------------------------------------------------------------------------

TEST(TableEditColumns, RemoveRestoresTextsOfCopiedOutRowsAndTheSourceMapping) {
    CSVTable t = source("a,b,c,d\ne,f,g,h\n");
    t.apply(TableEdit::setCells({{1, 1, "F"}, {1, 3, "H"}}));
    applyChecked(t, TableEdit::removeColumns(IndexSet{1, 3}), {{"a", "c"}, {"e", "g"}});
    EXPECT_FALSE(t.columnsMatchSource());
}

TEST(TableEditColumns, InsertedColumnsAreEmpty) {
    CSVTable t = source("a,b\nc,d\n");
    t.apply(TableEdit::setCells({{0, 0, "A"}}));
    EXPECT_EQ(applyChecked(t, TableEdit::insertColumns(ColumnBlock::empty(2, 1)),
                           {{"A", "", "", "b"}, {"c", "", "", "d"}}),
              TableEdit::removeColumns(IndexSet{1, 2}));
    EXPECT_FALSE(t.columnsMatchSource());
}

TEST(TableEditColumns, PositionsAppliedOneAfterAnotherAreRemovedWhereTheyEndUp) {
    // Inserting at 2, then at 0, then at 3 leaves the first new column at 4: each later
    // insertion at or before its place pushes it right.
    CSVTable t = source("a,b,c\n");
    EXPECT_EQ(applyChecked(t, TableEdit::insertColumns(ColumnBlock{{2, 0, 3}, {-1, 1, 0}, {}}),
                           {{"b", "a", "b", "a", "", "c"}}),
              TableEdit::removeColumns(IndexSet{0, 3, 4}));
}

TEST(TableEditColumns, ReorderMovesCopiedOutTextsToo) {
    CSVTable t = source("a,b,c\nd,e,f\n");
    t.apply(TableEdit::setCells({{1, 0, "D"}}));
    applyChecked(t, TableEdit::reorderColumns(Permutation::moving({0}, 3, 3)),
                 {{"b", "c", "a"}, {"e", "f", "D"}});
}

TEST(TableEditColumns, RowCopiedOutAfterAColumnMoveKeepsTheNewLayout) {
    CSVTable t = source("a,b,c\n");
    const TableEdit undoMove = t.apply(TableEdit::reorderColumns(Permutation{{2, 0, 1}}));
    applyChecked(t, TableEdit::setCells({{0, 1, "A"}}), {{"c", "A", "b"}});
    t.apply(undoMove);
    EXPECT_EQ(written(t), "A,b,c\n");
}

// --- Format, whole table, batch -------------------------------------------------------

TEST(TableEditFormat, HeaderSwitchMovesNoRowAndAQuoteChangeKeepsHowCellsRead) {
    CSVTable t = source("h\nv\n");
    FileFormat f = t.format();
    f.hasHeader = true;
    applyChecked(t, TableEdit::setFormat(f), {{"h"}, {"v"}});
    EXPECT_EQ(t.firstDataRow(), 1);
    EXPECT_EQ(t.columnTitle(0), "h");

    CSVTable q = source("\"a,b\",c\n");
    f = q.format();
    f.dialect.quote = Byte::singleQuote;
    applyChecked(q, TableEdit::setFormat(f), {{"a,b", "c"}});
    EXPECT_EQ(written(q), "'a,b',c\n");
}

TEST(TableEditReplace, RevisionContinuesAndTheOldTableKeepsItsOwn) {
    CSVTable t = source("a\n");
    t.apply(TableEdit::setCells({{0, 0, "x"}}));
    t.apply(TableEdit::setCells({{0, 0, "y"}}));
    ASSERT_EQ(t.revision(), 2);
    TableEdit undo = t.apply(TableEdit::replaceTable(source("new,table\n")));
    EXPECT_EQ(t.revision(), 3);
    EXPECT_EQ(t.values(0), (Strings{"new", "table"}));
    EXPECT_EQ(std::get<TableEdit::ReplaceTable>(undo.value).table.revision(), 2);
    t.apply(undo);
    EXPECT_EQ(t.revision(), 4); // continues from the table it replaces, never back
    EXPECT_EQ(t.value(0, 0), "y");
}

TEST(TableEditBatch, MembersSeeEachOthersResultsAndUndoLastFirst) {
    CSVTable t = source("a,b\nc,d\n");
    EXPECT_EQ(t.apply(TableEdit::batch({})), TableEdit::batch({}));
    EXPECT_EQ(t.revision(), 1); // an empty batch raises the revision only
    TableEdit undo = t.apply(TableEdit::batch({
        TableEdit::insertRows(RowBlock::fromRows({{"n", "m"}}, 0)),
        TableEdit::setCells({{1, 0, "A"}}), // the row that was row 0
        TableEdit::removeColumns({1}),
    }));
    EXPECT_EQ(t.revision(), 5); // three members and the batch
    EXPECT_EQ(t.allRows(), (StringRows{{"n"}, {"A"}, {"c"}}));
    const auto& members = std::get<TableEdit::Batch>(undo.value).edits;
    ASSERT_EQ(members.size(), 3u);
    EXPECT_TRUE(std::holds_alternative<TableEdit::InsertColumns>(members.front().value));
    t.apply(undo);
    EXPECT_EQ(t.allRows(), (StringRows{{"a", "b"}, {"c", "d"}}));
    EXPECT_EQ(written(t), "a,b\nc,d\n");
}
