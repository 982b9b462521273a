// FuzzChecks: the properties the core's fuzz targets check, one function per target.
// tests/core/RegressionTests.cpp runs the same functions over every input the fuzzers
// ever found a fault with, so a fixed fault stays fixed.
//
//   checkRead(data, size);    // any bytes, with and without forced options
//   checkWrite(data, size);   // read, write in its own and in another format, read back
//   checkEdits(data, size);   // bytes as table edits; undo all, redo all
//
// A broken property throws CheckFailure; a crash or a sanitizer report is the fault
// itself. CSVError is the core's ordinary answer to bytes that are not text.
#pragma once

#include "core/CSVError.h"
#include "core/CSVReader.h"
#include "core/CSVTable.h"
#include "core/CSVWriter.h"
#include "core/ColumnKindDetector.h"
#include "core/DialectDetector.h"
#include "core/FieldIndexer.h"
#include "core/TableEdit.h"
#include "core/TableSearch.h"
#include "core/TableSorter.h"
#include "core/TextEncoding.h"
#include "core/UTF8.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace zarvel::fuzz {

// ---------------------------------------------------------------------------------
// Choices shared by the targets.

// A dialect the program lets a user force or save with: delimiter and quote are ASCII
// but no line break, and differ from each other.
inline CSVDialect dialectFrom(ByteSource& in) {
    auto asciiByte = [&in] {
        uint8_t b = in.byte() & 0x7F;
        if (b == Byte::lineFeed || b == Byte::carriageReturn) b = Byte::comma;
        return b;
    };
    CSVDialect d;
    d.delimiter = in.below(4) != 0 ? in.pick(CSVDialect::commonDelimiters) : asciiByte();
    switch (in.below(5)) {
    case 0:
        d.quote = std::nullopt;
        break;
    case 1:
        d.quote = Byte::singleQuote;
        break;
    case 2:
        d.quote = asciiByte();
        break;
    default:
        d.quote = Byte::doubleQuote;
    }
    if (d.quote == d.delimiter)
        d.quote = d.delimiter == Byte::doubleQuote ? Byte::singleQuote : Byte::doubleQuote;
    d.escape = in.flag() ? CSVDialect::Escape::backslash : CSVDialect::Escape::doubled;
    return d;
}

inline ReadOptions readOptionsFrom(ByteSource& in) {
    ReadOptions o;
    const uint8_t what = in.byte();
    if (what & 1) o.encoding = in.pick(allTextEncodings);
    if (what & 2) o.dialect = dialectFrom(in);
    if (what & 4) o.hasHeader = in.flag();
    o.recognizesSepLine = (what & 8) == 0;
    return o;
}

inline FileFormat formatFrom(ByteSource& in) {
    FileFormat f;
    f.dialect = dialectFrom(in);
    f.encoding = in.below(3) == 0 ? in.pick(allTextEncodings) : TextEncoding::utf8;
    const uint8_t flags = in.byte();
    f.hasBOM = (flags & 1) && supportsBOM(f.encoding);
    f.hasHeader = flags & 2;
    f.hasSepLine = flags & 4;
    f.hasTrailingNewline = (flags & 8) == 0;
    f.quoting = flags & 16 ? FileFormat::Quoting::all : FileFormat::Quoting::minimal;
    f.lineEnding = in.pick(FileFormat::allLineEndings);
    return f;
}

// Encodings that hold every character: writing to them never fails.
inline bool isUnicodeEncoding(TextEncoding e) {
    return e == TextEncoding::utf8 || e == TextEncoding::utf16LittleEndian ||
           e == TextEncoding::utf16BigEndian || e == TextEncoding::utf32LittleEndian ||
           e == TextEncoding::utf32BigEndian;
}

inline std::optional<ReadResult> tryRead(std::string_view bytes, const ReadOptions& options) {
    try {
        return CSVReader::read(SharedBytes::copyOf(bytes), options);
    } catch (const CSVError&) {
        return std::nullopt;
    }
}

// Cells are compared only up to this many per table, so a pathological shape (a
// thousand rows by a thousand ragged columns) keeps the fuzzer fast.
inline constexpr int64_t maxCheckedCells = 200'000;

// ---------------------------------------------------------------------------------
// Reading.

