// Work on a worker while the window stays in use. Opening a large file: the window comes
// at once with the first rows, read-only, and the whole table replaces them when the
// worker is done; cancelling, closing, a file that fails late or shrinks while it is
// read all leave no window half made. Saving a large table: the file holds the snapshot
// taken when the save began, whatever the user does meanwhile. Replace All: worked out on
// a worker with progress and Cancel, the table for looking only until it lands.
#include "ShellTestSupport.h"

#include "app/views/CommandRegistry.h"
#include "app/views/StatusBar.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>

namespace zarvel::test {
namespace {

constexpr int64_t rowCount = 150000; // about 6 MB: well past what is read on the spot

QByteArray generatedTable() {
    QByteArray bytes("id,name,amount,note\n");
    bytes.reserve(rowCount * 42);
    for (int64_t i = 0; i < rowCount; ++i)
        bytes += QByteArray::number(i) + ",name " + QByteArray::number(i) + "," + QByteArray::number(i * 3) +
                 ".25,some words to make the line longer\n";
    return bytes;
}

class BackgroundOpenTest : public ShellTest {
protected:
    QString writeLarge(const QByteArray& bytes = generatedTable()) {
        const QString file = path(QStringLiteral("large.csv"));
        writeFile(file, bytes);
        return file;
    }
    static bool opening(DocumentWindow* window) { return window->session()->isOpening(); }
};

TEST_F(BackgroundOpenTest, TheWindowShowsTheFirstRowsReadOnlyThenTheWholeTable) {
    DocumentWindow* window = controller->openFile(writeLarge());
    ASSERT_NE(window, nullptr);
    // Nothing has run the event loop yet, so the worker's result cannot have landed.
    ASSERT_TRUE(opening(window));
    EXPECT_TRUE(window->isVisible());
    const CSVTable first = window->document()->table();
    EXPECT_GT(first.dataRowCount(), 100);
    EXPECT_LT(first.dataRowCount(), rowCount);
    EXPECT_EQ(first.value(1, 1), "name 0");
    EXPECT_FALSE(window->isShowingEmptyState());
    EXPECT_TRUE(window->statusStrip()->openingLabel()->text().startsWith(QStringLiteral("Opening… ")));
    EXPECT_TRUE(window->statusStrip()->cancelOpeningButton()->isVisibleTo(window));

    // The first rows are for looking only (checked before any event runs: the read may
    // land at the first one).
    typeOver(window, 0, 1, "x");
    EXPECT_FALSE(window->session()->editing());
    window->session()->insertRow(false);
    for (Command command : {Command::insertRowBelow, Command::deleteRows, Command::sortAscending,
                            Command::find, Command::paste, Command::fileFormat})
        EXPECT_FALSE(window->commands()->action(command)->isEnabled());
    EXPECT_TRUE(window->commands()->action(Command::copy)->isEnabled());
    EXPECT_FALSE(controller->save(window));
    EXPECT_EQ(window->document()->table().dataRowCount(), first.dataRowCount());

    QTRY_VERIFY_WITH_TIMEOUT(!opening(window), 60000);
    const CSVTable whole = window->document()->table();
    ASSERT_EQ(whole.dataRowCount(), rowCount);
    EXPECT_EQ(whole.value(rowCount, 1), "name " + std::to_string(rowCount - 1));
    EXPECT_EQ(window->session()->displayedRowCount(), rowCount);
    EXPECT_EQ(window->session()->layout().rowCount(), rowCount);
    ASSERT_TRUE(window->document()->report());
    EXPECT_TRUE(window->document()->originalData());
    EXPECT_EQ(window->document()->diskState(), DiskState::unchanged);
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(window->undoStack()->count(), 0);
    EXPECT_FALSE(window->statusStrip()->cancelOpeningButton()->isVisibleTo(window));
    EXPECT_TRUE(window->statusStrip()->sizeLabel()->text().startsWith(QStringLiteral("150,000 rows")));
    EXPECT_TRUE(window->commands()->action(Command::insertRowBelow)->isEnabled());
    EXPECT_TRUE(prompts->errors.empty());

    // Now it edits like any other.
    ASSERT_TRUE(showAndActivate(window));
    typeOver(window, 0, 1, "x");
    QTest::keyClick(window->gridView(), Qt::Key_Return);
    EXPECT_EQ(cell(window, 1, 1), "x");
    EXPECT_TRUE(window->isWindowModified());
}

TEST_F(BackgroundOpenTest, CancellingOrClosingAtAnyPointLeavesNothingBehind) {
    const QString file = writeLarge();
    enum class Stop { cancelAtOnce, cancelLater, closeWindow, quit };
    for (Stop stop : {Stop::cancelAtOnce, Stop::cancelLater, Stop::closeWindow, Stop::quit}) {
        SCOPED_TRACE(static_cast<int>(stop));
        DocumentWindow* window = controller->openFile(file);
        ASSERT_NE(window, nullptr);
        QPointer<CSVDocument> document = window->document();
        if (stop == Stop::cancelLater) QTest::qWait(20);
        if (stop == Stop::closeWindow)
            window->close();
        else if (stop == Stop::quit)
            controller->closeAll();
        else if (opening(window))
            window->statusStrip()->cancelOpeningButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(controller->windows().isEmpty() || !opening(window), 10000);
        if (!controller->windows().isEmpty()) { // the read won the race: a whole table, still there
            EXPECT_EQ(window->document()->table().dataRowCount(), rowCount);
            window->close();
        }
        QTRY_VERIFY(document.isNull()); // the document and the table it held are gone
        EXPECT_TRUE(prompts->errors.empty());
    }
    // A controller going away mid-read stops its worker too.
    ASSERT_NE(controller->openFile(file), nullptr);
    controller.reset();
}

TEST_F(BackgroundOpenTest, AFileThatFailsLateOrShrinksWhileReadOpensOrFailsCleanly) {
    // Text in UTF-16 that breaks off with a lone surrogate megabytes in: the error is
    // told in plain words and the window goes.
    QByteArray utf16("\xFF\xFE", 2);
    const QByteArray table = generatedTable().left(3 << 20);
    for (char c : table)
        utf16 += QByteArray(1, c) + QByteArray(1, '\0');
    utf16 += QByteArray("\x00\xD8"
                        "a\0\n\0",
                        6);
    DocumentWindow* window = controller->openFile(writeLarge(utf16));
    ASSERT_NE(window, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(controller->windows().isEmpty(), 60000);
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(prompts->errors[0].message, QStringLiteral("The document “large.csv” could not be opened."));
    EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The file is not valid text in UTF-16 LE."));
    prompts->errors.clear();

    // Cut short while being read: whatever was read opens, or the window goes with an error.
    const QString file = writeLarge();
    window = controller->openFile(file);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QFile::resize(file, 2 << 20));
    QTRY_VERIFY_WITH_TIMEOUT(controller->windows().isEmpty() || !opening(window), 60000);
    if (controller->windows().isEmpty()) {
        EXPECT_EQ(prompts->errors.size(), 1u);
    } else {
        const CSVTable read = window->document()->table();
        EXPECT_GT(read.dataRowCount(), 0);
        EXPECT_LE(read.dataRowCount(), rowCount);
        EXPECT_EQ(read.columnCount(), 4);
        EXPECT_TRUE(prompts->errors.empty());
    }
}

TEST_F(BackgroundOpenTest, ASaveOnAWorkerWritesItsSnapshotWhileTheUserGoesOnEditing) {
    controller->setBackgroundSaveThreshold(0); // every table saves on a worker
    const QString file = path(QStringLiteral("small.csv"));
    writeFile(file, "a,b\n1,2\n3,4\n");
    DocumentWindow* window = controller->openFile(file);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(showAndActivate(window));

    typeOver(window, 0, 0, "x"); // still a draft: the save takes it in
    ASSERT_TRUE(controller->save(window));
    ASSERT_TRUE(controller->isSaving(window)); // its end is taken in by the event loop only
    EXPECT_TRUE(window->statusStrip()->savingLabel()->isVisibleTo(window));
    typeOver(window, 0, 1, "y");
    QTest::keyClick(window->gridView(), Qt::Key_Tab);
    QTRY_VERIFY(!controller->isSaving(window));
    EXPECT_EQ(readFile(file), QByteArray("a,b\nx,2\n3,4\n"));
    EXPECT_EQ(cell(window, 1, 1), "y");
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_FALSE(window->statusStrip()->savingLabel()->isVisibleTo(window));

    // Closing while a save runs waits for it; the document is then saved, nothing to ask.
    ASSERT_TRUE(controller->save(window));
    ASSERT_TRUE(controller->isSaving(window));
    EXPECT_TRUE(controller->closeAll());
    EXPECT_TRUE(prompts->askedAbout.isEmpty());
    EXPECT_TRUE(prompts->errors.empty());
    EXPECT_EQ(readFile(file), QByteArray("a,b\nx,y\n3,4\n"));
}

TEST_F(BackgroundOpenTest, ReplaceAllOnAWorkerShowsProgressCancelsAndSavesItsChanges) {
    const QString file = path(QStringLiteral("replace.csv"));
    QByteArray bytes("id,city,note\n"), expected = bytes;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray n = QByteArray::number(i);
        bytes += i % 4 ? n + ",Porto,\"x, y\"\n" : n + ",Lyon,plain\n";
        // A replaced row is written anew, quoted where its cells need it; the others as read.
        expected += i % 4 ? n + ",\"Por,to\",\"x, y\"\n" : n + ",Lyon,plain\n";
    }
    writeFile(file, bytes);
    DocumentWindow* window = controller->openFile(file);
    ASSERT_NE(window, nullptr);
    QTRY_VERIFY(!opening(window));
    EditorSession* session = window->session();
    StatusBar* bar = window->statusStrip();
    session->presentFind(true);
    session->setReplacement("Por,to");
    session->setQuery("Porto"); // the find bar searches once typing pauses
    QTRY_COMPARE(session->find().matches.size(), size_t{15000});

