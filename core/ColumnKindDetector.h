// ColumnKindDetector: the one rule that decides whether a text is a number, and the
// classification of columns as numbers or text from a sample of their cells.
//
//   numericValue("1.234,56") == 1234.56;  numericValue("12%") == std::nullopt
#pragma once

#include "core/CSVTable.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zarvel {

enum class ColumnKind : uint8_t { number, text };

namespace ColumnKindDetector {

// Trims Unicode white space (not line breaks); the first character must be a decimal
// digit, a sign or a point; then a C-locale floating-point literal (whole text), else
// a reading of thousands and decimal separators.
[[nodiscard]] std::optional<double> numericValue(std::string_view text);

// One kind per column from the first `sampleRows` data rows: number when at least 90 %
// of the non-empty cells are numbers.
[[nodiscard]] std::vector<ColumnKind> kinds(const CSVTable& table, int64_t sampleRows);

} // namespace ColumnKindDetector

// The rule by which other parts of the program read a cell as a number.
inline std::optional<double> numericValue(std::string_view text) { return ColumnKindDetector::numericValue(text); }

} // namespace zarvel
