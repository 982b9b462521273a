#include "app/document/CSVDocument.h"

#include "app/document/TableEditCommand.h"
#include "core/CSVWriter.h"

#include <QFile>
#include <QMetaObject>
#include <QUndoStack>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zarvel {

namespace {

QString describeUnrepresentable(const CSVError::Unrepresentable& e, const CSVTable* table) {
    using Reason = CSVError::Unrepresentable::Reason;
    if (e.reason == Reason::character || !e.cell)
        return QStringLiteral("Some characters of the table cannot be written in %1.")
            .arg(QString::fromUtf8(displayName(e.encoding)));
    // Rows as the gutter numbers them, columns by their titles.
    const int64_t firstDataRow = table ? table->firstDataRow() : 0;
    const QString row = e.cell->row < firstDataRow
                            ? QStringLiteral("The header cell")
                            : QStringLiteral("The cell in row %1").arg(e.cell->row - firstDataRow + 1);
    const QString column = table && e.cell->column < table->columnCount()
                               ? QString::fromUtf8(table->columnTitle(e.cell->column))
                               : QString::fromUtf8(CSVTable::columnLetters(e.cell->column));
    const QString cell = QStringLiteral("%1, column “%2”,").arg(row, column);
    if (e.reason == Reason::noEscape)
        return QStringLiteral(
                   "%1 holds a backslash, which cannot be written while the backslash is both the quote "
                   "character and the escape.")
            .arg(cell);
    return QStringLiteral("%1 cannot be written without a quote character, and the save format has none.")
        .arg(cell);
}

} // namespace

QString describe(const CSVError& error, const CSVTable* table) {
    return std::visit(
        [table](const auto& e) -> QString {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, CSVError::Undecodable>)
                return QStringLiteral("The file is not valid text in %1.")
                    .arg(QString::fromUtf8(displayName(e.encoding)));
            else if constexpr (std::is_same_v<T, CSVError::Unrepresentable>)
                return describeUnrepresentable(e, table);
            else if constexpr (std::is_same_v<T, CSVError::NotText>)
                return QStringLiteral("The file does not hold text (it looks like binary data).");
            else if constexpr (std::is_same_v<T, CSVError::Cancelled>)
                return QStringLiteral("Opening the file was cancelled.");
            else if constexpr (std::is_same_v<T, CSVError::SourceChanged>)
                return QStringLiteral(
                    "Another program changed the file while it was open, so the rows you did not "
                    "edit can no longer be read from it. Nothing was written. Reload the file to "
                    "see its new content.");
            else
                return QStringLiteral("The file is too large: it has more than 4,294,967,295 fields.");
        },
        error.value);
}

QString DocumentError::message() const {
    switch (kind) {
    case Kind::notFound:
        return QStringLiteral("The file does not exist.");
    case Kind::permissionDenied:
        return QStringLiteral("You do not have permission to read the file.");
    case Kind::isDirectory:
        return QStringLiteral("The item is a folder, not a file.");
    case Kind::notRegularFile:
        return QStringLiteral("The item is not a regular file.");
    case Kind::tooLarge:
        return QStringLiteral("The file is too large to be held in memory.");
    case Kind::content:
        return csvError ? describe(*csvError) : QStringLiteral("The file cannot be read.");
    case Kind::io:
        break;
    }
    return detail.isEmpty() ? QStringLiteral("The file cannot be read.")
                            : QStringLiteral("The file cannot be read: %1.").arg(detail);
}

StringRows CSVDocument::newDocumentRows() {
    return {{"Column 1", "Column 2", "Column 3"}, {"", "", ""}};
}

CSVDocument::CSVDocument(QObject* parent)
    : QObject(parent), storage_(newDocumentRows(), FileFormat::standard()) {}

CSVDocument::~CSVDocument() {
    // The reader stops at its next check; nothing of the worker outlives the document.
    opening_.reset();
    if (editObserver_) editObserver_->documentClosing();
}

CSVDocument::CSVDocument(ReadResult result, SharedBytes original)
    : storage_(std::move(result.table)), report_(std::move(result.report)),
      originalData_(std::move(original)) {}

std::unique_ptr<CSVDocument> CSVDocument::fromBytes(const SharedBytes& bytes) {
    ReadResult result = CSVReader::read(bytes, ReadOptions{});
    return std::unique_ptr<CSVDocument>(new CSVDocument(std::move(result), bytes));
}

