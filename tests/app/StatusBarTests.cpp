// The status bar and the warnings list as the user reads them: counts, the selection,
// the filter note, the busy indicator, the format summary and its warning, and the
// reading problems with "Show".
#include "SessionTestSupport.h"

#include "app/views/StatusBar.h"
#include "app/views/WarningsButton.h"
#include "app/views/WarningsPopover.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
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
    QString filterText() const { return bar->filterLabel()->isVisible() ? bar->filterLabel()->text() : QString(); }
    WarningsButton* warnings() const { return bar->warningsButton(); }
    WarningsPopover* openWarnings() {
        QTest::mouseClick(warnings(), Qt::LeftButton);
        return warnings()->popover();
    }
    void showOnlyMatches(const std::string& query) {
        session->presentFind(false);
        session->setQuery(query);
        bool done = false;
        auto c = QObject::connect(session.get(), &EditorSession::searchFinished, session.get(), [&] { done = true; });
        session->search();
        ASSERT_TRUE(waitUntil([&] { return done; }));
        QObject::disconnect(c);
        session->setShowsOnlyMatches(true);
    }

    std::unique_ptr<QWidget> host;
    StatusBar* bar = nullptr;
};

std::string manyRows(int rows) {
    std::string text = "id,name,score\n";
    for (int i = 0; i < rows; ++i) text += std::to_string(i) + ",n" + std::to_string(i) + "," + std::to_string(i % 7) + "\n";
    return text;
}

} // namespace

