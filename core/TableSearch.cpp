#include "core/TableSearch.h"

#include "core/FieldIndexer.h"
#include "core/UTF8.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace zarvel::TableSearch {
namespace {

bool containsBytes(std::string_view haystack, std::string_view needle) {
    return ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

inline uint8_t asciiLower(uint8_t b) {
    return static_cast<uint8_t>(b + (static_cast<uint8_t>(b - 'A') < 26 ? 0x20 : 0));
}

char* encode(char32_t c, char* w) {
    if (c < 0x80) {
        *w++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *w++ = static_cast<char>(0xC0 | (c >> 6));
        *w++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (c >> 12));
        *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *w++ = static_cast<char>(0xF0 | (c >> 18));
        *w++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return w;
}

// Simple case folding, one code point to one code point. Because it never changes the
// number of code points, a match in folded text maps back to the original text exactly.
char32_t foldScalar(char32_t c) {
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

// Appends `text` case-folded; ill-formed UTF-8 reads as U+FFFD on both sides of a comparison.
void appendFolded(std::string& out, std::string_view text) {
    const size_t base = out.size();
    out.resize(base + 3 * text.size()); // a byte never folds to more than three
    char* w = out.data() + base;
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<uint8_t>(text[i]);
        if (b < 0x80) {
            *w++ = static_cast<char>(asciiLower(b));
            ++i;
            continue;
        }
        w = encode(foldScalar(UTF8::decodeNext(text, i)), w);
    }
    out.resize(static_cast<size_t>(w - out.data()));
}

std::string folded(std::string_view text) {
    std::string out;
    appendFolded(out, text);
    return out;
}

// For each ASCII byte, the UTF-8 of the non-ASCII characters that fold to it (KELVIN SIGN
// to k, LONG S to s): ignoring case, a raw row may hold one of these where the text
// holds the ASCII letter.
const std::array<std::vector<std::string>, 128>& asciiFoldSources() {
    static const std::array<std::vector<std::string>, 128> sources = [] {
        std::array<std::vector<std::string>, 128> s;
        for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
            const char32_t f = foldScalar(c);
            if (f < 0x80) {
                char bytes[4];
                s[f].emplace_back(bytes, encode(c, bytes));
            }
        }
        return s;
    }();
    return sources;
}

// The matching rule with the query prepared once.
class Matcher {
public:
    Matcher(std::string_view query, bool caseSensitive)
        : ignoreCase_(!caseSensitive), needle_(caseSensitive ? std::string(query) : folded(query)) {}

    const std::string& needle() const { return needle_; }

    bool contains(std::string_view text) {
        if (!ignoreCase_) return containsBytes(text, needle_);
        foldedText_.clear();
        appendFolded(foldedText_, text);
        return containsBytes(foldedText_, needle_);
    }

private:
    bool ignoreCase_;
    std::string needle_;
    std::string foldedText_;
};

// How often a byte turns up in typical delimited text, roughly; the prefilter looks for
// the rarest byte of its needle first.
int byteCommonness(uint8_t b, bool bothCases) {
    static constexpr std::string_view byFrequency = "etaoinshrdlcumwfgypbvkjxqz";
    if (b >= 'a' && b <= 'z') {
        const auto rank = static_cast<int>(byFrequency.find(static_cast<char>(b)));
        return (26 - rank) * 4 * (bothCases ? 2 : 1) + 2;
    }
    if (b >= 'A' && b <= 'Z') return 20;
    if (b >= '0' && b <= '9') return 60;
    if (b == ' ') return 120;
    if (b == ',' || b == '.' || b == '-' || b == '\n' || b == '\t' || b == ';') return 50;
    return 10;
}

// Rejects source rows whose raw bytes cannot hold a match, before any cell is decoded.
//
// It looks for one segment of the needle: the longest run of ASCII bytes holding neither
// a backslash nor the quote character (the whole needle when it is plain ASCII). Decoding
// a source field only drops quote bytes, resolves escapes and turns ill-formed UTF-8 into
// U+FFFD, so an ASCII run of a cell's text is found in the raw row when quote bytes are
// skipped (a lone quote inside a quoted field is dropped: «"a"b"» reads as «ab»).
// Ignoring case, raw A-Z compare as a-z, and where the segment holds k or s the raw row
// may instead hold a non-ASCII character that folds to it (KELVIN SIGN, LONG S).
// It stands aside when the source dialect uses backslash escapes (decoding removes a
// backslash and joins the bytes around it: «"a\bc"» reads as «abc») and when the needle
// has no such segment.
class Prefilter {
public:
    Prefilter(std::string_view needle, bool caseSensitive, const CSVDialect& dialect, bool allowed)
        : ignoreCase_(!caseSensitive), quote_(dialect.quote ? *dialect.quote : -1) {
        if (!allowed || dialect.escape == CSVDialect::Escape::backslash) return;
        auto breaks = [&](uint8_t b) {
            return b >= 0x80 || b == Byte::backslash ||
                   (quote_ >= 0 &&
                    (b == quote_ || (ignoreCase_ && b == asciiLower(static_cast<uint8_t>(quote_)))));
        };
        for (size_t i = 0; i < needle.size();) {
            size_t j = i;
            while (j < needle.size() && !breaks(static_cast<uint8_t>(needle[j])))
                ++j;
            if (j - i > segment_.size()) segment_ = needle.substr(i, j - i);
            i = j + 1;
        }
        if (segment_.empty()) return;
        usable_ = true;

        // The anchor: the rarest byte, avoiding letters that non-ASCII characters fold to.
        auto cost = [&](uint8_t b) {
            return byteCommonness(b, ignoreCase_) + static_cast<int>(alternatives(b).size()) * 1000;
        };
        for (size_t k = 1; k < segment_.size(); ++k)
            if (cost(static_cast<uint8_t>(segment_[k])) < cost(static_cast<uint8_t>(segment_[anchor_])))
                anchor_ = k;
        const auto a = static_cast<uint8_t>(segment_[anchor_]);
        anchorBytes_.push_back(a);
        if (ignoreCase_ && a >= 'a' && a <= 'z') anchorBytes_.push_back(a - 0x20);
        for (const std::string& alt : alternatives(a))
            anchorBytes_.push_back(static_cast<uint8_t>(alt.front()));
        nextFound_.assign(anchorBytes_.size(), nullptr);
    }

