// Opening, saving and closing documents as a user does it through the File menu, with
// the dialogs answered from a script.
#include "ShellTestSupport.h"

#include "app/views/FormatPopover.h"

#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace zarvel::test {
namespace {

using DocumentControllerTest = ShellTest;

TEST_F(DocumentControllerTest, SaveAsTabSeparatedWritesTabsIncludingACellStillBeingTyped) {
    const QString source = path(QStringLiteral("small.csv"));
    const QByteArray original("id,name,city,amount,joined\n1,Ada,London,1234.50,2021-03-04\n");
    writeFile(source, original);
    DocumentWindow* window = controller->openFile(source);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(showAndActivate(window));

    typeOver(window, 0, 1, "Ada Lovelace"); // not committed: still a draft
    ASSERT_TRUE(window->session()->editing());
    const QString target = path(QStringLiteral("small.tsv"));
    prompts->saveTargets.push_back(SaveTarget{target, DocumentType::tabSeparatedText});
    ASSERT_TRUE(controller->saveAs(window));

    EXPECT_EQ(readFile(target),
              QByteArray("id\tname\tcity\tamount\tjoined\n1\tAda Lovelace\tLondon\t1234.50\t2021-03-04\n"));
    EXPECT_EQ(readFile(source), original);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("small.tsv[*]"));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_TRUE(prompts->errors.empty());

    // A plain Save now keeps writing the chosen type.
    typeOver(window, 0, 2, "Paris");
    ASSERT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(target),
              QByteArray("id\tname\tcity\tamount\tjoined\n1\tAda Lovelace\tParis\t1234.50\t2021-03-04\n"));
}

