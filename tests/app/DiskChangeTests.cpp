// Another program changes the open file: the window says so, Reload and Revert to
// Saved are undoable steps, and saving asks before overwriting the other program's work.
#include "ShellTestSupport.h"

#include "app/shell/DiskChangeBar.h"

#include <QPushButton>
#include <QUndoStack>

#include <cstdio>

namespace zarvel::test {
namespace {

class DiskChangeTest : public ShellTest {
protected:
    DocumentWindow* openEdited() {
        file = path(QStringLiteral("fruit.csv"));
        writeFile(file, "name,qty\napple,1\npear,2\n");
        DocumentWindow* window = controller->openFile(file);
        window->document()->apply(TableEdit::setCells({{1, 1, "5"}}), window->undoStack(),
                                  QStringLiteral("Edit Cell"));
        return window;
    }
    // Another program saving the way editors do: a new file renamed over the old one.
    void replaceByRename(const QByteArray& bytes) {
        const QString temporary = path(QStringLiteral(".fruit.tmp"));
        writeFile(temporary, bytes);
        ASSERT_EQ(std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(file).constData()),
                  0);
    }
    static bool barShown(DocumentWindow* window) { return !window->diskChangeBar()->isHidden(); }

    QString file;
};

TEST_F(DiskChangeTest, TheBarAppearsForRealChangesOnly) {
    DocumentWindow* window = openEdited();
    EXPECT_FALSE(barShown(window));

    // The same bytes written again are no change.
    writeFile(file, "name,qty\napple,1\npear,2\n");
    window->checkDisk();
    EXPECT_FALSE(barShown(window));

    writeFile(file, "name,qty\napple,1\npear,7\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return barShown(window); }, 5000)) << "the watcher noticed";
    window->diskChangeBar()->ignoreButton()->click();
    EXPECT_FALSE(barShown(window));
    window->checkDisk();
    EXPECT_FALSE(barShown(window)) << "an ignored change is not told again";

    // A replacement ends the watch on the old file; the watch follows the name, so a
    // later change written in place into the new file is noticed too.
    replaceByRename("name,qty\nfig,3\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return barShown(window); }, 5000));
    window->diskChangeBar()->ignoreButton()->click();
    QTest::qWait(3 * DiskChangeBar::settleMs); // let the notices of the rename pass
    ASSERT_FALSE(barShown(window));
    writeFile(file, "name,qty\nfig,5\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return barShown(window); }, 5000)) << "still watched after the rename";
}

TEST_F(DiskChangeTest, ReloadAndRevertToSavedAreOneUndoableStepEach) {
    for (const bool revert : {false, true}) {
        SCOPED_TRACE(revert ? "Revert to Saved" : "Reload");
        DocumentWindow* window = openEdited();
        if (!revert) {
            writeFile(file, "name,qty\napple,1\npear,9\n");
            window->checkDisk();
            ASSERT_TRUE(barShown(window));
            window->diskChangeBar()->reloadButton()->click();
        } else {
            ASSERT_TRUE(controller->revertToSaved(window));
        }
        const std::string disk = revert ? "2" : "9";
        EXPECT_EQ(cell(window, 1, 1), "1");
        EXPECT_EQ(cell(window, 2, 1), disk);
        EXPECT_FALSE(window->isWindowModified()) << "the window shows the file";
        EXPECT_FALSE(barShown(window));
        EXPECT_EQ(window->undoStack()->undoText(),
                  revert ? QStringLiteral("Revert to Saved") : QStringLiteral("Reload"));

        window->undoStack()->undo();
        EXPECT_EQ(cell(window, 1, 1), "5") << "the user's edit is back";
        EXPECT_TRUE(window->isWindowModified());
        window->undoStack()->redo();
        EXPECT_EQ(cell(window, 2, 1), disk);
        prompts->choices = {SaveChoice::dontSave};
        window->close();
    }
}

TEST_F(DiskChangeTest, SavingOverAnotherProgramsChangesAsksFirst) {
    DocumentWindow* window = openEdited();
    writeFile(file, "theirs\n");
    EXPECT_FALSE(controller->save(window)) << "Cancel is the default";
    EXPECT_EQ(prompts->askedToOverwrite, QStringList{QStringLiteral("fruit.csv")});
    EXPECT_EQ(readFile(file), "theirs\n");
    EXPECT_TRUE(window->isWindowModified());

    prompts->overwriteChoices = {OverwriteChoice::overwrite};
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(readFile(file), "name,qty\napple,5\npear,2\n");
    // The file is ours again: a further save asks nothing.
    window->document()->apply(TableEdit::setCells({{2, 1, "6"}}), window->undoStack(),
                              QStringLiteral("Edit Cell"));
    EXPECT_TRUE(controller->save(window));
    EXPECT_EQ(prompts->askedToOverwrite.size(), 2);
    EXPECT_EQ(readFile(file), "name,qty\napple,5\npear,6\n");
}

} // namespace
} // namespace zarvel::test
