#include "core/ColumnKindDetector.h"

#include "core/UTF8.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace zarvel::ColumnKindDetector {

namespace {

bool isSpaceSeparator(char32_t c) { return c == '\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR; }

// Trims tabs and Unicode space separators (not line breaks) from both ends.
std::string_view trimmed(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        const auto b = static_cast<uint8_t>(text[begin]);
        if (b < 0x80) {
            if (b != ' ' && b != '\t') break;
            ++begin;
            continue;
        }
        size_t next = begin;
        if (!isSpaceSeparator(UTF8::decodeNext(text, next))) break;
        begin = next;
    }
    size_t end = text.size();
    while (end > begin) {
        const auto b = static_cast<uint8_t>(text[end - 1]);
        if (b < 0x80) {
            if (b != ' ' && b != '\t') break;
            --end;
            continue;
        }
        size_t start = end - 1;
        while (start > begin && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) --start;
        size_t next = start;
        if (!isSpaceSeparator(UTF8::decodeNext(text, next)) || next != end) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

// The C library's locale-independent reading; the whole text must be consumed.
std::optional<double> parseWhole(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = strtod_l(s.c_str(), &end, cLocale());
    if (end != s.c_str() + s.size()) return std::nullopt;
    return v;
}

} // namespace

std::optional<double> numericValue(std::string_view text) {
    const std::string_view t = trimmed(text);
    if (t.empty()) return std::nullopt;
    const auto first = static_cast<uint8_t>(t[0]);
    if (first < 0x80) {
        if (!(first >= '0' && first <= '9') && first != '+' && first != '-' && first != '.') return std::nullopt;
    } else {
        size_t pos = 0;
        if (u_charType(static_cast<UChar32>(UTF8::decodeNext(t, pos))) != U_DECIMAL_DIGIT_NUMBER) return std::nullopt;
    }
    // strtod would stop at an embedded NUL and report success on the prefix.
    if (t.find('\0') != std::string_view::npos) return std::nullopt;
    std::string s(t);
    if (auto v = parseWhole(s)) return v;
    const size_t lastComma = s.rfind(',');
    if (lastComma == std::string::npos) return std::nullopt;
    const size_t lastPoint = s.rfind('.');
    std::string normalized;
    normalized.reserve(s.size());
    if (lastPoint != std::string::npos && lastPoint > lastComma) {
        for (char c : s)
            if (c != ',') normalized.push_back(c);
    } else if (lastPoint != std::string::npos) {
        for (char c : s) {
            if (c == '.') continue;
            normalized.push_back(c == ',' ? '.' : c);
        }
    } else if (std::count(s.begin(), s.end(), ',') == 1) {
        normalized = s;
        normalized[lastComma] = '.';
    } else {
        for (char c : s)
            if (c != ',') normalized.push_back(c);
    }
    return parseWhole(normalized);
}

std::vector<ColumnKind> kinds(const CSVTable& table, int64_t sampleRows) {
    const int64_t columns = table.columnCount();
    std::vector<ColumnKind> result(static_cast<size_t>(columns), ColumnKind::text);
    const int64_t first = table.format().hasHeader && table.rowCount() > 0 ? 1 : 0;
    const int64_t last = std::min(first + sampleRows, table.rowCount()); // exclusive
    // Column by column, one cell at a time: a row of millions of fields would otherwise
    // cost a string and two counters per field.
    for (int64_t c = 0; c < columns; ++c) {
        int64_t nonEmpty = 0, numbers = 0;
        for (int64_t r = first; r < last; ++r) {
            const std::string value = table.value(r, c);
            if (value.empty()) continue;
            ++nonEmpty;
            if (numericValue(value)) ++numbers;
        }
        if (nonEmpty > 0 && numbers * 10 >= nonEmpty * 9) result[static_cast<size_t>(c)] = ColumnKind::number;
    }
    return result;
}

} // namespace zarvel::ColumnKindDetector
