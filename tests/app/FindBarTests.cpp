// The find bar as a user drives it: typing a query, reading the counter, stepping with
// Return, "Only matching rows", replacing, Escape.
#include "SessionTestSupport.h"

#include "app/views/FindBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace zarvel;
using zarvel::test::waitUntil;

namespace {

class FindBarTest : public zarvel::test::SessionTest {
protected:
    void openBar(std::string_view text) {
        open(text);
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        bar = new FindBar(session.get(), host.get());
        layout->addWidget(bar);
        layout->addStretch(1);
        host->resize(900, 120);
        host->show();
        session->presentFind(false);
    }
    void TearDown() override { host.reset(); }

    QString counter() const { return bar->counterLabel()->text(); }
    // Waits until typing has paused and the search has landed.
    bool settled() {
        return waitUntil([this] { return !bar->isSearchPending(); });
    }
    void typeQuery(const QString& text) {
        QTest::keyClicks(bar->queryField(), text);
        ASSERT_TRUE(settled());
    }

    std::unique_ptr<QWidget> host;
    FindBar* bar = nullptr;
};

} // namespace

TEST_F(FindBarTest, CounterFollowsTheQueryAndReturnStepsThroughMatches) {
    openBar("name\nalpha\nbeta\ngamma\ndelta\n");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(counter(), QString());

    // Typing quickly searches once, after the pause.
    ASSERT_TRUE(settled()); // the search of the empty query on opening
    QSignalSpy searches(session.get(), &EditorSession::searchFinished);
    QTest::keyClicks(bar->queryField(), "ta");
    EXPECT_TRUE(bar->isSearchPending());
    ASSERT_TRUE(settled());
    EXPECT_EQ(searches.count(), 1);
    EXPECT_EQ(counter(), QStringLiteral("2 matches"));

    QTest::keyClick(bar->queryField(), Qt::Key_Return);
    EXPECT_EQ(counter(), QStringLiteral("1 of 2"));
    EXPECT_EQ(active(), (GridCell{1, 0}));
    QTest::keyClick(bar->queryField(), Qt::Key_Return);
    EXPECT_EQ(counter(), QStringLiteral("2 of 2"));
    EXPECT_EQ(active(), (GridCell{3, 0}));
    QTest::keyClick(bar->queryField(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(counter(), QStringLiteral("1 of 2"));

    QTest::mouseClick(bar->nextButton(), Qt::LeftButton);
    EXPECT_EQ(counter(), QStringLiteral("2 of 2"));
    QTest::mouseClick(bar->previousButton(), Qt::LeftButton);
    EXPECT_EQ(counter(), QStringLiteral("1 of 2"));

    typeQuery("zz");
    EXPECT_EQ(counter(), QStringLiteral("No matches"));
    EXPECT_FALSE(bar->nextButton()->isEnabled());

    bar->queryField()->clear();
    ASSERT_TRUE(settled());
    EXPECT_EQ(counter(), QString());
    EXPECT_EQ(session->find().query, "");
}

TEST_F(FindBarTest, TheCaseToggleAndAnEditOfTheTableSearchAgain) {
    openBar("h\nApple\napple\nred\n");
    typeQuery("Apple");
    EXPECT_EQ(counter(), QStringLiteral("2 matches"));
    QTest::mouseClick(bar->caseButton(), Qt::LeftButton);
    EXPECT_TRUE(session->find().caseSensitive);
    ASSERT_TRUE(settled());
    EXPECT_EQ(counter(), QStringLiteral("1 match"));

    select(2, 0);
    session->beginEditing("Apple");
    session->commitEditing(CommitMove::none);
    EXPECT_TRUE(bar->isSearchPending());
    ASSERT_TRUE(settled());
    EXPECT_EQ(counter(), QStringLiteral("2 matches"));
}

TEST_F(FindBarTest, OnlyMatchingRowsNarrowsTheGridAndRestoresIt) {
    openBar("h\nfig\nplum\nfig tree\npear\n");
    typeQuery("fig");
    QTest::mouseClick(bar->onlyMatchingRowsBox(), Qt::LeftButton);
    EXPECT_TRUE(session->find().showsOnlyMatches);
    EXPECT_EQ(session->displayedRowCount(), 2);

    // A new query rebuilds the filter; with no hits the grid shows no rows.
    typeQuery("x");
    EXPECT_EQ(session->displayedRowCount(), 0);
    EXPECT_TRUE(bar->onlyMatchingRowsBox()->isChecked());

    QTest::mouseClick(bar->onlyMatchingRowsBox(), Qt::LeftButton);
    EXPECT_FALSE(session->find().showsOnlyMatches);
    EXPECT_EQ(session->displayedRowCount(), 4);
}

TEST_F(FindBarTest, ReplaceRowReplacesOneAndAll) {
    openBar("h\ncat\ncat\ncat\n");
    EXPECT_FALSE(bar->replaceRow()->isVisible());
    QTest::mouseClick(bar->disclosureButton(), Qt::LeftButton);
    ASSERT_TRUE(bar->replaceRow()->isVisible());

    typeQuery("cat");
    QTest::keyClicks(bar->replacementField(), "dog");
    select(0, 0);
    QTest::mouseClick(bar->replaceButton(), Qt::LeftButton);
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"dog"}, {"cat"}, {"cat"}}));
    ASSERT_TRUE(settled());
    EXPECT_EQ(counter(), QStringLiteral("2 matches"));
    QTest::mouseClick(bar->replaceAllButton(), Qt::LeftButton);
    EXPECT_FALSE(bar->replaceAllButton()->isEnabled()) << "one Replace All at a time";
    ASSERT_TRUE(waitUntil([this] { return !session->isReplacing(); }));
    EXPECT_EQ(rows(), (StringRows{{"h"}, {"dog"}, {"dog"}, {"dog"}}));
    EXPECT_TRUE(bar->replaceAllButton()->isEnabled());
}

TEST_F(FindBarTest, EscapeAndDoneCloseAndAFocusRequestReachesTheQuery) {
    openBar("h\na\n");
    typeQuery("a");
    QTest::keyClick(bar->queryField(), Qt::Key_Escape);
    EXPECT_FALSE(session->find().isPresented);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(session->find().matches.empty());

    session->presentFind(false);
    EXPECT_TRUE(bar->isVisible());
    // Opening again searches again, though the query did not change.
    ASSERT_TRUE(settled());
    EXPECT_EQ(counter(), QStringLiteral("1 match"));

    QApplication::setActiveWindow(host.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    bar->doneButton()->setFocus();
    session->presentFind(true);
    EXPECT_TRUE(waitUntil([this] { return bar->isQueryFocused(); }));
    EXPECT_TRUE(bar->replaceRow()->isVisible());
    QTest::mouseClick(bar->doneButton(), Qt::LeftButton);
    EXPECT_FALSE(session->find().isPresented);
}

TEST_F(FindBarTest, RegularExpressionToggleSearchesAgainAndShowsPatternErrors) {
    openBar("name\na1\nb22\nc\n");
    ASSERT_TRUE(settled());
    typeQuery("\\d+");
    EXPECT_EQ(counter(), QStringLiteral("No matches"));
    EXPECT_EQ(bar->regexButton()->toolTip(), QStringLiteral("Regular Expression"));
    QTest::mouseClick(bar->regexButton(), Qt::LeftButton);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(session->find().isRegex);
    EXPECT_EQ(counter(), QStringLiteral("2 matches"));
    typeQuery("[");
    EXPECT_EQ(counter(), QStringLiteral("Missing closing bracket at character 5"));
    EXPECT_FALSE(bar->nextButton()->isEnabled());
}
