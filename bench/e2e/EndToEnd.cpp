// zarvel-e2e: one user's session over a ten-million-row file, end to end and timed.
//
//   make bench-e2e                        # about 1 GiB
//   ZARVEL_BENCH_MB=64 build/bench/zarvel-e2e
//
// Generates the benchmark text into a temporary file, opens it as a document with an
// editor session (and the grid view, shown offscreen, when the views are built), jumps
// to the last row, types over a cell, sorts by a number column, finds and replaces all,
// undoes every step, redoes them and undoes them again, saves, and compares the saved
// file with the original byte for byte. Prints the wall time of each step and the peak resident memory; exits
// with 1 when a step fails or the saved file differs.
#include "app/document/CSVDocument.h"
#include "app/document/DocumentType.h"
#include "app/session/EditorSession.h"
#include "bench/BenchData.h"
#include "core/CSVWriter.h"
#include "core/SafeSave.h"
#include "grid/GridKey.h"

#ifdef ZARVEL_E2E_GRID_VIEW
#include "app/views/GridView.h"

#include <QKeyEvent>
#endif

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QUndoStack>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace zarvel;

namespace {

double residentMB() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The high-water mark of resident memory (the kernel updates it lazily, so the current
// figure can be ahead of it for a moment).
double peakResidentMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::max(static_cast<double>(usage.ru_maxrss) / 1024.0, residentMB());
}

struct Failure {
    std::string what;
};

void require(bool holds, const std::string& what) {
    if (!holds) throw Failure{what};
}

// Runs the event loop until `done` holds; background work lands through it.
void waitUntil(const std::function<bool()>& done, const char* what) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        require(timer.elapsed() < 600'000, std::string("timed out waiting for ") + what);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!done()) QThread::msleep(1);
    }
}

// Paints and handles whatever the last step queued, so drawing counts in its time.
void settle() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

class Steps {
public:
    // `counted`: part of the user's session (making the test file is not).
    void run(const char* name, const std::function<std::string()>& step, bool counted = true) {
        const auto start = std::chrono::steady_clock::now();
        const std::string note = step();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("%-28s %9.3f s %9.0f MB %9.0f MB  %s\n", name, elapsed.count(), residentMB(),
                    peakResidentMB(), note.c_str());
        std::fflush(stdout);
        if (counted) total_ += elapsed.count();
    }
    double total() const { return total_; }

private:
    double total_ = 0;
};

// Both files read in blocks and compared; the first differing offset when they differ.
// Blocks rather than mappings, so the comparison adds nothing to the peak memory.
std::string compareFiles(const std::string& a, const std::string& b) {
    const auto size = std::filesystem::file_size(a);
    if (size != std::filesystem::file_size(b))
        return "sizes differ: " + std::to_string(size) + " and " +
               std::to_string(std::filesystem::file_size(b));
    const int fa = ::open(a.c_str(), O_RDONLY);
    const int fb = ::open(b.c_str(), O_RDONLY);
    require(fa >= 0 && fb >= 0, "cannot open the files to compare");
    constexpr size_t blockBytes = 8 << 20;
    std::vector<char> x(blockBytes), y(blockBytes);
    std::string result;
    for (uint64_t offset = 0; offset < size && result.empty();) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(blockBytes, size - offset));
        require(::pread(fa, x.data(), n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n) &&
                    ::pread(fb, y.data(), n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n),
                "short read while comparing");
        if (std::memcmp(x.data(), y.data(), n) != 0) {
            size_t i = 0;
            while (x[i] == y[i])
                ++i;
            result = "first difference at byte " + std::to_string(offset + i);
        }
        offset += n;
    }
    ::close(fa);
    ::close(fb);
    return result;
}

