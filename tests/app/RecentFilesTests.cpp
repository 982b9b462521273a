// What the program remembers between runs: File ▸ Open Recent, the dialogs' folder and
// the window's place. main() points the settings at a scratch folder.
#include "ShellTestSupport.h"

#include "app/shell/RecentFiles.h"

#include <QMenu>
#include <QMenuBar>
#include <QSettings>

namespace zarvel::test {
namespace {

class RecentFilesTest : public ShellTest {
protected:
    void SetUp() override {
        QSettings().clear();
        ShellTest::SetUp();
    }
    void TearDown() override {
        ShellTest::TearDown();
        QSettings().clear();
    }

    static QMenu* recentMenu(DocumentWindow* window) {
        auto* menu = window->menuBar()->findChild<QMenu*>(QStringLiteral("openRecentMenu"));
        if (menu) Q_EMIT menu->aboutToShow();
        return menu;
    }
    static QStringList titles(QMenu* menu) {
        QStringList result;
        for (QAction* action : menu->actions())
            result << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return result;
    }
};

TEST_F(RecentFilesTest, OpenRecentListsTheLastTenMostRecentFirstAndForgetsWhatIsGoneOrCleared) {
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        files << path(QStringLiteral("f%1.csv").arg(i));
        writeFile(files.last(), "a,b\n1,2\n");
        ASSERT_NE(controller->openFile(files.last()), nullptr);
    }
    // Opening again moves a file to the top rather than listing it twice; saving
    // under a new name lists that name.
    ASSERT_NE(controller->openFile(files[5]), nullptr);
    DocumentWindow* window = controller->windows().first();
    const QString savedAs = path(QStringLiteral("saved & renamed.csv"));
    prompts->saveTargets.push_back(SaveTarget{savedAs, DocumentType::commaSeparatedText});
    ASSERT_TRUE(controller->saveAs(window));

    const QStringList expected{savedAs,  files[5], files[11], files[10], files[9],
                               files[8], files[7], files[6],  files[4],  files[3]};
    EXPECT_EQ(RecentFiles::paths(), expected);
    EXPECT_EQ(RecentFiles::lastFolder(), folder.path());

    QMenu* menu = recentMenu(window);
    ASSERT_NE(menu, nullptr);
    const QStringList shown = titles(menu);
    ASSERT_EQ(shown.size(), 12);
    EXPECT_EQ(shown[0], QStringLiteral("saved && renamed.csv — ") + folder.path());
    EXPECT_EQ(shown[1], QStringLiteral("f5.csv — ") + folder.path());
    EXPECT_EQ(shown.mid(10), (QStringList{"-", "Clear Menu"}));

    // Choosing an entry opens it (here: brings its window forward).
    const int before = controller->documentCount();
    menu->actions()[3]->trigger(); // f10
    EXPECT_EQ(controller->documentCount(), before);

    // A file deleted since: a plain message, and the entry is gone.
    ASSERT_TRUE(QFile::remove(files[9]));
    recentMenu(window)->actions()[4]->trigger();
    ASSERT_EQ(prompts->errors.size(), 1u);
    EXPECT_EQ(prompts->errors[0].message, QStringLiteral("The file “f9.csv” no longer exists."));
    EXPECT_FALSE(RecentFiles::paths().contains(files[9]));
    EXPECT_EQ(RecentFiles::paths().size(), 9);
    EXPECT_EQ(controller->documentCount(), before);

    // Clear Menu leaves only itself, disabled, in every window's menu.
    recentMenu(window)->actions().last()->trigger();
    EXPECT_TRUE(RecentFiles::paths().isEmpty());
    QMenu* other = recentMenu(controller->windows().last());
    EXPECT_EQ(titles(other), (QStringList{"-", "Clear Menu"}));
    EXPECT_FALSE(other->actions().last()->isEnabled());
}

TEST_F(RecentFilesTest, TheNextWindowStandsWhereTheLastOneClosedAndTheDialogsStartInTheLastFolder) {
    DocumentWindow* first = controller->newDocument();
    first->setGeometry(QRect(130, 140, 800, 500));
    const QRect kept = first->geometry();
    ASSERT_TRUE(first->close());
    QApplication::processEvents();

    // A later run: a new controller, as at the next start.
    controller.reset();
    auto owned = std::make_unique<ScriptedPrompts>();
    prompts = owned.get();
    controller = std::make_unique<DocumentController>(std::move(owned));
    DocumentWindow* next = controller->newDocument();
    EXPECT_EQ(next->geometry(), kept);
    // A second window does not hide the first.
    DocumentWindow* beside = controller->newDocument();
    EXPECT_EQ(beside->size(), kept.size());
    EXPECT_NE(beside->pos(), next->pos());

    // The open dialog starts where the last file came from, in a later run too.
    writeFile(path(QStringLiteral("x.csv")), "a\n");
    ASSERT_NE(controller->openFile(path(QStringLiteral("x.csv"))), nullptr);
    owned = std::make_unique<ScriptedPrompts>();
    prompts = owned.get();
    controller = std::make_unique<DocumentController>(std::move(owned));
    controller->open();
    EXPECT_EQ(prompts->openPanelFolder, folder.path());
}

} // namespace
} // namespace zarvel::test
