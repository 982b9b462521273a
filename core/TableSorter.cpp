#include "core/TableSorter.h"

#include "core/FieldIndexer.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace zarvel {

std::string_view rawValue(SortKind kind) {
    switch (kind) {
    case SortKind::text:
        return "text";
    case SortKind::number:
        return "number";
    case SortKind::natural:
        return "natural";
    case SortKind::date:
        return "date";
    }
    return "text";
}

std::optional<SortKind> sortKindFromRawValue(std::string_view raw) {
    for (SortKind kind : allSortKinds)
        if (rawValue(kind) == raw) return kind;
    return std::nullopt;
}

namespace TableSorter {
namespace {

// Keys are built and sorted on every core, in slices of at least this many rows: below
// it a thread costs more than it saves.
constexpr size_t minRowsPerWorker = 8192;

unsigned workerCount(size_t rows) {
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::clamp<size_t>(rows / minRowsPerWorker, 1, cores));
}

// Runs f(worker, begin, end) over `workers` consecutive slices of 0 ..< count, the first
// on the calling thread.
template <class F> void forEachSlice(size_t count, unsigned workers, const F& f) {
    auto bound = [&](unsigned w) { return count * w / workers; };
    std::vector<std::jthread> threads;
    threads.reserve(workers - 1);
    for (unsigned w = 1; w < workers; ++w)
        threads.emplace_back([&f, w, b = bound(w), e = bound(w + 1)] { f(w, b, e); });
    f(0u, bound(0), bound(1));
} // the threads join here

// Reads a column's cells without a new string per cell: an edited row's cell is used in
// place, a source field is decoded into one reused buffer.
class CellReader {
public:
    CellReader(const CSVTable& table, int64_t column)
        : table_(table), column_(column), field_(table.columnMap()[static_cast<size_t>(column)]) {}

    std::string_view operator()(int64_t row) {
        const RowRef& ref = table_.rowRef(row);
        if (ref.isEdited()) return table_.editedRow(ref.number())[static_cast<size_t>(column_)];
        if (field_ < 0) return {};
        buffer_.clear();
        FieldIndexer::appendFieldValue(buffer_, table_.sourceFieldBytes(ref.number(), field_),
                                       table_.sourceDialect());
        return buffer_;
    }

private:
    const CSVTable& table_;
    int64_t column_;
    int32_t field_;
    std::string buffer_;
};

bool isASCII(std::string_view text) {
    uint8_t high = 0;
    for (char ch : text)
        high |= static_cast<uint8_t>(ch);
    return high < 0x80;
}

// Unicode default lower case, then NFC, as UTF-8: byte order of UTF-8 is code point order,
// so keys compare with a plain byte comparison.
void appendTextKey(std::string& out, std::string_view text) {
    // ASCII text is already NFC, and its lower case only changes A-Z.
    if (isASCII(text)) {
        const size_t start = out.size();
        out.resize(start + text.size());
        char* key = out.data() + start;
        for (size_t i = 0; i < text.size(); ++i) {
            const char ch = text[i];
            key[i] = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 0x20) : ch;
        }
        return;
    }
    // Code point by code point, the simple lower-case mapping is the full one except for
    // U+0130 (two code points) and U+03A3 (final sigma, by context); a result already in
    // NFC is the key. Anything else takes the whole string route.
    const size_t start = out.size();
    bool simple = true;
    const auto length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        if (c < 0 || c == 0x130 || c == 0x3A3) {
            simple = false;
            break;
        }
        c = u_tolower(c);
        char bytes[4];
        int32_t n = 0;
        U8_APPEND_UNSAFE(bytes, n, c);
        out.append(bytes, static_cast<size_t>(n));
    }
    UErrorCode nfcStatus = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(nfcStatus);
    UErrorCode status = U_ZERO_ERROR;
    if (simple && text.size() == static_cast<size_t>(length) && U_SUCCESS(nfcStatus)) {
        const std::string_view key = std::string_view(out).substr(start);
        if (nfc->isNormalizedUTF8(icu::StringPiece(key.data(), static_cast<int32_t>(key.size())), status) &&
            U_SUCCESS(status))
            return;
    }
    out.resize(start);
    status = U_ZERO_ERROR;
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), length));
    s.toLower(icu::Locale::getRoot());
    if (U_SUCCESS(nfcStatus)) {
        icu::UnicodeString normalized = nfc->normalize(s, status);
        if (U_SUCCESS(status)) s = std::move(normalized);
    }
    s.toUTF8String(out);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A run of digits becomes '0' (so that it compares with other characters as any digit
// does), the length of the run without its leading zeros, then those digits: runs compare
// by length, then digit by digit, with no overflow however long they are.
void appendNaturalKey(std::string& out, std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        while (i < text.size() && !isDigit(text[i]))
            ++i;
        out.append(text.substr(start, i - start));
        if (i == text.size()) break;
        while (i < text.size() && text[i] == '0')
            ++i;
        const size_t significant = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        // The length in one byte below 255, else 255 and eight big-endian bytes.
        const uint64_t length = i - significant;
        char head[10] = {'0'};
        size_t headSize = 2;
        if (length < 0xFF) {
            head[1] = static_cast<char>(length);
        } else {
            head[1] = static_cast<char>(0xFF);
            for (int b = 0; b < 8; ++b)
                head[2 + b] = static_cast<char>(length >> (8 * (7 - b)) & 0xFF);
            headSize = 10;
        }
        out.append(head, headSize);
        out.append(text.substr(significant, i - significant));
    }
}

