// TableSearch: every cell whose text contains a query, found in parallel chunks with a
// byte prefilter, and the replacement text of a cell.
//
// Matching rule: a cell matches when its value (never its display text) contains the
// query. Case-sensitive comparison is exact; otherwise both sides are compared under
// Unicode simple case folding, the same rule in matches(), find() and replacing().
#pragma once

#include "core/CSVTable.h"
#include "core/CellPosition.h"
#include "core/TableEdit.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace zarvel::TableSearch {

// Matches in ascending (row, column) order; rows are stored rows (the header row too).
// A stop request makes every worker return within 4096 rows; the partial result is
// sorted like a full one. `workers` 0 means one per active core. `allowPrefilter` false
// decodes every cell (the result is the same; tests compare the two).
[[nodiscard]] std::vector<CellPosition> find(std::string_view query, const CSVTable& table,
                                             bool caseSensitive, std::stop_token stop = {}, int workers = 0,
                                             bool allowPrefilter = true);

// An empty query matches nothing, as in find().
[[nodiscard]] bool matches(std::string_view text, std::string_view query, bool caseSensitive);

// `text` with every occurrence of `query`, left to right without overlap, replaced;
// unchanged for an empty query.
[[nodiscard]] std::string replacing(std::string_view query, std::string_view replacement,
                                    std::string_view text, bool caseSensitive);

// A regular expression in ICU's syntax, compiled once and shared by every worker.
// Matching is per cell value; without `caseSensitive` ICU's case-insensitive mode
// applies (Unicode case folding, as in plain search). Replacements take $0 for the
// whole match and $1…$9 for its groups; \$ writes a dollar sign and \\ a backslash.
class Regex {
public:
    Regex(std::string_view pattern, bool caseSensitive);

    bool isValid() const { return compiled_ != nullptr; }
    // Why the pattern does not compile and where (a character position from 1); empty
    // when it compiles.
    const std::string& error() const { return error_; }
    // Whether the pattern matches somewhere in `text`; false for an invalid pattern.
    [[nodiscard]] bool matches(std::string_view text) const;
    // `text` with every match, left to right, replaced by the expanded `replacement`;
    // unchanged for an invalid pattern.
    [[nodiscard]] std::string replacing(std::string_view replacement, std::string_view text) const;

    struct Compiled;
    const Compiled* compiled() const { return compiled_.get(); }

private:
    std::shared_ptr<const Compiled> compiled_;
    std::string error_;
};

// The cells `regex` matches, in the order and with the workers, cancellation and
// prefilter of the plain find(); an invalid pattern finds nothing. The prefilter is only
// used when the pattern has a literal every match must contain.
[[nodiscard]] std::vector<CellPosition> find(const Regex& regex, const CSVTable& table,
                                             std::stop_token stop = {}, int workers = 0,
                                             bool allowPrefilter = true);

// The literal (and whether it is compared ignoring case) that every match of `pattern`
// must contain, as the prefilter looks for it; empty when there is none that is
// certain. Exposed for tests.
[[nodiscard]] std::pair<std::string, bool> requiredLiteral(std::string_view pattern, bool caseSensitive);

// Replace All's changes: the cells `matches` names (as find() returns them), each
// rewritten by `replace`, keeping only those whose text changes, in the order of
// `matches`. A position outside the table or in its header row is skipped. Runs on
// `workers` threads (0: one per active core); `done`, when given, counts the matches
// looked at. A stop request gives std::nullopt within a few thousand matches.
using CellRewrite = std::function<std::string(std::string_view)>;
[[nodiscard]] std::optional<std::vector<CellChange>>
replacements(const CSVTable& table, std::span<const CellPosition> matches, const CellRewrite& replace,
             std::stop_token stop = {}, int workers = 0, std::atomic<int64_t>* done = nullptr);

} // namespace zarvel::TableSearch
