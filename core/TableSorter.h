// TableSorter: the row order that sorts a table's data rows by one column.
// The header row never moves; rows without a key stay at the bottom in their order.
#pragma once

#include "core/CSVTable.h"
#include "core/ColumnKindDetector.h"
#include "core/TableEdit.h"

namespace zarvel::TableSorter {

Permutation permutation(const CSVTable& table, int64_t column, bool ascending, ColumnKind kind);

} // namespace zarvel::TableSorter