    bool usable() const { return usable_; }

    // Calls `pass(i)` for each source row first + i (i < count, ascending) whose raw bytes
    // may hold a match. Consecutive source rows are contiguous in the source, so a run is
    // scanned as one stretch of bytes and rows without a candidate cost nothing.
    template <class Pass> void scan(const CSVTable& table, uint32_t first, int64_t count, Pass&& pass) {
        const FieldIndex& index = table.index();
        const char* base = table.source().data();
        const char* const end = base + index.rowContentEnds[static_cast<size_t>(first + count - 1)];
        const char* p = base + index.rowRange(first).first;
        std::fill(nextFound_.begin(), nextFound_.end(), nullptr);
        int64_t i = 0;
        while (true) {
            const char* at = nextAnchor(p, end);
            if (at == end) return;
            while (base + index.rowContentEnds[static_cast<size_t>(first + i)] <= at)
                ++i;
            const auto [s, e] = index.rowRange(first + i);
            if (at >= base + s && matchesAround(at, base + s, base + e)) {
                pass(i);
                if (++i == count) return;
                p = base + index.rowRange(first + i).first;
            } else {
                p = at + 1;
            }
        }
    }

private:
    const std::vector<std::string>& alternatives(uint8_t b) const {
        static const std::vector<std::string> none;
        return ignoreCase_ ? asciiFoldSources()[b] : none;
    }

    bool isQuote(const char* p) const { return static_cast<uint8_t>(*p) == quote_; }
    bool same(char raw, uint8_t wanted) const {
        const auto b = static_cast<uint8_t>(raw);
        return (ignoreCase_ ? asciiLower(b) : b) == wanted;
    }

    // Matches one needle character at p (after any quote bytes) within p ..< hi; returns
    // the position after it, or null.
    const char* forward(const char* p, const char* hi, uint8_t wanted) const {
        while (p < hi && isQuote(p))
            ++p;
        if (p >= hi) return nullptr;
        if (same(*p, wanted)) return p + 1;
        for (const std::string& alt : alternatives(wanted)) {
            const char* q = p;
            bool ok = true;
            for (size_t k = 0; ok && k < alt.size(); ++k) {
                while (k > 0 && q < hi && isQuote(q))
                    ++q;
                ok = q < hi && *q == alt[k];
                ++q;
            }
            if (ok) return q;
        }
        return nullptr;
    }

    // Matches one needle character ending just before p (after any quote bytes) within
    // lo ..< p; returns the position of its first byte, or null.
    const char* backward(const char* p, const char* lo, uint8_t wanted) const {
        while (p > lo && isQuote(p - 1))
            --p;
        if (p == lo) return nullptr;
        if (same(p[-1], wanted)) return p - 1;
        for (const std::string& alt : alternatives(wanted)) {
            const char* q = p;
            bool ok = true;
            for (size_t k = alt.size(); ok && k-- > 0;) {
                while (k + 1 < alt.size() && q > lo && isQuote(q - 1))
                    --q;
                ok = q > lo && q[-1] == alt[k];
                --q;
            }
            if (ok) return q;
        }
        return nullptr;
    }