    session->replaceAll();
    ASSERT_TRUE(session->isReplacing());
    EXPECT_TRUE(bar->replacingLabel()->text().startsWith(QStringLiteral("Replacing… ")));
    EXPECT_TRUE(bar->cancelReplacingButton()->isVisibleTo(window));
    for (Command command : {Command::undo, Command::paste, Command::deleteRows, Command::sortAscending,
                            Command::insertRowBelow, Command::trimSpaces})
        EXPECT_FALSE(window->commands()->action(command)->isEnabled());
    QTest::mouseClick(bar->cancelReplacingButton(), Qt::LeftButton);
    EXPECT_FALSE(session->isReplacing());
    EXPECT_FALSE(bar->cancelReplacingButton()->isVisibleTo(window));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents(); // the cancelled result would land here
    EXPECT_EQ(cell(window, 2, 1), "Porto");
    EXPECT_FALSE(window->isWindowModified());

    session->replaceAll();
    QTRY_VERIFY(!session->isReplacing());
    EXPECT_TRUE(window->commands()->action(Command::sortAscending)->isEnabled());
    EXPECT_EQ(cell(window, 2, 1), "Por,to");
    EXPECT_EQ(window->session()->undoManager()->undoText(), QStringLiteral("Replace All"));
    ASSERT_TRUE(controller->save(window));
    QTRY_VERIFY(!controller->isSaving(window));
    EXPECT_EQ(readFile(file), expected);

