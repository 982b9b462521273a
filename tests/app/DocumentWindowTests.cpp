// The document window as the user sees it: toolbar, menus, empty state, find bar and
// the commands that act on the focused window.
#include "ShellTestSupport.h"

#include "app/shell/EmptyStateView.h"
#include "app/shell/HelpWindows.h"
#include "app/views/CellEditor.h"
#include "app/views/ColumnHeaderView.h"
#include "app/views/CommandRegistry.h"
#include "app/views/FormatPopover.h"
#include "app/views/StatusBar.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTextDocument>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>
#include <QUndoStack>
#include <QWindow>

#include <unicode/uvernum.h>

namespace zarvel::test {
namespace {

using DocumentWindowShellTest = ShellTest;

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
    QStringList titles;
    for (QAction* item : items)
        titles << item->iconText();
    EXPECT_EQ(titles, (QStringList{"Add Row", "Add Column", "Delete", "Find", "Format"}));
    // The same objects as the menu bar's commands.
    EXPECT_EQ(items[0], window.commands()->action(Command::insertRowBelow));
    EXPECT_EQ(items[3], window.commands()->action(Command::find));
    auto click = [&](int index) {
        QTest::mouseClick(window.toolBar()->widgetForAction(items[index]), Qt::LeftButton);
    };
    click(0);
    EXPECT_EQ(window.document()->table().rowCount(), 3);
    click(1);
    EXPECT_EQ(window.document()->table().columnCount(), 4);
    EXPECT_EQ(window.undoStack()->undoText(), QStringLiteral("Insert Column"));
    ASSERT_NE(items[2]->menu(), nullptr);
    EXPECT_EQ(describe(items[2]->menu()->actions()),
              (QStringList{"Delete Row\tCtrl+Backspace", "Delete Column\tCtrl+-"}));
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
    for (QAction* action : window.menuBar()->actions())
        titles << action->text().remove(QLatin1Char('&'));
    ASSERT_EQ(titles, (QStringList{"File", "Edit", "Table", "View", "Help"}));
    const QStringList edit = describe(window.menuBar()->actions()[1]->menu()->actions());
    const QStringList table = describe(window.menuBar()->actions()[2]->menu()->actions());
    EXPECT_EQ(table, (QStringList{"Insert Row Above\tAlt+Up", "Insert Row Below\tAlt+Down",
                                  "Insert Column Left\tAlt+Left", "Insert Column Right\tAlt+Right", "--",
                                  "Delete Row\tCtrl+Backspace", "Delete Column\tCtrl+-", "--",
                                  "Move Column Left\t", "Move Column Right\t", "Sort Ascending by Column\t",
                                  "Sort Descending by Column\t", "--", "Use First Row as Header\t",
                                  "File Format…\t", "--", "Pad Short Rows\t", "Trim Spaces\t"}));
    EXPECT_EQ(edit.mid(0, 8),
              (QStringList{"Undo\tCtrl+Z", "Redo\tCtrl+Shift+Z", "--", "Cut\tCtrl+X", "Copy\tCtrl+C",
                           "Copy with Column Titles\t", "Paste\tCtrl+V", "Select All\tCtrl+A"}));
    EXPECT_EQ(edit.mid(8),
              (QStringList{"--", "Find…\tCtrl+F", "Find and Replace…\tCtrl+Alt+F", "Find Next\tCtrl+G",
                           "Find Previous\tCtrl+Shift+G", "--", "Go to Row…\tCtrl+L", "Fill Down\tCtrl+D"}));

    // The header command's title follows the table's format.
    QAction* header = window.commands()->action(Command::toggleHeader);
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

