// DocumentController: opens, creates, saves and closes documents, one window each.
//
// It is the program's small document framework: File ▸ New, Open…, Save, Save As…,
// Close and Quit, the open and save dialogs with their file types, safe saves, and
// the question about unsaved changes. The dialogs go through DocumentPrompts so that
// tests can answer them without a modal dialog.
#pragma once

#include "app/document/DocumentType.h"
#include "app/document/RecoveryStore.h"
#include "core/CSVTable.h"
#include "core/SafeSave.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QMenu;
class QWidget;

namespace zarvel {

class DocumentWindow;
class CSVDocument;

struct SaveTarget {
    QString path;
    DocumentType type = DocumentType::commaSeparatedText;
};

enum class SaveChoice { save, dontSave, cancel };
enum class OverwriteChoice { overwrite, cancel };
enum class RecoveryChoice { restore, discard };

// Every question the controller asks the user.
class DocumentPrompts {
public:
    virtual ~DocumentPrompts() = default;
    // The files to open; empty when the user cancels.
    virtual QStringList chooseFilesToOpen(QWidget* parent, const QString& directory) = 0;
    // Where and as what to save; nothing when the user cancels.
    virtual std::optional<SaveTarget> chooseSaveTarget(QWidget* parent, const QString& suggestedPath,
                                                       DocumentType suggestedType) = 0;
    virtual SaveChoice askToSaveChanges(QWidget* parent, const QString& documentName) = 0;
    virtual void showError(QWidget* parent, const QString& message, const QString& detail) = 0;
    // Saving over a file another program changed since it was read.
    virtual OverwriteChoice askToOverwriteChangedFile(QWidget* parent, const QString& documentName) = 0;
    // At start, about the documents a run left with unsaved changes.
    virtual RecoveryChoice askToRestore(QWidget* parent, const QList<RecoveryRecord>& records) = 0;
};

// The real thing: QFileDialog and QMessageBox.
class DialogPrompts : public DocumentPrompts {
public:
    QStringList chooseFilesToOpen(QWidget* parent, const QString& directory) override;
    std::optional<SaveTarget> chooseSaveTarget(QWidget* parent, const QString& suggestedPath,
                                               DocumentType suggestedType) override;
    SaveChoice askToSaveChanges(QWidget* parent, const QString& documentName) override;
    void showError(QWidget* parent, const QString& message, const QString& detail) override;
    OverwriteChoice askToOverwriteChangedFile(QWidget* parent, const QString& documentName) override;
    RecoveryChoice askToRestore(QWidget* parent, const QList<RecoveryRecord>& records) override;
};

class DocumentController : public QObject {
    Q_OBJECT
public:
    // Without prompts the controller uses the real dialogs.
    explicit DocumentController(std::unique_ptr<DocumentPrompts> prompts = nullptr,
                                QObject* parent = nullptr);
    // Closes the windows still open, without asking.
    ~DocumentController() override;

    DocumentPrompts& prompts() { return *prompts_; }
    QList<DocumentWindow*> windows() const;
    int documentCount() const { return static_cast<int>(windows().size()); }
    // An open or save dialog is showing (native dialogs are not widgets we could see).
    bool isPanelOpen() const { return panelDepth_ > 0; }

    // File ▸ New.
    DocumentWindow* newDocument();
    // Opens a file in its own window, or brings forward the window already showing it.
    // Reports a failure to the user and returns null.
    DocumentWindow* openFile(const QString& path, QWidget* errorParent = nullptr);
    QList<DocumentWindow*> openFiles(const QStringList& paths, QWidget* errorParent = nullptr);
    // File ▸ Open…
    void open(QWidget* parent = nullptr);
    // File ▸ Save: writes the document in the format it has now (the delimiter it was
    // read with or was given since) to its file, asking for one when it has none.
    bool save(DocumentWindow* window);
    // File ▸ Save As…: the type chosen (or named by a typed extension) gives the table
    // its delimiter before writing.
    bool saveAs(DocumentWindow* window);
    // Writes the document in its own format to a path, remembering the file's type;
    // reports a failure to the user. A large table is written on a worker: true then
    // means the save began, and its outcome is taken in (and a failure reported) when
    // it ends. `undoFormatOnFailure`: the last undo step gave the table the format this
    // save asked for, and a failed save takes it back.
    bool saveTo(DocumentWindow* window, const QString& path, DocumentType type,
                bool undoFormatOnFailure = false);
    // Tables larger than this (in bytes of their source text) are saved on a worker
    // while the window stays in use; smaller ones at once. Tests lower it.
    static constexpr uint64_t defaultBackgroundSaveThreshold = 8 << 20;
    void setBackgroundSaveThreshold(uint64_t bytes) { backgroundSaveThreshold_ = bytes; }
    // A save of the window's document is running on a worker.
    bool isSaving(const DocumentWindow* window) const;
    // Waits for a running save of the window to end and takes in its result.
    void waitForSave(DocumentWindow* window);

