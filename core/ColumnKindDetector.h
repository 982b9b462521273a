// ColumnKindDetector: the one rule that decides whether a text is a number or a date, and
// the classification of columns as numbers, dates or text from a sample of their cells.
//
//   numericValue("1.234,56") == 1234.56;  numericValue("12%") == std::nullopt
//   dateReadings("31.12.2020").dayFirst is that day; its monthFirst reading is none
#pragma once

#include "core/CSVTable.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zarvel {

enum class ColumnKind : uint8_t { number, text, date };

namespace ColumnKindDetector {

// Trims Unicode white space (not line breaks); the first character must be a decimal
// digit, a sign or a point; then a C-locale floating-point literal (whole text), else
// a reading of thousands and decimal separators.
[[nodiscard]] std::optional<double> numericValue(std::string_view text);

// How a date written with three numbers (12/05/2020, 12.05.2020, 12-05-2020) is read.
enum class DateOrder : uint8_t { dayFirst, monthFirst };

// A text's instant in microseconds from 1970-01-01 00:00 (proleptic Gregorian calendar),
// under each order. ISO 8601 dates and date-times (2020-05-12, 2020-05-12T08:30,
// 2020-05-12 08:30:15.25+02:00; an offset is taken into account, a time without one is
// read as UTC) read the same under both; day.month.year and month/day/year forms (one or
// two digits for day and month, four for the year, the same separator / . or - twice)
// give a reading for each order that makes a valid day.
struct DateReadings {
    std::optional<int64_t> dayFirst, monthFirst;
    bool isDate() const { return dayFirst || monthFirst; }
};
[[nodiscard]] DateReadings dateReadings(std::string_view text);

// What a column's cells say about its date order: a cell that reads only day-first (a day
// over 12 in front) or only month-first decides; cells that read either way, differently
// (03/04/2020), cannot decide alone.
struct DateEvidence {
    int64_t dayFirstReadable = 0, monthFirstReadable = 0; // cells with a reading in that order
    int64_t dayFirstOnly = 0, monthFirstOnly = 0;
    int64_t ambiguous = 0; // both readings, and they differ

    void add(const DateReadings& r);
    // The order with the more deciding cells (day-first on a tie); when no cell decides and
    // some cell reads two ways, none: the column's dates cannot be told apart.
    [[nodiscard]] std::optional<DateOrder> order() const;
};

// One kind per column from the first `sampleRows` data rows: number when at least 90 %
// of the non-empty cells are numbers, else date when at least 90 % are dates under the
// order the sample decides (a sample whose day-month forms all read both ways stays
// text), else text.
[[nodiscard]] std::vector<ColumnKind> kinds(const CSVTable& table, int64_t sampleRows);

} // namespace ColumnKindDetector

// The rule by which other parts of the program read a cell as a number.
inline std::optional<double> numericValue(std::string_view text) {
    return ColumnKindDetector::numericValue(text);
}

} // namespace zarvel
