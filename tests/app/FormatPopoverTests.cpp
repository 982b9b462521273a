// The format popover as a user drives it: save settings apply at once and undo; read
// settings only take effect through "Reinterpret", which asks first when edits would be
// replaced.
#include "SessionTestSupport.h"

#include "app/views/FormatPopover.h"
#include "app/views/StatusBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace zarvel;

namespace {

// Chooses an item the way the combo box's list does.
void pick(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

class FormatPopoverTest : public zarvel::test::SessionTest {
protected:
    void openPopover(std::string_view text) {
        open(text);
        makePopover();
    }
    void makePopover() {
        anchor = std::make_unique<QPushButton>(QStringLiteral("Format"));
        anchor->show();
        popover = new FormatPopover(session.get(), anchor.get());
        // Unless a test answers the real dialog, asking is a failure.
        popover->setConfirmation([this] {
            ++confirmations;
            return true;
        });
        session->setFormatPresented(true);
    }
    void TearDown() override {
        anchor.reset();
        QLocale::setDefault(QLocale::c());
    }

    FileFormat format() const { return table().format(); }
    QString readDelimiterShown() const { return popover->readDelimiterPicker()->comboBox()->currentText(); }
    QString saveDelimiterShown() const { return popover->saveDelimiterPicker()->comboBox()->currentText(); }
    bool canReinterpret() const { return popover->reinterpretButton()->isEnabled(); }
    void reinterpret() {
        ASSERT_TRUE(canReinterpret());
        QTest::mouseClick(popover->reinterpretButton(), Qt::LeftButton);
        ASSERT_TRUE(waitIdle());
    }

    std::unique_ptr<QPushButton> anchor;
    FormatPopover* popover = nullptr;
    int confirmations = 0;
};

} // namespace

TEST_F(FormatPopoverTest, BoundToTheSessionBothWaysWithReadSettingsFromTheReportEachTime) {
    openPopover("a;b\n1;2\n");
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(readDelimiterShown(), QStringLiteral("Semicolon  ;"));
    pick(popover->readQuotePicker(), QStringLiteral("None"));
    EXPECT_TRUE(canReinterpret());
    QTest::keyClick(popover, Qt::Key_Escape);
    EXPECT_FALSE(popover->isVisible());
    EXPECT_FALSE(session->isFormatPresented());
    session->setFormatPresented(true);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->readQuotePicker()->currentText(), QStringLiteral("Double quote  \""));
    EXPECT_FALSE(canReinterpret());
    session->setFormatPresented(false);
    EXPECT_FALSE(popover->isVisible());
}

TEST_F(FormatPopoverTest, SaveSettingsAndTheHeaderToggleApplyAtOnceAndUndo) {
    openPopover("a,b\n1,2\n");
    pick(popover->saveDelimiterPicker()->comboBox(), QStringLiteral("Semicolon  ;"));
    EXPECT_EQ(format().dialect.delimiter, Byte::semicolon);
    EXPECT_EQ(undoText(), QStringLiteral("Change File Format"));
    // Saving differently is no reason to read again: the file was read with commas.
    EXPECT_FALSE(canReinterpret());
    EXPECT_EQ(readDelimiterShown(), QStringLiteral("Comma  ,"));

    session->undo();
    EXPECT_EQ(format().dialect.delimiter, Byte::comma);
    EXPECT_EQ(saveDelimiterShown(), QStringLiteral("Comma  ,"));

    ASSERT_TRUE(popover->headerToggle()->isChecked());
    QTest::mouseClick(popover->headerToggle(), Qt::LeftButton);
    EXPECT_FALSE(format().hasHeader);
    EXPECT_FALSE(canReinterpret()) << "a command, not a read setting";
    session->undo();
    EXPECT_TRUE(popover->headerToggle()->isChecked());
}

TEST_F(FormatPopoverTest, EncodingWithoutByteOrderMarkTurnsTheMarkOff) {
    openPopover("\xEF\xBB\xBF"
                "a,b\n1,2\n");
    EXPECT_TRUE(popover->bomToggle()->isChecked());
    EXPECT_TRUE(popover->bomToggle()->isEnabled());

    pick(popover->saveEncodingPicker(), QStringLiteral("Windows-1252"));
    EXPECT_EQ(format().encoding, TextEncoding::windows1252);
    EXPECT_FALSE(format().hasBOM);
    EXPECT_FALSE(popover->bomToggle()->isChecked());
    EXPECT_FALSE(popover->bomToggle()->isEnabled());

    session->undo(); // one step brings back both
    EXPECT_EQ(format().encoding, TextEncoding::utf8);
    EXPECT_TRUE(popover->bomToggle()->isChecked());
    QTest::mouseClick(popover->bomToggle(), Qt::LeftButton);
    EXPECT_FALSE(format().hasBOM);
}