namespace {

DocumentError errorFor(int code) {
    switch (code) {
    case ENOENT:
        return {DocumentError::Kind::notFound, std::nullopt, {}};
    case EACCES:
    case EPERM:
        return {DocumentError::Kind::permissionDenied, std::nullopt, {}};
    case EISDIR:
        return {DocumentError::Kind::isDirectory, std::nullopt, {}};
    case notRegularFileError:
        return {DocumentError::Kind::notRegularFile, std::nullopt, {}};
    case EFBIG:
        return {DocumentError::Kind::tooLarge, std::nullopt, {}};
    default:
        return {DocumentError::Kind::io, std::nullopt, QString::fromLocal8Bit(std::strerror(code))};
    }
}

bool readFile(const QString& path, SharedBytes& bytes, DocumentError& error) {
    int code = 0;
    if (!readWholeFile(QFile::encodeName(path).toStdString(), bytes, code)) {
        error = errorFor(code);
        return false;
    }
    return true;
}

class FileHandle {
public:
    explicit FileHandle(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Opens a file and answers what it is without reading it: its size when it is a regular
// file the reader accepts, otherwise the error (a FIFO is refused without blocking).
std::optional<uint64_t> regularFileSize(const FileHandle& file, DocumentError& error) {
    struct stat st {};
    if (file.fd() < 0 || fstat(file.fd(), &st) != 0) {
        error = errorFor(errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode))
        error = errorFor(EISDIR);
    else if (!S_ISREG(st.st_mode))
        error = errorFor(notRegularFileError);
    else
        return static_cast<uint64_t>(st.st_size);
    return std::nullopt;
}

DocumentError cancelledError() {
    return {DocumentError::Kind::content, CSVError::cancelled(), {}};
}

// Reads a file in blocks, so that a cancel is seen between two of them and the bytes so
// far can be shown. A file that shrinks meanwhile gives what it still holds; one that
// grows is read again whole.
bool readFileInBlocks(const QString& path, SharedBytes& out, DocumentError& error,
                      std::atomic<uint64_t>& loaded, const ReadProgress& progress) {
    constexpr size_t block = 8 << 20;
    const std::string name = QFile::encodeName(path).toStdString();
    FileHandle file(name);
    const std::optional<uint64_t> size = regularFileSize(file, error);
    if (!size) return false;
    // A large file is mapped, not copied: at once, and within memory whatever its size.
    if (*size >= ByteBuffer::mapFileThreshold) {
        if (auto mapping = ByteBuffer::mapFile(file.fd(), static_cast<size_t>(*size))) {
            out = SharedBytes::fromBuffer(std::move(mapping));
            loaded.store(*size, std::memory_order_relaxed);
            return true;
        }
    }
    auto buffer = std::make_shared<ByteBuffer>(static_cast<size_t>(*size));
    size_t filled = 0;
    while (filled < *size) {
        if (progress.isCancelled()) {
            error = cancelledError();
            return false;
        }
        const ssize_t n = ::read(file.fd(), buffer->data() + filled, std::min<size_t>(block, *size - filled));
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errorFor(errno);
            return false;
        }
        filled += static_cast<size_t>(n);
        loaded.store(filled, std::memory_order_relaxed);
    }
    char probe;
    if (filled == *size && ::read(file.fd(), &probe, 1) > 0) return readFile(path, out, error);
    buffer->shrink(filled);
    out = SharedBytes::fromBuffer(std::move(buffer));
    return true;
}

// The first rows of a file: its head, cut after the last line feed, read as a file of
// its own. Nothing when the head holds no whole line or does not read (a head cut inside
// a multi-byte encoding); the whole read decides then.
std::optional<ReadResult> readHead(const FileHandle& file, uint64_t size) {
    std::string head(static_cast<size_t>(std::min(size, CSVDocument::previewBytes)), '\0');
    size_t filled = 0;
    while (filled < head.size()) {
        const ssize_t n =
            ::pread(file.fd(), head.data() + filled, head.size() - filled, static_cast<off_t>(filled));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        filled += static_cast<size_t>(n);
    }
    const size_t cut = std::string_view(head.data(), filled).rfind('\n');
    if (cut == std::string_view::npos) return std::nullopt;
    head.resize(cut + 1);
    try {
        return CSVReader::read(SharedBytes::fromString(std::move(head)), ReadOptions{});
    } catch (const CSVError&) {
        return std::nullopt;
    }
}

} // namespace

std::unique_ptr<CSVDocument> CSVDocument::open(const QString& path, DocumentError& error) {
    SharedBytes bytes;
    if (!readFile(path, bytes, error)) return nullptr;
    try {
        auto document = fromBytes(bytes);
        document->filePath_ = path;
        document->fileIdentity_ = FileIdentity::of(path, bytes.view());
        return document;
    } catch (const CSVError& e) {
        error = {DocumentError::Kind::content, e, {}};
        return nullptr;
    }
}

// MARK: opening in the background

struct CSVDocument::Opening {
    std::optional<Reread> reread; // reading an open document's file again
    ReadProgress progress;
    std::atomic<uint64_t> loaded{0};
    uint64_t fileSize = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::thread thread;

