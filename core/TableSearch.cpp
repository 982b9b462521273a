#include "core/TableSearch.h"

#include "core/FieldIndexer.h"
#include "core/UTF8.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

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
void markCandidates(const CSVTable& table, Prefilter& prefilter, int64_t start, int64_t end,
                    uint8_t* candidates, const std::stop_token& stop) {
    for (int64_t block = start; block < end;) {
        if (stop.stop_requested()) return;
        const int64_t blockEnd = std::min(end, block + cancellationInterval);
        prefilter.scan(table, static_cast<uint32_t>(block), blockEnd - block,
                       [&](int64_t i) { candidates[block + i] = 1; });
        block = blockEnd;
    }
}

template <class CellMatcher> class ChunkSearch {
public:
    // `candidates` marks the source rows that passed the prefilter; null: no prefilter.
    ChunkSearch(const CSVTable& table, CellMatcher& matcher, const uint8_t* candidates,
                std::vector<CellPosition>& out)
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
        const PackedRow& row = table_.editedRow(entry);
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
    CellMatcher& matcher_;
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

namespace {

// The parallel search over `table`: a prefilter pass for `needle` (none when empty or
// not usable), then every candidate and edited row decoded and given to a matcher that
// `makeMatcher` builds once per chunk.
template <class MakeMatcher>
std::vector<CellPosition> searchTable(const CSVTable& table, const std::string& needle,
                                      bool needleCaseSensitive, const std::stop_token& stop, int workers,
                                      bool allowPrefilter, MakeMatcher&& makeMatcher) {
    const int64_t n = table.rowCount();
    const int64_t cores = workers > 0 ? workers : std::max<int64_t>(std::thread::hardware_concurrency(), 1);

    // First the source text in file order, marking rows that may match; then the table's
    // rows in their order, decoding only marked rows and every edited one.
    std::vector<uint8_t> candidates;
    const bool prefiltered =
        !needle.empty() &&
        Prefilter(needle, needleCaseSensitive, table.sourceDialect(), allowPrefilter).usable();
    if (prefiltered) {
        candidates.assign(static_cast<size_t>(table.index().rowCount()), 0);
        inChunks(table.index().rowCount(), cores, [&](size_t, int64_t start, int64_t end) {
            Prefilter prefilter(needle, needleCaseSensitive, table.sourceDialect(), allowPrefilter);
            markCandidates(table, prefilter, start, end, candidates.data(), stop);
        });
    }

    // Each chunk's matches land in their own slot, so joining the slots in chunk order
    // yields the (row, column) order whoever finished first.
    std::vector<std::vector<CellPosition>> results(chunkCountFor(n, cores));
    inChunks(n, cores, [&](size_t chunk, int64_t start, int64_t end) {
        auto matcher = makeMatcher();
        ChunkSearch(table, matcher, prefiltered ? candidates.data() : nullptr, results[chunk])
            .run(start, end, stop);
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

} // namespace

std::vector<CellPosition> find(std::string_view query, const CSVTable& table, bool caseSensitive,
                               std::stop_token stop, int workers, bool allowPrefilter) {
    if (query.empty() || table.rowCount() == 0) return {};
    const std::string needle = Matcher(query, caseSensitive).needle();
    return searchTable(table, needle, caseSensitive, stop, workers, allowPrefilter,
                       [&] { return Matcher(query, caseSensitive); });
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

// --- Regular expressions ---------------------------------------------------------------

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
    // What the prefilter looks for (empty: no prefilter), and whether ignoring case.
    std::string literal;
    bool literalCaseSensitive = true;
};

namespace {

// ICU's errors in plain words; anything else by its ICU name.
std::string regexErrorWording(UErrorCode status) {
    switch (status) {
    case U_REGEX_RULE_SYNTAX:
        return "Syntax error";
    case U_REGEX_BAD_ESCAPE_SEQUENCE:
        return "Unknown backslash escape";
    case U_REGEX_PROPERTY_SYNTAX:
        return "Bad Unicode property";
    case U_REGEX_UNIMPLEMENTED:
        return "Unsupported construct";
    case U_REGEX_MISMATCHED_PAREN:
        return "Unbalanced parenthesis";
    case U_REGEX_NUMBER_TOO_BIG:
        return "Number too big";
    case U_REGEX_BAD_INTERVAL:
        return "Bad {min,max} interval";
    case U_REGEX_MAX_LT_MIN:
        return "Maximum below minimum in {min,max}";
    case U_REGEX_INVALID_BACK_REF:
        return "Back reference to a missing group";
    case U_REGEX_INVALID_FLAG:
        return "Invalid flag";
    case U_REGEX_LOOK_BEHIND_LIMIT:
        return "Look-behind without a bounded length";
    case U_REGEX_SET_CONTAINS_STRING:
        return "Set contains a string";
    case U_REGEX_MISSING_CLOSE_BRACKET:
        return "Missing closing bracket";
    case U_REGEX_INVALID_RANGE:
        return "Invalid character range";
    case U_REGEX_PATTERN_TOO_BIG:
        return "Pattern too big";
    case U_REGEX_INVALID_CAPTURE_GROUP_NAME:
        return "Invalid group name";
    default:
        return u_errorName(status);
    }
}

// Ignoring case, ICU matches a character whose full case folding is several characters
// (ß to ss, the ligature ﬁ to fi, ẖ to h and a combining mark) where a pattern spells
// that folding out. A literal's raw form may then hold such a character instead of the
// letters: in the middle (an all-ASCII folding inside the literal) or at either end (a
// folding that runs over the literal's edge).
struct FoldHazards {
    std::vector<std::string> asciiFolds; // all-ASCII foldings of one character
    std::array<bool, 128> badFirst{};    // a letter seen after the start of a folding
    std::array<bool, 128> badLast{};     // a letter seen before the end of a folding
};

const FoldHazards& foldHazards() {
    static const FoldHazards hazards = [] {
        FoldHazards h;
        for (UChar32 c = 0x80; c <= 0x10FFFF; ++c) {
            UChar source[2];
            int32_t length = 0;
            U16_APPEND_UNSAFE(source, length, c);
            UChar folded[8];
            UErrorCode status = U_ZERO_ERROR;
            const int32_t n = u_strFoldCase(folded, 8, source, length, U_FOLD_CASE_DEFAULT, &status);
            if (U_FAILURE(status) || n < 2) continue;
            std::string ascii;
            for (int32_t i = 0; i < n; ++i) {
                if (folded[i] >= 0x80) continue;
                if (i > 0) h.badFirst[folded[i]] = true;
                if (i + 1 < n) h.badLast[folded[i]] = true;
                ascii.push_back(static_cast<char>(folded[i]));
            }
            if (static_cast<int32_t>(ascii.size()) == n &&
                std::find(h.asciiFolds.begin(), h.asciiFolds.end(), ascii) == h.asciiFolds.end())
                h.asciiFolds.push_back(ascii);
        }
        return h;
    }();
    return hazards;
}

bool isAsciiAlnum(uint8_t b) {
    return (b >= '0' && b <= '9') || (asciiLower(b) >= 'a' && asciiLower(b) <= 'z');
}

} // namespace

std::pair<std::string, bool> requiredLiteral(std::string_view pattern, bool caseSensitive) {
    // Only a plain sequence at the top level is read: each run of literal characters
    // there is in every match. Anything unsure yields no literal: alternation, inline
    // options other than a leading (?i), quoting with \Q.
    if (pattern.starts_with("(?i)")) {
        caseSensitive = false;
        pattern.remove_prefix(4);
    }
    std::vector<std::string> runs(1);
    auto breakRun = [&] {
        if (!runs.back().empty()) runs.emplace_back();
    };
    auto dropLast = [&] { // a quantifier makes the character before it optional or repeated
        if (!runs.back().empty()) runs.back().pop_back();
        breakRun();
    };
    size_t i = 0;
    auto skipTo = [&](char close) { // past the matching `close`, honouring escapes
        while (i < pattern.size() && pattern[i] != close)
            i += pattern[i] == '\\' ? 2 : 1;
        ++i;
    };
    auto skipSet = [&] { // past a character set, nested sets and escapes included
        int sets = 0;
        for (; i < pattern.size(); ++i) {
            if (pattern[i] == '\\')
                ++i;
            else if (pattern[i] == '[')
                ++sets;
            else if (pattern[i] == ']' && --sets == 0)
                break;
        }
        ++i;
    };
    int depth = 0;
    while (i < pattern.size()) {
        const auto b = static_cast<uint8_t>(pattern[i]);
        if (b == '|' || pattern.substr(i).starts_with("(?") || pattern.substr(i).starts_with("\\Q"))
            return {};
        if (depth > 0) { // inside a group: only its end matters
            if (b == '\\')
                i += 2;
            else if (b == '[') {
                skipSet();
            } else {
                depth += b == '(' ? 1 : b == ')' ? -1 : 0;
                ++i;
            }
            continue;
        }
        switch (b) {
        case '(':
            ++depth;
            breakRun();
            ++i;
            break;
        case '[': {
            skipSet();
            breakRun();
            break;
        }
        case '?':
        case '*':
        case '+':
            dropLast();
            ++i;
            break;
        case '{':
            dropLast();
            skipTo('}');
            break;
        case '\\': {
            const auto next = i + 1 < pattern.size() ? static_cast<uint8_t>(pattern[i + 1]) : 0;
            i += 2;
            if (next != 0 && next < 0x80 && !isAsciiAlnum(next)) {
                runs.back().push_back(static_cast<char>(next)); // an escaped punctuation character
            } else {
                breakRun(); // a class, an anchor, a back reference or a code point
                if (i < pattern.size() && pattern[i] == '{') skipTo('}');
            }
            break;
        }
        case '.':
        case '^':
        case '$':
        case ')':
        case ']':
        case '}':
            breakRun();
            ++i;
            break;
        default:
            if (b >= 0x80) { // not ASCII: the prefilter only looks for ASCII
                breakRun();
                ++i;
                while (i < pattern.size() && (static_cast<uint8_t>(pattern[i]) & 0xC0) == 0x80)
                    ++i;
            } else {
                runs.back().push_back(static_cast<char>(b));
                ++i;
            }
        }
    }

    if (!caseSensitive) {
        // Lower-cased as the prefilter compares, split inside every spelled-out folding
        // and trimmed where a folding may run over an edge.
        const FoldHazards& hazards = foldHazards();
        std::vector<std::string> split;
        for (std::string& run : runs) {
            for (char& c : run)
                c = static_cast<char>(asciiLower(static_cast<uint8_t>(c)));
            size_t from = 0;
            for (size_t k = 1; k <= run.size(); ++k) {
                bool cut = k == run.size();
                for (const std::string& fold : hazards.asciiFolds)
                    cut = cut || std::string_view(run).substr(k - 1).starts_with(fold);
                if (!cut) continue;
                std::string piece = run.substr(from, k - from);
                from = k;
                while (!piece.empty() && hazards.badLast[static_cast<uint8_t>(piece.back())])
                    piece.pop_back();
                size_t first = 0;
                while (first < piece.size() && hazards.badFirst[static_cast<uint8_t>(piece[first])])
                    ++first;
                split.push_back(piece.substr(first));
            }
        }
        runs = std::move(split);
    }
    std::string best;
    for (const std::string& run : runs)
        if (run.size() > best.size()) best = run;
    return {best, caseSensitive};
}

Regex::Regex(std::string_view pattern, bool caseSensitive) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(text, caseSensitive ? 0 : UREGEX_CASE_INSENSITIVE, where, status));
    if (U_FAILURE(status) || !compiled) {
        error_ = regexErrorWording(status);
        if (where.offset >= 0) {
            // ICU counts UTF-16 units; a person counts characters, from 1.
            const int32_t offset = std::min(where.offset, text.length());
            error_ += " at character " + std::to_string(text.countChar32(0, offset) + 1);
        }
        return;
    }
    auto c = std::make_shared<Compiled>();
    c->pattern = std::move(compiled);
    std::tie(c->literal, c->literalCaseSensitive) = requiredLiteral(pattern, caseSensitive);
    compiled_ = std::move(c);
}

namespace {

// One ICU matcher over the shared pattern, fed one cell at a time as UTF-8 (ICU's
// native indices are then byte offsets into the cell). A long-running match looks at
// `stop` and gives up, so a catastrophic pattern cannot outlast a cancel.
class RegexCellMatcher {
public:
    // `precheck`: look for the pattern's exact-case literal before running ICU.
    explicit RegexCellMatcher(const Regex::Compiled& compiled, std::stop_token stop = {},
                              bool precheck = false)
        : stop_(std::move(stop)),
          literal_(precheck && compiled.literalCaseSensitive ? compiled.literal : std::string()) {
        UErrorCode status = U_ZERO_ERROR;
        matcher_.reset(compiled.pattern->matcher(status));
        if (U_FAILURE(status)) matcher_.reset();
        if (matcher_ && stop_.stop_possible()) {
            matcher_->setMatchCallback(&RegexCellMatcher::keepGoing, this, status);
        }
    }
    RegexCellMatcher(RegexCellMatcher&& other) noexcept
        : stop_(std::move(other.stop_)), literal_(std::move(other.literal_)),
          matcher_(std::move(other.matcher_)) {
        UErrorCode status = U_ZERO_ERROR;
        if (matcher_ && stop_.stop_possible())
            matcher_->setMatchCallback(&RegexCellMatcher::keepGoing, this, status);
    }
    ~RegexCellMatcher() { utext_close(&text_); }

    bool reset(std::string_view cell) {
        if (!matcher_) return false;
        UErrorCode status = U_ZERO_ERROR;
        utext_openUTF8(&text_, cell.data(), static_cast<int64_t>(cell.size()), &status);
        if (U_FAILURE(status)) return false;
        matcher_->reset(&text_);
        return true;
    }

    // A cell without the literal every match holds is settled without ICU (most cells of
    // a row that passed the prefilter for another of its cells).
    bool contains(std::string_view cell) {
        if (!literal_.empty() && !containsBytes(cell, literal_)) return false;
        return reset(cell) && matcher_->find();
    }

    icu::RegexMatcher& matcher() { return *matcher_; }

private:
    static UBool U_CALLCONV keepGoing(const void* self, int32_t) {
        return !static_cast<const RegexCellMatcher*>(self)->stop_.stop_requested();
    }

    std::stop_token stop_;
    std::string literal_; // exact case only; empty: none
    std::unique_ptr<icu::RegexMatcher> matcher_;
    UText text_ = UTEXT_INITIALIZER;
};

} // namespace

bool Regex::matches(std::string_view text) const {
    if (!compiled_) return false;
    return RegexCellMatcher(*compiled_).contains(text);
}

std::string Regex::replacing(std::string_view replacement, std::string_view text) const {
    if (!compiled_) return std::string(text);
    RegexCellMatcher cell(*compiled_);
    if (!cell.reset(text)) return std::string(text);
    icu::RegexMatcher& m = cell.matcher();
    const int32_t groups = m.groupCount();
    std::string out;
    size_t copied = 0;
    while (m.find()) {
        UErrorCode status = U_ZERO_ERROR;
        const auto start = static_cast<size_t>(m.start64(status));
        const auto end = static_cast<size_t>(m.end64(status));
        if (U_FAILURE(status)) break;
        out.append(text.substr(copied, start - copied));
        for (size_t k = 0; k < replacement.size(); ++k) {
            const char c = replacement[k];
            const char next = k + 1 < replacement.size() ? replacement[k + 1] : '\0';
            if (c == '\\' && (next == '$' || next == '\\')) {
                out.push_back(next);
                ++k;
            } else if (c == '$' && next >= '0' && next <= '9' && next - '0' <= groups) {
                const int32_t group = next - '0';
                const int64_t gs = m.start64(group, status), ge = m.end64(group, status);
                if (U_SUCCESS(status) && gs >= 0) // a group that took no part adds nothing
                    out.append(text.substr(static_cast<size_t>(gs), static_cast<size_t>(ge - gs)));
                ++k;
            } else {
                out.push_back(c); // $ before anything else, or a group the pattern lacks, stays
            }
        }
        copied = end;
    }
    return out.append(text.substr(std::min(copied, text.size())));
}

std::vector<CellPosition> find(const Regex& regex, const CSVTable& table, std::stop_token stop, int workers,
                               bool allowPrefilter) {
    const Regex::Compiled* compiled = regex.compiled();
    if (!compiled || table.rowCount() == 0) return {};
    return searchTable(table, compiled->literal, compiled->literalCaseSensitive, stop, workers,
                       allowPrefilter, [&] { return RegexCellMatcher(*compiled, stop, allowPrefilter); });
}

std::optional<std::vector<CellChange>> replacements(const CSVTable& table,
                                                    std::span<const CellPosition> matches,
                                                    const CellRewrite& replace, std::stop_token stop,
                                                    int workers, std::atomic<int64_t>* done) {
    const auto n = static_cast<int64_t>(matches.size());
    const int64_t cores = workers > 0 ? workers : std::max<int64_t>(std::thread::hardware_concurrency(), 1);
    // One slot per match, written by whichever chunk holds it and compacted afterwards:
    // the changes are built once, in place, in the order of the matches.
    constexpr int64_t unchanged = -1;
    std::vector<CellChange> changes(matches.size(), CellChange{0, unchanged, {}});
    std::atomic<bool> stopped{false};
    inChunks(n, cores, [&](size_t, int64_t start, int64_t end) {
        constexpr int64_t stride = 4096;
        for (int64_t from = start; from < end; from += stride) {
            if (stop.stop_requested()) {
                stopped = true;
                return;
            }
            const int64_t to = std::min(from + stride, end);
            for (int64_t i = from; i < to; ++i) {
                const CellPosition& m = matches[static_cast<size_t>(i)];
                if (m.row < table.firstDataRow() || m.row >= table.rowCount() || m.column < 0 ||
                    m.column >= table.columnCount())
                    continue;
                const std::string value = table.value(m.row, m.column);
                std::string replaced = replace(value);
                if (replaced != value)
                    changes[static_cast<size_t>(i)] = {m.row, m.column, std::move(replaced)};
            }
            if (done) done->fetch_add(to - from, std::memory_order_relaxed);
        }
    });
    if (stopped || stop.stop_requested()) return std::nullopt;
    std::erase_if(changes, [](const CellChange& c) { return c.column == unchanged; });
    return changes;
}

} // namespace zarvel::TableSearch