    QAction* findNext = window.commands()->action(Command::findNext);
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

TEST(DocumentWindow, TheFilesOwnTextShowsAsTypedNeverAsMarkup) {
    const QString markup =
        QStringLiteral("<font color=red size=6>PAID IN FULL</font><img src=/etc/hostname>");
    DocumentWindow window(documentOf(markup.toStdString() + ",b\n1,2\n"));
    window.document()->setFilePath(QStringLiteral("/nowhere/<b>a[*]b<i>.csv"));
    ASSERT_TRUE(showAndActivate(&window));
    ASSERT_EQ(window.document()->table().columnTitle(0), markup.toStdString());
    window.session()->setSelection({{0, 0}, {0, 0}});

    QStringList shown;
    for (QLabel* label : window.statusStrip()->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        shown << label->text();
    }
    EXPECT_TRUE(shown.contains(QStringLiteral("Row 1, ") + markup))
        << shown.join(QLatin1Char('|')).toStdString();

    ColumnHeaderView* header = window.gridView()->columnHeader();
    const QPoint title = header->cellFrame(0).center().toPoint();
    QHelpEvent help(QEvent::ToolTip, title, header->mapToGlobal(title));
    QApplication::sendEvent(header, &help);
    QTextDocument tooltip;
    tooltip.setHtml(QToolTip::text());
    EXPECT_EQ(tooltip.toPlainText(), markup);

    EXPECT_EQ(window.windowHandle()->title(), QStringLiteral("<b>a[*]b<i>.csv"));
}

// Sends a key to a widget directly, where no shortcut can take it: what a text field
// does with the key on its own.
void pressDirectly(QWidget* widget, QKeyCombination key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key.key(), key.keyboardModifiers(), text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key.key(), key.keyboardModifiers(), text);
    QApplication::sendEvent(widget, &release);
}

TEST(DocumentWindow, EveryTableShortcutTypedIntoATextFieldEditsTheFieldAndLeavesTheTableAlone) {
    DocumentWindow window(documentOf("ab cd,h2,h3\nab cd,x,y\n1,2,3\n"));
    ASSERT_TRUE(showAndActivate(&window));
    EditorSession* session = window.session();
    if (!window.document()->table().format().hasHeader) session->toggleHeader();
    CommandRegistry* commands = window.commands();
    FindBar* find = window.findBar();
    GridView* grid = window.gridView();
    QPlainTextEdit* cellField = grid->cellEditor()->textField();
    QLineEdit* otherField = window.formatPopover()->readDelimiterPicker()->otherField();
    const QString typed = QStringLiteral("ab cd");

    QList<QKeyCombination> keys;
    for (QAction* action : commands->tableMenuActions())
        if (!action->shortcut().isEmpty()) keys << action->shortcut()[0];
    ASSERT_EQ(keys.size(), 6);
    keys << QKeyCombination(Qt::CTRL, Qt::Key_A) << QKeyCombination(Qt::Key_Home)
         << QKeyCombination(Qt::Key_End);
    const QList<QKeyCombination> undoKeys{QKeyCombination(Qt::CTRL, Qt::Key_Z),
                                          QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_Z)};

    auto typeInto = [&](QWidget* field) {
        QTest::keyClicks(field, typed);
        return true;
    };
    auto waitForFocus = [](QWidget* field) { return QTest::qWaitFor([field] { return field->hasFocus(); }); };
    const struct Field {
        const char* name;
        bool lineEdit; // else a multi-line field that starts from the cell's text
        bool ownUndo;
        std::function<bool()> open;
        std::function<QString()> text;
        std::function<void()> close;
    } fields[] = {
        {"find field", true, true,
         [&] {
             commands->action(Command::find)->trigger();
             find->queryField()->clear();
             return waitForFocus(find->queryField()) && typeInto(find->queryField());
         },
         [&] { return find->queryField()->text(); }, [&] { session->closeFind(); }},
        {"replace field", true, true,
         [&] {
             commands->action(Command::findAndReplace)->trigger();
             find->replacementField()->clear();
             QTest::mouseClick(find->replacementField(), Qt::LeftButton);
             return waitForFocus(find->replacementField()) && typeInto(find->replacementField());
         },
         [&] { return find->replacementField()->text(); }, [&] { session->closeFind(); }},
        {"cell editor", false, true,
         [&] {
             session->setSelection({{0, 0}, {0, 0}});
             grid->setFocus();
             QTest::keyClick(grid, Qt::Key_Return);
             return waitForFocus(cellField);
         },
         [&] { return cellField->toPlainText(); }, [&] { QTest::keyClick(cellField, Qt::Key_Escape); }},
        {"header rename field", false, true,
         [&] {
             ColumnHeaderView* header = grid->columnHeader();
             QTest::mouseDClick(header, Qt::LeftButton, {}, header->cellFrame(0).center().toPoint());
             return waitForFocus(cellField);
         },
         [&] { return cellField->toPlainText(); }, [&] { QTest::keyClick(cellField, Qt::Key_Escape); }},
        {"other delimiter field", true, true,
         [&] {
             commands->action(Command::fileFormat)->trigger();
             QComboBox* combo = window.formatPopover()->readDelimiterPicker()->comboBox();
             combo->setCurrentIndex(combo->count() - 1); // "Other"
             Q_EMIT combo->activated(combo->count() - 1);
             otherField->clear();
             return waitForFocus(otherField) && typeInto(otherField);
         },
         [&] { return otherField->text(); }, [&] { session->setFormatPresented(false); }},
        {"cell typed over", true, false,
         [&] {
             session->setSelection({{1, 1}, {1, 1}});
             grid->setFocus();
             return waitForFocus(grid) && typeInto(grid);
         },
         [&] {
             return session->editing() ? QString::fromStdString(session->editing()->text)
                                       : QStringLiteral("(none)");
         },
         [&] { QTest::keyClick(grid, Qt::Key_Escape); }},
    };

