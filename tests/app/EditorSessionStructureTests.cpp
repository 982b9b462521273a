#include "SessionTestSupport.h"

#include "core/CSVReader.h"
#include "core/CSVWriter.h"

using namespace zarvel;
using K = GridKey::Key;

namespace {
class StructureTest : public zarvel::test::SessionTest {};
} // namespace

TEST_F(StructureTest, InsertRowsAboveWholeRowsInOneStep) {
    open("h,i\n1,a\n2,b\n3,c\n4,d\n5,e\n6,f\n");
    const StringRows before = rows();
    select({2, 0}, {4, 1});
    key(K::up, {.option = true});
    EXPECT_EQ(table().rowCount(), 10);
    EXPECT_EQ(undoText(), QStringLiteral("Insert Rows"));
    EXPECT_EQ(rows()[3], (StringRow{"", ""}));
    EXPECT_EQ(rows()[6], (StringRow{"3", "c"}));
    EXPECT_EQ(session->selection(), (GridSelection{{2, 1}, {2, 1}})) << "on the active column";
    const StringRows after = rows();
    expectUndoRedoRestores(before, after);

    select(1, 1);
    session->insertRow(false);
    EXPECT_EQ(undoText(), QStringLiteral("Insert Row"));
    EXPECT_EQ(rows()[3], (StringRow{"", ""}));
}

TEST_F(StructureTest, InsertRowAppendsWhenNothingIsDisplayed) {
    open("h,i\n");
    session->insertRow(false);
    EXPECT_EQ(rows(), (StringRows{{"h", "i"}, {"", ""}}));
    EXPECT_EQ(active(), (GridCell{0, 0}));
}

TEST_F(StructureTest, InsertColumnGetsAFreshName) {
    open("Column 1,Column 2\nx,y\n");
    select(0, 1);
    session->insertColumn(false);
    EXPECT_EQ(rows()[0], (StringRow{"Column 1", "Column 2", "Column 3"}));
    EXPECT_EQ(active(), (GridCell{0, 2}));
    open("Column 1,Column 3\nx,y\n");
    session->insertColumn(true);
    EXPECT_EQ(rows()[0], (StringRow{"Column 4", "Column 1", "Column 3"}));
    EXPECT_EQ(undoText(), QStringLiteral("Insert Column"));
}

TEST_F(StructureTest, InsertColumnIntoAnEmptyTableAddsARowInTheSameStep) {
    open("");
    EXPECT_EQ(table().columnCount(), 0);
    session->insertColumn(false);
    EXPECT_EQ(table().columnCount(), 1);
    EXPECT_EQ(table().rowCount(), 1);
    session->undo();
    EXPECT_EQ(table().columnCount(), 0);
    EXPECT_EQ(table().rowCount(), 0);
}

TEST_F(StructureTest, DeleteColumnsKeepsAtLeastOne) {
    open("a,b,c\n1,2,3\n");
    select({0, 0}, {0, 2});
    session->deleteColumns();
    EXPECT_EQ(table().columnCount(), 3);
    EXPECT_EQ(undo.count(), 0);
    select({0, 1}, {0, 2});
    session->handleKey(GridKey::typed("-", {.command = true}));
    EXPECT_EQ(rows(), (StringRows{{"a"}, {"1"}}));
    EXPECT_EQ(undoText(), QStringLiteral("Delete Columns"));
    EXPECT_EQ(active(), (GridCell{0, 0}));
    session->undo();
    EXPECT_EQ(rows(), (StringRows{{"a", "b", "c"}, {"1", "2", "3"}}));
    EXPECT_TRUE(table().columnsMatchSource());
}

TEST_F(StructureTest, DeleteRowsNamesTheStepByCount) {
    open("h\n1\n2\n3\n");
    select(1, 0);
    key(K::deleteKey, {.command = true});
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"1"}, {"3"}}));
    EXPECT_EQ(undoText(), QStringLiteral("Delete Row"));
    select({0, 0}, {1, 0});
    session->deleteRows();
    EXPECT_EQ(undoText(), QStringLiteral("Delete Rows"));
    EXPECT_EQ(session->displayedRowCount(), 0);
    expectUndoRedoRestores({{"h"}, {"1"}, {"2"}, {"3"}}, {{"h"}});
}

