#include "core/CSVWriter.h"

#include "core/DialectDetector.h"
#include "core/FieldIndexer.h"
#include "core/TextEncoding.h"
#include "core/UTF8.h"

#include <cstring>

namespace zarvel::CSVWriter {

namespace {

bool startsWithByteOrderMark(std::string_view s) { return s.substr(0, 3) == "\xEF\xBB\xBF"; }

// A first cell starting with U+FEFF would read back as a byte order mark; quoting it
// keeps the cell. (A first row spelling a sep= line is handled once the output exists.)
bool firstFieldNeedsQuotes(std::string_view value) { return startsWithByteOrderMark(value); }

void appendQuoted(std::string_view value, const CSVDialect& dialect, std::string& out) {
    const char Q = static_cast<char>(*dialect.quote);
    const bool backslash = dialect.escape == CSVDialect::Escape::backslash;
    out.push_back(Q);
    for (char c : value) {
        if (c == Q) {
            out.push_back(backslash ? '\\' : Q);
        } else if (backslash && c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back(Q);
}

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

void appendField(std::string_view value, const CSVDialect& dialect, FileFormat::Quoting quoting, std::string& out) {
    if (!dialect.quote) {
        out.append(value);
        return;
    }
    if (quoting == FileFormat::Quoting::minimal && !needsQuotes(value, dialect)) {
        out.append(value);
        return;
    }
    appendQuoted(value, dialect, out);
}

void appendRow(const StringRow& values, const CSVDialect& dialect, FileFormat::Quoting quoting, std::string& out) {
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out.push_back(static_cast<char>(dialect.delimiter));
        appendField(values[i], dialect, quoting, out);
    }
}

std::string write(const CSVTable& table, const FileFormat& format) {
    const std::string_view ending = lineEndingBytes(format.lineEnding);
    const CSVDialect& dialect = format.dialect;
    const std::string_view source = table.source().view();
    const FieldIndex& index = table.index();
    const auto& rows = table.rows();
    const auto& columnMap = table.columnMap();

    std::string out;
    out.reserve(source.size() + rows.size() * ending.size() + 64);

    const bool rawCopy = format.dialect == table.sourceDialect() && format.quoting == FileFormat::Quoting::minimal;
    const bool identityColumns = table.columnsMatchSource();

    if (format.hasSepLine) {
        out.append("sep=");
        out.push_back(static_cast<char>(dialect.delimiter));
        out.append(ending);
    }

    // The first field is checked separately (see firstFieldNeedsQuotes); every row but
    // the first is written by the plain rules.
    auto appendFirstRow = [&](const StringRow& values) {
        if (!values.empty() && dialect.quote && firstFieldNeedsQuotes(values[0])) {
            appendQuoted(values[0], dialect, out);
            for (size_t i = 1; i < values.size(); ++i) {
                out.push_back(static_cast<char>(dialect.delimiter));
                appendField(values[i], dialect, format.quoting, out);
            }
        } else {
            appendRow(values, dialect, format.quoting, out);
        }
    };

    // A raw first field that would read back as a byte order mark.
    auto rawFirstRowNeedsQuotes = [&](uint32_t r) {
        if (!dialect.quote || columnMap.empty() || columnMap[0] < 0) return false;
        return firstFieldNeedsQuotes(table.sourceFieldBytes(r, columnMap[0]));
    };
    // Whether the bytes between source row r and r + 1 are exactly the output line ending.
    auto joinedBySameEnding = [&](uint32_t r) {
        const uint32_t gapStart = index.rowContentEnds[r];
        const uint32_t gapEnd = index.fieldStarts[index.rowFirstField[r + 1]];
        return source.substr(gapStart, gapEnd - gapStart) == ending;
    };
    const bool runsPossible = rawCopy && identityColumns;

    std::string scratch;
    size_t lastRowStart = out.size();
    size_t firstRowEnd = std::string::npos;
    for (size_t i = 0; i < rows.size(); ++i) {
        const RowRef& ref = rows[i];
        if (i > 0) {
            if (firstRowEnd == std::string::npos) firstRowEnd = out.size();
            // PERF: consecutive source rows already joined by the output line ending are
            // copied as one range rather than row by row.
            if (runsPossible && ref.isOriginal() && rows[i - 1].isOriginal() &&
                rows[i - 1].number() + 1 == ref.number() && joinedBySameEnding(rows[i - 1].number())) {
                size_t j = i;
                while (j + 1 < rows.size() && rows[j + 1].isOriginal() && rows[j + 1].number() == rows[j].number() + 1 &&
                       joinedBySameEnding(rows[j].number()))
                    ++j;
                const uint32_t from = index.rowContentEnds[rows[i - 1].number()];
                const uint32_t lastStart = index.fieldStarts[index.rowFirstField[rows[j].number()]];
                lastRowStart = out.size() + (lastStart - from);
                out.append(source.substr(from, index.rowContentEnds[rows[j].number()] - from));
                i = j;
                continue;
            }
            out.append(ending);
        }
        lastRowStart = out.size();
        const bool first = i == 0;
        auto emit = [&](const StringRow& values) {
            first ? appendFirstRow(values) : appendRow(values, dialect, format.quoting, out);
        };
        if (ref.isEdited()) {
            emit(table.editedRow(ref.number()));
            continue;
        }
        if (first && (!rawCopy || rawFirstRowNeedsQuotes(ref.number()))) {
            emit(table.values(0));
            continue;
        }
        if (!rawCopy) {
            // PERF: each field is decoded into one reused buffer and written from there,
            // without building the row's strings.
            const uint32_t r = ref.number();
            for (size_t c = 0; c < columnMap.size(); ++c) {
                if (c) out.push_back(static_cast<char>(dialect.delimiter));
                if (columnMap[c] < 0) {
                    if (format.quoting == FileFormat::Quoting::all) appendField({}, dialect, format.quoting, out);
                    continue;
                }
                const std::string_view bytes = table.sourceFieldBytes(r, columnMap[c]);
                if (!FieldIndexer::isQuotedField(bytes, table.sourceDialect()) && UTF8::isValid(bytes)) {
                    appendField(bytes, dialect, format.quoting, out);
                    continue;
                }
                scratch.clear();
                FieldIndexer::appendFieldValue(scratch, bytes, table.sourceDialect());
                appendField(scratch, dialect, format.quoting, out);
            }
            continue;
        }
        const uint32_t r = ref.number();
        if (identityColumns) {
            out.append(table.sourceRowBytes(r));
            continue;
        }
        for (size_t c = 0; c < columnMap.size(); ++c) {
            if (c) out.push_back(static_cast<char>(dialect.delimiter));
            if (columnMap[c] >= 0) out.append(table.sourceFieldBytes(r, columnMap[c]));
        }
    }

    if (firstRowEnd == std::string::npos) firstRowEnd = out.size();

    if (!rows.empty()) {
        if (out.size() == lastRowStart && dialect.quote && !format.hasTrailingNewline) {
            out.push_back(static_cast<char>(*dialect.quote));
            out.push_back(static_cast<char>(*dialect.quote));
        }
        if (format.hasTrailingNewline) out.append(ending);
    }

    // A whole first row can spell a sep= line too: fields joined by the delimiter («sep=»
    // and an empty field with delimiter «;», «sep» and «;» with delimiter «=»), or «sep=»
    // followed by a line ending. Its first field quoted, it cannot.
    if (!format.hasSepLine && dialect.quote && !rows.empty() && DialectDetector::parseSepLine(out)) {
        StringRow values = rows[0].isEdited() ? table.editedRow(rows[0].number()) : table.values(0);
        // A raw-copied short row stays short.
        if (rows[0].isOriginal() && rawCopy && identityColumns)
            values.resize(static_cast<size_t>(index.fieldCount(rows[0].number())));
        if (!values.empty()) {
            std::string row;
            appendQuoted(values[0], dialect, row);
            for (size_t i = 1; i < values.size(); ++i) {
                row.push_back(static_cast<char>(dialect.delimiter));
                appendField(values[i], dialect, format.quoting, row);
            }
            out.replace(0, firstRowEnd, row);
        }
    }
    return encodeFromUTF8(std::move(out), format.encoding, format.hasBOM);
}

} // namespace zarvel::CSVWriter