TEST_F(FormatPopoverTest, PresetsReplaceTheOutputButKeepTheHeaderFlag) {
    openPopover("id,name\n1,Ann\n2,Bo\n");
    QTest::mouseClick(popover->presetButton(QStringLiteral("TSV")), Qt::LeftButton);
    EXPECT_EQ(format().dialect.delimiter, Byte::tab);
    EXPECT_TRUE(format().hasHeader);
    EXPECT_EQ(saveDelimiterShown(), QStringLiteral("Tab"));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTest::mouseClick(popover->presetButton(QStringLiteral("Excel")), Qt::LeftButton);
    EXPECT_EQ(format().dialect.delimiter, Byte::semicolon) << "decimal commas call for semicolons";
    EXPECT_TRUE(format().hasBOM);
    EXPECT_EQ(popover->lineEndingPicker()->currentText(), QStringLiteral("CRLF (Windows)"));

    pick(popover->lineEndingPicker(), QStringLiteral("CR (classic Mac)"));
    pick(popover->quotingPicker(), QStringLiteral("Every field"));
    EXPECT_EQ(format().lineEnding, FileFormat::LineEnding::cr);
    EXPECT_EQ(format().quoting, FileFormat::Quoting::all);
    QTest::mouseClick(popover->presetButton(QStringLiteral("Standard")), Qt::LeftButton);
    EXPECT_EQ(format(), FileFormat::standard());
}

TEST_F(FormatPopoverTest, ReinterpretingAfterAnEditAsksInADialog) {
    openPopover("name,x\nJos\xC3\xA9,1\n");
    popover->setConfirmation({}); // the real dialog
    select(0, 1);
    session->beginEditing("2");
    session->commitEditing(CommitMove::none);
    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));

    int asked = 0;
    QString button = QStringLiteral("Cancel");
    QTimer answerer;
    answerer.setInterval(10);
    QObject::connect(&answerer, &QTimer::timeout, &answerer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        asked += box->text() == QStringLiteral("Reinterpret the file?");
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove(QLatin1Char('&')) == button) b->click();
    });
    answerer.start();

    QTest::mouseClick(popover->reinterpretButton(), Qt::LeftButton);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(cell(1, 1), "2") << "cancelled: the edit stays";
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
    EXPECT_TRUE(popover->isVisible()) << "the panel comes back after the dialog";
    EXPECT_TRUE(session->isFormatPresented());

    button = QStringLiteral("Reinterpret");
    QTest::mouseClick(popover->reinterpretButton(), Qt::LeftButton);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(rows(), (StringRows{{"name", "x"}, {"Jos\xC3\x83\xC2\xA9", "1"}}));
}

TEST_F(FormatPopoverTest, ReinterpretingAnUneditedFileDoesNotAskAndAFailedReadKeepsTheChoice) {
    openPopover("name,x\nJos\xC3\xA9,1\n");
    EXPECT_FALSE(canReinterpret());
    pick(popover->readEncodingPicker(), QStringLiteral("UTF-32 LE"));
    reinterpret();
    EXPECT_TRUE(popover->errorLabel()->isVisible());
    EXPECT_EQ(popover->errorLabel()->text(), QStringLiteral("The file cannot be read as UTF-32 LE."));
    EXPECT_EQ(rows(), (StringRows{{"name", "x"}, {"Jos\xC3\xA9", "1"}}));
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(popover->readEncodingPicker()->currentText(), QStringLiteral("UTF-32 LE"));

    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));
    reinterpret();
    EXPECT_FALSE(popover->errorLabel()->isVisible());
    EXPECT_EQ(confirmations, 0);
    EXPECT_EQ(cell(1, 0), "Jos\xC3\x83\xC2\xA9");
    EXPECT_EQ(undoText(), QStringLiteral("Reinterpret File"));
    // The file is now read as chosen: nothing left to reinterpret.
    EXPECT_FALSE(canReinterpret());
}

TEST_F(FormatPopoverTest, ReinterpretingKeepsTheBackslashEscape) {
    openPopover("a,b\n\"say \\\"hi\\\"\",z\n");
    ASSERT_EQ(document->report()->format.dialect.escape, CSVDialect::Escape::backslash);
    ASSERT_EQ(cell(1, 0), "say \"hi\"");
    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));
    reinterpret();
    EXPECT_EQ(document->report()->format.dialect.escape, CSVDialect::Escape::backslash);
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"say \"hi\"", "z"}}));
}

