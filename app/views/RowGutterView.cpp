#include "app/views/RowGutterView.h"

#include "app/session/EditorSession.h"
#include "app/views/CommandRegistry.h"
#include "app/views/ContextMenu.h"
#include "app/views/GridStyle.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace zarvel {

RowGutterView::RowGutterView(EditorSession* session, CommandRegistry* commands, QWidget* parent)
    : QWidget(parent), session_(session), commands_(commands) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void RowGutterView::setGridWindow(const GridGeometry::Window& window) {
    if (window == window_) return;
    window_ = window;
    update();
}

void RowGutterView::setContentOffset(double y) {
    if (y == offset_) return;
    const int64_t dy = std::llround(offset_) - std::llround(y);
    offset_ = y;
    if (std::abs(dy) < height())
        scroll(0, static_cast<int>(dy));
    else
        update();
}

std::optional<int64_t> RowGutterView::rowAt(QPointF point) const {
    if (point.x() < 0 || point.x() >= width()) return std::nullopt;
    return session_->layout().rowAt(point.y() + offset_);
}

QRectF RowGutterView::rowFrame(int64_t row) const {
    const GridGeometry& layout = session_->layout();
    return QRectF(0, layout.yOfRow(row) - offset_, width(), layout.rowHeight());
}

int64_t RowGutterView::rowNumber(int64_t row) const {
    return session_->tableRow(row) - session_->table().firstDataRow() + 1;
}

std::unique_ptr<ContextMenu> RowGutterView::makeContextMenu(int64_t row) {
    const GridSelection& s = session_->selection();
    // The rows sort by the column the cursor was in; selecting whole rows moves it.
    const int64_t column = s.active.column;
    if (!(s.coversWholeRows(session_->displayedSize()) && s.rows().contains(row)))
        session_->selectWholeRows(row, row, false);
    auto menu = std::make_unique<ContextMenu>();
    menu->addActions(commands_->rowMenuActions());
    const CSVTable table = session_->table();
    if (column >= 0 && column < table.columnCount()) {
        menu->addSeparator();
        const QString title = QString::fromStdString(table.columnTitle(column));
        menu->addSortActions(
            session_, column, true, nullptr,
            QStringLiteral(" by \u201C%1\u201D")
                .arg(title.isEmpty() ? QString::fromStdString(CSVTable::columnLetters(column)) : title));
    }
    return menu;
}

void RowGutterView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QRect dirty = event->rect();
    p.fillRect(dirty, GridStyle::bar(palette()));

    const GridGeometry& layout = session_->layout();
    const int64_t rowCount = std::min(layout.rowCount(), session_->displayedRowCount());
    if (!window_.rows.empty() && rowCount > 0) {
        // Only the rows of the window that the repainted area touches.
        const int64_t first = std::max(window_.rows.lower, layout.nearestRow(dirty.top() + offset_));
        const int64_t last =
            std::min({window_.rows.upper, rowCount, layout.nearestRow(dirty.bottom() + offset_) + 1});
        const GridSelection& selection = session_->selection();
        const bool wholeRows = selection.coversWholeRows(session_->displayedSize());
        const QColor highlight = GridStyle::withOpacity(GridStyle::accent(palette()), 0.2);
        const int64_t firstDataRow = session_->table().firstDataRow();
        const bool filtered = session_->rowFilter().has_value();
        p.setFont(GridStyle::captionFont(font()));
        p.setPen(GridStyle::secondary(palette()));
        for (int64_t row = first; row < last; ++row) {
            const QRectF frame = rowFrame(row);
            if (wholeRows && selection.rows().contains(row)) p.fillRect(frame, highlight);
            const int64_t stored = filtered ? session_->tableRow(row) : row + firstDataRow;
            const int64_t number = stored - firstDataRow + 1;
            p.drawText(frame.adjusted(0, 0, -GridStyle::gutterPadding, 0),
                       static_cast<int>(Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine),
                       QString::number(number));
        }
    }
    p.fillRect(QRectF(width() - 1, dirty.top(), 1, dirty.height()), GridStyle::divider(palette()));
}

void RowGutterView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const auto row = rowAt(event->position());
    if (!row) return;
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    session_->selectWholeRows(*row, *row, extend);
    selectFrom_ = extend ? std::nullopt : std::optional<int64_t>(*row);
}

void RowGutterView::mouseMoveEvent(QMouseEvent* event) {
    if (!selectFrom_ || !event->buttons().testFlag(Qt::LeftButton)) return;
    const GridGeometry& layout = session_->layout();
    if (layout.rowCount() > 0)
        session_->selectWholeRows(*selectFrom_, layout.nearestRow(event->position().y() + offset_), false);
}

void RowGutterView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) selectFrom_.reset();
    QWidget::mouseReleaseEvent(event);
}

void RowGutterView::contextMenuEvent(QContextMenuEvent* event) {
    const auto row = rowAt(event->pos());
    if (!row) return;
    auto menu = makeContextMenu(*row);
    menu->exec(event->globalPos());
}

} // namespace zarvel
