#include "app/shell/DocumentWindow.h"

#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"
#include "app/shell/DiskChangeBar.h"
#include "app/shell/DocumentController.h"
#include "app/shell/EmptyStateView.h"
#include "app/shell/TableCommands.h"
#include "app/views/Symbols.h"

// Before the views: GridView.h names QPlainTextEdit without declaring it first.
#include <QPlainTextEdit>

#include "app/views/FindBar.h"
#include "app/views/FormatPopover.h"
#include "app/views/GridView.h"
#include "app/views/StatusBar.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

namespace zarvel {

namespace {

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette p = line->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Mid));
    line->setPalette(p);
    return line;
}

QStringList localFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

} // namespace

DocumentWindow::DocumentWindow(std::unique_ptr<CSVDocument> document, DocumentController* controller, QWidget* parent)
    : QMainWindow(parent), controller_(controller), document_(std::move(document)),
      undoStack_(std::make_unique<QUndoStack>()), session_(std::make_unique<EditorSession>(document_.get())) {
    session_->setUndoManager(undoStack_.get());
    if (!document_->filePath().isEmpty()) fileType_ = documentTypeForFileName(document_->filePath());

    // Menu commands act on the focused window, which is this one whenever its menus
    // or shortcuts are used.
    commands_ = new TableCommands(&DocumentWindow::focusedSession, this);

    buildContent();
    buildToolBar();
    buildMenus();
    buildFormatPopover();

    connect(document_.get(), &CSVDocument::filePathChanged, this, [this] { updateTitle(); });
    // The session syncs itself on this signal first (it connected earlier), so the
    // layout is current here.
    connect(document_.get(), &CSVDocument::revisionChanged, this, [this] {
        updateEmptyState();
        commands_->refreshTitles(session_.get());
    });
    connect(undoStack_.get(), &QUndoStack::cleanChanged, this, [this](bool clean) { setWindowModified(!clean); });
    connect(session_.get(), &EditorSession::findChanged, this, [this] { updateFindBar(); });

    setAcceptDrops(controller_ != nullptr);
    resize(defaultSize);
    updateTitle();
    updateEmptyState();
    updateFindBar();
    commands_->refreshTitles(session_.get());
}

DocumentWindow::~DocumentWindow() {
    // The views read the session until they are gone, so they go first.
    delete formatPopover_;
    delete takeCentralWidget();
    // The undo stack announces its own clearing as it goes, and the menus die with the
    // window's base classes: nothing may call back into this half-destroyed window.
    undoStack_->disconnect(this);
    session_->disconnect(this);
    document_->disconnect(this);
}

QString DocumentWindow::displayName() const {
    const QString& path = document_->filePath();
    return path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).fileName();
}

void DocumentWindow::checkDisk() { diskChangeBar_->check(); }

bool DocumentWindow::isShowingEmptyState() const { return stack_->currentWidget() == emptyState_; }

DocumentWindow* DocumentWindow::focusedWindow() { return qobject_cast<DocumentWindow*>(QApplication::activeWindow()); }

EditorSession* DocumentWindow::focusedSession() {
    DocumentWindow* window = focusedWindow();
    return window ? window->session() : nullptr;
}

// MARK: building

void DocumentWindow::buildContent() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    findBar_ = new FindBar(session_.get(), central);
    findDivider_ = makeDivider(central);

    stack_ = new QStackedWidget(central);
    grid_ = new GridView(session_.get(), stack_);
    emptyState_ = new EmptyStateView(session_.get(), stack_);
    stack_->addWidget(grid_);
    stack_->addWidget(emptyState_);

    statusStrip_ = new StatusBar(session_.get(), central);

    diskChangeBar_ = new DiskChangeBar(document_.get(), central);
    connect(diskChangeBar_, &DiskChangeBar::reloadRequested, this, [this] {
        if (controller_) {
            controller_->reload(this);
            return;
        }
        DocumentError error;
        if (document_->reload(undoStack_.get(), QStringLiteral("Reload"), error)) undoStack_->setClean();
        checkDisk();
    });

    layout->addWidget(diskChangeBar_);
    layout->addWidget(findBar_);
    layout->addWidget(findDivider_);
    layout->addWidget(stack_, 1);
    layout->addWidget(makeDivider(central));
    layout->addWidget(statusStrip_);
    setCentralWidget(central);
}