TEST_F(DocumentControllerTest, SaveKeepsTheDelimiterTheDocumentHasAndSaveAsAppliesTheTypeChosen) {
    using Change = std::function<void(DocumentWindow*)>;
    const Change editCell = [](DocumentWindow* w) { typeOver(w, 0, 0, "X"); };
    const Change tsvPreset = [](DocumentWindow* w) {
        w->formatPopover()->presetButton(QStringLiteral("TSV"))->click();
    };
    const struct {
        const char* opened;
        const char* bytes;
        Change change;
        const char* savedAs; // nullptr: a plain Save
        DocumentType filter; // the type left selected in the dialog
        DocumentType suggested;
        const char* written;
    } cases[] = {
        {"tabs.csv", "a\tb\n1\t2\n", editCell, nullptr, {}, {}, "a\tb\nX\t2\n"},
        {"commas.csv", "a,b\n1,2\n", tsvPreset, nullptr, {}, {}, "a\tb\n1\t2\n"},
        {"commas.csv", "a,b\n1,2\n", editCell, "out.tsv", DocumentType::commaSeparatedText,
         DocumentType::commaSeparatedText, "a\tb\nX\t2\n"},
        {"tabs.csv", "a\tb\n1\t2\n", editCell, "out.csv", DocumentType::tabSeparatedText,
         DocumentType::tabSeparatedText, "a,b\nX,2\n"},
        {"tabs.csv", "a\tb\n1\t2\n", tsvPreset, "out", DocumentType::pipeText, DocumentType::tabSeparatedText,
         "a|b\n1|2\n"},
        {"semis.txt", "a;b\n1;2\n", editCell, "out.dsv", DocumentType::tabSeparatedText,
         DocumentType::plainText, "a;b\nX;2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.opened) + " saved as " + (c.savedAs ? c.savedAs : "itself"));
        const QString file = path(QString::fromLatin1(c.opened));
        writeFile(file, c.bytes);
        DocumentWindow* window = controller->openFile(file);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(showAndActivate(window));
        c.change(window);
        QString written = file;
        if (c.savedAs) {
            written = path(QString::fromLatin1(c.savedAs));
            prompts->suggestions.clear();
            prompts->saveTargets.push_back(SaveTarget{written, c.filter});
            ASSERT_TRUE(controller->saveAs(window));
            ASSERT_EQ(prompts->suggestions.size(), 1u);
            EXPECT_EQ(prompts->suggestions[0].type, c.suggested);
            if (QFileInfo(written).suffix().isEmpty())
                written += QStringLiteral(".") + extensions(c.filter).value(0);
        } else {
            ASSERT_TRUE(controller->save(window));
        }
        EXPECT_EQ(readFile(written), QByteArray(c.written));
        EXPECT_FALSE(window->isWindowModified());
        window->close();
        QFile::remove(written);
    }
    EXPECT_TRUE(prompts->errors.empty());
}

TEST_F(DocumentControllerTest, SaveAsSuggestsTheTablesTypeAndAddsItsExtensionToABareName) {
    DocumentWindow* window = controller->openFile(examplePath("inventory.tsv"));
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(controller->saveAs(window)); // the user cancels the dialog
    DocumentWindow* untitled = controller->newDocument();
    prompts->saveTargets.push_back(SaveTarget{path(QStringLiteral("columns")), DocumentType::pipeText});
    ASSERT_TRUE(controller->save(untitled)); // an untitled document asks where to save
    ASSERT_EQ(prompts->suggestions.size(), 2u);
    EXPECT_EQ(prompts->suggestions[0].type, DocumentType::tabSeparatedText);
    EXPECT_TRUE(prompts->suggestions[0].path.endsWith(QStringLiteral("inventory.tsv")));
    EXPECT_EQ(prompts->suggestions[1].type, DocumentType::commaSeparatedText);
    EXPECT_TRUE(prompts->suggestions[1].path.endsWith(QStringLiteral("Untitled.csv")));
    EXPECT_EQ(readFile(path(QStringLiteral("columns.psv"))), QByteArray("Column 1|Column 2|Column 3\n||\n"));
    EXPECT_EQ(untitled->displayName(), QStringLiteral("columns.psv"));
}

TEST_F(DocumentControllerTest, AFailedSaveLeavesTheOldFileAndSaysWhyInPlainWords) {
    const QString file = copyExample("people.csv");
    const QByteArray before = readFile(file);
    DocumentWindow* window = controller->openFile(file);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(showAndActivate(window));
    EXPECT_FALSE(
        controller->saveTo(window, path(QStringLiteral("gone/new.csv")), DocumentType::commaSeparatedText));

    FileFormat latin = window->document()->table().format();
    latin.encoding = TextEncoding::isoLatin1;
    window->session()->changeFormat(latin);
    typeOver(window, 0, 1, "東京");
    EXPECT_FALSE(controller->save(window));

    EXPECT_EQ(readFile(file), before);
    ASSERT_EQ(prompts->errors.size(), 2u);
    EXPECT_EQ(prompts->errors[0].detail, QStringLiteral("The folder “gone” does not exist."));
    EXPECT_EQ(prompts->errors[1].message, QStringLiteral("The document could not be saved as “people.csv”."));
    EXPECT_EQ(prompts->errors[1].detail,
              QStringLiteral("Some characters of the table cannot be written in ISO-8859-1."));
    EXPECT_EQ(window->displayName(), QStringLiteral("people.csv"));
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_EQ(cell(window, 1, 1), "東京");
    // No leftovers of the attempt beside the file.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("people.csv")});
}

TEST_F(DocumentControllerTest, ClosingWithUnsavedChangesAsksAndFollowsTheAnswer) {
    const QByteArray original = readFile(examplePath("people.csv"));
    const struct {
        const char* file;
        SaveChoice choice;
        bool closes;
        bool saved;
    } cases[] = {{"cancel.csv", SaveChoice::cancel, false, false},
                 {"dont-save.csv", SaveChoice::dontSave, true, false},
                 {"save.csv", SaveChoice::save, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = copyExample("people.csv", c.file);
        QPointer<DocumentWindow> window = controller->openFile(file);
        ASSERT_TRUE(showAndActivate(window));
        typeOver(window, 0, 2, "Paris"); // still a draft when the question comes
        prompts->choices.push_back(c.choice);
        EXPECT_EQ(window->close(), c.closes);
        EXPECT_EQ(prompts->askedAbout.last(), QString::fromLatin1(c.file));
        if (c.saved)
            EXPECT_TRUE(
                readFile(file).startsWith("id,name,city,amount,joined\n1,Ada Lovelace,Paris,1234.50"));
        else
            EXPECT_EQ(readFile(file), original);
        if (c.closes) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }));
        } else {
            EXPECT_TRUE(window->isVisible());
            EXPECT_EQ(cell(window, 1, 2), "Paris") << "the draft was committed, not lost";
            EXPECT_TRUE(window->isWindowModified());
        }
    }
    EXPECT_EQ(controller->documentCount(), 1);
}

