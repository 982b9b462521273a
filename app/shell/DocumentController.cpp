#include "app/shell/DocumentController.h"

#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"
#include "app/shell/DocumentWindow.h"
#include "app/shell/RecentFiles.h"
#include "app/views/CommandRegistry.h"
#include "app/views/Counted.h"
#include "app/views/StatusBar.h"
#include "core/CSVWriter.h"
#include "core/EditRecord.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <atomic>
#include <thread>

namespace zarvel {

namespace {

QString quoted(const QString& name) {
    return QStringLiteral("“") + name + QStringLiteral("”");
}

// Message boxes guess rich text from a tag anywhere in their text; file names and the
// system's words are shown as typed, escaped inside rich text so that they still wrap.
QString literal(const QString& text) {
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

// Keeps the quit rule from ending the program while a dialog is up.
class PanelScope {
public:
    explicit PanelScope(int& depth) : depth_(depth) { ++depth_; }
    ~PanelScope() { --depth_; }
    PanelScope(const PanelScope&) = delete;
    PanelScope& operator=(const PanelScope&) = delete;

private:
    int& depth_;
};

// The window's words for what SafeSave refused or met.
QString saveFailureReason(const SafeSave::Error& error) {
    const QString folder = quoted(QFileInfo(QFile::decodeName(error.path.c_str())).fileName());
    switch (error.kind) {
    case SafeSave::Error::Kind::folderMissing:
        return QStringLiteral("The folder %1 does not exist.").arg(folder);
    case SafeSave::Error::Kind::folderNotWritable:
        return QStringLiteral("You do not have permission to save in the folder %1.").arg(folder);
    case SafeSave::Error::Kind::readOnlyFile:
    case SafeSave::Error::Kind::notPermitted:
        return QStringLiteral("The file is locked, or you do not have permission to change it.");
    default:
        return QStringLiteral("The file could not be written: %1.")
            .arg(QString::fromStdString(error.reason()));
    }
}

} // namespace

// MARK: the real dialogs

QStringList DialogPrompts::chooseFilesToOpen(QWidget* parent, const QString& directory) {
    return QFileDialog::getOpenFileNames(parent, QStringLiteral("Open"), directory, openNameFilters());
}

std::optional<SaveTarget> DialogPrompts::chooseSaveTarget(QWidget* parent, const QString& suggestedPath,
                                                          DocumentType suggestedType) {
    QFileDialog dialog(parent, QStringLiteral("Save As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (DocumentType type : writableDocumentTypes)
        filters << nameFilter(type);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(nameFilter(suggestedType));
    dialog.setDefaultSuffix(extensions(suggestedType).value(0));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        if (const auto type = documentTypeForNameFilter(filter))
            dialog.setDefaultSuffix(extensions(*type).value(0));
    });
    dialog.selectFile(suggestedPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return SaveTarget{dialog.selectedFiles().first(),
                      documentTypeForNameFilter(dialog.selectedNameFilter()).value_or(suggestedType)};
}

SaveChoice DialogPrompts::askToSaveChanges(QWidget* parent, const QString& documentName) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationName());
    box.setTextFormat(Qt::RichText);
    box.setText(
        literal(QStringLiteral("Do you want to save the changes you made to %1?").arg(quoted(documentName))));
    box.setInformativeText(literal(QStringLiteral("Your changes will be lost if you don’t save them.")));
    QPushButton* save = box.addButton(QStringLiteral("Save"), QMessageBox::AcceptRole);
    QPushButton* dontSave = box.addButton(QStringLiteral("Don’t Save"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save) return SaveChoice::save;
    if (box.clickedButton() == dontSave) return SaveChoice::dontSave;
    return SaveChoice::cancel;
}

void DialogPrompts::showError(QWidget* parent, const QString& message, const QString& detail) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationName());
    box.setTextFormat(Qt::RichText);
    box.setText(literal(message));
    box.setInformativeText(literal(detail));
    box.exec();
}

