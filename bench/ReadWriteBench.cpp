// Read and write throughput on a large generated file, against the rate of the least
// any reader must do: bring the file into memory and find its line feeds with memchr.
//
//   zarvel-bench                              all benchmarks (ZARVEL_BENCH_MB, default 1024)
//   zarvel-bench --benchmark_filter=Read      only these
//   zarvel-bench --generate PATH              just write the data file, e.g. to time
//                                             `zarvel-cli info PATH` as a whole process
//
// The data file is generated once per run into ZARVEL_BENCH_DIR (default TMPDIR or /tmp)
// and removed at exit. This file also holds main() for all of zarvel-bench.

#include "bench/BenchData.h"
#include "core/ByteBuffer.h"
#include "core/CSVReader.h"
#include "core/CSVWriter.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

namespace zarvel::bench {
namespace {

struct BenchFile {
    std::string path;
    CSVShape shape;
};

void removeBenchFile();

SharedBytes loadFile(const std::string& path) {
    SharedBytes bytes;
    int error = 0;
    if (!readWholeFile(path, bytes, error)) {
        std::fprintf(stderr, "zarvel-bench: cannot read %s (error %d)\n", path.c_str(), error);
        std::exit(1);
    }
    return bytes;
}

BenchFile generateBenchFile() {
    std::string dir = "/tmp";
    if (const char* d = std::getenv("ZARVEL_BENCH_DIR"); d && *d)
        dir = d;
    else if (const char* t = std::getenv("TMPDIR"); t && *t)
        dir = t;
    BenchFile f;
    f.path = dir + "/zarvel-bench-" + std::to_string(::getpid()) + ".csv";
    std::fprintf(stderr, "Generating %zu MiB of delimited text in %s ...\n", benchDataBytes() >> 20,
                 f.path.c_str());
    if (!writeCSVFile(f.path, benchDataBytes(), 1, &f.shape)) {
        std::fprintf(stderr, "zarvel-bench: cannot write %s: %s\n", f.path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    // One untimed pass, so the first timed one does not pay for a cold page cache.
    benchmark::DoNotOptimize(loadFile(f.path).size());
    return f;
}

const BenchFile& benchFile() {
    static const BenchFile file = generateBenchFile();
    // Registered after the file exists, so it runs before the path's destructor.
    static const bool removedAtExit = std::atexit(removeBenchFile) == 0;
    (void)removedAtExit;
    return file;
}

void removeBenchFile() {
    std::remove(benchFile().path.c_str());
}

// The file's bytes and its table, kept for the benchmarks that start from memory.
const SharedBytes& benchBytes() {
    static const SharedBytes bytes = loadFile(benchFile().path);
    return bytes;
}

const CSVTable& benchTable() {
    static const CSVTable table = CSVReader::read(benchBytes()).table;
    return table;
}

void setBytes(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// The reference: the file into memory, then every line feed found.
void BM_ReferenceLoadAndCountLineFeeds(benchmark::State& state) {
    const std::string& path = benchFile().path;
    size_t size = 0;
    for (auto _ : state) {
        const SharedBytes bytes = loadFile(path);
        size = bytes.size();
        const char* p = bytes.data();
        const char* end = p + bytes.size();
        int64_t lines = 0;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) !=
               nullptr) {
            ++lines;
            ++p;
        }
        benchmark::DoNotOptimize(lines);
    }
    setBytes(state, size);
}

// What opening a document costs: the file into memory, then the whole read pipeline.
void BM_LoadAndRead(benchmark::State& state) {
    const std::string& path = benchFile().path;
    size_t size = 0;
    for (auto _ : state) {
        const SharedBytes bytes = loadFile(path);
        size = bytes.size();
        ReadResult result = CSVReader::read(bytes);
        benchmark::DoNotOptimize(result.table.rowCount());
    }
    setBytes(state, size);
}

// The read pipeline alone, on bytes already in memory.
void BM_Read(benchmark::State& state) {
    const SharedBytes& bytes = benchBytes();
    for (auto _ : state) {
        ReadResult result = CSVReader::read(bytes);
        benchmark::DoNotOptimize(result.table.rowCount());
    }
    setBytes(state, bytes.size());
}

// Saving an unedited file: every row copied from the source.
void BM_WriteUnedited(benchmark::State& state) {
    const CSVTable& table = benchTable();
    for (auto _ : state) {
        std::string out = CSVWriter::write(table, table.format());
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, benchBytes().size());
}

// Saving with another delimiter: every field quoted and escaped afresh.
void BM_WriteTabDelimited(benchmark::State& state) {
    const CSVTable& table = benchTable();
    FileFormat format = table.format();
    format.dialect = CSVDialect::tab();
    for (auto _ : state) {
        std::string out = CSVWriter::write(table, format);
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, benchBytes().size());
}

// Saving an unedited file in blocks, as a save to disk does: memory stays one block.
void BM_WriteUneditedInBlocks(benchmark::State& state) {
    const CSVTable& table = benchTable();
    for (auto _ : state) {
        size_t written = 0;
        CSVWriter::write(table, table.format(),
                         [&written](std::string_view block) { written += block.size(); });
        benchmark::DoNotOptimize(written);
    }
    setBytes(state, benchBytes().size());
}

// Whole-gigabyte passes are long enough that a few iterations give a steady figure.
BENCHMARK(BM_ReferenceLoadAndCountLineFeeds)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_LoadAndRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_WriteUnedited)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_WriteTabDelimited)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_WriteUneditedInBlocks)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);

