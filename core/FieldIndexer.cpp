#include "core/FieldIndexer.h"

#include "core/CSVError.h"
#include "core/Processor.h"
#include "core/UTF8.h"

#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <shared_mutex>
#include <sys/mman.h>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace zarvel::FieldIndexer {

namespace {

// First position at or after p holding the delimiter, LF or CR; `count` when none.
// PERF: fields are usually short, so one 16-byte compare finds most ends; the scalar
// tail handles the last bytes without reading past the buffer.
inline size_t findFieldEnd(const uint8_t* bytes, size_t p, size_t count, uint8_t delimiter) {
#if defined(__SSE2__)
    const __m128i d = _mm_set1_epi8(static_cast<char>(delimiter));
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    while (p + 16 <= count) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p));
        const __m128i hit =
            _mm_or_si128(_mm_cmpeq_epi8(v, d), _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask) return p + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
    }
#endif
    while (p < count) {
        const uint8_t b = bytes[p];
        if (b == delimiter || b == '\n' || b == '\r') return p;
        ++p;
    }
    return count;
}

} // namespace

namespace {

// Where one reading of rows stopped.
struct Stop {
    size_t at = 0;       // the first row start at or after the target, or the end of the text
    bool gaveUp = false; // a row began past `giveUpAt`: the reading is abandoned
};

// The rows a reading appends to `result`, and the tallies kept on the way. Readings carry
// on from whatever `result` holds (the 64-byte reading hands rows to the other and back).
struct RowAppender {
    explicit RowAppender(Result& r) : result(r) { reload(); }
    Result& result;
    int64_t rows = 0;
    int64_t maxFields = 0;
    std::array<int64_t, 3> endings{};

