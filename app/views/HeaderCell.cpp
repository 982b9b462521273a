#include "app/views/HeaderCell.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"

#include <QFontMetricsF>
#include <QPainter>

namespace zarvel {

namespace {

// A title is drawn on one line: line breaks show as the return symbol, tabs as spaces.
QString singleLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\u23CE"));
    text.replace(QChar('\r'), QChar(0x23CE));
    text.replace(QChar('\n'), QChar(0x23CE));
    text.replace(QChar('\t'), QChar(' '));
    return text;
}

} // namespace

HeaderCell HeaderCell::make(EditorSession* session, const CSVTable& table, int64_t column) {
    HeaderCell cell;
    cell.session = session;
    cell.column = column;
    const GridGeometry& layout = session->layout();
    if (column >= 0 && column < table.columnCount())
        cell.title = QString::fromStdString(table.columnTitle(column));
    if (column >= 0 && column < layout.columnCount())
        cell.width = layout.columnWidths()[static_cast<size_t>(column)];
    cell.height = layout.headerHeight();
    const auto& kinds = session->columnKinds();
    cell.isNumeric = column >= 0 && column < static_cast<int64_t>(kinds.size()) &&
                     kinds[static_cast<size_t>(column)] != ColumnKind::text; // numbers and dates
    const GridSelection& selection = session->selection();
    cell.isSelected =
        selection.coversWholeColumns(session->displayedSize()) && selection.columns().contains(column);
    return cell;
}

QRectF HeaderCell::handleRect(const QRectF& frame) {
    return QRectF(frame.right() - GridStyle::resizeHandleWidth / 2, frame.top(), GridStyle::resizeHandleWidth,
                  frame.height());
}

void HeaderCell::paint(QPainter& painter, const QRectF& frame, const QPalette& palette,
                       const QFont& font) const {
    if (isSelected) painter.fillRect(frame, GridStyle::withOpacity(GridStyle::accent(palette), 0.2));

    const QRectF text = frame.adjusted(GridStyle::headerPadding, 0, -GridStyle::headerPadding, 0);
    if (text.width() > 0) {
        painter.setFont(font);
        painter.setPen(GridStyle::primary(palette));
        const QString shown = title.isEmpty() ? QStringLiteral(" ") : singleLine(title);
        const QString elided = QFontMetricsF(font).elidedText(shown, Qt::ElideMiddle, text.width());
        const Qt::Alignment horizontal = isNumeric ? Qt::AlignRight : Qt::AlignLeft;
        painter.drawText(text, static_cast<int>(horizontal | Qt::AlignVCenter | Qt::TextSingleLine), elided);
    }

    // The handle's visible part: a hairline on the column boundary, in line with the
    // grid's column lines below.
    painter.fillRect(QRectF(frame.right() - 1, frame.top() + 5, 1, frame.height() - 10),
                     GridStyle::withOpacity(GridStyle::primary(palette), 0.12));
}

void HeaderCell::rename() const {
    if (session) session->beginRenamingColumn(column);
}

} // namespace zarvel
