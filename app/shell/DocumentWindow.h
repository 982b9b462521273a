// DocumentWindow: the window of one open document. It owns the document, the window's
// undo stack and the editor session for the window's whole life, and composes the
// views: the toolbar, the find bar, the grid (or the empty state when the table has no
// columns) and the status bar, top to bottom, and the format popover under its button.
#pragma once

#include "app/document/DocumentType.h"

#include <QMainWindow>
#include <QSize>

#include <memory>
#include <optional>

class QAction;
class QFrame;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QUndoStack;

namespace zarvel {

class CSVDocument;
class DiskChangeBar;
class DocumentController;
class EditorSession;
class EmptyStateView;
class FindBar;
class FormatPopover;
class GridView;
class ShortcutsWindow;
class StatusBar;
class CommandRegistry;

class DocumentWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize defaultSize{1100, 720};

    // With a controller the window has the full File menu, asks before closing with
    // unsaved changes and opens dropped files; without one it stands alone.
    explicit DocumentWindow(std::unique_ptr<CSVDocument> document, DocumentController* controller = nullptr,
                            QWidget* parent = nullptr);
    ~DocumentWindow() override;

    CSVDocument* document() const { return document_.get(); }
    EditorSession* session() const { return session_.get(); }
    QUndoStack* undoStack() const { return undoStack_.get(); }
    // Every command of the window, as the menus, toolbar and context menus show them.
    CommandRegistry* commands() const { return commands_; }

    // The file's name, or "Untitled" before the first save.
    QString displayName() const;
    // The type the document was opened or last saved as. Saving writes the table's own
    // format whatever this says; Save As starts from it.
    std::optional<DocumentType> fileType() const { return fileType_; }
    void setFileType(DocumentType type) { fileType_ = type; }

    GridView* gridView() const { return grid_; }
    FindBar* findBar() const { return findBar_; }
    DiskChangeBar* diskChangeBar() const { return diskChangeBar_; }
    // Looks at the file now: the bar shows when another program changed it.
    void checkDisk();
    StatusBar* statusStrip() const { return statusStrip_; }
    EmptyStateView* emptyState() const { return emptyState_; }
    bool isShowingEmptyState() const;
    FormatPopover* formatPopover() const { return formatPopover_; }
    QToolBar* toolBar() const { return toolBar_; }
    QToolButton* formatButton() const { return formatButton_; }
    // The Help menu's shortcuts window, once it has been opened.
    ShortcutsWindow* shortcutsWindow() const { return shortcutsWindow_; }

    QAction* undoAction() const;
    QAction* redoAction() const;
    QAction* cutAction() const;
    QAction* copyAction() const;
    QAction* pasteAction() const;
    QAction* selectAllAction() const;

    // The document window that has focus, and its session; null when none has.
    static DocumentWindow* focusedWindow();
    static EditorSession* focusedSession();

Q_SIGNALS:
    // The window accepted closing; it hides next.
    void closed(zarvel::DocumentWindow* window);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildContent();
    void buildToolBar();
    void buildMenus();
    void updateTitle();
    void updateEmptyState();
    void updateFindBar();
    void buildFormatPopover();

    DocumentController* controller_;
    std::unique_ptr<CSVDocument> document_;
    std::unique_ptr<QUndoStack> undoStack_;
    std::unique_ptr<EditorSession> session_;
    std::optional<DocumentType> fileType_;
    CommandRegistry* commands_ = nullptr;
    bool hasBeenShown_ = false;

    FindBar* findBar_ = nullptr;
    DiskChangeBar* diskChangeBar_ = nullptr;
    QFrame* findDivider_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    GridView* grid_ = nullptr;
    EmptyStateView* emptyState_ = nullptr;
    StatusBar* statusStrip_ = nullptr;
    FormatPopover* formatPopover_ = nullptr;

    QToolBar* toolBar_ = nullptr;
    QToolButton* formatButton_ = nullptr;
    ShortcutsWindow* shortcutsWindow_ = nullptr;
};

} // namespace zarvel
