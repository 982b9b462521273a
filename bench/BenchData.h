// BenchData: deterministic delimited text for the benchmarks, made on the fly.
//
//   std::string csv = zarvel::bench::generateCSV(64 << 20, 1);  // about 64 MiB
//
// Ten comma-separated columns under a header row: numbers (integers, decimals, signed),
// words with some non-ASCII letters, dates, codes, empty cells, quoted fields holding
// commas, quoted fields with doubled quotes, and now and then a quoted line break.
// Rows are about 100 bytes, so a gigabyte holds roughly ten million rows and a hundred
// million fields. The same size and seed always give the same bytes.
//
// The zarvel-bench executable defines main() (in ReadWriteBench.cpp), so benchmark
// files must not add BENCHMARK_MAIN().
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace zarvel::bench {

struct CSVShape {
    int64_t rows = 0;   // header row included
    int64_t fields = 0; // rows × 10
    int64_t bytes = 0;
};

// Size of the large benchmark data: ZARVEL_BENCH_MB mebibytes, 1024 by default.
inline size_t benchDataBytes() {
    size_t mebibytes = 1024;
    if (const char* env = std::getenv("ZARVEL_BENCH_MB")) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(env, &end, 10);
        if (end != env && *end == '\0' && v > 0) mebibytes = static_cast<size_t>(v);
    }
    return mebibytes << 20;
}

class CSVGenerator {
public:
    explicit CSVGenerator(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}

    // Appends whole rows (header first) until `out` holds at least `size` bytes.
    void appendUntil(std::string& out, size_t size) {
        if (shape_.rows == 0 && out.size() < size) {
            const size_t before = out.size();
            out += "id,name,city,amount,quantity,date,description,code,ratio,note\n";
            count(out.size() - before);
        }
        while (out.size() < size) {
            const size_t before = out.size();
            appendRow(out);
            count(out.size() - before);
        }
    }

    const CSVShape& shape() const { return shape_; }

private:
    static constexpr std::string_view firstNames[] = {"Anna",   "Ben",    "Chloé", "David", "Emma",  "Felix",
                                                      "Greta",  "Hugo",   "Ines",  "Jonas", "Karin", "Leon",
                                                      "Maja",   "Noah",   "Olga",  "Paul",  "Rosa",  "Sven",
                                                      "Tereza", "Ulrich", "Vera",  "Wim",   "Xenia", "Zoë"};
    static constexpr std::string_view lastNames[] = {
        "Müller", "Smith", "Novák", "García", "Rossi",   "Jansen",    "Dubois", "Nowak",
        "Silva",  "Berg",  "Kovač", "Olsen",  "Fischer", "Lindqvist", "Moreau", "Horvat"};
    static constexpr std::string_view cities[] = {
        "Berlin", "Zürich", "Kraków", "São Paulo", "Lyon",  "Oslo",      "Brno", "Málaga",
        "Gdańsk", "Porto",  "Wien",   "Göteborg",  "Turku", "Reykjavík", "東京", "Québec"};
    static constexpr std::string_view words[] = {
        "apple",  "quiet",  "river",  "stone",  "paper",  "orange", "window", "silver",
        "garden", "yellow", "engine", "little", "market", "summer", "winter", "copper",
        "bridge", "candle", "forest", "harbor", "island", "jacket", "ladder", "marble",
        "needle", "pepper", "rocket", "saddle", "tunnel", "velvet", "wagon",  "zebra"};

    uint64_t next() { // xorshift64*: fast, and the same sequence on every machine
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
    template <size_t N> std::string_view pick(const std::string_view (&list)[N]) { return list[below(N)]; }

    void count(size_t bytes) {
        ++shape_.rows;
        shape_.fields += 10;
        shape_.bytes += static_cast<int64_t>(bytes);
    }

    static void appendUnsigned(std::string& out, uint64_t v) {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0)
            out += digits[--n];
    }
    static void appendPadded(std::string& out, uint32_t v, int width) {
        char digits[10];
        for (int i = width - 1; i >= 0; --i, v /= 10)
            digits[i] = static_cast<char>('0' + v % 10);
        out.append(digits, static_cast<size_t>(width));
    }

