#include "app/views/ColumnHeaderView.h"

#include "app/session/EditorSession.h"
#include "app/views/CommandRegistry.h"
#include "app/views/ContextMenu.h"
#include "app/views/GridStyle.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>

namespace zarvel {

QString ColumnHeaderView::plainToolTip(const QString& title) {
    // Tooltips guess rich text from the first tag they see; a title holding markup must
    // show as typed, so it goes in escaped, as the text of rich text.
    return Qt::convertFromPlainText(title, Qt::WhiteSpaceNormal);
}

ColumnHeaderView::ColumnHeaderView(EditorSession* session, CommandRegistry* commands, QWidget* parent)
    : QWidget(parent), session_(session), commands_(commands) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void ColumnHeaderView::setGridWindow(const GridGeometry::Window& window) {
    if (window == window_) return;
    window_ = window;
    update();
}

void ColumnHeaderView::setContentOffset(double x) {
    if (x == offset_) return;
    const int dx = static_cast<int>(std::lround(offset_) - std::lround(x));
    offset_ = x;
    scroll(dx, 0);
}

HeaderCell ColumnHeaderView::cell(int64_t column) const {
    return HeaderCell::make(session_, session_->table(), column);
}

std::vector<HeaderCell> ColumnHeaderView::cells() const {
    std::vector<HeaderCell> list;
    const CSVTable table = session_->table();
    const int64_t end = std::min(window_.columns.upper, session_->layout().columnCount());
    for (int64_t c = window_.columns.lower; c < end; ++c)
        list.push_back(HeaderCell::make(session_, table, c));
    return list;
}

QRectF ColumnHeaderView::cellFrame(int64_t column) const {
    const GridGeometry& layout = session_->layout();
    if (column < 0 || column >= layout.columnCount()) return {};
    return QRectF(layout.xOfColumn(column) - offset_, 0, layout.columnWidths()[static_cast<size_t>(column)],
                  layout.headerHeight());
}

std::optional<int64_t> ColumnHeaderView::columnAt(QPointF point) const {
    if (point.y() < 0 || point.y() >= height()) return std::nullopt;
    return session_->layout().columnAt(point.x() + offset_);
}

std::optional<int64_t> ColumnHeaderView::resizeHandleAt(QPointF point) const {
    if (point.y() < 0 || point.y() >= height()) return std::nullopt;
    const GridGeometry& layout = session_->layout();
    const int64_t end = std::min(window_.columns.upper, layout.columnCount());
    // Of two overlapping handles (a very narrow column) the later column's wins, as it
    // lies on top.
    for (int64_t c = end - 1; c >= window_.columns.lower; --c)
        if (HeaderCell::handleRect(cellFrame(c)).contains(point)) return c;
    return std::nullopt;
}

std::unique_ptr<ContextMenu> ColumnHeaderView::makeContextMenu(int64_t column) {
    const GridSize size = session_->displayedSize();
    const GridSelection& s = session_->selection();
    if (!(s.coversWholeColumns(size) && s.columns().contains(column))) {
        if (size.rows > 0)
            session_->selectWholeColumns(column, column, false);
        else // no data rows: the column alone is the selection
            session_->setSelection({{0, column}, {0, column}});
    }
    auto menu = std::make_unique<ContextMenu>();
    const QList<QAction*> actions = commands_->columnMenuActions();
    menu->addActions(actions);
    // Natural or date order, where it applies, right after the plain sorts.
    const qsizetype plain = actions.indexOf(commands_->action(Command::sortDescending));
    menu->addSortActions(session_, column, false,
                         plain >= 0 && plain + 1 < actions.size() ? actions[plain + 1] : nullptr);
    return menu;
}

void ColumnHeaderView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), GridStyle::bar(palette()));
    const QFont font = GridStyle::headerFont(this->font());
    for (const HeaderCell& c : cells()) {
        const QRectF frame = cellFrame(c.column);
        if (frame.right() < 0 || frame.left() > width()) continue;
        p.save();
        p.setClipRect(frame);
        c.paint(p, frame, palette(), font);
        p.restore();
    }
    p.fillRect(QRectF(0, height() - 1, width(), 1), GridStyle::divider(palette()));
}

void ColumnHeaderView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPointF pos = event->position();
    if (auto c = resizeHandleAt(pos)) {
        resize_ = ResizeDrag{*c, event->globalPosition().x(), std::nullopt};
        return;
    }
    if (auto c = columnAt(pos)) {
        session_->selectWholeColumns(*c, *c, event->modifiers().testFlag(Qt::ShiftModifier));
        selectFrom_ =
            event->modifiers().testFlag(Qt::ShiftModifier) ? std::nullopt : std::optional<int64_t>(*c);
    }
}

void ColumnHeaderView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    if (resize_) {
        const double dx = event->globalPosition().x() - resize_->pressX;
        if (!resize_->widthAtDragStart) {
            if (std::abs(dx) < 1) return;
            resize_->widthAtDragStart = cellFrame(resize_->column).width();
        }
        session_->setColumnWidth(resize_->column, *resize_->widthAtDragStart + dx);
        return;
    }
    if (selectFrom_ && event->buttons().testFlag(Qt::LeftButton)) {
        const GridGeometry& layout = session_->layout();
        if (layout.columnCount() > 0)
            session_->selectWholeColumns(*selectFrom_, layout.nearestColumn(pos.x() + offset_), false);
        return;
    }
    if (resizeHandleAt(pos))
        setCursor(Qt::SplitHCursor);
    else
        unsetCursor();
}

void ColumnHeaderView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        resize_.reset();
        selectFrom_.reset();
    }
    QWidget::mouseReleaseEvent(event);
}

void ColumnHeaderView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF pos = event->position();
    resize_.reset();
    selectFrom_.reset();
    if (auto c = resizeHandleAt(pos)) {
        session_->fitColumnWidth(*c);
        return;
    }
    if (auto c = columnAt(pos)) cell(*c).rename();
}

void ColumnHeaderView::contextMenuEvent(QContextMenuEvent* event) {
    const auto c = columnAt(event->pos());
    if (!c) return;
    auto menu = makeContextMenu(*c);
    menu->exec(event->globalPos());
}

bool ColumnHeaderView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const auto c = columnAt(help->pos());
        const QString title = c ? cell(*c).title : QString();
        if (title.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), plainToolTip(title), this, cellFrame(*c).toAlignedRect());
        return true;
    }
    return QWidget::event(event);
}

} // namespace zarvel
