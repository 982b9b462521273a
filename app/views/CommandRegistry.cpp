#include "app/views/CommandRegistry.h"

#include "app/session/EditorSession.h"
#include "app/views/ContextMenu.h"
#include "app/views/Counted.h"
#include "app/views/Symbols.h"
#include "app/views/TextFieldKeys.h"
#include "app/views/TextFieldPaste.h"

// Before GridView.h, which names QPlainTextEdit without declaring it first.
#include <QPlainTextEdit>

#include "app/views/GridView.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTextEdit>
#include <QUndoStack>

namespace zarvel {

namespace {

// A tooltip names the command's own shortcut, written the way the desktop writes keys.
void setToolTipWithShortcut(QAction* action, const QString& tip) {
    const QString keys = action->shortcut().toString(QKeySequence::NativeText);
    action->setToolTip(keys.isEmpty() ? tip : tip + QStringLiteral(" (") + keys + QLatin1Char(')'));
}

} // namespace

CommandRegistry::CommandRegistry(EditorSession* session, QObject* parent)
    : QObject(parent), session_(session) {
    TextFieldKeys::install();
    const auto none = QKeySequence();

    QAction* undo = make(Command::undo, QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), {},
                         [](EditorSession& s) { s.undo(); });
    undo->setEnabled(false);
    QAction* redo =
        make(Command::redo, QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), {},
             [](EditorSession& s) { s.redo(); });
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    redo->setEnabled(false);
    make(Command::cut, QStringLiteral("Cut"), QKeySequence::Cut, QStringLiteral("scissors"),
         [this](EditorSession&) {
             routeEdit("cut", [this] {
                 if (grid_) grid_->cut();
             });
         });
    make(Command::copy, QStringLiteral("Copy"), QKeySequence::Copy, QStringLiteral("doc.on.doc"),
         [this](EditorSession&) {
             routeEdit("copy", [this] {
                 if (grid_) grid_->copy();
             });
         });
    make(Command::copyWithColumnTitles, QStringLiteral("Copy with Column Titles"), none, {},
         [](EditorSession& s) { s.copyToClipboard(true); });
    make(Command::paste, QStringLiteral("Paste"), QKeySequence::Paste, QStringLiteral("clipboard"),
         [this](EditorSession&) {
             routeEdit("paste", [this] {
                 if (grid_) grid_->paste();
             });
         });
    make(Command::selectAll, QStringLiteral("Select All"), QKeySequence::SelectAll, {},
         [this](EditorSession& s) { routeEdit("selectAll", [&s] { s.selectAll(); }); });

    QAction* find = make(Command::find, QStringLiteral("Find…"), QKeySequence(Qt::CTRL | Qt::Key_F),
                         QStringLiteral("magnifyingglass"), [](EditorSession& s) { s.presentFind(false); });
    find->setIconText(QStringLiteral("Find"));
    setToolTipWithShortcut(find, QStringLiteral("Find and replace"));
    make(Command::findAndReplace, QStringLiteral("Find and Replace…"),
         QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F), {}, [](EditorSession& s) { s.presentFind(true); });
    make(Command::findNext, QStringLiteral("Find Next"), QKeySequence(Qt::CTRL | Qt::Key_G), {},
         [](EditorSession& s) { s.findNext(true); });
    make(Command::findPrevious, QStringLiteral("Find Previous"),
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), {}, [](EditorSession& s) { s.findNext(false); });

    // The grid's key map binds these keys to the same operations; the commands take
    // them first wherever the window has focus, except in a text field.
    make(Command::insertRowAbove, QStringLiteral("Insert Row Above"), QKeySequence(Qt::ALT | Qt::Key_Up),
         QStringLiteral("arrow.up.to.line"), [](EditorSession& s) { s.insertRow(true); });
    QAction* addRow = make(Command::insertRowBelow, QStringLiteral("Insert Row Below"),
                           QKeySequence(Qt::ALT | Qt::Key_Down), QStringLiteral("plus.rectangle"),
                           [](EditorSession& s) { s.insertRow(false); });
    addRow->setIconText(QStringLiteral("Add Row"));
    setToolTipWithShortcut(addRow, QStringLiteral("Insert a row below the selection"));
    make(Command::insertColumnLeft, QStringLiteral("Insert Column Left"),
         QKeySequence(Qt::ALT | Qt::Key_Left), QStringLiteral("arrow.left.to.line"),
         [](EditorSession& s) { s.insertColumn(true); });
    QAction* addColumn = make(Command::insertColumnRight, QStringLiteral("Insert Column Right"),
                              QKeySequence(Qt::ALT | Qt::Key_Right), QStringLiteral("rectangle.split.3x1"),
                              [](EditorSession& s) { s.insertColumn(false); });
    addColumn->setIconText(QStringLiteral("Add Column"));
    setToolTipWithShortcut(addColumn, QStringLiteral("Insert a column right of the selection"));
    ContextMenu::markDestructive(make(Command::deleteRows, QStringLiteral("Delete Rows"),
                                      QKeySequence(Qt::CTRL | Qt::Key_Backspace), QStringLiteral("trash"),
                                      [](EditorSession& s) { s.deleteRows(); }));
    // Ctrl+Minus, as Linux spreadsheets delete cells: Ctrl+Alt+Backspace may end the
    // X session before the window ever sees it.
    ContextMenu::markDestructive(make(Command::deleteColumns, QStringLiteral("Delete Columns"),
                                      QKeySequence(Qt::CTRL | Qt::Key_Minus), QStringLiteral("trash"),
                                      [](EditorSession& s) { s.deleteColumns(); }));
    make(Command::moveColumnLeft, QStringLiteral("Move Column Left"), none, QStringLiteral("chevron.left"),
         [](EditorSession& s) { s.moveColumn(false); });
    make(Command::moveColumnRight, QStringLiteral("Move Column Right"), none, QStringLiteral("chevron.right"),
         [](EditorSession& s) { s.moveColumn(true); });
    make(Command::sortAscending, QStringLiteral("Sort Ascending by Column"), none, QStringLiteral("arrow.up"),
         [](EditorSession& s) { s.sort(s.selection().active.column, true); });
    make(Command::sortDescending, QStringLiteral("Sort Descending by Column"), none,
         QStringLiteral("arrow.down"), [](EditorSession& s) { s.sort(s.selection().active.column, false); });
    make(Command::toggleHeader, EditorSession::toggleHeaderTitle(false), none, {},
         [](EditorSession& s) { s.toggleHeader(); });
    QAction* format =
        make(Command::fileFormat, QStringLiteral("File Format…"), none, QStringLiteral("doc.badge.gearshape"),
             [](EditorSession& s) { s.setFormatPresented(!s.isFormatPresented()); });
    format->setIconText(QStringLiteral("Format"));
    format->setToolTip(QStringLiteral("How the file is read and saved"));
    make(Command::renameColumn, QStringLiteral("Rename Column…"), none, QStringLiteral("pencil"),
         [](EditorSession& s) { s.beginRenamingColumn(s.selection().active.column); });
    make(Command::fitColumnWidth, QStringLiteral("Fit Width"), none, QStringLiteral("arrow.left.and.right"),
         [](EditorSession& s) {
             const IndexRange columns = s.selection().columns().clamped(0, s.displayedSize().columns);
             for (int64_t c = columns.lower; c < columns.upper; ++c)
                 s.fitColumnWidth(c);
         });

    // Ctrl+G is Find Next; Ctrl+L as in other programs that go to a line.
    make(Command::goToRow, QStringLiteral("Go to Row…"), QKeySequence(Qt::CTRL | Qt::Key_L), {},
         [this](EditorSession&) {
             if (grid_) grid_->showGoToRow();
         });
    make(Command::fillDown, QStringLiteral("Fill Down"), QKeySequence(Qt::CTRL | Qt::Key_D), {},
         [](EditorSession& s) { s.fillDown(); });
    // The repairs say what they did: an unchanged table leaves no undo step to tell.
    const auto report = [this](const QString& name, int64_t cells) {
        if (grid_)
            grid_->showNotice(name + QStringLiteral(": ") + counted(cells, u"cell", u"cells") +
                              QStringLiteral(" changed"));
    };
    make(Command::padShortRows, QStringLiteral("Pad Short Rows"), none, {},
         [report](EditorSession& s) { report(QStringLiteral("Pad Short Rows"), s.padShortRows()); });
    make(Command::trimSpaces, QStringLiteral("Trim Spaces"), none, {},
         [report](EditorSession& s) { report(QStringLiteral("Trim Spaces"), s.trimSpaces()); });
    // A view setting of this window's grid: the check mark shows the grid's state.
    QAction* freeze = make(
        Command::freezeFirstColumn, QStringLiteral("Freeze First Column"), none, {}, [this](EditorSession&) {
            if (grid_) grid_->setFirstColumnFrozen(!grid_->isFirstColumnFrozen());
            action(Command::freezeFirstColumn)->setChecked(grid_ && grid_->isFirstColumnFrozen());
        });
    freeze->setCheckable(true);

    if (session_) {
        connect(session_, &EditorSession::selectionChanged, this, &CommandRegistry::refresh);
        connect(session_, &EditorSession::layoutChanged, this, &CommandRegistry::refresh);
        connect(session_, &EditorSession::editingChanged, this, &CommandRegistry::refresh);
        connect(session_, &EditorSession::openingChanged, this, &CommandRegistry::refresh);
        connect(session_, &EditorSession::replacingChanged, this, &CommandRegistry::refresh);
        connect(session_, &EditorSession::contentChanged, this, &CommandRegistry::refresh);
        if (QUndoStack* stack = session_->undoManager()) {
            connect(stack, &QUndoStack::indexChanged, this, &CommandRegistry::refresh);
            connect(stack, &QUndoStack::cleanChanged, this, &CommandRegistry::refresh);
        }
    }
    refresh();
}

