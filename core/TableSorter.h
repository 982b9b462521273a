// TableSorter: the row order that sorts a table's data rows by one column.
// The header row never moves; rows without a key (an empty text; in a number column a
// text that is no number, or not-a-number) stay at the bottom in their order. Equal keys
// keep their order in both directions, so descending is not ascending reversed.
#pragma once

#include "core/CSVTable.h"
#include "core/ColumnKindDetector.h"
#include "core/TableEdit.h"

namespace zarvel::TableSorter {

[[nodiscard]] Permutation permutation(const CSVTable& table, int64_t column, bool ascending, ColumnKind kind);

} // namespace zarvel::TableSorter