TEST_F(StructureTest, ClearIsOneStepOverNonEmptyCells) {
    open("a,b\n1,\n,4\n");
    select({0, 0}, {1, 1});
    key(K::deleteKey);
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"", ""}, {"", ""}}));
    EXPECT_EQ(undoText(), QStringLiteral("Clear"));
    session->undo();
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"1", ""}, {"", "4"}}));
}

TEST_F(StructureTest, MoveColumnsKeepsTheBlockSelected) {
    open("c0,c1,c2,c3,c4\n0,1,2,3,4\n");
    select({0, 0}, {0, 0});
    session->moveColumn(false);
    EXPECT_EQ(undo.count(), 0) << "column 0 cannot move left";
    select({0, 2}, {0, 3});
    session->moveColumn(true);
    EXPECT_EQ(rows()[1], (StringRow{"0", "1", "4", "2", "3"}));
    EXPECT_EQ(session->selection(), (GridSelection{{0, 3}, {0, 4}}));
    EXPECT_EQ(undoText(), QStringLiteral("Move Column"));
    session->moveColumn(true);
    EXPECT_EQ(undo.count(), 1) << "the last column cannot move right";

    open("");
    session->moveColumn(true);
    session->moveColumn(false);
    session->sort(0, true);
    EXPECT_EQ(undo.count(), 0) << "no columns: nothing moves or sorts";
}

TEST_F(StructureTest, SortRunsInTheBackgroundAsOneStep) {
    open("n\n10\n9\nx\n2.5\n7\n8\n11\n12\n13\n14\n");
    ASSERT_EQ(session->columnKinds()[0], ColumnKind::number);
    session->sort(0, true);
    EXPECT_TRUE(session->isBusy());
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(
        rows(),
        (StringRows{{"n"}, {"2.5"}, {"7"}, {"8"}, {"9"}, {"10"}, {"11"}, {"12"}, {"13"}, {"14"}, {"x"}}));
    EXPECT_EQ(undoText(), QStringLiteral("Sort"));
    const int count = undo.count();
    session->sort(0, true);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(undo.count(), count) << "an order that changes nothing is no step";
}

TEST_F(StructureTest, ToggleHeaderNamesTheStepAfterTheMenuTitle) {
    open("only\n");
    EXPECT_TRUE(table().format().hasHeader);
    EXPECT_EQ(session->displayedRowCount(), 0);
    session->toggleHeader();
    EXPECT_EQ(undoText(), QStringLiteral("Treat First Row as Data"));
    EXPECT_EQ(session->displayedRowCount(), 1);
    session->toggleHeader();
    EXPECT_EQ(undoText(), QStringLiteral("Use First Row as Header"));
    EXPECT_EQ(session->displayedRowCount(), 0);
}

TEST_F(StructureTest, InsertRowWithAFilterLandsNextToTheRowTheUserSaw) {
    open("h\na\nmatch\nb\nmatch too\n");
    session->setQuery("match");
    session->search();
    ASSERT_TRUE(zarvel::test::waitUntil([&] { return !session->find().matches.empty(); }));
    session->setShowsOnlyMatches(true);
    select(1, 0); // "match too", table row 4
    session->insertRow(true);
    EXPECT_FALSE(session->rowFilter());
    EXPECT_FALSE(session->find().showsOnlyMatches);
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"a"}, {"match"}, {"b"}, {""}, {"match too"}}));
    EXPECT_EQ(active(), (GridCell{3, 0}));
}

TEST_F(StructureTest, GoToRowSelectsTheRowAndClampsToTheFirstOrLast) {
    open("h\n1\n2\n3\n4\n5\n");
    using O = EditorSession::RowJump::Outcome;
    struct Case {
        int64_t asked;
        O outcome;
        int64_t number;
    };
    for (const Case& c :
         {Case{3, O::exact, 3}, Case{0, O::first, 1}, Case{-7, O::first, 1}, Case{99, O::last, 5}}) {
        session->beginEditing("x");
        const auto jump = session->goToRow(c.asked);
        EXPECT_EQ(jump.outcome, c.outcome) << c.asked;
        EXPECT_EQ(jump.number, c.number) << c.asked;
        EXPECT_EQ(session->selection().rows(), (IndexRange{c.number - 1, c.number})) << c.asked;
        EXPECT_EQ(session->scrollRequest()->cell, (GridCell{c.number - 1, 0}));
    }
    EXPECT_EQ(cell(1, 0), "x") << "a pending draft lands first";
    // Filtered, the numbers are the rows' own; a hidden row goes to the next shown one.
    open("h\na\nb\nka\nd\nkb\n");
    session->setQuery("k");
    session->search();
    ASSERT_TRUE(zarvel::test::waitUntil([this] { return session->find().matches.size() == 2; }));
    session->setShowsOnlyMatches(true);
    EXPECT_EQ(session->goToRow(5).outcome, O::exact);
    EXPECT_EQ(session->selection().active, (GridCell{1, 0}));
    const auto nearest = session->goToRow(4);
    EXPECT_EQ(nearest.outcome, O::nearest);
    EXPECT_EQ(nearest.number, 5);
    EXPECT_EQ(session->goToRow(1).outcome, O::first);
}