    ~Opening() {
        progress.cancel();
        if (thread.joinable()) thread.join();
    }
};

struct CSVDocument::OpenOutcome {
    std::optional<ReadResult> result;
    SharedBytes bytes;
    std::optional<FileIdentity> identity;
    DocumentError error;
};

std::unique_ptr<CSVDocument> CSVDocument::openInBackground(const QString& path, DocumentError& error) {
    std::optional<ReadResult> head;
    uint64_t size = 0;
    {
        FileHandle file(QFile::encodeName(path).toStdString());
        const std::optional<uint64_t> fileSize = regularFileSize(file, error);
        if (!fileSize) return nullptr;
        size = *fileSize;
        if (size <= backgroundThreshold) return open(path, error);
        head = readHead(file, size);
    }
    std::unique_ptr<CSVDocument> document(new CSVDocument);
    // Until the whole file is read the table is its first rows, or none; there is no
    // report yet: what the head's read met may not hold for the file.
    document->storage_ = head ? std::move(head->table) : CSVTable();
    document->filePath_ = path;
    document->startReading(size, std::nullopt);
    return document;
}

void CSVDocument::startReading(uint64_t size, std::optional<Reread> reread) {
    auto opening = std::make_unique<Opening>();
    opening->fileSize = size;
    opening->reread = std::move(reread);
    Opening* state = opening.get();
    opening_ = std::move(opening);
    state->thread = std::thread([self = this, state, path = filePath_] {
        auto outcome = std::make_shared<OpenOutcome>();
        // Below the window's own thread, so that on a busy machine the window still
        // comes at once and scrolls smoothly; the threads the reader starts inherit it.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        try {
            SharedBytes bytes;
            if (readFileInBlocks(path, bytes, outcome->error, state->loaded, state->progress)) {
                outcome->result = CSVReader::read(bytes, ReadOptions{}, &state->progress);
                outcome->identity = FileIdentity::of(path, bytes.view());
                outcome->bytes = std::move(bytes);
            }
        } catch (const CSVError& e) {
            outcome->error = {DocumentError::Kind::content, e, {}};
        } catch (const std::bad_alloc&) {
            outcome->error = {DocumentError::Kind::io, std::nullopt,
                              QStringLiteral("there is not enough memory")};
        } catch (...) {
            outcome->error = {DocumentError::Kind::io, std::nullopt, {}};
        }
        // The document joins this thread before it goes, so it is alive here; a call
        // still queued when it goes is dropped with it, and the outcome freed.
        QMetaObject::invokeMethod(
            self, [self, outcome] { self->finishOpening(std::move(*outcome)); }, Qt::QueuedConnection);
    });
}

void CSVDocument::finishOpening(OpenOutcome outcome) {
    if (!opening_) return;
    const bool cancelled = opening_->progress.isCancelled();
    const std::optional<Reread> reread = std::move(opening_->reread);
    opening_.reset(); // the worker has nothing left to do: joins at once
    if (cancelled || !outcome.result) {
        const DocumentError error = cancelled ? cancelledError() : outcome.error;
        if (reread)
            Q_EMIT rereadFailed(error);
        else
            Q_EMIT openFailed(error);
        return;
    }
    report_ = std::move(outcome.result->report);
    originalData_ = std::move(outcome.bytes);
    fileIdentity_ = outcome.identity;
    if (reread) {
        // The new read is one undoable step, as a reload on the spot is.
        Q_EMIT reportChanged();
        apply(TableEdit::replaceTable(std::move(outcome.result->table)), reread->undoStack,
              reread->actionName);
        Q_EMIT reloaded();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        storage_ = std::move(outcome.result->table);
    }
    ++revision_;
    Q_EMIT reportChanged();
    Q_EMIT revisionChanged(revision_);
    Q_EMIT opened();
}

OpenProgress CSVDocument::openProgress() const {
    if (!opening_) return {};
    OpenProgress p;
    p.fileSize = opening_->fileSize;
    p.loaded = opening_->loaded.load(std::memory_order_relaxed);
    p.textSize = opening_->progress.bytesTotal.load(std::memory_order_relaxed);
    p.indexed = opening_->progress.bytesDone.load(std::memory_order_relaxed);
    p.rows = opening_->progress.rowsDone.load(std::memory_order_relaxed);
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - opening_->started).count();
    p.isRereading = opening_->reread.has_value();
    return p;
}