// Eight of the key's bytes from `from`, big-endian, zero-padded.
uint64_t prefixOf(std::string_view key, size_t from = 0) {
    uint64_t prefix = 0;
    for (size_t i = from; i < from + 8; ++i)
        prefix = prefix << 8 | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
    return prefix;
}

// A text or natural key: `size` bytes at `key`, followed in a natural sort by `tieSize`
// bytes of the lower-cased text, which decides between equal keys. While a slice is
// gathered, `key` is an offset into its bytes (which still grow). The first 16 bytes
// sit in the item: most comparisons end there, and so do those of equal short keys,
// which columns of repeated values are full of.
struct TextItem {
    uint64_t prefix = 0, prefix2 = 0;
    uintptr_t key = 0;
    uint64_t size = 0;
    uint64_t tieSize = 0;
    int64_t position = 0;
};

template <class Key> struct ValueItem {
    Key key{};
    int64_t position = 0;
};

// What each worker gathers for its slice of the data rows, in ascending position.
template <class Item> struct Slice {
    std::vector<Item> keyed;
    std::vector<int64_t> unkeyed;
    std::string bytes; // text and natural keys
};

struct Sorted {
    std::vector<int64_t> keyed, unkeyed;
};

// Merges the slices' sorted items pairwise, on as many threads as there are pairs. The
// order is strict and total, so the result is the one any sorting algorithm gives. Text
// keys' bytes stay in their slices.
template <class Item, class Less>
std::vector<Item> mergeSlices(std::vector<Slice<Item>>& slices, std::vector<int64_t>& unkeyed,
                              const Less& less) {
    std::vector<std::vector<Item>> parts;
    for (auto& s : slices) {
        parts.push_back(std::move(s.keyed));
        unkeyed.insert(unkeyed.end(), s.unkeyed.begin(), s.unkeyed.end());
        s.unkeyed = {};
    }
    while (parts.size() > 1) {
        std::vector<std::vector<Item>> next((parts.size() + 1) / 2);
        forEachSlice(next.size(), static_cast<unsigned>(next.size()), [&](unsigned, size_t b, size_t e) {
            for (size_t p = b; p < e; ++p) {
                if (2 * p + 1 == parts.size()) {
                    next[p] = std::move(parts[2 * p]);
                    continue;
                }
                const auto &left = parts[2 * p], &right = parts[2 * p + 1];
                next[p].resize(left.size() + right.size());
                std::merge(left.begin(), left.end(), right.begin(), right.end(), next[p].begin(), less);
                parts[2 * p] = {};
                parts[2 * p + 1] = {};
            }
        });
        parts = std::move(next);
    }
    return parts.empty() ? std::vector<Item>{} : std::move(parts.front());
}

template <class Item> std::vector<int64_t> positions(const std::vector<Item>& items) {
    std::vector<int64_t> out;
    out.reserve(items.size());
    for (const Item& item : items)
        out.push_back(item.position);
    return out;
}

