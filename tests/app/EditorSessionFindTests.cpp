#include "SessionTestSupport.h"

#include "core/TableSearch.h"

using namespace zarvel;

namespace {
class FindTest : public zarvel::test::SessionTest {
protected:
    void searchFor(const std::string& query) {
        session->setQuery(query);
        bool done = false;
        auto c = QObject::connect(session.get(), &EditorSession::searchFinished, session.get(),
                                  [&] { done = true; });
        session->search();
        ASSERT_TRUE(zarvel::test::waitUntil([&] { return done; }));
        QObject::disconnect(c);
    }
    std::vector<CellPosition> matches() const { return session->find().matches; }
    // Replace All works on a worker; this waits for it to land.
    void replaceAll() {
        session->replaceAll();
        ASSERT_TRUE(zarvel::test::waitUntil([&] { return !session->isReplacing(); }));
    }
};
} // namespace

TEST_F(FindTest, TheHeaderRowIsNeverAMatch) {
    open("name,city\nAnna,Paris\nname,Rome\n");
    searchFor("name");
    EXPECT_EQ(matches(), (std::vector<CellPosition>{{2, 0}}));
    session->toggleHeader();
    searchFor("name");
    EXPECT_EQ(matches(), (std::vector<CellPosition>{{0, 0}, {2, 0}}));
}

TEST_F(FindTest, FindNextWrapsAndStartsFromTheActiveCell) {
    open("h\nx\ny\nx\nx\n");
    searchFor("x");
    ASSERT_EQ(matches().size(), 3u);
    select(0, 0); // a match itself: Find Next skips it
    session->findNext(true);
    EXPECT_EQ(active(), (GridCell{2, 0}));
    session->findNext(true);
    session->findNext(true);
    EXPECT_EQ(active(), (GridCell{0, 0})) << "wraps to the first";
    session->findNext(false);
    EXPECT_EQ(active(), (GridCell{3, 0})) << "and back to the last";
    FindState f = session->find();
    f.current.reset();
    session->setFind(f);
    select(0, 0);
    session->findNext(false);
    EXPECT_EQ(active(), (GridCell{0, 0})) << "Find Previous from a match lands on it";
}

TEST_F(FindTest, ReplaceOneAndAll) {
    open("h\nbanana\nBand\nnone\n");
    session->setReplacement("o");
    searchFor("an");
    ASSERT_EQ(matches().size(), 2u);
    // After a fresh search nothing is current: Replace takes the match the user is on.
    select(1, 0);
    session->replaceCurrent();
    EXPECT_EQ(table().value(2, 0), "Bod");
    EXPECT_EQ(table().value(1, 0), "banana");
    EXPECT_EQ(undoText(), QStringLiteral("Replace"));
    searchFor("an");
    replaceAll();
    EXPECT_EQ(table().value(1, 0), "booa");
    EXPECT_EQ(undoText(), QStringLiteral("Replace All"));
    session->undo();
    EXPECT_EQ(table().value(1, 0), "banana");
    EXPECT_EQ(table().value(2, 0), "Bod");

    const int count = undo.count();
    session->setReplacement("an");
    searchFor("an");
    replaceAll();
    session->replaceCurrent();
    EXPECT_EQ(undo.count(), count) << "replacements that change nothing register nothing";
}

TEST_F(FindTest, OnlyMatchingRowsOnAndOff) {
    open("h\na\nb\na\n");
    searchFor("a");
    session->setShowsOnlyMatches(true);
    EXPECT_EQ(session->displayedRowCount(), 2);
    EXPECT_EQ(session->tableRow(1), 3);
    EXPECT_EQ(session->displayRow(2), std::nullopt);
    select(1, 0);
    session->setShowsOnlyMatches(false);
    EXPECT_EQ(session->displayedRowCount(), 3);
    EXPECT_FALSE(session->rowFilter());

    searchFor("zzz");
    session->setShowsOnlyMatches(true);
    EXPECT_EQ(session->displayedRowCount(), 0) << "no matches: an empty grid";
    session->findNext(true);
    searchFor("");
    EXPECT_FALSE(session->find().showsOnlyMatches);
    EXPECT_EQ(session->displayedRowCount(), 3);
}

TEST_F(FindTest, ANewResultKeepsTheSelectionOnItsRow) {
    open("h\nx1\nx2\nx3\nx4\n");
    searchFor("x");
    session->setShowsOnlyMatches(true);
    select(2, 0); // "x3", table row 3
    // An edit elsewhere removes a match; the next search rebuilds the filter.
    select(0, 0);
    type("y");
    session->commitEditing(CommitMove::none);
    select(2, 0);
    searchFor("x");
    EXPECT_EQ(session->displayedRowCount(), 3);
    EXPECT_EQ(session->tableRow(active().row), 3) << "still on x3, not reset to the first cell";
}

TEST_F(FindTest, StaleMatchesAreSkipped) {
    open("h\nx\nx\nx\n");
    searchFor("x");
    select({0, 0}, {2, 0});
    session->deleteRows(); // matches now name rows that are gone
    ASSERT_EQ(session->displayedRowCount(), 0);
    session->findNext(true);
    replaceAll();
    session->setShowsOnlyMatches(true);
    EXPECT_EQ(session->displayedRowCount(), 0);
    EXPECT_EQ(undo.count(), 1);
}

TEST_F(FindTest, AResultForAnOlderTableIsDropped) {
    std::string s = "h\n";
    for (int i = 0; i < 50000; ++i)
        s += "needle\n";
    open(s);
    session->setQuery("needle");
    session->search();
    document->apply(TableEdit::setCells({{1, 0, "x"}}));
    bool finished = false;
    QObject::connect(session.get(), &EditorSession::searchFinished, session.get(), [&] { finished = true; });
    ASSERT_TRUE(zarvel::test::waitUntil([&] { return finished; }));
    EXPECT_TRUE(matches().empty());
}

