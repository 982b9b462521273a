#include "SessionTestSupport.h"

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