TEST_F(StatusBarTest, CountsUseTheLocalesDigitGrouping) {
    openBar(manyRows(1234));
    EXPECT_EQ(sizeText(), QStringLiteral("1,234 rows · 3 columns"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    bar->refresh();
    EXPECT_EQ(sizeText(), QStringLiteral("1.234 rows · 3 columns"));
}

TEST_F(StatusBarTest, SelectionSummary) {
    openBar(manyRows(1500));
    select({1, 1}, {3, 2});
    EXPECT_EQ(selectionText(), QStringLiteral("3 × 2 selected"));
    session->selectAll();
    EXPECT_EQ(selectionText(), QStringLiteral("1,500 × 3 selected"));
    select(1233, 1);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 1234, name")) << "plain digits for a row number";
}

TEST_F(StatusBarTest, SingleCellWithoutHeaderNamesTheColumnLetter) {
    openBar("1,2\n3,4\n");
    ASSERT_FALSE(table().format().hasHeader);
    select(0, 0);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 1, A"));
    EXPECT_EQ(sizeText(), QStringLiteral("2 rows · 2 columns"));
}

TEST_F(StatusBarTest, FilterNoteAndTheFilteredRowsOwnNumber) {
    openBar("name\nfig\nplum\nfig tree\npear\n");
    EXPECT_EQ(filterText(), QString());
    showOnlyMatches("fig");
    EXPECT_EQ(filterText(), QStringLiteral("Showing 2 matching"));
    select(1, 0);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 3, name"));
    EXPECT_EQ(sizeText(), QStringLiteral("4 rows · 1 columns"));
}

TEST_F(StatusBarTest, NoSelectionWhenTheFilterShowsNoRows) {
    openBar("name\nfig\nplum\n");
    select(1, 0);
    showOnlyMatches("zzz");
    ASSERT_EQ(session->displayedRowCount(), 0);
    EXPECT_EQ(filterText(), QStringLiteral("Showing 0 matching"));
    EXPECT_EQ(selectionText(), QString());
    session->setShowsOnlyMatches(false);
    EXPECT_EQ(selectionText(), QStringLiteral("Row 1, name"));
}

TEST_F(StatusBarTest, BusyIndicatorWhileReinterpreting) {
    openBar("a,b\n1,2\n");
    EXPECT_FALSE(bar->busyIndicator()->isVisible());
    ReadOptions options;
    options.dialect = CSVDialect::semicolon();
    session->reinterpret(options);
    EXPECT_TRUE(bar->busyIndicator()->isVisible());
    ASSERT_TRUE(waitIdle());
    EXPECT_FALSE(bar->busyIndicator()->isVisible());
    EXPECT_EQ(bar->formatButton()->parts(), (QStringList{";", "UTF-8", "LF"}));
}

TEST_F(StatusBarTest, FormatSummaryShowsHowTheFileWasRead) {
    openBar("\xEF\xBB\xBF" "a\tb\r\n1\t2\r\n");
    EXPECT_EQ(bar->formatButton()->parts(), (QStringList{"Tab", "UTF-8 BOM", "CRLF"}));
    EXPECT_FALSE(bar->formatButton()->isWarning());
    EXPECT_EQ(bar->formatButton()->toolTip(), QStringLiteral("File format"));

    // Saving differently does not change how the file was read.
    FileFormat f = table().format();
    f.dialect.delimiter = Byte::comma;
    session->changeFormat(f);
    EXPECT_EQ(bar->formatButton()->parts(), (QStringList{"Tab", "UTF-8 BOM", "CRLF"}));

    QSignalSpy clicked(bar, &StatusBar::formatSummaryClicked);
    QTest::mouseClick(bar->formatButton(), Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(session->isFormatPresented());
}

TEST_F(StatusBarTest, WeakDelimiterGuessWarns) {
    // Seven of ten rows agree on two fields: confidence 0.7002.
    std::string weak = "a,b\n";
    for (int i = 0; i < 6; ++i) weak += "1,2\n";
    for (int i = 0; i < 3; ++i) weak += "1,2,3\n";
    openBar(weak);
    ASSERT_LT(document->report()->confidence, 0.8);
    EXPECT_TRUE(bar->formatButton()->isWarning());
    EXPECT_EQ(bar->formatButton()->toolTip(),
              QStringLiteral("The delimiter was hard to detect. Check how the file is read."));

    // Eight of ten: 0.8002, sure enough.
    std::string fair = "a,b\n";
    for (int i = 0; i < 7; ++i) fair += "1,2\n";
    for (int i = 0; i < 2; ++i) fair += "1,2,3\n";
    openBar(fair);
    ASSERT_GE(document->report()->confidence, 0.8);
    EXPECT_FALSE(bar->formatButton()->isWarning());
    EXPECT_EQ(bar->formatButton()->toolTip(), QStringLiteral("File format"));
}

TEST_F(StatusBarTest, AFileWithoutProblemsHasNoWarningsButton) {
    openBar("a,b\n1,2\n");
    EXPECT_FALSE(warnings()->isVisible());
}

TEST_F(StatusBarTest, WarningsListRaggedRowsAndLines) {
    openBar("a,b,c\n\"x\"y,2,3\n1,2\n4\n\"open,5\n");
    ASSERT_TRUE(warnings()->isVisible());
    const ReadReport report = *document->report();
    ASSERT_EQ(report.warnings.size(), 2u);
    ASSERT_GE(report.raggedRowCount, 1);
    EXPECT_EQ(warnings()->text(), QStringLiteral("3"));
    EXPECT_EQ(warnings()->toolTip(), QStringLiteral("The file had formatting problems. It was opened anyway."));

    WarningsPopover* list = openWarnings();
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->headline()->text(), QStringLiteral("Problems found while reading"));
    EXPECT_TRUE(list->raggedRowsLabel()->isVisible());
    EXPECT_EQ(list->raggedRowsLabel()->text(),
              QString::number(report.raggedRowCount) +
                  QStringLiteral(" rows have fewer or more fields than the widest row; missing cells are shown empty."));
    ASSERT_EQ(list->lineLabels().size(), 2);
    EXPECT_EQ(list->lineLabels()[0]->text(), QStringLiteral("Line 2: text after a closing quote, kept as is"));
    EXPECT_EQ(list->lineLabels()[1]->text(), QStringLiteral("Line 5: quote never closed, read as text"));

    QTest::mouseClick(list->showButtons()[1], Qt::LeftButton);
    EXPECT_EQ(session->selection(), (GridSelection{{3, 0}, {3, 0}}));
    ASSERT_TRUE(session->scrollRequest().has_value());
    EXPECT_EQ(session->scrollRequest()->cell, (GridCell{3, 0}));
}

TEST_F(StatusBarTest, ShowCommitsAPendingDraftFirst) {
    openBar("a,b\n\"x\"y,2\n1,2\n");
    select(1, 1);
    session->beginEditing("typed");
    WarningsPopover* list = openWarnings();
    ASSERT_EQ(list->showButtons().size(), 1);
    QTest::mouseClick(list->showButtons()[0], Qt::LeftButton);
    EXPECT_FALSE(session->editing().has_value());
    EXPECT_EQ(cell(2, 1), "typed") << "the draft lands in the cell it was started on";
    EXPECT_EQ(active(), (GridCell{0, 0}));
}

TEST_F(StatusBarTest, OnlyTheFirstTwentyWarningsAreListed) {
    std::string text = "a,b\n";
    for (int i = 0; i < 30; ++i) text += "\"q\"x,1\n";
    openBar(text);
    EXPECT_EQ(warnings()->text(), QStringLiteral("30"));
    WarningsPopover* list = openWarnings();
    ASSERT_EQ(list->lineLabels().size(), 20);
    EXPECT_EQ(list->lineLabels().back()->text(), QStringLiteral("Line 21: text after a closing quote, kept as is"));
    EXPECT_FALSE(list->raggedRowsLabel()->isVisible());
}

TEST_F(StatusBarTest, AWarningOnAHiddenRowHasNoShowButton) {
    openBar("a,b\n\"x\"y,keep\n\"z\"w,drop\n");
    showOnlyMatches("keep");
    WarningsPopover* list = openWarnings();
    ASSERT_EQ(list->showButtons().size(), 2);
    EXPECT_NE(list->showButtons()[0], nullptr);
    EXPECT_EQ(list->showButtons()[1], nullptr);
    // The list follows the filter while it is open.
    session->setShowsOnlyMatches(false);
    ASSERT_EQ(list->showButtons().size(), 2);
    EXPECT_NE(list->showButtons()[1], nullptr);
}
