// TableCommands: the Find group of the Edit menu and the "Table" menu. Every command
// takes the session of the focused document window when it is chosen and does nothing
// when no document window has focus. No command is ever disabled: the session's
// operations themselves do nothing where they cannot act.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace zarvel {

class EditorSession;

class TableCommands : public QObject {
    Q_OBJECT
public:
    using SessionProvider = std::function<EditorSession*()>;

    explicit TableCommands(SessionProvider focusedSession, QObject* parent = nullptr);

    // Appends a divider and the Find group to an Edit menu.
    void addFindGroup(QMenu* editMenu) const;
    // A "Table" menu holding the table commands, dividers included.
    QMenu* createTableMenu(QWidget* parent);

    const QList<QAction*>& findActions() const { return findActions_; }
    // The table commands in menu order; dividers are separator actions.
    const QList<QAction*>& tableActions() const { return tableActions_; }
    // "Use First Row as Header" or "Treat First Row as Data".
    QAction* headerAction() const { return headerAction_; }

    // Makes the header command's title match the session's table.
    void refreshTitles(const EditorSession* session);

private:
    QAction* make(const QString& title, const QKeySequence& shortcut, std::function<void(EditorSession&)> operation);
    QAction* divider();

    SessionProvider focusedSession_;
    QList<QAction*> findActions_;
    QList<QAction*> tableActions_;
    QAction* headerAction_ = nullptr;
};

} // namespace zarvel
