// The status bar and the warnings list as the user reads them: counts, the selection,
// the filter note, the busy indicator, the format summary and its warning, and the
// reading problems with "Show".
#include "SessionTestSupport.h"

#include "app/views/FindBar.h"
#include "app/views/StatusBar.h"
#include "app/views/WarningsButton.h"
#include "app/views/WarningsPopover.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace zarvel;
using zarvel::test::waitUntil;

namespace {

class StatusBarTest : public zarvel::test::SessionTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override {
        host.reset();
        QLocale::setDefault(QLocale::c());
    }
    void openBar(std::string_view text) {
        open(text);
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        layout->addStretch(1);
        bar = new StatusBar(session.get(), host.get());
        layout->addWidget(bar);
        host->resize(900, 200);
        host->show();
    }
    QString sizeText() const { return bar->sizeLabel()->text(); }
    QString selectionText() const {
        return bar->selectionLabel()->isVisible() ? bar->selectionLabel()->text() : QString();
    }
    QString filterText() const {
        return bar->filterLabel()->isVisible() ? bar->filterLabel()->text() : QString();
    }
    QStringList formatParts() const { return bar->formatButton()->parts(); }
    WarningsButton* warnings() const { return bar->warningsButton(); }
    WarningsPopover* openWarnings() {
        QTest::mouseClick(warnings(), Qt::LeftButton);
        return warnings()->popover();
    }
    void showOnlyMatches(const std::string& query) {
        session->setQuery(query);
        bool done = false;
        auto c = QObject::connect(session.get(), &EditorSession::searchFinished, session.get(),
                                  [&] { done = true; });
        session->search();
        ASSERT_TRUE(waitUntil([&] { return done; }));
        QObject::disconnect(c);
        session->setShowsOnlyMatches(true);
    }

    std::unique_ptr<QWidget> host;
    StatusBar* bar = nullptr;
};

} // namespace

TEST_F(StatusBarTest, CountsAndTheSelectionUseTheLocalesDigitGroupingAndColumnNames) {
    std::string text = "id,name,score\n";
    for (int i = 0; i < 1234; ++i)
        text += std::to_string(i) + ",n,1\n";
    openBar(text);
    EXPECT_EQ(sizeText(), QStringLiteral("1,234 rows · 3 columns"));
    select({1, 1}, {3, 2});
    EXPECT_EQ(selectionText(), QStringLiteral("3 × 2 selected"));
    session->selectAll();
    EXPECT_EQ(selectionText(), QStringLiteral("1,234 × 3 selected"));
    select(1232, 1);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 1233, name")) << "plain digits for a row number";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    bar->refresh();
    EXPECT_EQ(sizeText(), QStringLiteral("1.234 rows · 3 columns"));

    openBar("1,2\n3,4\n");
    ASSERT_FALSE(table().format().hasHeader);
    select(0, 0);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 1, A")) << "without a header row, the column's letter";
}

TEST_F(StatusBarTest, TheFilterNoteAndNoSelectionWhenTheFilterShowsNoRows) {
    openBar("name\nfig\nplum\nfig tree\npear\n");
    EXPECT_EQ(filterText(), QString());
    showOnlyMatches("fig");
    EXPECT_EQ(filterText(), QStringLiteral("Showing 2 matching rows"));
    select(1, 0);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 3, name")) << "the filtered row's own number";
    EXPECT_EQ(sizeText(), QStringLiteral("4 rows · 1 column"));

    showOnlyMatches("zzz");
    ASSERT_EQ(session->displayedRowCount(), 0);
    EXPECT_EQ(filterText(), QStringLiteral("Showing 0 matching rows"));
    EXPECT_EQ(selectionText(), QString());
    session->setShowsOnlyMatches(false);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 1, name"));
}

TEST_F(StatusBarTest, TheFormatSummaryShowsHowTheFileWasReadAndTheBusyIndicatorAReread) {
    openBar("\xEF\xBB\xBF"
            "a\tb\r\n1\t2\r\n");
    EXPECT_EQ(formatParts(), (QStringList{"Tab", "UTF-8 BOM", "CRLF"}));
    EXPECT_FALSE(bar->formatButton()->isWarning());
    EXPECT_FALSE(warnings()->isVisible()) << "no reading problems, no button";
    // Saving differently does not change how the file was read.
    FileFormat f = table().format();
    f.dialect.delimiter = Byte::comma;
    session->changeFormat(f);
    EXPECT_EQ(formatParts(), (QStringList{"Tab", "UTF-8 BOM", "CRLF"}));
    QTest::mouseClick(bar->formatButton(), Qt::LeftButton);
    EXPECT_TRUE(session->isFormatPresented());

    EXPECT_FALSE(bar->busyIndicator()->isVisible());
    ReadOptions options;
    options.dialect = CSVDialect::semicolon();
    session->reinterpret(options);
    EXPECT_TRUE(bar->busyIndicator()->isVisible());
    ASSERT_TRUE(waitIdle());
    EXPECT_FALSE(bar->busyIndicator()->isVisible());
    EXPECT_EQ(formatParts(), (QStringList{";", "UTF-8 BOM", "CRLF"}));
}

