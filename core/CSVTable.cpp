#include "core/CSVTable.h"

#include "core/UTF8.h"

#include <cassert>

namespace zarvel {

namespace {

constexpr std::string_view returnSymbol = "\xE2\x8F\x8E"; // U+23CE
constexpr std::string_view ellipsis = "\xE2\x80\xA6";     // U+2026

std::shared_ptr<const FieldIndex> emptyIndex() {
    static const auto empty = std::make_shared<const FieldIndex>();
    return empty;
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Display form of an edited text: cut to `maxBytes` on a character boundary, then tabs
// and line breaks made visible on one line.
std::string displayEditedText(std::string_view text, size_t maxBytes) {
    std::string_view t = text;
    bool truncated = false;
    if (t.size() > maxBytes) {
        size_t cut = maxBytes;
        while (cut > 0 && (static_cast<uint8_t>(t[cut]) & 0xC0) == 0x80)
            --cut;
        t = t.substr(0, cut);
        truncated = true;
    }
    bool special = false;
    for (char c : t) {
        const auto b = static_cast<uint8_t>(c);
        if (b == '\t' || (b >= 0x0A && b <= 0x0D) || b == 0xC2 || b == 0xE2) {
            special = true;
            break;
        }
    }
    std::string out;
    if (!special) {
        out.assign(t);
    } else {
        out.reserve(t.size() + 8);
        size_t pos = 0;
        while (pos < t.size()) {
            const size_t at = pos;
            const char32_t c = UTF8::decodeNext(t, pos);
            if (c == '\t') {
                out.push_back(' ');
            } else if (isLineBreak(c)) {
                if (c == '\r' && pos < t.size() && t[pos] == '\n') ++pos; // CR LF is one character
                out.append(returnSymbol);
            } else {
                out.append(t.substr(at, pos - at));
            }
        }
    }
    if (truncated) out.append(ellipsis);
    return out;
}

// Display form of a source field's bytes (the whole field, quotes included).
std::string displaySourceField(std::string_view field, const CSVDialect& dialect, size_t maxBytes) {
    const bool quoted = FieldIndexer::isQuotedField(field, dialect);
    bool truncated = false;
    std::string_view part = field;
    if (maxBytes < field.size()) {
        size_t cut = maxBytes;
        while (cut > 0 && (static_cast<uint8_t>(field[cut]) & 0xC0) == 0x80)
            --cut;
        part = field.substr(0, cut);
        truncated = true;
    }
    if (!quoted && !truncated) {
        bool plain = true;
        for (char c : part) {
            if (c == '\t' || c == '\n' || c == '\r') {
                plain = false;
                break;
            }
        }
        if (plain) return UTF8::repaired(part);
    }
    std::string buffer;
    buffer.reserve(3 * part.size() + 3);
    // Tabs and line breaks made visible; a CR LF pair is one line break.
    bool afterCR = false;
    auto show = [&](char c) {
        const bool pairedLF = afterCR && c == '\n';
        afterCR = c == '\r';
        if (pairedLF) return;
        if (c == '\t')
            buffer.push_back(' ');
        else if (c == '\n' || c == '\r')
            buffer.append(returnSymbol);
        else
            buffer.push_back(c);
    };
    if (!quoted) {
        for (char c : part)
            show(c);
    } else {
        // A truncated field has lost its closing quote, so nothing is dropped at its end.
        const size_t end = truncated ? part.size() : part.size() - 1;
        FieldIndexer::unquote(part.substr(std::min<size_t>(1, end), end - std::min<size_t>(1, end)), dialect,
                              show);
    }
    if (truncated) buffer.append(ellipsis);
    if (UTF8::isValid(buffer)) return buffer;
    return UTF8::repaired(buffer);
}

} // namespace

CSVTable::CSVTable() : index_(emptyIndex()), sourceDialect_(FileFormat::standard().dialect) {}

CSVTable::CSVTable(SharedBytes source, FieldIndex index, const FileFormat& format)
    : source_(std::move(source)), sourceDialect_(format.dialect), format_(format) {
    const int64_t rowCount = index.rowCount();
    assert(rowCount <= int64_t{UINT32_MAX});
    RowList rows;
    rows.reserve(static_cast<size_t>(rowCount));
    for (int64_t r = 0; r < rowCount; ++r)
        rows.push_back(RowRef::original(static_cast<uint32_t>(r)));
    std::vector<int32_t> columnMap(static_cast<size_t>(index.maxFieldCount));
    for (size_t i = 0; i < columnMap.size(); ++i)
        columnMap[i] = static_cast<int32_t>(i);
    index_ = std::make_shared<const FieldIndex>(std::move(index));
    rows_ = CopyOnWrite<RowList>(std::move(rows));
    columnMap_ = CopyOnWrite<std::vector<int32_t>>(std::move(columnMap));
}

CSVTable::CSVTable(StringRows rows, const FileFormat& format)
    : index_(emptyIndex()), sourceDialect_(format.dialect), format_(format) {
    size_t width = 0;
    for (const auto& row : rows)
        width = std::max(width, row.size());
    std::vector<CopyOnWrite<PackedRow>> edited;
    edited.reserve(rows.size());
    RowList refs;
    refs.reserve(rows.size());
    for (auto& row : rows) {
        row.resize(width);
        refs.push_back(RowRef::edited(static_cast<uint32_t>(edited.size())));
        edited.emplace_back(PackedRow(row));
    }
    rows_ = CopyOnWrite<RowList>(std::move(refs));
    columnMap_ = CopyOnWrite<std::vector<int32_t>>(std::vector<int32_t>(width, -1));
    editedRows_ = CopyOnWrite<std::vector<CopyOnWrite<PackedRow>>>(std::move(edited));
}

std::string_view CSVTable::sourceRowBytes(uint32_t sourceRow) const& {
    const auto [start, end] = index_->rowRange(sourceRow);
    return source_.view().substr(start, end - start);
}

std::string_view CSVTable::sourceFieldBytes(uint32_t sourceRow, int64_t field) const& {
    if (field < 0 || field >= index_->fieldCount(sourceRow)) return {};
    const auto [start, end] = index_->fieldRange(sourceRow, field);
    return source_.view().substr(start, end - start);
}

std::string CSVTable::value(int64_t row, int64_t column) const {
    assert(row >= 0 && row < rowCount());
    return value((*rows_)[static_cast<size_t>(row)], column);
}

std::string CSVTable::value(const RowRef& ref, int64_t column) const {
    assert(column >= 0 && column < columnCount());
    if (ref.isEdited()) return std::string((*(*editedRows_)[ref.number()])[static_cast<size_t>(column)]);
    const int32_t field = (*columnMap_)[static_cast<size_t>(column)];
    if (field < 0) return {};
    return FieldIndexer::fieldValue(sourceFieldBytes(ref.number(), field), sourceDialect_);
}

StringRow CSVTable::values(int64_t row) const {
    return values((*rows_)[static_cast<size_t>(row)]);
}

StringRow CSVTable::values(const RowRef& ref) const {
    if (ref.isEdited()) return (*editedRows_)[ref.number()]->strings();
    StringRow out(static_cast<size_t>(columnCount()));
    for (size_t c = 0; c < out.size(); ++c) {
        const int32_t field = (*columnMap_)[c];
        if (field >= 0)
            out[c] = FieldIndexer::fieldValue(sourceFieldBytes(ref.number(), field), sourceDialect_);
    }
    return out;
}

StringRows CSVTable::allRows() const {
    StringRows out;
    out.reserve(static_cast<size_t>(rowCount()));
    for (int64_t r = 0; r < rowCount(); ++r)
        out.push_back(values(r));
    return out;
}

StringRows CSVTable::displayValues(IndexRange rows, IndexRange columns, size_t maxBytes) const {
    rows = rows.clamped(0, rowCount());
    columns = columns.clamped(0, columnCount());
    StringRows out;
    out.reserve(static_cast<size_t>(rows.count()));
    for (int64_t r = rows.lower; r < rows.upper; ++r) {
        StringRow line;
        line.reserve(static_cast<size_t>(columns.count()));
        const RowRef& ref = (*rows_)[static_cast<size_t>(r)];
        for (int64_t c = columns.lower; c < columns.upper; ++c) {
            if (ref.isEdited()) {
                line.push_back(
                    displayEditedText((*(*editedRows_)[ref.number()])[static_cast<size_t>(c)], maxBytes));
                continue;
            }
            const int32_t field = (*columnMap_)[static_cast<size_t>(c)];
            if (field < 0 || field >= index_->fieldCount(ref.number())) {
                line.emplace_back();
                continue;
            }
            line.push_back(
                displaySourceField(sourceFieldBytes(ref.number(), field), sourceDialect_, maxBytes));
        }
        out.push_back(std::move(line));
    }
    return out;
}

std::string CSVTable::columnTitle(int64_t column) const {
    return firstDataRow() == 1 ? value(0, column) : columnLetters(column);
}

std::string CSVTable::columnLetters(int64_t n) {
    if (n < 0) return {};
    std::string letters;
    int64_t k = n + 1;
    while (k > 0) {
        k -= 1;
        letters.insert(letters.begin(), static_cast<char>('A' + k % 26));
        k /= 26;
    }
    return letters;
}

bool CSVTable::columnsMatchSource() const {
    const auto& map = *columnMap_;
    if (static_cast<int64_t>(map.size()) != index_->maxFieldCount) return false;
    for (size_t i = 0; i < map.size(); ++i)
        if (map[i] != static_cast<int32_t>(i)) return false;
    return true;
}

uint32_t CSVTable::materializeRow(int64_t row) {
    const RowRef ref = (*rows_)[static_cast<size_t>(row)];
    if (ref.isEdited()) return ref.number();
    StringRow copied = values(row);
    auto& edited = editedRows_.write();
    assert(edited.size() < UINT32_MAX);
    const auto k = static_cast<uint32_t>(edited.size());
    edited.emplace_back(PackedRow(copied));
    rows_.write()[static_cast<size_t>(row)] = RowRef::edited(k);
    return k;
}

} // namespace zarvel
