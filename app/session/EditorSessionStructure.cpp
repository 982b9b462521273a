// EditorSession: inserting, deleting, clearing, moving and sorting rows and columns,
// and switching the header row. Each operation is one undo step.
#include "app/session/EditorSession.h"

#include "core/TableSorter.h"

#include <algorithm>
#include <set>

namespace zarvel {

void EditorSession::insertRow(bool above) {
    commitPendingDraft();
    const CSVTable t = currentTable();
    const GridSize size = displayedSize();
    const IndexRange rows = selection_.rows();
    // Mapped through the filter before it goes, so the new rows land next to the rows
    // the user saw selected.
    int64_t position = t.rowCount();
    if (size.rows > 0) {
        const int64_t low = std::clamp<int64_t>(rows.lower, 0, size.rows - 1);
        const int64_t high = std::clamp<int64_t>(rows.upper - 1, 0, size.rows - 1);
        position = above ? tableRow(low) : tableRow(high) + 1;
    }
    removeRowFilter();
    const bool wholeRows = selection_.columns().lower == 0 &&
                           selection_.columns().upper - 1 == std::max<int64_t>(t.columnCount() - 1, 0);
    const int64_t count = wholeRows ? rows.count() : 1;
    applyEdit(TableEdit::insertRows(RowBlock::empty(count, position)),
              count == 1 ? QStringLiteral("Insert Row") : QStringLiteral("Insert Rows"));
    const GridCell cell{std::max<int64_t>(position - currentTable().firstDataRow(), 0), selection_.active.column};
    setSelection({cell, cell});
    clampSelection();
    requestScroll();
}

namespace {

QString freshColumnName(const CSVTable& t) {
    std::set<std::string> names;
    if (t.rowCount() > 0)
        for (int64_t c = 0; c < t.columnCount(); ++c) names.insert(t.value(0, c));
    int64_t n = t.columnCount() + 1;
    while (names.count("Column " + std::to_string(n))) ++n;
    return QStringLiteral("Column %1").arg(n);
}

} // namespace

void EditorSession::insertColumn(bool left) {
    commitPendingDraft();
    const CSVTable t = currentTable();
    const IndexRange columns = selection_.columns();
    int64_t position = 0;
    if (t.columnCount() > 0) {
        const int64_t low = std::clamp<int64_t>(columns.lower, 0, t.columnCount() - 1);
        const int64_t high = std::clamp<int64_t>(columns.upper - 1, 0, t.columnCount() - 1);
        position = left ? low : high + 1;
    }
    std::vector<TableEdit> edits{TableEdit::insertColumns(ColumnBlock::empty(1, position))};
    if (t.format().hasHeader && t.rowCount() > 0)
        edits.push_back(TableEdit::setCells({{0, position, freshColumnName(t).toStdString()}}));
    if (t.rowCount() == 0) edits.push_back(TableEdit::insertRows(RowBlock::empty(1, 0)));
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
    for (int64_t r = std::max<int64_t>(rows.lower, 0); r < std::min(rows.upper, size.rows); ++r) tableRows.insert(tableRow(r));
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
    const CSVTable t = currentTable();
    const IndexRange columns = selection_.columns().clamped(0, t.columnCount());
    if (columns.empty() || columns.count() >= t.columnCount()) return;
    applyEdit(TableEdit::removeColumns(IndexSet(columns)),
              columns.count() == 1 ? QStringLiteral("Delete Column") : QStringLiteral("Delete Columns"));
    const GridCell cell{selection_.active.row, columns.lower};
    setSelection({cell, cell});
    clampSelection();
}

void EditorSession::clearContents() {
    const CSVTable t = currentTable();
    const GridSize size = displayedSize();
    const IndexRange rows = selection_.rows().clamped(0, size.rows);
    const IndexRange columns = selection_.columns().clamped(0, t.columnCount());
    std::vector<CellChange> changes;
    for (int64_t r = rows.lower; r < rows.upper; ++r) {
        const int64_t row = tableRow(r);
        for (int64_t c = columns.lower; c < columns.upper; ++c)
            if (!t.value(row, c).empty()) changes.push_back({row, c, {}});
    }
    if (changes.empty()) return;
    applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Clear"));
}

void EditorSession::moveColumn(bool right) {
    commitPendingDraft();
    const CSVTable t = currentTable();
    const int64_t count = t.columnCount();
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
    if (column < 0 || column >= t.columnCount()) return;
    removeRowFilter();
    beginTask();
    const CSVTable copy = currentTable();
    const int64_t revision = document_->revision();
    runInBackground<Permutation>([copy, column, ascending, kind] { return TableSorter::permutation(copy, column, ascending, kind); },
                                 [this, revision](Permutation order) {
                                     endTask();
                                     // The order describes the rows as they were: after an edit, or
                                     // while a cell is being typed into, it is dropped and the
                                     // user's work stays as it is.
                                     if (!document_ || document_->revision() != revision || editing_) return;
                                     if (order.isIdentity()) return;
                                     applyEdit(TableEdit::reorderRows(std::move(order)), QStringLiteral("Sort"));
                                 });
}

QString EditorSession::toggleHeaderTitle(bool tableHasHeader) {
    return tableHasHeader ? QStringLiteral("Treat First Row as Data") : QStringLiteral("Use First Row as Header");
}

void EditorSession::toggleHeader() {
    commitPendingDraft();
    const CSVTable t = currentTable();
    FileFormat f = t.format();
    f.hasHeader = !f.hasHeader;
    applyEdit(TableEdit::setFormat(f), toggleHeaderTitle(t.format().hasHeader));
}

} // namespace zarvel