QAction* CommandRegistry::make(Command command, const QString& title, const QKeySequence& shortcut,
                               const QString& symbol, std::function<void(EditorSession&)> operation) {
    QAction* action = define(title, shortcut, symbol);
    commands_[command] = action;
    operations_[command] = [this, operation = std::move(operation)] {
        if (session_) operation(*session_);
    };
    connect(action, &QAction::triggered, this, [this, command] { run(command); });
    return action;
}

QAction* CommandRegistry::define(const QString& title, const QKeySequence& shortcut, const QString& symbol) {
    auto* action = new QAction(title, this);
    if (!symbol.isEmpty()) action->setIcon(Symbols::icon(symbol));
    action->setShortcut(shortcut);
    all_ << action;
    return action;
}

QAction* CommandRegistry::divider(int index) {
    // Menus share separators, each used once per menu: a menu built again (a context
    // menu at every right click) adds no new objects.
    while (dividers_.size() <= index) {
        auto* action = new QAction(this);
        action->setSeparator(true);
        dividers_ << action;
    }
    return dividers_[index];
}

void CommandRegistry::setGrid(GridView* grid) {
    grid_ = grid;
}

void CommandRegistry::setOperation(Command command, std::function<void()> operation) {
    operations_[command] = std::move(operation);
}