    // Whether the segment occurs with its anchor character starting at `at`, within lo ..< hi.
    bool matchesAround(const char* at, const char* lo, const char* hi) const {
        const char* after = forward(at, hi, static_cast<uint8_t>(segment_[anchor_]));
        if (!after) return false;
        const char* p = at;
        for (size_t k = anchor_; k-- > 0 && p;)
            p = backward(p, lo, static_cast<uint8_t>(segment_[k]));
        for (size_t k = anchor_ + 1; k < segment_.size() && after; ++k)
            after = forward(after, hi, static_cast<uint8_t>(segment_[k]));
        return p && after;
    }

    // The next byte at or after p that may start the anchor character; `end` when there
    // is none. The positions found are kept until passed, so each byte value is looked
    // for once per stretch.
    const char* nextAnchor(const char* p, const char* end) {
        const char* best = end;
        for (size_t k = 0; k < anchorBytes_.size(); ++k) {
            if (nextFound_[k] == nullptr || nextFound_[k] < p) {
                const void* hit =
                    p < end ? std::memchr(p, anchorBytes_[k], static_cast<size_t>(end - p)) : nullptr;
                nextFound_[k] = hit ? static_cast<const char*>(hit) : end;
            }
            best = std::min(best, nextFound_[k]);
        }
        return best;
    }

    bool ignoreCase_;
    int quote_;
    bool usable_ = false;
    std::string segment_;
    size_t anchor_ = 0;
    std::vector<int> anchorBytes_;
    std::vector<const char*> nextFound_;
};

constexpr int64_t cancellationInterval = 4096;
constexpr int64_t minimumChunkRows = 1024;

// One worker's pass over stored rows start ..< end.
// Marks the source rows whose raw bytes may hold the needle. PERF: the text is scanned
// in file order whatever order the table shows its rows in, so a sorted table costs the
// same one sequential pass as an unsorted one.
void markCandidates(const CSVTable& table, Prefilter& prefilter, int64_t start, int64_t end, uint8_t* candidates,
                    const std::stop_token& stop) {
    for (int64_t block = start; block < end;) {
        if (stop.stop_requested()) return;
        const int64_t blockEnd = std::min(end, block + cancellationInterval);
        prefilter.scan(table, static_cast<uint32_t>(block), blockEnd - block,
                       [&](int64_t i) { candidates[block + i] = 1; });
        block = blockEnd;
    }
}

class ChunkSearch {
public:
    // `candidates` marks the source rows that passed the prefilter; null: no prefilter.
    ChunkSearch(const CSVTable& table, Matcher& matcher, const uint8_t* candidates, std::vector<CellPosition>& out)
        : table_(table), matcher_(matcher), candidates_(candidates), out_(out) {}

    void run(int64_t start, int64_t end, const std::stop_token& stop) {
        // Stop requests are checked at the chunk's start and at every row that is a
        // multiple of 4096, so the rows between two checks form one block.
        for (int64_t block = start; block < end;) {
            if (stop.stop_requested()) return;
            const int64_t blockEnd = std::min(end, (block / cancellationInterval + 1) * cancellationInterval);
            for (int64_t r = block; r < blockEnd; ++r) {
                const RowRef& ref = table_.rowRef(r);
                if (ref.isEdited())
                    checkEdited(r, ref.number());
                else if (!candidates_ || candidates_[ref.number()])
                    checkOriginal(r, ref.number());
            }
            block = blockEnd;
        }
    }

private:
    void checkEdited(int64_t r, uint32_t entry) {
        const StringRow& row = table_.editedRow(entry);
        for (size_t c = 0; c < row.size(); ++c)
            if (matcher_.contains(row[c])) out_.push_back({r, static_cast<int64_t>(c)});
    }

    void checkOriginal(int64_t r, uint32_t sourceRow) {
        const std::vector<int32_t>& columnMap = table_.columnMap();
        for (size_t c = 0; c < columnMap.size(); ++c) {
            if (columnMap[c] < 0) continue; // a column without a source field is empty here
            cell_.clear();
            FieldIndexer::appendFieldValue(cell_, table_.sourceFieldBytes(sourceRow, columnMap[c]),
                                           table_.sourceDialect());
            if (matcher_.contains(cell_)) out_.push_back({r, static_cast<int64_t>(c)});
        }
    }