    void reload() {
        rows = result.index.rowCount();
        maxFields = result.index.maxFieldCount;
        endings = result.lineEndingCounts;
    }
    // Writes the tallies back into the result.
    void settle() {
        result.index.maxFieldCount = maxFields;
        result.lineEndingCounts = endings;
    }
    [[gnu::always_inline]] void endRow(size_t end) {
        FieldIndex& index = result.index;
        index.rowContentEnds.push_back(end);
        if (index.fieldStarts.size() > std::numeric_limits<uint32_t>::max()) throw CSVError::fileTooLarge();
        const auto fieldsSoFar = static_cast<uint32_t>(index.fieldStarts.size());
        maxFields = std::max<int64_t>(maxFields, fieldsSoFar - index.rowFirstField.back());
        index.rowFirstField.push_back(fieldsSoFar);
        ++rows;
    }
    // The same for a row whose fields so far number `fieldsSoFar` (its next row's first
    // field may already be listed).
    [[gnu::always_inline]] void endRow(size_t end, uint64_t fieldsSoFar) {
        FieldIndex& index = result.index;
        index.rowContentEnds.push_back(end);
        if (fieldsSoFar > std::numeric_limits<uint32_t>::max()) throw CSVError::fileTooLarge();
        maxFields =
            std::max<int64_t>(maxFields, static_cast<int64_t>(fieldsSoFar - index.rowFirstField.back()));
        index.rowFirstField.push_back(static_cast<uint32_t>(fieldsSoFar));
        ++rows;
    }
    void count(FileFormat::LineEnding ending) { ++endings[static_cast<size_t>(ending)]; }
    // Every few thousand rows: notices cancelling and, with `reports`, publishes how far
    // the reading came.
    void checkIn(size_t at, ReadProgress* progress, bool reports, int64_t rowsBefore = -1) const {
        if (!progress) return;
        // Once per 16,384 rows: when `rowsBefore` is given, when that many were passed since.
        if (rowsBefore < 0 ? (rows & 0x3FFF) != 0 : (rowsBefore >> 14) == (rows >> 14)) return;
        if (reports) {
            progress->bytesDone.store(at, std::memory_order_relaxed);
            progress->rowsDone.store(rows, std::memory_order_relaxed);
        }
        if (progress->isCancelled()) throw CSVError::cancelled();
    }
};

// Reads rows from `start`, a row start, until the next row would start at or after
// `target`. Every look ahead (a quote's closing quote) may go to the end of the text, as
// in one forward pass, so a reading from a true row start is exact. With `progress`,
// cancelling is noticed every few thousand rows; `reports` also publishes how far it came.
Stop readRows(const uint8_t* bytes, size_t count, size_t start, size_t target, size_t giveUpAt,
              const CSVDialect& dialect, int64_t rowLimit, ReadProgress* progress, bool reports,
              Result& result) {
    FieldIndex& index = result.index;
    Stop stop{count, false};
    if (start >= count) return stop;

    const uint8_t D = dialect.delimiter;
    const bool hasQuote = dialect.quote.has_value();
    const uint8_t Q = hasQuote ? *dialect.quote : 0;
    const bool backslashEscape = dialect.escape == CSVDialect::Escape::backslash;
    auto& fieldStarts = index.fieldStarts;
    RowAppender out(result);

    auto warn = [&](ReadWarning::Kind kind) {
        if (result.warnings.size() < maxReadWarnings) result.warnings.push_back({kind, out.rows});
        auto& unclosed = index.unclosedQuoteRows;
        if (kind == ReadWarning::Kind::unclosedQuote &&
            (unclosed.empty() || unclosed.back() != static_cast<uint32_t>(out.rows)))
            unclosed.push_back(static_cast<uint32_t>(out.rows));
    };

    size_t p = start;
    for (;;) {
        if (out.rows >= rowLimit) {
            stop.at = p;
            break;
        }
        fieldStarts.push_back(p);
        if (!hasQuote || bytes[p] != Q) {
            p = findFieldEnd(bytes, p, count, D);
        } else {
            const size_t q = p + 1;
            size_t c = q;
            bool closed = false;
            if (!backslashEscape) {
                for (;;) {
                    const void* hit = c < count ? std::memchr(bytes + c, Q, count - c) : nullptr;
                    if (!hit) break;
                    c = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
                    if (c + 1 < count && bytes[c + 1] == Q) {
                        c += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
            } else {
                while (c < count) {
                    const uint8_t b = bytes[c];
                    if (b == Q) {
                        closed = true;
                        break;
                    }
                    // A backslash as the very last byte runs off the end: unclosed.
                    c += b == Byte::backslash ? 2 : 1;
                }
            }
            if (closed) {
                p = c + 1;
                if (p < count && bytes[p] != D && bytes[p] != '\n' && bytes[p] != '\r') {
                    warn(ReadWarning::Kind::textAfterClosingQuote);
                    p = findFieldEnd(bytes, p, count, D);
                }
            } else {
                // One stray quote spoils only its own field: read on as if unquoted.
                warn(ReadWarning::Kind::unclosedQuote);
                p = findFieldEnd(bytes, q, count, D);
            }
        }

        if (p >= count) {
            out.endRow(count);
            break;
        }
        const uint8_t b = bytes[p];
        if (b == D) {
            ++p;
            if (p == count) {
                fieldStarts.push_back(p);
                out.endRow(p);
                break;
            }
            continue;
        }
        out.endRow(p);
        out.checkIn(p, progress, reports);
        if (b == '\r' && p + 1 < count && bytes[p + 1] == '\n') {
            out.count(FileFormat::LineEnding::crlf);
            p += 2;
        } else {
            out.count(b == '\r' ? FileFormat::LineEnding::cr : FileFormat::LineEnding::lf);
            p += 1;
        }
        if (p >= count) {
            result.endsWithNewline = true;
            break;
        }
        if (p >= target) {
            stop.at = p;
            break;
        }
        if (p > giveUpAt) {
            stop = {p, true};
            break;
        }
    }
    out.settle();
    return stop;
}

// 64 bytes at a time: one bit per byte for the delimiter, the quote, LF and CR.
struct ByteMasks {
    uint64_t delimiter = 0, quote = 0, lineFeed = 0, carriageReturn = 0;
};

inline ByteMasks classify64(const uint8_t* p, uint8_t D, uint8_t Q) {
    ByteMasks m;
#if defined(__SSE2__)
    const __m128i d = _mm_set1_epi8(static_cast<char>(D));
    const __m128i q = _mm_set1_epi8(static_cast<char>(Q));
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const int shift = 16 * i;
        auto bits = [&](__m128i c) {
            return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c))))
                   << shift;
        };
        m.delimiter |= bits(d);
        m.quote |= bits(q);
        m.lineFeed |= bits(lf);
        m.carriageReturn |= bits(cr);
    }
