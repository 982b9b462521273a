// FindState: what the find bar shows and edits, and the matches of the last search.
#pragma once

#include "core/CellPosition.h"

#include <QUuid>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zarvel {

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
    std::vector<CellPosition> matches;
    std::optional<int64_t> current;
    // Why the query, as a regular expression, does not compile; empty when it does.
    std::string patternError;
    // A fresh value asks the find bar to take keyboard focus.
    QUuid focusRequest = QUuid::createUuid();

    bool operator==(const FindState&) const = default;
};

} // namespace zarvel
