// Table search, sorting and edits on generated tables held in memory.
//
//   zarvel-bench --benchmark_filter='Find|Sort|Edit|Record'
//
// The large table is built from ZARVEL_BENCH_MB mebibytes of generated text (default
// 1024: about ten million rows of ten columns); sorting uses its own table of one
// million data rows. Both are made once per run, indexed in memory, never written out.

#include "bench/BenchData.h"
#include "core/CSVTable.h"
#include "core/EditRecord.h"
#include "core/FieldIndexer.h"
#include "core/TableEdit.h"
#include "core/TableSearch.h"
#include "core/TableSorter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <random>

namespace zarvel::bench {
namespace {

CSVTable indexTable(std::string text, int64_t rowLimit = FieldIndexer::noRowLimit) {
    SharedBytes source = SharedBytes::fromString(std::move(text));
    FileFormat format;
    format.hasHeader = true;
    auto scanned = FieldIndexer::scan(source.bytes(), source.size(), 0, format.dialect, rowLimit);
    return CSVTable(source, std::move(scanned.index), format);
}

// The large table, only read; edit benchmarks work on copies.
const CSVTable& largeTable() {
    static const CSVTable table = [] {
        std::fprintf(stderr, "Indexing %zu MiB of generated text for the table benchmarks ...\n",
                     benchDataBytes() >> 20);
        return indexTable(generateCSV(benchDataBytes(), 2));
    }();
    return table;
}

const CSVTable& millionRowTable() {
    static const CSVTable table = indexTable(generateCSV(120u << 20, 3), 1'000'001);
    return table;
}

// --- Find ---------------------------------------------------------------------------

void runFind(benchmark::State& state, std::string_view query, bool caseSensitive) {
    const CSVTable& table = largeTable();
    size_t found = 0;
    for (auto _ : state) {
        auto matches = TableSearch::find(query, table, caseSensitive);
        found = matches.size();
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["rows"] = static_cast<double>(table.rowCount());
    state.counters["matches"] = static_cast<double>(found);
    state.counters["hit_%"] = 100.0 * static_cast<double>(found) / static_cast<double>(table.rowCount());
}

// «-001» occurs only in the code column (two letters, a dash, five digits): about 0.1 %
// of rows. Nearly every row is rejected by the byte prefilter.
void BM_FindASCII_CaseSensitive(benchmark::State& state) {
    runFind(state, "-001", true);
}
void BM_FindASCII_IgnoringCase(benchmark::State& state) {
    runFind(state, "-001", false);
}

// A needle holding a letter that a non-ASCII character folds to (s: U+017F LONG S) lets
// every row with non-ASCII bytes past the prefilter; «x» has no such character. The
// difference between the two is what keeping the prefilter sound costs.
void BM_FindASCII_IgnoringCase_FoldTargetLetter(benchmark::State& state) {
    runFind(state, "s-001", false);
}
void BM_FindASCII_IgnoringCase_PlainLetter(benchmark::State& state) {
    runFind(state, "t-001", false);
}

// Not plain ASCII: no prefilter, every cell is decoded.
void BM_FindNonASCII_IgnoringCase(benchmark::State& state) {
    runFind(state, "zürich", false);
}
void BM_FindNonASCII_CaseSensitive(benchmark::State& state) {
    runFind(state, "Zürich", true);
}

BENCHMARK(BM_FindASCII_CaseSensitive)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FindASCII_IgnoringCase)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FindASCII_IgnoringCase_FoldTargetLetter)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_FindASCII_IgnoringCase_PlainLetter)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FindNonASCII_IgnoringCase)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_FindNonASCII_CaseSensitive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// --- Sort ---------------------------------------------------------------------------

template <class Kind> void runSort(benchmark::State& state, int64_t column, Kind kind) {
    const CSVTable& table = millionRowTable();
    for (auto _ : state) {
        Permutation p = TableSorter::permutation(table, column, true, kind);
        benchmark::DoNotOptimize(p.size());
    }
    state.counters["rows"] = static_cast<double>(table.dataRowCount());
}

void BM_SortNumberColumn(benchmark::State& state) {
    runSort(state, 3, ColumnKind::number);
} // amount
void BM_SortTextColumn(benchmark::State& state) {
    runSort(state, 1, ColumnKind::text);
} // name

void BM_SortNaturalColumn(benchmark::State& state) {
    runSort(state, 7, SortKind::natural);
} // code: two letters, a dash, five digits
void BM_SortDateColumn(benchmark::State& state) {
    runSort(state, 5, SortKind::date);
} // date

