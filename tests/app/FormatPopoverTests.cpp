// The format popover as a user drives it: save settings apply at once and undo; read
// settings only take effect through "Reinterpret", which asks first when edits would be
// replaced.
#include "SessionTestSupport.h"

#include "app/views/FormatPopover.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using namespace zarvel;
using zarvel::test::waitUntil;

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
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        anchor = new QPushButton(QStringLiteral("Format"), host.get());
        layout->addWidget(anchor);
        host->resize(500, 80);
        host->show();
        popover = new FormatPopover(session.get(), anchor);
        // Unless a test answers the real dialog, asking is a failure.
        popover->setConfirmation([this] {
            ++confirmations;
            return answer;
        });
        session->setFormatPresented(true);
    }
    void TearDown() override {
        host.reset();
        QLocale::setDefault(QLocale::c());
    }

    FileFormat format() const { return table().format(); }
    void reinterpret() {
        ASSERT_TRUE(popover->reinterpretButton()->isEnabled());
        QTest::mouseClick(popover->reinterpretButton(), Qt::LeftButton);
        ASSERT_TRUE(waitIdle());
    }

    std::unique_ptr<QWidget> host;
    QPushButton* anchor = nullptr;
    FormatPopover* popover = nullptr;
    int confirmations = 0;
    bool answer = true;
};

} // namespace

TEST_F(FormatPopoverTest, BoundToTheSessionBothWays) {
    openPopover("a,b\n1,2\n");
    EXPECT_TRUE(popover->isVisible());
    QTest::keyClick(popover, Qt::Key_Escape);
    EXPECT_FALSE(popover->isVisible());
    EXPECT_FALSE(session->isFormatPresented());

    session->setFormatPresented(true);
    EXPECT_TRUE(popover->isVisible());
    session->setFormatPresented(false);
    EXPECT_FALSE(popover->isVisible());
}

TEST_F(FormatPopoverTest, SaveDelimiterAppliesAtOnceAndUndoes) {
    openPopover("a,b\n1,2\n");
    pick(popover->saveDelimiterPicker()->comboBox(), QStringLiteral("Semicolon  ;"));
    EXPECT_EQ(format().dialect.delimiter, Byte::semicolon);
    EXPECT_EQ(undoText(), QStringLiteral("Change File Format"));

    // Saving differently is no reason to read again: the file was read with commas.
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());
    EXPECT_EQ(popover->readDelimiterPicker()->comboBox()->currentText(), QStringLiteral("Comma  ,"));

    session->undo();
    EXPECT_EQ(format().dialect.delimiter, Byte::comma);
    EXPECT_EQ(popover->saveDelimiterPicker()->comboBox()->currentText(), QStringLiteral("Comma  ,"));
    EXPECT_FALSE(undo.canUndo());
}

TEST_F(FormatPopoverTest, EncodingWithoutByteOrderMarkTurnsTheMarkOff) {
    openPopover("\xEF\xBB\xBF" "a,b\n1,2\n");
    ASSERT_TRUE(format().hasBOM);
    EXPECT_TRUE(popover->bomToggle()->isChecked());
    EXPECT_TRUE(popover->bomToggle()->isEnabled());

    pick(popover->saveEncodingPicker(), QStringLiteral("Windows-1252"));
    EXPECT_EQ(format().encoding, TextEncoding::windows1252);
    EXPECT_FALSE(format().hasBOM);
    EXPECT_FALSE(popover->bomToggle()->isChecked());
    EXPECT_FALSE(popover->bomToggle()->isEnabled());

    session->undo(); // one step brings back both
    EXPECT_EQ(format().encoding, TextEncoding::utf8);
    EXPECT_TRUE(format().hasBOM);
    EXPECT_TRUE(popover->bomToggle()->isChecked());

    QTest::mouseClick(popover->bomToggle(), Qt::LeftButton);
    EXPECT_FALSE(format().hasBOM);
}

