// ColumnWidthEstimator: column widths from text lengths, without measuring anything on
// screen. Every user-perceived character (extended grapheme cluster) counts as the same
// width, plus a fixed padding, within a floor and a cap.
//
// Two uses: the initial widths of all columns when a table is shown (a sample of the
// first stored rows, header row included, each text cut to 80 bytes), and the width
// that fits one column when the user asks for it (up to 2,000 rows of the column, cut
// to 200 bytes). Both read the table only through CSVTable::displayValues and never
// more than their sample, so a table of ten million rows costs no more than one of a
// thousand. A column's title counts with two characters of allowance.
//
//   auto widths = ColumnWidthEstimator::widths(table);           // one per column
//   double w = ColumnWidthEstimator::fittingWidth(table, 3);     // for "Fit Width"
#pragma once

#include "core/CSVTable.h"
#include "core/IndexRange.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zarvel::ColumnWidthEstimator {

inline constexpr double averageCharacterWidth = 7.2;
inline constexpr double padding = 20;
inline constexpr double minimumEstimatedWidth = 60;
inline constexpr double defaultMaxWidth = 400;
// Same as GridGeometry::maxColumnWidth.
inline constexpr double fittingMaxWidth = 2000;
inline constexpr int64_t headerAllowance = 2;

inline constexpr int64_t defaultSampleRows = 1000;
inline constexpr size_t sampleDisplayLimit = 80;
inline constexpr int64_t fittingSampleRows = 2000;
inline constexpr size_t fittingDisplayLimit = 200;

// min(maxWidth, max(60, count * 7.2 + 20)): the one width formula.
double widthForCharacters(int64_t count, double maxWidth);

// Initial widths, one per column, from the title and stored rows 0 ..< sampleRows,
// each capped at defaultMaxWidth. Empty for a table without columns.
std::vector<double> widths(const CSVTable& table, int64_t sampleRows = defaultSampleRows);

// The width that fits one column's title and its texts in the given stored rows,
// capped at fittingMaxWidth. The rows are clipped to the table and to at most
// fittingSampleRows rows from their start.
double fittingWidth(const CSVTable& table, int64_t column, IndexRange rows);
// The same over the rows a fit samples: the first fittingSampleRows data rows.
double fittingWidth(const CSVTable& table, int64_t column);
// firstDataRow ..< min(firstDataRow + fittingSampleRows, rowCount).
IndexRange fittingRows(const CSVTable& table);

// User-perceived characters (extended grapheme clusters) of UTF-8 text.
int64_t characterCount(std::string_view utf8);

} // namespace zarvel::ColumnWidthEstimator