TEST_F(FindTest, PresentingKeepsAnOpenReplaceRow) {
    open("h\n1\n");
    session->presentFind(true);
    const QUuid focus = session->find().focusRequest;
    session->presentFind(false);
    EXPECT_TRUE(session->find().showsReplace);
    EXPECT_NE(session->find().focusRequest, focus);
    session->closeFind();
    EXPECT_FALSE(session->find().isPresented);
}

// A pattern finds cells, replaces with its groups in one undo step, and an invalid one
// says why and finds nothing, also under "Only matching rows".
TEST_F(FindTest, RegularExpressionsFindReplaceAndReportErrors) {
    open("code\nAB-123\nab-1234\nxy-999\n");
    session->setRegex(true);
    searchFor("([a-z]+)-(\\d{3})$");
    EXPECT_EQ(matches(), (std::vector<CellPosition>{{1, 0}, {3, 0}})) << "case ignored like plain search";
    session->setReplacement("$2/$1");
    replaceAll();
    EXPECT_EQ(table().value(1, 0), "123/AB");
    EXPECT_EQ(table().value(3, 0), "999/xy");
    EXPECT_EQ(table().value(2, 0), "ab-1234");
    session->undo();
    EXPECT_EQ(table().value(1, 0), "AB-123");

    session->setShowsOnlyMatches(true);
    searchFor("(\\d");
    EXPECT_EQ(session->find().patternError, "Unbalanced parenthesis at character 4");
    EXPECT_TRUE(matches().empty());
    EXPECT_EQ(session->displayedRowCount(), 0);
    searchFor("\\d{4}");
    EXPECT_EQ(session->find().patternError, "");
    EXPECT_EQ(matches(), (std::vector<CellPosition>{{2, 0}}));
    session->setRegex(false);
    searchFor("\\d{4}");
    EXPECT_TRUE(matches().empty()) << "plain search takes the pattern as text";
}

// Replace All on a worker gives, in one undo step, what rewriting every matching cell on
// the spot gives, in plain and pattern mode, ignoring case or not, over enough rows for
// several chunks, with cells the rewrite leaves as they are.
TEST_F(FindTest, ReplaceAllOnAWorkerEqualsRewritingEachCellInOneStep) {
    struct Case {
        std::string query, replacement;
        bool caseSensitive, regex;
    };
    const Case cases[] = {
        {"porto", "Oporto", false, false},       {"Porto", "P", true, false}, {"ß", "ss", false, false},
        {"(\\w+)-(\\d+)", "$2:$1", false, true}, {"o", "o", false, false}, // matches, changes nothing
    };
    std::string text = "city,code,note\n";
    for (int i = 0; i < 6000; ++i)
        text += std::to_string(i % 3 == 0 ? 0 : i) + (i % 2 ? ",Porto,PORTO-" : ",\"porto, Groß\",x-") +
                std::to_string(i) + "\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        open(text);
        const StringRows before = rows();
        std::optional<TableSearch::Regex> regex;
        if (c.regex) regex.emplace(c.query, c.caseSensitive);
        StringRows expected = before;
        for (size_t r = 1; r < expected.size(); ++r)
            for (std::string& value : expected[r])
                value = regex ? regex->replacing(c.replacement, value)
                              : TableSearch::replacing(c.query, c.replacement, value, c.caseSensitive);
        session->setCaseSensitive(c.caseSensitive);
        session->setRegex(c.regex);
        session->setReplacement(c.replacement);
        searchFor(c.query);
        ASSERT_FALSE(matches().empty());
        session->replaceAll();
        EXPECT_TRUE(session->isReplacing() && session->isBusy());
        EXPECT_EQ(rows(), before) << "nothing lands before the worker is done";
        ASSERT_TRUE(zarvel::test::waitUntil([&] { return !session->isReplacing(); }));
        EXPECT_FALSE(session->isBusy());
        EXPECT_EQ(rows(), expected);
        EXPECT_EQ(undo.count(), before == expected ? 0 : 1);
        EXPECT_EQ(undoText(), before == expected ? QString() : QStringLiteral("Replace All"));
        expectUndoRedoRestores(before, expected);
    }
}

// While Replace All runs the table is for looking only; cancelling it, or a new query,
// drops its result whole, and the table is editable again at once.
TEST_F(FindTest, ACancelledReplaceAllChangesNothing) {
    std::string text = "h\n";
    for (int i = 0; i < 200000; ++i)
        text += "needle\n";
    open(text);
    const StringRows before = rows();
    session->setReplacement("pin");
    searchFor("needle");
    for (int way = 0; way < 2; ++way) {
        session->replaceAll();
        ASSERT_TRUE(session->isReplacing());
        select(0, 0);
        type("x");
        EXPECT_FALSE(session->editing()) << "no draft begins";
        session->deleteRows();
        session->sort(0, false);
        EXPECT_EQ(undo.count(), 0);
        if (way == 0)
            session->cancelReplacing();
        else
            session->setQuery("pin");
        EXPECT_FALSE(session->isReplacing());
        EXPECT_FALSE(session->isBusy());
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents(); // the worker's late result is dropped
        EXPECT_EQ(rows(), before);
        EXPECT_EQ(undo.count(), 0);
        session->setQuery("needle");
        searchFor("needle");
    }
    type("y");
    EXPECT_TRUE(session->editing()) << "editable again";
}