BENCHMARK(BM_SortNumberColumn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SortTextColumn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SortNaturalColumn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SortDateColumn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// --- Edits on the large table -------------------------------------------------------

// Each iteration applies the edit, undoes it, redoes it and undoes the redo, leaving the
// table as it was; the counters give each step's average time in milliseconds. Every
// benchmark edits its own copy of the large table, so one's copied-out rows (which an
// undo never deletes) do not weigh on the next; the copy's first write, which unshares
// the row list, happens in an untimed round.
void runEdit(benchmark::State& state, const TableEdit& edit, const TableEdit& setup = TableEdit::batch({})) {
    CSVTable table = largeTable();
    table.apply(setup);
    table.apply(table.apply(edit));
    using Clock = std::chrono::steady_clock;
    double apply = 0, undo = 0, redo = 0;
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    for (auto _ : state) {
        const auto t0 = Clock::now();
        TableEdit inverse = table.apply(edit);
        const auto t1 = Clock::now();
        TableEdit again = table.apply(inverse);
        const auto t2 = Clock::now();
        TableEdit inverseAgain = table.apply(again);
        const auto t3 = Clock::now();
        table.apply(inverseAgain);
        apply += ms(t1 - t0);
        undo += ms(t2 - t1);
        redo += ms(t3 - t2);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["apply_ms"] = apply / n;
    state.counters["undo_ms"] = undo / n;
    state.counters["redo_ms"] = redo / n;
    state.counters["rows"] = static_cast<double>(table.rowCount());
}

// 1,000 cells in 1,000 rows spread over the table.
TableEdit thousandCells() {
    const int64_t rows = largeTable().rowCount();
    std::vector<CellChange> changes;
    for (int64_t i = 0; i < 1000; ++i)
        changes.push_back({1 + (i * 7919 * 1031) % (rows - 1), i % 10, "edited " + std::to_string(i)});
    return TableEdit::setCells(std::move(changes));
}

void BM_EditSetCells1000(benchmark::State& state) {
    runEdit(state, thousandCells());
}

void BM_EditInsertRows1000(benchmark::State& state) {
    StringRows block(1000, StringRow(10, "new"));
    runEdit(state, TableEdit::insertRows(RowBlock::fromRows(std::move(block), largeTable().rowCount() / 2)));
}

// Two columns out of a table with 1,000 copied-out rows, whose texts the inverse keeps.
void BM_EditRemoveColumns(benchmark::State& state) {
    runEdit(state, TableEdit::removeColumns({2, 6}), thousandCells());
}

// Replace All's share of a table: one cell in every sixteenth row, as one edit. Its undo
// and redo only point rows at other storage.
void BM_EditSetCellsEverySixteenthRow(benchmark::State& state) {
    const int64_t rows = largeTable().rowCount();
    std::vector<CellChange> changes;
    for (int64_t row = 1; row < rows; row += 16)
        changes.push_back({row, 1, "replaced"});
    runEdit(state, TableEdit::setCells(std::move(changes)));
}

// A sort's reordering of every data row (shuffled: rows land as randomly as a sort by a
// column of random numbers puts them). Undo and redo each walk the shared order once.
void BM_EditReorderAllRows(benchmark::State& state) {
    std::vector<uint32_t> order(static_cast<size_t>(largeTable().rowCount()));
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin() + 1, order.end(), std::mt19937(7));
    runEdit(state, TableEdit::reorderRows(Permutation(std::move(order))));
}

// The recovery journal's record of undoing Replace All's share of rows: the rows pointed
// back at the source, restated as the cells they change.
void BM_RecordUndoOfSetCellsEverySixteenthRow(benchmark::State& state) {
    CSVTable table = largeTable();
    std::vector<CellChange> changes;
    for (int64_t row = 1; row < table.rowCount(); row += 16)
        changes.push_back({row, 1, "replaced"});
    const TableEdit undo = table.apply(TableEdit::setCells(std::move(changes)));
    const TableEdit redo = table.apply(undo);
    size_t bytes = 0;
    for (auto _ : state) {
        const std::optional<std::string> record = encodePortableEdit(undo, redo, table);
        bytes = record ? record->size() : 0;
    }
    state.counters["MB"] = static_cast<double>(bytes) / (1 << 20);
}

// Each round of setCells copies 1,000 rows out for good (its redo points at them again),
// so its rounds are counted; so are those of a sixteenth of the rows.
BENCHMARK(BM_EditSetCells1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(100);
BENCHMARK(BM_EditSetCellsEverySixteenthRow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RecordUndoOfSetCellsEverySixteenthRow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_EditReorderAllRows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EditInsertRows1000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_EditRemoveColumns)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

} // namespace
} // namespace zarvel::bench
