// Long random sequences of mixed edits: every inverse restores the table exactly, every
// inverse of an inverse redoes exactly, and undoing then redoing the whole history walks
// back and forth through the same states.
#include "core/EditRecord.h"
#include "core/TableEdit.h"

#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace zarvel;

namespace {

// Everything a user can observe of a table.
struct Observed {
    StringRows cells;
    int64_t rowCount = 0;
    int64_t columnCount = 0;
    FileFormat format;
    bool columnsMatchSource = false;
    std::string written;
    bool operator==(const Observed&) const = default;
};

void PrintTo(const Observed& o, std::ostream* os) {
    *os << o.rowCount << "x" << o.columnCount << (o.columnsMatchSource ? " matching source" : "")
        << " header " << o.format.hasHeader << " written:\n"
        << o.written;
}

Observed observe(const CSVTable& t) {
    return {t.allRows(), t.rowCount(),           t.columnCount(),
            t.format(),  t.columnsMatchSource(), CSVWriter::write(t, t.format())};
}

class EditGenerator {
public:
    explicit EditGenerator(uint32_t seed) : rng_(seed) {}

    int64_t below(int64_t n) { return n <= 0 ? 0 : static_cast<int64_t>(rng_() % static_cast<uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }

    std::string text() {
        static const std::vector<std::string> pieces{"a",    "B", "zz", ",",  "\"",   "\n",
                                                     "\r\n", " ", "é",  "\\", "日本", "x\"y"};
        std::string s;
        for (int64_t n = below(4); n > 0; --n)
            s += pieces[static_cast<size_t>(below(static_cast<int64_t>(pieces.size())))];
        return s;
    }

    IndexSet someOf(int64_t count, int64_t maxPicks) {
        IndexSet s;
        for (int64_t n = 1 + below(maxPicks); n > 0 && count > 0; --n)
            s.insert(below(count));
        return s;
    }

    std::vector<int64_t> shuffled(int64_t count) {
        std::vector<int64_t> order(static_cast<size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), rng_);
        return order;
    }

    Permutation shuffledOrder(int64_t count) {
        const std::vector<int64_t> order = shuffled(count);
        return Permutation(std::vector<uint32_t>(order.begin(), order.end()));
    }

    // One edit that is valid for `t` as it stands.
    TableEdit edit(const CSVTable& t, int depth = 0) {
        const int64_t rows = t.rowCount(), columns = t.columnCount();
        switch (below(depth == 0 ? 13 : 12)) {
        case 0:
        case 1:
        case 2: {
            if (rows == 0 || columns == 0) break;
            std::vector<CellChange> changes;
            for (int64_t n = 1 + below(4); n > 0; --n) {
                const int64_t r = below(rows), c = below(columns);
                changes.push_back({r, c, text()});
                if (chance(20)) changes.push_back({r, c, text()}); // the same cell twice
            }
            return TableEdit::setCells(std::move(changes));
        }
        case 3:
            // A row pointed at what another shows (two rows then share storage, which a
            // later cell edit of either must not write through).
            if (rows == 0) break;
            return TableEdit::setRowRefs({{below(rows), t.rowRef(below(rows))}});
        case 4: {
            StringRows values;
            for (int64_t n = 1 + below(3); n > 0; --n) {
                StringRow row;
                for (int64_t c = below(columns + 2); c > 0; --c)
                    row.push_back(text());
                values.push_back(std::move(row));
            }
            if (chance(50))
                return TableEdit::insertRows(RowBlock::fromRows(std::move(values), below(rows + 1)));
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
            if (chance(50))
                return TableEdit::insertColumns(ColumnBlock::empty(1 + below(2), below(columns + 1)));
            // Positions in any order and source mappings. No texts for copied-out rows:
            // those are indexed by editedRows entry, which only the inverse of a removal
            // can know (a cell edit copies its row into a new entry).
            ColumnBlock block;
            int64_t width = columns;
            for (int64_t n = 1 + below(3); n > 0; --n) {
                block.positions.push_back(below(width + 1));
                block.mapping.push_back(static_cast<int32_t>(below(t.index().maxFieldCount + 1)) - 1);
                ++width;
            }
            return TableEdit::insertColumns(std::move(block));
        }
        case 7:
            if (columns == 0) break;
            return TableEdit::removeColumns(someOf(columns, 2));
        case 8:
            if (chance(50) && rows > 0)
                return TableEdit::reorderRows(Permutation::moving(someOf(rows, 3), below(rows + 1), rows));
            return TableEdit::reorderRows(shuffledOrder(rows));
        case 9:
            if (chance(50) && columns > 0)
                return TableEdit::reorderColumns(
                    Permutation::moving(someOf(columns, 2), below(columns + 1), columns));
            return TableEdit::reorderColumns(shuffledOrder(columns));
        case 10: {
            FileFormat f = t.format();
            switch (below(4)) {
            case 0:
                f.hasHeader = !f.hasHeader;
                break;
            case 1:
                f.dialect.delimiter = f.dialect.delimiter == Byte::comma ? Byte::semicolon : Byte::comma;
                break;
            case 2:
                f.quoting = f.quoting == FileFormat::Quoting::all ? FileFormat::Quoting::minimal
                                                                  : FileFormat::Quoting::all;
                break;
            default:
                f.lineEnding = f.lineEnding == FileFormat::LineEnding::lf ? FileFormat::LineEnding::crlf
                                                                          : FileFormat::LineEnding::lf;
            }
            return TableEdit::setFormat(f);
        }
        case 11:
            if (depth > 0 || !chance(20)) break;
            return TableEdit::replaceTable(chance(50)
                                               ? CSVTable({{"p", "q"}, {text()}}, t.format())
                                               : test::indexedTable("s,t\nu\n", CSVDialect::comma(), true));
        default: {
            // A batch: each member is generated against the table its predecessors leave.
            CSVTable scratch = t;
            std::vector<TableEdit> members;
            for (int64_t n = below(4); n > 0; --n) {
                members.push_back(edit(scratch, depth + 1));
                scratch.apply(members.back());
            }
            return TableEdit::batch(std::move(members));
        }
        }
        return TableEdit::batch({});
    }

private:
    std::mt19937 rng_;
};

// A source with quoting, escapes, line breaks inside fields, ragged rows and multi-byte text.
CSVTable startTable(uint32_t seed) {
    switch (seed % 3) {
    case 0:
        return test::indexedTable(
            "id,name,note\n1,\"Smith, J\",\"said \"\"hi\"\"\"\n2,Ågren\n3,\"two\nlines\",x,extra\n4,,\n",
            CSVDialect::comma(), true);
    case 1:
        return test::indexedTable("a;\"b;c\";d\r\n\"\";e\r\nf;g;h;i\r\n", CSVDialect::semicolon(), false);
    default:
        return CSVTable({{"x", "y"}, {"z"}, {"日本", "語", "!"}}, FileFormat::standard());
    }
}

struct Step {
    TableEdit undo;
    Observed before;
    Observed after;
};

void runSequence(uint32_t seed, int length) {
    EditGenerator gen(seed);
    CSVTable t = startTable(seed);
    std::vector<Step> history;
    for (int i = 0; i < length; ++i) {
        const TableEdit edit = gen.edit(t);
        const Observed before = observe(t);
        const CSVTable snapshot = t;
        const size_t entries = t.editedRowCount();
        const int64_t revision = t.revision();

        TableEdit undo = t.apply(edit);
        const Observed after = observe(t);
        ASSERT_GT(t.revision(), revision);
        if (!std::holds_alternative<TableEdit::ReplaceTable>(edit.value)) {
            ASSERT_GE(t.editedRowCount(), entries) << "step " << i; // entries are never removed
        }
        ASSERT_EQ(observe(snapshot), before) << "a copy saw a later edit, step " << i;

        TableEdit redo = t.apply(undo);
        ASSERT_EQ(observe(t), before) << "inverse of step " << i;
        undo = t.apply(redo); // the inverse of an inverse redoes, and yields a fresh undo
        ASSERT_EQ(observe(t), after) << "redo of step " << i;
        history.push_back({std::move(undo), before, after});
    }

    // Undo everything, then redo everything, as the undo stack would.
    std::vector<TableEdit> redos;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        ASSERT_EQ(observe(t), it->after);
        redos.push_back(t.apply(it->undo));
        ASSERT_EQ(observe(t), it->before);
    }
    for (size_t i = 0; i < history.size(); ++i) {
        t.apply(redos[history.size() - 1 - i]);
        ASSERT_EQ(observe(t), history[i].after) << "redo of step " << i;
    }
}

} // namespace