TEST_F(FormatPopoverTest, PresetsReplaceTheOutputButKeepTheHeaderFlag) {
    openPopover("id,name\n1,Ann\n2,Bo\n");
    ASSERT_TRUE(format().hasHeader);
    QTest::mouseClick(popover->presetButton(QStringLiteral("TSV")), Qt::LeftButton);
    EXPECT_EQ(format().dialect.delimiter, Byte::tab);
    EXPECT_TRUE(format().hasHeader);
    EXPECT_EQ(popover->saveDelimiterPicker()->comboBox()->currentText(), QStringLiteral("Tab"));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTest::mouseClick(popover->presetButton(QStringLiteral("Excel")), Qt::LeftButton);
    EXPECT_EQ(format().dialect.delimiter, Byte::semicolon) << "decimal commas call for semicolons";
    EXPECT_TRUE(format().hasBOM);
    EXPECT_EQ(format().lineEnding, FileFormat::LineEnding::crlf);
    EXPECT_EQ(popover->lineEndingPicker()->currentText(), QStringLiteral("CRLF (Windows)"));

    pick(popover->lineEndingPicker(), QStringLiteral("CR (classic Mac)"));
    pick(popover->quotingPicker(), QStringLiteral("Every field"));
    EXPECT_EQ(format().lineEnding, FileFormat::LineEnding::cr);
    EXPECT_EQ(format().quoting, FileFormat::Quoting::all);

    QTest::mouseClick(popover->presetButton(QStringLiteral("Standard")), Qt::LeftButton);
    FileFormat expected = FileFormat::standard();
    EXPECT_EQ(format(), expected);
}

TEST_F(FormatPopoverTest, ReinterpretingAnUneditedFileDoesNotAsk) {
    openPopover("name,x\nJos\xC3\xA9,1\n");
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());
    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));
    reinterpret();
    EXPECT_EQ(confirmations, 0);
    EXPECT_EQ(cell(1, 0), "Jos\xC3\x83\xC2\xA9");
    EXPECT_EQ(undoText(), QStringLiteral("Reinterpret File"));
    EXPECT_EQ(document->report()->format.encoding, TextEncoding::isoLatin1);
    // The file is now read as chosen: nothing left to reinterpret.
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());
}

TEST_F(FormatPopoverTest, ReinterpretingAfterAnEditAsksInADialog) {
    openPopover("name,x\nJos\xC3\xA9,1\n");
    popover->setConfirmation({}); // the real dialog
    select(0, 1);
    session->beginEditing("2");
    session->commitEditing(CommitMove::none);
    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));

    QString title, message;
    QString button = QStringLiteral("Cancel");
    QTimer answerer;
    answerer.setInterval(10);
    QObject::connect(&answerer, &QTimer::timeout, &answerer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        title = box->text();
        message = box->informativeText();
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove(QLatin1Char('&')) == button) b->click();
    });
    answerer.start();

    QTest::mouseClick(popover->reinterpretButton(), Qt::LeftButton);
    EXPECT_EQ(title, QStringLiteral("Reinterpret the file?"));
    EXPECT_EQ(message, QStringLiteral("The original file is read again with the new settings. Your edits are replaced, "
                                      "but you can undo this."));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(cell(1, 1), "2") << "cancelled: the edit stays";
    EXPECT_EQ(undoText(), QStringLiteral("Edit Cell"));
    EXPECT_TRUE(popover->isVisible()) << "the panel comes back after the dialog";
    EXPECT_TRUE(session->isFormatPresented());

    title.clear();
    button = QStringLiteral("Reinterpret");
    QTest::mouseClick(popover->reinterpretButton(), Qt::LeftButton);
    EXPECT_EQ(title, QStringLiteral("Reinterpret the file?"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(cell(1, 1), "1");
    EXPECT_EQ(cell(1, 0), "Jos\xC3\x83\xC2\xA9");
    session->undo();
    EXPECT_EQ(cell(1, 1), "2") << "undo brings the edit back";
    EXPECT_EQ(cell(1, 0), "Jos\xC3\xA9");
}

TEST_F(FormatPopoverTest, AFailedReadShowsTheErrorAndKeepsTheChoice) {
    openPopover("a,b\n1,2\n");
    pick(popover->readEncodingPicker(), QStringLiteral("UTF-32 LE"));
    reinterpret();
    ASSERT_TRUE(popover->errorMessage().has_value());
    EXPECT_TRUE(popover->errorLabel()->isVisible());
    EXPECT_EQ(popover->errorLabel()->text(), QStringLiteral("The file cannot be read as UTF-32 LE."));
    EXPECT_EQ(rows(), (StringRows{{"a", "b"}, {"1", "2"}}));
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(popover->readEncoding(), TextEncoding::utf32LittleEndian);
    EXPECT_EQ(popover->readEncodingPicker()->currentText(), QStringLiteral("UTF-32 LE"));

    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));
    reinterpret();
    EXPECT_FALSE(popover->errorLabel()->isVisible());
}