TEST_F(StructureTest, FillDownAndCtrlReturnWriteOneUndoStepEach) {
    open("h,i,j\na,b,c\n1,2,3\n4,5,6\n");
    const StringRows before = rows();
    select({0, 0}, {2, 1});
    EXPECT_EQ(session->fillDown(), 4);
    EXPECT_EQ(undoText(), QStringLiteral("Fill Down"));
    EXPECT_EQ(rows(), (StringRows{{"h", "i", "j"}, {"a", "b", "c"}, {"a", "b", "3"}, {"a", "b", "6"}}));
    EXPECT_EQ(session->fillDown(), 0) << "nothing left to change";
    select(1, 2);
    EXPECT_EQ(session->fillDown(), 0) << "one row fills nothing";
    expectUndoRedoRestores(before, rows());

    // Typing over the active cell of a block, Ctrl+Return writes every cell of it.
    open("h,i\n1,2\n3,4\n5,6\n");
    const StringRows start = rows();
    select({2, 1}, {0, 0});
    type("z");
    EXPECT_EQ(session->editingBlock(), (GridSelection{{2, 1}, {0, 0}}));
    key(K::enter, {.command = true});
    EXPECT_EQ(rows(), (StringRows{{"h", "i"}, {"z", "z"}, {"z", "z"}, {"z", "z"}}));
    EXPECT_EQ(undoText(), QStringLiteral("Fill Cells"));
    EXPECT_EQ(session->selection(), (GridSelection{{2, 1}, {0, 0}})) << "the block stays selected";
    EXPECT_FALSE(session->editingBlock().has_value());
    expectUndoRedoRestores(start, rows());
    // A single cell: Ctrl+Return commits and moves down like Return.
    select(0, 0);
    type("q");
    key(K::enter, {.command = true});
    EXPECT_EQ(cell(1, 0), "q");
    EXPECT_EQ(active(), (GridCell{1, 0}));
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
}

TEST_F(StructureTest, RepairsPadShortRowsAndTrimSpacesAndSaveWhatTheyShow) {
    open("a,b,c\n1\n2,3\n 4 ,\t5,6 \n");
    const StringRows before = rows();
    EXPECT_EQ(session->padShortRows(), 3);
    EXPECT_EQ(undoText(), QStringLiteral("Pad Short Rows"));
    EXPECT_EQ(session->padShortRows(), 0);
    select({0, 0}, {2, 2});
    EXPECT_EQ(session->trimSpaces(), 3);
    EXPECT_EQ(undoText(), QStringLiteral("Trim Spaces"));
    const StringRows after = rows();
    EXPECT_EQ(after, (StringRows{{"a", "b", "c"}, {"1", "", ""}, {"2", "3", ""}, {"4", "5", "6"}}));
    // The saved bytes read back cell for cell, every row complete.
    const std::string saved = CSVWriter::write(table(), table().format());
    EXPECT_EQ(saved, "a,b,c\n1,,\n2,3,\n4,5,6\n");
    EXPECT_EQ(CSVReader::read(SharedBytes::copyOf(saved), {}).table.allRows(), after);
    expectUndoRedoRestores(before, after);
    EXPECT_EQ(CSVWriter::write(table(), table().format()), saved);
    while (undo.canUndo())
        session->undo();
    EXPECT_EQ(CSVWriter::write(table(), table().format()), "a,b,c\n1\n2,3\n 4 ,\t5,6 \n")
        << "undone, short again";
}