inline void checkIndex(const CSVTable& table, const FileFormat& format) {
    const FieldIndex& ix = table.index();
    const std::string_view text = table.source().view();
    const uint8_t D = format.dialect.delimiter;
    expect(ix.rowFirstField.size() == ix.rowContentEnds.size() + 1,
           "one rowFirstField entry per row plus one");
    expect(ix.rowFirstField.front() == 0, "rowFirstField starts at 0");
    expect(ix.rowFirstField.back() == ix.fieldStarts.size(), "rowFirstField ends at the field count");
    int64_t maxFields = 0;
    uint64_t previousEnd = 0;
    for (int64_t r = 0; r < ix.rowCount(); ++r) {
        const int64_t fields = ix.fieldCount(r);
        expect(fields >= 1, "every row has a field");
        maxFields = std::max(maxFields, fields);
        const uint64_t contentEnd = ix.rowContentEnds[static_cast<size_t>(r)];
        expect(contentEnd <= text.size(), "row content ends inside the text");
        for (int64_t f = 0; f < fields; ++f) {
            const auto [start, end] = ix.fieldRange(r, f);
            expect(start >= previousEnd, "fields in file order without overlap");
            expect(start <= end && end <= contentEnd, "field inside its row");
            if (f + 1 < fields)
                expect(static_cast<uint8_t>(text[end]) == D, "fields separated by the delimiter");
            previousEnd = end;
        }
        // Between two rows lies exactly one line ending; after the last, one or none.
        const uint64_t next = r + 1 < ix.rowCount() ? ix.rowRange(r + 1).first : text.size();
        expect(next >= contentEnd, "rows in file order");
        const std::string_view gap = text.substr(contentEnd, next - contentEnd);
        const bool isEnding = gap == "\n" || gap == "\r" || gap == "\r\n";
        if (r + 1 < ix.rowCount())
            expect(isEnding, "one line ending between rows");
        else
            expect(gap.empty() || isEnding, "at most one line ending after the last row");
        previousEnd = next;
    }
    expect(ix.maxFieldCount == maxFields, "maxFieldCount is the widest row");
    if (ix.rowCount() > 0) {
        const bool trailing = ix.rowContentEnds.back() < text.size();
        expect(format.hasTrailingNewline == trailing, "trailing newline flag matches the text");
    }
}

inline void checkCellsDecode(const CSVTable& table) {
    const int64_t rows = table.rowCount(), columns = table.columnCount();
    const int64_t checkedRows =
        columns == 0 ? rows : std::min(rows, std::max<int64_t>(maxCheckedCells / columns, 1));
    for (int64_t c = 0; c < columns; ++c)
        expect(UTF8::isValid(table.columnTitle(c)), "column title is UTF-8");
    for (int64_t r = 0; r < checkedRows; ++r) {
        const StringRow row = table.values(r);
        expect(static_cast<int64_t>(row.size()) == columns, "a row has one value per column");
        for (int64_t c = 0; c < columns; ++c) {
            expect(UTF8::isValid(row[static_cast<size_t>(c)]), "cell decodes to UTF-8");
            expect(row[static_cast<size_t>(c)] == table.value(r, c), "values() and value() agree");
        }
    }
    const StringRows shown = table.displayValues({0, checkedRows}, {0, columns}, 24);
    expect(static_cast<int64_t>(shown.size()) == checkedRows, "one display line per row");
    for (const StringRow& line : shown) {
        expect(static_cast<int64_t>(line.size()) == columns, "one display text per column");
        for (const std::string& s : line) {
            expect(UTF8::isValid(s), "display text is UTF-8");
            expect(s.find_first_of("\n\r\t") == std::string::npos, "display text is one line");
        }
    }
}

