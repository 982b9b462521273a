// TableEdit: every change to a CSVTable, as a value. CSVTable::apply(edit) changes the
// table and returns the edit that undoes it exactly; undo and redo are nothing but
// applying inverses.
//
// Inverses never copy the whole table: removed rows come back as the same RowRefs,
// reverted cells give their rows back to the source, and removed columns carry only the
// strings of copied-out rows. An inverse is valid only for the table state its own
// application produced (the undo stack applies them in reverse order).
#pragma once

#include "core/CSVTable.h"
#include "core/FileFormat.h"
#include "core/IndexSet.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace zarvel {

struct CellChange {
    int64_t row = 0; // stored row
    int64_t column = 0;
    std::string value;
    bool operator==(const CellChange&) const = default;
};

struct CellRevert {
    struct RowRefRestore {
        int64_t row = 0;
        RowRef ref;
        bool operator==(const RowRefRestore&) const = default;
    };
    std::vector<CellChange> changes;    // written in this order
    std::vector<RowRefRestore> rowRefs; // put back after writing
    bool operator==(const CellRevert&) const = default;
};

struct RowBlock {
    struct Refs {
        std::vector<RowRef> refs;
        bool operator==(const Refs&) const = default;
    };
    struct Values {
        StringRows rows;
        bool operator==(const Values&) const = default;
    };
    using Payload = std::variant<Refs, Values>;

    IndexSet positions; // stored row positions after the insertion
    Payload payload;

    // New rows of strings at at ..< at + rows.size().
    static RowBlock fromRows(StringRows rows, int64_t at);
    // `count` blank rows at at ..< at + count.
    static RowBlock empty(int64_t count, int64_t at);
    bool operator==(const RowBlock&) const = default;
};

struct ColumnBlock {
    std::vector<int64_t> positions; // applied one after another
    std::vector<int32_t> mapping;   // one columnMap value per position (-1: no source field)
    // One entry per position, each indexed by editedRows entry number. Entry numbers hold
    // only for the table state the block was recorded from (the inverse of a removal);
    // a new column carries no values and reads empty in every copied-out row.
    std::vector<std::vector<std::string>> values;

    static ColumnBlock empty(int64_t count, int64_t at);
    bool operator==(const ColumnBlock&) const = default;
};

struct Permutation {
    std::vector<int64_t> order; // entry i: old position of the item that goes to position i

    // Moves the items at `positions` (as a block, in ascending order) to `destination`
    // in a list of `count` items.
    static Permutation moving(const IndexSet& positions, int64_t destination, int64_t count);
    Permutation inverse() const;
    bool isIdentity() const;
    bool operator==(const Permutation&) const = default;
};

struct TableEdit {
    struct SetCells {
        std::vector<CellChange> changes;
        bool operator==(const SetCells&) const = default;
    };
    struct RevertCells {
        CellRevert revert;
        bool operator==(const RevertCells&) const = default;
    };
    struct InsertRows {
        RowBlock block;
        bool operator==(const InsertRows&) const = default;
    };
    struct RemoveRows {
        IndexSet positions;
        bool operator==(const RemoveRows&) const = default;
    };
    struct InsertColumns {
        ColumnBlock block;
        bool operator==(const InsertColumns&) const = default;
    };
    struct RemoveColumns {
        IndexSet positions;
        bool operator==(const RemoveColumns&) const = default;
    };
    struct ReorderRows {
        Permutation permutation;
        bool operator==(const ReorderRows&) const = default;
    };
    struct ReorderColumns {
        Permutation permutation;
        bool operator==(const ReorderColumns&) const = default;
    };
    struct SetFormat {
        FileFormat format;
        bool operator==(const SetFormat&) const = default;
    };
    struct ReplaceTable {
        CSVTable table;
        // Tables compare by identity of content only in tests; edits of this case are equal
        // when they are the same case.
        bool operator==(const ReplaceTable&) const { return true; }
    };
    struct Batch {
        std::vector<TableEdit> edits;
        bool operator==(const Batch& other) const;
    };

    using Case = std::variant<SetCells, RevertCells, InsertRows, RemoveRows, InsertColumns, RemoveColumns,
                              ReorderRows, ReorderColumns, SetFormat, ReplaceTable, Batch>;
    Case value;

    static TableEdit setCells(std::vector<CellChange> changes) { return {SetCells{std::move(changes)}}; }
    static TableEdit revertCells(CellRevert revert) { return {RevertCells{std::move(revert)}}; }
    static TableEdit insertRows(RowBlock block) { return {InsertRows{std::move(block)}}; }
    static TableEdit removeRows(IndexSet positions) { return {RemoveRows{std::move(positions)}}; }
    static TableEdit insertColumns(ColumnBlock block) { return {InsertColumns{std::move(block)}}; }
    static TableEdit removeColumns(IndexSet positions) { return {RemoveColumns{std::move(positions)}}; }
    static TableEdit reorderRows(Permutation p) { return {ReorderRows{std::move(p)}}; }
    static TableEdit reorderColumns(Permutation p) { return {ReorderColumns{std::move(p)}}; }
    static TableEdit setFormat(FileFormat f) { return {SetFormat{f}}; }
    static TableEdit replaceTable(CSVTable t) { return {ReplaceTable{std::move(t)}}; }
    static TableEdit batch(std::vector<TableEdit> edits) { return {Batch{std::move(edits)}}; }

    bool operator==(const TableEdit&) const = default;
};

inline bool TableEdit::Batch::operator==(const Batch& other) const {
    return edits == other.edits;
}

} // namespace zarvel
