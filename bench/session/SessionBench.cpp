// Benchmarks of the editor session on a generated table: refreshing after a change,
// undo and redo of typical steps, and replace-all. The large table follows
// ZARVEL_BENCH_MB (1024 MiB, about ten million rows, by default).
#include "../BenchData.h"

#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"
#include "core/TableSearch.h"

#include <QCoreApplication>
#include <QUndoStack>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

using namespace zarvel;

namespace {

// One document per size, made once: generating a gigabyte takes seconds.
CSVDocument& documentOfSize(size_t bytes) {
    static std::map<size_t, std::unique_ptr<CSVDocument>> documents;
    auto& d = documents[bytes];
    if (!d) d = CSVDocument::fromBytes(SharedBytes::fromString(bench::generateCSV(bytes, 7)));
    return *d;
}

size_t sizeFor(int64_t arg) { return arg == 0 ? size_t{100} << 10 : bench::benchDataBytes(); }

// A window's first refresh: width estimation, column kinds, layout.
void BM_FirstSync(benchmark::State& state) {
    CSVDocument& d = documentOfSize(sizeFor(state.range(0)));
    for (auto _ : state) {
        EditorSession session(&d);
        session.sync();
        benchmark::DoNotOptimize(session.layout());
    }
    state.counters["rows"] = static_cast<double>(d.table().rowCount());
}
BENCHMARK(BM_FirstSync)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Undo and redo of one step made by `makeStep` on the large table.
template <class Step> void undoRedo(benchmark::State& state, Step makeStep) {
    CSVDocument& d = documentOfSize(bench::benchDataBytes());
    QUndoStack undo;
    EditorSession session(&d);
    session.setUndoManager(&undo);
    session.sync();
    makeStep(session);
    for (auto _ : state) {
        session.undo();
        session.redo();
    }
    session.undo();
}

void BM_UndoRedoCellEdit(benchmark::State& state) {
    undoRedo(state, [](EditorSession& s) {
        s.setSelection({{5'000'000, 3}, {5'000'000, 3}});
        s.beginEditing(std::string("42"));
        s.commitEditing(CommitMove::none);
    });
}
BENCHMARK(BM_UndoRedoCellEdit)->Unit(benchmark::kMillisecond);

void BM_UndoRedoDelete1000Rows(benchmark::State& state) {
    undoRedo(state, [](EditorSession& s) {
        s.setSelection({{4'000'000, 0}, {4'000'999, 0}});
        s.deleteRows();
    });
}
BENCHMARK(BM_UndoRedoDelete1000Rows)->Unit(benchmark::kMillisecond);

void BM_UndoRedoInsertColumn(benchmark::State& state) {
    undoRedo(state, [](EditorSession& s) {
        s.setSelection({{10, 4}, {10, 4}});
        s.insertColumn(false);
    });
}
BENCHMARK(BM_UndoRedoInsertColumn)->Unit(benchmark::kMillisecond);

// Replace-all of 100,000 matches and its undo, on a table of a million rows.
void BM_ReplaceAll100k(benchmark::State& state) {
    std::string text = "id,value\n";
    for (int i = 0; i < 1'000'000; ++i)
        text += std::to_string(i) + (i % 10 == 0 ? ",needle " : ",hay ") + std::to_string(i) + "\n";
    auto d = CSVDocument::fromBytes(SharedBytes::fromString(std::move(text)));
    QUndoStack undo;
    EditorSession session(d.get());
    session.setUndoManager(&undo);
    session.sync();
    FindState f = session.find();
    f.query = "needle";
    f.replacement = "pin";
    f.matches = TableSearch::find("needle", d->table(), false);
    session.setFind(f);
    for (auto _ : state) {
        session.replaceAll();
        session.undo();
    }
    state.counters["matches"] = static_cast<double>(f.matches.size());
}
BENCHMARK(BM_ReplaceAll100k)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