inline void checkReadResult(const SharedBytes& bytes, const ReadOptions& options, const ReadResult& result) {
    const CSVTable& table = result.table;
    const ReadReport& report = result.report;
    const FileFormat& format = report.format;
    expect(table.format() == format, "report format is the table's format");
    if (options.encoding) expect(format.encoding == *options.encoding, "forced encoding kept");
    if (options.dialect) expect(format.dialect == *options.dialect, "forced dialect kept");
    if (options.hasHeader) expect(format.hasHeader == *options.hasHeader, "forced header kept");
    if (format.hasBOM) {
        expect(supportsBOM(format.encoding), "a BOM only where the encoding has one");
        expect(hasPrefix(bytes.view(), bom(format.encoding)), "a BOM only where the bytes start with it");
    }
    if (format.hasSepLine) {
        expect(options.recognizesSepLine, "no sep= line when not recognised");
        if (!options.dialect) {
            const auto sep = DialectDetector::parseSepLine(table.source().view());
            expect(sep && sep->delimiter == format.dialect.delimiter, "the sep= line names the delimiter");
        }
    }
    expect(format.quoting == FileFormat::Quoting::minimal, "files read with minimal quoting");
    if (format.encoding == TextEncoding::utf8 && !bytes.empty())
        expect(table.source().sharesStorageWith(bytes), "UTF-8 text is not copied");
    expect(table.rowCount() == table.index().rowCount(), "one stored row per source row");
    expect(table.columnCount() == table.index().maxFieldCount, "one column per field of the widest row");
    expect(table.columnsMatchSource(), "columns in source order");
    expect(table.firstDataRow() == (format.hasHeader && table.rowCount() > 0 ? 1 : 0), "first data row");

    expect(report.warnings.size() <= maxReadWarnings, "warnings capped");
    for (size_t i = 0; i < report.warnings.size(); ++i) {
        expect(report.warnings[i].row >= 0 && report.warnings[i].row < table.rowCount(),
               "warning row in range");
        if (i > 0) expect(report.warnings[i - 1].row <= report.warnings[i].row, "warnings in file order");
    }
    int64_t ragged = 0;
    for (int64_t r = 0; r < table.index().rowCount(); ++r)
        if (table.index().fieldCount(r) != table.index().maxFieldCount) ++ragged;
    expect(report.raggedRowCount == ragged, "ragged row count");
    expect(report.confidence >= 0.0 && report.confidence <= 1.0, "confidence within 0 ... 1");

    checkIndex(table, format);
    checkCellsDecode(table);
}

inline void checkOneRead(const SharedBytes& bytes, const ReadOptions& options) {
    std::optional<ReadResult> result;
    try {
        result = CSVReader::read(bytes, options);
    } catch (const CSVError& e) {
        expect(!std::holds_alternative<CSVError::Unrepresentable>(e.value),
               "reading never fails as unrepresentable");
        expect(!std::holds_alternative<CSVError::FileTooLarge>(e.value), "small inputs are not too large");
        if (options.encoding == TextEncoding::utf8) expect(false, "forced UTF-8 always reads");
        return;
    }
    checkReadResult(bytes, options, *result);
}

// The 64-byte reading gives exactly the field-by-field one, whatever the bytes.
inline void checkIndexing(const uint8_t* data, size_t size) {
    const CSVDialect dialects[] = {CSVDialect::comma(),
                                   CSVDialect::tab(),
                                   {Byte::semicolon, Byte::singleQuote, CSVDialect::Escape::doubled},
                                   {Byte::comma, std::nullopt, CSVDialect::Escape::doubled}};
    for (const CSVDialect& dialect : dialects) {
        const auto fast = FieldIndexer::scan(data, size, 0, dialect);
        const auto reference = FieldIndexer::scanFieldByField(data, size, 0, dialect);
        expect(fast.index == reference.index && fast.warnings == reference.warnings &&
                   fast.endsWithNewline == reference.endsWithNewline &&
                   fast.lineEndingCounts == reference.lineEndingCounts,
               "the 64-byte reading equals the field-by-field one");
    }
}

inline void checkRead(const uint8_t* data, size_t size) {
    checkIndexing(data, size);
    const SharedBytes bytes = SharedBytes::copyOf({reinterpret_cast<const char*>(data), size});
    checkOneRead(bytes, ReadOptions{});
    const TailSource tail(data, size);
    ByteSource choices = tail.source();
    checkOneRead(bytes, readOptionsFrom(choices));
}

// ---------------------------------------------------------------------------------
// Writing.

// Printable bytes for a failure message: everything outside ASCII graphics as \xHH.
inline std::string escaped(std::string_view bytes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string s;
    for (char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            s.push_back(ch);
        } else {
            s += "\\x";
            s.push_back(hex[b >> 4]);
            s.push_back(hex[b & 15]);
        }
    }
    return s;
}