int run() {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("zarvel-e2e-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string original = (folder / "original.csv").string();
    const std::string saved = (folder / "saved.csv").string();
    struct Cleanup {
        fs::path folder;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } cleanup{folder};

    constexpr int64_t amountColumn = 3; // signed decimals
    constexpr int64_t nameColumn = 1;
    const std::string query = "Porto"; // one city in sixteen
    const std::string replacement = "Oporto";

    std::printf("%-28s %11s %12s %12s\n", "step", "time", "resident", "peak");
    Steps steps;
    bench::CSVShape shape;
    std::unique_ptr<CSVDocument> document;
    std::unique_ptr<EditorSession> session;
    QUndoStack undoStack;
#ifdef ZARVEL_E2E_GRID_VIEW
    std::unique_ptr<GridView> view;
#endif

    steps.run(
        "generate file",
        [&] {
            require(bench::writeCSVFile(original, bench::benchDataBytes(), 1, &shape),
                    "cannot write " + original);
            return std::to_string(shape.rows) + " rows, " + std::to_string(shape.bytes) + " bytes";
        },
        false);
    // Opened as a window opens a file: its first rows at once, the whole read on a worker.
    steps.run("open: first rows", [&] {
        DocumentError error;
        document = CSVDocument::openInBackground(QString::fromStdString(original), error);
        require(document != nullptr, "cannot open: " + error.message().toStdString());
        return std::to_string(document->table().dataRowCount()) + " data rows";
    });
    steps.run("session and grid drawn", [&] {
        session = std::make_unique<EditorSession>(document.get());
        session->setUndoManager(&undoStack);
        session->setVisibleRect({0, 0, 1200, 800});
        session->sync();
#ifdef ZARVEL_E2E_GRID_VIEW
        view = std::make_unique<GridView>(session.get());
        view->resize(1200, 800);
        view->show();
        settle();
        view->grab();
        return std::string("grid view drawn offscreen");
#else
        return std::string("no grid view in this build");
#endif
    });
    steps.run("open: read complete", [&] {
        std::optional<DocumentError> failure;
        const auto connection = QObject::connect(document.get(), &CSVDocument::openFailed,
                                                 [&](const DocumentError& e) { failure = e; });
        waitUntil([&] { return !document->isOpening() || failure; }, "the read");
        QObject::disconnect(connection);
        require(!failure, "the read failed: " + (failure ? failure->message().toStdString() : std::string()));
        settle();
        require(document->table().rowCount() == shape.rows, "row count differs from the generated file");
        return std::to_string(document->table().dataRowCount()) + " data rows";
    });
    steps.run("jump to last row", [&] {
#ifdef ZARVEL_E2E_GRID_VIEW
        QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QCoreApplication::sendEvent(view.get(), &press);
#else
        session->handleKey(GridKey::press(GridKey::Key::end, {.command = true}));
#endif
        settle();
        const GridCell active = session->selection().active;
        require(active.row == session->displayedRowCount() - 1, "not on the last row");
        return "row " + std::to_string(active.row);
    });
    steps.run("type over a cell", [&] {
        session->handleKey(GridKey::press(GridKey::Key::right));
        for (const char* text : {"e", "2", "e"})
            session->handleKey(GridKey::typed(text));
        session->handleKey(GridKey::press(GridKey::Key::tab));
        settle();
        const CSVTable t = document->table();
        require(t.value(t.rowCount() - 1, nameColumn) == "e2e", "the typed text is not in the cell");
        return std::string("last row, name column");
    });
    steps.run("sort by amount", [&] {
        require(session->columnKinds().size() > amountColumn &&
                    session->columnKinds()[amountColumn] == ColumnKind::number,
                "the amount column is not a number column");
        session->sort(amountColumn, true);
        waitUntil([&] { return !session->isBusy(); }, "the sort");
        settle();
        require(undoStack.undoText() == "Sort", "the sort was not applied");
        return std::string("ascending");
    });
    size_t matchCount = 0;
    steps.run("find", [&] {
        bool finished = false;
        const auto connection =
            QObject::connect(session.get(), &EditorSession::searchFinished, [&] { finished = true; });
        session->presentFind(true);
        session->setQuery(query);
        session->search();
        const auto start = std::chrono::steady_clock::now();
        waitUntil([&] { return finished; }, "the search");
        const std::chrono::duration<double> searching = std::chrono::steady_clock::now() - start;
        QObject::disconnect(connection);
        settle();
        matchCount = session->find().matches.size();
        require(matchCount > 0, "nothing found");
        char note[96];
        std::snprintf(note, sizeof note, "%zu matches (searching %.3f s)", matchCount, searching.count());
        return std::string(note);
    });
    steps.run("replace all", [&] {
        // The changes are worked out on a worker; the window's loop keeps turning, and the
        // longest gap between two ticks of a 10 ms timer is how long it stood still.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        session->setReplacement(replacement);
        sinceTick.start();
        ticker.start();
        session->replaceAll();
        require(session->isReplacing(), "Replace All did not start");
        waitUntil([&] { return !session->isReplacing(); }, "Replace All");
        settle();
        longestStall = std::max(longestStall, sinceTick.elapsed());
        ticker.stop();
        require(undoStack.undoText() == "Replace All", "nothing was replaced");
        return std::to_string(matchCount) + " cells, window still for at most " +
               std::to_string(longestStall) + " ms";
    });
    // Each step undone, then redone, then undone again (what is saved must be the
    // original), each turn timed with the drawing it causes.
    auto turnEvery = [&](bool undo) {
        std::string note;
        while (undo ? undoStack.canUndo() : undoStack.canRedo()) {
            const std::string name = (undo ? undoStack.undoText() : undoStack.redoText()).toStdString();
            const auto start = std::chrono::steady_clock::now();
            if (undo)
                session->undo();
            else
                session->redo();
            settle();
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            char part[96];
            std::snprintf(part, sizeof part, "%s%s %.3f s", note.empty() ? "" : ", ", name.c_str(),
                          elapsed.count());
            note += part;
        }
        return note;
    };
    steps.run("undo every step", [&] { return turnEvery(true); });
    steps.run("redo every step", [&] {
        const std::string note = turnEvery(false);
        require(undoStack.undoText() == "Replace All" && undoStack.count() == 3, "not every step was redone");
        return note;
    });
    steps.run("undo every step again", [&] { return turnEvery(true); });
    steps.run("save", [&] {
        // As the window saves: a snapshot streamed to a temporary file that takes the name.
        const CSVTable snapshot = document->snapshot();
        const FileFormat format =
            CSVDocument::formatForSaving(snapshot.format(), DocumentType::commaSeparatedText);
        const auto error = SafeSave::save(saved, [&](SafeSave::Sink& sink) {
            CSVWriter::write(snapshot, format, [&](std::string_view block) { sink.write(block); });
        });
        require(!error, "cannot write " + saved + ": " + (error ? error->reason() : std::string()));
        return std::string("streamed, written and synced");
    });
    std::string difference;
    steps.run("compare with original", [&] {
        difference = compareFiles(original, saved);
        return difference.empty() ? std::string("identical") : difference;
    });
    std::printf("%-28s %9.3f s %22.0f MB peak\n", "total (without generating)", steps.total(),
                peakResidentMB());
    if (!difference.empty()) {
        std::fprintf(stderr, "zarvel-e2e: the saved file differs from the original: %s\n",
                     difference.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        return run();
    } catch (const Failure& failure) {
        std::fprintf(stderr, "zarvel-e2e: %s\n", failure.what.c_str());
    } catch (const CSVError& error) {
        std::fprintf(stderr, "zarvel-e2e: %s\n", describe(error).toStdString().c_str());
    }
    return 1;
}