    const StringRows before = window.document()->table().allRows();
    const int steps = window.undoStack()->count();
    for (const Field& field : fields) {
        for (const QKeyCombination key : field.ownUndo ? keys + undoKeys : keys) {
            const QString keyName = QKeySequence(key).toString();
            SCOPED_TRACE(std::string(field.name) + ", " + keyName.toStdString());
            ASSERT_TRUE(field.open());
            QString expected;
            if (field.lineEdit) {
                QLineEdit alone;
                for (const QChar c : typed)
                    pressDirectly(&alone, QKeyCombination(Qt::Key(c.toUpper().unicode())), c);
                pressDirectly(&alone, key);
                expected = alone.text();
            } else {
                QPlainTextEdit alone(typed);
                alone.moveCursor(QTextCursor::End);
                pressDirectly(&alone, key);
                expected = alone.toPlainText();
            }
            QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
            EXPECT_EQ(field.text(), expected);
            if (key == QKeyCombination(Qt::CTRL, Qt::Key_Backspace)) {
                EXPECT_EQ(expected, QStringLiteral("ab "));
            }
            field.close();
            EXPECT_EQ(window.document()->table().allRows(), before);
            EXPECT_EQ(window.undoStack()->count(), steps);
        }
    }
}

TEST(DocumentWindow, AltWithALetterOpensAMenuAndNeverTypesIntoACell) {
    DocumentWindow window(documentOf("a,b\n1,2\n"));
    ASSERT_TRUE(showAndActivate(&window));
    const StringRows before = window.document()->table().allRows();
    const struct {
        Qt::Key key;
        const char* menu; // null: no menu has this mnemonic
    } cases[] = {{Qt::Key_T, "&Table"}, {Qt::Key_H, "&Help"}, {Qt::Key_E, "&Edit"}, {Qt::Key_Q, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key).toString().toStdString());
        window.gridView()->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.gridView()->hasFocus(); }));
        QTest::keyClick(window.gridView(), c.key, Qt::AltModifier);
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (c.menu) {
            EXPECT_TRUE(QTest::qWaitFor([&] {
                popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                return popup != nullptr;
            }));
            if (popup) {
                EXPECT_EQ(popup->title(), QString::fromUtf8(c.menu));
            }
        }
        if (popup) popup->close();
        EXPECT_FALSE(window.session()->editing().has_value());
        EXPECT_EQ(window.document()->table().allRows(), before);
    }
}