inline std::string describe(const FileFormat& f) {
    std::string s = "delimiter " + escaped(std::string(1, static_cast<char>(f.dialect.delimiter)));
    s += f.dialect.quote ? " quote " + escaped(std::string(1, static_cast<char>(*f.dialect.quote)))
                         : " no quote";
    s += f.dialect.escape == CSVDialect::Escape::backslash ? " backslash" : " doubled";
    s += " " + std::string(rawValue(f.encoding)) + (f.hasBOM ? "+BOM" : "");
    s += " " + std::string(displayName(f.lineEnding)) + (f.hasHeader ? " header" : "") +
         (f.hasSepLine ? " sep" : "");
    s += std::string(f.hasTrailingNewline ? " trailing" : "") +
         (f.quoting == FileFormat::Quoting::all ? " quote-all" : "");
    return s;
}

inline std::string describe(const StringRows& cells) {
    std::string s = std::to_string(cells.size()) + " rows:";
    for (const StringRow& row : cells) {
        s += "\n ";
        for (const std::string& v : row)
            s += " [" + escaped(v) + "]";
    }
    return s;
}

// Cells as a file can hold them: UTF-8 text (an ill-formed byte reads back as U+FFFD),
// every row padded to `width` (a short row copied raw stays short, its missing cells
// empty either way).
inline StringRows asWritten(const StringRows& cells, size_t width) {
    StringRows out = cells;
    for (StringRow& row : out) {
        for (std::string& v : row)
            if (!UTF8::isValid(v)) v = UTF8::repaired(v);
        row.resize(std::max(row.size(), width));
    }
    return out;
}

inline size_t widest(const StringRows& rows) {
    size_t w = 0;
    for (const StringRow& row : rows)
        w = std::max(w, row.size());
    return w;
}

// A write refused as unrepresentable must name a cell the format really cannot spell.
inline void expectJustified(const StringRows& cells, const FileFormat& format,
                            const CSVError::Unrepresentable& e, const std::string& context) {
    using Reason = CSVError::Unrepresentable::Reason;
    const CSVDialect& d = format.dialect;
    if (e.reason == Reason::character) {
        expect(!isUnicodeEncoding(format.encoding),
               context + ": every character has a code in a Unicode encoding");
        return;
    }
    expect(e.cell.has_value(), context + ": the error names a cell");
    const auto [row, column] = *e.cell;
    expect(row >= 0 && row < static_cast<int64_t>(cells.size()), context + ": the named row exists");
    const StringRow& values = cells[static_cast<size_t>(row)];
    const std::string value =
        column < static_cast<int64_t>(values.size()) ? values[static_cast<size_t>(column)] : "";
    if (e.reason == Reason::noEscape) {
        expect(d.quote == Byte::backslash && d.escape == CSVDialect::Escape::backslash &&
                   value.find('\\') != std::string::npos,
               context + ": only a backslash lacks an escape, and only when it is quote and escape");
        return;
    }
    // Quoting would have protected the cell, unless the quote is itself a letter of «sep».
    expect(!d.quote || (row == 0 && column == 0 && (*d.quote == 's' || *d.quote == 'S')),
           context + ": a format with a quote can write every cell");
    const bool holdsBreak =
        value.find_first_of(std::string{static_cast<char>(d.delimiter), '\n', '\r'}) != std::string::npos;
    const bool firstCell = row == 0 && column == 0;
    const bool emptyLastRow = row + 1 == static_cast<int64_t>(cells.size()) && !format.hasTrailingNewline;
    expect(holdsBreak || firstCell || emptyLastRow, context + ": the named cell needs a quote");
}

