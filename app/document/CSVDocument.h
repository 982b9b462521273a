// CSVDocument: the one object per open file. It owns the current table (behind a
// lock), the report of the last read, the bytes as opened and a revision counter, and
// it is the only place where the table changes: every change is a TableEdit applied
// through apply(), whose inverse goes onto the window's undo stack.
//
// Threads: everything but snapshot() and fileBytes() runs on the main thread. The lock
// guards the table only and is never held while a signal is emitted, so observers may
// read the document from their slots.
#pragma once

#include "app/document/DocumentType.h"
#include "app/document/FileIdentity.h"
#include "core/ByteBuffer.h"
#include "core/CSVError.h"
#include "core/CSVReader.h"
#include "core/CSVTable.h"
#include "core/TableEdit.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUndoStack>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QUndoStack;

namespace zarvel {

// Why a file could not be opened or saved.
struct DocumentError {
    enum class Kind { notFound, permissionDenied, isDirectory, notRegularFile, tooLarge, io, content };
    Kind kind = Kind::io;
    std::optional<CSVError> csvError; // for `content`
    QString detail;                   // the system's own words for `io`

    // One sentence in plain words, e.g. "The file is not valid text in Windows-1252."
    QString message() const;
};

// Plain words for a reading or writing error; with the table that was written, a cell the
// format cannot spell is named by its row and column title.
QString describe(const CSVError& error, const CSVTable* table = nullptr);

// How far opening a file in the background has come. Two phases: the file's bytes come
// into memory (`loaded` of `fileSize`), then the text is indexed (`indexed` of
// `textSize`, zero until the text is known) and `rows` counted.
struct OpenProgress {
    uint64_t fileSize = 0;
    uint64_t loaded = 0;
    uint64_t textSize = 0;
    uint64_t indexed = 0;
    int64_t rows = 0;
    double seconds = 0;       // since the opening began
    bool isRereading = false; // the file of an open document is read again
    bool isIndexing() const { return textSize > 0; }
};

// Told of every edit a document applies (the recovery journal listens).
class EditObserver {
public:
    virtual ~EditObserver() = default;
    virtual void editApplied(const TableEdit& edit, const TableEdit& inverse) = 0;
    // The document is going; it can still be read.
    virtual void documentClosing() = 0;
};

class CSVDocument : public QObject {
    Q_OBJECT
public:
    // A new, untitled document: "Column 1", "Column 2", "Column 3" over one empty row.
    explicit CSVDocument(QObject* parent = nullptr);
    ~CSVDocument() override;
    // A document read from bytes with nothing forced. Throws CSVError.
    static std::unique_ptr<CSVDocument> fromBytes(const SharedBytes& bytes);
    // Reads a regular file. On failure returns null and fills `error`.
    static std::unique_ptr<CSVDocument> open(const QString& path, DocumentError& error);

    // Opens a file the way a window wants it: a small file is read at once (as open());
    // a larger one shows its first rows (read from its head, cut at a line end) and is
    // read whole on a worker thread, ending in opened() or openFailed(). Errors found
    // before any reading (missing, unreadable, not a regular file, too large) return
    // null and fill `error`.
    static std::unique_ptr<CSVDocument> openInBackground(const QString& path, DocumentError& error);
    // Files up to this size are read on the spot; how much of a larger file's head is
    // read for its first rows.
    static constexpr uint64_t backgroundThreshold = 1 << 20;
    static constexpr uint64_t previewBytes = 256 << 10;

    // Reading goes on in the background: the table holds the first rows only and
    // refuses every change (apply(), reinterpret() and reload() do nothing).
    bool isOpening() const { return opening_ != nullptr; }
    OpenProgress openProgress() const;
    // Stops the background read soon (openFailed() with a Cancelled error follows).
    void cancelOpening();

    static StringRows newDocumentRows();

    // A copy of the current table (cheap: storage is shared). Main thread.
    CSVTable table() const;
    // The same, safe on any thread (for saving while the user edits).
    CSVTable snapshot() const;
    int64_t revision() const { return revision_; }
    const std::optional<ReadReport>& report() const { return report_; }
    const std::optional<SharedBytes>& originalData() const { return originalData_; }