TEST_F(DocumentWindowShellTest, ShortcutsAreWrittenTheLinuxWayWithoutMacGlyphs) {
    DocumentWindow* window = controller->newDocument();
    ASSERT_TRUE(showAndActivate(window));
    const QRegularExpression glyphs(QStringLiteral("[\u2318\u2325\u2303\u21E7]"));
    for (QAction* action : window->findChildren<QAction*>())
        for (const QString& text : {action->text(), action->toolTip(), action->iconText()})
            EXPECT_FALSE(text.contains(glyphs)) << text.toStdString();
    for (QWidget* widget : window->findChildren<QWidget*>())
        EXPECT_FALSE(widget->toolTip().contains(glyphs)) << widget->toolTip().toStdString();
    EXPECT_EQ(window->commands()->action(Command::find)->toolTip(),
              QStringLiteral("Find and replace (Ctrl+F)"));
    EXPECT_EQ(window->commands()->action(Command::insertRowBelow)->toolTip(),
              QStringLiteral("Insert a row below the selection (Alt+Down)"));
}

TEST_F(DocumentWindowShellTest, TheHelpMenuListsEveryShortcutAndSaysWhichVersionsRun) {
    DocumentWindow* window = controller->newDocument();
    ASSERT_TRUE(showAndActivate(window));
    QMenu* help = window->menuBar()->actions().last()->menu();
    ASSERT_NE(help, nullptr);
    QStringList titles;
    for (QAction* action : help->actions())
        titles << action->text();
    ASSERT_EQ(titles, (QStringList{"Keyboard Shortcuts", "About Zarvel"}));

    help->actions()[0]->trigger();
    ShortcutsWindow* shortcuts = window->shortcutsWindow();
    ASSERT_NE(shortcuts, nullptr);
    EXPECT_TRUE(shortcuts->isVisible());
    QSet<QString> listed; // "title\tkeys"
    QTreeWidget* list = shortcuts->list();
    for (int s = 0; s < list->topLevelItemCount(); ++s)
        for (int i = 0; i < list->topLevelItem(s)->childCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(s)->child(i);
            listed << item->text(0) + QLatin1Char('\t') + item->text(1);
        }
    int commands = 0;
    for (QAction* action : window->commands()->actions()) {
        if (action->shortcut().isEmpty()) continue;
        ++commands;
        QStringList keys;
        for (const QKeySequence& key : action->shortcuts())
            keys << key.toString(QKeySequence::NativeText);
        const QString line =
            action->text().remove(QLatin1Char('&')) + QLatin1Char('\t') + keys.join(QStringLiteral(", "));
        EXPECT_TRUE(listed.contains(line)) << line.toStdString();
    }
    EXPECT_GE(commands, 20);
    for (const char* line :
         {"Edit the cell\tF2", "Edit the cell\tReturn", "Move up to the edge\tHome",
          "Move to the next cell\tTab", "Clear the selected cells\tDel", "Type over the cell\tAny character"})
        EXPECT_TRUE(listed.contains(QString::fromUtf8(line))) << line;
    EXPECT_FALSE(listed.contains(QStringLiteral("Move to the next cell\tCtrl+Tab")))
        << "Ctrl changes nothing there";

    const QString about = aboutText();
    EXPECT_TRUE(about.contains(QString::fromLatin1(qVersion())));
    EXPECT_TRUE(about.contains(QStringLiteral("ICU " U_ICU_VERSION)));
    EXPECT_TRUE(about.contains(QStringLiteral("Licence")));
    EXPECT_FALSE(about.section(QLatin1Char('\n'), 0, 0).trimmed() == QStringLiteral("Zarvel")) << "a version";
}

TEST_F(DocumentWindowShellTest, NoTwoEnabledCommandsShareAKey) {
    DocumentWindow* window = controller->newDocument();
    ASSERT_TRUE(showAndActivate(window));
    window->session()->setSelection({{0, 1}, {0, 1}}); // every column command can act
    std::map<QString, QString> owners;
    int shortcuts = 0;
    for (QAction* action : window->findChildren<QAction*>()) {
        if (!action->isEnabled()) continue;
        for (const QKeySequence& key : action->shortcuts()) {
            ++shortcuts;
            const auto [it, fresh] = owners.emplace(key.toString(), action->text());
            EXPECT_TRUE(fresh) << (key.toString() + QStringLiteral(": ") + it->second +
                                   QStringLiteral(" and ") + action->text())
                                      .toStdString();
        }
    }
    EXPECT_GE(shortcuts, 20);
}

} // namespace
} // namespace zarvel::test
