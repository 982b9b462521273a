#include "core/TableSorter.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace zarvel::TableSorter {
namespace {

bool isASCII(std::string_view text) {
    uint8_t high = 0;
    for (char ch : text)
        high |= static_cast<uint8_t>(ch);
    return high < 0x80;
}

// Unicode default lower case, then NFC, as UTF-8: byte order of UTF-8 is code point order,
// so keys compare with a plain byte comparison.
std::string textKey(std::string text) {
    // ASCII text is already NFC, and its lower case only changes A-Z.
    if (isASCII(text)) {
        for (char& ch : text)
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 0x20);
        return text;
    }
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
    s.toLower(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString normalized = nfc->normalize(s, status);
        if (U_SUCCESS(status)) s = std::move(normalized);
    }
    std::string key;
    s.toUTF8String(key);
    return key;
}

// A number that is not a number has no place in an order: such rows go with the unkeyed.
std::optional<double> numberKey(const std::string& text) {
    std::optional<double> v = numericValue(text);
    if (v && std::isnan(*v)) return std::nullopt;
    return v;
}

// Sort items hold their key (or its first bytes) beside the position, so comparisons
// rarely leave the array. Ties go by position in both directions, which makes the order
// strict and total: any sorting algorithm gives the same result.
struct NumberItem {
    double key;
    int64_t position;
};

struct TextItem {
    uint64_t prefix; // the key's first 8 bytes, big-endian, zero-padded
    const std::string* key;
    int64_t position;
};

uint64_t prefixOf(const std::string& key) {
    uint64_t prefix = 0;
    for (size_t i = 0; i < 8; ++i)
        prefix = prefix << 8 | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
    return prefix;
}

int compareKeys(const TextItem& a, const TextItem& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix ? -1 : 1;
    return a.key->compare(*b.key);
}

} // namespace

Permutation permutation(const CSVTable& table, int64_t column, bool ascending, ColumnKind kind) {
    const int64_t n = table.rowCount();
    const int64_t first = table.firstDataRow();
    const auto count = static_cast<size_t>(n - first);

    std::vector<int64_t> keyed, unkeyed;
    keyed.reserve(count);
    if (kind == ColumnKind::number) {
        std::vector<NumberItem> items;
        items.reserve(count);
        for (size_t k = 0; k < count; ++k) {
            if (auto v = numberKey(table.value(first + static_cast<int64_t>(k), column))) {
                items.push_back({*v, static_cast<int64_t>(k)});
            } else {
                unkeyed.push_back(static_cast<int64_t>(k));
            }
        }
        std::sort(items.begin(), items.end(), [ascending](const NumberItem& a, const NumberItem& b) {
            if (a.key < b.key) return ascending;
            if (b.key < a.key) return !ascending;
            return a.position < b.position;
        });
        for (const NumberItem& item : items)
            keyed.push_back(item.position);
    } else {
        std::vector<std::string> keys(count);
        std::vector<TextItem> items;
        items.reserve(count);
        for (size_t k = 0; k < count; ++k) {
            keys[k] = textKey(table.value(first + static_cast<int64_t>(k), column));
            if (keys[k].empty()) {
                unkeyed.push_back(static_cast<int64_t>(k));
            } else {
                items.push_back({prefixOf(keys[k]), &keys[k], static_cast<int64_t>(k)});
            }
        }
        std::sort(items.begin(), items.end(), [ascending](const TextItem& a, const TextItem& b) {
            const int c = compareKeys(a, b);
            if (c != 0) return ascending ? c < 0 : c > 0;
            return a.position < b.position;
        });
        for (const TextItem& item : items)
            keyed.push_back(item.position);
    }

    Permutation p;
    p.order.reserve(static_cast<size_t>(n));
    if (first == 1) p.order.push_back(0);
    for (int64_t k : keyed)
        p.order.push_back(first + k);
    for (int64_t k : unkeyed)
        p.order.push_back(first + k);
    return p;
}

} // namespace zarvel::TableSorter
