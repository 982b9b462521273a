// CommandRegistry: every command of a document window, each one QAction holding its
// title, symbol, shortcut and enabled state. The menu bar, the toolbar and the column
// header's and row gutter's context menus show these same objects, so a command reads,
// looks and behaves alike wherever it is chosen, and each shortcut exists exactly once.
//
// The session's commands (Edit, Find, Table and the column and row commands) are made
// here; other parts of the window (the File menu) add theirs with define() so that
// their shortcuts are part of the one set. Commands act on the registry's session, and
// only while `isActive` holds (a window's commands do nothing unless it has focus).
// Commands that cannot act on the current selection are disabled.
//
// A text field with focus keeps its editing keys (TextFieldKeys): Ctrl+Backspace,
// Alt+arrows, Home and End, Ctrl+A and its own undo edit the field and never reach a
// command. The grid does the same for a cell being typed over.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>

class QAction;

namespace zarvel {

class EditorSession;
class GridView;

enum class Command {
    undo,
    redo,
    cut,
    copy,
    paste,
    selectAll,
    find,
    findAndReplace,
    findNext,
    findPrevious,
    insertRowAbove,
    insertRowBelow,
    insertColumnLeft,
    insertColumnRight,
    deleteRows,
    deleteColumns,
    moveColumnLeft,
    moveColumnRight,
    sortAscending,
    sortDescending,
    toggleHeader,
    fileFormat,
    renameColumn,
    fitColumnWidth,
    goToRow,
    fillDown,
    padShortRows,
    trimSpaces,
    freezeFirstColumn,
    copyWithColumnTitles,
};

class CommandRegistry : public QObject {
    Q_OBJECT
public:
    explicit CommandRegistry(EditorSession* session, QObject* parent = nullptr);

    EditorSession* session() const { return session_; }
    QAction* action(Command command) const { return commands_.at(command); }
    // Every command, the defined ones included.
    const QList<QAction*>& actions() const { return all_; }

    // A command of another part of the window: the registry owns it and knows its
    // shortcut; the caller connects what it does.
    QAction* define(const QString& title, const QKeySequence& shortcut = {}, const QString& symbol = {});
    // Replaces what a command does (the window anchors the format panel first).
    void setOperation(Command command, std::function<void()> operation);
    // Commands run only while this holds; by default always.
    void setActiveCheck(std::function<bool()> isActive) { isActive_ = std::move(isActive); }
    // Where cut, copy, paste and select all go when no text field has focus.
    void setGrid(GridView* grid);

    // Menu contents in order; dividers are separator actions.
    QList<QAction*> editMenuActions();
    QList<QAction*> findActions() const;
    QList<QAction*> tableMenuActions();
    QList<QAction*> columnMenuActions();
    QList<QAction*> rowMenuActions();
    // Go to Row… and Fill Down, for the Edit menu.
    QList<QAction*> navigationAndFillActions() const;
    // Pad Short Rows and Trim Spaces, for the Table menu.
    QList<QAction*> repairActions() const;
    // The View menu.
    QList<QAction*> viewMenuActions() const;

    // Brings titles and enabled states up to date with the session (done on every
    // change the session announces).
    void refresh();

private:
    QAction* make(Command command, const QString& title, const QKeySequence& shortcut, const QString& symbol,
                  std::function<void(EditorSession&)> operation);
    QAction* divider(int index);
    void run(Command command);
    // Cut, copy, paste and select all: a focused text field edits its own text.
    void routeEdit(const char* textSlot, const std::function<void()>& gridAction);

    QPointer<EditorSession> session_;
    QPointer<GridView> grid_;
    std::function<bool()> isActive_;
    std::map<Command, QAction*> commands_;
    std::map<Command, std::function<void()>> operations_;
    QList<QAction*> all_;
    QList<QAction*> dividers_;
};

} // namespace zarvel
