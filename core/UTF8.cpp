#include "core/UTF8.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
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

} // namespace

Inspection inspect(std::string_view bytes) {
    // PERF: a large text is inspected in one piece per core, each piece starting on the
    // first byte of a character so that no sequence is split.
    constexpr size_t parallelThreshold = size_t{32} << 20;
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    if (bytes.size() < parallelThreshold || cores < 2) return inspectSerial(bytes);
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
                [&, k] { parts[k] = inspectSerial(bytes.substr(cuts[k], cuts[k + 1] - cuts[k])); });
        parts[0] = inspectSerial(bytes.substr(0, cuts[1]));
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
