// Drawing the grid view: one full window (1100 × 720 points, header, gutter and cells)
// costs the same at the top of a ten-million-row table as near its end, because only
// the rows and columns near the visible area are read and drawn.
//
//   zarvel-view-bench                       (QT_QPA_PLATFORM defaults to offscreen)
//
// The table's text is generated in memory (about a gigabyte) and read once per run.
#include "app/document/CSVDocument.h"
#include "app/session/EditorSession.h"
#include "app/views/GridView.h"
#include "bench/BenchData.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace zarvel {
namespace {

constexpr int64_t dataRows = 10'000'000;
constexpr int windowWidth = 1100;
constexpr int windowHeight = 720;

struct LargeGrid {
    std::unique_ptr<CSVDocument> document;
    std::unique_ptr<EditorSession> session;
    std::unique_ptr<GridView> view;
};

// Built on first use and torn down before the application object goes.
std::unique_ptr<LargeGrid> large;

LargeGrid& largeGrid() {
    if (!large)
        large = std::make_unique<LargeGrid>([] {
            LargeGrid g;
            // Exactly ten million data rows under the header, the same bytes on every run.
            bench::CSVGenerator generator(1);
            std::string text;
            text.reserve(size_t{1100} << 20);
            while (generator.shape().rows < dataRows + 1)
                generator.appendUntil(text, text.size() + 1);
            std::fprintf(stderr, "table: %lld rows, %zu bytes\n",
                         static_cast<long long>(generator.shape().rows), text.size());
            g.document = CSVDocument::fromBytes(SharedBytes::fromString(std::move(text)));
            g.session = std::make_unique<EditorSession>(g.document.get());
            g.session->sync();
            g.view = std::make_unique<GridView>(g.session.get());
            g.view->resize(windowWidth, windowHeight);
            g.view->show();
            QApplication::processEvents();
            return g;
        }());
    return *large;
}

// Renders the whole view, as a window's first paint or a jump does.
void BM_DrawGridWindow(benchmark::State& state) {
    LargeGrid& g = largeGrid();
    const int64_t row = state.range(0);
    const GridGeometry& layout = g.session->layout();
    g.view->scrollToPoint(QPointF(0, layout.yOfRow(row) - layout.headerHeight()));
    QApplication::processEvents();
    QImage image(g.view->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        g.view->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["firstRow"] = static_cast<double>(g.view->gridWindow().rows.lower);
    state.counters["rows"] = static_cast<double>(g.view->gridWindow().rows.count());
    state.counters["columns"] = static_cast<double>(g.view->gridWindow().columns.count());
}
BENCHMARK(BM_DrawGridWindow)->Arg(0)->Arg(5'000'000)->Arg(9'999'000)->Unit(benchmark::kMillisecond);

// Scrolling down by one row: the rest is moved, only the row that comes into view is
// drawn.
void BM_ScrollOneRow(benchmark::State& state) {
    LargeGrid& g = largeGrid();
    const int64_t start = state.range(0);
    const GridGeometry& layout = g.session->layout();
    int64_t row = start;
    for (auto _ : state) {
        if (++row > start + 1000) row = start;
        g.view->scrollToPoint(QPointF(0, layout.yOfRow(row) - layout.headerHeight()));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_ScrollOneRow)->Arg(0)->Arg(9'990'000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarvel

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    zarvel::large.reset();
    return 0;
}