TEST(TableEditProperty, RandomSequencesUndoAndRedoExactly) {
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE(seed);
        runSequence(seed, 120);
        if (HasFatalFailure()) return;
    }
}

// The recovery journal's view of the same histories: every applied edit, undos
// included, restated without storage references and passed through bytes, replays on
// a table read back from a snapshot to the same cells and format.
TEST(TableEditProperty, RandomHistoriesReplayFromTheirRecord) {
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE(seed);
        EditGenerator gen(seed);
        CSVTable t = startTable(seed);
        CSVTable replayed = decodeTable(encodeTable(t));
        std::vector<TableEdit> undos, redos;
        auto record = [&](const TableEdit& edit, const TableEdit& inverse) {
            const std::string bytes = encodeEdit(edit);
            EXPECT_EQ(decodeEdit(bytes), edit);
            EXPECT_THROW(decodeEdit(std::string_view(bytes).substr(0, bytes.size() / 2)), DamagedRecord);
            if (const std::optional<std::string> portable = encodePortableEdit(edit, inverse, t))
                replayed.apply(decodeEdit(*portable));
            else
                replayed = decodeTable(encodeTable(t));
        };
        for (int i = 0; i < 150; ++i) {
            const int64_t roll = gen.below(10);
            if (roll < 2 && !undos.empty()) {
                const TableEdit undo = undos.back();
                undos.pop_back();
                redos.push_back(t.apply(undo));
                record(undo, redos.back());
            } else if (roll < 3 && !redos.empty()) {
                const TableEdit redo = redos.back();
                redos.pop_back();
                undos.push_back(t.apply(redo));
                record(redo, undos.back());
            } else {
                const TableEdit edit = gen.edit(t);
                undos.push_back(t.apply(edit));
                redos.clear();
                record(edit, undos.back());
            }
            ASSERT_EQ(replayed.allRows(), t.allRows()) << "step " << i;
            ASSERT_EQ(replayed.columnCount(), t.columnCount()) << "step " << i;
            ASSERT_EQ(replayed.format(), t.format()) << "step " << i;
        }
    }
}

// A saved file's hash is taken block by block as it is written, a file on disk's whole:
// the two must agree for any split.
TEST(TableEditProperty, ContentHashIsTheSameWholeOrInBlocks) {
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        std::string bytes(rng() % 300, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        ContentHasher hasher;
        for (size_t at = 0; at < bytes.size();) {
            const size_t n = std::min<size_t>(bytes.size() - at, rng() % 70);
            hasher.update(std::string_view(bytes).substr(at, n));
            at += n;
        }
        ASSERT_EQ(hasher.digest(), hashBytes(bytes)) << "size " << bytes.size();
    }
}