// What is written reads back, in the format it was written in, as exactly the table's
// cells; or the write is refused for a cell the format cannot spell.
inline void checkRoundTrip(const CSVTable& table, const StringRows& cells, const FileFormat& format,
                           bool recognizesSepLine, bool mustWrite, std::string_view what) {
    const std::string context = std::string(what) + " (" + describe(format) + ")";
    // Streamed in small blocks, the same bytes or the same error.
    std::optional<CSVError> streamError;
    std::string streamed;
    try {
        CSVWriter::write(
            table, format, [&streamed](std::string_view block) { streamed += block; },
            1 + table.rowCount() % 13);
    } catch (const CSVError& e) {
        streamError = e;
    }
    std::string bytes;
    try {
        bytes = CSVWriter::write(table, format);
        expect(!streamError && streamed == bytes, context + ": streamed in blocks, the same bytes");
    } catch (const CSVError& e) {
        // Blocks are encoded as they leave, so a stream may meet another bad cell first.
        expect(streamError.has_value(), context + ": streamed in blocks, refused too");
        const auto* refused = std::get_if<CSVError::Unrepresentable>(&e.value);
        expect(refused != nullptr, context + ": only unrepresentable fails a write");
        expect(!mustWrite || !isUnicodeEncoding(format.encoding),
               context + ": a write that cannot fail failed");
        expectJustified(cells, format, *refused, context + " " + describe(cells));
        return;
    }
    const std::optional<ReadResult> back = tryRead(bytes, ReadOptions::forcing(format, recognizesSepLine));
    const std::string written = context + " «" + escaped(bytes) + "»";
    expect(back.has_value(), written + ": written bytes read back");
    const StringRows actual = back->table.allRows();
    const size_t width = std::max(widest(cells), widest(actual));
    if (actual.size() != cells.size() || asWritten(actual, width) != asWritten(cells, width))
        throw CheckFailure(written + ": other cells\nexpected " + describe(cells) + "\nactual   " +
                           describe(actual));
    if (recognizesSepLine)
        expect(back->report.format.hasSepLine == format.hasSepLine, written + ": sep= line kept");
}

inline void checkWrite(const uint8_t* data, size_t size) {
    const TailSource tail(data, size);
    ByteSource choices = tail.source();
    const uint8_t how = choices.byte();
    const ReadOptions options = how & 1 ? readOptionsFrom(choices) : ReadOptions{};
    const std::optional<ReadResult> read = tryRead({reinterpret_cast<const char*>(data), size}, options);
    if (!read) return;
    const CSVTable& table = read->table;
    if (table.rowCount() * std::max<int64_t>(table.columnCount(), 1) > maxCheckedCells) return;
    const StringRows cells = table.allRows();

    // In its own format a table was readable, so it is writable and reads back (a first
    // row spelling a sep= line was data only because sep= lines went unrecognised).
    checkRoundTrip(table, cells, read->report.format, options.recognizesSepLine, options.recognizesSepLine,
                   "own format");

    // In another format, read back with that format forced.
    FileFormat other = formatFrom(choices);
    checkRoundTrip(table, cells, other, true, false, "other format");
}

// ---------------------------------------------------------------------------------
// Editing.

// Everything a user can observe of a table.
struct Observed {
    StringRows cells;
    int64_t rowCount = 0;
    int64_t columnCount = 0;
    FileFormat format;
    bool columnsMatchSource = false;
    std::string written; // empty with `unwritable` when the format's encoding cannot hold it
    bool unwritable = false;
    bool operator==(const Observed&) const = default;
};

inline Observed observe(const CSVTable& t) {
    Observed o{t.allRows(), t.rowCount(), t.columnCount(), t.format(), t.columnsMatchSource(), {}, false};
    for (const StringRow& row : o.cells)
        expect(static_cast<int64_t>(row.size()) == o.columnCount, "row width");
    try {
        o.written = CSVWriter::write(t, t.format());
    } catch (const CSVError&) {
        o.unwritable = true;
    }
    return o;
}

inline std::string describe(const Observed& o) {
    return std::to_string(o.rowCount) + "x" + std::to_string(o.columnCount) + " " + describe(o.format) +
           (o.columnsMatchSource ? " matching source" : "") + (o.unwritable ? " unwritable" : "") + " «" +
           escaped(o.written) + "» " + describe(o.cells);
}

inline void expectSame(const Observed& actual, const Observed& expected, const std::string& what) {
    if (actual == expected) return;
    throw CheckFailure(what + "\nexpected " + describe(expected) + "\nactual   " + describe(actual));
}

// Decodes bytes into edits that are valid for the table they are applied to (an
// invalid edit is a caller error, asserted, not a fault of the table).
class EditDecoder {
public:
    explicit EditDecoder(ByteSource& in) : in_(in) {}