OverwriteChoice DialogPrompts::askToOverwriteChangedFile(QWidget* parent, const QString& documentName) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationName());
    box.setText(QStringLiteral("The file %1 was changed by another program since you opened it.")
                    .arg(quoted(documentName)));
    box.setInformativeText(QStringLiteral("Saving replaces the other program’s changes with yours."));
    QPushButton* overwrite = box.addButton(QStringLiteral("Overwrite"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == overwrite ? OverwriteChoice::overwrite : OverwriteChoice::cancel;
}

RecoveryChoice DialogPrompts::askToRestore(QWidget* parent, const QList<RecoveryRecord>& records) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationName());
    box.setText(records.size() == 1
                    ? QStringLiteral("Zarvel ended before a document with unsaved changes was saved.")
                    : QStringLiteral("Zarvel ended before %1 documents with unsaved changes were saved.")
                          .arg(groupedCount(records.size())));
    QStringList lines;
    for (const RecoveryRecord& record : records) {
        const QString when = QLocale().toString(record.lastChange, QLocale::ShortFormat);
        lines << (record.folder.isEmpty()
                      ? QStringLiteral("%1 — changed %2").arg(record.name, when)
                      : QStringLiteral("%1 in %2 — changed %3").arg(record.name, record.folder, when));
    }
    box.setInformativeText(lines.join(QLatin1Char('\n')));
    QPushButton* restore = box.addButton(QStringLiteral("Restore"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(restore);
    box.setEscapeButton(restore);
    box.exec();
    return box.clickedButton() == discard ? RecoveryChoice::discard : RecoveryChoice::restore;
}

// MARK: controller

struct DocumentController::BackgroundSave {
    QPointer<DocumentWindow> window;
    QString path;
    DocumentType type = DocumentType::commaSeparatedText;
    bool undoFormatOnFailure = false;
    int undoIndexAfterFormat = -1;
    int64_t revision = 0; // the document's, when the snapshot was taken
    uint64_t estimate = 0;
    std::atomic<uint64_t> written{0};
    std::thread thread;
    bool finished = false; // main thread only
    // Set by the worker before it posts its end.
    std::optional<SafeSave::Error> error;
    std::optional<QString> failure; // a table the format cannot spell
    uint64_t digest = 0;
    CSVTable snapshot;

    ~BackgroundSave() {
        if (thread.joinable()) thread.join();
    }
};

DocumentController::DocumentController(std::unique_ptr<DocumentPrompts> prompts, QObject* parent)
    : QObject(parent), prompts_(prompts ? std::move(prompts) : std::make_unique<DialogPrompts>()),
      lastDirectory_(RecentFiles::lastFolder()) {}

DocumentController::~DocumentController() {
    while (!saves_.empty()) {
        const std::shared_ptr<BackgroundSave> save = saves_.begin()->second;
        save->thread.join();
        finishBackgroundSave(save);
    }
    for (const QPointer<QWidget>& window : windows_)
        delete window.data();
}

QList<DocumentWindow*> DocumentController::windows() const {
    QList<DocumentWindow*> result;
    for (const QPointer<QWidget>& window : windows_)
        if (auto* documentWindow = qobject_cast<DocumentWindow*>(window.data())) result << documentWindow;
    return result;
}

DocumentWindow* DocumentController::adopt(std::unique_ptr<CSVDocument> document,
                                          std::optional<DocumentType> type) {
    auto* window = new DocumentWindow(std::move(document), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (type) window->setFileType(*type);
    windows_ << window;
    if (recoveryStore_)
        new DocumentRecorder(recoveryStore_->folder(), window->document(), window->undoStack(), window);
    connect(window, &DocumentWindow::closed, this, [this](DocumentWindow* closing) {
        // Saved, or thrown away on purpose: nothing is left to recover.
        if (auto* recorder = closing->findChild<DocumentRecorder*>()) recorder->discard();
        windows_.removeAll(closing);
        Q_EMIT windowClosed(closing);
    });
    connect(window, &QObject::destroyed, this, [this] { windows_.removeAll(nullptr); });
    // A file read in the background that fails leaves no window behind: the error is
    // told over the window, then it closes. A cancelled read just closes it.
    connect(window->document(), &CSVDocument::openFailed, window, [this, window](const DocumentError& error) {
        const bool cancelled =
            error.csvError && std::holds_alternative<CSVError::Cancelled>(error.csvError->value);
        if (!cancelled)
            prompts_->showError(
                window,
                QStringLiteral("The document %1 could not be opened.").arg(quoted(window->displayName())),
                error.message());
        window->close();
    });
    window->show();
    // A new window takes the keyboard, so its shortcuts work at once, also where no
    // window manager hands out focus.
    window->raise();
    window->activateWindow();
    Q_EMIT windowOpened(window);
    return window;
}

DocumentWindow* DocumentController::newDocument() {
    return adopt(std::make_unique<CSVDocument>(), std::nullopt);
}

DocumentWindow* DocumentController::openFile(const QString& path, QWidget* errorParent) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    for (DocumentWindow* window : windows()) {
        const QString open = window->document()->filePath();
        if (!canonical.isEmpty() && !open.isEmpty() && QFileInfo(open).canonicalFilePath() == canonical) {
            RecentFiles::noteOpened(info.absoluteFilePath());
            window->raise();
            window->activateWindow();
            return window;
        }
    }
    DocumentError error;
    std::unique_ptr<CSVDocument> document = CSVDocument::openInBackground(info.absoluteFilePath(), error);
    if (!document) {
        prompts_->showError(
            errorParent, QStringLiteral("The document %1 could not be opened.").arg(quoted(info.fileName())),
            error.message());
        return nullptr;
    }
    lastDirectory_ = info.absolutePath();
    RecentFiles::setLastFolder(lastDirectory_);
    RecentFiles::noteOpened(info.absoluteFilePath());
    return adopt(std::move(document), documentTypeForFileName(path));
}

QList<DocumentWindow*> DocumentController::openFiles(const QStringList& paths, QWidget* errorParent) {
    QList<DocumentWindow*> opened;
    for (const QString& path : paths)
        if (DocumentWindow* window = openFile(path, errorParent)) opened << window;
    return opened;
}

void DocumentController::open(QWidget* parent) {
    QStringList paths;
    {
        PanelScope scope(panelDepth_);
        paths = prompts_->chooseFilesToOpen(parent, lastDirectory_);
    }
    openFiles(paths, parent);
}

DocumentType DocumentController::suggestedSaveType(const DocumentWindow* window) {
    const FileFormat format = window->document()->table().format();
    switch (format.dialect.delimiter) {
    case Byte::comma:
        return DocumentType::commaSeparatedText;
    case Byte::tab:
        return DocumentType::tabSeparatedText;
    case Byte::pipe:
        return DocumentType::pipeText;
    default:
        break;
    }
    // Any other delimiter: the file's own type when it writes that delimiter (a .csv
    // with semicolons stays one), otherwise plain text, which keeps every delimiter.
    if (const auto type = window->fileType())
        for (DocumentType writable : writableDocumentTypes)
            if (*type == writable &&
                CSVDocument::formatForSaving(format, writable).dialect.delimiter == format.dialect.delimiter)
                return writable;
    return DocumentType::plainText;
}

bool DocumentController::save(DocumentWindow* window) {
    const QString& path = window->document()->filePath();
    if (path.isEmpty()) return saveAs(window);
    // Another program's changes are overwritten only on request; a removed file is
    // simply written again.
    if (window->document()->diskState() == DiskState::changed &&
        prompts_->askToOverwriteChangedFile(window, window->displayName()) != OverwriteChoice::overwrite)
        return false;
    return saveTo(window, path, window->fileType().value_or(documentTypeForFileName(path)));
}

bool DocumentController::saveAs(DocumentWindow* window) {
    // A cell still being typed into is part of what the user saves.
    window->session()->commitEditing(CommitMove::none);
    const DocumentType suggestedType = suggestedSaveType(window);
    const QString& current = window->document()->filePath();
    QString suggested;
    if (current.isEmpty()) {
        suggested =
            QDir(lastDirectory_).filePath(QStringLiteral("Untitled.") + extensions(suggestedType).value(0));
    } else {
        const QFileInfo info(current);
        suggested = info.dir().filePath(info.completeBaseName() + QLatin1Char('.') +
                                        extensions(suggestedType).value(0));
    }
    const auto target = askSaveTarget(window, suggested, suggestedType);
    if (!target) return false;
    const auto& [path, type] = *target;

    // The chosen type's delimiter becomes the table's own (one undoable step), so that
    // the file holds what its type says and the next plain Save writes the same. A
    // failed save takes that step back.
    const FileFormat before = window->document()->table().format();
    const FileFormat converted = CSVDocument::formatForSaving(before, type);
    const bool converts = converted != before;
    if (converts) window->session()->changeFormat(converted);
    if (saveTo(window, path, type, converts)) return true;
    if (converts && window->undoStack()->canUndo()) window->undoStack()->undo();
    return false;
}

void DocumentController::reportSaveFailure(QWidget* parent, const QString& path, const QString& reason) {
    prompts_->showError(
        parent,
        QStringLiteral("The document could not be saved as %1.").arg(quoted(QFileInfo(path).fileName())),
        reason);
}

bool DocumentController::isSaving(const DocumentWindow* window) const {
    return saves_.count(window) != 0;
}

void DocumentController::waitForSave(DocumentWindow* window) {
    const auto it = saves_.find(window);
    if (it == saves_.end()) return;
    const std::shared_ptr<BackgroundSave> save = it->second;
    save->thread.join();
    finishBackgroundSave(save);
}

void DocumentController::takeSavedState(DocumentWindow* window, const QString& absolutePath,
                                        DocumentType type, uint64_t digest) {
    window->document()->setFilePath(absolutePath);
    window->document()->setFileIdentity(FileIdentity::withHash(absolutePath, digest));
    window->setFileType(type);
    lastDirectory_ = QFileInfo(absolutePath).absolutePath();
}

bool DocumentController::saveTo(DocumentWindow* window, const QString& path, DocumentType type,
                                bool undoFormatOnFailure) {
    // Only the first rows of a file still being read are here.
    if (window->session()->isOpening()) return false;
    // One save at a time: a second one writes after the first.
    waitForSave(window);
    // The snapshot must hold what the user sees, including a cell still being typed.
    window->session()->commitEditing(CommitMove::none);
    CSVTable snapshot = window->document()->snapshot();
    if (snapshot.source().size() > backgroundSaveThreshold_) {
        startBackgroundSave(window, path, type, std::move(snapshot), undoFormatOnFailure);
        return true;
    }
    // The file is written as it is made, block by block: never the whole of it in memory.
    const QFileInfo info(path);
    std::optional<SafeSave::Error> error;
    ContentHasher written;
    try {
        error = SafeSave::save(
            QFile::encodeName(path).toStdString(),
            [&](SafeSave::Sink& sink) {
                CSVWriter::write(snapshot, snapshot.format(), [&](std::string_view block) {
                    written.update(block);
                    sink.write(block);
                });
            },
            saveOptions_);
    } catch (const CSVError& e) {
        reportSaveFailure(window, path, describe(e, &snapshot));
        return false;
    }
    if (error) {
        reportSaveFailure(window, path, saveFailureReason(*error));
        return false;
    }
    takeSavedState(window, info.absoluteFilePath(), type, written.digest());
    window->undoStack()->setClean();
    lastDirectory_ = info.absolutePath();
    RecentFiles::setLastFolder(lastDirectory_);
    RecentFiles::noteOpened(info.absoluteFilePath());
    return true;
}

void DocumentController::startBackgroundSave(DocumentWindow* window, const QString& path, DocumentType type,
                                             CSVTable snapshot, bool undoFormatOnFailure) {
    auto save = std::make_shared<BackgroundSave>();
    save->window = window;
    save->path = QFileInfo(path).absoluteFilePath();
    save->type = type;
    save->undoFormatOnFailure = undoFormatOnFailure;
    save->undoIndexAfterFormat = window->undoStack()->index();
    save->revision = window->document()->revision();
    save->estimate = std::max<uint64_t>(snapshot.source().size(), 1);
    save->snapshot = std::move(snapshot);
    saves_[window] = save;

    // The bar shows how far the file is written; the window stays in use meanwhile.
    auto* timer = new QTimer(window);
    timer->setInterval(100);
    auto showProgress = [save, bar = QPointer<StatusBar>(window->statusStrip())] {
        const double done = static_cast<double>(save->written.load(std::memory_order_relaxed)) /
                            static_cast<double>(save->estimate);
        if (bar) bar->setSaveProgress(std::min(done, 0.99));
    };
    connect(timer, &QTimer::timeout, window, showProgress);
    connect(this, &QObject::destroyed, timer, &QObject::deleteLater);
    timer->setObjectName(QStringLiteral("saveProgressTimer"));
    timer->start();
    showProgress();

    const SafeSave::Options options = saveOptions_;
    BackgroundSave* state = save.get();
    state->thread = std::thread([this, state, options, weak = std::weak_ptr<BackgroundSave>(save)] {
        ContentHasher written;
        try {
            state->error = SafeSave::save(
                QFile::encodeName(state->path).toStdString(),
                [&](SafeSave::Sink& sink) {
                    CSVWriter::write(state->snapshot, state->snapshot.format(), [&](std::string_view block) {
                        written.update(block);
                        sink.write(block);
                        state->written.fetch_add(block.size(), std::memory_order_relaxed);
                    });
                },
                options);
        } catch (const CSVError& e) {
            state->failure = describe(e, &state->snapshot);
        } catch (...) {
            state->failure = QStringLiteral("The file could not be written.");
        }
        state->digest = written.digest();
        // The controller waits for every save before it goes, so it is here to take this.
        QMetaObject::invokeMethod(
            this,
            [this, weak] {
                if (const auto save = weak.lock()) finishBackgroundSave(save);
            },
            Qt::QueuedConnection);
    });
}

void DocumentController::finishBackgroundSave(const std::shared_ptr<BackgroundSave>& save) {
    if (save->finished) return;
    save->finished = true;
    if (save->thread.joinable()) save->thread.join();
    saves_.erase(save->window.data());
    for (auto it = saves_.begin(); it != saves_.end();) // a window gone meanwhile
        it = it->second == save ? saves_.erase(it) : std::next(it);
    DocumentWindow* window = save->window;
    save->snapshot = CSVTable(); // the worker's hold on the table ends here
    if (!window) return;
    if (auto* timer = window->findChild<QTimer*>(QStringLiteral("saveProgressTimer"))) delete timer;
    window->statusStrip()->setSaveProgress(std::nullopt);

    if (save->failure || save->error) {
        reportSaveFailure(window, save->path,
                          save->failure ? *save->failure : saveFailureReason(*save->error));
        // The format this save gave the table goes back, unless the user went on since.
        if (save->undoFormatOnFailure && window->undoStack()->index() == save->undoIndexAfterFormat &&
            window->undoStack()->canUndo())
            window->undoStack()->undo();
        return;
    }
    takeSavedState(window, save->path, save->type, save->digest);
    RecentFiles::noteOpened(QFileInfo(save->path).absoluteFilePath());
    // What was written is the snapshot: the document is saved only if nothing changed
    // since it was taken. Otherwise no state on the stack is known to match the file.
    if (window->document()->revision() == save->revision)
        window->undoStack()->setClean();
    else
        window->undoStack()->resetClean();
}

std::optional<std::pair<QString, DocumentType>>
DocumentController::askSaveTarget(DocumentWindow* window, const QString& suggested,
                                  DocumentType suggestedType) {
    std::optional<SaveTarget> target;
    {
        PanelScope scope(panelDepth_);
        target = prompts_->chooseSaveTarget(window, suggested, suggestedType);
    }
    if (!target || target->path.isEmpty()) return std::nullopt;
    QString path = target->path;
    // An extension the user typed chooses the type when it names one.
    const DocumentType type = documentTypeNamedBy(path).value_or(target->type);
    if (QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + extensions(type).value(0);
    return std::pair{path, type};
}

bool DocumentController::exportMatchingRows(DocumentWindow* window) {
    EditorSession* session = window->session();
    session->commitEditing(CommitMove::none);
    if (!session->rowFilter()) return false;
    const CSVTable rows = session->displayedRowsTable();
    const DocumentType suggestedType = suggestedSaveType(window);
    const QString& current = window->document()->filePath();
    const QString base =
        current.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(current).completeBaseName();
    const QString folder = current.isEmpty() ? lastDirectory_ : QFileInfo(current).absolutePath();
    const QString suggested = QDir(folder).filePath(base + QStringLiteral(" (matching rows).") +
                                                    extensions(suggestedType).value(0));
    const auto target = askSaveTarget(window, suggested, suggestedType);
    if (!target) return false;
    const auto& [path, type] = *target;

    const FileFormat format = CSVDocument::formatForSaving(rows.format(), type);
    std::optional<SafeSave::Error> error;
    const auto fail = [&](const QString& reason) {
        prompts_->showError(window,
                            QStringLiteral("The matching rows could not be exported as %1.")
                                .arg(quoted(QFileInfo(path).fileName())),
                            reason);
        return false;
    };
    try {
        error = SafeSave::save(
            QFile::encodeName(path).toStdString(),
            [&](SafeSave::Sink& sink) {
                CSVWriter::write(rows, format, [&](std::string_view block) { sink.write(block); });
            },
            saveOptions_);
    } catch (const CSVError& e) {
        return fail(describe(e, &rows));
    }
    if (error) return fail(saveFailureReason(*error));
    lastDirectory_ = QFileInfo(path).absolutePath();
    return true;
}

bool DocumentController::reread(DocumentWindow* window, const QString& actionName) {
    // Already being read: the read under way lands the file as it is on disk.
    if (window->session()->isOpening()) return false;
    window->session()->cancelEditing();
    CSVDocument* document = window->document();
    const QString name = window->displayName();
    // One ending, whichever way the read goes; a small file ends before reloadInBackground returns.
    auto connections = std::make_shared<std::vector<QMetaObject::Connection>>();
    auto disconnectAll = [connections] {
        for (const auto& c : *connections)
            QObject::disconnect(c);
    };
    connections->push_back(connect(document, &CSVDocument::reloaded, window, [window, disconnectAll] {
        disconnectAll();
        window->undoStack()->setClean();
        window->checkDisk();
    }));
    connections->push_back(connect(document, &CSVDocument::rereadFailed, window,
                                   [this, window, name, disconnectAll](const DocumentError& error) {
                                       disconnectAll();
                                       const bool cancelled =
                                           error.csvError &&
                                           std::holds_alternative<CSVError::Cancelled>(error.csvError->value);
                                       if (!cancelled) showRereadError(window, name, error);
                                       window->checkDisk();
                                   }));
    DocumentError error;
    if (!document->reloadInBackground(window->undoStack(), actionName, error)) {
        disconnectAll();
        showRereadError(window, name, error);
        return false;
    }
    return true;
}

void DocumentController::showRereadError(DocumentWindow* window, const QString& name,
                                         const DocumentError& error) {
    prompts_->showError(window, QStringLiteral("The document %1 could not be read again.").arg(quoted(name)),
                        error.message());
}

bool DocumentController::reload(DocumentWindow* window) {
    return reread(window, QStringLiteral("Reload"));
}

bool DocumentController::revertToSaved(DocumentWindow* window) {
    if (window->document()->filePath().isEmpty()) return false;
    return reread(window, QStringLiteral("Revert to Saved"));
}

QList<DocumentWindow*> DocumentController::restoreRecoveredDocuments(QWidget* parent) {
    QList<DocumentWindow*> restored;
    if (!recoveryStore_ || !recoveryStore_->prepare()) return restored;
    const RecoveryStore::Scan scan = recoveryStore_->scan();
    if (!scan.damaged.isEmpty())
        prompts_->showError(
            parent, QStringLiteral("Some unsaved changes from an earlier session could not be recovered."),
            QStringLiteral("Their damaged records were set aside in %1.")
                .arg(quoted(recoveryStore_->folder())));
    if (scan.records.isEmpty()) return restored;
    const RecoveryChoice choice = prompts_->askToRestore(parent, scan.records);
    QStringList failures;
    for (const RecoveryRecord& record : scan.records) {
        if (choice == RecoveryChoice::discard) {
            recoveryStore_->discard(record);
            continue;
        }
        // A large file comes in the background, as when it is opened; the changes are
        // replayed over it once it is read. Cancelled or failed, the window goes and the
        // record stays for the next start.
        if (!record.filePath.isEmpty() &&
            QFileInfo(record.filePath).size() > static_cast<qint64>(CSVDocument::backgroundThreshold)) {
            DocumentError error;
            std::unique_ptr<CSVDocument> document = CSVDocument::openInBackground(record.filePath, error);
            if (document && document->isOpening()) {
                DocumentWindow* window = adopt(std::move(document), documentTypeForFileName(record.filePath));
                connect(
                    window->document(), &CSVDocument::opened, window,
                    [this, window, record] { finishRecovery(window, record); }, Qt::SingleShotConnection);
                restored << window;
                continue;
            }
        }
        QString problem;
        std::optional<RecoveryStore::Restored> result = recoveryStore_->restore(record, problem);
        if (!result) {
            failures << QStringLiteral("%1: %2").arg(record.name, problem);
            continue;
        }
        const QString path = result->document->filePath();
        DocumentWindow* window =
            adopt(std::move(result->document),
                  path.isEmpty() ? std::nullopt : std::optional(documentTypeForFileName(path)));
        applyRecovered(window, std::move(result->table), record);
        restored << window;
    }
    if (!failures.isEmpty())
        prompts_->showError(parent, QStringLiteral("Some unsaved changes could not be restored."),
                            failures.join(QLatin1Char('\n')));
    return restored;
}

void DocumentController::finishRecovery(DocumentWindow* window, const RecoveryRecord& record) {
    if (!recoveryStore_) return;
    QString problem;
    std::optional<RecoveryStore::Restored> result =
        recoveryStore_->restore(record, problem, *window->document());
    if (!result) {
        prompts_->showError(window, QStringLiteral("Some unsaved changes could not be restored."),
                            QStringLiteral("%1: %2").arg(record.name, problem));
        return;
    }
    applyRecovered(window, std::move(result->table), record);
}

void DocumentController::applyRecovered(DocumentWindow* window, CSVTable table,
                                        const RecoveryRecord& record) {
    window->document()->apply(TableEdit::replaceTable(std::move(table)), window->undoStack(),
                              QStringLiteral("Recover Unsaved Changes"));
    // The new journal holds everything before the old one goes.
    if (auto* recorder = window->findChild<DocumentRecorder*>()) recorder->flush();
    recoveryStore_->discard(record);
    window->checkDisk();
}

bool DocumentController::shouldClose(DocumentWindow* window) {
    // A save still running ends first: closing or quitting never cuts a save short.
    waitForSave(window);
    window->session()->commitEditing(CommitMove::none);
    if (!window->isWindowModified()) return true;
    window->raise();
    switch (prompts_->askToSaveChanges(window, window->displayName())) {
    case SaveChoice::save:
        // A large table saves on a worker: the window waits for it before it goes.
        if (!save(window)) return false;
        waitForSave(window);
        return !window->isWindowModified();
    case SaveChoice::dontSave:
        return true;
    case SaveChoice::cancel:
        return false;
    }
    return false;
}

bool DocumentController::closeAll() {
    for (DocumentWindow* window : windows())
        if (!window->close()) return false;
    return true;
}

void DocumentController::quit() {
    if (closeAll()) QCoreApplication::quit();
}

void DocumentController::populateFileMenu(QMenu* menu, DocumentWindow* window) {
    // The File commands join the window's registry, whose shortcuts are one set.
    auto add = [menu, window](const QString& title, const QKeySequence& shortcut) {
        QAction* action = window->commands()->define(title, shortcut);
        menu->addAction(action);
        return action;
    };
    connect(add(QStringLiteral("New"), QKeySequence(Qt::CTRL | Qt::Key_N)), &QAction::triggered, this,
            [this] { newDocument(); });
    connect(add(QStringLiteral("Open…"), QKeySequence(Qt::CTRL | Qt::Key_O)), &QAction::triggered, this,
            [this, window = QPointer<DocumentWindow>(window)] { open(window); });
    QMenu* recent = menu->addMenu(QStringLiteral("Open Recent"));
    recent->setObjectName(QStringLiteral("openRecentMenu"));
    // Filled as it opens, so every window shows what any of them opened last.
    connect(recent, &QMenu::aboutToShow, this, [this, recent, window] { fillRecentMenu(recent, window); });
    fillRecentMenu(recent, window);
    menu->addSeparator();
    QAction* saveAction = add(QStringLiteral("Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(saveAction, &QAction::triggered, window, [this, window] { save(window); });
    QAction* saveAsAction = add(QStringLiteral("Save As…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(saveAsAction, &QAction::triggered, window, [this, window] { saveAs(window); });
    QAction* exportRows = add(QStringLiteral("Export Matching Rows…"), QKeySequence());
    connect(exportRows, &QAction::triggered, window, [this, window] { exportMatchingRows(window); });
    auto updateExport = [exportRows, window] {
        exportRows->setEnabled(window->session()->rowFilter().has_value());
    };
    connect(window->session(), &EditorSession::rowFilterChanged, exportRows, updateExport);
    updateExport();
    QAction* revert = add(QStringLiteral("Revert to Saved"), QKeySequence());
    connect(revert, &QAction::triggered, window, [this, window] { revertToSaved(window); });
    auto updateRevert = [revert, saveAction, saveAsAction, window] {
        if (!window->session()) return; // the window is going (its undo stack says so last)
        const bool whole = !window->session()->isOpening(); // a file still being read cannot be saved yet
        saveAction->setEnabled(whole);
        saveAsAction->setEnabled(whole);
        revert->setEnabled(whole && !window->undoStack()->isClean() &&
                           !window->document()->filePath().isEmpty());
    };
    connect(menu, &QMenu::aboutToShow, revert, updateRevert);
    connect(window->undoStack(), &QUndoStack::cleanChanged, revert, updateRevert);
    connect(window->session(), &EditorSession::openingChanged, revert, updateRevert);
    updateRevert();
    menu->addSeparator();
    connect(add(QStringLiteral("Close"), QKeySequence(Qt::CTRL | Qt::Key_W)), &QAction::triggered, window,
            [window] { window->close(); });
    menu->addSeparator();
    connect(add(QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q)), &QAction::triggered, this,
            [this] { quit(); });
}

void DocumentController::openRecent(const QString& path, QWidget* parent) {
    if (!QFileInfo::exists(path)) {
        RecentFiles::remove(path);
        prompts_->showError(
            parent, QStringLiteral("The file %1 no longer exists.").arg(quoted(QFileInfo(path).fileName())),
            QStringLiteral("It was moved, renamed or deleted, and is no longer listed under Open Recent."));
        return;
    }
    openFile(path, parent);
}

void DocumentController::fillRecentMenu(QMenu* menu, DocumentWindow* window) {
    menu->clear();
    const QStringList paths = RecentFiles::paths();
    for (const QString& path : paths) {
        const QFileInfo info(path);
        // The folder tells apart two files of the same name; "&" would mark a mnemonic.
        QString title =
            info.fileName() + QStringLiteral(" — ") + QDir::toNativeSeparators(info.absolutePath());
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* item = menu->addAction(title);
        item->setToolTip(QDir::toNativeSeparators(path));
        connect(item, &QAction::triggered, this,
                [this, path, window = QPointer<DocumentWindow>(window)] { openRecent(path, window); });
    }
    menu->addSeparator();
    QAction* clear = menu->addAction(QStringLiteral("Clear Menu"));
    clear->setEnabled(!paths.isEmpty());
    connect(clear, &QAction::triggered, this, [] { RecentFiles::clear(); });
}

} // namespace zarvel