    const CSVTable& table_;
    Matcher& matcher_;
    const uint8_t* candidates_;
    std::vector<CellPosition>& out_;
    std::string cell_;
};

// Runs `task(start, end)` over 0 ..< n in about four chunks per worker (never below 1024
// items), on up to `workers` threads that take the chunks in turn.
template <class Task> void inChunks(int64_t n, int64_t workers, Task&& task) {
    if (n <= 0) return;
    const int64_t chunkTarget = std::max<int64_t>(4 * workers, 1);
    const int64_t chunkRows = std::max((n + chunkTarget - 1) / chunkTarget, minimumChunkRows);
    const auto chunkCount = static_cast<size_t>((n + chunkRows - 1) / chunkRows);
    std::atomic<size_t> nextChunk{0};
    auto work = [&] {
        for (size_t i = nextChunk++; i < chunkCount; i = nextChunk++) {
            const int64_t start = static_cast<int64_t>(i) * chunkRows;
            task(i, start, std::min(start + chunkRows, n));
        }
    };
    const auto threads = static_cast<size_t>(std::min<int64_t>(workers, static_cast<int64_t>(chunkCount)));
    std::vector<std::jthread> helpers;
    helpers.reserve(threads > 0 ? threads - 1 : 0);
    try {
        for (size_t i = 1; i < threads; ++i)
            helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones running take the remaining chunks.
    }
    work();
}

size_t chunkCountFor(int64_t n, int64_t workers) {
    const int64_t chunkTarget = std::max<int64_t>(4 * workers, 1);
    const int64_t chunkRows = std::max((n + chunkTarget - 1) / chunkTarget, minimumChunkRows);
    return static_cast<size_t>((n + chunkRows - 1) / chunkRows);
}

} // namespace

std::vector<CellPosition> find(std::string_view query, const CSVTable& table, bool caseSensitive,
                               std::stop_token stop, int workers, bool allowPrefilter) {
    const int64_t n = table.rowCount();
    if (query.empty() || n == 0) return {};
    const int64_t cores = workers > 0 ? workers : std::max<int64_t>(std::thread::hardware_concurrency(), 1);
    const std::string needle = Matcher(query, caseSensitive).needle();

    // First the source text in file order, marking rows that may match; then the table's
    // rows in their order, decoding only marked rows and every edited one.
    std::vector<uint8_t> candidates;
    const bool prefiltered = Prefilter(needle, caseSensitive, table.sourceDialect(), allowPrefilter).usable();
    if (prefiltered) {
        candidates.assign(static_cast<size_t>(table.index().rowCount()), 0);
        inChunks(table.index().rowCount(), cores, [&](size_t, int64_t start, int64_t end) {
            Prefilter prefilter(needle, caseSensitive, table.sourceDialect(), allowPrefilter);
            markCandidates(table, prefilter, start, end, candidates.data(), stop);
        });
    }

    // Each chunk's matches land in their own slot, so joining the slots in chunk order
    // yields the (row, column) order whoever finished first.
    std::vector<std::vector<CellPosition>> results(chunkCountFor(n, cores));
    inChunks(n, cores, [&](size_t chunk, int64_t start, int64_t end) {
        Matcher matcher(query, caseSensitive);
        ChunkSearch(table, matcher, prefiltered ? candidates.data() : nullptr, results[chunk]).run(start, end, stop);
    });

    size_t total = 0;
    for (const auto& r : results)
        total += r.size();
    std::vector<CellPosition> matches;
    matches.reserve(total);
    for (const auto& r : results)
        matches.insert(matches.end(), r.begin(), r.end());
    return matches;
}

bool matches(std::string_view text, std::string_view query, bool caseSensitive) {
    if (query.empty()) return false;
    return Matcher(query, caseSensitive).contains(text);
}

std::string replacing(std::string_view query, std::string_view replacement, std::string_view text,
                      bool caseSensitive) {
    if (query.empty()) return std::string(text);
    std::string out;
    if (caseSensitive) {
        size_t from = 0;
        for (size_t at = text.find(query); at != std::string_view::npos; at = text.find(query, from)) {
            out.append(text.substr(from, at - from)).append(replacement);
            from = at + query.size();
        }
        return out.append(text.substr(from));
    }

    // Fold the text, remembering for each folded character where it came from; a match
    // of the (well-formed) folded needle starts and ends on character boundaries.
    const std::string needle = folded(query);
    std::string haystack;
    std::vector<size_t> origin; // origin[folded offset] = text offset, at character starts
    haystack.reserve(text.size());
    origin.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        const char32_t c = foldScalar(UTF8::decodeNext(text, i));
        const size_t before = haystack.size();
        UTF8::appendScalar(haystack, c);
        origin.resize(haystack.size(), start);
        origin[before] = start;
    }
    origin.push_back(text.size());

    size_t from = 0;   // in the folded text
    size_t copied = 0; // in the original text
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, from)) {
        out.append(text.substr(copied, origin[at] - copied)).append(replacement);
        from = at + needle.size();
        copied = origin[from];
    }
    return out.append(text.substr(copied));
}

} // namespace zarvel::TableSearch
