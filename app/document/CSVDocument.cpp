#include "app/document/CSVDocument.h"

#include "app/document/TableEditCommand.h"
#include "core/CSVWriter.h"

#include <QFile>
#include <QUndoStack>

#include <cerrno>
#include <cstring>

namespace zarvel {

namespace {

QString describeUnrepresentable(const CSVError::Unrepresentable& e, const CSVTable* table) {
    using Reason = CSVError::Unrepresentable::Reason;
    if (e.reason == Reason::character || !e.cell)
        return QStringLiteral("Some characters of the table cannot be written in %1.").arg(QString::fromUtf8(displayName(e.encoding)));
    // Rows as the gutter numbers them, columns by their titles.
    const int64_t firstDataRow = table ? table->firstDataRow() : 0;
    const QString row = e.cell->row < firstDataRow ? QStringLiteral("The header cell")
                                                   : QStringLiteral("The cell in row %1").arg(e.cell->row - firstDataRow + 1);
    const QString column = table && e.cell->column < table->columnCount()
                               ? QString::fromUtf8(table->columnTitle(e.cell->column))
                               : QString::fromUtf8(CSVTable::columnLetters(e.cell->column));
    const QString cell = QStringLiteral("%1, column “%2”,").arg(row, column);
    if (e.reason == Reason::noEscape)
        return QStringLiteral("%1 holds a backslash, which cannot be written while the backslash is both the quote "
                              "character and the escape.").arg(cell);
    return QStringLiteral("%1 cannot be written without a quote character, and the save format has none.").arg(cell);
}

} // namespace

QString describe(const CSVError& error, const CSVTable* table) {
    return std::visit(
        [table](const auto& e) -> QString {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, CSVError::Undecodable>)
                return QStringLiteral("The file is not valid text in %1.").arg(QString::fromUtf8(displayName(e.encoding)));
            else if constexpr (std::is_same_v<T, CSVError::Unrepresentable>)
                return describeUnrepresentable(e, table);
            else if constexpr (std::is_same_v<T, CSVError::NotText>)
                return QStringLiteral("The file does not hold text (it looks like binary data).");
            else if constexpr (std::is_same_v<T, CSVError::Cancelled>)
                return QStringLiteral("Opening the file was cancelled.");
            else if constexpr (std::is_same_v<T, CSVError::SourceChanged>)
                return QStringLiteral("Another program changed the file while it was open, so the rows you did not "
                                      "edit can no longer be read from it. Nothing was written. Reload the file to "
                                      "see its new content.");
            else
                return QStringLiteral("The file is too large: it has more than 4,294,967,295 fields.");
        },
        error.value);
}

QString DocumentError::message() const {
    switch (kind) {
    case Kind::notFound: return QStringLiteral("The file does not exist.");
    case Kind::permissionDenied: return QStringLiteral("You do not have permission to read the file.");
    case Kind::isDirectory: return QStringLiteral("The item is a folder, not a file.");
    case Kind::notRegularFile: return QStringLiteral("The item is not a regular file.");
    case Kind::tooLarge: return QStringLiteral("The file is too large to be held in memory.");
    case Kind::content: return csvError ? describe(*csvError) : QStringLiteral("The file cannot be read.");
    case Kind::io: break;
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
    if (editObserver_) editObserver_->documentClosing();
}

CSVDocument::CSVDocument(ReadResult result, SharedBytes original)
    : storage_(std::move(result.table)), report_(std::move(result.report)), originalData_(std::move(original)) {}

std::unique_ptr<CSVDocument> CSVDocument::fromBytes(const SharedBytes& bytes) {
    ReadResult result = CSVReader::read(bytes, ReadOptions{});
    return std::unique_ptr<CSVDocument>(new CSVDocument(std::move(result), bytes));
}

namespace {

bool readFile(const QString& path, SharedBytes& bytes, DocumentError& error) {
    int code = 0;
    if (!readWholeFile(QFile::encodeName(path).toStdString(), bytes, code)) {
        switch (code) {
        case ENOENT: error = {DocumentError::Kind::notFound, std::nullopt, {}}; break;
        case EACCES:
        case EPERM: error = {DocumentError::Kind::permissionDenied, std::nullopt, {}}; break;
        case EISDIR: error = {DocumentError::Kind::isDirectory, std::nullopt, {}}; break;
        case notRegularFileError: error = {DocumentError::Kind::notRegularFile, std::nullopt, {}}; break;
        case EFBIG: error = {DocumentError::Kind::tooLarge, std::nullopt, {}}; break;
        default: error = {DocumentError::Kind::io, std::nullopt, QString::fromLocal8Bit(std::strerror(code))};
        }
        return false;
    }
    return true;
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
    if (type == DocumentType::commaSeparatedText && f.dialect.delimiter == Byte::tab) f.dialect.delimiter = Byte::comma;
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
    TableEdit inverse = applyEdit(edit);
    if (undoStack) undoStack->push(new TableEditCommand(this, std::move(inverse), actionName));
}

void CSVDocument::reinterpret(ReadResult result, QUndoStack* undoStack) {
    report_ = std::move(result.report);
    Q_EMIT reportChanged();
    apply(TableEdit::replaceTable(std::move(result.table)), undoStack, QStringLiteral("Reinterpret File"));
}

DiskState CSVDocument::diskState() const {
    if (filePath_.isEmpty() || !fileIdentity_) return DiskState::unchanged;
    return compareWithDisk(*fileIdentity_, filePath_);
}

bool CSVDocument::reload(QUndoStack* undoStack, const QString& actionName, DocumentError& error) {
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

void CSVDocument::setFilePath(const QString& path) {
    if (path == filePath_) return;
    filePath_ = path;
    Q_EMIT filePathChanged(path);
}

} // namespace zarvel
