#include "core/CSVWriter.h"

#include "core/CSVError.h"
#include "core/DialectDetector.h"
#include "core/FieldIndexer.h"
#include "core/TextEncoding.h"
#include "core/UTF8.h"

#include <algorithm>
#include <limits>

namespace zarvel::CSVWriter {

namespace {

using Reason = CSVError::Unrepresentable::Reason;

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// Why `value` cannot be written as a field of `dialect`, if it cannot.
std::optional<Reason> unrepresentableReason(std::string_view value, const CSVDialect& dialect) {
    if (!dialect.quote) {
        const char D = static_cast<char>(dialect.delimiter);
        for (char c : value)
            if (c == D || c == '\n' || c == '\r') return Reason::needsQuote;
        return std::nullopt;
    }
    // The backslash as quote and escape at once: it would have to escape itself, and
    // closes the field instead.
    if (*dialect.quote == Byte::backslash && dialect.escape == CSVDialect::Escape::backslash &&
        value.find('\\') != std::string_view::npos)
        return Reason::noEscape;
    return std::nullopt;
}

// How one stored row reaches the output.
enum class RowPath {
    rawRow,    // the source bytes of the whole row, unchanged
    rawFields, // the source bytes of each displayed column's field, unchanged
    requoted,  // the source fields' values, quoted afresh for the output dialect
    values,    // an edited row's strings
};

// Writes the rows of one table in one format into a UTF-8 buffer. The decision how
// each row is written is made in one place (pathFor), and so is the rule for the first
// row (settleFirstRow).
class RowEmitter {
public:
    // Without a sink the whole output collects in `out`; with one, `out` is handed over
    // in encoded blocks of about `blockSize` bytes, each ending at a row boundary.
    RowEmitter(const CSVTable& table, const FileFormat& format, std::string& out,
               const ByteSink* sink = nullptr, size_t blockSize = 0)
        : table_(table), format_(format), dialect_(format.dialect),
          ending_(lineEndingBytes(format.lineEnding)), source_(table.source().view()), index_(table.index()),
          rows_(table.rows()), columnMap_(table.columnMap()), out_(out), sink_(sink), blockSize_(blockSize) {
        rawCopy_ = dialect_ == table.sourceDialect() && format.quoting == FileFormat::Quoting::minimal;
        identityColumns_ = table.columnsMatchSource();
        tailStart_ = untouchedTailStart();
    }

    void emitAll() {
        out_.reserve(sink_ ? blockSize_ + blockSize_ / 8
                           : source_.size() + rows_.size() * ending_.size() + 64);
        if (format_.hasSepLine) {
            out_.append("sep=");
            out_.push_back(static_cast<char>(dialect_.delimiter));
            out_.append(ending_);
        }
        bodyStart_ = out_.size();
        bool lastRowEmpty = false;
        for (size_t i = 0; i < rows_.size(); ++i) {
            if (i > 0) {
                if (const size_t last = rawRunEnd(i); last != i - 1) {
                    const auto [start, end] = index_.rowRange(rows_[last].number());
                    lastRowEmpty = start == end;
                    appendRawRun(i - 1, last);
                    i = last;
                    flushIfFull();
                    continue;
                }
                out_.append(ending_);
            }
            const size_t before = out_.size();
            emitRow(i, pathFor(i));
            lastRowEmpty = out_.size() == before;
            if (i == 0) firstRowEnd_ = out_.size();
            flushIfFull();
        }
        if (!rows_.empty()) {
            if (lastRowEmpty && !format_.hasTrailingNewline) {
                // An empty last row with nothing after it would vanish on reading; two
                // quotes keep it.
                if (!dialect_.quote) fail(Reason::needsQuote, {static_cast<int64_t>(rows_.size()) - 1, 0});
                out_.push_back(static_cast<char>(*dialect_.quote));
                out_.push_back(static_cast<char>(*dialect_.quote));
            }
            if (format_.hasTrailingNewline) out_.append(ending_);
        }
        settleFirstRow();
        if (sink_) flush();
    }

private:
    [[noreturn]] void fail(Reason reason, CellPosition cell) const {
        throw CSVError::unrepresentable(format_.encoding, reason, cell);
    }

    bool hasUnclosedQuote(size_t i) const { return index_.hasUnclosedQuote(rows_[i].number()); }

