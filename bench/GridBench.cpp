// Grid core benchmarks: column width estimation and the visible window cost the same on
// a table of ten million rows as on a small one, because the estimator reads a fixed
// sample (1,000 rows for initial widths, 2,000 for a fit) and the window is arithmetic
// and a binary search.
//
//   zarvel-bench --benchmark_filter=Grid
#include "core/CSVTable.h"
#include "core/FieldIndexer.h"
#include "grid/ColumnWidthEstimator.h"
#include "grid/GridGeometry.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace zarvel {
namespace {

constexpr int64_t smallRows = 1000;
constexpr int64_t largeRows = 10'000'000;
// A fit reads up to 2,000 data rows, so its baseline needs a few more.
constexpr int64_t fittingRows = 5000;
constexpr int64_t columns = 6;

// Six columns of varied texts, some non-ASCII, some combining, some long; the same
// rows for every size, so the first thousand rows of every table are equal.
class GridRows {
public:
    void header(std::string& out) const { out += "id,name,city,amount,comment,tag\n"; }

    void row(int64_t r, std::string& out) {
        static constexpr std::string_view names[] = {"Anna Berg",    "Chloé Novák", "Zoë García",
                                                     "Jonas Müller", "Kovač",       "Reykjavík Olsen"};
        static constexpr std::string_view cities[] = {"Berlin", "Zürich", "東京", "São Paulo",
                                                      "Gdan\xCC\x81sk"};
        static constexpr std::string_view comments[] = {
            "ok", "needs a second look before the end of the month", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD fine",
            "a rather long remark that keeps going well past the width any column would ever want to show"};
        field(std::to_string(r), out);
        field(names[next() % 6], out);
        field(cities[next() % 5], out);
        field(std::to_string(static_cast<int64_t>(next() % 2000000) - 1000000), out);
        field(comments[next() % 4], out);
        out += static_cast<char>('A' + next() % 26);
        out += '\n';
    }

private:
    static void field(std::string_view s, std::string& out) {
        out += s;
        out += ',';
    }
    uint64_t next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return state_ >> 33;
    }
    uint64_t state_ = 42;
};

const CSVTable& stringTable() {
    static const CSVTable table = [] {
        StringRows rows{{"id", "name", "city", "amount", "comment", "tag"}};
        GridRows gen;
        std::string line;
        for (int64_t r = 0; r < smallRows; ++r) {
            line.clear();
            gen.row(r, line);
            StringRow cells;
            size_t start = 0;
            for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
                cells.push_back(line.substr(start, comma - start));
            cells.push_back(line.substr(start, line.size() - 1 - start));
            rows.push_back(std::move(cells));
        }
        return CSVTable(std::move(rows), FileFormat::standard());
    }();
    return table;
}

CSVTable makeSourceTable(int64_t rowCount) {
    std::string text;
    text.reserve(static_cast<size_t>(rowCount) * 72 + 64);
    GridRows gen;
    gen.header(text);
    for (int64_t r = 0; r < rowCount; ++r)
        gen.row(r, text);
    SharedBytes bytes = SharedBytes::fromString(std::move(text));
    FieldIndexer::Result scanned =
        FieldIndexer::scan(bytes.bytes(), bytes.size(), 0, CSVDialect::comma(), FieldIndexer::noRowLimit,
                           (rowCount + 1) * columns, rowCount + 1);
    return CSVTable(bytes, std::move(scanned.index), FileFormat::standard());
}

// Built on first use and kept: the ten-million-row table takes seconds to make.
const CSVTable& sourceTable(int64_t rowCount) {
    static std::map<int64_t, CSVTable> tables;
    auto it = tables.find(rowCount);
    if (it == tables.end()) it = tables.emplace(rowCount, makeSourceTable(rowCount)).first;
    return it->second;
}

void setRowCounter(benchmark::State& state, const CSVTable& table) {
    state.counters["rows"] = static_cast<double>(table.rowCount());
}

void BM_GridInitialWidthsStrings1k(benchmark::State& state) {
    const CSVTable& table = stringTable();
    for (auto _ : state)
        benchmark::DoNotOptimize(ColumnWidthEstimator::widths(table));
    setRowCounter(state, table);
}

void BM_GridInitialWidthsSource(benchmark::State& state) {
    const CSVTable& table = sourceTable(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(ColumnWidthEstimator::widths(table));
    setRowCounter(state, table);
}

void BM_GridFittingWidthSource(benchmark::State& state) {
    const CSVTable& table = sourceTable(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(ColumnWidthEstimator::fittingWidth(table, 4));
    setRowCounter(state, table);
}

// The grid view's per-frame geometry work: a window and a few hit tests.
void BM_GridWindow(benchmark::State& state) {
    const GridGeometry geometry(std::vector<double>(200, 120), state.range(0));
    const double y = geometry.contentSize().height / 2;
    const GridGeometry::Rect visible{3000, y, 1400, 900};
    for (auto _ : state) {
        benchmark::DoNotOptimize(geometry.window(visible, 8, 2));
        benchmark::DoNotOptimize(geometry.columnAt(visible.x + 700));
        benchmark::DoNotOptimize(geometry.rowAt(visible.y + 450));
    }
}

BENCHMARK(BM_GridInitialWidthsStrings1k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridInitialWidthsSource)->Arg(smallRows)->Arg(largeRows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridFittingWidthSource)
    ->Arg(smallRows)
    ->Arg(fittingRows)
    ->Arg(largeRows)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridWindow)->Arg(smallRows)->Arg(largeRows);

} // namespace
} // namespace zarvel