    // Writes the header row and the rows "Only matching rows" shows to a file the user
    // picks, in the chosen type and the document's format; the document stays as it is.
    bool exportMatchingRows(DocumentWindow* window);
    // Reads the document's file again as one undoable step: "Reload" after a change on
    // disk, File ▸ Revert to Saved. The result is the saved state. A large file is read
    // on a worker (true means the read began; a cancel changes nothing, a failure is
    // reported when it ends).
    bool reload(DocumentWindow* window);
    bool revertToSaved(DocumentWindow* window);
    // Asked by a window that is about to close: offers to save unsaved changes.
    // False when the user cancels (or the save failed), and the window stays.
    bool shouldClose(DocumentWindow* window);
    // Closes every window, asking about unsaved changes; false when one stayed open.
    bool closeAll();
    // File ▸ Quit.
    void quit();

    // How saved bytes reach the disk. Tests hand in a write that fails part way through
    // to prove a failed save never leaves a half-written file.
    void setSaveWriteHook(SafeSave::WriteHook hook) { saveOptions_.writeHook = std::move(hook); }

    // Where each window keeps its unsaved changes against a crash; none by default.
    void setRecoveryStore(std::unique_ptr<RecoveryStore> store) { recoveryStore_ = std::move(store); }
    RecoveryStore* recoveryStore() const { return recoveryStore_.get(); }
    // Offers the documents earlier runs left unsaved; restored ones open in windows of
    // their own with the changes applied and unsaved.
    QList<DocumentWindow*> restoreRecoveredDocuments(QWidget* parent = nullptr);

    // Fills a window's File menu.
    void populateFileMenu(QMenu* menu, DocumentWindow* window);
    // File ▸ Open Recent ▸ a file: opens it, or, when it is gone, says so and drops it
    // from the list.
    void openRecent(const QString& path, QWidget* parent = nullptr);
    // Lists the recent files in a menu, "Clear Menu" last.
    void fillRecentMenu(QMenu* menu, DocumentWindow* window);

    // The type Save As suggests: the one named after the table's delimiter (comma,
    // tab, pipe); for any other, the file's own when it keeps it, else plain text.
    static DocumentType suggestedSaveType(const DocumentWindow* window);

Q_SIGNALS:
    void windowOpened(zarvel::DocumentWindow* window);
    void windowClosed(zarvel::DocumentWindow* window);

private:
    // Asks where to save: the path (given the type's extension when it has none) and the
    // type, which an extension the user typed chooses. Nothing when the user cancels.
    std::optional<std::pair<QString, DocumentType>>
    askSaveTarget(DocumentWindow* window, const QString& suggested, DocumentType suggestedType);
    DocumentWindow* adopt(std::unique_ptr<CSVDocument> document, std::optional<DocumentType> type);
    void reportSaveFailure(QWidget* parent, const QString& path, const QString& reason);
    bool reread(DocumentWindow* window, const QString& actionName);
    // Replays a record over its file once a background read of it landed in `window`.
    void finishRecovery(DocumentWindow* window, const RecoveryRecord& record);
    // The recovered table as one undo step; the old record goes once the new journal holds it.
    void applyRecovered(DocumentWindow* window, CSVTable table, const RecoveryRecord& record);
    void showRereadError(DocumentWindow* window, const QString& name, const DocumentError& error);
    struct BackgroundSave;
    void startBackgroundSave(DocumentWindow* window, const QString& path, DocumentType type,
                             CSVTable snapshot, bool undoFormatOnFailure);
    void finishBackgroundSave(const std::shared_ptr<BackgroundSave>& save);
    // What a save that worked changes: the file the document is, its type, the clean state.
    void takeSavedState(DocumentWindow* window, const QString& absolutePath, DocumentType type,
                        uint64_t digest);

    std::unique_ptr<DocumentPrompts> prompts_;
    SafeSave::Options saveOptions_;
    std::unique_ptr<RecoveryStore> recoveryStore_;
    // Held as widgets: a window being destroyed is no longer a DocumentWindow, and a
    // typed pointer to it would be cast from what is by then only a QWidget.
    QList<QPointer<QWidget>> windows_;
    QString lastDirectory_;
    int panelDepth_ = 0;
    uint64_t backgroundSaveThreshold_ = defaultBackgroundSaveThreshold;
    std::map<const DocumentWindow*, std::shared_ptr<BackgroundSave>> saves_;
};

} // namespace zarvel
