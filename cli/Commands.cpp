#include "cli/Commands.h"

#include "cli/CliError.h"
#include "cli/FileAccess.h"
#include "cli/JsonWriter.h"
#include "core/CSVWriter.h"
#include "core/ColumnKindDetector.h"
#include "core/TableEdit.h"
#include "core/TableSearch.h"
#include "core/TableSorter.h"

#include <iostream>
#include <nlohmann/json.hpp>

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
    return kind == ColumnKind::number ? "number" : "text";
}

std::string_view warningKindName(ReadWarning::Kind kind) {
    switch (kind) {
    case ReadWarning::Kind::unclosedQuote: return "unclosedQuote";
    case ReadWarning::Kind::textAfterClosingQuote: return "textAfterClosingQuote";
    case ReadWarning::Kind::invalidUTF8: return "invalidUTF8";
    case ReadWarning::Kind::nulByte: return "nulByte";
    }
    return "unknown";
}


} // namespace

void info(const ReadArguments& read) {
    const ReadResult result = readTable(read);
    const FileFormat& format = result.report.format;
    const CSVTable& table = result.table;

    nlohmann::ordered_json kinds = nlohmann::ordered_json::array();
    for (const ColumnKind kind : ColumnKindDetector::kinds(table, kindSampleRows))
        kinds.push_back(kindName(kind));
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const ReadWarning& warning : result.report.warnings)
        warnings.push_back({{"kind", warningKindName(warning.kind)}, {"row", warning.row}});

    nlohmann::ordered_json j;
    j["encoding"] = rawValue(format.encoding);
    j["bom"] = format.hasBOM;
    j["sepLine"] = format.hasSepLine;
    j["delimiter"] = characterString(format.dialect.delimiter);
    j["quote"] =
        format.dialect.quote ? nlohmann::ordered_json(characterString(*format.dialect.quote)) : nullptr;
    j["escape"] = rawValue(format.dialect.escape);
    j["lineEnding"] = rawValue(format.lineEnding);
    j["header"] = format.hasHeader;
    j["trailingNewline"] = format.hasTrailingNewline;
    j["confidence"] = result.report.confidence;
    j["rows"] = table.rowCount();
    j["columns"] = table.columnCount();
    j["raggedRows"] = result.report.raggedRowCount;
    j["columnKinds"] = std::move(kinds);
    j["warnings"] = std::move(warnings);

    JsonWriter out;
    out.raw(j.dump());
    out.raw('\n');
    out.finish();
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

void find(const ReadArguments& read, const std::string& query, bool caseSensitive) {
    const ReadResult result = readTable(read);
    const std::vector<CellPosition> matches = TableSearch::find(query, result.table, caseSensitive);

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

void sort(const ReadArguments& read, const WriteArguments& write, const SortArguments& sort) {
    // Options are checked before the file is read, so a typo costs no reading time.
    std::optional<ColumnKind> kind;
    if (sort.kind) {
        if (*sort.kind == "number")
            kind = ColumnKind::number;
        else if (*sort.kind == "text")
            kind = ColumnKind::text;
        else
            throw CliError::usage("--kind: give \"number\" or \"text\", not \"" + *sort.kind + "\"");
    }
    OptionValues::checkWriteArguments(write);
    ReadResult result = readTable(read);
    CSVTable& table = result.table;
    const FileFormat format = OptionValues::outputFormat(result.report.format, write);
    // A file without rows has nothing to order: it is written as it is, whatever the column.
    if (sort.column < 0 || (table.rowCount() > 0 && sort.column >= table.columnCount()))
        throw CliError::usage("--column: " + std::to_string(sort.column) + " is out of range: " + read.file +
                              " has " + std::to_string(table.columnCount()) +
                              (table.columnCount() == 1 ? " column" : " columns") + ", numbered from 0");
    if (table.rowCount() > 0) {
        if (!kind) kind = ColumnKindDetector::kinds(table, kindSampleRows)[static_cast<size_t>(sort.column)];
        table.apply(TableEdit::reorderRows(TableSorter::permutation(table, sort.column, !sort.descending, *kind)));
    }
    FileAccess::writeTable(write.output, table, format);
}

} // namespace zarvel::Commands
