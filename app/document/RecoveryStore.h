// The recovery store: what is needed to rebuild each document with unsaved changes, so
// that a crash or a kill loses at most the last second or two of work.
//
// Each document with unsaved changes has a journal `<id>.zrec` in a private folder
// ($XDG_STATE_HOME/zarvel/recovery): a header (file path or untitled, the identity and
// hash of the file as last read or saved), then entries, each either one edit (in
// values and positions, see EditRecord.h) or a snapshot of the whole table. A document
// starts from its snapshot when it has one, otherwise from the new-document table or
// from the file, if the file still holds the bytes the header names. Small tables
// start with a snapshot, so they survive a changed file too.
//
// Entries are appended in memory after each step and written with fdatasync at most
// once a second; a snapshot (due after a replaced table, or when the entries outgrow
// the table) is taken at that moment too, and rewrites the journal beside it and
// renames it over. A
// clean document (saved, reloaded, or undone to its saved state) has no journal.
//
// A large table's journal replays from the file; so that a file another program changes
// after a crash does not take the changes with it, a copy of the file's bytes, checked
// against the header's hash, is made beside the journal in the background
// (`<id>.base`) and used when the file no longer matches.
//
// `<id>.lock` is held with flock by the process that owns the journal, so a second
// instance never takes the records of one still running.
#pragma once

#include "app/document/CSVDocument.h"
#include "app/document/FileIdentity.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class QUndoStack;

namespace zarvel {

// A journal left behind by a run that ended without saving.
struct RecoveryRecord {
    QString id;
    QString name;   // the file's name, or "Untitled"
    QString folder; // empty for an untitled document
    QString filePath;
    QDateTime lastChange;
};

class RecoveryStore {
public:
    explicit RecoveryStore(QString folder);
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    // $XDG_STATE_HOME/zarvel/recovery, ~/.local/state/zarvel/recovery without it.
    static QString defaultFolder();
    const QString& folder() const { return folder_; }
    // Creates the folder, private to the user. False when it cannot be.
    bool prepare() const;

    struct Scan {
        QList<RecoveryRecord> records; // oldest change first
        QStringList damaged;           // names of records moved aside as *.damaged
    };
    // The records nobody holds, locked for this store until restored or discarded.
    // Damaged ones are renamed aside; empty ones are removed.
    Scan scan();

    struct Restored {
        std::unique_ptr<CSVDocument> document; // the file as it is now (or a new document)
        CSVTable table;                        // the table with the unsaved changes
        bool fileChanged = false;              // the file differs from what the changes were made to
    };
    // Rebuilds a scanned record. On failure returns nothing, says why in `problem` and
    // sets the record aside.
    std::optional<Restored> restore(const RecoveryRecord& record, QString& problem);
    // The same over a document that already holds the record's file as it is now (read
    // in the background): `document` of the result stays empty, and `fileNow` takes the
    // recorded identity when the file changed since.
    std::optional<Restored> restore(const RecoveryRecord& record, QString& problem, CSVDocument& fileNow);
    // Removes a scanned record and lets go of it.
    void discard(const RecoveryRecord& record);

private:
    std::optional<Restored> restore(const RecoveryRecord& record, QString& problem, CSVDocument* fileNow);
    // Keeps a record that cannot be restored out of later offers, for a person to look at.
    void setAside(const RecoveryRecord& record);

    QString folder_;
    std::map<QString, int> locks_; // id → lock file descriptor
};

// Keeps one document's journal while its window is open.
class DocumentRecorder : public QObject, public EditObserver {
    Q_OBJECT
public:
    static constexpr int flushIntervalMs = 1000;
    // Up to this size a table's journal starts with a snapshot rather than trusting the
    // file to stay as it is (settable so both ways can be exercised).
    static inline uint64_t smallTableBytes = 8u << 20;

    DocumentRecorder(const QString& folder, CSVDocument* document, QUndoStack* undoStack,
                     QObject* parent = nullptr);
    ~DocumentRecorder() override;

    void editApplied(const TableEdit& edit, const TableEdit& inverse) override;
    void documentClosing() override { detach(); }
    // Writes what is pending and waits for the disk.
    void flush();
    // Removes the journal: the document has nothing left to lose.
    void discard();

    bool hasJournal() const { return journalFd_ >= 0; }
    bool hasPendingWrites() const { return !pending_.empty() || snapshotDue_ || copyingBase(); }
    QString journalPath() const;

Q_SIGNALS:
    // Everything recorded so far is on disk.
    void durable();

private:
    void startJournal(bool withSnapshot);
    // Copies the file the journal replays from beside it, off the main thread.
    void startBaseCopy(const QString& file, uint64_t contentHash);
    void dropBase();
    bool copyingBase() const { return baseCopier_.joinable() && !baseCopyDone_->load(); }
    QString basePath() const;
    void writeSnapshot();
    void append(char kind, const std::string& payload);
    void detach();

    QString folder_;
    QString id_;
    QPointer<CSVDocument> document_;
    QPointer<QUndoStack> undoStack_;
    int lockFd_ = -1;
    int journalFd_ = -1;
    std::string pending_;
    // A step only the whole table can record: written by the next flush, so a step the
    // user undoes or saves within the second costs nothing.
    bool snapshotDue_ = false;
    uint64_t bytesSinceSnapshot_ = 0;
    QTimer flushTimer_;
    std::shared_ptr<std::atomic<bool>> baseCopyDone_ = std::make_shared<std::atomic<bool>>(false);
    std::jthread baseCopier_;
};

} // namespace zarvel
