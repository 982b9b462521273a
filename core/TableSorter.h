// TableSorter: the row order that sorts a table's data rows by one column.
// The header row never moves; rows without a key (an empty text; in a number column a
// text that is no number, or not-a-number; in a date sort a text that is no date) stay at
// the bottom in their order. Equal keys keep their order in both directions, so
// descending is not ascending reversed.
#pragma once

#include "core/CSVTable.h"
#include "core/ColumnKindDetector.h"
#include "core/TableEdit.h"

#include <array>
#include <optional>
#include <string_view>

namespace zarvel {

// How cells compare.
//   text:    the lower-cased text, by code points («10» before «9»);
//   number:  the number the cell reads as;
//   natural: the lower-cased text with runs of digits compared as whole numbers
//            («file2» before «file10»); texts that differ only in leading zeros follow
//            their lower-cased text («a01» before «a1»);
//   date:    the instant the cell reads as (ColumnKindDetector::dateReadings), in the
//            day-month order the column's cells decide.
enum class SortKind : uint8_t { text, number, natural, date };
inline constexpr std::array<SortKind, 4> allSortKinds{SortKind::text, SortKind::number, SortKind::natural,
                                                      SortKind::date};
std::string_view rawValue(SortKind kind);
std::optional<SortKind> sortKindFromRawValue(std::string_view raw);

namespace TableSorter {

// The plain sort of a column of this kind: numbers as numbers, everything else as text.
[[nodiscard]] Permutation permutation(const CSVTable& table, int64_t column, bool ascending, ColumnKind kind);
[[nodiscard]] Permutation permutation(const CSVTable& table, int64_t column, bool ascending, SortKind kind);

} // namespace TableSorter
} // namespace zarvel