// `key(cell, slice)` adds the cell's key to the slice and tells whether it had one; each
// thread then sorts its own slice.
template <class Item, class Key, class Less>
void gather(const CSVTable& table, int64_t column, unsigned workers, std::vector<Slice<Item>>& slices,
            const Key& key, const Less& less) {
    const int64_t first = table.firstDataRow();
    slices.resize(workers);
    forEachSlice(static_cast<size_t>(table.dataRowCount()), workers, [&](unsigned w, size_t b, size_t e) {
        Slice<Item>& slice = slices[w];
        slice.keyed.reserve(e - b);
        CellReader read(table, column);
        constexpr size_t probe = 256;
        for (size_t k = b; k < e; ++k) {
            // The first cells tell how many key bytes the slice will need: growing the
            // buffer by doubling would copy it several times over.
            if (k == b + probe) slice.bytes.reserve(slice.bytes.size() / probe * (e - b) * 9 / 8);
            const auto position = static_cast<int64_t>(k);
            if (!key(read(first + position), position, slice)) slice.unkeyed.push_back(position);
        }
        if constexpr (std::is_same_v<Item, TextItem>) {
            const auto base = reinterpret_cast<uintptr_t>(slice.bytes.data()); // no longer grows
            for (Item& item : slice.keyed)
                item.key += base;
        }
        std::sort(slice.keyed.begin(), slice.keyed.end(), less);
    });
}

Sorted sortNumbers(const CSVTable& table, int64_t column, bool ascending, unsigned workers) {
    using Item = ValueItem<double>;
    const auto less = [ascending](const Item& a, const Item& b) {
        if (a.key < b.key) return ascending;
        if (b.key < a.key) return !ascending;
        return a.position < b.position;
    };
    std::vector<Slice<Item>> slices;
    gather<Item>(
        table, column, workers, slices,
        [](std::string_view cell, int64_t position, Slice<Item>& slice) {
            // Not-a-number has no place in an order: such rows go with the unkeyed.
            const std::optional<double> v = numericValue(cell);
            if (!v || std::isnan(*v)) return false;
            slice.keyed.push_back({*v, position});
            return true;
        },
        less);
    Sorted sorted;
    sorted.keyed = positions(mergeSlices(slices, sorted.unkeyed, less));
    return sorted;
}

Sorted sortDates(const CSVTable& table, int64_t column, bool ascending, unsigned workers) {
    // Both readings of every cell first: the whole column decides which order applies.
    constexpr int64_t none = std::numeric_limits<int64_t>::min();
    const auto count = static_cast<size_t>(table.dataRowCount());
    std::vector<int64_t> dayFirst(count), monthFirst(count);
    std::vector<ColumnKindDetector::DateEvidence> evidence(workers);
    const int64_t first = table.firstDataRow();
    forEachSlice(count, workers, [&](unsigned w, size_t b, size_t e) {
        CellReader read(table, column);
        for (size_t k = b; k < e; ++k) {
            const ColumnKindDetector::DateReadings r =
                ColumnKindDetector::dateReadings(read(first + static_cast<int64_t>(k)));
            evidence[w].add(r);
            dayFirst[k] = r.dayFirst.value_or(none);
            monthFirst[k] = r.monthFirst.value_or(none);
        }
    });
    ColumnKindDetector::DateEvidence total;
    for (const auto& e : evidence) {
        total.dayFirstOnly += e.dayFirstOnly;
        total.monthFirstOnly += e.monthFirstOnly;
        total.ambiguous += e.ambiguous;
    }
    // Where no cell decides, a cell that reads two ways has no key; one that reads one way
    // (an ISO date, 05/05/2020) keeps it.
    const std::optional<ColumnKindDetector::DateOrder> order = total.order();
    using Item = ValueItem<int64_t>;
    const auto less = [ascending](const Item& a, const Item& b) {
        if (a.key != b.key) return ascending ? a.key < b.key : b.key < a.key;
        return a.position < b.position;
    };
    std::vector<Slice<Item>> slices(workers);
    forEachSlice(count, workers, [&](unsigned w, size_t b, size_t e) {
        Slice<Item>& slice = slices[w];
        slice.keyed.reserve(e - b);
        for (size_t k = b; k < e; ++k) {
            int64_t key = none;
            if (!order)
                key = dayFirst[k] == monthFirst[k] ? dayFirst[k] : none;
            else
                key = *order == ColumnKindDetector::DateOrder::dayFirst ? dayFirst[k] : monthFirst[k];
            if (key == none)
                slice.unkeyed.push_back(static_cast<int64_t>(k));
            else
                slice.keyed.push_back({key, static_cast<int64_t>(k)});
        }
        std::sort(slice.keyed.begin(), slice.keyed.end(), less);
    });
    Sorted sorted;
    sorted.keyed = positions(mergeSlices(slices, sorted.unkeyed, less));
    return sorted;
}