#else
    for (int i = 0; i < 64; ++i) {
        const uint64_t bit = uint64_t{1} << i;
        m.delimiter |= p[i] == D ? bit : 0;
        m.quote |= p[i] == Q ? bit : 0;
        m.lineFeed |= p[i] == '\n' ? bit : 0;
        m.carriageReturn |= p[i] == '\r' ? bit : 0;
    }
#endif
    return m;
}

// The same with 32-byte registers, on processors that have them.
#if defined(__x86_64__) && defined(__GNUC__)
#define ZARVEL_WIDE_VECTORS 1
[[gnu::target("avx2")]] inline uint64_t equalBits(__m256i lo, __m256i hi, __m256i c) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, c)))) |
           static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, c)))) << 32;
}
[[gnu::target("avx2")]] inline ByteMasks classify64Wide(const uint8_t* p, uint8_t D, uint8_t Q) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {equalBits(lo, hi, _mm256_set1_epi8(static_cast<char>(D))),
            equalBits(lo, hi, _mm256_set1_epi8(static_cast<char>(Q))),
            equalBits(lo, hi, _mm256_set1_epi8('\n')), equalBits(lo, hi, _mm256_set1_epi8('\r'))};
}
#endif

// Bit i is the parity of the set bits 0..i: 1 from an opening quote up to (not
// including) its closing quote.
inline uint64_t prefixXor(uint64_t x) {
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

// Whether the vector reading applies: backslash escapes depend on what precedes each
// quote, which the quote parity below does not see.
bool vectorReadable(const CSVDialect& dialect) {
    const uint8_t D = dialect.delimiter;
    if (dialect.escape == CSVDialect::Escape::backslash && dialect.quote) return false;
    if (D == '\n' || D == '\r') return false;
    return !dialect.quote || (*dialect.quote != D && *dialect.quote != '\n' && *dialect.quote != '\r');
}

// readRows() 64 bytes at a time, with the same result. PERF: quoted fields are found from
// the parity of the quotes, so rows cost a few bit operations per 64 bytes rather than a
// loop per field. The parity matches the one forward pass as long as every quote opens a
// field, closes one, or doubles another; where a quote does anything else (a stray quote,
// text after a closing quote, a quote never closed) that row is read by readRows().
template <bool Wide>
[[gnu::always_inline]] inline Stop readRowsVectorWith(const uint8_t* bytes, size_t count, size_t start,
                                                      size_t target, size_t giveUpAt,
                                                      const CSVDialect& dialect, int64_t rowLimit,
                                                      ReadProgress* progress, bool reports, Result& result) {
    FieldIndex& index = result.index;
    if (start >= count) return {count, false};
    const uint8_t D = dialect.delimiter;
    const bool hasQuote = dialect.quote.has_value();
    const uint8_t Q = hasQuote ? *dialect.quote : D;
    auto& fieldStarts = index.fieldStarts;
    RowAppender out(result);
    if (out.rows >= rowLimit) return {start, false};
    if (!vectorReadable(dialect))
        return readRows(bytes, count, start, target, giveUpAt, dialect, rowLimit, progress, reports, result);

    size_t rowStart = start;      // where the row being read starts
    size_t base = start;          // the 64 bytes being read start here
    uint64_t inside = 0;          // all ones when `base` lies inside a quoted field
    uint64_t afterStructural = 1; // the byte before `base` ends a field (or a quote)
    bool closingAtEnd = false;    // the last 64 bytes ended with a closing quote
    uint64_t crAtEnd = 0;         // ... or with a row-ending CR
    fieldStarts.push_back(start);
    // The 64 bytes at `base` are taken whole while each row they end is followed by
    // another that starts before this.
    const size_t fastLimit = std::min({target, count, giveUpAt + 1});
    const bool unlimited = rowLimit == noRowLimit;

    // Hands the row being read to readRows(); a stop when that ends the reading.
    auto readOneRowSlowly = [&]() -> std::optional<Stop> {
        fieldStarts.truncate(index.rowFirstField.back());
        out.settle();
        const Stop stop = readRows(bytes, count, rowStart, target, giveUpAt, dialect,
                                   std::min(rowLimit, out.rows + 1), progress, reports, result);
        out.reload();
        if (stop.gaveUp || stop.at >= count || stop.at >= target || out.rows >= rowLimit) return stop;
        rowStart = base = stop.at;
        inside = 0;
        afterStructural = 1;
        closingAtEnd = false;
        crAtEnd = 0;
        fieldStarts.push_back(rowStart);
        return std::nullopt;
    };

    for (;;) {
        while (base < count) {
            const size_t n = std::min<size_t>(64, count - base);
            ByteMasks m;
            if (n == 64) {
#if defined(ZARVEL_WIDE_VECTORS)
                if constexpr (Wide)
                    m = classify64Wide(bytes + base, D, Q);
                else
#endif
                    m = classify64(bytes + base, D, Q);
            } else {
                alignas(16) uint8_t tail[64] = {};
                std::memcpy(tail, bytes + base, n);
                m = classify64(tail, D, Q);
                const uint64_t valid = (uint64_t{1} << n) - 1;
                m.delimiter &= valid;
                m.quote &= valid;
                m.lineFeed &= valid;
                m.carriageReturn &= valid;
            }
            if (!hasQuote) m.quote = 0;
            const uint64_t in = prefixXor(m.quote) ^ inside;
            uint64_t structural = (m.delimiter | m.lineFeed | m.carriageReturn) & ~in;
            if (m.quote | closingAtEnd) {
                const uint64_t opening = m.quote & in;
                const uint64_t closing = m.quote & ~in;
                const uint64_t lastBit = uint64_t{1} << (n - 1);
                // An opening quote must start a field (or double a quote just closed); a
                // closing one must end its field (or be doubled); the text's last byte
                // may close.
                const bool strayOpening = (opening & ~(((structural | closing) << 1) | afterStructural)) != 0;
                const bool strayClosing = (closing & ~((structural | opening) >> 1) & ~lastBit) != 0;
                const bool closingUnfollowed = closingAtEnd && !((structural | opening) & 1);
                if (strayOpening || strayClosing || closingUnfollowed) {
                    if (const auto stop = readOneRowSlowly()) return *stop;
                    continue;
                }
                closingAtEnd = (closing >> 63) != 0;
                afterStructural = ((structural | closing) >> 63) & 1;
            } else {
                afterStructural = (structural >> 63) & 1;
            }
            inside = (in >> 63) ? ~uint64_t{0} : 0;
            // A LF right after a row-ending CR belongs to it.
            const uint64_t rowCRs = m.carriageReturn & structural;
            structural &= ~(((rowCRs << 1) | crAtEnd) & m.lineFeed);
            crAtEnd = rowCRs >> 63;

            uint64_t delimiters = structural & m.delimiter;
            uint64_t rowEnds = structural & ~m.delimiter;
            if (n == 64 && base + 66 <= fastLimit && unlimited && ((base + 1) >> 32) == ((base + 65) >> 32)) {
                // PERF: every row ending and the next row's start lie well before the
                // target, so the 64 bytes are taken whole: the field starts are written
                // from the masks without a branch per field, and rows and line endings
                // counted from them.
                const uint64_t crlf = rowCRs & ((m.lineFeed >> 1) | uint64_t{bytes[base + 64] == '\n'} << 63);
                // The bits whose next byte starts a field: delimiters and the last byte of
                // each line ending (a CR LF at the very end gives the one start past it).
                const uint64_t startBits = delimiters | (rowEnds & ~crlf) | ((crlf << 1) & m.lineFeed);
                const size_t fieldsBefore = fieldStarts.size();
                uint32_t* const w = fieldStarts.beginAppend(64, base + 1);
                const auto low = static_cast<uint32_t>(base + 1);
                const int total = std::popcount(startBits);
                uint64_t bits = startBits;
                for (int i = 0; i < total; i += 8) {
#pragma GCC unroll 8
                    for (int j = 0; j < 8; ++j) { // past the last bit these write a harmless 63
                        w[i + j] = low + static_cast<uint32_t>(std::countr_zero(bits | uint64_t{1} << 63));
                        bits &= bits - 1;
                    }
                }
                size_t written = static_cast<size_t>(total);
                if (crlf >> 63) w[written++] = low + 64;
                fieldStarts.endAppend(64, written);

                const int64_t rowsBefore = out.rows;
                for (uint64_t ends = rowEnds; ends; ends &= ends - 1) {
                    const int bit = std::countr_zero(ends);
                    out.endRow(base + static_cast<size_t>(bit),
                               fieldsBefore + static_cast<uint64_t>(
                                                  std::popcount(startBits & ((uint64_t{1} << bit) - 1))));
                }
                if (rowEnds) {
                    using LE = FileFormat::LineEnding;
                    out.endings[static_cast<size_t>(LE::lf)] += std::popcount(rowEnds & m.lineFeed);
                    out.endings[static_cast<size_t>(LE::crlf)] += std::popcount(crlf);
                    out.endings[static_cast<size_t>(LE::cr)] += std::popcount(rowCRs & ~crlf);
                    const int last = 63 - std::countl_zero(rowEnds);
                    rowStart = base + static_cast<size_t>(last) + ((crlf >> last) & 1 ? 2 : 1);
                    out.checkIn(base, progress, reports, rowsBefore);
                }
                base += 64;
                continue;
            }
            // PERF: the delimiters before each row end are taken in a tight loop of their
            // own, from the masks alone.
            auto takeFieldStarts = [&](uint64_t bits) __attribute__((always_inline)) {
                for (; bits; bits &= bits - 1)
                    fieldStarts.push_back(base + static_cast<size_t>(__builtin_ctzll(bits)) + 1);
            };
            while (rowEnds) {
                const uint64_t endBit = rowEnds & (~rowEnds + 1);
                rowEnds ^= endBit;
                takeFieldStarts(delimiters & (endBit - 1));
                delimiters &= ~(endBit - 1);
                const size_t p = base + static_cast<size_t>(__builtin_ctzll(endBit));
                out.endRow(p);
                size_t next = p + 1;
                if (!(m.carriageReturn & endBit)) {
                    out.count(FileFormat::LineEnding::lf);
                } else if (next < count && bytes[next] == '\n') {
                    out.count(FileFormat::LineEnding::crlf);
                    ++next;
                } else {
                    out.count(FileFormat::LineEnding::cr);
                }
                out.checkIn(p, progress, reports);
                if (next >= count) {
                    result.endsWithNewline = true;
                    out.settle();
                    return {count, false};
                }
                if (next >= target || next > giveUpAt || out.rows >= rowLimit) {
                    out.settle();
                    return {next, next < target && next > giveUpAt};
                }
                rowStart = next;
                fieldStarts.push_back(next);
            }
            takeFieldStarts(delimiters);
            base += n;
        }
        if (!inside) break;
        // A quote opened and never closed: the one forward pass reads that field unquoted.
        if (const auto stop = readOneRowSlowly()) return *stop;
    }
    // The last row has no line ending.
    out.endRow(count);
    out.settle();
    return {count, false};
}

Stop readRowsVectorNarrow(const uint8_t* bytes, size_t count, size_t start, size_t target, size_t giveUpAt,
                          const CSVDialect& dialect, int64_t rowLimit, ReadProgress* progress, bool reports,
                          Result& result) {
    return readRowsVectorWith<false>(bytes, count, start, target, giveUpAt, dialect, rowLimit, progress,
                                     reports, result);
}

#if defined(ZARVEL_WIDE_VECTORS)
// PERF: the same compiled for AVX2 and the bit counting instructions, about a quarter faster.
[[gnu::target("avx2,popcnt,bmi,bmi2")]] Stop readRowsVectorWide(const uint8_t* bytes, size_t count,
                                                                size_t start, size_t target, size_t giveUpAt,
                                                                const CSVDialect& dialect, int64_t rowLimit,
                                                                ReadProgress* progress, bool reports,
                                                                Result& result) {
    return readRowsVectorWith<true>(bytes, count, start, target, giveUpAt, dialect, rowLimit, progress,
                                    reports, result);
}
#endif

Stop readRowsVector(const uint8_t* bytes, size_t count, size_t start, size_t target, size_t giveUpAt,
                    const CSVDialect& dialect, int64_t rowLimit, ReadProgress* progress, bool reports,
                    Result& result) {
#if defined(ZARVEL_WIDE_VECTORS)
    if (Processor::hasWideVectors())
        return readRowsVectorWide(bytes, count, start, target, giveUpAt, dialect, rowLimit, progress, reports,
                                  result);
#endif
    return readRowsVectorNarrow(bytes, count, start, target, giveUpAt, dialect, rowLimit, progress, reports,
                                result);
}

// A likely row start at or after `from`: just past the next line break.
size_t guessRowStart(const uint8_t* bytes, size_t count, size_t from) {
    for (size_t p = from; p < count; ++p) {
        if (bytes[p] == '\n') return p + 1;
        if (bytes[p] == '\r') return p + 1 < count && bytes[p + 1] == '\n' ? p + 2 : p + 1;
    }
    return count;
}

// Empty again, keeping its memory (PERF: fresh memory for every block costs page faults).
void reset(Result& result) {
    FieldIndex& index = result.index;
    index.fieldStarts.clear();
    index.rowContentEnds.clear();
    index.rowFirstField.assign(1, 0);
    index.unclosedQuoteRows.clear();
    index.maxFieldCount = 0;
    result.warnings.clear();
    result.endsWithNewline = false;
    result.lineEndingCounts = {0, 0, 0};
}

// Appends a block's rows, read from where the rows so far end, to the whole result.
void appendBlock(Result& whole, const Result& block) {
    FieldIndex& to = whole.index;
    const FieldIndex& from = block.index;
    const int64_t rowsBefore = to.rowCount();
    const uint64_t fieldsBefore = to.fieldStarts.size();
    if (fieldsBefore + from.fieldStarts.size() > std::numeric_limits<uint32_t>::max())
        throw CSVError::fileTooLarge();
    to.fieldStarts.append(from.fieldStarts);
    to.rowContentEnds.append(from.rowContentEnds);
    to.rowFirstField.reserve(to.rowFirstField.size() + from.rowFirstField.size() - 1);
    for (size_t i = 1; i < from.rowFirstField.size(); ++i)
        to.rowFirstField.push_back(static_cast<uint32_t>(fieldsBefore + from.rowFirstField[i]));
    for (const uint32_t r : from.unclosedQuoteRows)
        to.unclosedQuoteRows.push_back(static_cast<uint32_t>(rowsBefore + r));
    to.maxFieldCount = std::max(to.maxFieldCount, from.maxFieldCount);
    for (const ReadWarning& w : block.warnings) {
        if (whole.warnings.size() >= maxReadWarnings) break;
        whole.warnings.push_back({w.kind, w.row + rowsBefore});
    }
    for (size_t e = 0; e < whole.lineEndingCounts.size(); ++e)
        whole.lineEndingCounts[e] += block.lineEndingCounts[e];
    whole.endsWithNewline = block.endsWithNewline;
}

// Whether appending `block` would move one of the index's arrays to new memory.
// The memory of the index's three long arrays: field starts, first fields, content ends.
std::array<ReservedMemory, 3> indexMemory(FieldIndex& index) {
    return {index.fieldStarts.reservedMemory(), reservedMemory(index.rowFirstField),
            index.rowContentEnds.reservedMemory()};
}

bool outgrows(FieldIndex& whole, const FieldIndex& block, const std::array<ReservedMemory, 3>& reserved) {
    return (whole.fieldStarts.size() + block.fieldStarts.size()) * sizeof(uint32_t) > reserved[0].bytes ||
           (whole.rowFirstField.size() + block.rowFirstField.size()) * sizeof(uint32_t) > reserved[1].bytes ||
           (whole.rowContentEnds.size() + block.rowContentEnds.size()) * sizeof(uint32_t) > reserved[2].bytes;
}

void reserve(FieldIndex& index, int64_t fieldCapacity, int64_t rowCapacity) {
    if (fieldCapacity > 0) index.fieldStarts.reserve(static_cast<size_t>(fieldCapacity));
    if (rowCapacity > 0) {
        index.rowFirstField.reserve(static_cast<size_t>(rowCapacity) + 1);
        index.rowContentEnds.reserve(static_cast<size_t>(rowCapacity));
    }
}

// Below this much text one thread reads faster than two can start.
constexpr size_t parallelThreshold = size_t{16} << 20;
constexpr size_t defaultBlockSize = size_t{8} << 20;

} // namespace