TEST_F(FormatPopoverTest, OtherDelimiterTakesOneAsciiCharacter) {
    openPopover("sep=#\na#b\n1#2\n");
    auto* picker = popover->readDelimiterPicker();
    EXPECT_EQ(readDelimiterShown(), QStringLiteral("\u201C#\u201D"));
    EXPECT_EQ(saveDelimiterShown(), QStringLiteral("\u201C#\u201D"));

    pick(picker->comboBox(), QStringLiteral("Other"));
    ASSERT_TRUE(picker->otherField()->isVisible());
    auto enter = [&](const QString& text) { // as a paste would: keyClicks is ASCII only
        picker->otherField()->insert(text);
        QTest::keyClick(picker->otherField(), Qt::Key_Return);
    };
    for (const QString& refused : {QStringLiteral("ab"), QStringLiteral("\u00E9")}) {
        enter(refused);
        EXPECT_EQ(popover->readDelimiter(), '#') << refused.toStdString();
        EXPECT_TRUE(picker->otherField()->text().isEmpty()) << refused.toStdString();
    }
    EXPECT_FALSE(canReinterpret());
    enter(QStringLiteral("!"));
    EXPECT_EQ(popover->readDelimiter(), '!');
    EXPECT_FALSE(picker->otherField()->isVisible());
    EXPECT_EQ(readDelimiterShown(), QStringLiteral("\u201C!\u201D"));
    EXPECT_TRUE(canReinterpret());

    pick(picker->comboBox(), QStringLiteral("Pipe  |"));
    EXPECT_EQ(popover->readDelimiter(), '|');
    EXPECT_EQ(picker->comboBox()->findText(QStringLiteral("\u201C!\u201D")), -1);
}

TEST_F(FormatPopoverTest, ANewDocumentReinterpretsItsOwnText) {
    openNew();
    makePopover();
    EXPECT_EQ(readDelimiterShown(), QStringLiteral("Comma  ,"));
    EXPECT_FALSE(canReinterpret());
    pick(popover->readDelimiterPicker()->comboBox(), QStringLiteral("Semicolon  ;"));
    reinterpret();
    EXPECT_EQ(confirmations, 0);
    EXPECT_EQ(rows()[0], (std::vector<std::string>{"Column 1,Column 2,Column 3"}));
}

TEST_F(FormatPopoverTest, MoreOffersTheOtherEncodingsToBothPickers) {
    // "Жар" in KOI8-R reads as three Latin-1 letters until reinterpreted.
    openPopover("name\n\xF6\xC1\xD2\n");
    const TextEncoding koi8 = *textEncodingNamed("KOI8-R");
    std::optional<TextEncoding> answer = koi8;
    for (EncodingPicker* picker : {popover->readEncodingPicker(), popover->saveEncodingPicker()})
        picker->setChooser([&answer](QWidget*, TextEncoding) { return answer; });

    pick(popover->saveEncodingPicker(), QStringLiteral("More\u2026"));
    EXPECT_EQ(format().encoding, koi8);
    EXPECT_EQ(popover->saveEncodingPicker()->currentText(), QStringLiteral("KOI8-R"));

    pick(popover->readEncodingPicker(), QStringLiteral("More\u2026"));
    EXPECT_EQ(popover->readEncoding(), koi8);
    reinterpret();
    EXPECT_EQ(cell(1, 0), "\xD0\x96\xD0\xB0\xD1\x80");
    EXPECT_EQ(document->report()->format.encoding, koi8);

    // Cancelling the list keeps what was chosen.
    answer.reset();
    pick(popover->readEncodingPicker(), QStringLiteral("More\u2026"));
    EXPECT_EQ(popover->readEncodingPicker()->currentText(), QStringLiteral("KOI8-R"));
    EXPECT_FALSE(canReinterpret());
}

TEST_F(FormatPopoverTest, ASuggestedEncodingIsOfferedInOneClickAndTurnsTheFormatSummaryOrange) {
    std::string shiftJIS;
    for (int i = 0; i < 10; ++i)
        shiftJIS +=
            std::to_string(i) +
            ",\x93\x8C\x8B\x9E\x93\x73\x82\xCC\x90\x6C\x8C\xFB\x82\xCD\x83\x4A\x83\x5E\x83\x4A\x83\x69\n";
    openPopover(shiftJIS);
    QWidget host;
    auto* bar = new StatusBar(session.get(), &host);
    EXPECT_TRUE(bar->formatButton()->isWarning());
    ASSERT_TRUE(popover->suggestionLabel()->isVisibleTo(popover));
    EXPECT_EQ(popover->suggestionLabel()->text(), QStringLiteral("This looks like Shift JIS."));

    QTest::mouseClick(popover->suggestionButton(), Qt::LeftButton);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(confirmations, 0);
    EXPECT_EQ(document->report()->format.encoding, TextEncoding::shiftJIS);
    EXPECT_EQ(cell(0, 1),
              "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE3\x81\xAE\xE4\xBA\xBA\xE5\x8F\xA3\xE3\x81\xAF"
              "\xE3\x82\xAB\xE3\x82\xBF\xE3\x82\xAB\xE3\x83\x8A");
    EXPECT_FALSE(popover->suggestionLabel()->isVisibleTo(popover));
    EXPECT_FALSE(bar->formatButton()->isWarning());
}