TEST_F(StatusBarTest, AWeakDelimiterGuessWarns) {
    // Of ten rows, seven agreeing on two fields give a confidence of 0.7002; eight, 0.8002.
    for (const int agreeing : {7, 8}) {
        std::string text = "a,b\n";
        for (int i = 1; i < 10; ++i)
            text += i < agreeing ? "1,2\n" : "1,2,3\n";
        openBar(text);
        const bool weak = agreeing < 8;
        ASSERT_EQ(document->report()->confidence < 0.8, weak) << agreeing;
        EXPECT_EQ(bar->formatButton()->isWarning(), weak) << agreeing;
        EXPECT_EQ(
            bar->formatButton()->toolTip().startsWith(QStringLiteral("The delimiter was hard to detect")),
            weak)
            << agreeing;
    }
}

TEST_F(StatusBarTest, WarningsListRaggedRowsAndLinesAndShowCommitsAPendingDraftFirst) {
    openBar("a,b,c\n\"x\"y,2,3\n1,2\n4\n\"open,5\n");
    ASSERT_TRUE(warnings()->isVisible());
    const ReadReport report = *document->report();
    ASSERT_EQ(report.warnings.size(), 2u);
    ASSERT_GE(report.raggedRowCount, 1);
    EXPECT_EQ(warnings()->text(), QStringLiteral("3"));

    WarningsPopover* list = openWarnings();
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->raggedRowsLabel()->text(), WarningsPopover::raggedRowsText(report.raggedRowCount));
    ASSERT_EQ(list->lineLabels().size(), 2);
    EXPECT_EQ(list->lineLabels()[0]->text(),
              QStringLiteral("Line 2: text after a closing quote, kept as is"));
    EXPECT_EQ(list->lineLabels()[1]->text(), QStringLiteral("Line 5: quote never closed, read as text"));
    // Each with its row as the file has it.
    ASSERT_EQ(list->rawTextLabels().size(), 2);
    EXPECT_EQ(list->rawTextLabels()[0]->text(), QStringLiteral("\"x\"y,2,3"));
    EXPECT_EQ(list->rawTextLabels()[1]->text(), QStringLiteral("\"open,5"));
    EXPECT_EQ(WarningsPopover::rawText("a\tb\x01\x7f\r"), QString::fromUtf8("a\u2409b\u2401\u2421\u240D"));
    const QString cut = WarningsPopover::rawText(std::string(500, 'z') + "\xF0\x9F\x98\x80");
    EXPECT_EQ(cut, QString(WarningsPopover::rawTextLength, QLatin1Char('z')) + QChar(0x2026));
    EXPECT_EQ(WarningsPopover::rawText(std::string(119, 'z') + "\xF0\x9F\x98\x80"),
              QString(119, QLatin1Char('z')) + QString::fromUtf8("\xF0\x9F\x98\x80"))
        << "a pair is one character";

    select(1, 1);
    session->beginEditing("typed");
    QTest::mouseClick(list->showButtons()[1], Qt::LeftButton);
    EXPECT_FALSE(session->editing().has_value());
    EXPECT_EQ(cell(2, 1), "typed") << "the draft lands in the cell it was started on";
    EXPECT_EQ(session->selection(), (GridSelection{{3, 0}, {3, 0}}));
    ASSERT_TRUE(session->scrollRequest().has_value());
    EXPECT_EQ(session->scrollRequest()->cell, (GridCell{3, 0}));
}

TEST_F(StatusBarTest, TheFirstTwentyWarningsAreListedAndOnesOnHiddenRowsHaveNoShowButton) {
    std::string text = "a,b\n";
    for (int i = 0; i < 30; ++i)
        text += i ? "\"q\"x,drop\n" : "\"q\"x,keep\n";
    openBar(text);
    EXPECT_EQ(warnings()->text(), QStringLiteral("30"));
    showOnlyMatches("keep");
    WarningsPopover* list = openWarnings();
    ASSERT_EQ(list->lineLabels().size(), 20);
    EXPECT_EQ(list->lineLabels().back()->text(),
              QStringLiteral("Line 21: text after a closing quote, kept as is"));
    EXPECT_FALSE(list->raggedRowsLabel()->isVisible());
    ASSERT_EQ(list->showButtons().size(), 20);
    EXPECT_NE(list->showButtons()[0], nullptr);
    EXPECT_EQ(list->showButtons()[1], nullptr);
    // The list follows the filter while it is open.
    session->setShowsOnlyMatches(false);
    ASSERT_EQ(list->showButtons().size(), 20);
    EXPECT_NE(list->showButtons()[1], nullptr);
}

TEST_F(StatusBarTest, CountsSayOneInTheSingularAndEveryOtherNumberInThePluralGrouped) {
    struct Case {
        int64_t n;
        QString size, matches, ragged;
    };
    const QString rest =
        QStringLiteral(" fewer or more fields than the widest row; missing cells are shown empty.");
    const Case cases[] = {
        {0, "0 rows · 0 columns", "No matches", "0 rows have" + rest},
        {1, "1 row · 1 column", "1 match", "1 row has" + rest},
        {2, "2 rows · 2 columns", "2 matches", "2 rows have" + rest},
        {1000, "1,000 rows · 1,000 columns", "1,000 matches", "1,000 rows have" + rest},
    };
    for (const Case& c : cases) {
        FindState find;
        find.query = "x";
        find.matches = std::vector<CellPosition>(static_cast<size_t>(c.n));
        EXPECT_EQ(StatusBar::sizeText(c.n, c.n), c.size) << c.n;
        EXPECT_EQ(FindBar::counterText(find), c.matches) << c.n;
        EXPECT_EQ(WarningsPopover::raggedRowsText(c.n), c.ragged) << c.n;
    }
}