// The console report, followed by each read and write rate as a share of the reference.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && rate != run.counters.end())
                rates_[run.run_name.function_name] = rate->second.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto reference = rates_.find("BM_ReferenceLoadAndCountLineFeeds");
        if (reference == rates_.end() || reference->second <= 0) return;
        const CSVShape& shape = benchFile().shape;
        const double mib = 1024.0 * 1024.0;
        std::printf("\nData: %lld bytes, %lld rows, %lld fields\n", static_cast<long long>(shape.bytes),
                    static_cast<long long>(shape.rows), static_cast<long long>(shape.fields));
        std::printf("Reference (load + memchr line feeds): %.0f MB/s\n", reference->second / 1e6);
        for (const auto& [name, rate] : rates_) {
            if (name != reference->first)
                std::printf(
                    "%-34s %8.0f MB/s  %.3f of reference%s\n", name.c_str(), rate / 1e6,
                    rate / reference->second,
                    name.find("Read") != std::string::npos
                        ? (rate * 2 >= reference->second ? "  (target 0.5: met)" : "  (target 0.5: MISSED)")
                        : "");
        }
        const double budget = static_cast<double>(shape.bytes) + 4.5 * static_cast<double>(shape.fields) +
                              16.0 * static_cast<double>(shape.rows) + 64.0 * mib;
        std::printf("Peak memory budget for reading it (file + 4.5 B/field + 16 B/row + 64 MiB): %.0f MiB\n",
                    budget / mib);
    }

private:
    std::map<std::string, double> rates_;
};

int generate(const char* path) {
    CSVShape shape;
    if (!writeCSVFile(path, benchDataBytes(), 1, &shape)) {
        std::fprintf(stderr, "zarvel-bench: cannot write %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    std::printf("%s: %lld bytes, %lld rows, %lld fields\n", path, static_cast<long long>(shape.bytes),
                static_cast<long long>(shape.rows), static_cast<long long>(shape.fields));
    return 0;
}

} // namespace
} // namespace zarvel::bench

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--generate") == 0) {
        if (argc != 3) {
            std::fprintf(stderr,
                         "usage: zarvel-bench --generate PATH   (size from ZARVEL_BENCH_MB, default 1024)\n");
            return 2;
        }
        return zarvel::bench::generate(argv[2]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    zarvel::bench::RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                                : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
