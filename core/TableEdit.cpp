#include "core/TableEdit.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <utility>

namespace zarvel {

RowBlock RowBlock::fromRows(StringRows rows, int64_t at) {
    const auto n = static_cast<int64_t>(rows.size());
    RowBlock block;
    if (n > 0) block.positions = IndexSet(IndexRange{at, at + n});
    block.payload = Values{std::move(rows)};
    return block;
}

RowBlock RowBlock::empty(int64_t count, int64_t at) {
    return fromRows(StringRows(static_cast<size_t>(std::max<int64_t>(count, 0))), at);
}

ColumnBlock ColumnBlock::empty(int64_t count, int64_t at) {
    ColumnBlock block;
    for (int64_t i = 0; i < count; ++i) {
        block.positions.push_back(at + i);
        block.mapping.push_back(-1);
    }
    return block;
}

Permutation::Permutation(std::vector<uint32_t> order)
    : order_(std::make_shared<const std::vector<uint32_t>>(std::move(order))) {}

Permutation Permutation::moving(const IndexSet& positions, int64_t destination, int64_t count) {
    std::vector<uint32_t> remaining;
    remaining.reserve(static_cast<size_t>(std::max<int64_t>(count, 0)));
    for (int64_t i = 0; i < count; ++i)
        if (!positions.contains(i)) remaining.push_back(static_cast<uint32_t>(i));
    const int64_t before = positions.countBelow(destination);
    const int64_t insertAt =
        std::min(static_cast<int64_t>(remaining.size()), std::max<int64_t>(destination - before, 0));
    std::vector<uint32_t> moved;
    positions.forEach([&](int64_t p) {
        if (p < count) moved.push_back(static_cast<uint32_t>(p));
    });
    remaining.insert(remaining.begin() + insertAt, moved.begin(), moved.end());
    return Permutation(std::move(remaining));
}

Permutation Permutation::inverse() const {
    Permutation p = *this;
    p.inverted_ = !inverted_;
    return p;
}

bool Permutation::isIdentity() const {
    // The identity is its own inverse, whichever way it is read.
    for (size_t i = 0; i < size(); ++i)
        if ((*order_)[i] != i) return false;
    return true;
}

std::vector<int64_t> Permutation::order() const {
    std::vector<int64_t> out(size());
    for (size_t i = 0; i < size(); ++i) {
        const uint32_t v = (*order_)[i];
        if (inverted_)
            out[v] = static_cast<int64_t>(i);
        else
            out[i] = v;
    }
    return out;
}

bool Permutation::operator==(const Permutation& other) const {
    if (order_ == other.order_ && inverted_ == other.inverted_) return true;
    return order() == other.order();
}

// Carries out each edit case on a table's private storage. Every function returns the
// inverse; CSVTable::apply raises the revision afterwards.
struct TableEditApplier {
    using EditedRows = std::vector<CopyOnWrite<PackedRow>>;

    static TableEdit apply(CSVTable& t, const TableEdit& edit) {
        if (const auto* replace = std::get_if<TableEdit::ReplaceTable>(&edit.value))
            return replaceTable(t, *replace);
        TableEdit inverse = std::visit([&t](const auto& e) { return applyCase(t, e); }, edit.value);
        ++t.revision_;
        return inverse;
    }

    // The new table continues the old one's revisions; the returned old table keeps its own.
    static TableEdit replaceTable(CSVTable& t, const TableEdit::ReplaceTable& e) {
        CSVTable old = e.table;
        std::swap(old, t);
        t.revision_ = old.revision_ + 1;
        return TableEdit::replaceTable(std::move(old));
    }

    static PackedRow& entry(CSVTable& t, uint32_t k) { return t.editedRows_.write()[k].write(); }

    static uint32_t appendEditedRow(CSVTable& t, const StringRow& row) {
        EditedRows& rows = t.editedRows_.write();
        assert(rows.size() < std::numeric_limits<uint32_t>::max());
        rows.emplace_back(PackedRow(row));
        return static_cast<uint32_t>(rows.size() - 1);
    }

