// EditorSession: inserting, deleting, clearing, moving and sorting rows and columns,
// and switching the header row. Each operation is one undo step.
#include "app/session/EditorSession.h"

#include "core/TableSorter.h"

#include <algorithm>
#include <set>

namespace zarvel {

// No copy of the table lives on into an edit here (the counts come from the session's
// shape): a copy still sharing the row list would make the edit copy the whole list.

void EditorSession::insertRow(bool above) {
    commitPendingDraft();
    const GridSize size = displayedSize();
    const IndexRange rows = selection_.rows();
    // Mapped through the filter before it goes, so the new rows land next to the rows
    // the user saw selected.
    int64_t position = shape_.firstDataRow + shape_.dataRowCount;
    if (size.rows > 0) {
        const int64_t low = std::clamp<int64_t>(rows.lower, 0, size.rows - 1);
        const int64_t high = std::clamp<int64_t>(rows.upper - 1, 0, size.rows - 1);
        position = above ? tableRow(low) : tableRow(high) + 1;
    }
    removeRowFilter();
    const bool wholeRows = selection_.columns().lower == 0 &&
                           selection_.columns().upper - 1 == std::max<int64_t>(shape_.columnCount - 1, 0);
    const int64_t count = wholeRows ? rows.count() : 1;
    applyEdit(TableEdit::insertRows(RowBlock::empty(count, position)),
              count == 1 ? QStringLiteral("Insert Row") : QStringLiteral("Insert Rows"));
    const GridCell cell{std::max<int64_t>(position - currentTable().firstDataRow(), 0),
                        selection_.active.column};
    setSelection({cell, cell});
    clampSelection();
    requestScroll();
}

namespace {

QString freshColumnName(const CSVTable& t) {
    std::set<std::string> names;
    if (t.rowCount() > 0)
        for (int64_t c = 0; c < t.columnCount(); ++c)
            names.insert(t.value(0, c));
    int64_t n = t.columnCount() + 1;
    while (names.count("Column " + std::to_string(n)))
        ++n;
    return QStringLiteral("Column %1").arg(n);
}

} // namespace

void EditorSession::insertColumn(bool left) {
    commitPendingDraft();
    const IndexRange columns = selection_.columns();
    int64_t position = 0;
    std::vector<TableEdit> edits;
    {
        const CSVTable t = currentTable();
        if (t.columnCount() > 0) {
            const int64_t low = std::clamp<int64_t>(columns.lower, 0, t.columnCount() - 1);
            const int64_t high = std::clamp<int64_t>(columns.upper - 1, 0, t.columnCount() - 1);
            position = left ? low : high + 1;
        }
        edits.push_back(TableEdit::insertColumns(ColumnBlock::empty(1, position)));
        if (t.format().hasHeader && t.rowCount() > 0)
            edits.push_back(TableEdit::setCells({{0, position, freshColumnName(t).toStdString()}}));
        if (t.rowCount() == 0) edits.push_back(TableEdit::insertRows(RowBlock::empty(1, 0)));
    }
    applyEdit(TableEdit::batch(std::move(edits)), QStringLiteral("Insert Column"));
    const GridCell cell{selection_.active.row, position};
    setSelection({cell, cell});
    clampSelection();
    requestScroll();
}

void EditorSession::deleteRows() {
    commitPendingDraft();
    const GridSize size = displayedSize();
    if (size.rows == 0) return;
    const IndexRange rows = selection_.rows();
    IndexSet tableRows;
    for (int64_t r = std::max<int64_t>(rows.lower, 0); r < std::min(rows.upper, size.rows); ++r)
        tableRows.insert(tableRow(r));
    if (tableRows.empty()) return;
    const int64_t count = tableRows.count();
    applyEdit(TableEdit::removeRows(std::move(tableRows)),
              count == 1 ? QStringLiteral("Delete Row") : QStringLiteral("Delete Rows"));
    const GridCell cell{rows.lower, selection_.active.column};
    setSelection({cell, cell});
    clampSelection();
}

void EditorSession::deleteColumns() {
    commitPendingDraft();
    const IndexRange columns = selection_.columns().clamped(0, shape_.columnCount);
    if (columns.empty() || columns.count() >= shape_.columnCount) return;
    applyEdit(TableEdit::removeColumns(IndexSet(columns)),
              columns.count() == 1 ? QStringLiteral("Delete Column") : QStringLiteral("Delete Columns"));
    const GridCell cell{selection_.active.row, columns.lower};
    setSelection({cell, cell});
    clampSelection();
}

void EditorSession::clearContents() {
    clearBlock(currentTable(), selection_.rows().clamped(0, displayedSize().rows), selection_.columns(),
               rowFilter_);
}

void EditorSession::clearBlock(CSVTable t, IndexRange rows, IndexRange columns,
                               const std::optional<std::vector<int64_t>>& filter) {
    columns = columns.clamped(0, t.columnCount());
    std::vector<CellChange> changes;
    for (int64_t r = rows.lower; r < rows.upper; ++r) {
        const int64_t row = filter ? (*filter)[static_cast<size_t>(r)] : r + t.firstDataRow();
        for (int64_t c = columns.lower; c < columns.upper; ++c)
            if (!t.value(row, c).empty()) changes.push_back({row, c, {}});
    }
    // Let go of the copy first, or the edit's first write would copy the row list.
    t = CSVTable();
    if (changes.empty()) return;
    applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Clear"));
}

void EditorSession::moveColumn(bool right) {
    commitPendingDraft();
    const int64_t count = shape_.columnCount;
    const int64_t low = selection_.columns().lower, high = selection_.columns().upper - 1;
    // Only a block that lies inside the columns can move (an empty table has none).
    if (low < 0 || high >= count || low > high) return;
    if (!right && low == 0) return;
    if (right && high == count - 1) return;
    const IndexSet block(IndexRange{low, high + 1});
    const Permutation p = Permutation::moving(block, right ? high + 2 : low - 1, count);
    applyEdit(TableEdit::reorderColumns(p), QStringLiteral("Move Column"));
    const int64_t shift = right ? 1 : -1;
    setSelection({{0, low + shift}, {std::max<int64_t>(displayedRowCount() - 1, 0), high + shift}});
    clampSelection();
}

void EditorSession::sort(int64_t column, bool ascending) {
    const bool number = column >= 0 && column < static_cast<int64_t>(columnKinds_.size()) &&
                        columnKinds_[static_cast<size_t>(column)] == ColumnKind::number;
    sort(column, ascending, number ? SortKind::number : SortKind::text);
}

void EditorSession::sort(int64_t column, bool ascending, SortKind kind) {
    commitPendingDraft();
    const CSVTable t = currentTable();
    if (column < 0 || column >= t.columnCount() || replacing_) return;
    removeRowFilter();
    beginTask();
    const CSVTable copy = currentTable();
    const int64_t revision = document_->revision();
    runInBackground<Permutation>(
        [copy, column, ascending, kind] { return TableSorter::permutation(copy, column, ascending, kind); },
        [this, revision](Permutation order) {
            endTask();
            // The order describes the rows as they were: after an edit, or
            // while a cell is being typed into, it is dropped and the
            // user's work stays as it is.
            if (!document_ || document_->revision() != revision || editing_ || replacing_) return;
            if (order.isIdentity()) return;
            applyEdit(TableEdit::reorderRows(std::move(order)), QStringLiteral("Sort"));
        });
}

QString EditorSession::toggleHeaderTitle(bool tableHasHeader) {
    return tableHasHeader ? QStringLiteral("Treat First Row as Data")
                          : QStringLiteral("Use First Row as Header");
}

void EditorSession::toggleHeader() {
    commitPendingDraft();
    const CSVTable t = currentTable();
    FileFormat f = t.format();
    f.hasHeader = !f.hasHeader;
    applyEdit(TableEdit::setFormat(f), toggleHeaderTitle(t.format().hasHeader));
}

} // namespace zarvel