    // The bytes of the file converted to a type: the snapshot's format with the type's
    // delimiter. Throws CSVError unrepresentable. Any thread. (Save itself streams the
    // table's own format through SafeSave.)
    static std::string fileBytes(const CSVTable& snapshot, DocumentType type);
    // A format with the delimiter a type calls for (tab for tab-separated types, "|"
    // for .psv, comma instead of tab for comma-separated values; others keep theirs).
    static FileFormat formatForSaving(const FileFormat& format, DocumentType type);

    // Applies an edit, raises the revision and, with an undo stack, registers the
    // inverse under the action name.
    void apply(const TableEdit& edit, QUndoStack* undoStack = nullptr, const QString& actionName = {});
    // The same for an edit a worker applied to a copy of the table taken at document
    // revision `revision`: `edited` becomes the table, so the main thread does none of
    // the work. Refused (false) when the document moved on since, or is still opening.
    bool adoptEdited(int64_t revision, CSVTable edited, const TableEdit& edit, TableEdit inverse,
                     QUndoStack* undoStack, const QString& actionName);
    // Takes a new read of the original bytes: the report now describes it, and the
    // table is replaced as one undoable step "Reinterpret File".
    void reinterpret(ReadResult result, QUndoStack* undoStack);

    // Where the document lives on disk; empty for an untitled document.
    const QString& filePath() const { return filePath_; }
    void setFilePath(const QString& path);

    // Applies an edit without registering anything; the undo command's entry point.
    TableEdit applyEdit(const TableEdit& edit);

    // The file as last read or saved; nothing for an untitled document.
    const std::optional<FileIdentity>& fileIdentity() const { return fileIdentity_; }
    void setFileIdentity(std::optional<FileIdentity> identity) { fileIdentity_ = identity; }
    // Whether another program changed or removed the file since then.
    DiskState diskState() const;
    // Reads the file again: the table is replaced as one undoable step under
    // `actionName`, and the report and identity describe the new read. On failure
    // nothing changes and `error` says why.
    bool reload(QUndoStack* undoStack, const QString& actionName, DocumentError& error);
    // The same, with a file past backgroundThreshold read on a worker as a background
    // open is: isOpening() meanwhile, the table as it was (for looking only) and
    // cancelOpening() stopping it. Then reloaded(), after the new read landed as one
    // step; or rereadFailed(), and nothing changed. A small file is read at once and
    // reloaded() comes before this returns. Returns false, with `error` filled, when
    // the reading could not even begin (nothing is signalled then).
    bool reloadInBackground(QUndoStack* undoStack, const QString& actionName, DocumentError& error);

    void setEditObserver(EditObserver* observer) { editObserver_ = observer; }

Q_SIGNALS:
    void revisionChanged(qint64 revision);
    void reportChanged();
    void filePathChanged(const QString& path);
    // The background read ended: the whole table replaced the first rows (after the
    // revision and report changed), or it failed or was cancelled and the document
    // still holds its first rows only.
    void opened();
    void openFailed(const zarvel::DocumentError& error);
    // A reload in the background began (isOpening() is true from now on), or ended:
    // landed, or failed or cancelled with nothing changed (a cancel is a Cancelled error).
    void rereadStarted();
    void reloaded();
    void rereadFailed(const zarvel::DocumentError& error);

private:
    CSVDocument(ReadResult result, SharedBytes original);
    struct Opening;
    struct OpenOutcome;
    struct Reread {
        QPointer<QUndoStack> undoStack;
        QString actionName;
    };
    // Reads filePath_ on a worker, ending in finishOpening().
    void startReading(uint64_t size, std::optional<Reread> reread);
    void finishOpening(OpenOutcome outcome);
    std::unique_ptr<Opening> opening_;

    mutable std::mutex mutex_; // guards storage_
    CSVTable storage_;
    int64_t revision_ = 0;
    std::optional<ReadReport> report_;
    std::optional<SharedBytes> originalData_;
    QString filePath_;
    std::optional<FileIdentity> fileIdentity_;
    EditObserver* editObserver_ = nullptr;
};

} // namespace zarvel