    // Writes `changes` in order and returns the rows' earlier RowRefs. Each row written is
    // unpacked and packed once per run of changes to it (a pasted block's row), into an
    // entry of its own: a row still in the source is decoded straight into its copy, and
    // a row copied out before keeps its old entry untouched for the inverse to point at.
    static TableEdit applyCase(CSVTable& t, const TableEdit::SetCells& e) {
        const std::vector<CellChange>& changes = e.changes;
        const size_t ownEntries = t.editedRows_->size(); // entries from here on are this edit's
        std::vector<RowRefChange> earlier;
        auto cells = std::make_shared<std::vector<CellPosition>>();
        cells->reserve(changes.size());
        for (const CellChange& c : changes)
            cells->push_back({c.row, c.column});
        for (size_t i = 0; i < changes.size();) {
            const int64_t row = changes[i].row;
            const RowRef ref = t.rowRef(row);
            StringRow cells = t.values(row);
            for (; i < changes.size() && changes[i].row == row; ++i)
                cells[static_cast<size_t>(changes[i].column)] = changes[i].value;
            if (ref.isEdited() && ref.number() >= ownEntries) {
                entry(t, ref.number()).assign(cells); // written earlier in this edit
            } else {
                earlier.push_back({row, ref});
                const uint32_t k = appendEditedRow(t, cells);
                t.rows_.write()[static_cast<size_t>(row)] = RowRef::edited(k);
            }
        }
        return TableEdit::setRowRefs(std::move(earlier), std::move(cells));
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::SetRowRefs& e) {
        std::vector<RowRefChange> current;
        current.reserve(e.changes.size());
        if (!e.changes.empty()) {
            RowList& rows = t.rows_.write();
            for (auto c = e.changes.rbegin(); c != e.changes.rend(); ++c)
                current.push_back({c->row, std::exchange(rows[static_cast<size_t>(c->row)], c->ref)});
        }
        return TableEdit::setRowRefs(std::move(current), e.cells);
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::InsertRows& e) {
        const RowBlock& block = e.block;
        std::vector<RowRef> added;
        if (const auto* refs = std::get_if<RowBlock::Refs>(&block.payload)) {
            added = refs->refs;
        } else {
            const auto& values = std::get<RowBlock::Values>(block.payload).rows;
            const auto width = static_cast<size_t>(t.columnCount());
            added.reserve(values.size());
            for (const StringRow& row : values) {
                StringRow fitted(width);
                std::copy_n(row.begin(), std::min(width, row.size()), fitted.begin());
                added.push_back(RowRef::edited(appendEditedRow(t, fitted)));
            }
        }
        assert(static_cast<int64_t>(added.size()) == block.positions.count());

        // Filled from the back, so only the rows after the first new position move.
        RowList& rows = t.rows_.write();
        size_t read = rows.size();
        size_t fill = rows.size() + added.size();
        size_t next = added.size();
        rows.resize(fill);
        const auto& ranges = block.positions.ranges();
        for (auto r = ranges.rbegin(); r != ranges.rend(); ++r) {
            const auto lo = static_cast<size_t>(r->lower), hi = static_cast<size_t>(r->upper);
            const size_t kept = fill - hi;
            std::move_backward(rows.begin() + static_cast<ptrdiff_t>(read - kept),
                               rows.begin() + static_cast<ptrdiff_t>(read),
                               rows.begin() + static_cast<ptrdiff_t>(fill));
            read -= kept;
            std::copy(added.begin() + static_cast<ptrdiff_t>(next - (hi - lo)),
                      added.begin() + static_cast<ptrdiff_t>(next),
                      rows.begin() + static_cast<ptrdiff_t>(lo));
            next -= hi - lo;
            fill = lo;
        }
        assert(read == fill && next == 0);
        return TableEdit::removeRows(block.positions);
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::RemoveRows& e) {
        std::vector<RowRef> removed;
        removed.reserve(static_cast<size_t>(e.positions.count()));
        if (!e.positions.empty()) {
            RowList& rows = t.rows_.write();
            const auto& ranges = e.positions.ranges();
            auto out = rows.begin() + ranges.front().lower;
            for (size_t i = 0; i < ranges.size(); ++i) {
                auto lo = rows.begin() + ranges[i].lower, hi = rows.begin() + ranges[i].upper;
                removed.insert(removed.end(), lo, hi);
                auto keptEnd = i + 1 < ranges.size() ? rows.begin() + ranges[i + 1].lower : rows.end();
                out = std::move(hi, keptEnd, out);
            }
            rows.erase(out, rows.end());
        }
        return TableEdit::insertRows(RowBlock{e.positions, RowBlock::Refs{std::move(removed)}});
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::InsertColumns& e) {
        const ColumnBlock& block = e.block;
        std::vector<int32_t>& map = t.columnMap_.write();
        const size_t entryCount = t.editedRows_->size();
        EditedRows* edited = entryCount > 0 ? &t.editedRows_.write() : nullptr;
        // Where each new column ends up: a later insertion at or before an earlier
        // column's place pushes that column one to the right.
        std::vector<int64_t> finalPositions;
        finalPositions.reserve(block.positions.size());
        int64_t highest = -1;
        for (size_t k = 0; k < block.positions.size(); ++k) {
            const int64_t p = block.positions[k];
            if (p <= highest) {
                for (int64_t& f : finalPositions)
                    if (f >= p) ++f;
                ++highest;
            } else {
                highest = p;
            }
            finalPositions.push_back(p);
            map.insert(map.begin() + p, block.mapping[k]);
        }
        if (edited) {
            for (size_t i = 0; i < entryCount; ++i) {
                StringRow row = (*edited)[i]->strings();
                for (size_t k = 0; k < block.positions.size(); ++k) {
                    const std::vector<std::string>* column =
                        k < block.values.size() ? &block.values[k] : nullptr;
                    std::string text = column && i < column->size() ? (*column)[i] : std::string();
                    row.insert(row.begin() + block.positions[k], std::move(text));
                }
                (*edited)[i].write().assign(row);
            }
        }
        return TableEdit::removeColumns(IndexSet::fromValues(finalPositions));
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::RemoveColumns& e) {
        ColumnBlock block;
        if (e.positions.empty()) return TableEdit::insertColumns(std::move(block));
        const std::vector<int64_t> positions = e.positions.values();
        const size_t entryCount = t.editedRows_->size();
        block.positions = positions;
        block.values.assign(positions.size(), std::vector<std::string>(entryCount));

        std::vector<int32_t>& map = t.columnMap_.write();
        for (int64_t p : positions)
            block.mapping.push_back(map[static_cast<size_t>(p)]);
        removeAt(map, positions, [](size_t, int32_t&&) {});
        if (entryCount > 0) {
            EditedRows& edited = t.editedRows_.write();
            for (size_t i = 0; i < entryCount; ++i) {
                StringRow row = edited[i]->strings();
                removeAt(row, positions,
                         [&block, i](size_t k, std::string&& text) { block.values[k][i] = std::move(text); });
                edited[i].write().assign(row);
            }
        }
        return TableEdit::insertColumns(std::move(block));
    }

