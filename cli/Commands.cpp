#include "cli/Commands.h"

#include "cli/CliError.h"
#include "cli/FileAccess.h"
#include "cli/JsonWriter.h"
#include "core/CSVWriter.h"
#include "core/ColumnKindDetector.h"
#include "core/TableEdit.h"
#include "core/TableSearch.h"
#include "core/TableSorter.h"

namespace zarvel::Commands {
namespace {

// Rows sampled per column for column kinds, as the editor does.
constexpr int64_t kindSampleRows = 200;

ReadResult readTable(const ReadArguments& read) {
    const ReadOptions options = OptionValues::readOptions(read);
    return FileAccess::readTable(read.file, options);
}

// A byte as a one-character string; bytes above ASCII read as the Unicode scalar of
// the same number, which keeps the JSON valid UTF-8.
std::string characterString(uint8_t byte) {
    if (byte < 0x80) return std::string(1, static_cast<char>(byte));
    return {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
}

std::string_view kindName(ColumnKind kind) {
    switch (kind) {
    case ColumnKind::number:
        return "number";
    case ColumnKind::date:
        return "date";
    case ColumnKind::text:
        break;
    }
    return "text";
}

std::string_view warningKindName(ReadWarning::Kind kind) {
    switch (kind) {
    case ReadWarning::Kind::unclosedQuote:
        return "unclosedQuote";
    case ReadWarning::Kind::textAfterClosingQuote:
        return "textAfterClosingQuote";
    case ReadWarning::Kind::invalidUTF8:
        return "invalidUTF8";
    case ReadWarning::Kind::nulByte:
        return "nulByte";
    }
    return "unknown";
}

} // namespace

namespace {

void jsonInfo(const ReadResult& result, const std::vector<ColumnKind>& kinds) {
    const FileFormat& format = result.report.format;
    const CSVTable& table = result.table;
    JsonWriter out;
    out.raw("{\"encoding\":");
    out.string(rawValue(format.encoding));
    out.raw(",\"suggestedEncoding\":");
    if (result.report.suggestedEncoding)
        out.string(rawValue(*result.report.suggestedEncoding));
    else
        out.raw("null");
    out.raw(",\"bom\":");
    out.raw(format.hasBOM ? "true" : "false");
    out.raw(",\"sepLine\":");
    out.raw(format.hasSepLine ? "true" : "false");
    out.raw(",\"delimiter\":");
    out.string(characterString(format.dialect.delimiter));
    out.raw(",\"quote\":");
    if (format.dialect.quote)
        out.string(characterString(*format.dialect.quote));
    else
        out.raw("null");
    out.raw(",\"escape\":");
    out.string(rawValue(format.dialect.escape));
    out.raw(",\"lineEnding\":");
    out.string(rawValue(format.lineEnding));
    out.raw(",\"header\":");
    out.raw(format.hasHeader ? "true" : "false");
    out.raw(",\"trailingNewline\":");
    out.raw(format.hasTrailingNewline ? "true" : "false");
    out.raw(",\"confidence\":");
    out.number(result.report.confidence);
    out.raw(",\"rows\":");
    out.integer(table.rowCount());
    out.raw(",\"columns\":");
    out.integer(table.columnCount());
    out.raw(",\"raggedRows\":");
    out.integer(result.report.raggedRowCount);
    out.raw(",\"columnKinds\":[");
    for (size_t c = 0; c < kinds.size(); ++c) {
        if (c > 0) out.raw(',');
        out.string(kindName(kinds[c]));
    }
    out.raw("],\"warnings\":[");
    const std::vector<ReadWarning>& warnings = result.report.warnings;
    for (size_t i = 0; i < warnings.size(); ++i) {
        out.raw(i == 0 ? "{\"kind\":" : ",{\"kind\":");
        out.string(warningKindName(warnings[i].kind));
        out.raw(",\"row\":");
        out.integer(warnings[i].row);
        out.raw('}');
    }
    out.raw("]}\n");
    out.finish();
}

// A character as the options that force it spell it.
std::string characterWord(uint8_t byte) {
    if (byte == Byte::tab) return "tab";
    if (byte == Byte::space) return "space";
    return characterString(byte);
}

void textInfo(const ReadResult& result, const std::vector<ColumnKind>& kinds) {
    const FileFormat& format = result.report.format;
    const CSVTable& table = result.table;
    JsonWriter out;
    constexpr size_t keyWidth = sizeof "trailingNewline:"; // the longest key, and a space
    auto key = [&out](std::string_view name) {
        out.raw(name);
        out.raw(':');
        out.raw(std::string(name.size() + 1 < keyWidth ? keyWidth - name.size() - 1 : 1, ' '));
    };
    auto line = [&](std::string_view name, std::string_view value) {
        key(name);
        out.raw(value);
        out.raw('\n');
    };
    auto yesNo = [](bool value) { return value ? "yes" : "no"; };
    line("encoding", rawValue(format.encoding));
    if (result.report.suggestedEncoding)
        line("suggestedEncoding", rawValue(*result.report.suggestedEncoding));
    line("bom", yesNo(format.hasBOM));
    line("sepLine", yesNo(format.hasSepLine));
    line("delimiter", characterWord(format.dialect.delimiter));
    line("quote", format.dialect.quote ? characterWord(*format.dialect.quote) : "none");
    line("escape", rawValue(format.dialect.escape));
    line("lineEnding", rawValue(format.lineEnding));
    line("header", yesNo(format.hasHeader));
    line("trailingNewline", yesNo(format.hasTrailingNewline));
    line("confidence", JsonWriter::numberText(result.report.confidence));
    line("rows", std::to_string(table.rowCount()));
    line("columns", std::to_string(table.columnCount()));
    line("raggedRows", std::to_string(result.report.raggedRowCount));
    key("columnKinds");
    if (kinds.empty()) out.raw("none");
    for (size_t c = 0; c < kinds.size(); ++c) {
        if (c > 0) out.raw(", ");
        out.raw(kindName(kinds[c]));
    }
    out.raw('\n');
    key("warnings");
    const std::vector<ReadWarning>& warnings = result.report.warnings;
    if (warnings.empty()) out.raw("none\n");
    // One per line, under the first.
    for (size_t i = 0; i < warnings.size(); ++i) {
        if (i > 0) out.raw(std::string(keyWidth, ' '));
        out.raw(warningKindName(warnings[i].kind));
        out.raw(" in row ");
        out.integer(warnings[i].row);
        out.raw('\n');
    }
    out.finish();
}

} // namespace

void info(const ReadArguments& read, bool text) {
    const ReadResult result = readTable(read);
    const std::vector<ColumnKind> kinds = ColumnKindDetector::kinds(result.table, kindSampleRows);
    if (text)
        textInfo(result, kinds);
    else
        jsonInfo(result, kinds);
}

void cells(const ReadArguments& read) {
    const ReadResult result = readTable(read);
    const CSVTable& table = result.table;
    const int64_t rows = table.rowCount();
    const int64_t columns = table.columnCount();

    JsonWriter out;
    out.raw('[');
    for (int64_t r = 0; r < rows; ++r) {
        out.raw(r == 0 ? "\n[" : ",\n[");
        for (int64_t c = 0; c < columns; ++c) {
            if (c > 0) out.raw(',');
            out.string(table.value(r, c));
        }
        out.raw(']');
    }
    out.raw(rows == 0 ? "]\n" : "\n]\n");
    out.finish();
}

void convert(const ReadArguments& read, const WriteArguments& write) {
    OptionValues::checkWriteArguments(write);
    const ReadResult result = readTable(read);
    const FileFormat format = OptionValues::outputFormat(result.report.format, write);
    FileAccess::writeTable(write.output, result.table, format);
}

void find(const ReadArguments& read, const std::string& query, bool caseSensitive, bool regex) {
    std::optional<TableSearch::Regex> pattern;
    if (regex) pattern.emplace(query, caseSensitive);
    if (pattern && !pattern->isValid()) throw CliError::usage("QUERY: " + pattern->error());
    const ReadResult result = readTable(read);
    const std::vector<CellPosition> matches = pattern ? TableSearch::find(*pattern, result.table)
                                                      : TableSearch::find(query, result.table, caseSensitive);

    JsonWriter out;
    out.raw('[');
    for (size_t i = 0; i < matches.size(); ++i) {
        out.raw(i == 0 ? "[" : ",[");
        out.integer(matches[i].row);
        out.raw(',');
        out.integer(matches[i].column);
        out.raw(']');
    }
    out.raw("]\n");
    out.finish();
}

void filter(const ReadArguments& read, const WriteArguments& write, const FilterArguments& filter) {
    std::optional<TableSearch::Regex> pattern;
    if (filter.regex) pattern.emplace(filter.query, filter.caseSensitive);
    if (pattern && !pattern->isValid()) throw CliError::usage("QUERY: " + pattern->error());
    OptionValues::checkWriteArguments(write);
    ReadResult result = readTable(read);
    CSVTable& table = result.table;
    const FileFormat format = OptionValues::outputFormat(result.report.format, write);
    const std::vector<CellPosition> matches =
        pattern ? TableSearch::find(*pattern, table)
                : TableSearch::find(filter.query, table, filter.caseSensitive);
    // The data rows without a match, as ranges between the matching ones; removing them
    // keeps the others as the table's own rows.
    IndexSet dropped;
    int64_t next = table.firstDataRow();
    for (const CellPosition& match : matches) {
        if (match.row < next) continue;
        if (match.row > next) dropped.insert(IndexRange{next, match.row});
        next = match.row + 1;
    }
    if (next < table.rowCount()) dropped.insert(IndexRange{next, table.rowCount()});
    if (!dropped.empty()) table.apply(TableEdit::removeRows(std::move(dropped)));
    FileAccess::writeTable(write.output, table, format);
}

void sort(const ReadArguments& read, const WriteArguments& write, const SortArguments& sort) {
    // Options are checked before the file is read, so a typo costs no reading time.
    std::optional<SortKind> kind;
    if (sort.kind) {
        kind = sortKindFromRawValue(*sort.kind);
        if (!kind)
            throw CliError::usage("--kind: give \"number\", \"text\", \"natural\" or \"date\", not \"" +
                                  *sort.kind + "\"");
    }
    OptionValues::checkWriteArguments(write);
    ReadResult result = readTable(read);
    CSVTable& table = result.table;
    const FileFormat format = OptionValues::outputFormat(result.report.format, write);
    // A file without rows has nothing to order: it is written as it is, whatever the column.
    if (sort.column < 0 || (table.rowCount() > 0 && sort.column >= table.columnCount()))
        throw CliError::usage("--column: " + std::to_string(sort.column) +
                              " is out of range: " + FileAccess::displayName(read.file, false) + " has " +
                              std::to_string(table.columnCount()) +
                              (table.columnCount() == 1 ? " column" : " columns") + ", numbered from 0");
    if (table.rowCount() > 0) {
        // Without --kind a column sorts as the editor's plain sort does: numbers as numbers,
        // anything else (dates included) as text.
        if (!kind)
            kind = ColumnKindDetector::kinds(table, kindSampleRows)[static_cast<size_t>(sort.column)] ==
                           ColumnKind::number
                       ? SortKind::number
                       : SortKind::text;
        table.apply(
            TableEdit::reorderRows(TableSorter::permutation(table, sort.column, !sort.descending, *kind)));
    }
    FileAccess::writeTable(write.output, table, format);
}

} // namespace zarvel::Commands