void CSVDocument::cancelOpening() {
    if (opening_) opening_->progress.cancel();
}

CSVTable CSVDocument::table() const {
    std::lock_guard lock(mutex_);
    return storage_;
}

CSVTable CSVDocument::snapshot() const {
    std::lock_guard lock(mutex_);
    return storage_;
}

FileFormat CSVDocument::formatForSaving(const FileFormat& format, DocumentType type) {
    FileFormat f = format;
    if (conformsTo(type, DocumentType::pipeText))
        f.dialect.delimiter = Byte::pipe;
    else if (conformsTo(type, DocumentType::tabSeparatedText))
        f.dialect.delimiter = Byte::tab;
    if (type == DocumentType::commaSeparatedText && f.dialect.delimiter == Byte::tab)
        f.dialect.delimiter = Byte::comma;
    return f;
}

std::string CSVDocument::fileBytes(const CSVTable& snapshot, DocumentType type) {
    return CSVWriter::write(snapshot, formatForSaving(snapshot.format(), type));
}

TableEdit CSVDocument::applyEdit(const TableEdit& edit) {
    TableEdit inverse;
    {
        std::lock_guard lock(mutex_);
        inverse = storage_.apply(edit);
    }
    ++revision_;
    if (editObserver_) editObserver_->editApplied(edit, inverse);
    Q_EMIT revisionChanged(revision_);
    return inverse;
}

void CSVDocument::apply(const TableEdit& edit, QUndoStack* undoStack, const QString& actionName) {
    // The first rows of a file still being read are for looking only.
    if (opening_) return;
    TableEdit inverse = applyEdit(edit);
    if (undoStack) undoStack->push(new TableEditCommand(this, std::move(inverse), actionName));
}

bool CSVDocument::adoptEdited(int64_t revision, CSVTable edited, const TableEdit& edit, TableEdit inverse,
                              QUndoStack* undoStack, const QString& actionName) {
    if (opening_ || revision != revision_) return false;
    CSVTable old; // let go of outside the lock
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(storage_, std::move(edited));
    }
    ++revision_;
    if (editObserver_) editObserver_->editApplied(edit, inverse);
    Q_EMIT revisionChanged(revision_);
    if (undoStack) undoStack->push(new TableEditCommand(this, std::move(inverse), actionName));
    return true;
}

void CSVDocument::reinterpret(ReadResult result, QUndoStack* undoStack) {
    if (opening_) return;
    report_ = std::move(result.report);
    Q_EMIT reportChanged();
    apply(TableEdit::replaceTable(std::move(result.table)), undoStack, QStringLiteral("Reinterpret File"));
}

DiskState CSVDocument::diskState() const {
    if (filePath_.isEmpty() || !fileIdentity_) return DiskState::unchanged;
    return compareWithDisk(*fileIdentity_, filePath_);
}

bool CSVDocument::reload(QUndoStack* undoStack, const QString& actionName, DocumentError& error) {
    if (opening_) {
        error = {DocumentError::Kind::io, std::nullopt, QStringLiteral("the file is still being opened")};
        return false;
    }
    SharedBytes bytes;
    if (!readFile(filePath_, bytes, error)) return false;
    ReadResult result;
    try {
        result = CSVReader::read(bytes, ReadOptions{});
    } catch (const CSVError& e) {
        error = {DocumentError::Kind::content, e, {}};
        return false;
    }
    originalData_ = bytes;
    fileIdentity_ = FileIdentity::of(filePath_, bytes.view());
    report_ = std::move(result.report);
    Q_EMIT reportChanged();
    apply(TableEdit::replaceTable(std::move(result.table)), undoStack, actionName);
    return true;
}

bool CSVDocument::reloadInBackground(QUndoStack* undoStack, const QString& actionName, DocumentError& error) {
    if (opening_) {
        error = {DocumentError::Kind::io, std::nullopt, QStringLiteral("the file is still being read")};
        return false;
    }
    uint64_t size = 0;
    {
        FileHandle file(QFile::encodeName(filePath_).toStdString());
        const std::optional<uint64_t> fileSize = regularFileSize(file, error);
        if (!fileSize) return false;
        size = *fileSize;
    }
    if (size <= backgroundThreshold) {
        if (!reload(undoStack, actionName, error)) return false;
        Q_EMIT reloaded();
        return true;
    }
    startReading(size, Reread{undoStack, actionName});
    Q_EMIT rereadStarted();
    return true;
}

void CSVDocument::setFilePath(const QString& path) {
    if (path == filePath_) return;
    filePath_ = path;
    Q_EMIT filePathChanged(path);
}

} // namespace zarvel
