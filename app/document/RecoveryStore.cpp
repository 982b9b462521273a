#include "app/document/RecoveryStore.h"

#include "core/CSVReader.h"
#include "core/EditRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUndoStack>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarvel {

namespace {

constexpr char magic[8] = {'Z', 'R', 'V', 'J', 1, 0, 0, 0};
constexpr char headerEntry = 'H', editEntry = 'E', snapshotEntry = 'S';

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void syncFolder(const QString& folder) {
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// An exclusive lock on `<id>.lock`, or -1 when another process holds it.
int takeLock(const QString& path) {
    const int fd = ::open(native(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void putU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

uint64_t getU64(std::string_view in, size_t at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= uint64_t(static_cast<uint8_t>(in[at + i])) << (8 * i);
    return v;
}

std::string entry(char kind, std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 17);
    out.push_back(kind);
    putU64(out, payload.size());
    out.append(payload);
    putU64(out, hashBytes(payload));
    return out;
}

struct Header {
    bool untitled = true;
    QString path;
    std::optional<FileIdentity> identity;
};

std::string encodeHeader(const Header& h) {
    std::string out;
    out.push_back(h.untitled ? 1 : 0);
    const QByteArray path = h.path.toUtf8();
    putU64(out, static_cast<uint64_t>(path.size()));
    out.append(path.constData(), static_cast<size_t>(path.size()));
    out.push_back(h.identity ? 1 : 0);
    const FileIdentity id = h.identity.value_or(FileIdentity{});
    for (uint64_t v : {id.device, id.inode, id.size, static_cast<uint64_t>(id.modifiedNs), id.contentHash})
        putU64(out, v);
    return out;
}

Header decodeHeader(std::string_view in) {
    if (in.size() < 1 + 8) throw DamagedRecord("header");
    Header h;
    h.untitled = in[0] != 0;
    const uint64_t length = getU64(in, 1);
    if (length > in.size() - 9 || in.size() - 9 - length != 1 + 5 * 8) throw DamagedRecord("header");
    h.path = QString::fromUtf8(in.data() + 9, static_cast<qsizetype>(length));
    size_t at = 9 + length;
    const bool hasIdentity = in[at++] != 0;
    FileIdentity id;
    id.device = getU64(in, at);
    id.inode = getU64(in, at + 8);
    id.size = getU64(in, at + 16);
    id.modifiedNs = static_cast<int64_t>(getU64(in, at + 24));
    id.contentHash = getU64(in, at + 32);
    if (hasIdentity) h.identity = id;
    if (!h.untitled && h.path.isEmpty()) throw DamagedRecord("header");
    return h;
}

struct Journal {
    Header header;
    std::vector<std::pair<char, std::string_view>> entries; // after the header
};

// Entries up to a torn tail (a write cut short by the end of the process) count;
// anything else out of place makes the record damaged.
Journal parseJournal(std::string_view bytes) {
    if (bytes.size() < sizeof magic || bytes.substr(0, sizeof magic) != std::string_view(magic, sizeof magic))
        throw DamagedRecord("magic");
    Journal journal;
    size_t at = sizeof magic;
    bool first = true;
    while (at < bytes.size()) {
        const size_t left = bytes.size() - at;
        if (left < 17) break;
        const char kind = bytes[at];
        const uint64_t length = getU64(bytes, at + 1);
        if (length > left - 17) break;
        const std::string_view payload = bytes.substr(at + 9, length);
        const bool last = at + 17 + length == bytes.size();
        if (getU64(bytes, at + 9 + length) != hashBytes(payload)) {
            if (last && !first) break;
            throw DamagedRecord("checksum");
        }
        if (first) {
            if (kind != headerEntry) throw DamagedRecord("header");
            journal.header = decodeHeader(payload);
            first = false;
        } else if (kind == editEntry || kind == snapshotEntry) {
            journal.entries.emplace_back(kind, payload);
        } else {
            throw DamagedRecord("kind");
        }
        at += 17 + length;
    }
    if (first) throw DamagedRecord("header");
    return journal;
}

bool readAll(const QString& path, std::string& out) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    out.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

// Copies `source` to `target` through `target.new`, keeping it only when its bytes hash
// to `contentHash` (the file did not change meanwhile) and it reached the disk.
void copyVerified(const QByteArray& source, const QByteArray& target, uint64_t contentHash,
                  const std::stop_token& stop) {
    const QByteArray temporary = target + ".new";
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return;
    const int out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return;
    }
    ContentHasher hasher;
    std::string block(size_t{1} << 20, '\0');
    bool ok = true;
    for (;;) {
        if (stop.stop_requested()) {
            ok = false;
            break;
        }
        const ssize_t n = ::read(in, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        const std::string_view bytes(block.data(), static_cast<size_t>(n));
        hasher.update(bytes);
        if (!writeAll(out, bytes)) {
            ok = false;
            break;
        }
    }
    ok = ok && hasher.digest() == contentHash && ::fdatasync(out) == 0;
    ::close(in);
    ::close(out);
    if (!ok || ::rename(temporary.constData(), target.constData()) != 0) ::unlink(temporary.constData());
}

uint64_t tableBytesEstimate(const CSVTable& table) {
    return table.source().size() + table.editedRowCount() * static_cast<uint64_t>(table.columnCount()) * 16;
}

} // namespace

// MARK: store

RecoveryStore::RecoveryStore(QString folder) : folder_(std::move(folder)) {}

RecoveryStore::~RecoveryStore() {
    for (const auto& [id, fd] : locks_)
        ::close(fd);
}

QString RecoveryStore::defaultFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/zarvel/recovery");
}

bool RecoveryStore::prepare() const {
    if (!QDir().mkpath(folder_)) return false;
    return ::chmod(native(folder_).constData(), 0700) == 0;
}

RecoveryStore::Scan RecoveryStore::scan() {
    Scan result;
    const QDir dir(folder_);
    // Leftovers of runs that ended: locks of clean documents, snapshots cut short.
    for (const QFileInfo& info : dir.entryInfoList(
             {QStringLiteral("*.lock"), QStringLiteral("*.zrec.new"), QStringLiteral("*.base.new")},
             QDir::Files)) {
        const QString id = info.fileName().section(QLatin1Char('.'), 0, 0);
        const bool isLock = info.suffix() == QStringLiteral("lock");
        if (locks_.count(id) || (isLock && dir.exists(id + QStringLiteral(".zrec")))) continue;
        const int lock = takeLock(dir.filePath(id + QStringLiteral(".lock")));
        if (lock < 0) continue;
        QFile::remove(info.filePath());
        if (!dir.exists(id + QStringLiteral(".zrec")))
            QFile::remove(dir.filePath(id + QStringLiteral(".lock")));
        ::close(lock);
    }
    const QFileInfoList journals =
        dir.entryInfoList({QStringLiteral("*.zrec")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : journals) {
        const QString id = info.completeBaseName();
        if (locks_.count(id)) continue;
        const int lock = takeLock(dir.filePath(id + QStringLiteral(".lock")));
        if (lock < 0) continue; // its owner is still running
        std::string bytes;
        try {
            if (!readAll(info.filePath(), bytes)) throw DamagedRecord("unreadable");
            const Journal journal = parseJournal(bytes);
            if (journal.entries.empty()) {
                QFile::remove(info.filePath());
                QFile::remove(dir.filePath(id + QStringLiteral(".lock")));
                ::close(lock);
                continue;
            }
            RecoveryRecord record;
            record.id = id;
            record.filePath = journal.header.untitled ? QString() : journal.header.path;
            record.name = journal.header.untitled ? QStringLiteral("Untitled")
                                                  : QFileInfo(journal.header.path).fileName();
            record.folder =
                journal.header.untitled ? QString() : QFileInfo(journal.header.path).absolutePath();
            record.lastChange = info.lastModified();
            locks_[id] = lock;
            result.records << record;
        } catch (const DamagedRecord&) {
            QFile::rename(info.filePath(), info.filePath() + QStringLiteral(".damaged"));
            QFile::remove(dir.filePath(id + QStringLiteral(".lock")));
            ::close(lock);
            result.damaged << info.fileName();
        }
    }
    return result;
}

std::optional<RecoveryStore::Restored> RecoveryStore::restore(const RecoveryRecord& record,
                                                              QString& problem) {
    return restore(record, problem, nullptr);
}

std::optional<RecoveryStore::Restored> RecoveryStore::restore(const RecoveryRecord& record, QString& problem,
                                                              CSVDocument& fileNow) {
    return restore(record, problem, &fileNow);
}

std::optional<RecoveryStore::Restored> RecoveryStore::restore(const RecoveryRecord& record, QString& problem,
                                                              CSVDocument* fileNow) {
    const QDir dir(folder_);
    std::string bytes;
    if (!readAll(dir.filePath(record.id + QStringLiteral(".zrec")), bytes)) {
        problem = QStringLiteral("The recovery record could not be read.");
        return std::nullopt;
    }
    try {
        const Journal journal = parseJournal(bytes);
        const Header& header = journal.header;

        // The document as the file is now: the undo step leads back to it.
        Restored restored;
        CSVDocument* document = fileNow;
        if (!document) {
            if (!header.untitled) {
                DocumentError error;
                restored.document = CSVDocument::open(header.path, error);
            }
            document = restored.document.get();
        }
        const bool fileOpened = document != nullptr;
        if (!document) {
            restored.document = std::make_unique<CSVDocument>();
            if (!header.untitled) restored.document->setFilePath(header.path);
            document = restored.document.get();
        }
        const std::optional<FileIdentity>& now = document->fileIdentity();
        const bool fileAsRecorded =
            header.identity && now && now->contentHash == header.identity->contentHash;
        restored.fileChanged = !header.untitled && header.identity && !fileAsRecorded;
        // Saving then asks before overwriting what the other program wrote.
        if (restored.fileChanged && fileOpened) document->setFileIdentity(header.identity);

        size_t start = 0;
        for (size_t i = journal.entries.size(); i-- > 0;)
            if (journal.entries[i].first == snapshotEntry) {
                start = i;
                break;
            }
        CSVTable table;
        if (!journal.entries.empty() && journal.entries[start].first == snapshotEntry) {
            table = decodeTable(journal.entries[start].second);
            ++start;
        } else if (header.untitled) {
            table = CSVTable(CSVDocument::newDocumentRows(), FileFormat::standard());
        } else if (fileAsRecorded) {
            table = document->table(); // read as the changes' run read it
        } else if (std::string base; header.identity &&
                                     readAll(dir.filePath(record.id + QStringLiteral(".base")), base) &&
                                     hashBytes(base) == header.identity->contentHash) {
            // The file changed since, but its bytes as the changes found them were kept.
            table = CSVDocument::fromBytes(SharedBytes::fromString(std::move(base)))->table();
        } else {
            setAside(record);
            problem = QStringLiteral("The file was changed or removed since the changes were made.");
            return std::nullopt;
        }
        for (size_t i = start; i < journal.entries.size(); ++i)
            table.apply(decodeEdit(journal.entries[i].second));
        restored.table = std::move(table);
        return restored;
    } catch (const DamagedRecord&) {
        problem = QStringLiteral("The recovery record is damaged.");
    } catch (const CSVError& e) {
        problem = describe(e);
    }
    setAside(record);
    return std::nullopt;
}

void RecoveryStore::setAside(const RecoveryRecord& record) {
    const QString journal = QDir(folder_).filePath(record.id + QStringLiteral(".zrec"));
    QFile::rename(journal, journal + QStringLiteral(".damaged"));
    const QString base = QDir(folder_).filePath(record.id + QStringLiteral(".base"));
    QFile::rename(base, base + QStringLiteral(".damaged"));
    discard(record);
}

void RecoveryStore::discard(const RecoveryRecord& record) {
    const QDir dir(folder_);
    QFile::remove(dir.filePath(record.id + QStringLiteral(".zrec")));
    QFile::remove(dir.filePath(record.id + QStringLiteral(".base")));
    QFile::remove(dir.filePath(record.id + QStringLiteral(".lock")));
    if (const auto it = locks_.find(record.id); it != locks_.end()) {
        ::close(it->second);
        locks_.erase(it);
    }
}

// MARK: recorder

DocumentRecorder::DocumentRecorder(const QString& folder, CSVDocument* document, QUndoStack* undoStack,
                                   QObject* parent)
    : QObject(parent), folder_(folder), id_(QUuid::createUuid().toString(QUuid::WithoutBraces)),
      document_(document), undoStack_(undoStack) {
    RecoveryStore(folder_).prepare();
    lockFd_ = takeLock(QDir(folder_).filePath(id_ + QStringLiteral(".lock")));
    document->setEditObserver(this);
    connect(document, &QObject::destroyed, this, [this] { detach(); });
    // The saved state (or the file as read) needs no record. A stack emptied as its
    // window goes says nothing about the document: its record stays for the next run.
    connect(undoStack, &QUndoStack::cleanChanged, this, [this](bool clean) {
        if (clean && undoStack_ && undoStack_->count() > 0) discard();
    });
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(flushIntervalMs);
    connect(&flushTimer_, &QTimer::timeout, this, &DocumentRecorder::flush);
}

DocumentRecorder::~DocumentRecorder() {
    detach();
    if (lockFd_ >= 0) {
        if (journalFd_ < 0) QFile::remove(QDir(folder_).filePath(id_ + QStringLiteral(".lock")));
        ::close(lockFd_);
    }
    if (journalFd_ >= 0) ::close(journalFd_);
}

void DocumentRecorder::detach() {
    flush();
    if (document_) document_->setEditObserver(nullptr);
    document_ = nullptr;
}

QString DocumentRecorder::journalPath() const {
    return QDir(folder_).filePath(id_ + QStringLiteral(".zrec"));
}

QString DocumentRecorder::basePath() const {
    return QDir(folder_).filePath(id_ + QStringLiteral(".base"));
}

void DocumentRecorder::startBaseCopy(const QString& file, uint64_t contentHash) {
    dropBase();
    baseCopyDone_ = std::make_shared<std::atomic<bool>>(false);
    baseCopier_ = std::jthread([source = native(file), target = native(basePath()), contentHash,
                                done = baseCopyDone_](const std::stop_token& stop) {
        copyVerified(source, target, contentHash, stop);
        done->store(true);
    });
}

void DocumentRecorder::dropBase() {
    baseCopier_ = std::jthread(); // asks a running copy to stop and waits for it
    QFile::remove(basePath());
}

void DocumentRecorder::editApplied(const TableEdit& edit, const TableEdit& inverse) {
    if (!document_ || lockFd_ < 0 || snapshotDue_) return; // a due snapshot holds this step too
    const CSVTable after = document_->table();
    const uint64_t tableBytes = tableBytesEstimate(after);
    // A small table starts from a snapshot that already holds this step.
    if (journalFd_ < 0 && tableBytes <= smallTableBytes) {
        startJournal(true);
        return;
    }
    const std::optional<std::string> payload = encodePortableEdit(edit, inverse, after);
    if (journalFd_ < 0) startJournal(false);
    if (journalFd_ < 0) return;
    // Replaying more than the table holds costs more than reading the table.
    if (!payload || bytesSinceSnapshot_ + payload->size() > std::max<uint64_t>(tableBytes, 1u << 20)) {
        snapshotDue_ = true;
        pending_.clear();
        if (!flushTimer_.isActive()) flushTimer_.start();
        return;
    }
    append(editEntry, *payload);
}

void DocumentRecorder::startJournal(bool withSnapshot) {
    const QString path = journalPath();
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    journalFd_ = fd;
    Header header;
    header.untitled = document_->filePath().isEmpty();
    header.path = document_->filePath();
    header.identity = document_->fileIdentity();
    pending_.assign(magic, sizeof magic);
    pending_ += entry(headerEntry, encodeHeader(header));
    bytesSinceSnapshot_ = 0;
    if (withSnapshot)
        pending_ += entry(snapshotEntry, encodeTable(document_->table()));
    else if (!header.untitled && header.identity)
        startBaseCopy(header.path, header.identity->contentHash);
    flush();
    syncFolder(folder_);
}

void DocumentRecorder::writeSnapshot() {
    // Written beside the journal and renamed over it: the old journal stays whole
    // until the new one is on disk.
    const QString path = journalPath();
    const QString temporary = path + QStringLiteral(".new");
    const int fd = ::open(native(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    Header header;
    header.untitled = document_->filePath().isEmpty();
    header.path = document_->filePath();
    header.identity = document_->fileIdentity();
    std::string bytes(magic, sizeof magic);
    bytes += entry(headerEntry, encodeHeader(header));
    bytes += entry(snapshotEntry, encodeTable(document_->table()));
    if (!writeAll(fd, bytes) || ::fdatasync(fd) != 0 ||
        ::rename(native(temporary).constData(), native(path).constData()) != 0) {
        ::close(fd);
        ::unlink(native(temporary).constData());
        return;
    }
    syncFolder(folder_);
    if (journalFd_ >= 0) ::close(journalFd_);
    ::lseek(fd, 0, SEEK_END);
    journalFd_ = fd;
    pending_.clear();
    bytesSinceSnapshot_ = 0;
    snapshotDue_ = false;
    flushTimer_.stop();
    dropBase(); // the snapshot holds everything now
    Q_EMIT durable();
}

void DocumentRecorder::append(char kind, const std::string& payload) {
    pending_ += entry(kind, payload);
    bytesSinceSnapshot_ += payload.size();
    if (!flushTimer_.isActive()) flushTimer_.start();
}

void DocumentRecorder::flush() {
    flushTimer_.stop();
    if (journalFd_ >= 0 && snapshotDue_ && document_) writeSnapshot();
    if (journalFd_ < 0 || pending_.empty()) return;
    if (writeAll(journalFd_, pending_)) ::fdatasync(journalFd_);
    pending_.clear();
    Q_EMIT durable();
}

void DocumentRecorder::discard() {
    flushTimer_.stop();
    pending_.clear();
    snapshotDue_ = false;
    if (journalFd_ < 0) return;
    dropBase();
    ::close(journalFd_);
    journalFd_ = -1;
    QFile::remove(journalPath());
}

} // namespace zarvel