    // Table rows from here to the end are the source's last rows in their order,
    // unedited: a row there is followed by what followed it when it was read.
    size_t untouchedTailStart() const {
        const size_t n = rows_.size();
        if (!rawCopy_ || !identityColumns_ || index_.unclosedQuoteRows.empty() || n == 0) return n;
        const auto sourceRows = static_cast<uint32_t>(index_.rowCount());
        size_t i = n;
        uint32_t expected = sourceRows;
        while (i > 0 && expected > 0 && rows_[i - 1].isOriginal() && rows_[i - 1].number() == expected - 1) {
            --i;
            --expected;
        }
        if (i == n) return n;
        // An empty last row written without its line ending becomes two quotes, which an
        // unclosed quote before it would take for its closing one.
        const auto [start, end] = index_.rowRange(sourceRows - 1);
        if (start == end && !format_.hasTrailingNewline) return n;
        return i;
    }

    RowPath pathFor(size_t i) const {
        const RowRef& ref = rows_[i];
        if (ref.isEdited()) return RowPath::values;
        if (!rawCopy_) return RowPath::requoted;
        // A row with an unclosed quote keeps its bytes only where nothing after it changed.
        if (hasUnclosedQuote(i) && (!identityColumns_ || i < tailStart_)) return RowPath::requoted;
        return identityColumns_ ? RowPath::rawRow : RowPath::rawFields;
    }

    // Whether source row r and r + 1 are separated by exactly the output line ending.
    bool joinedBySameEnding(uint32_t r) const {
        const uint64_t gapStart = index_.rowContentEnds[r];
        const uint64_t gapEnd = index_.fieldStarts[index_.rowFirstField[r + 1]];
        return source_.substr(gapStart, gapEnd - gapStart) == ending_;
    }

    // PERF: consecutive source rows already joined by the output line ending are copied
    // as one range. Returns the last row of the run that continues row i - 1 through
    // row i and on, or i - 1 when row i does not continue it.
    size_t rawRunEnd(size_t i) const {
        if (!identityColumns_ || !rawCopy_ || pathFor(i - 1) != RowPath::rawRow) return i - 1;
        size_t j = i - 1;
        // Streaming, a run ends once it fills a block, so memory stays at one block.
        const uint64_t start = index_.rowContentEnds[rows_[j].number()];
        const uint64_t limit = sink_ ? blockSize_ : std::numeric_limits<uint64_t>::max();
        while (j + 1 < rows_.size() && pathFor(j + 1) == RowPath::rawRow &&
               rows_[j].number() + 1 == rows_[j + 1].number() && joinedBySameEnding(rows_[j].number()) &&
               index_.rowContentEnds[rows_[j].number()] - start < limit)
            ++j;
        return j;
    }

    // Appends the bytes from the end of row `from` to the end of row `to`.
    void appendRawRun(size_t from, size_t to) {
        const uint64_t begin = index_.rowContentEnds[rows_[from].number()];
        out_.append(source_.substr(begin, index_.rowContentEnds[rows_[to].number()] - begin));
    }

    void appendField(std::string_view value, CellPosition cell) {
        if (const auto reason = unrepresentableReason(value, dialect_)) fail(*reason, cell);
        CSVWriter::appendField(value, dialect_, format_.quoting, out_);
    }

    void emitRow(size_t i, RowPath path) {
        const auto row = static_cast<int64_t>(i);
        const uint32_t n = rows_[i].number();
        const char D = static_cast<char>(dialect_.delimiter);
        switch (path) {
        case RowPath::values: {
            const PackedRow& values = table_.editedRow(n);
            for (size_t c = 0; c < values.size(); ++c) {
                if (c) out_.push_back(D);
                appendField(values[c], {row, static_cast<int64_t>(c)});
            }
            return;
        }
        case RowPath::rawRow:
            out_.append(table_.sourceRowBytes(n));
            return;
        case RowPath::rawFields:
            for (size_t c = 0; c < columnMap_.size(); ++c) {
                if (c) out_.push_back(D);
                if (columnMap_[c] >= 0) out_.append(table_.sourceFieldBytes(n, columnMap_[c]));
            }
            return;
        case RowPath::requoted:
            // PERF: each field is decoded into one reused buffer and written from there,
            // without building the row's strings.
            for (size_t c = 0; c < columnMap_.size(); ++c) {
                if (c) out_.push_back(D);
                const CellPosition cell{row, static_cast<int64_t>(c)};
                if (columnMap_[c] < 0) {
                    appendField({}, cell);
                    continue;
                }
                const std::string_view bytes = table_.sourceFieldBytes(n, columnMap_[c]);
                if (!FieldIndexer::isQuotedField(bytes, table_.sourceDialect()) && UTF8::isValid(bytes)) {
                    appendField(bytes, cell);
                    continue;
                }
                scratch_.clear();
                FieldIndexer::appendFieldValue(scratch_, bytes, table_.sourceDialect());
                appendField(scratch_, cell);
            }
            return;
        }
    }

