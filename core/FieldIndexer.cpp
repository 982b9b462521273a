#include "core/FieldIndexer.h"

#include "core/CSVError.h"
#include "core/UTF8.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
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
        const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, d), _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
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

Result scan(const uint8_t* bytes, size_t count, size_t start, const CSVDialect& dialect, int64_t rowLimit,
            int64_t fieldCapacity, int64_t rowCapacity, ReadProgress* progress) {
    Result result;
    FieldIndex& index = result.index;
    if (fieldCapacity > 0) index.fieldStarts.reserve(static_cast<size_t>(fieldCapacity));
    if (rowCapacity > 0) {
        index.rowFirstField.reserve(static_cast<size_t>(rowCapacity) + 1);
        index.rowContentEnds.reserve(static_cast<size_t>(rowCapacity));
    }
    if (start >= count) return result;

    const uint8_t D = dialect.delimiter;
    const bool hasQuote = dialect.quote.has_value();
    const uint8_t Q = hasQuote ? *dialect.quote : 0;
    const bool backslashEscape = dialect.escape == CSVDialect::Escape::backslash;
    auto& fieldStarts = index.fieldStarts;
    auto& rowFirstField = index.rowFirstField;
    auto& rowContentEnds = index.rowContentEnds;
    int64_t rows = 0;
    int64_t maxFields = 0;
    std::array<int64_t, 3> endings{0, 0, 0};

    auto warn = [&](ReadWarning::Kind kind) {
        if (result.warnings.size() < maxReadWarnings) result.warnings.push_back({kind, rows});
        auto& unclosed = index.unclosedQuoteRows;
        if (kind == ReadWarning::Kind::unclosedQuote && (unclosed.empty() || unclosed.back() != static_cast<uint32_t>(rows)))
            unclosed.push_back(static_cast<uint32_t>(rows));
    };
    auto endRow = [&](size_t e) {
        rowContentEnds.push_back(static_cast<uint32_t>(e));
        const uint32_t fieldsSoFar = static_cast<uint32_t>(fieldStarts.size());
        const int64_t fieldsInRow = fieldsSoFar - rowFirstField.back();
        rowFirstField.push_back(fieldsSoFar);
        if (fieldsInRow > maxFields) maxFields = fieldsInRow;
        ++rows;
    };

    size_t p = start;
    for (;;) {
        if (rows >= rowLimit) break;
        fieldStarts.push_back(static_cast<uint32_t>(p));
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
            endRow(count);
            break;
        }
        const uint8_t b = bytes[p];
        if (b == D) {
            ++p;
            if (p == count) {
                fieldStarts.push_back(static_cast<uint32_t>(p));
                endRow(p);
                break;
            }
            continue;
        }
        endRow(p);
        if (progress && (rows & 0x3FFF) == 0) {
            progress->bytesDone.store(p, std::memory_order_relaxed);
            progress->rowsDone.store(rows, std::memory_order_relaxed);
            if (progress->isCancelled()) throw CSVError::cancelled();
        }
        if (b == '\r' && p + 1 < count && bytes[p + 1] == '\n') {
            ++endings[static_cast<size_t>(FileFormat::LineEnding::crlf)];
            p += 2;
        } else {
            ++endings[static_cast<size_t>(b == '\r' ? FileFormat::LineEnding::cr : FileFormat::LineEnding::lf)];
            p += 1;
        }
        if (p >= count) {
            result.endsWithNewline = true;
            break;
        }
    }
    index.maxFieldCount = maxFields;
    result.lineEndingCounts = endings;
    return result;
}

void appendFieldValue(std::string& out, std::string_view field, const CSVDialect& dialect) {
    if (!isQuotedField(field, dialect)) {
        UTF8::appendRepaired(out, field);
        return;
    }
    std::string raw;
    raw.reserve(field.size() - 2);
    unquote(field.substr(1, field.size() - 2), dialect, [&raw](char c) { raw.push_back(c); });
    UTF8::appendRepaired(out, raw);
}

std::string fieldValue(std::string_view field, const CSVDialect& dialect) {
    std::string out;
    appendFieldValue(out, field, dialect);
    return out;
}

} // namespace zarvel::FieldIndexer