    // Removes the items at ascending `positions` in one compacting pass, handing each
    // removed item to `take(k, item)` with k its index in `positions`.
    template <class T, class Take>
    static void removeAt(std::vector<T>& items, const std::vector<int64_t>& positions, Take&& take) {
        size_t out = static_cast<size_t>(positions.front()), next = 0;
        for (size_t c = out; c < items.size(); ++c) {
            if (next < positions.size() && static_cast<int64_t>(c) == positions[next]) {
                take(next++, std::move(items[c]));
            } else {
                items[out++] = std::move(items[c]);
            }
        }
        items.resize(out);
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::ReorderRows& e) {
        // A new list rather than the old one changed: a copy sharing the old one (a save
        // in progress) keeps it, and nothing is cloned first.
        t.rows_ = CopyOnWrite<RowList>(e.permutation.applied(*t.rows_));
        return TableEdit::reorderRows(e.permutation.inverse());
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::ReorderColumns& e) {
        std::vector<int32_t>& map = t.columnMap_.write();
        map = e.permutation.applied(map);
        if (!t.editedRows_->empty())
            for (CopyOnWrite<PackedRow>& packed : t.editedRows_.write()) {
                StringRow row = packed->strings();
                packed.write().assign(e.permutation.applied(row));
            }
        return TableEdit::reorderColumns(e.permutation.inverse());
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::SetFormat& e) {
        FileFormat old = std::exchange(t.format_, e.format);
        return TableEdit::setFormat(old);
    }

    static TableEdit applyCase(CSVTable&, const TableEdit::ReplaceTable&) {
        return TableEdit::batch({}); // never reached: apply() takes this case first
    }

    static TableEdit applyCase(CSVTable& t, const TableEdit::Batch& e) {
        std::vector<TableEdit> inverses;
        inverses.reserve(e.edits.size());
        for (const TableEdit& member : e.edits)
            inverses.push_back(t.apply(member));
        std::reverse(inverses.begin(), inverses.end());
        return TableEdit::batch(std::move(inverses));
    }
};

TableEdit CSVTable::apply(const TableEdit& edit) {
    return TableEditApplier::apply(*this, edit);
}

} // namespace zarvel
