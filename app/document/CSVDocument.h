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
#include <QString>

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

    void setEditObserver(EditObserver* observer) { editObserver_ = observer; }

Q_SIGNALS:
    void revisionChanged(qint64 revision);
    void reportChanged();
    void filePathChanged(const QString& path);

private:
    CSVDocument(ReadResult result, SharedBytes original);

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
