// TableEdit: every change to a CSVTable, as a value. CSVTable::apply(edit) changes the
// table and returns the edit that undoes it exactly; undo and redo are nothing but
// applying inverses.
//
// Inverses never copy the whole table: removed rows come back as the same RowRefs,
// rows whose cells were written point back at what they showed before, a reordering
// shares its order with its inverse, and removed columns carry only the strings of
// copied-out rows. An inverse is valid only for the table state its own application
// produced (the undo stack applies them in reverse order).
#pragma once

#include "core/CSVTable.h"
#include "core/CellPosition.h"
#include "core/FileFormat.h"
#include "core/IndexSet.h"

#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace zarvel {

struct CellChange {
    int64_t row = 0; // stored row
    int64_t column = 0;
    std::string value;
    bool operator==(const CellChange&) const = default;
};

// A stored row pointed at other data: a source row, or a copied-out entry. A cell edit
// copies each row it writes into a new entry and never rewrites an older one, so its
// inverse only points the rows back at what they showed, and that inverse's inverse
// points them at the new entries again: undo and redo never unpack or pack a row.
struct RowRefChange {
    int64_t row = 0;
    RowRef ref;
    bool operator==(const RowRefChange&) const = default;
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

// A reordering of a list. The order is shared, never changed, and read either way:
// inverse() only flips the direction, so a sort of millions of rows, its undo and its
// redo hold one list of 4 bytes per row between them, and each turn is one pass.
class Permutation {
public:
    Permutation() = default;
    // Entry i: the old position of the item that goes to position i.
    Permutation(std::vector<uint32_t> order);

    // Moves the items at `positions` (as a block, in ascending order) to `destination`
    // in a list of `count` items.
    static Permutation moving(const IndexSet& positions, int64_t destination, int64_t count);
    Permutation inverse() const;
    bool isIdentity() const;
    size_t size() const { return order_ ? order_->size() : 0; }
    // Entry i: the old position of the item that goes to position i.
    std::vector<int64_t> order() const;

    // The items in their new order, in one pass over the list: moved out of a list the
    // caller may change, copied from a const one.
    template <class Items> std::remove_const_t<Items> applied(Items& items) const;

    // Equal when they reorder alike, whichever way each is stored.
    bool operator==(const Permutation& other) const;

private:
    std::shared_ptr<const std::vector<uint32_t>> order_;
    bool inverted_ = false; // read as the inverse of order_
};

struct TableEdit {
    struct SetCells {
        std::vector<CellChange> changes;
        bool operator==(const SetCells&) const = default;
    };
    struct SetRowRefs {
        std::vector<RowRefChange> changes; // applied from the last to the first
        // The cells the rows' two states differ in, when known (the cells a cell edit
        // wrote; shared by the edit and its inverse): what the recovery journal writes
        // out in place of the storage the rows point at.
        std::shared_ptr<const std::vector<CellPosition>> cells;
        bool operator==(const SetRowRefs& other) const;
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

    using Case = std::variant<SetCells, SetRowRefs, InsertRows, RemoveRows, InsertColumns, RemoveColumns,
                              ReorderRows, ReorderColumns, SetFormat, ReplaceTable, Batch>;
    Case value;

    static TableEdit setCells(std::vector<CellChange> changes) { return {SetCells{std::move(changes)}}; }
    static TableEdit setRowRefs(std::vector<RowRefChange> changes,
                                std::shared_ptr<const std::vector<CellPosition>> cells = nullptr) {
        return {SetRowRefs{std::move(changes), std::move(cells)}};
    }
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

inline bool TableEdit::SetRowRefs::operator==(const SetRowRefs& other) const {
    if (changes != other.changes || !cells != !other.cells) return false;
    return cells == other.cells || *cells == *other.cells;
}

template <class Items> std::remove_const_t<Items> Permutation::applied(Items& items) const {
    assert(items.size() == size());
    std::remove_const_t<Items> out(items.size());
    if (!order_) return out;
    const std::vector<uint32_t>& order = *order_;
    // Reading the order forwards gathers, reading it inverted scatters: either way one
    // sequential pass, and no inverse is ever worked out.
    if (inverted_)
        for (size_t i = 0; i < order.size(); ++i)
            out[order[i]] = std::move(items[i]);
    else
        for (size_t i = 0; i < order.size(); ++i)
            out[i] = std::move(items[order[i]]);
    return out;
}

} // namespace zarvel
