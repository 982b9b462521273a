// EditorSession: find and replace, and "Only matching rows".
#include "app/session/EditorSession.h"

#include "core/TableSearch.h"

#include <algorithm>
#include <span>

namespace zarvel {

void EditorSession::presentFind(bool showReplace) {
    FindState f = find_;
    f.isPresented = true;
    f.showsReplace = f.showsReplace || showReplace;
    f.focusRequest = QUuid::createUuid();
    setFind(f);
}

void EditorSession::closeFind() {
    FindState f = find_;
    f.isPresented = false;
    f.matches.clear();
    f.current.reset();
    setFind(f);
    setShowsOnlyMatches(false);
}

void EditorSession::cancelSearch() {
    // A result for the old query or case must not land after the new one was asked for.
    searchStop_.request_stop();
    ++searchGeneration_;
    if (replacing_) endReplacing();
}

void EditorSession::setQuery(const std::string& query) {
    if (query != find_.query) cancelSearch();
    FindState f = find_;
    f.query = query;
    setFind(f);
}

void EditorSession::setReplacement(const std::string& replacement) {
    FindState f = find_;
    f.replacement = replacement;
    setFind(f);
}

void EditorSession::setCaseSensitive(bool caseSensitive) {
    if (caseSensitive != find_.caseSensitive) cancelSearch();
    FindState f = find_;
    f.caseSensitive = caseSensitive;
    setFind(f);
}

void EditorSession::setRegex(bool isRegex) {
    if (isRegex != find_.isRegex) cancelSearch();
    FindState f = find_;
    f.isRegex = isRegex;
    f.patternError.clear(); // the next search says again
    setFind(f);
}

void EditorSession::setShowsReplace(bool showsReplace) {
    FindState f = find_;
    f.showsReplace = showsReplace;
    setFind(f);
}

bool EditorSession::matchIsCurrent(const CellPosition& match, const CSVTable& table) const {
    // Matches of an older search may name rows or columns that are gone.
    return match.row >= table.firstDataRow() && match.row < table.rowCount() && match.column >= 0 &&
           match.column < table.columnCount();
}

void EditorSession::search() {
    cancelSearch();
    searchStop_ = std::stop_source();
    const uint64_t generation = searchGeneration_;
    std::optional<TableSearch::Regex> regex;
    if (find_.isRegex && !find_.query.empty()) regex.emplace(find_.query, find_.caseSensitive);
    if (find_.query.empty() || (regex && !regex->isValid())) {
        // An invalid pattern searches nothing and says why.
        FindState f = find_;
        f.matches.clear();
        f.current.reset();
        f.patternError = regex ? regex->error() : std::string();
        setFind(f);
        if (regex && find_.showsOnlyMatches) {
            rebuildFilterFromMatches(false);
            Q_EMIT searchFinished();
            return;
        }
        if (rowFilter_) setShowsOnlyMatches(false);
        Q_EMIT searchFinished();
        return;
    }
    if (!document_) return;
    const CSVTable copy = currentTable();
    const int64_t revision = copy.revision();
    const std::stop_token stop = searchStop_.get_token();
    const std::string query = find_.query;
    const bool caseSensitive = find_.caseSensitive;
    runInBackground<std::vector<CellPosition>>(
        [copy, query, caseSensitive, regex, stop] {
            return regex ? TableSearch::find(*regex, copy, stop)
                         : TableSearch::find(query, copy, caseSensitive, stop);
        },
        [this, stop, generation, revision](std::vector<CellPosition> matches) {
            // A superseded or cancelled search ends silently; its successor reports.
            if (stop.stop_requested() || generation != searchGeneration_) return;
            if (!document_ || currentTable().revision() != revision) {
                Q_EMIT searchFinished();
                return;
            }
            const CSVTable t = currentTable();
            if (t.firstDataRow() == 1)
                std::erase_if(matches, [](const CellPosition& m) { return m.row == 0; });
            FindState f = find_;
            f.matches = std::move(matches);
            f.current.reset();
            f.patternError.clear();
            setFind(f);
            if (find_.showsOnlyMatches) rebuildFilterFromMatches(false);
            Q_EMIT searchFinished();
        });
}

void EditorSession::findNext(bool forward) {
    commitPendingDraft();
    const auto& matches = find_.matches;
    if (matches.empty()) return;
    const int64_t displayed = displayedRowCount();
    if (displayed == 0) return;
    const CSVTable t = currentTable();
    const auto count = static_cast<int64_t>(matches.size());

    int64_t index;
    if (find_.current && *find_.current >= 0 && *find_.current < count) {
        index = forward ? (*find_.current + 1) % count : (*find_.current + count - 1) % count;
    } else {
        const int64_t row = std::clamp<int64_t>(selection_.active.row, 0, displayed - 1);
        const CellPosition from{tableRow(row), selection_.active.column};
        const auto after = std::upper_bound(matches.begin(), matches.end(), from);
        const auto position = static_cast<int64_t>(after - matches.begin());
        index = forward ? (position == count ? 0 : position) : (position + count - 1) % count;
    }
    // Skip matches that a change of the table left behind, in the direction of travel.
    int64_t tries = 0;
    while (!matchIsCurrent(matches[static_cast<size_t>(index)], t)) {
        if (++tries >= count) return;
        index = forward ? (index + 1) % count : (index + count - 1) % count;
    }
    FindState f = find_;
    f.current = index;
    setFind(f);
    const CellPosition match = matches[static_cast<size_t>(index)];
    if (const auto row = displayRow(match.row)) {
        setSelection({{*row, match.column}, {*row, match.column}});
        requestScroll();
    }
}

void EditorSession::replaceCurrent() {
    commitPendingDraft();
    const auto& matches = find_.matches;
    std::optional<int64_t> current = find_.current;
    if (!current && selectionDisplayedRowValid()) {
        // After a fresh search nothing is current; the match the user stands on is.
        const CellPosition here{tableRow(selection_.active.row), selection_.active.column};
        const auto it = std::lower_bound(matches.begin(), matches.end(), here);
        if (it != matches.end() && *it == here) {
            current = static_cast<int64_t>(it - matches.begin());
            FindState f = find_;
            f.current = current;
            setFind(f);
        }
    }
    if (current && *current >= 0 && *current < static_cast<int64_t>(matches.size())) {
        const CellPosition match = matches[static_cast<size_t>(*current)];
        std::optional<std::string> replaced;
        {
            // Gone before the edit, which would otherwise copy the row list it shares.
            const CSVTable t = currentTable();
            if (matchIsCurrent(match, t)) {
                const std::string value = t.value(match.row, match.column);
                replaced = find_.isRegex ? TableSearch::Regex(find_.query, find_.caseSensitive)
                                               .replacing(find_.replacement, value)
                                         : TableSearch::replacing(find_.query, find_.replacement, value,
                                                                  find_.caseSensitive);
                if (*replaced == value) replaced.reset();
            }
        }
        if (replaced)
            applyEdit(TableEdit::setCells({{match.row, match.column, std::move(*replaced)}}),
                      QStringLiteral("Replace"));
    }
    findNext(true);
}

void EditorSession::replaceAll() {
    commitPendingDraft();
    if (!document_ || isOpening() || replacing_ || find_.matches.empty()) return;
    std::optional<TableSearch::Regex> regex;
    if (find_.isRegex) {
        regex.emplace(find_.query, find_.caseSensitive);
        if (!regex->isValid()) return;
    }
    // The search's stop source and generation: whatever would supersede a search (a new
    // one, another query) supersedes this too, and the session going away stops it.
    cancelSearch();
    searchStop_ = std::stop_source();
    const uint64_t generation = searchGeneration_;
    const std::stop_token stop = searchStop_.get_token();
    // A search still running was just dropped; the matches replaced are the ones shown.
    Q_EMIT searchFinished();
    auto done = std::make_shared<std::atomic<int64_t>>(0);
    replacing_ = Replacing{generation, static_cast<int64_t>(find_.matches.size()), done};
    beginTask();
    Q_EMIT replacingChanged();

    TableSearch::CellRewrite rewrite;
    if (regex)
        rewrite = [regex = std::move(*regex), replacement = find_.replacement](std::string_view text) {
            return regex.replacing(replacement, text);
        };
    else
        rewrite = [query = find_.query, replacement = find_.replacement,
                   caseSensitive = find_.caseSensitive](std::string_view text) {
            return TableSearch::replacing(query, replacement, text, caseSensitive);
        };
    // The worker rewrites the matches and applies the changes to its own copy of the
    // table, a slice of matches at a time (so a stop request is heard between slices and
    // the progress moves); the main thread only takes the finished table in. Slices land
    // as one step: their edits in a batch, the inverses in reverse order.
    struct Replaced {
        CSVTable table;
        TableEdit edit;
        TableEdit inverse;
    };
    using Outcome = std::optional<Replaced>;
    auto copy = std::make_shared<CSVTable>(currentTable());
    const int64_t revision = document_->revision();
    runInBackground<Outcome>(
        [copy, matches = find_.matches, rewrite = std::move(rewrite), stop, done]() mutable -> Outcome {
            CSVTable table = std::move(*copy);
            copy.reset();
            constexpr size_t sliceMatches = 16384;
            const std::vector<CellPosition>& all = matches.all();
            std::vector<TableEdit> edits, inverses;
            for (size_t from = 0; from < all.size(); from += sliceMatches) {
                const std::span<const CellPosition> slice(all.data() + from,
                                                          std::min(sliceMatches, all.size() - from));
                auto changes = TableSearch::replacements(table, slice, rewrite, stop);
                if (!changes || stop.stop_requested()) return std::nullopt;
                if (!changes->empty()) {
                    edits.push_back(TableEdit::setCells(std::move(*changes)));
                    inverses.push_back(table.apply(edits.back()));
                }
                done->fetch_add(static_cast<int64_t>(slice.size()), std::memory_order_relaxed);
            }
            if (edits.empty()) return std::nullopt;
            if (edits.size() == 1)
                return Replaced{std::move(table), std::move(edits[0]), std::move(inverses[0])};
            std::reverse(inverses.begin(), inverses.end());
            return Replaced{std::move(table), TableEdit::batch(std::move(edits)),
                            TableEdit::batch(std::move(inverses))};
        },
        [this, generation, revision](Outcome outcome) {
            if (!replacing_ || replacing_->generation != generation) return; // cancelled: dropped
            endReplacing();
            // Nothing edits the table meanwhile; a change from elsewhere (the file read
            // again) makes the result stale, and the document refuses it.
            if (outcome && document_)
                document_->adoptEdited(revision, std::move(outcome->table), outcome->edit,
                                       std::move(outcome->inverse), undoManager_,
                                       QStringLiteral("Replace All"));
        });
}

std::optional<double> EditorSession::replaceProgress() const {
    if (!replacing_) return std::nullopt;
    if (replacing_->total <= 0) return 1.0;
    return std::clamp(static_cast<double>(replacing_->done->load(std::memory_order_relaxed)) /
                          static_cast<double>(replacing_->total),
                      0.0, 1.0);
}

void EditorSession::endReplacing() {
    replacing_.reset();
    endTask();
    Q_EMIT replacingChanged();
}

void EditorSession::rebuildFilterFromMatches(bool resetSelection) {
    const CSVTable t = currentTable();
    std::vector<int64_t> rows;
    for (const CellPosition& m : find_.matches)
        if (matchIsCurrent(m, t) && (rows.empty() || rows.back() != m.row)) rows.push_back(m.row);

    if (!resetSelection && rowFilter_ && *rowFilter_ == rows) return;

    // Where the selection stands, in table rows, before the filter changes.
    std::optional<std::pair<int64_t, int64_t>> selectedRows;
    const int64_t displayedBefore = displayedRowCount();
    if (!resetSelection && displayedBefore > 0) {
        auto toTable = [&](int64_t r) { return tableRow(std::clamp<int64_t>(r, 0, displayedBefore - 1)); };
        selectedRows = {toTable(selection_.anchor.row), toTable(selection_.active.row)};
    }
    commitPendingDraft();
    setRowFilter(rows);
    knownRowCount_ = t.rowCount();
    updateLayoutRowCount();

    if (resetSelection) {
        setSelection(GridSelection{});
        FindState f = find_;
        f.current.reset();
        setFind(f);
    } else if (selectedRows) {
        // A row that left the filter lands on the row that took its place.
        auto toDisplay = [&](int64_t tableRow) {
            const auto it = std::lower_bound(rows.begin(), rows.end(), tableRow);
            return std::min<int64_t>(static_cast<int64_t>(it - rows.begin()),
                                     std::max<int64_t>(static_cast<int64_t>(rows.size()) - 1, 0));
        };
        GridSelection s = selection_;
        s.anchor.row = toDisplay(selectedRows->first);
        s.active.row = toDisplay(selectedRows->second);
        setSelection(s);
    }
    clampSelection();
}

void EditorSession::setShowsOnlyMatches(bool on) {
    if (on) {
        commitPendingDraft();
        FindState f = find_;
        f.showsOnlyMatches = true;
        setFind(f);
        rebuildFilterFromMatches(true);
        return;
    }
    FindState f = find_;
    f.showsOnlyMatches = false;
    setFind(f);
    if (rowFilter_) {
        commitPendingDraft();
        setRowFilter(std::nullopt);
        updateLayoutRowCount();
        clampSelection();
    }
}

} // namespace zarvel
