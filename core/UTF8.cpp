#include "core/UTF8.h"

#include "core/Processor.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace zarvel::UTF8 {

namespace {

inline bool allASCII8(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return (w & 0x8080808080808080ull) == 0;
}

// Length of the well-formed sequence at p (1..4), or 0 when ill-formed; `bad` gets the
// length of the maximal subpart to replace.
inline size_t sequenceLength(const unsigned char* p, size_t avail, size_t& bad) {
    const unsigned char b0 = p[0];
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    for (size_t i = 1; i <= need; ++i) {
        if (i >= avail) {
            bad = i;
            return 0;
        }
        const unsigned char b = p[i];
        const unsigned char l = i == 1 ? lo : 0x80, h = i == 1 ? hi : 0xBF;
        if (b < l || b > h) {
            bad = i;
            return 0;
        }
    }
    return need + 1;
}

} // namespace

bool isValid(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        if (i + 16 <= n && allASCII8(p + i) && allASCII8(p + i + 8)) {
            i += 16;
            continue;
        }
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        size_t bad = 0;
        const size_t len = sequenceLength(p + i, n - i, bad);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

namespace {

Inspection inspectSerial(std::string_view bytes) {
    Inspection found;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // PERF: a block of ASCII without a zero byte, the common case, costs two compares.
        if (i + 16 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const int special =
                _mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
            if (special == 0) {
                i += 16;
                continue;
            }
            // Skip the plain bytes before the first one that needs a closer look.
            i += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(special)));
        }
#endif
        if (p[i] < 0x80) {
            if (p[i] == 0 && found.firstNul == std::string_view::npos) found.firstNul = i;
            ++i;
            continue;
        }
        size_t bad = 0;
        const size_t len = sequenceLength(p + i, n - i, bad);
        if (len == 0) {
            found.firstInvalid = i;
            return found;
        }
        i += len;
    }
    return found;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define ZARVEL_UTF8_VECTOR 1

// Well-formedness 16 bytes at a time (SSSE3). Each byte is checked against the one
// before it through three nibble tables whose entries are the faults that byte's nibble
// allows; a fault is real when all three agree. Third and fourth bytes are checked apart:
// they must follow a three- or four-byte lead two or three bytes back.
namespace vector {

enum : uint8_t {
    tooShort = 1 << 0,            // a lead not followed by a continuation
    tooLong = 1 << 1,             // a continuation after ASCII
    overlong3 = 1 << 2,           // E0 80..9F
    tooLarge = 1 << 3,            // F4 90..BF, F5..FF 90..BF
    surrogate = 1 << 4,           // ED A0..BF
    overlong2 = 1 << 5,           // C0 or C1 then a continuation
    overlong4OrTooLarge = 1 << 6, // F0 80..8F, F5..FF 80..8F
    twoContinuations = 1 << 7,    // a continuation after a continuation
    carry = tooShort | tooLong | twoContinuations,
};

__attribute__((target("ssse3"))) inline __m128i table(const uint8_t (&t)[16]) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
}

constexpr uint8_t byFirstHigh[16] = {tooLong,
                                     tooLong,
                                     tooLong,
                                     tooLong,
                                     tooLong,
                                     tooLong,
                                     tooLong,
                                     tooLong,
                                     twoContinuations,
                                     twoContinuations,
                                     twoContinuations,
                                     twoContinuations,
                                     tooShort | overlong2,
                                     tooShort,
                                     tooShort | overlong3 | surrogate,
                                     tooShort | tooLarge | overlong4OrTooLarge};
constexpr uint8_t byFirstLow[16] = {carry | overlong3 | overlong2 | overlong4OrTooLarge,
                                    carry | overlong2,
                                    carry,
                                    carry,
                                    carry | tooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge | surrogate,
                                    carry | tooLarge | overlong4OrTooLarge,
                                    carry | tooLarge | overlong4OrTooLarge};
constexpr uint8_t continuation8 = tooLong | overlong2 | twoContinuations | overlong3 | overlong4OrTooLarge;
constexpr uint8_t continuation9 = tooLong | overlong2 | twoContinuations | overlong3 | tooLarge;
constexpr uint8_t continuationAB = tooLong | overlong2 | twoContinuations | surrogate | tooLarge;
constexpr uint8_t bySecondHigh[16] = {
    tooShort,      tooShort,      tooShort,       tooShort,       tooShort, tooShort, tooShort, tooShort,
    continuation8, continuation9, continuationAB, continuationAB, tooShort, tooShort, tooShort, tooShort};