Result scan(const uint8_t* bytes, size_t count, size_t start, const CSVDialect& dialect, int64_t rowLimit,
            int64_t fieldCapacity, int64_t rowCapacity, ReadProgress* progress) {
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    if (rowLimit == noRowLimit && cores > 1 && start < count && count - start >= parallelThreshold)
        return scanInBlocks(bytes, count, start, dialect, defaultBlockSize, cores, fieldCapacity, rowCapacity,
                            progress);
    Result result;
    reserve(result.index, fieldCapacity, rowCapacity);
    (void)readRowsVector(bytes, count, start, count, count, dialect, rowLimit, progress, true, result);
    return result;
}

Result scanFieldByField(const uint8_t* bytes, size_t count, size_t start, const CSVDialect& dialect) {
    Result result;
    (void)readRows(bytes, count, start, count, count, dialect, noRowLimit, nullptr, false, result);
    return result;
}

Result scanInBlocks(const uint8_t* bytes, size_t count, size_t start, const CSVDialect& dialect,
                    size_t blockSize, unsigned threads, int64_t fieldCapacity, int64_t rowCapacity,
                    ReadProgress* progress) {
    Result whole;
    reserve(whole.index, fieldCapacity, rowCapacity);
    if (start >= count) return whole;
    blockSize = std::max<size_t>(blockSize, 1);
    threads = std::max(threads, 1u);

    // Block k is read from begins[k] until a row would start at or after begins[k + 1].
    std::vector<size_t> begins{start};
    for (size_t b = start + blockSize; b < count; b += blockSize) {
        const size_t guess = guessRowStart(bytes, count, b);
        if (guess >= count) break;
        if (guess > begins.back()) begins.push_back(guess);
        b = std::max(b, guess - 1);
    }
    const size_t blocks = begins.size();
    auto targetOf = [&](size_t k) { return k + 1 < blocks ? begins[k + 1] : count; };

    struct Block {
        Result result;
        Stop stop;
        std::exception_ptr error;
        bool ready = false;
    };
    std::vector<Block> read(blocks);
    std::mutex mutex;
    std::condition_variable changed;
    size_t nextToRead = 0;
    size_t merged = 0;
    std::vector<Result> spare; // results already appended, kept for their memory
    bool quitting = false;
    // Readers stay at most this many blocks ahead of the merge, which bounds the memory
    // held in blocks not yet appended.
    const size_t lead = 2 * static_cast<size_t>(threads);

    // Each reader faults in the part of the whole index that its block will likely fill,
    // judged by the rows merged so far, until the index outgrows what was reserved.
    const std::array<ReservedMemory, 3> reserved = indexMemory(whole.index);
    std::shared_mutex reservedLock;
    bool reservedHolds = true;
    struct Merged {
        size_t at = 0; // text merged so far: start ..< at
        uint64_t fields = 0, rows = 0;
    };
    Merged mergedSoFar{start, 0, 0}; // guarded by `mutex`
    auto prefaultFor = [&](size_t from, size_t to, const Merged& known) {
        if (known.at <= start || from < known.at) return;
        std::shared_lock lock(reservedLock);
        if (!reservedHolds) return;
        const double span = static_cast<double>(known.at - start);
        const auto at = [&](uint64_t merged, size_t offset) {
            return static_cast<size_t>(static_cast<double>(merged) +
                                       static_cast<double>(merged) / span *
                                           static_cast<double>(offset - known.at)) *
                   sizeof(uint32_t);
        };
        prefault(reserved[0], at(known.fields, from), at(known.fields, to));
        prefault(reserved[1], at(known.rows, from), at(known.rows, to));
        prefault(reserved[2], at(known.rows, from), at(known.rows, to));
    };

    auto reader = [&] {
        for (;;) {
            size_t k;
            Merged known;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock,
                             [&] { return quitting || nextToRead >= blocks || nextToRead < merged + lead; });
                if (quitting || nextToRead >= blocks) return;
                k = nextToRead++;
                known = mergedSoFar;
            }
            Block block;
            {
                std::lock_guard lock(mutex);
                if (!spare.empty()) {
                    block.result = std::move(spare.back());
                    spare.pop_back();
                }
            }
            reset(block.result);
            try {
                const size_t target = targetOf(k);
                prefaultFor(begins[k], target, known);
                const size_t giveUpAt = k == 0 ? count : target + 4 * blockSize;
                block.stop = readRowsVector(bytes, count, begins[k], target, giveUpAt, dialect, noRowLimit,
                                            progress, false, block.result);
            } catch (...) {
                block.error = std::current_exception();
            }
            {
                std::lock_guard lock(mutex);
                block.ready = true;
                read[k] = std::move(block);
            }
            changed.notify_all();
        }
    };

    std::vector<std::jthread> readers;
    auto stopReaders = [&] {
        {
            std::lock_guard lock(mutex);
            quitting = true;
        }
        changed.notify_all();
        readers.clear(); // joins
    };
    try {
        const unsigned helperCount = static_cast<unsigned>(std::min<size_t>(threads, blocks));
        for (unsigned i = 0; i < helperCount; ++i)
            readers.emplace_back(reader);

        size_t at = start; // where the rows appended so far end: always a true row start
        for (size_t k = 0; k < blocks; ++k) {
            Block block;
            {
                std::unique_lock lock(mutex);
                while (!read[k].ready) {
                    changed.wait_for(lock, std::chrono::milliseconds(20));
                    if (progress && progress->isCancelled()) throw CSVError::cancelled();
                }
                block = std::move(read[k]);
                read[k] = Block{};
                merged = k + 1;
            }
            changed.notify_all();
            if (block.error) std::rethrow_exception(block.error);
            const size_t target = targetOf(k);
            if (at >= count || at >= target) continue; // earlier rows already ran past this block
            if (block.stop.gaveUp || begins[k] != at) {
                // The guess was wrong (the boundary fell inside a quoted field) or the
                // reading ran away: read this stretch again from the true row start.
                reset(block.result);
                block.stop = readRowsVector(bytes, count, at, target, count, dialect, noRowLimit, progress,
                                            false, block.result);
            }
            if (reservedHolds && outgrows(whole.index, block.result.index, reserved)) {
                std::unique_lock lock(reservedLock);
                reservedHolds = false;
            }
            appendBlock(whole, block.result);
            at = block.stop.at;
            {
                std::lock_guard lock(mutex);
                spare.push_back(std::move(block.result));
                mergedSoFar = {at, whole.index.fieldStarts.size(),
                               static_cast<uint64_t>(whole.index.rowCount())};
            }
            if (progress) {
                progress->bytesDone.store(std::min(at, count), std::memory_order_relaxed);
                progress->rowsDone.store(whole.index.rowCount(), std::memory_order_relaxed);
            }
        }
    } catch (...) {
        stopReaders();
        throw;
    }
    stopReaders();
    if (reservedHolds)
        for (const ReservedMemory& memory : indexMemory(whole.index))
            releaseUnused(memory);
    return whole;
}