void CommandRegistry::run(Command command) {
    // Chosen from a window that is not the focused one (or from none): nothing happens.
    if (isActive_ && !isActive_()) return;
    if (const auto& operation = operations_[command]) operation();
}

void CommandRegistry::routeEdit(const char* textSlot, const std::function<void()>& gridAction) {
    QWidget* focused = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focused) || qobject_cast<QPlainTextEdit*>(focused) ||
        qobject_cast<QTextEdit*>(focused)) {
        // A field's paste waits for a copy still being written, as the grid's does.
        if (qstrcmp(textSlot, "paste") == 0)
            TextFieldPaste::paste(focused);
        else
            QMetaObject::invokeMethod(focused, textSlot);
        return;
    }
    gridAction();
}

QList<QAction*> CommandRegistry::editMenuActions() {
    return {action(Command::undo),  action(Command::redo),     divider(0),
            action(Command::cut),   action(Command::copy),     action(Command::copyWithColumnTitles),
            action(Command::paste), action(Command::selectAll)};
}

QList<QAction*> CommandRegistry::findActions() const {
    return {action(Command::find), action(Command::findAndReplace), action(Command::findNext),
            action(Command::findPrevious)};
}

QList<QAction*> CommandRegistry::tableMenuActions() {
    return {action(Command::insertRowAbove),
            action(Command::insertRowBelow),
            action(Command::insertColumnLeft),
            action(Command::insertColumnRight),
            divider(0),
            action(Command::deleteRows),
            action(Command::deleteColumns),
            divider(1),
            action(Command::moveColumnLeft),
            action(Command::moveColumnRight),
            action(Command::sortAscending),
            action(Command::sortDescending),
            divider(2),
            action(Command::toggleHeader),
            action(Command::fileFormat)};
}

QList<QAction*> CommandRegistry::columnMenuActions() {
    return {action(Command::sortAscending),
            action(Command::sortDescending),
            divider(0),
            action(Command::renameColumn),
            action(Command::insertColumnLeft),
            action(Command::insertColumnRight),
            action(Command::moveColumnLeft),
            action(Command::moveColumnRight),
            action(Command::fitColumnWidth),
            divider(1),
            action(Command::deleteColumns)};
}

QList<QAction*> CommandRegistry::rowMenuActions() {
    return {action(Command::insertRowAbove), action(Command::insertRowBelow), divider(0),
            action(Command::deleteRows)};
}

QList<QAction*> CommandRegistry::navigationAndFillActions() const {
    return {action(Command::goToRow), action(Command::fillDown)};
}