    void appendRow(std::string& out) {
        // id
        appendUnsigned(out, static_cast<uint64_t>(shape_.rows));
        out += ',';
        // name: a quarter as "Last, First", which must be quoted for the comma
        if (below(4) == 0) {
            out += '"';
            out += pick(lastNames);
            out += ", ";
            out += pick(firstNames);
            out += '"';
        } else {
            out += pick(firstNames);
            out += ' ';
            out += pick(lastNames);
        }
        out += ',';
        // city
        out += pick(cities);
        out += ',';
        // amount: signed decimal
        if (below(3) == 0) out += '-';
        appendUnsigned(out, below(100000));
        out += '.';
        appendPadded(out, below(100), 2);
        out += ',';
        // quantity
        appendUnsigned(out, below(10000));
        out += ',';
        // date
        out += "20";
        appendPadded(out, 10 + below(15), 2);
        out += '-';
        appendPadded(out, 1 + below(12), 2);
        out += '-';
        appendPadded(out, 1 + below(28), 2);
        out += ',';
        // description: a few words; some quoted with doubled quotes, a few with a line break
        appendDescription(out);
        out += ',';
        // code
        out += static_cast<char>('A' + below(26));
        out += static_cast<char>('A' + below(26));
        out += '-';
        appendPadded(out, below(100000), 5);
        out += ',';
        // ratio: often empty
        if (below(5) != 0) {
            out += "0.";
            appendPadded(out, below(1000), 3);
        }
        out += ',';
        // note: a word, empty, or a quoted list
        switch (below(10)) {
        case 0:
            out += '"';
            out += pick(words);
            out += ", ";
            out += pick(words);
            out += '"';
            break;
        case 1:
        case 2:
            break;
        default:
            out += pick(words);
        }
        out += '\n';
    }

    void appendDescription(std::string& out) {
        const uint32_t kind = below(1000);
        const uint32_t wordCount = 2 + below(4);
        if (kind < 50) { // say "this" or "that"
            out += '"';
            out += pick(words);
            out += " \"\"";
            out += pick(words);
            out += "\"\" ";
            out += pick(words);
            out += '"';
        } else if (kind < 52) { // two lines inside one field
            out += '"';
            out += pick(words);
            out += ' ';
            out += pick(words);
            out += '\n';
            out += pick(words);
            out += '"';
        } else {
            for (uint32_t i = 0; i < wordCount; ++i) {
                if (i > 0) out += ' ';
                out += pick(words);
            }
        }
    }

    uint64_t state_;
    CSVShape shape_;
};

// About `targetBytes` of delimited text (whole rows, ending with a line feed).
inline std::string generateCSV(size_t targetBytes, uint64_t seed = 1, CSVShape* shape = nullptr) {
    std::string out;
    out.reserve(targetBytes + 256);
    CSVGenerator generator(seed);
    generator.appendUntil(out, targetBytes);
    if (shape) *shape = generator.shape();
    return out;
}

// Writes the same text as generateCSV to `path` in pieces, without holding it whole.
inline bool writeCSVFile(const std::string& path, size_t targetBytes, uint64_t seed = 1,
                         CSVShape* shape = nullptr) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    CSVGenerator generator(seed);
    std::string chunk;
    constexpr size_t chunkBytes = 8 << 20;
    chunk.reserve(chunkBytes + 4096);
    size_t written = 0;
    bool ok = true;
    while (ok && written < targetBytes) {
        chunk.clear();
        // Rows are whole either way, so cutting at chunk boundaries keeps the bytes identical.
        const size_t goal = std::min(chunkBytes, targetBytes - written);
        generator.appendUntil(chunk, goal);
        ok = std::fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size();
        written += chunk.size();
    }
    // On disk before anyone times reading it, so no write-back competes with the reads.
    ok = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (shape) *shape = generator.shape();
    return ok;
}

} // namespace zarvel::bench
