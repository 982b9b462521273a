// The document window as the user sees it: toolbar, menus, empty state, find bar and
// the commands that act on the focused window.
#include "ShellTestSupport.h"

#include "app/shell/EmptyStateView.h"
#include "app/shell/TableCommands.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>

namespace zarvel::test {
namespace {

std::unique_ptr<CSVDocument> documentOf(std::string_view text) {
    return CSVDocument::fromBytes(SharedBytes::copyOf(text));
}

QMenu* menuTitled(QMainWindow* window, const QString& title) {
    for (QAction* action : window->menuBar()->actions())
        if (action->menu() && action->text().remove(QLatin1Char('&')) == title) return action->menu();
    return nullptr;
}

// Each item as "title\tshortcut", dividers as "--".
QStringList describe(const QList<QAction*>& actions) {
    QStringList lines;
    for (QAction* action : actions)
        lines << (action->isSeparator() ? QStringLiteral("--")
                                        : action->text() + QLatin1Char('\t') + action->shortcut().toString());
    return lines;
}

TEST(DocumentWindow, ToolbarItemsHaveTheirTitlesAndHelpTexts) {
    DocumentWindow window(std::make_unique<CSVDocument>());
    QStringList items;
    for (QAction* action : window.toolBar()->actions()) items << action->text() + QStringLiteral(" — ") + action->toolTip();
    EXPECT_EQ(items, (QStringList{
                         QStringLiteral("Add Row — Insert a row below the selection (⌥↓)"),
                         QStringLiteral("Add Column — Insert a column right of the selection (⌥→)"),
                         QStringLiteral("Delete — Delete the selected rows or columns"),
                         QStringLiteral("Find — Find and replace (⌘F)"),
                         QStringLiteral("Format — How the file is read and saved"),
                     }));
    QAction* remove = window.toolBar()->actions()[2];
    ASSERT_NE(remove->menu(), nullptr);
    EXPECT_EQ(describe(remove->menu()->actions()), (QStringList{QStringLiteral("Delete Rows\t"), QStringLiteral("Delete Columns\t")}));
    EXPECT_EQ(window.size(), QSize(1100, 720));
}

TEST(DocumentWindow, ToolbarButtonsActOnTheWindowsTable) {
    DocumentWindow window(std::make_unique<CSVDocument>());
    ASSERT_TRUE(showAndActivate(&window));
    auto click = [&](int index) {
        QTest::mouseClick(window.toolBar()->widgetForAction(window.toolBar()->actions()[index]), Qt::LeftButton);
    };
    click(0); // Add Row
    EXPECT_EQ(window.document()->table().rowCount(), 3);
    click(1); // Add Column
    EXPECT_EQ(window.document()->table().columnCount(), 4);
    EXPECT_EQ(window.undoStack()->undoText(), QStringLiteral("Insert Column"));

    EXPECT_FALSE(window.findBar()->isVisible());
    click(3); // Find
    EXPECT_TRUE(window.session()->find().isPresented);
    EXPECT_TRUE(window.findBar()->isVisible());
}

TEST(DocumentWindow, TheTableMenuListsItsCommandsInOrderWithTheirShortcuts) {
    DocumentWindow window(documentOf("a,b\n1,2\n"));
    QStringList menus;
    for (QAction* action : window.menuBar()->actions()) menus << action->text().remove(QLatin1Char('&'));
    EXPECT_EQ(menus, (QStringList{QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("Table")}));

    QMenu* table = menuTitled(&window, QStringLiteral("Table"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(describe(table->actions()), (QStringList{
                                              QStringLiteral("Insert Row Above\tAlt+Up"),
                                              QStringLiteral("Insert Row Below\tAlt+Down"),
                                              QStringLiteral("Insert Column Left\tAlt+Left"),
                                              QStringLiteral("Insert Column Right\tAlt+Right"),
                                              QStringLiteral("--"),
                                              QStringLiteral("Delete Rows\tCtrl+Backspace"),
                                              QStringLiteral("Delete Columns\tCtrl+Alt+Backspace"),
                                              QStringLiteral("--"),
                                              QStringLiteral("Move Column Left\t"),
                                              QStringLiteral("Move Column Right\t"),
                                              QStringLiteral("Sort Ascending by Column\t"),
                                              QStringLiteral("Sort Descending by Column\t"),
                                              QStringLiteral("--"),
                                              QStringLiteral("Treat First Row as Data\t"),
                                              QStringLiteral("File Format…\t"),
                                          }));

    QMenu* edit = menuTitled(&window, QStringLiteral("Edit"));
    ASSERT_NE(edit, nullptr);
    const QStringList editItems = describe(edit->actions());
    EXPECT_EQ(editItems.mid(editItems.size() - 5), (QStringList{
                                                        QStringLiteral("--"),
                                                        QStringLiteral("Find…\tCtrl+F"),
                                                        QStringLiteral("Find and Replace…\tCtrl+Alt+F"),
                                                        QStringLiteral("Find Next\tCtrl+G"),
                                                        QStringLiteral("Find Previous\tCtrl+Shift+G"),
                                                    }));
    EXPECT_EQ(editItems.mid(0, 7), (QStringList{
                                       QStringLiteral("Undo\tCtrl+Z"),
                                       QStringLiteral("Redo\tCtrl+Shift+Z"),
                                       QStringLiteral("--"),
                                       QStringLiteral("Cut\tCtrl+X"),
                                       QStringLiteral("Copy\tCtrl+C"),
                                       QStringLiteral("Paste\tCtrl+V"),
                                       QStringLiteral("Select All\tCtrl+A"),
                                   }));
}

TEST(DocumentWindow, TheHeaderCommandsTitleFollowsTheTablesFormat) {
    DocumentWindow window(documentOf("1,2\n3,4\n")); // numbers only: no header row
    ASSERT_TRUE(showAndActivate(&window));
    QAction* header = window.commands()->headerAction();
    EXPECT_EQ(header->text(), QStringLiteral("Use First Row as Header"));

    header->trigger();
    EXPECT_TRUE(window.document()->table().format().hasHeader);
    EXPECT_EQ(header->text(), QStringLiteral("Treat First Row as Data"));
    EXPECT_EQ(window.undoAction()->text(), QStringLiteral("Undo Use First Row as Header"));

    window.undoAction()->trigger();
    EXPECT_EQ(header->text(), QStringLiteral("Use First Row as Header"));
    EXPECT_EQ(window.redoAction()->text(), QStringLiteral("Redo Use First Row as Header"));
}

TEST(DocumentWindow, TableCommandsActOnlyOnAFocusedDocument) {
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
}

TEST(DocumentWindow, TheTableMenuShortcutsReachTheFocusedWindow) {
    DocumentWindow window(documentOf("a,b\n1,2\n3,4\n"));
    ASSERT_TRUE(showAndActivate(&window));
    window.session()->setSelection({{0, 0}, {0, 0}});
    QTest::keyClick(window.gridView(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(window.document()->table().dataRowCount(), 3);
    QTest::keyClick(window.gridView(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(window.document()->table().dataRowCount(), 2);
    QTest::keyClick(window.gridView(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(window.session()->find().isPresented);
    EXPECT_TRUE(window.session()->find().showsReplace);
}

TEST(DocumentWindow, UndoCommitsACellStillBeingTypedAndRedoBringsItBack) {
    DocumentWindow window(documentOf("a,b\n1,2\n"));
    ASSERT_TRUE(showAndActivate(&window));
    typeOver(&window, 0, 1, "new");
    ASSERT_TRUE(window.session()->editing());

    window.undoAction()->trigger();
    EXPECT_FALSE(window.session()->editing());
    EXPECT_EQ(cell(&window, 1, 1), "2");
    EXPECT_EQ(window.redoAction()->text(), QStringLiteral("Redo Edit Cell"));
    window.redoAction()->trigger();
    EXPECT_EQ(cell(&window, 1, 1), "new");
    EXPECT_EQ(window.undoAction()->text(), QStringLiteral("Undo Edit Cell"));
}

TEST(DocumentWindow, EditMenuCopiesTheGridsSelectionAndSelectsAll) {
    DocumentWindow window(documentOf("a,b\n1,2\n3,4\n"));
    ASSERT_TRUE(showAndActivate(&window));
    window.gridView()->setFocus();
    window.selectAllAction()->trigger();
    EXPECT_EQ(window.session()->selection(), (GridSelection{{0, 0}, {1, 1}}));
    window.copyAction()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("1\t2\n3\t4\n"));
}

TEST(DocumentWindow, AFileWithNoColumnsShowsTheEmptyStateUntilAColumnIsAdded) {
    DocumentWindow window(documentOf(""));
    ASSERT_TRUE(showAndActivate(&window));
    ASSERT_TRUE(window.isShowingEmptyState());
    EXPECT_TRUE(window.emptyState()->isVisible());
    EXPECT_FALSE(window.gridView()->isVisible());
    EXPECT_EQ(window.emptyState()->titleLabel()->text(), QStringLiteral("Empty File"));
    EXPECT_EQ(window.emptyState()->descriptionLabel()->text(), QStringLiteral("This file has no data yet."));

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
