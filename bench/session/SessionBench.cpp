// Benchmarks of the editor session on a generated table: refreshing after a change,
// undo and redo of typical steps, and replace-all. The large table follows
// ZARVEL_BENCH_MB (1024 MiB, about ten million rows, by default).
//
// The recovery journal's cost: each step with and without recording, the size of the
// record, and restoring a record of 100 steps. The file follows ZARVEL_RECOVERY_ROWS
// (one million rows by default; ten million for the full size).
#include "../BenchData.h"

#include "app/document/CSVDocument.h"
#include "app/document/RecoveryStore.h"
#include "app/session/EditorSession.h"
#include "core/TableSearch.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QThread>
#include <QUndoStack>

#include <benchmark/benchmark.h>

#include <algorithm>
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

size_t sizeFor(int64_t arg) {
    return arg == 0 ? size_t{100} << 10 : bench::benchDataBytes();
}

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

// Find Next (0) and a keystroke in the replace field (1) with a million matches: each
// copies and compares the find state, which must not cost the match count.
void BM_FindStepMillionMatches(benchmark::State& state) {
    CSVDocument& d = documentOfSize(size_t{128} << 20);
    EditorSession session(&d);
    session.sync();
    const CSVTable t = d.table();
    std::vector<CellPosition> matches;
    for (int64_t r = t.firstDataRow(); r < t.rowCount() && matches.size() < 1'000'000; ++r)
        for (int64_t c = 0; c < t.columnCount() && matches.size() < 1'000'000; ++c)
            matches.push_back({r, c});
    FindState f = session.find();
    f.isPresented = true;
    f.query = "x";
    f.matches = std::move(matches);
    session.setFind(f);
    int64_t i = 0;
    for (auto _ : state) {
        if (state.range(0) == 0)
            session.findNext(true);
        else
            session.setReplacement(++i % 2 ? "a" : "b");
    }
    state.counters["matches"] = static_cast<double>(session.find().matches.size());
}
BENCHMARK(BM_FindStepMillionMatches)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Select All and Copy of about a million rows. Arg 0: the table alone (for the peak
// memory baseline under /usr/bin/time -v); 1: the clipboard text built on the spot
// (copyText); 2: Edit ▸ Copy as the window does it, built on a worker and put on the
// clipboard. "mainMs" is the time the main thread is held: the call itself plus the
// longest stretch between two turns of the event loop until the text lands.
void BM_CopyAllMillionRows(benchmark::State& state) {
    CSVDocument& d = documentOfSize(size_t{128} << 20);
    EditorSession session(&d);
    session.sync();
    session.selectAll();
    size_t bytes = 0;
    double mainMs = 0;
    for (auto _ : state) {
        if (state.range(0) == 1) {
            const std::string text = session.copyText();
            bytes = text.size();
            benchmark::DoNotOptimize(text.data());
        } else if (state.range(0) == 2) {
            // The previous text leaves the clipboard first: the peak is one copy's.
            state.PauseTiming();
            QGuiApplication::clipboard()->clear();
            state.ResumeTiming();
            QElapsedTimer call;
            call.start();
            session.copyToClipboard();
            double longest = static_cast<double>(call.nsecsElapsed()) / 1e6;
            const double started = longest;
            QElapsedTimer turn;
            while (session.isCopying()) {
                turn.start();
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                longest = std::max(longest, static_cast<double>(turn.nsecsElapsed()) / 1e6);
                QThread::usleep(200);
            }
            mainMs = std::max(mainMs, std::max(longest, started));
            bytes = static_cast<size_t>(QGuiApplication::clipboard()
                                            ->mimeData()
                                            ->data(QStringLiteral("text/plain;charset=utf-8"))
                                            .size());
        }
    }
    state.counters["rows"] = static_cast<double>(d.table().rowCount());
    state.counters["textMB"] = static_cast<double>(bytes) / (1 << 20);
    if (state.range(0) == 2) state.counters["mainMs"] = mainMs;
}
BENCHMARK(BM_CopyAllMillionRows)->Arg(0)->Arg(1)->Arg(2)->Iterations(2)->Unit(benchmark::kMillisecond);

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

// MARK: recovery

int64_t recoveryRows() {
    if (const char* env = std::getenv("ZARVEL_RECOVERY_ROWS")) {
        char* end = nullptr;
        const long long v = std::strtoll(env, &end, 10);
        if (end != env && *end == '\0' && v > 0) return v;
    }
    return 1'000'000;
}

// A generated file opened as a document, with an undo stack; rows are about 100 bytes.
struct RecoveryFixture {
    QTemporaryDir dir;
    QString file;
    std::unique_ptr<CSVDocument> document;
    QUndoStack undo;

    RecoveryFixture() {
        file = dir.filePath(QStringLiteral("large.csv"));
        bench::writeCSVFile(file.toStdString(), static_cast<size_t>(recoveryRows()) * 100, 7);
        DocumentError error;
        document = CSVDocument::open(file, error);
    }
    QString records() const { return dir.filePath(QStringLiteral("recovery")); }
    int64_t journalBytes() const {
        int64_t total = 0;
        for (const QFileInfo& info : QDir(records()).entryInfoList({QStringLiteral("*.zrec")}, QDir::Files))
            total += info.size();
        return total;
    }
};

RecoveryFixture& recoveryFixture() {
    static RecoveryFixture fixture;
    return fixture;
}

// One typed cell per step. Arg 0: no journal; 1: each step recorded and synced to disk
// (stricter than the once-a-second flush); 2: recorded, synced by the timer as in use.
void BM_RecoveryCellEdit(benchmark::State& state) {
    RecoveryFixture& f = recoveryFixture();
    std::unique_ptr<DocumentRecorder> recorder;
    if (state.range(0)) recorder = std::make_unique<DocumentRecorder>(f.records(), f.document.get(), &f.undo);
    const int64_t rows = f.document->table().rowCount();
    int64_t i = 0;
    for (auto _ : state) {
        ++i;
        f.document->apply(TableEdit::setCells({{1 + (i * 7919) % (rows - 1), 3, std::to_string(i)}}), &f.undo,
                          QStringLiteral("Typing"));
        if (recorder && state.range(0) == 1) recorder->flush();
    }
    if (recorder) recorder->flush();
    state.counters["rows"] = static_cast<double>(rows);
    if (recorder) {
        state.counters["record_bytes_per_step"] =
            static_cast<double>(f.journalBytes()) / static_cast<double>(i);
        recorder->discard();
    }
}
BENCHMARK(BM_RecoveryCellEdit)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Replace All of a million cells as one step.
void BM_RecoveryReplaceAllMillion(benchmark::State& state) {
    RecoveryFixture& f = recoveryFixture();
    std::unique_ptr<DocumentRecorder> recorder;
    if (state.range(0)) recorder = std::make_unique<DocumentRecorder>(f.records(), f.document.get(), &f.undo);
    const int64_t rows = f.document->table().rowCount();
    const int64_t count = std::min<int64_t>(1'000'000, rows - 1);
    // Each variant copies out rows of its own the first time, where the table has room.
    const int64_t first = rows > 2 * count + 1 ? 1 + state.range(0) * count : 1;
    int64_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<CellChange> changes;
        changes.reserve(static_cast<size_t>(count));
        for (int64_t r = first; r < first + count; ++r)
            changes.push_back({r, 2, "Paris " + std::to_string(round)});
        ++round;
        state.ResumeTiming();
        f.document->apply(TableEdit::setCells(std::move(changes)), &f.undo, QStringLiteral("Replace All"));
        if (recorder) recorder->flush();
    }
    state.counters["cells"] = static_cast<double>(count);
    if (recorder) {
        state.counters["record_bytes"] = static_cast<double>(f.journalBytes());
        recorder->discard();
    }
}
BENCHMARK(BM_RecoveryReplaceAllMillion)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// Restoring a record of 100 one-cell steps: reading the file, checking it is the one
// the steps were made to, replaying them. The plain open of the file is the baseline.
void BM_RecoveryRestore100Steps(benchmark::State& state) {
    RecoveryFixture& f = recoveryFixture();
    {
        DocumentError error;
        auto document = CSVDocument::open(f.file, error);
        QUndoStack undo;
        DocumentRecorder recorder(f.records(), document.get(), &undo);
        for (int i = 0; i < 100; ++i)
            document->apply(TableEdit::setCells({{1 + i * 9973, i % 10, "step " + std::to_string(i)}}), &undo,
                            QStringLiteral("Typing"));
        recorder.flush();
    } // the run ends with the record left behind
    const int64_t recordBytes = f.journalBytes();
    for (auto _ : state) {
        RecoveryStore store(f.records());
        const RecoveryStore::Scan scan = store.scan();
        if (scan.records.size() != 1) state.SkipWithError("no record");
        QString problem;
        auto restored = store.restore(scan.records[0], problem);
        if (!restored) state.SkipWithError(problem.toStdString().c_str());
        benchmark::DoNotOptimize(restored->table.rowCount());
    }
    state.counters["record_bytes"] = static_cast<double>(recordBytes);
    RecoveryStore store(f.records());
    for (const RecoveryRecord& record : store.scan().records)
        store.discard(record);
}
BENCHMARK(BM_RecoveryRestore100Steps)->Unit(benchmark::kMillisecond);

void BM_RecoveryOpenBaseline(benchmark::State& state) {
    RecoveryFixture& f = recoveryFixture();
    for (auto _ : state) {
        DocumentError error;
        benchmark::DoNotOptimize(CSVDocument::open(f.file, error));
    }
}
BENCHMARK(BM_RecoveryOpenBaseline)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The copy's benchmark puts its text on a clipboard: a display-less platform will do.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