QList<QAction*> CommandRegistry::repairActions() const {
    return {action(Command::padShortRows), action(Command::trimSpaces)};
}

QList<QAction*> CommandRegistry::viewMenuActions() const {
    return {action(Command::freezeFirstColumn)};
}

void CommandRegistry::refresh() {
    if (!session_ || !session_->hasDocument()) return;
    const CSVTable table = session_->table();
    const GridSize size = session_->displayedSize();
    const GridSelection& s = session_->selection();
    const IndexRange rows = s.rows().clamped(0, size.rows);
    const IndexRange columns = s.columns().clamped(0, size.columns);
    const bool columnsInside =
        s.columns().lower >= 0 && s.columns().upper <= size.columns && !s.columns().empty();

    action(Command::deleteRows)->setEnabled(!rows.empty());
    action(Command::deleteRows)
        ->setText(rows.count() == 1 ? QStringLiteral("Delete Row") : QStringLiteral("Delete Rows"));
    // The last column stays: a table keeps at least one.
    action(Command::deleteColumns)->setEnabled(!columns.empty() && columns.count() < size.columns);
    action(Command::deleteColumns)
        ->setText(columns.count() == 1 ? QStringLiteral("Delete Column") : QStringLiteral("Delete Columns"));
    action(Command::moveColumnLeft)->setEnabled(columnsInside && s.columns().lower > 0);
    action(Command::moveColumnRight)->setEnabled(columnsInside && s.columns().upper < size.columns);
    action(Command::sortAscending)->setEnabled(size.columns > 0);
    action(Command::sortDescending)->setEnabled(size.columns > 0);
    action(Command::fitColumnWidth)->setEnabled(!columns.empty());
    action(Command::goToRow)->setEnabled(size.rows > 0);
    action(Command::freezeFirstColumn)->setChecked(grid_ && grid_->isFirstColumnFrozen());
    action(Command::fillDown)->setEnabled(rows.count() >= 2 && !columns.empty());
    action(Command::trimSpaces)->setEnabled(!rows.empty() && !columns.empty());
    const bool hasHeaderRow = table.format().hasHeader && table.rowCount() > 0;
    action(Command::renameColumn)->setVisible(hasHeaderRow);
    action(Command::renameColumn)
        ->setEnabled(hasHeaderRow && s.active.column >= 0 && s.active.column < size.columns);
    action(Command::toggleHeader)->setText(EditorSession::toggleHeaderTitle(table.format().hasHeader));

    // A cell being typed into can be undone too: the session commits it, then undoes it.
    const QUndoStack* stack = session_->undoManager();
    const QString undoName = stack ? stack->undoText() : QString();
    const QString redoName = stack ? stack->redoText() : QString();
    action(Command::undo)->setEnabled((stack && stack->canUndo()) || session_->editing().has_value());
    action(Command::undo)
        ->setText(undoName.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo ") + undoName);
    action(Command::redo)->setEnabled(stack && stack->canRedo());
    action(Command::redo)
        ->setText(redoName.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo ") + redoName);

    // While the file is still being read only its first rows are here: whatever edits,
    // searches or reads the whole table waits for the rest.
    const bool whole = !session_->isOpening();
    for (Command command :
         {Command::cut, Command::paste, Command::find, Command::findAndReplace, Command::findNext,
          Command::findPrevious, Command::insertRowAbove, Command::insertRowBelow, Command::insertColumnLeft,
          Command::insertColumnRight, Command::toggleHeader, Command::fileFormat})
        action(command)->setEnabled(whole);
    if (!whole)
        for (Command command : {Command::undo, Command::redo, Command::deleteRows, Command::deleteColumns,
                                Command::moveColumnLeft, Command::moveColumnRight, Command::sortAscending,
                                Command::sortDescending, Command::renameColumn})
            action(command)->setEnabled(false);
    // While Replace All works on a copy, nothing else changes the table.
    action(Command::padShortRows)->setEnabled(!session_->isReplacing());
    if (session_->isReplacing())
        for (Command command :
             {Command::undo, Command::redo, Command::cut, Command::paste, Command::insertRowAbove,
              Command::insertRowBelow, Command::insertColumnLeft, Command::insertColumnRight,
              Command::deleteRows, Command::deleteColumns, Command::moveColumnLeft, Command::moveColumnRight,
              Command::sortAscending, Command::sortDescending, Command::toggleHeader, Command::renameColumn,
              Command::fillDown, Command::padShortRows, Command::trimSpaces})
            action(command)->setEnabled(false);
}

} // namespace zarvel