void appendFieldValue(std::string& out, std::string_view field, const CSVDialect& dialect) {
    if (!isQuotedField(field, dialect)) {
        UTF8::appendRepaired(out, field);
        return;
    }
    std::string raw;
    raw.reserve(field.size() - 2);
    unquoteRuns(field.substr(1, field.size() - 2), dialect,
                [&raw](std::string_view run) { raw.append(run); });
    UTF8::appendRepaired(out, raw);
}

std::string fieldValue(std::string_view field, const CSVDialect& dialect) {
    std::string out;
    appendFieldValue(out, field, dialect);
    return out;
}

} // namespace zarvel::FieldIndexer

namespace zarvel {

namespace {
constexpr size_t mappedFrom = size_t{2} << 20; // smaller arrays come from the heap
constexpr size_t pageSize = 4096;
size_t mappedLength(size_t bytes) {
    return (bytes + mappedFrom - 1) / mappedFrom * mappedFrom;
}
} // namespace

void* allocateBytes(size_t bytes, bool hugePages) {
    if (bytes < mappedFrom) return ::operator new(bytes);
    void* p = mmap(nullptr, mappedLength(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (hugePages) madvise(p, mappedLength(bytes), MADV_HUGEPAGE);
#else
    (void)hugePages;
#endif
    return p;
}

void deallocateBytes(void* p, size_t bytes) {
    if (bytes < mappedFrom) {
        ::operator delete(p);
        return;
    }
    munmap(p, mappedLength(bytes));
}

void prefault(const ReservedMemory& memory, size_t from, size_t to) {
#ifdef MADV_POPULATE_WRITE
    if (memory.bytes < mappedFrom) return;
    const size_t begin = from / pageSize * pageSize;
    const size_t end = std::min((to + pageSize - 1) / pageSize * pageSize, mappedLength(memory.bytes));
    if (end > begin) (void)madvise(static_cast<char*>(memory.base) + begin, end - begin, MADV_POPULATE_WRITE);
#else
    (void)memory, (void)from, (void)to;
#endif
}

void releaseUnused(const ReservedMemory& memory) {
    if (memory.bytes < mappedFrom) return;
    const size_t begin = (memory.used + pageSize - 1) / pageSize * pageSize;
    const size_t end = mappedLength(memory.bytes);
    if (end > begin) (void)madvise(static_cast<char*>(memory.base) + begin, end - begin, MADV_DONTNEED);
}

} // namespace zarvel
