// CSVTable: the table every part reads and every edit changes.
//
// The table keeps a file's text as one shared UTF-8 buffer (`source`) plus the
// FieldIndex of its fields, and decodes a cell only when it is read. Two small
// indirection arrays reach the source: `rows` (one RowRef per stored row) and
// `columnMap` (one source field number per column, -1 for a column without one).
// A row that a cell edit writes is copied out (`editedRows`, packed: see PackedRow) into
// an entry of its own; a later cell edit copies it again rather than rewrite that entry,
// so that undoing it only points the row back at the old one (see TableEdit).
//
// A table is a value. Copies share the buffer, the index and the arrays until one side
// is written, so copying for a save snapshot or a background search costs no bytes and
// no strings, and a copy never sees later changes. Reads never change a table, so any
// number of threads may read copies of one table at once.
//
// Row numbers are stored rows (row 0 is the header row when the format has a header
// and the table has rows); column numbers are display columns. Out-of-range indices
// are a caller error (asserted in debug builds).
#pragma once

#include "core/ByteBuffer.h"
#include "core/CSVDialect.h"
#include "core/CopyOnWrite.h"
#include "core/FieldIndexer.h"
#include "core/FileFormat.h"
#include "core/IndexRange.h"
#include "core/PackedRow.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zarvel {

struct TableEdit;

// Which data a stored row shows: source row n of the index, or entry n of editedRows.
struct RowRef {
    struct Original {
        uint32_t n;
        bool operator==(const Original&) const = default;
    };
    struct Edited {
        uint32_t n;
        bool operator==(const Edited&) const = default;
    };
    std::variant<Original, Edited> value;

    static RowRef original(uint32_t n) { return RowRef{Original{n}}; }
    static RowRef edited(uint32_t n) { return RowRef{Edited{n}}; }
    bool isOriginal() const { return value.index() == 0; }
    bool isEdited() const { return value.index() == 1; }
    uint32_t number() const { return isOriginal() ? std::get<0>(value).n : std::get<1>(value).n; }
    bool operator==(const RowRef&) const = default;
};

// One RowRef per stored row, on huge pages: a sort and its undo reach all over the list,
// and with small pages nearly every step would miss the address cache.
using RowList = HugePageVector<RowRef>;

using StringRow = std::vector<std::string>;
using StringRows = std::vector<StringRow>;

class CSVTable {
public:
    // A table with no rows and no columns in the standard format.
    CSVTable();
    // The reader's table: every source row in order, columns 0 ..< maxFieldCount.
    CSVTable(SharedBytes source, FieldIndex index, const FileFormat& format);
    // A table of strings (new documents, the clipboard): rows padded to the widest row.
    CSVTable(StringRows rows, const FileFormat& format);

    // Counts.
    int64_t rowCount() const { return static_cast<int64_t>(rows_->size()); }
    int64_t firstDataRow() const { return format_.hasHeader && rowCount() > 0 ? 1 : 0; }
    int64_t dataRowCount() const { return rowCount() - firstDataRow(); }
    int64_t columnCount() const { return static_cast<int64_t>(columnMap_->size()); }
    const FileFormat& format() const { return format_; }
    int64_t revision() const { return revision_; }

    // Reads.
    [[nodiscard]] std::string value(int64_t row, int64_t column) const;
    // The cell a RowRef shows in a column (see values(const RowRef&)).
    [[nodiscard]] std::string value(const RowRef& ref, int64_t column) const;
    [[nodiscard]] StringRow values(int64_t row) const;
    // The cells a RowRef shows: a stored row's, or one an edit's inverse points at.
    [[nodiscard]] StringRow values(const RowRef& ref) const;
    [[nodiscard]] StringRows allRows() const;
    // Single-line texts for drawing: tab as a space, line breaks as U+23CE, cut to
    // `maxBytes` with "…" appended when something was left out.
    [[nodiscard]] StringRows displayValues(IndexRange rows, IndexRange columns, size_t maxBytes) const;
    [[nodiscard]] std::string columnTitle(int64_t column) const;
    // "A", "Z", "AA", …; empty for a negative n.
    static std::string columnLetters(int64_t n);
    [[nodiscard]] bool columnsMatchSource() const;

    // The editedRows entry of a stored row, copying the row out on first use.
    uint32_t materializeRow(int64_t row);
    // Changes the table and returns the exact inverse edit. Raises `revision`.
    TableEdit apply(const TableEdit& edit);

    // Storage, for the writer, the search and the edits. These are views into the table:
    // not offered on a temporary table, whose storage may die with it.
    const SharedBytes& source() const& { return source_; }
    const SharedBytes& source() const&& = delete;
    const FieldIndex& index() const& { return *index_; }
    const FieldIndex& index() const&& = delete;
    const CSVDialect& sourceDialect() const { return sourceDialect_; }
    const RowList& rows() const& { return *rows_; }
    const RowList& rows() const&& = delete;
    const RowRef& rowRef(int64_t row) const& { return (*rows_)[row]; }
    const RowRef& rowRef(int64_t row) const&& = delete;
    const std::vector<int32_t>& columnMap() const& { return *columnMap_; }
    const std::vector<int32_t>& columnMap() const&& = delete;
    size_t editedRowCount() const { return editedRows_->size(); }
    const PackedRow& editedRow(size_t entry) const& { return *(*editedRows_)[entry]; }
    const PackedRow& editedRow(size_t entry) const&& = delete;
    // The bytes of a source row from its first field to its content end.
    [[nodiscard]] std::string_view sourceRowBytes(uint32_t sourceRow) const&;
    std::string_view sourceRowBytes(uint32_t sourceRow) const&& = delete;
    // The bytes of source field `field` of a source row; empty view when it has none.
    [[nodiscard]] std::string_view sourceFieldBytes(uint32_t sourceRow, int64_t field) const&;
    std::string_view sourceFieldBytes(uint32_t sourceRow, int64_t field) const&& = delete;

    // Used by the reader before it hands the table out; not an edit.
    void setHeaderDetected(bool hasHeader) { format_.hasHeader = hasHeader; }

private:
    friend struct TableEditApplier;

    SharedBytes source_;
    std::shared_ptr<const FieldIndex> index_;
    CSVDialect sourceDialect_;
    CopyOnWrite<RowList> rows_;
    CopyOnWrite<std::vector<int32_t>> columnMap_;
    // Each entry is shared too, so copying the list copies pointers, not rows.
    CopyOnWrite<std::vector<CopyOnWrite<PackedRow>>> editedRows_;
    FileFormat format_;
    int64_t revision_ = 0;
};

} // namespace zarvel
