// HeaderCell: one column's title in the header strip, as the strip draws it and as the
// user acts on it: its title, width and highlight, the resize handle on its trailing
// edge and the double click that renames the column.
//
// A cell is a small value rebuilt from the session whenever the strip draws; the strip
// (ColumnHeaderView) routes the pointer to it.
#pragma once

#include <QFont>
#include <QPalette>
#include <QRectF>
#include <QString>

#include <cstdint>

class QPainter;

namespace zarvel {

class CSVTable;
class EditorSession;

class HeaderCell {
public:
    EditorSession* session = nullptr;
    int64_t column = 0;
    QString title;
    double width = 0;
    double height = 0;
    bool isSelected = false;
    bool isNumeric = false;

    // The cell of a column as the session shows it now (title, width, kind, highlight).
    // `table` is the session's current table, read once by the caller for all cells.
    static HeaderCell make(EditorSession* session, const CSVTable& table, int64_t column);

    // The resize handle's hit area, centred on the trailing edge of a cell drawn in `frame`.
    static QRectF handleRect(const QRectF& frame);

    void paint(QPainter& painter, const QRectF& frame, const QPalette& palette, const QFont& font) const;

    // The double click: renames the column when the file has a header row.
    void rename() const;

    bool operator==(const HeaderCell&) const = default;
};

} // namespace zarvel
