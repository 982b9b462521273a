// FindState: what the find bar shows and edits, and the matches of the last search.
#pragma once

#include "core/CellPosition.h"

#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zarvel {

// The matches of one search: never changed once made, shared by every copy of the find
// state and compared by identity, so copying or comparing a FindState (at every Find
// Next or keystroke in the replace field) costs the same for a million matches as for one.
class MatchList {
public:
    MatchList() = default;
    MatchList(std::vector<CellPosition> matches) // NOLINT: a result lands as a list
        : matches_(matches.empty() ? nullptr
                                   : std::make_shared<const std::vector<CellPosition>>(std::move(matches))) {}

    const std::vector<CellPosition>& all() const { return matches_ ? *matches_ : none(); }
    operator const std::vector<CellPosition>&() const { return all(); } // NOLINT
    bool empty() const { return all().empty(); }
    size_t size() const { return all().size(); }
    const CellPosition& operator[](size_t i) const { return all()[i]; }
    auto begin() const { return all().begin(); }
    auto end() const { return all().end(); }
    void clear() { matches_.reset(); }

    // The same search's result, not merely equal positions.
    bool operator==(const MatchList& other) const { return matches_ == other.matches_; }

private:
    static const std::vector<CellPosition>& none() {
        static const std::vector<CellPosition> empty;
        return empty;
    }
    std::shared_ptr<const std::vector<CellPosition>> matches_;
};

struct FindState {
    bool isPresented = false;
    bool showsReplace = false;
    std::string query;
    std::string replacement;
    bool caseSensitive = false;
    // The query is a regular expression (ICU syntax).
    bool isRegex = false;
    bool showsOnlyMatches = false;
    // Table rows and columns, row-major; never a cell of the header row.
    MatchList matches;
    std::optional<int64_t> current;
    // Why the query, as a regular expression, does not compile; empty when it does.
    std::string patternError;
    // A fresh value asks the find bar to take keyboard focus.
    QUuid focusRequest = QUuid::createUuid();

    bool operator==(const FindState&) const = default;
};

} // namespace zarvel
