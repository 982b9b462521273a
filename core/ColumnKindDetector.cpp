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

bool isSpaceSeparator(char32_t c) {
    return c == '\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

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
        while (start > begin && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80)
            --start;
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

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Exactly `count` ASCII digits at `pos`.
bool readDigits(std::string_view t, size_t& pos, size_t count, int& value) {
    if (pos + count > t.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!isDigit(t[pos + i])) return false;
        value = value * 10 + (t[pos + i] - '0');
    }
    pos += count;
    return true;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

constexpr int64_t microsecondsPerDay = 86'400'000'000;

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::optional<int64_t> dayInstant(int year, int month, int day) {
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return std::nullopt;
    return daysFromCivil(year, month, day) * microsecondsPerDay;
}

// YYYY-MM-DD, then optionally T (or a space) hh:mm[:ss[.fraction]] and Z or ±hh[[:]mm].
std::optional<int64_t> isoInstant(std::string_view t) {
    size_t pos = 0;
    int year = 0, month = 0, day = 0;
    if (!readDigits(t, pos, 4, year) || pos >= t.size() || t[pos++] != '-' || !readDigits(t, pos, 2, month) ||
        pos >= t.size() || t[pos++] != '-' || !readDigits(t, pos, 2, day))
        return std::nullopt;
    std::optional<int64_t> instant = dayInstant(year, month, day);
    if (!instant || pos == t.size()) return instant;
    if (t[pos] != 'T' && t[pos] != 't' && t[pos] != ' ') return std::nullopt;
    ++pos;
    int hour = 0, minute = 0, second = 0;
    if (!readDigits(t, pos, 2, hour) || pos >= t.size() || t[pos++] != ':' || !readDigits(t, pos, 2, minute))
        return std::nullopt;
    if (hour > 23 || minute > 59) return std::nullopt;
    int64_t micros = 0;
    if (pos < t.size() && t[pos] == ':') {
        ++pos;
        if (!readDigits(t, pos, 2, second) || second > 60) return std::nullopt; // 60: a leap second
        if (pos < t.size() && (t[pos] == '.' || t[pos] == ',')) {
            ++pos;
            const size_t start = pos;
            int64_t scale = 100'000;
            for (; pos < t.size() && isDigit(t[pos]); ++pos, scale /= 10)
                micros += (t[pos] - '0') * scale; // digits past microseconds add nothing
            if (pos == start) return std::nullopt;
        }
    }
    int64_t offsetMinutes = 0;
    if (pos < t.size() && (t[pos] == 'Z' || t[pos] == 'z')) {
        ++pos;
    } else if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
        const int sign = t[pos++] == '-' ? -1 : 1;
        int offsetHours = 0, offsetMinute = 0;
        if (!readDigits(t, pos, 2, offsetHours)) return std::nullopt;
        if (pos < t.size() && t[pos] == ':') ++pos;
        if (pos < t.size() && !readDigits(t, pos, 2, offsetMinute)) return std::nullopt;
        if (offsetHours > 23 || offsetMinute > 59) return std::nullopt;
        offsetMinutes = sign * (offsetHours * 60 + offsetMinute);
    }
    if (pos != t.size()) return std::nullopt;
    return *instant + ((hour * 60 + minute - offsetMinutes) * 60 + second) * int64_t{1'000'000} + micros;
}

// One or two digits, a separator, one or two digits, the same separator, four digits.
bool readDayMonthForm(std::string_view t, int& first, int& second, int& year) {
    size_t pos = 0;
    auto shortNumber = [&](int& value) {
        const size_t start = pos;
        value = 0;
        while (pos < t.size() && pos - start < 2 && isDigit(t[pos]))
            value = value * 10 + (t[pos++] - '0');
        return pos > start;
    };
    if (!shortNumber(first) || pos >= t.size()) return false;
    const char separator = t[pos++];
    if (separator != '/' && separator != '.' && separator != '-') return false;
    if (!shortNumber(second) || pos >= t.size() || t[pos++] != separator) return false;
    return readDigits(t, pos, 4, year) && pos == t.size();
}

} // namespace

DateReadings dateReadings(std::string_view text) {
    const std::string_view t = trimmed(text);
    if (t.size() < 8 || t.size() > 40 || !isDigit(t[0])) return {};
    if (auto instant = isoInstant(t)) return {instant, instant};
    int first = 0, second = 0, year = 0;
    if (!readDayMonthForm(t, first, second, year)) return {};
    return {dayInstant(year, second, first), dayInstant(year, first, second)};
}

void DateEvidence::add(const DateReadings& r) {
    dayFirstReadable += r.dayFirst.has_value();
    monthFirstReadable += r.monthFirst.has_value();
    dayFirstOnly += r.dayFirst && !r.monthFirst;
    monthFirstOnly += r.monthFirst && !r.dayFirst;
    ambiguous += r.dayFirst && r.monthFirst && *r.dayFirst != *r.monthFirst;
}

std::optional<DateOrder> DateEvidence::order() const {
    if (dayFirstOnly == 0 && monthFirstOnly == 0 && ambiguous > 0) return std::nullopt;
    return monthFirstOnly > dayFirstOnly ? DateOrder::monthFirst : DateOrder::dayFirst;
}

std::optional<double> numericValue(std::string_view text) {
    const std::string_view t = trimmed(text);
    if (t.empty()) return std::nullopt;
    const auto first = static_cast<uint8_t>(t[0]);
    if (first < 0x80) {
        if (!(first >= '0' && first <= '9') && first != '+' && first != '-' && first != '.')
            return std::nullopt;
    } else {
        size_t pos = 0;
        if (u_charType(static_cast<UChar32>(UTF8::decodeNext(t, pos))) != U_DECIMAL_DIGIT_NUMBER)
            return std::nullopt;
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
        DateEvidence dates;
        for (int64_t r = first; r < last; ++r) {
            const std::string value = table.value(r, c);
            if (value.empty()) continue;
            ++nonEmpty;
            if (numericValue(value))
                ++numbers;
            else
                dates.add(dateReadings(value));
        }
        if (nonEmpty == 0) continue;
        if (numbers * 10 >= nonEmpty * 9) {
            result[static_cast<size_t>(c)] = ColumnKind::number;
        } else if (const auto order = dates.order()) {
            const int64_t readable =
                *order == DateOrder::dayFirst ? dates.dayFirstReadable : dates.monthFirstReadable;
            if (readable * 10 >= nonEmpty * 9) result[static_cast<size_t>(c)] = ColumnKind::date;
        }
    }
    return result;
}

} // namespace zarvel::ColumnKindDetector
