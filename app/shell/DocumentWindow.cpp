#include "app/shell/DocumentWindow.h"

#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"
#include "app/shell/DiskChangeBar.h"
#include "app/shell/DocumentController.h"
#include "app/shell/EmptyStateView.h"
#include "app/shell/HelpWindows.h"
#include "app/shell/RecentFiles.h"
#include "app/views/CommandRegistry.h"

// Before the views: GridView.h names QPlainTextEdit without declaring it first.
#include <QPlainTextEdit>

#include "app/views/FindBar.h"
#include "app/views/FormatPopover.h"
#include "app/views/GridAccessible.h"
#include "app/views/GridView.h"
#include "app/views/StatusBar.h"
#include "app/views/Symbols.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QStackedWidget>
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

DocumentWindow::DocumentWindow(std::unique_ptr<CSVDocument> document, DocumentController* controller,
                               QWidget* parent)
    : QMainWindow(parent), controller_(controller), document_(std::move(document)),
      undoStack_(std::make_unique<QUndoStack>()), session_(std::make_unique<EditorSession>(document_.get())) {
    session_->setUndoManager(undoStack_.get());
    if (!document_->filePath().isEmpty()) fileType_ = documentTypeForFileName(document_->filePath());

    // The window's commands act on its session, and only while it is the focused
    // window, which it is whenever its menus or shortcuts are used.
    commands_ = new CommandRegistry(session_.get(), this);
    commands_->setActiveCheck([this] { return focusedWindow() == this; });

    buildContent();
    buildToolBar();
    buildMenus();
    buildFormatPopover();

    connect(document_.get(), &CSVDocument::filePathChanged, this, [this] { updateTitle(); });
    // After the session synced to the change, so the layout is current here.
    connect(session_.get(), &EditorSession::contentChanged, this, [this] { updateEmptyState(); });
    connect(undoStack_.get(), &QUndoStack::cleanChanged, this,
            [this](bool clean) { setWindowModified(!clean); });
    connect(session_.get(), &EditorSession::findChanged, this, [this] { updateFindBar(); });
    connect(session_.get(), &EditorSession::openingChanged, this, [this] { updateEmptyState(); });

    setAcceptDrops(controller_ != nullptr);
    resize(defaultSize);
    // A window of the program proper stands where the last one was closed.
    if (controller_) RecentFiles::restoreWindowGeometry(this);
    updateTitle();
    updateEmptyState();
    updateFindBar();
    toolBar_->setAccessibleName(QStringLiteral("Toolbar"));
    GridAccessible::nameControls(this);
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

void DocumentWindow::checkDisk() {
    diskChangeBar_->check();
}

bool DocumentWindow::isShowingEmptyState() const {
    return stack_->currentWidget() == emptyState_;
}

QAction* DocumentWindow::undoAction() const {
    return commands_->action(Command::undo);
}
QAction* DocumentWindow::redoAction() const {
    return commands_->action(Command::redo);
}
QAction* DocumentWindow::cutAction() const {
    return commands_->action(Command::cut);
}
QAction* DocumentWindow::copyAction() const {
    return commands_->action(Command::copy);
}
QAction* DocumentWindow::pasteAction() const {
    return commands_->action(Command::paste);
}
QAction* DocumentWindow::selectAllAction() const {
    return commands_->action(Command::selectAll);
}

DocumentWindow* DocumentWindow::focusedWindow() {
    return qobject_cast<DocumentWindow*>(QApplication::activeWindow());
}

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
    grid_ = new GridView(session_.get(), stack_, commands_);
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

    // The toolbar shows the commands themselves, under their short toolbar titles.
    toolBar_->addAction(commands_->action(Command::insertRowBelow));
    toolBar_->addAction(commands_->action(Command::insertColumnRight));

    auto* remove = new QAction(Symbols::icon(QStringLiteral("trash")), QStringLiteral("Delete"), this);
    remove->setToolTip(QStringLiteral("Delete the selected rows or columns"));
    auto* deleteMenu = new QMenu(this);
    deleteMenu->addAction(commands_->action(Command::deleteRows));
    deleteMenu->addAction(commands_->action(Command::deleteColumns));
    remove->setMenu(deleteMenu);
    toolBar_->addAction(remove);
    if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(remove))) {
        button->setPopupMode(QToolButton::InstantPopup);
        // The menu's arrow sits beside the title, not tucked under its last letter.
        button->setStyleSheet(QStringLiteral("QToolButton { padding-right: 14px; }"
                                             "QToolButton::menu-indicator { subcontrol-origin: padding;"
                                             " subcontrol-position: right center; right: 2px; }"));
    }

    toolBar_->addAction(commands_->action(Command::find));
    QAction* format = commands_->action(Command::fileFormat);
    toolBar_->addAction(format);
    formatButton_ = qobject_cast<QToolButton*>(toolBar_->widgetForAction(format));
    // From the menu or the button alike, the panel hangs under the button.
    commands_->setOperation(Command::fileFormat, [this] {
        if (!session_->isFormatPresented()) formatPopover_->setAnchor(formatButton_);
        session_->setFormatPresented(!session_->isFormatPresented());
    });
}

void DocumentWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    if (controller_) {
        controller_->populateFileMenu(file, this);
    } else {
        QAction* close = commands_->define(QStringLiteral("Close"), QKeySequence(Qt::CTRL | Qt::Key_W));
        file->addAction(close);
        connect(close, &QAction::triggered, this, &QWidget::close);
    }

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    // Undo and redo go through the session, which commits a cell still being typed
    // first, so the typed text is never lost or written into a moved cell.
    edit->addActions(commands_->editMenuActions());
    edit->addSeparator();
    edit->addActions(commands_->findActions());
    edit->addSeparator();
    edit->addActions(commands_->navigationAndFillActions());

    QMenu* table = menuBar()->addMenu(QStringLiteral("&Table"));
    table->addActions(commands_->tableMenuActions());
    table->addSeparator();
    table->addActions(commands_->repairActions());

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addActions(commands_->viewMenuActions());

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* shortcuts = commands_->define(QStringLiteral("Keyboard Shortcuts"));
    connect(shortcuts, &QAction::triggered, this, [this] {
        if (!shortcutsWindow_) shortcutsWindow_ = new ShortcutsWindow(commands_, this);
        shortcutsWindow_->refresh();
        shortcutsWindow_->show();
        shortcutsWindow_->raise();
        shortcutsWindow_->activateWindow();
    });
    QAction* about = commands_->define(QStringLiteral("About Zarvel"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] { showAbout(this); });
    help->addAction(shortcuts);
    help->addAction(about);
}

// MARK: state

void DocumentWindow::updateTitle() {
    // "[*]" is the modified mark's placeholder; one in the file's name is doubled to show as is.
    QString name = displayName();
    name.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(name + QStringLiteral("[*]"));
    setWindowFilePath(document_->filePath());
}

void DocumentWindow::updateEmptyState() {
    // A file still being read is not empty, even before its first rows show.
    const bool empty = document_->table().columnCount() == 0 && !session_->isOpening();
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
    if (controller_) RecentFiles::saveWindowGeometry(this);
    // A read or a Replace All still running stops now, not when the window is deleted later.
    session_->cancelOpening();
    session_->cancelReplacing();
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
        controller_,
        [controller = QPointer<DocumentController>(controller_), paths,
         self = QPointer<DocumentWindow>(this)] {
            if (controller) controller->openFiles(paths, self);
        },
        Qt::QueuedConnection);
}

} // namespace zarvel
