// The document window as the user sees it: toolbar, menus, empty state, find bar and
// the commands that act on the focused window.
#include "ShellTestSupport.h"

#include "app/shell/EmptyStateView.h"
#include "app/shell/TableCommands.h"

#include <QAction>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QUndoStack>

namespace zarvel::test {
namespace {

std::unique_ptr<CSVDocument> documentOf(std::string_view text) {
    return CSVDocument::fromBytes(SharedBytes::copyOf(text));
}

// Each item as "title\tshortcut", dividers as "--".
QStringList describe(const QList<QAction*>& actions) {
    QStringList lines;
    for (QAction* action : actions)
        lines << (action->isSeparator() ? QStringLiteral("--")
                                        : action->text() + QLatin1Char('\t') + action->shortcut().toString());
    return lines;
}

TEST(DocumentWindow, ToolbarButtonsActOnTheWindowsTable) {
    DocumentWindow window(std::make_unique<CSVDocument>());
    ASSERT_TRUE(showAndActivate(&window));
    const QList<QAction*> items = window.toolBar()->actions();
    EXPECT_EQ(describe(items), (QStringList{"Add Row\t", "Add Column\t", "Delete\t", "Find\t", "Format\t"}));
    auto click = [&](int index) {
        QTest::mouseClick(window.toolBar()->widgetForAction(items[index]), Qt::LeftButton);
    };
    click(0);
    EXPECT_EQ(window.document()->table().rowCount(), 3);
    click(1);
    EXPECT_EQ(window.document()->table().columnCount(), 4);
    EXPECT_EQ(window.undoStack()->undoText(), QStringLiteral("Insert Column"));
    ASSERT_NE(items[2]->menu(), nullptr);
    EXPECT_EQ(describe(items[2]->menu()->actions()), (QStringList{"Delete Rows\t", "Delete Columns\t"}));
    items[2]->menu()->actions()[1]->trigger();
    EXPECT_EQ(window.document()->table().columnCount(), 3);

    EXPECT_FALSE(window.findBar()->isVisible());
    click(3);
    EXPECT_TRUE(window.findBar()->isVisible());
    click(4);
    EXPECT_TRUE(window.session()->isFormatPresented());
}

TEST(DocumentWindow, TheTableAndEditMenusListTheirCommandsInOrderWithTheirShortcuts) {
    DocumentWindow window(documentOf("1,2\n3,4\n")); // numbers only: no header row
    ASSERT_TRUE(showAndActivate(&window));
    QStringList titles;
    for (QAction* action : window.menuBar()->actions()) titles << action->text().remove(QLatin1Char('&'));
    ASSERT_EQ(titles, (QStringList{"File", "Edit", "Table"}));
    const QStringList edit = describe(window.menuBar()->actions()[1]->menu()->actions());
    const QStringList table = describe(window.menuBar()->actions()[2]->menu()->actions());
    EXPECT_EQ(table, (QStringList{"Insert Row Above\tAlt+Up", "Insert Row Below\tAlt+Down",
                                  "Insert Column Left\tAlt+Left", "Insert Column Right\tAlt+Right", "--",
                                  "Delete Rows\tCtrl+Backspace", "Delete Columns\tCtrl+Alt+Backspace", "--",
                                  "Move Column Left\t", "Move Column Right\t", "Sort Ascending by Column\t",
                                  "Sort Descending by Column\t", "--", "Use First Row as Header\t",
                                  "File Format…\t"}));
    EXPECT_EQ(edit.mid(0, 7), (QStringList{"Undo\tCtrl+Z", "Redo\tCtrl+Shift+Z", "--", "Cut\tCtrl+X", "Copy\tCtrl+C",
                                           "Paste\tCtrl+V", "Select All\tCtrl+A"}));
    EXPECT_EQ(edit.mid(edit.size() - 5), (QStringList{"--", "Find…\tCtrl+F", "Find and Replace…\tCtrl+Alt+F",
                                                      "Find Next\tCtrl+G", "Find Previous\tCtrl+Shift+G"}));

    // The header command's title follows the table's format.
    QAction* header = window.commands()->headerAction();
    header->trigger();
    EXPECT_TRUE(window.document()->table().format().hasHeader);
    EXPECT_EQ(header->text(), QStringLiteral("Treat First Row as Data"));
    EXPECT_EQ(window.undoAction()->text(), QStringLiteral("Undo Use First Row as Header"));
    window.undoAction()->trigger();
    EXPECT_EQ(header->text(), QStringLiteral("Use First Row as Header"));
}

TEST(DocumentWindow, TableCommandsAndTheirShortcutsActOnlyOnAFocusedDocument) {
    DocumentWindow window(documentOf("name\nx1\ny\nx2\n"));
    window.show();
    EditorSession* session = window.session();
    session->setQuery("x");
    session->search();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->find().matches.size() == 2; }));
    session->setSelection({{1, 0}, {1, 0}});

    QAction* findNext = window.commands()->findActions()[2];
    ASSERT_EQ(findNext->text(), QStringLiteral("Find Next"));
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(DocumentWindow::focusedSession(), nullptr);
    findNext->trigger();
    EXPECT_EQ(session->selection().active, (GridCell{1, 0}));
    EXPECT_EQ(window.document()->revision(), 0);

    ASSERT_TRUE(showAndActivate(&window));
    findNext->trigger();
    EXPECT_EQ(session->selection().active, (GridCell{2, 0}));

    session->setSelection({{0, 0}, {0, 0}});
    QTest::keyClick(window.gridView(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(window.document()->table().allRows(), (StringRows{{"name"}, {"x1"}, {""}, {"y"}, {"x2"}}));
    EXPECT_EQ(session->selection().active, (GridCell{1, 0}));
    QTest::keyClick(window.gridView(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(window.document()->table().allRows(), (StringRows{{"name"}, {"x1"}, {"y"}, {"x2"}}));
    QTest::keyClick(window.gridView(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(session->find().showsReplace);
}

TEST(DocumentWindow, EditMenuUndoCommitsACellStillBeingTypedAndCopyTakesTheGridsSelection) {
    DocumentWindow window(documentOf("a,b\n1,2\n3,4\n"));
    ASSERT_TRUE(showAndActivate(&window));
    typeOver(&window, 0, 1, "new");
    ASSERT_TRUE(window.session()->editing());

    window.undoAction()->trigger();
    EXPECT_FALSE(window.session()->editing());
    EXPECT_EQ(cell(&window, 1, 1), "2");
    EXPECT_EQ(window.redoAction()->text(), QStringLiteral("Redo Edit Cell"));
    window.redoAction()->trigger();
    EXPECT_EQ(cell(&window, 1, 1), "new");

    window.gridView()->setFocus();
    window.selectAllAction()->trigger();
    EXPECT_EQ(window.session()->selection(), (GridSelection{{0, 0}, {1, 1}}));
    window.copyAction()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("1\tnew\n3\t4\n"));
}

TEST(DocumentWindow, AFileWithNoColumnsShowsTheEmptyStateUntilAColumnIsAdded) {
    DocumentWindow window(documentOf(""));
    ASSERT_TRUE(showAndActivate(&window));
    ASSERT_TRUE(window.isShowingEmptyState());
    EXPECT_TRUE(window.emptyState()->isVisible());
    EXPECT_FALSE(window.gridView()->isVisible());

    QTest::mouseClick(window.emptyState()->addColumnButton(), Qt::LeftButton);
    EXPECT_EQ(window.document()->table().columnCount(), 1);
    EXPECT_EQ(window.document()->table().rowCount(), 1);
    EXPECT_FALSE(window.isShowingEmptyState());
    EXPECT_TRUE(window.gridView()->isVisible());
    window.undoAction()->trigger();
    EXPECT_TRUE(window.isShowingEmptyState());
}

} // namespace
} // namespace zarvel::test