TEST_F(FormatPopoverTest, ReinterpretingKeepsTheBackslashEscape) {
    openPopover("a,b\n\"say \\\"hi\\\"\",z\n");
    ASSERT_EQ(document->report()->format.dialect.escape, CSVDialect::Escape::backslash);
    ASSERT_EQ(cell(1, 0), "say \"hi\"");
    pick(popover->readEncodingPicker(), QStringLiteral("ISO-8859-1"));
    reinterpret();
    EXPECT_EQ(document->report()->format.dialect.escape, CSVDialect::Escape::backslash);
    EXPECT_EQ(cell(1, 0), "say \"hi\"");
    EXPECT_EQ(cell(1, 1), "z");
}

TEST_F(FormatPopoverTest, OtherDelimiterTakesOneAsciiCharacter) {
    openPopover("sep=#\na#b\n1#2\n");
    auto* picker = popover->readDelimiterPicker();
    EXPECT_EQ(picker->comboBox()->currentText(), QStringLiteral("\u201C#\u201D"));
    EXPECT_EQ(popover->saveDelimiterPicker()->comboBox()->currentText(), QStringLiteral("\u201C#\u201D"));

    pick(picker->comboBox(), QStringLiteral("Other"));
    ASSERT_TRUE(picker->otherField()->isVisible());
    QTest::keyClicks(picker->otherField(), "ab");
    QTest::keyClick(picker->otherField(), Qt::Key_Return);
    EXPECT_EQ(popover->readDelimiter(), '#');
    EXPECT_TRUE(picker->otherField()->text().isEmpty());
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());

    picker->otherField()->insert(QStringLiteral("\u00E9")); // pasted: keyClicks is ASCII only
    QTest::keyClick(picker->otherField(), Qt::Key_Return);
    EXPECT_EQ(popover->readDelimiter(), '#');

    QTest::keyClicks(picker->otherField(), "!");
    QTest::keyClick(picker->otherField(), Qt::Key_Return);
    EXPECT_EQ(popover->readDelimiter(), '!');
    EXPECT_TRUE(picker->otherField()->text().isEmpty());
    EXPECT_FALSE(picker->otherField()->isVisible());
    EXPECT_EQ(picker->comboBox()->currentText(), QStringLiteral("\u201C!\u201D"));
    EXPECT_TRUE(popover->reinterpretButton()->isEnabled());

    pick(picker->comboBox(), QStringLiteral("Pipe  |"));
    EXPECT_EQ(popover->readDelimiter(), '|');
    EXPECT_EQ(picker->comboBox()->findText(QStringLiteral("\u201C!\u201D")), -1);
}

TEST_F(FormatPopoverTest, ReadSettingsStartFromTheReportEachTimeThePanelOpens) {
    openPopover("a;b\n1;2\n");
    EXPECT_EQ(popover->readDelimiterPicker()->comboBox()->currentText(), QStringLiteral("Semicolon  ;"));
    pick(popover->readQuotePicker(), QStringLiteral("None"));
    EXPECT_TRUE(popover->reinterpretButton()->isEnabled());
    session->setFormatPresented(false);
    session->setFormatPresented(true);
    EXPECT_EQ(popover->readQuotePicker()->currentText(), QStringLiteral("Double quote  \""));
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());
}

TEST_F(FormatPopoverTest, ANewDocumentReinterpretsItsOwnText) {
    openNew();
    makePopover();
    EXPECT_EQ(popover->readDelimiterPicker()->comboBox()->currentText(), QStringLiteral("Comma  ,"));
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());
    pick(popover->readDelimiterPicker()->comboBox(), QStringLiteral("Semicolon  ;"));
    reinterpret();
    EXPECT_EQ(confirmations, 0);
    EXPECT_EQ(table().columnCount(), 1);
    EXPECT_EQ(cell(0, 0), "Column 1,Column 2,Column 3");
}

TEST_F(FormatPopoverTest, HeaderToggleIsTheHeaderCommand) {
    openPopover("id,name\n1,Ann\n");
    ASSERT_TRUE(popover->headerToggle()->isChecked());
    QTest::mouseClick(popover->headerToggle(), Qt::LeftButton);
    EXPECT_FALSE(format().hasHeader);
    EXPECT_FALSE(popover->headerToggle()->isChecked());
    EXPECT_EQ(undoText(), QStringLiteral("Treat First Row as Data"));
    EXPECT_FALSE(popover->reinterpretButton()->isEnabled());
    session->undo();
    EXPECT_TRUE(popover->headerToggle()->isChecked());
}