Sorted sortTexts(const CSVTable& table, int64_t column, bool ascending, bool natural, unsigned workers) {
    const auto less = [ascending](const TextItem& a, const TextItem& b) {
        int c = 0;
        if (a.prefix != b.prefix) {
            c = a.prefix < b.prefix ? -1 : 1;
        } else if (a.prefix2 != b.prefix2) {
            c = a.prefix2 < b.prefix2 ? -1 : 1;
        } else {
            const auto* ka = reinterpret_cast<const char*>(a.key);
            const auto* kb = reinterpret_cast<const char*>(b.key);
            // Keys of at most 16 bytes are all in the prefixes; zero padding makes the
            // shorter of two such keys with equal prefixes the smaller.
            if (a.size <= 16 && b.size <= 16)
                c = a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
            else
                c = std::string_view(ka, a.size).compare(std::string_view(kb, b.size));
            if (c == 0 && (a.tieSize | b.tieSize))
                c = std::string_view(ka + a.size, a.tieSize)
                        .compare(std::string_view(kb + b.size, b.tieSize));
        }
        if (c != 0) return ascending ? c < 0 : c > 0;
        return a.position < b.position;
    };
    std::vector<Slice<TextItem>> slices;
    gather<TextItem>(
        table, column, workers, slices,
        [natural](std::string_view cell, int64_t position, Slice<TextItem>& slice) {
            std::string& bytes = slice.bytes;
            const size_t start = bytes.size();
            if (!natural) {
                appendTextKey(bytes, cell);
                const std::string_view key = std::string_view(bytes).substr(start);
                if (key.empty()) return false;
                slice.keyed.push_back({prefixOf(key), prefixOf(key, 8), start, key.size(), 0, position});
                return true;
            }
            // The natural key goes first, the lower-cased text behind it.
            thread_local std::string lower;
            lower.clear();
            appendTextKey(lower, cell);
            if (lower.empty()) return false;
            appendNaturalKey(bytes, lower);
            const size_t naturalSize = bytes.size() - start;
            bytes += lower;
            const std::string_view key = std::string_view(bytes).substr(start, naturalSize);
            slice.keyed.push_back(
                {prefixOf(key), prefixOf(key, 8), start, naturalSize, lower.size(), position});
            return true;
        },
        less);
    Sorted sorted;
    sorted.keyed = positions(mergeSlices(slices, sorted.unkeyed, less));
    return sorted;
}

} // namespace

Permutation permutation(const CSVTable& table, int64_t column, bool ascending, ColumnKind kind) {
    return permutation(table, column, ascending,
                       kind == ColumnKind::number ? SortKind::number : SortKind::text);
}

Permutation permutation(const CSVTable& table, int64_t column, bool ascending, SortKind kind) {
    const int64_t first = table.firstDataRow();
    const unsigned workers = workerCount(static_cast<size_t>(table.dataRowCount()));
    Sorted sorted;
    // Without data rows there is no cell to read (and a table without rows has no columns).
    if (table.dataRowCount() > 0) switch (kind) {
        case SortKind::number:
            sorted = sortNumbers(table, column, ascending, workers);
            break;
        case SortKind::date:
            sorted = sortDates(table, column, ascending, workers);
            break;
        case SortKind::text:
        case SortKind::natural:
            sorted = sortTexts(table, column, ascending, kind == SortKind::natural, workers);
            break;
        }
    std::vector<uint32_t> order;
    order.reserve(static_cast<size_t>(table.rowCount()));
    if (first == 1) order.push_back(0);
    for (int64_t k : sorted.keyed)
        order.push_back(static_cast<uint32_t>(first + k));
    for (int64_t k : sorted.unkeyed)
        order.push_back(static_cast<uint32_t>(first + k));
    return Permutation(std::move(order));
}

} // namespace TableSorter
} // namespace zarvel
