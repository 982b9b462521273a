// EditorSession: copy, cut and paste of blocks as tab-separated text.
#include "app/session/EditorSession.h"

#include "core/CSVReader.h"
#include "core/CSVWriter.h"
#include "core/TableEdit.h"
#include "core/UTF8.h"

#include <algorithm>

namespace zarvel {

std::string EditorSession::copyText(bool withColumnTitles) const {
    const CSVTable t = currentTable();
    const GridSize size = displayedSize();
    const IndexRange rows = selection_.rows().clamped(0, size.rows);
    const IndexRange columns = selection_.columns();
    StringRows block;
    if (withColumnTitles) {
        StringRow titles;
        for (int64_t c = columns.lower; c < columns.upper; ++c)
            titles.push_back(c >= 0 && c < t.columnCount() ? t.columnTitle(c) : std::string());
        block.push_back(std::move(titles));
    }
    for (int64_t r = rows.lower; r < rows.upper; ++r) {
        const int64_t row = tableRow(r);
        StringRow line;
        for (int64_t c = columns.lower; c < columns.upper; ++c)
            line.push_back(c >= 0 && c < t.columnCount() ? t.value(row, c) : std::string());
        block.push_back(std::move(line));
    }
    try {
        const std::string bytes =
            CSVWriter::write(CSVTable(std::move(block), clipboardFormat()), clipboardFormat());
        return UTF8::isValid(bytes) ? bytes : UTF8::repaired(bytes);
    } catch (const CSVError&) {
        return {};
    }
}

CSVTable EditorSession::displayedRowsTable() const {
    CSVTable t = currentTable();
    if (!rowFilter_) return t;
    // Every data row the filter leaves out, as ranges between the kept ones.
    IndexSet hidden;
    int64_t next = t.firstDataRow();
    for (const int64_t row : *rowFilter_) {
        if (row < next || row >= t.rowCount()) continue;
        if (row > next) hidden.insert(IndexRange{next, row});
        next = row + 1;
    }
    if (next < t.rowCount()) hidden.insert(IndexRange{next, t.rowCount()});
    if (!hidden.empty()) t.apply(TableEdit::removeRows(std::move(hidden)));
    return t;
}

std::string EditorSession::cut() {
    std::string text = copyText();
    clearContents();
    return text;
}

void EditorSession::paste(std::string_view text) {
    commitPendingDraft();
    if (text.empty() || !document_) return;
    ReadOptions options;
    options.encoding = TextEncoding::utf8;
    options.dialect = CSVDialect::tab();
    options.hasHeader = false;
    // Text copied from elsewhere may well start with «sep=;»: it is data here.
    options.recognizesSepLine = false;
    StringRows pasted;
    try {
        const CSVTable read = CSVReader::read(SharedBytes::copyOf(text), options).table;
        // Each line keeps its own length: a short line leaves the rest of its row alone.
        for (int64_t r = 0; r < read.rowCount(); ++r) {
            StringRow values = read.values(r);
            values.resize(static_cast<size_t>(read.index().fieldCount(read.rowRef(r).number())));
            pasted.push_back(std::move(values));
        }
    } catch (const CSVError&) {
        return;
    }
    if (pasted.empty()) return;

    const CSVTable t = currentTable();
    const GridSize size = displayedSize();
    const IndexRange rows = selection_.rows();
    const IndexRange columns = selection_.columns();

    if (pasted.size() == 1 && pasted[0].size() == 1 && selection_.cellCount() > 1) {
        std::vector<CellChange> changes;
        const IndexRange r = rows.clamped(0, size.rows), c = columns.clamped(0, t.columnCount());
        for (int64_t row = r.lower; row < r.upper; ++row)
            for (int64_t column = c.lower; column < c.upper; ++column)
                changes.push_back({tableRow(row), column, pasted[0][0]});
        if (!changes.empty()) applyEdit(TableEdit::setCells(std::move(changes)), QStringLiteral("Paste"));
        return;
    }

    const int64_t top = std::max<int64_t>(rows.lower, 0), left = std::max<int64_t>(columns.lower, 0);
    const auto height = static_cast<int64_t>(pasted.size());
    int64_t width = 0;
    for (const auto& row : pasted)
        width = std::max<int64_t>(width, static_cast<int64_t>(row.size()));
    const int64_t newRows = std::max<int64_t>(top + height - size.rows, 0);
    const int64_t newColumns = std::max<int64_t>(left + width - t.columnCount(), 0);

    std::vector<CellChange> changes;
    std::vector<int64_t> targetRows;
    for (int64_t i = 0; i < height; ++i) {
        const int64_t displayRow = top + i;
        const int64_t row =
            displayRow < size.rows ? tableRow(displayRow) : t.rowCount() + (displayRow - size.rows);
        targetRows.push_back(row);
        const auto& values = pasted[static_cast<size_t>(i)];
        for (size_t j = 0; j < values.size(); ++j)
            changes.push_back({row, left + static_cast<int64_t>(j), values[j]});
    }
    const bool filtered = rowFilter_.has_value();
    if (newRows > 0) removeRowFilter();

    std::vector<TableEdit> edits;
    if (newRows > 0) edits.push_back(TableEdit::insertRows(RowBlock::empty(newRows, t.rowCount())));
    if (newColumns > 0)
        edits.push_back(TableEdit::insertColumns(ColumnBlock::empty(newColumns, t.columnCount())));
    edits.push_back(TableEdit::setCells(std::move(changes)));
    applyEdit(TableEdit::batch(std::move(edits)), QStringLiteral("Paste"));

    if (filtered && newRows > 0) {
        // The filter is gone: select the cells actually written, in the unfiltered grid.
        const auto [lo, hi] = std::minmax_element(targetRows.begin(), targetRows.end());
        const int64_t first = currentTable().firstDataRow();
        setSelection({{*lo - first, left}, {*hi - first, left + width - 1}});
    } else {
        setSelection({{top, left}, {top + height - 1, left + width - 1}});
    }
    clampSelection();
}

} // namespace zarvel
