// TableSearch: every cell whose text contains a query, found in parallel chunks with a
// byte prefilter, and the replacement text of a cell.
//
// Matching rule: a cell matches when its value (never its display text) contains the
// query. Case-sensitive comparison is exact; otherwise both sides are compared under
// Unicode simple case folding, the same rule in matches(), find() and replacing().
#pragma once

#include "core/CSVTable.h"
#include "core/CellPosition.h"

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace zarvel::TableSearch {

// Matches in ascending (row, column) order; rows are stored rows (the header row too).
// A stop request makes every worker return within 4096 rows; the partial result is
// sorted like a full one. `workers` 0 means one per active core. `allowPrefilter` false
// decodes every cell (the result is the same; tests compare the two).
[[nodiscard]] std::vector<CellPosition> find(std::string_view query, const CSVTable& table, bool caseSensitive,
                               std::stop_token stop = {}, int workers = 0, bool allowPrefilter = true);

// An empty query matches nothing, as in find().
[[nodiscard]] bool matches(std::string_view text, std::string_view query, bool caseSensitive);

// `text` with every occurrence of `query`, left to right without overlap, replaced;
// unchanged for an empty query.
[[nodiscard]] std::string replacing(std::string_view query, std::string_view replacement, std::string_view text,
                      bool caseSensitive);

} // namespace zarvel::TableSearch