TEST_F(DocumentControllerTest, TheTitlesModifiedMarkFollowsEditsUndoAndSaving) {
    DocumentWindow* window = controller->openFile(copyExample("people.csv"));
    ASSERT_TRUE(showAndActivate(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("people.csv[*]"));
    EXPECT_FALSE(window->isWindowModified());

    typeOver(window, 0, 2, "Paris");
    QTest::keyClick(window->gridView(), Qt::Key_Return);
    EXPECT_TRUE(window->isWindowModified());
    window->undoAction()->trigger();
    EXPECT_FALSE(window->isWindowModified());
    window->redoAction()->trigger();
    EXPECT_TRUE(window->isWindowModified());

    ASSERT_TRUE(controller->save(window));
    EXPECT_FALSE(window->isWindowModified());
    window->undoAction()->trigger(); // now differs from the saved file
    EXPECT_TRUE(window->isWindowModified());
}

TEST_F(DocumentControllerTest, OpenAndDropOpenEveryFileOnceInItsOwnWindow) {
    prompts->filesToOpen.push_back(
        {examplePath("people.csv"), examplePath("inventory.tsv"), examplePath("people.csv")});
    controller->open();
    EXPECT_EQ(prompts->openPanels, 1);
    ASSERT_EQ(controller->documentCount(), 2);
    EXPECT_EQ(controller->windows()[0]->displayName(), QStringLiteral("people.csv"));
    EXPECT_EQ(controller->windows()[1]->displayName(), QStringLiteral("inventory.tsv"));
    EXPECT_FALSE(controller->isPanelOpen());

    DocumentWindow* window = controller->newDocument();
    ASSERT_TRUE(showAndActivate(window));
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromLocalFile(examplePath("people.csv")), QUrl::fromLocalFile(examplePath("bank-de.csv"))});
    const QPoint where = window->rect().center();
    QDragEnterEvent enter(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(where), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->documentCount() == 4; }));
    EXPECT_EQ(controller->windows().last()->displayName(), QStringLiteral("bank-de.csv"));
    EXPECT_EQ(window->displayName(), QStringLiteral("Untitled"));
}

// Saving an untitled document asks where; cancelling that dialog cancels the close too.
TEST_F(DocumentControllerTest, CloseAllStopsAtTheFirstCancelledClose) {
    DocumentWindow* first = controller->openFile(examplePath("people.csv"));
    DocumentWindow* second = controller->newDocument();
    DocumentWindow* third = controller->openFile(examplePath("inventory.tsv"));
    for (DocumentWindow* window : {first, second, third})
        window->session()->insertRow(false);
    prompts->choices = {SaveChoice::dontSave, SaveChoice::save};
    EXPECT_FALSE(controller->closeAll());
    EXPECT_EQ(prompts->askedAbout, (QStringList{"people.csv", "Untitled"}));
    EXPECT_EQ(controller->windows(), (QList<DocumentWindow*>{second, third}));
}

} // namespace
} // namespace zarvel::test

namespace zarvel::test {
namespace {

// Export Matching Rows writes the header and the rows shown, unedited ones byte for byte,
// in the type picked, and leaves the document as it was.
TEST_F(DocumentControllerTest, ExportMatchingRowsWritesTheShownRowsAndKeepsTheDocument) {
    const QString source = path(QStringLiteral("people.csv"));
    writeFile(source, QByteArray("id,name\r\n1,\"Ann\"\r\n2,Bob\r\n3,anna\r\n4,Joanne\r\n"));
    DocumentWindow* window = controller->openFile(source);
    ASSERT_NE(window, nullptr);
    EditorSession* session = window->session();
    session->setSelection({{3, 1}, {3, 1}});
    session->beginEditing(std::string("Jo Ann"));
    session->commitEditing(CommitMove::none);
    session->presentFind(false);
    session->setQuery("ann");
    bool done = false;
    QObject::connect(session, &EditorSession::searchFinished, session, [&] { done = true; });
    session->search();
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
    EXPECT_FALSE(controller->exportMatchingRows(window)) << "only with \"Only matching rows\" on";
    session->setShowsOnlyMatches(true);
    session->setSelection({{0, 0}, {1, 1}});
    EXPECT_EQ(session->copyText(true), "id\tname\n1\tAnn\n3\tanna\n");

    const QString csv = path(QStringLiteral("matching.csv"));
    prompts->saveTargets.push_back(SaveTarget{csv, DocumentType::commaSeparatedText});
    ASSERT_TRUE(controller->exportMatchingRows(window));
    EXPECT_EQ(readFile(csv), QByteArray("id,name\r\n1,\"Ann\"\r\n3,anna\r\n4,Jo Ann\r\n"));
    const QString tsv = path(QStringLiteral("matching"));
    prompts->saveTargets.push_back(SaveTarget{tsv, DocumentType::tabSeparatedText});
    ASSERT_TRUE(controller->exportMatchingRows(window));
    EXPECT_EQ(readFile(tsv + QStringLiteral(".tsv")),
              QByteArray("id\tname\r\n1\tAnn\r\n3\tanna\r\n4\tJo Ann\r\n"));

    EXPECT_TRUE(prompts->errors.empty());
    EXPECT_EQ(window->document()->filePath(), QFileInfo(source).absoluteFilePath());
    EXPECT_EQ(window->document()->table().format().dialect.delimiter, Byte::comma);
    EXPECT_EQ(session->displayedRowCount(), 3);
    EXPECT_EQ(window->undoStack()->count(), 1) << "the edit only";
}

} // namespace
} // namespace zarvel::test