namespace zarvel {

EditorSession::RowJump EditorSession::goToRow(int64_t number) {
    commitPendingDraft();
    const GridSize size = displayedSize();
    RowJump jump;
    if (size.isEmpty()) return jump;
    // The gutter shows data rows counted from 1, the filtered view included.
    const int64_t first = shape_.firstDataRow;
    const auto numberOf = [&](int64_t displayRow) { return tableRow(displayRow) - first + 1; };
    int64_t row = 0;
    if (number < numberOf(0)) {
        jump.outcome = RowJump::Outcome::first;
    } else if (number > numberOf(size.rows - 1)) {
        row = size.rows - 1;
        jump.outcome = RowJump::Outcome::last;
    } else if (rowFilter_) {
        const auto it = std::lower_bound(rowFilter_->begin(), rowFilter_->end(), number - 1 + first);
        row = it - rowFilter_->begin();
        jump.outcome = numberOf(row) == number ? RowJump::Outcome::exact : RowJump::Outcome::nearest;
    } else {
        row = number - 1;
        jump.outcome = RowJump::Outcome::exact;
    }
    jump.number = numberOf(row);
    // The whole row, with its first cell active so the view shows where it starts.
    setSelection({{row, size.columns - 1}, {row, 0}});
    requestScroll();
    return jump;
}

int64_t EditorSession::fillDown() {
    commitPendingDraft();
    const CSVTable t = currentTable();
    const IndexRange rows = selection_.rows().clamped(0, displayedRowCount());
    const IndexRange columns = selection_.columns().clamped(0, t.columnCount());
    if (rows.count() < 2 || columns.empty()) return 0;
    std::vector<CellChange> changes;
    const int64_t source = tableRow(rows.lower);
    std::vector<std::string> values;
    for (int64_t c = columns.lower; c < columns.upper; ++c)
        values.push_back(t.value(source, c));
    for (int64_t r = rows.lower + 1; r < rows.upper; ++r) {
        const int64_t row = tableRow(r);
        for (int64_t c = columns.lower; c < columns.upper; ++c) {
            const std::string& value = values[static_cast<size_t>(c - columns.lower)];
            if (t.value(row, c) != value) changes.push_back({row, c, value});
        }
    }
    const auto count = static_cast<int64_t>(changes.size());
    if (count > 0) applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Fill Down"));
    return count;
}

int64_t EditorSession::commitEditingIntoSelection() {
    if (!editing_) return 0;
    if (editing_->target.isHeader() || !editingBlock_) {
        commitEditing(CommitMove::down);
        return 0;
    }
    const std::string text = editing_->text;
    GridSelection block = *editingBlock_;
    setEditing(std::nullopt);
    const CSVTable t = currentTable();
    const IndexRange rows = block.rows().clamped(0, displayedRowCount());
    const IndexRange columns = block.columns().clamped(0, t.columnCount());
    std::vector<CellChange> changes;
    for (int64_t r = rows.lower; r < rows.upper; ++r) {
        const int64_t row = tableRow(r);
        for (int64_t c = columns.lower; c < columns.upper; ++c)
            if (t.value(row, c) != text) changes.push_back({row, c, text});
    }
    const auto count = static_cast<int64_t>(changes.size());
    if (count > 0) applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Fill Cells"));
    // The block stays selected, so the next step can act on it again.
    setSelection(block);
    clampSelection();
    return count;
}

int64_t EditorSession::padShortRows() {
    commitPendingDraft();
    const CSVTable t = currentTable();
    const int64_t columns = t.columnCount();
    const std::vector<int32_t>& map = t.columnMap();
    std::vector<CellChange> changes;
    int64_t added = 0;
    for (int64_t row = 0; row < t.rowCount(); ++row) {
        const RowRef& ref = t.rowRef(row);
        // A written row has a value in every column; only rows still read from the file
        // can lack fields.
        if (!ref.isOriginal()) continue;
        const int64_t fields = t.index().fieldCount(ref.number());
        int64_t missing = 0, firstMissing = -1;
        for (int64_t c = 0; c < columns; ++c) {
            // A column of our own (no source field) is written with every row already.
            const int32_t field = map[static_cast<size_t>(c)];
            if (field < fields) continue;
            if (firstMissing < 0) firstMissing = c;
            ++missing;
        }
        if (missing == 0) continue;
        // Writing one of its cells gives the row all of them.
        changes.push_back({row, firstMissing, {}});
        added += missing;
    }
    if (!changes.empty())
        applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Pad Short Rows"));
    return added;
}

namespace {

std::string_view trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

int64_t EditorSession::trimSpaces() {
    commitPendingDraft();
    const CSVTable t = currentTable();
    const IndexRange rows = selection_.rows().clamped(0, displayedRowCount());
    const IndexRange columns = selection_.columns().clamped(0, t.columnCount());
    std::vector<CellChange> changes;
    for (int64_t r = rows.lower; r < rows.upper; ++r) {
        const int64_t row = tableRow(r);
        for (int64_t c = columns.lower; c < columns.upper; ++c) {
            const std::string value = t.value(row, c);
            const std::string_view kept = trimmed(value);
            if (kept.size() != value.size()) changes.push_back({row, c, std::string(kept)});
        }
    }
    const auto count = static_cast<int64_t>(changes.size());
    if (count > 0) applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Trim Spaces"));
    return count;
}

} // namespace zarvel