    std::string text() {
        static constexpr std::string_view pieces[] = {"a",
                                                      "B",
                                                      "zz",
                                                      ",",
                                                      "\"",
                                                      "\n",
                                                      "\r\n",
                                                      " ",
                                                      "\xC3\xA9",
                                                      "\\",
                                                      "\xE6\x97\xA5",
                                                      "x\"y",
                                                      "1",
                                                      "-2.5",
                                                      "sep=;",
                                                      "\xEF\xBB\xBF",
                                                      "\xFF",
                                                      "\t",
                                                      "'",
                                                      ";"};
        std::string s;
        for (int64_t n = in_.below(4); n > 0; --n) {
            if (in_.below(8) == 0)
                s += static_cast<char>(in_.byte());
            else
                s += in_.pick(pieces);
        }
        return s;
    }

    IndexSet someOf(int64_t count, int64_t maxPicks) {
        IndexSet s;
        for (int64_t n = 1 + in_.below(maxPicks); n > 0 && count > 0; --n) {
            if (in_.flag()) {
                const int64_t lo = in_.below(count);
                s.insert(IndexRange{lo, lo + 1 + in_.below(count - lo)});
            } else {
                s.insert(in_.below(count));
            }
        }
        return s;
    }

    std::vector<int64_t> shuffled(int64_t count) {
        std::vector<int64_t> order(static_cast<size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        for (int64_t i = count - 1; i > 0; --i)
            std::swap(order[static_cast<size_t>(i)], order[static_cast<size_t>(in_.below(i + 1))]);
        return order;
    }

    Permutation shuffledOrder(int64_t count) {
        const std::vector<int64_t> order = shuffled(count);
        return Permutation(std::vector<uint32_t>(order.begin(), order.end()));
    }

    FileFormat format(const FileFormat& current) {
        FileFormat f = current;
        switch (in_.below(6)) {
        case 0:
            f.hasHeader = !f.hasHeader;
            break;
        case 1:
            f.dialect = dialectFrom(in_);
            break;
        case 2:
            f.quoting = f.quoting == FileFormat::Quoting::all ? FileFormat::Quoting::minimal
                                                              : FileFormat::Quoting::all;
            break;
        case 3:
            f.lineEnding = in_.pick(FileFormat::allLineEndings);
            break;
        case 4:
            f.hasSepLine = !f.hasSepLine;
            f.hasTrailingNewline = in_.flag();
            break;
        default:
            f = formatFrom(in_);
            f.hasHeader = current.hasHeader;
        }
        return f;
    }

    // One edit that is valid for `t` as it stands.
    TableEdit edit(const CSVTable& t, int depth = 0) {
        const int64_t rows = t.rowCount(), columns = t.columnCount();
        switch (in_.below(depth == 0 ? 16 : 15)) {
        case 0:
        case 1:
        case 2: {
            if (rows == 0 || columns == 0) break;
            std::vector<CellChange> changes;
            for (int64_t n = 1 + in_.below(4); n > 0; --n) {
                const int64_t r = in_.below(rows), c = in_.below(columns);
                changes.push_back({r, c, text()});
                if (in_.below(5) == 0) changes.push_back({r, c, text()}); // the same cell twice
            }
            return TableEdit::setCells(std::move(changes));
        }
        case 3:
            // A row pointed at what another shows (two rows then share storage, which a
            // later cell edit of either must not write through).
            if (rows == 0) break;
            return TableEdit::setRowRefs({{in_.below(rows), t.rowRef(in_.below(rows))}});
        case 4: {
            StringRows values;
            for (int64_t n = 1 + in_.below(3); n > 0; --n) {
                StringRow row;
                for (int64_t c = in_.below(columns + 2); c > 0; --c)
                    row.push_back(text());
                values.push_back(std::move(row));
            }
            if (in_.flag())
                return TableEdit::insertRows(RowBlock::fromRows(std::move(values), in_.below(rows + 1)));
            // Scattered final positions in the table after the insertion.
            const auto n = static_cast<int64_t>(values.size());
            std::vector<int64_t> all = shuffled(rows + n);
            all.resize(static_cast<size_t>(n));
            return TableEdit::insertRows(
                RowBlock{IndexSet::fromValues(all), RowBlock::Values{std::move(values)}});
        }
        case 5:
            if (rows == 0) break;
            return TableEdit::removeRows(someOf(rows, 4));
        case 6: {
            if (in_.flag())
                return TableEdit::insertColumns(ColumnBlock::empty(1 + in_.below(2), in_.below(columns + 1)));
            // Positions in any order and source mappings. No texts for copied-out rows:
            // those are indexed by editedRows entry, which only the inverse of a removal
            // can know.
            ColumnBlock block;
            int64_t width = columns;
            for (int64_t n = 1 + in_.below(3); n > 0; --n) {
                block.positions.push_back(in_.below(width + 1));
                block.mapping.push_back(static_cast<int32_t>(in_.below(t.index().maxFieldCount + 1)) - 1);
                ++width;
            }
            return TableEdit::insertColumns(std::move(block));
        }
        case 7:
            if (columns == 0) break;
            return TableEdit::removeColumns(someOf(columns, 2));
        case 8:
            if (in_.flag() && rows > 0)
                return TableEdit::reorderRows(
                    Permutation::moving(someOf(rows, 3), in_.below(rows + 1), rows));
            return TableEdit::reorderRows(shuffledOrder(rows));
        case 9:
            if (in_.flag() && columns > 0)
                return TableEdit::reorderColumns(
                    Permutation::moving(someOf(columns, 2), in_.below(columns + 1), columns));
            return TableEdit::reorderColumns(shuffledOrder(columns));
        case 10:
            return TableEdit::setFormat(format(t.format()));
        case 11: {
            // Sorting by a column, as the session does it.
            if (columns == 0) break;
            const int64_t column = in_.below(columns);
            const ColumnKind kind = in_.flag()
                                        ? ColumnKindDetector::kinds(t, 100)[static_cast<size_t>(column)]
                                        : (in_.flag() ? ColumnKind::number : ColumnKind::text);
            const Permutation p = TableSorter::permutation(t, column, in_.flag(), kind);
            expect(static_cast<int64_t>(p.size()) == rows, "a sort orders every row");
            std::vector<int64_t> seen = p.order();
            std::sort(seen.begin(), seen.end());
            for (int64_t i = 0; i < rows; ++i)
                expect(seen[static_cast<size_t>(i)] == i, "a sort is a permutation");
            if (t.firstDataRow() == 1)
                expect(seen.empty() || p.order().front() == 0, "the header row never moves");
            return TableEdit::reorderRows(p);
        }
        case 12: {
            // Replace All, as the session does it.
            const std::string query = text(), replacement = text();
            const bool caseSensitive = in_.flag();
            const std::vector<CellPosition> found = TableSearch::find(query, t, caseSensitive, {}, 1, true);
            expect(found == TableSearch::find(query, t, caseSensitive, {}, 1, false),
                   "the prefilter changes no result");
            std::vector<CellChange> changes;
            for (const CellPosition& p : found) {
                const std::string value = t.value(p.row, p.column);
                expect(TableSearch::matches(value, query, caseSensitive), "every found cell matches");
                changes.push_back(
                    {p.row, p.column, TableSearch::replacing(query, replacement, value, caseSensitive)});
            }
            if (changes.empty()) break;
            return TableEdit::setCells(std::move(changes));
        }
        case 13:
            if (depth > 0 || in_.below(4) != 0) break;
            if (in_.flag()) return TableEdit::replaceTable(CSVTable({{"p", "q"}, {text()}}, t.format()));
            return TableEdit::replaceTable(sourceTable("s,t\nu\n", CSVDialect::comma(), true));
        default: {
            // A batch: each member is made for the table its predecessors leave.
            CSVTable scratch = t;
            std::vector<TableEdit> members;
            for (int64_t n = in_.below(4); n > 0; --n) {
                members.push_back(edit(scratch, depth + 1));
                scratch.apply(members.back());
            }
            return TableEdit::batch(std::move(members));
        }
        }
        return TableEdit::batch({});
    }

    static CSVTable sourceTable(std::string_view text, const CSVDialect& dialect, bool header) {
        FileFormat format;
        format.dialect = dialect;
        format.hasHeader = header;
        const SharedBytes source = SharedBytes::copyOf(text);
        FieldIndexer::Result scanned = FieldIndexer::scan(source.view(), 0, dialect);
        format.hasTrailingNewline = scanned.endsWithNewline;
        return CSVTable(source, std::move(scanned.index), format);
    }

private:
    ByteSource& in_;
};

// The table the edits start from: one read from the input itself when it is small,
// or a source with quoting, escapes, line breaks in fields, ragged rows and
// multi-byte text, or a table of strings.
inline CSVTable startTable(const uint8_t* data, size_t size, uint8_t choice) {
    switch (choice % 6) {
    case 0:
        return EditDecoder::sourceTable("id,name,note\n1,\"Smith, J\",\"said "
                                        "\"\"hi\"\"\"\n2,\xC3\x85gren\n3,\"two\nlines\",x,extra\n4,,\n",
                                        CSVDialect::comma(), true);
    case 1:
        return EditDecoder::sourceTable("a;\"b;c\";d\r\n\"\";e\r\nf;g;h;i\r\n", CSVDialect::semicolon(),
                                        false);
    case 2:
        return CSVTable({{"x", "y"}, {"z"}, {"\xE6\x97\xA5", "\xE8\xAA\x9E", "!"}}, FileFormat::standard());
    // Malformed quoting whose reading depends on what follows: stray and unclosed
    // quotes, text after a closing quote, a backslash at a row's end.
    case 3:
        return EditDecoder::sourceTable("k,v\nb,\"q\"\nx,\"ab\"cd\r\n\"\",c\\\n\"a,1\n\n",
                                        CSVDialect::comma(), false);
    case 4:
        return EditDecoder::sourceTable("\"a\\\"\n\"b\",\"c\\\r\"d\n\"e,f\\",
                                        {Byte::comma, Byte::doubleQuote, CSVDialect::Escape::backslash},
                                        false);
    default:
        if (auto read = tryRead({reinterpret_cast<const char*>(data), size}, {})) {
            if (read->table.rowCount() <= 64 && read->table.columnCount() <= 16) return read->table;
        }
        return EditDecoder::sourceTable("\"x\",y\n", CSVDialect::comma(), false);
    }
}

inline constexpr int maxEditSteps = 48;

// Edits decoded from `in`, applied to `t` one at a time: each undone and redone exactly,
// each edited table saved in its own and in another format and read back; then the
// whole history undone and redone.
inline void checkEditSequence(CSVTable t, ByteSource& in) {
    EditDecoder decode(in);
    const Observed initial = observe(t);

    std::vector<TableEdit> undos;
    std::vector<Observed> states{initial};
    for (int step = 0; step < maxEditSteps && !in.exhausted(); ++step) {
        const TableEdit edit = decode.edit(t);
        const CSVTable snapshot = t;
        const int64_t revision = t.revision();
        const std::string at = "step " + std::to_string(step);

        TableEdit undo = t.apply(edit);
        expect(t.revision() > revision, at + ": an edit raises the revision");
        const Observed after = observe(t);
        // Saved in its own format or another, the edited table reads back as it is.
        checkRoundTrip(t, after.cells, t.format(), true, false, at + ": own format");
        checkRoundTrip(t, after.cells, decode.format(t.format()), true, false, at + ": other format");
        expectSame(observe(snapshot), states.back(), at + ": a copy saw a later edit");

        // The inverse restores, and its own inverse redoes.
        TableEdit redo = t.apply(undo);
        expectSame(observe(t), states.back(), at + ": undo");
        undo = t.apply(redo);
        expectSame(observe(t), after, at + ": redo");
        undos.push_back(std::move(undo));
        states.push_back(after);
    }

    // Undo everything, then redo everything, as the undo stack does.
    std::vector<TableEdit> redos;
    for (size_t i = undos.size(); i-- > 0;) {
        redos.push_back(t.apply(undos[i]));
        expectSame(observe(t), states[i], "undoing all, step " + std::to_string(i));
    }
    expectSame(observe(t), initial, "undoing all restores the table");
    for (size_t i = 0; i < undos.size(); ++i) {
        undos[i] = t.apply(redos[undos.size() - 1 - i]);
        expectSame(observe(t), states[i + 1], "redoing all, step " + std::to_string(i));
    }
    expectSame(observe(t), states.back(), "redoing all gives the edited table");
}

inline void checkEdits(const uint8_t* data, size_t size) {
    ByteSource in(data, size);
    const uint8_t choice = in.byte();
    checkEditSequence(startTable(data, size, choice), in);
}

} // namespace zarvel::fuzz