    // Closing the window while one runs stops it; nothing changes, nothing is asked.
    session->setQuery("Por,to");
    QTRY_COMPARE(session->find().matches.size(), size_t{15000});
    session->setReplacement("Porto");
    session->replaceAll();
    ASSERT_TRUE(session->isReplacing());
    EXPECT_TRUE(controller->closeAll());
    EXPECT_TRUE(prompts->askedAbout.isEmpty());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(readFile(file), expected);
}

// Reading a large file again runs on a worker as opening it does: the table stays as it
// was meanwhile, then the new read lands as one step; a cancel or a failure changes nothing.
TEST_F(BackgroundOpenTest, ReadingAFileAgainLandsAsOneStepOrChangesNothing) {
    const QString file = writeLarge();
    DocumentWindow* window = controller->openFile(file);
    ASSERT_NE(window, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!opening(window), 60000);
    window->document()->apply(TableEdit::setCells({{1, 1, "mine"}}), window->undoStack(),
                              QStringLiteral("Edit Cell"));
    QByteArray changed = generatedTable();
    changed.replace("0,name 0,", "0,theirs,");
    writeFile(file, changed);

    // Cancelled at once, then failing: the table, its undo steps and its report stay.
    const CSVTable before = window->document()->table();
    const ReadReport report = *window->document()->report();
    QByteArray utf16("\xFF\xFE", 2);
    for (char c : generatedTable().left(2 << 20))
        utf16 += QByteArray(1, c) + QByteArray(1, '\0');
    utf16 += QByteArray("\x00\xD8", 2); // a lone surrogate at the end
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failing" : "cancelled");
        if (fail) writeFile(file, utf16);
        ASSERT_TRUE(fail ? controller->reload(window) : controller->revertToSaved(window));
        ASSERT_TRUE(opening(window));
        EXPECT_TRUE(
            window->statusStrip()->openingLabel()->text().startsWith(QStringLiteral("Reading again… ")));
        window->session()->undo(); // waits for the read
        if (!fail) window->statusStrip()->cancelOpeningButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!opening(window), 60000);
        EXPECT_EQ(window->document()->table().allRows(), before.allRows());
        EXPECT_EQ(window->document()->report()->format, report.format);
        EXPECT_EQ(window->undoStack()->count(), 1);
        EXPECT_TRUE(window->isWindowModified());
        ASSERT_EQ(prompts->errors.size(), fail ? 1u : 0u);
        if (fail) {
            EXPECT_EQ(prompts->errors[0].message,
                      QStringLiteral("The document “large.csv” could not be read again."));
            EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The file is not valid text in UTF-16 LE."));
        }
    }
    prompts->errors.clear();

    writeFile(file, changed);
    ASSERT_TRUE(controller->reload(window));
    ASSERT_TRUE(opening(window));
    EXPECT_EQ(cell(window, 1, 1), "mine") << "the table stays until the read lands";
    QTRY_VERIFY_WITH_TIMEOUT(!opening(window), 60000);
    EXPECT_EQ(cell(window, 1, 1), "theirs");
    EXPECT_EQ(window->document()->table().dataRowCount(), rowCount);
    EXPECT_EQ(window->undoStack()->count(), 2);
    EXPECT_EQ(window->undoStack()->undoText(), QStringLiteral("Reload"));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(window->document()->diskState(), DiskState::unchanged);
    EXPECT_TRUE(window->statusStrip()->sizeLabel()->isVisibleTo(window));
    window->session()->undo();
    EXPECT_EQ(cell(window, 1, 1), "mine");
    EXPECT_EQ(cell(window, 2, 1), "name 1");
    EXPECT_TRUE(prompts->errors.empty());
}

// A first line longer than the head read for the first rows: the window shows an empty
// grid while the file is read, then the whole table.
TEST_F(BackgroundOpenTest, AFileWithoutALineEndInItsHeadFillsTheGridWhenRead) {
    QByteArray bytes = "long," + QByteArray(int(CSVDocument::previewBytes) + 1000, 'x') + ",c\n";
    bytes += generatedTable();
    DocumentWindow* window = controller->openFile(writeLarge(bytes));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(opening(window));
    EXPECT_EQ(window->document()->table().rowCount(), 0);
    EXPECT_FALSE(window->isShowingEmptyState());
    EXPECT_TRUE(window->statusStrip()->openingLabel()->isVisibleTo(window));
    window->session()->selectAll();
    window->gridView()->copy();
    window->gridView()->repaint();
    QTRY_VERIFY_WITH_TIMEOUT(!opening(window), 60000);
    EXPECT_EQ(window->document()->table().dataRowCount(), rowCount + 1);
    EXPECT_EQ(window->session()->layout().rowCount(), rowCount + 1);
    EXPECT_EQ(cell(window, 2, 1), "name 0");
    window->gridView()->repaint();
}

} // namespace
} // namespace zarvel::test
