#include "app/shell/TableCommands.h"

#include "app/session/EditorSession.h"

#include <QAction>
#include <QMenu>

namespace zarvel {

TableCommands::TableCommands(SessionProvider focusedSession, QObject* parent)
    : QObject(parent), focusedSession_(std::move(focusedSession)) {
    findActions_ = {
        make(QStringLiteral("Find…"), QKeySequence(Qt::CTRL | Qt::Key_F), [](EditorSession& s) { s.presentFind(false); }),
        make(QStringLiteral("Find and Replace…"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F),
             [](EditorSession& s) { s.presentFind(true); }),
        make(QStringLiteral("Find Next"), QKeySequence(Qt::CTRL | Qt::Key_G), [](EditorSession& s) { s.findNext(true); }),
        make(QStringLiteral("Find Previous"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G),
             [](EditorSession& s) { s.findNext(false); }),
    };

    // The first six shortcuts are the grid's own keys for the same operations.
    headerAction_ = make(EditorSession::toggleHeaderTitle(false), {}, [](EditorSession& s) { s.toggleHeader(); });
    tableActions_ = {
        make(QStringLiteral("Insert Row Above"), QKeySequence(Qt::ALT | Qt::Key_Up), [](EditorSession& s) { s.insertRow(true); }),
        make(QStringLiteral("Insert Row Below"), QKeySequence(Qt::ALT | Qt::Key_Down),
             [](EditorSession& s) { s.insertRow(false); }),
        make(QStringLiteral("Insert Column Left"), QKeySequence(Qt::ALT | Qt::Key_Left),
             [](EditorSession& s) { s.insertColumn(true); }),
        make(QStringLiteral("Insert Column Right"), QKeySequence(Qt::ALT | Qt::Key_Right),
             [](EditorSession& s) { s.insertColumn(false); }),
        divider(),
        make(QStringLiteral("Delete Rows"), QKeySequence(Qt::CTRL | Qt::Key_Backspace), [](EditorSession& s) { s.deleteRows(); }),
        make(QStringLiteral("Delete Columns"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Backspace),
             [](EditorSession& s) { s.deleteColumns(); }),
        divider(),
        make(QStringLiteral("Move Column Left"), {}, [](EditorSession& s) { s.moveColumn(false); }),
        make(QStringLiteral("Move Column Right"), {}, [](EditorSession& s) { s.moveColumn(true); }),
        make(QStringLiteral("Sort Ascending by Column"), {},
             [](EditorSession& s) { s.sort(s.selection().active.column, true); }),
        make(QStringLiteral("Sort Descending by Column"), {},
             [](EditorSession& s) { s.sort(s.selection().active.column, false); }),
        divider(),
        headerAction_,
        make(QStringLiteral("File Format…"), {}, [](EditorSession& s) { s.setFormatPresented(true); }),
    };
}

QAction* TableCommands::make(const QString& title, const QKeySequence& shortcut,
                             std::function<void(EditorSession&)> operation) {
    auto* action = new QAction(title, this);
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [this, operation = std::move(operation)] {
        // The focused window is looked up when the command runs, never remembered.
        if (EditorSession* session = focusedSession_ ? focusedSession_() : nullptr) operation(*session);
    });
    return action;
}

QAction* TableCommands::divider() {
    auto* action = new QAction(this);
    action->setSeparator(true);
    return action;
}

void TableCommands::addFindGroup(QMenu* editMenu) const {
    editMenu->addSeparator();
    editMenu->addActions(findActions_);
}

QMenu* TableCommands::createTableMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("Table"), parent);
    menu->addActions(tableActions_);
    connect(menu, &QMenu::aboutToShow, this, [this] {
        if (const EditorSession* session = focusedSession_ ? focusedSession_() : nullptr) refreshTitles(session);
    });
    return menu;
}

void TableCommands::refreshTitles(const EditorSession* session) {
    if (!session || !session->document()) return;
    headerAction_->setText(EditorSession::toggleHeaderTitle(session->document()->table().format().hasHeader));
}

} // namespace zarvel
