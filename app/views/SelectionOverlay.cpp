#include "app/views/SelectionOverlay.h"

#include "app/session/EditorSession.h"
#include "app/views/GridStyle.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace zarvel {

namespace {

IndexRange intersect(IndexRange a, IndexRange b) {
    const int64_t lower = std::max(a.lower, b.lower);
    return {lower, std::max(lower, std::min(a.upper, b.upper))};
}

QRectF toView(const GridGeometry::Rect& r, QPointF origin) {
    return QRectF(r.x - origin.x(), r.y - origin.y(), r.width, r.height);
}

} // namespace

std::optional<SelectionOverlay::Shape> SelectionOverlay::shape(const GridGeometry::Window& window) const {
    const GridGeometry& layout = session_->layout();
    const int64_t rowCount = std::min(session_->displayedRowCount(), layout.rowCount());
    const int64_t columnCount = layout.columnCount();
    if (rowCount <= 0 || columnCount <= 0 || window == GridGeometry::Window::empty()) return std::nullopt;
    // While the active cell of a larger block is edited, the block stays drawn: it is
    // where Ctrl+Return writes the text.
    const GridSelection& selection =
        session_->editingBlock() ? *session_->editingBlock() : session_->selection();
    const IndexRange rows = intersect(intersect(selection.rows(), window.rows), {0, rowCount});
    const IndexRange columns = intersect(intersect(selection.columns(), window.columns), {0, columnCount});
    if (rows.empty() || columns.empty()) return std::nullopt;

    Shape s;
    s.block = layout.rect(rows, columns);
    s.singleCell = selection.isSingleCell();
    const GridCell a = selection.active;
    if (!s.singleCell && rows.contains(a.row) && columns.contains(a.column))
        s.active = layout.cellRect(a.row, a.column);
    return s;
}

void SelectionOverlay::paint(QPainter& painter, const GridGeometry::Window& window, QPointF origin,
                             const QPalette& palette) const {
    const auto s = shape(window);
    if (!s) return;
    const QColor accent = GridStyle::accent(palette);
    const QColor fill = GridStyle::withOpacity(accent, fillOpacity);
    const QColor border = GridStyle::withOpacity(accent, borderOpacity);
    const QRectF block = toView(s->block, origin);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Borders are drawn inside the edge: a 1-point frame of filled strips, so that
    // neighbouring grid lines stay visible and nothing bleeds into the next cell.
    auto frame = [&](const QRectF& r, const QColor& color) {
        painter.fillRect(QRectF(r.left(), r.top(), r.width(), 1), color);
        painter.fillRect(QRectF(r.left(), r.bottom() - 1, r.width(), 1), color);
        painter.fillRect(QRectF(r.left(), r.top() + 1, 1, r.height() - 2), color);
        painter.fillRect(QRectF(r.right() - 1, r.top() + 1, 1, r.height() - 2), color);
    };
    if (s->singleCell) {
        painter.fillRect(block, fill);
        frame(block, border);
    } else {
        QPainterPath region;
        region.addRect(block);
        if (s->active) {
            QPainterPath hole;
            hole.addRect(toView(*s->active, origin));
            region = region.subtracted(hole);
        }
        painter.fillPath(region, fill);
        frame(block, border);
        if (s->active) frame(toView(*s->active, origin), border);
    }
    painter.restore();
}

} // namespace zarvel