__attribute__((target("ssse3"))) inline __m128i faults(__m128i input, __m128i previous) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i previous1 = _mm_alignr_epi8(input, previous, 15);
    const __m128i high1 = _mm_and_si128(_mm_srli_epi16(previous1, 4), nibble);
    const __m128i low1 = _mm_and_si128(previous1, nibble);
    const __m128i high2 = _mm_and_si128(_mm_srli_epi16(input, 4), nibble);
    const __m128i special = _mm_and_si128(
        _mm_and_si128(_mm_shuffle_epi8(table(byFirstHigh), high1), _mm_shuffle_epi8(table(byFirstLow), low1)),
        _mm_shuffle_epi8(table(bySecondHigh), high2));
    // Bytes that must be third or fourth of a sequence have their top bit set here.
    const __m128i previous2 = _mm_alignr_epi8(input, previous, 14);
    const __m128i previous3 = _mm_alignr_epi8(input, previous, 13);
    const __m128i third = _mm_subs_epu8(previous2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m128i fourth = _mm_subs_epu8(previous3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m128i mustContinue =
        _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
    return _mm_xor_si128(mustContinue, special);
}

// Non-zero where the last bytes start a sequence that needs more bytes than follow.
__attribute__((target("ssse3"))) inline __m128i unfinished(__m128i input) {
    const __m128i limits =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                      static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
    return _mm_subs_epu8(input, limits);
}

// Where to look closely: the offset of the first 64-byte block where a fault shows (it may
// have begun in the last bytes before it), or of the tail. NULs before it are noted in
// `firstNul`.
__attribute__((target("ssse3"))) size_t firstFaultyBlock(const unsigned char* p, size_t n, size_t& firstNul) {
    __m128i previous = _mm_setzero_si128();
    __m128i pending = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
        const __m128i nul = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)),
                                         _mm_or_si128(_mm_cmpeq_epi8(c, zero), _mm_cmpeq_epi8(d, zero)));
        if (_mm_movemask_epi8(nul) && firstNul == std::string_view::npos)
            firstNul = i + static_cast<size_t>(std::find(p + i, p + i + 64, 0) - (p + i));
        __m128i error;
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) {
            error = pending; // all ASCII: only what the last block left unfinished is wrong
            pending = zero;
        } else {
            error = _mm_or_si128(_mm_or_si128(faults(a, previous), faults(b, a)),
                                 _mm_or_si128(faults(c, b), faults(d, c)));
            pending = unfinished(d);
        }
        previous = d;
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(error, zero)) != 0xFFFF) return i;
    }
    return i; // the tail goes to the close look
}

// The same 32 bytes at a time (AVX2). The byte before each is taken across the register's
// two halves.
__attribute__((target("avx2"))) inline __m256i table32(const uint8_t (&t)[16]) {
    return _mm256_broadcastsi128_si256(table(t));
}

__attribute__((target("avx2"))) inline __m256i faults32(__m256i input, __m256i previous) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i before = _mm256_permute2x128_si256(previous, input, 0x21);
    const __m256i previous1 = _mm256_alignr_epi8(input, before, 15);
    const __m256i high1 = _mm256_and_si256(_mm256_srli_epi16(previous1, 4), nibble);
    const __m256i low1 = _mm256_and_si256(previous1, nibble);
    const __m256i high2 = _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble);
    const __m256i special =
        _mm256_and_si256(_mm256_and_si256(_mm256_shuffle_epi8(table32(byFirstHigh), high1),
                                          _mm256_shuffle_epi8(table32(byFirstLow), low1)),
                         _mm256_shuffle_epi8(table32(bySecondHigh), high2));
    const __m256i previous2 = _mm256_alignr_epi8(input, before, 14);
    const __m256i previous3 = _mm256_alignr_epi8(input, before, 13);
    const __m256i third = _mm256_subs_epu8(previous2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(previous3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i mustContinue =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(mustContinue, special);
}

__attribute__((target("avx2"))) size_t firstFaultyBlock32(const unsigned char* p, size_t n,
                                                          size_t& firstNul) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i limits =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                         -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                         static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
    __m256i previous = zero;
    __m256i pending = zero;
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
        const __m256i nul = _mm256_or_si256(_mm256_cmpeq_epi8(a, zero), _mm256_cmpeq_epi8(b, zero));
        if (!_mm256_testz_si256(nul, nul) && firstNul == std::string_view::npos)
            firstNul = i + static_cast<size_t>(std::find(p + i, p + i + 64, 0) - (p + i));
        __m256i error;
        if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
            error = pending;
            pending = zero;
        } else {
            error = _mm256_or_si256(faults32(a, previous), faults32(b, a));
            pending = _mm256_subs_epu8(b, limits);
        }
        previous = b;
        if (!_mm256_testz_si256(error, error)) return i;
    }
    return i;
}

} // namespace vector
#endif