    // Whether the first row, as it stands in the output, would read back as something
    // other than a row: a sep= line the format does not have, or a byte order mark.
    bool firstRowReadsAsOther(size_t bodyStart) const {
        if (format_.hasSepLine) return false;
        const std::string_view body = std::string_view(out_).substr(bodyStart);
        if (const auto sep = DialectDetector::parseSepLine(body))
            if (DialectDetector::namesUsableDelimiter(*sep, dialect_.quote)) return true;
        // A mark the format writes itself goes first, and the cell's own stays a character.
        return body.starts_with(byteOrderMark) && !(format_.hasBOM && supportsBOM(format_.encoding));
    }

    // The first row is written again with its first field quoted when its bytes would
    // read back as something else; a format without a quote cannot do that. Decided once,
    // before the first block leaves: the row and the line ending after it are in `out`.
    void settleFirstRow() {
        if (firstRowSettled_ || rows_.empty()) return;
        firstRowSettled_ = true;
        if (!firstRowReadsAsOther(bodyStart_)) return;
        if (!dialect_.quote) fail(Reason::needsQuote, {0, 0});
        StringRow values = table_.values(0);
        // A raw-copied short row stays short.
        if (pathFor(0) == RowPath::rawRow)
            values.resize(static_cast<size_t>(index_.fieldCount(rows_[0].number())));
        if (values.empty()) values.emplace_back();
        std::string row;
        appendQuoted(values[0], dialect_, row);
        for (size_t c = 1; c < values.size(); ++c) {
            if (const auto reason = unrepresentableReason(values[c], dialect_))
                fail(*reason, {0, static_cast<int64_t>(c)});
            row.push_back(static_cast<char>(dialect_.delimiter));
            CSVWriter::appendField(values[c], dialect_, format_.quoting, row);
        }
        out_.replace(bodyStart_, firstRowEnd_ - bodyStart_, row);
        // A quote that is itself a letter of «sep» can still spell one.
        if (firstRowReadsAsOther(bodyStart_)) fail(Reason::needsQuote, {0, 0});
    }

    // A block leaves once it is full and the first row is settled, which needs the line
    // ending after it: so never before a second row follows the first.
    void flushIfFull() {
        if (!sink_ || out_.size() < blockSize_ || out_.size() == firstRowEnd_) return;
        settleFirstRow();
        flush();
    }

    void flush() {
        if (out_.empty() && !firstBlock_) return;
        const bool mark = format_.hasBOM && firstBlock_;
        firstBlock_ = false;
        if (format_.encoding == TextEncoding::utf8) {
            // PERF: UTF-8 leaves as it is, and the buffer keeps its capacity.
            if (mark) (*sink_)(bom(TextEncoding::utf8));
            (*sink_)(out_);
        } else {
            (*sink_)(encodeFromUTF8(std::string(out_), format_.encoding, mark));
        }
        out_.clear();
        bodyStart_ = 0;
        firstRowEnd_ = 0;
    }

    const CSVTable& table_;
    const FileFormat& format_;
    const CSVDialect& dialect_;
    const std::string_view ending_;
    const std::string_view source_;
    const FieldIndex& index_;
    const RowList& rows_;
    const std::vector<int32_t>& columnMap_;
    std::string& out_;
    const ByteSink* sink_;
    size_t blockSize_;
    std::string scratch_;
    size_t bodyStart_ = 0;
    size_t firstRowEnd_ = 0;
    bool firstRowSettled_ = false;
    bool firstBlock_ = true;
    bool rawCopy_ = false;
    bool identityColumns_ = false;
    size_t tailStart_ = 0;
};

} // namespace

bool needsQuotes(std::string_view value, const CSVDialect& dialect) {
    if (!dialect.quote) return false;
    const char D = static_cast<char>(dialect.delimiter);
    const char Q = static_cast<char>(*dialect.quote);
    const bool backslash = dialect.escape == CSVDialect::Escape::backslash;
    for (char c : value)
        if (c == D || c == Q || c == '\n' || c == '\r' || (backslash && c == '\\')) return true;
    return false;
}

namespace {
// Unedited rows are copied from the source: never from bytes another program changed.
void checkSource(const CSVTable& table) {
    if (!table.source().isIntact()) throw CSVError::sourceChanged();
}
} // namespace

std::string write(const CSVTable& table, const FileFormat& format) {
    std::string out;
    checkSource(table);
    RowEmitter(table, format, out).emitAll();
    checkSource(table);
    return encodeFromUTF8(std::move(out), format.encoding, format.hasBOM);
}

void write(const CSVTable& table, const FileFormat& format, const ByteSink& sink, size_t blockSize) {
    std::string out;
    checkSource(table);
    RowEmitter(table, format, out, &sink, std::max<size_t>(blockSize, 1)).emitAll();
    checkSource(table);
}

} // namespace zarvel::CSVWriter