void DocumentWindow::buildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Toolbar"));
    toolBar_->setObjectName(QStringLiteral("documentToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar_->setIconSize(QSize(18, 18));
    toolBar_->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu); // no "hide the toolbar" menu

    auto item = [this](const QString& title, const char* symbol, const QString& help) {
        auto* action = new QAction(Symbols::icon(QString::fromLatin1(symbol)), title, this);
        action->setToolTip(help);
        action->setStatusTip(help);
        return action;
    };

    QAction* addRow = item(QStringLiteral("Add Row"), "plus.rectangle", QStringLiteral("Insert a row below the selection (⌥↓)"));
    connect(addRow, &QAction::triggered, this, [this] { session_->insertRow(false); });
    toolBar_->addAction(addRow);

    QAction* addColumn = item(QStringLiteral("Add Column"), "rectangle.split.3x1",
                              QStringLiteral("Insert a column right of the selection (⌥→)"));
    connect(addColumn, &QAction::triggered, this, [this] { session_->insertColumn(false); });
    toolBar_->addAction(addColumn);

    QAction* remove = item(QStringLiteral("Delete"), "trash", QStringLiteral("Delete the selected rows or columns"));
    auto* deleteMenu = new QMenu(this);
    connect(deleteMenu->addAction(QStringLiteral("Delete Rows")), &QAction::triggered, this, [this] { session_->deleteRows(); });
    connect(deleteMenu->addAction(QStringLiteral("Delete Columns")), &QAction::triggered, this,
            [this] { session_->deleteColumns(); });
    remove->setMenu(deleteMenu);
    toolBar_->addAction(remove);
    if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(remove))) {
        button->setPopupMode(QToolButton::InstantPopup);
        // The menu's arrow sits beside the title, not tucked under its last letter.
        button->setStyleSheet(QStringLiteral("QToolButton { padding-right: 14px; }"
                                             "QToolButton::menu-indicator { subcontrol-origin: padding;"
                                             " subcontrol-position: right center; right: 2px; }"));
    }

    QAction* find = item(QStringLiteral("Find"), "magnifyingglass", QStringLiteral("Find and replace (⌘F)"));
    connect(find, &QAction::triggered, this, [this] { session_->presentFind(false); });
    toolBar_->addAction(find);

    QAction* format = item(QStringLiteral("Format"), "doc.badge.gearshape", QStringLiteral("How the file is read and saved"));
    connect(format, &QAction::triggered, this, [this] {
        if (!session_->isFormatPresented()) formatPopover_->setAnchor(formatButton_);
        session_->setFormatPresented(!session_->isFormatPresented());
    });
    toolBar_->addAction(format);
    formatButton_ = qobject_cast<QToolButton*>(toolBar_->widgetForAction(format));
}

void DocumentWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    if (controller_) {
        controller_->populateFileMenu(file, this);
    } else {
        QAction* close = file->addAction(QStringLiteral("Close"));
        close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
        connect(close, &QAction::triggered, this, &QWidget::close);
    }

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    // Undo and redo go through the session, which commits a cell still being typed
    // first, so the typed text is never lost or written into a moved cell.
    undoAction_ = edit->addAction(Symbols::icon(QStringLiteral("arrow.uturn.backward")), QStringLiteral("Undo"));
    undoAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    undoAction_->setEnabled(false);
    connect(undoAction_, &QAction::triggered, this, [this] { session_->undo(); });
    redoAction_ = edit->addAction(Symbols::icon(QStringLiteral("arrow.uturn.forward")), QStringLiteral("Redo"));
    redoAction_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    redoAction_->setEnabled(false);
    connect(redoAction_, &QAction::triggered, this, [this] { session_->redo(); });
    connect(undoStack_.get(), &QUndoStack::undoTextChanged, this, [this](const QString& text) {
        undoAction_->setText(text.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo ") + text);
    });
    connect(undoStack_.get(), &QUndoStack::redoTextChanged, this, [this](const QString& text) {
        redoAction_->setText(text.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo ") + text);
    });
    // A cell being typed into can be undone too: the session commits it, then undoes it.
    auto updateUndo = [this] { undoAction_->setEnabled(undoStack_->canUndo() || session_->editing().has_value()); };
    connect(undoStack_.get(), &QUndoStack::canUndoChanged, this, updateUndo);
    connect(session_.get(), &EditorSession::editingChanged, this, updateUndo);
    connect(undoStack_.get(), &QUndoStack::canRedoChanged, redoAction_, &QAction::setEnabled);
    edit->addSeparator();

    cutAction_ = edit->addAction(QStringLiteral("Cut"));
    cutAction_->setShortcut(QKeySequence::Cut);
    copyAction_ = edit->addAction(QStringLiteral("Copy"));
    copyAction_->setShortcut(QKeySequence::Copy);
    pasteAction_ = edit->addAction(QStringLiteral("Paste"));
    pasteAction_->setShortcut(QKeySequence::Paste);
    selectAllAction_ = edit->addAction(QStringLiteral("Select All"));
    selectAllAction_->setShortcut(QKeySequence::SelectAll);
    connect(cutAction_, &QAction::triggered, this, [this] { routeEdit("cut", [this] { grid_->cut(); }); });
    connect(copyAction_, &QAction::triggered, this, [this] { routeEdit("copy", [this] { grid_->copy(); }); });
    connect(pasteAction_, &QAction::triggered, this, [this] { routeEdit("paste", [this] { grid_->paste(); }); });
    connect(selectAllAction_, &QAction::triggered, this, [this] { routeEdit("selectAll", [this] { session_->selectAll(); }); });

    commands_->addFindGroup(edit);
    menuBar()->addMenu(commands_->createTableMenu(this));
}

void DocumentWindow::routeEdit(const char* textSlot, const std::function<void()>& gridAction) {
    // A text field with focus (the find bar, a cell being edited) edits its own text.
    QWidget* focused = QApplication::focusWidget();
    if (focused && isAncestorOf(focused) &&
        (qobject_cast<QLineEdit*>(focused) || qobject_cast<QPlainTextEdit*>(focused) || qobject_cast<QTextEdit*>(focused))) {
        QMetaObject::invokeMethod(focused, textSlot);
        return;
    }
    gridAction();
}

// MARK: state

void DocumentWindow::updateTitle() {
    setWindowTitle(displayName() + QStringLiteral("[*]"));
    setWindowFilePath(document_->filePath());
}

void DocumentWindow::updateEmptyState() {
    const bool empty = document_->table().columnCount() == 0;
    QWidget* wanted = empty ? static_cast<QWidget*>(emptyState_) : static_cast<QWidget*>(grid_);
    if (stack_->currentWidget() == wanted) return;
    const bool hadFocus = stack_->currentWidget() && stack_->currentWidget()->hasFocus();
    stack_->setCurrentWidget(wanted);
    if (hadFocus || !empty) wanted->setFocus();
}

void DocumentWindow::updateFindBar() {
    const bool presented = session_->find().isPresented;
    findBar_->setVisible(presented);
    findDivider_->setVisible(presented);
}

void DocumentWindow::buildFormatPopover() {
    // The popover follows the session's isFormatPresented both ways by itself; the
    // window only says where it hangs: under the toolbar button, or under the status
    // bar's format summary when that opened it.
    formatPopover_ = new FormatPopover(session_.get(), formatButton_);
    connect(statusStrip_, &StatusBar::formatSummaryClicked, formatPopover_,
            [popover = formatPopover_](QWidget* anchor) { popover->setAnchor(anchor); });
}

// MARK: events

void DocumentWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (hasBeenShown_) return;
    hasBeenShown_ = true;
    session_->setUndoManager(undoStack_.get());
    session_->sync();
    updateEmptyState();
    stack_->currentWidget()->setFocus();
}

void DocumentWindow::closeEvent(QCloseEvent* event) {
    // What the user typed into a cell belongs to the document before it is judged
    // unsaved or thrown away.
    session_->commitEditing(CommitMove::none);
    if (controller_ && !controller_->shouldClose(this)) {
        event->ignore();
        return;
    }
    event->accept();
    Q_EMIT closed(this);
}

void DocumentWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (controller_ && !localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void DocumentWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = localFiles(event->mimeData());
    if (!controller_ || paths.isEmpty()) return;
    event->acceptProposedAction();
    // Opened after the drop finishes, so an error message does not block the drag.
    QMetaObject::invokeMethod(
        controller_, [controller = QPointer<DocumentController>(controller_), paths, self = QPointer<DocumentWindow>(this)] {
            if (controller) controller->openFiles(paths, self);
        },
        Qt::QueuedConnection);
}

} // namespace zarvel