// The close look from `from`, which must not split a sequence.
Inspection inspectFrom(std::string_view bytes, size_t from, Inspection found) {
    const Inspection rest = inspectSerial(bytes.substr(from));
    if (found.firstNul == std::string_view::npos && rest.firstNul != std::string_view::npos)
        found.firstNul = from + rest.firstNul;
    if (!rest.valid()) found.firstInvalid = from + rest.firstInvalid;
    return found;
}

// The first check of a piece: 64-byte blocks while they are sound, then the close look
// from just before the first that is not, begun on the first byte of a character.
Inspection inspectPiece(std::string_view bytes) {
#if defined(ZARVEL_UTF8_VECTOR)
    if (__builtin_cpu_supports("ssse3")) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        Inspection found;
        size_t from = Processor::hasWideVectors()
                          ? vector::firstFaultyBlock32(p, bytes.size(), found.firstNul)
                          : vector::firstFaultyBlock(p, bytes.size(), found.firstNul);
        from -= std::min<size_t>(from, 4); // where a fault showing there can begin
        for (int back = 0; back < 3 && from > 0 && (p[from] & 0xC0) == 0x80; ++back)
            --from;
        if (found.firstNul != std::string_view::npos && found.firstNul >= from)
            found.firstNul = std::string_view::npos; // the close look finds it again
        return inspectFrom(bytes, from, found);
    }
#endif
    return inspectSerial(bytes);
}

} // namespace

Inspection inspect(std::string_view bytes) {
    // PERF: a large text is inspected in one piece per core, each piece starting on the
    // first byte of a character so that no sequence is split.
    constexpr size_t parallelThreshold = size_t{32} << 20;
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    if (bytes.size() < parallelThreshold || cores < 2) return inspectPiece(bytes);
    std::vector<size_t> cuts{0};
    for (unsigned k = 1; k < cores; ++k) {
        size_t cut = bytes.size() / cores * k;
        for (int step = 0; step < 4 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80; ++step)
            ++cut;
        if ((static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) return inspectSerial(bytes);
        cuts.push_back(cut);
    }
    cuts.push_back(bytes.size());
    std::vector<Inspection> parts(cores);
    {
        std::vector<std::jthread> threads;
        for (unsigned k = 1; k < cores; ++k)
            threads.emplace_back(
                [&, k] { parts[k] = inspectPiece(bytes.substr(cuts[k], cuts[k + 1] - cuts[k])); });
        parts[0] = inspectPiece(bytes.substr(0, cuts[1]));
    }
    Inspection found;
    for (unsigned k = 0; k < cores; ++k) {
        if (found.firstNul == std::string_view::npos && parts[k].firstNul != std::string_view::npos)
            found.firstNul = cuts[k] + parts[k].firstNul;
        if (!parts[k].valid()) {
            found.firstInvalid = cuts[k] + parts[k].firstInvalid;
            break;
        }
    }
    return found;
}

void appendRepaired(std::string& out, std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t runStart = 0, i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        size_t bad = 0;
        const size_t len = sequenceLength(p + i, n - i, bad);
        if (len) {
            i += len;
            continue;
        }
        out.append(bytes.data() + runStart, i - runStart);
        out.append("\xEF\xBF\xBD");
        i += bad;
        runStart = i;
    }
    out.append(bytes.data() + runStart, n - runStart);
}

char32_t decodeNext(std::string_view bytes, size_t& pos) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + pos;
    size_t bad = 0;
    const size_t len = sequenceLength(p, bytes.size() - pos, bad);
    if (len == 0) {
        pos += bad;
        return 0xFFFD;
    }
    pos += len;
    switch (len) {
    case 1:
        return p[0];
    case 2:
        return (char32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
    case 3:
        return (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    default:
        return (char32_t(p[0] & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) | (char32_t(p[2] & 0x3F) << 6) |
               (p[3] & 0x3F);
    }
}

void appendScalar(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace zarvel::UTF8
