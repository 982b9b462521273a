#include "app/views/GridView.h"

#include "app/views/GridAccessible.h"

#include "app/session/EditorSession.h"
#include "app/views/CellEditor.h"
#include "app/views/ColumnHeaderView.h"
#include "app/views/CommandRegistry.h"
#include "app/views/GoToRowPopover.h"
#include "app/views/GridKeyConversion.h"
#include "app/views/GridStyle.h"
#include "app/views/HeaderCell.h"
#include "app/views/RowGutterView.h"
#include "app/views/SelectionOverlay.h"
#include "app/views/Symbols.h"
#include "app/views/TextFieldKeys.h"
#include "app/views/TextFieldPaste.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace zarvel {

namespace {

// Scroll bars count in int; a taller content is counted in coarser steps.
constexpr double scrollBarLimit = 1 << 30;

// A small piece of the header strip laid over the grid: the strip's colour, with the
// dividers on its bottom and right edges.
class StripPiece : public QWidget {
public:
    StripPiece(EditorSession* session, QWidget* parent) : QWidget(parent), session_(session) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintBackground(QPainter& p) { p.fillRect(rect(), GridStyle::bar(palette())); }
    void paintDividers(QPainter& p) {
        const QColor divider = GridStyle::divider(palette());
        p.fillRect(QRectF(0, height() - 1, width(), 1), divider);
        p.fillRect(QRectF(width() - 1, 0, 1, height()), divider);
    }
    EditorSession* session_;
};

// The top-left corner over the gutter and the header: "Select All".
class GridCorner : public StripPiece {
public:
    GridCorner(EditorSession* session, QWidget* parent) : StripPiece(session, parent) {
        setToolTip(QStringLiteral("Select All"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paintBackground(p);
        paintDividers(p);
        // An 8-point glyph, 4 points in from the bottom-right corner.
        const double side = 8;
        Symbols::paint(p, QRectF(width() - 4 - side, height() - 4 - side, side, side),
                       QStringLiteral("arrow.down.right"), GridStyle::tertiary(palette()));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) session_->selectAll();
    }
};

// The first column's title, pinned over the header strip while the column is frozen.
class FrozenHeader : public StripPiece {
public:
    using StripPiece::StripPiece;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paintBackground(p);
        if (session_->layout().columnCount() > 0)
            HeaderCell::make(session_, session_->table(), 0)
                .paint(p, QRectF(0, 0, width() - 1, height()), palette(), GridStyle::headerFont(font()));
        paintDividers(p);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            session_->selectWholeColumns(0, 0, event->modifiers().testFlag(Qt::ShiftModifier));
    }
};

} // namespace

GridView::GridView(EditorSession* session, QWidget* parent, CommandRegistry* commands)
    : QAbstractScrollArea(parent), session_(session),
      commands_(commands ? commands : new CommandRegistry(session, this)),
      header_(new ColumnHeaderView(session, commands_, this)),
      gutter_(new RowGutterView(session, commands_, this)), corner_(new GridCorner(session, this)),
      editor_(new CellEditor(session, viewport())) {
    commands_->setGrid(this);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setBackgroundRole(QPalette::Base);
    autoScrollTimer_.setInterval(40);
    connect(&autoScrollTimer_, &QTimer::timeout, this, [this] { autoScroll(); });

    connect(session_, &EditorSession::layoutChanged, this, [this] { layoutChanged(); });
    connect(session_, &EditorSession::selectionChanged, this, [this] { selectionChanged(); });
    connect(session_, &EditorSession::editingChanged, this, [this] { editingChanged(); });
    connect(session_, &EditorSession::scrollRequestChanged, this, [this] { handleScrollRequest(); });
    connect(session_, &EditorSession::clipboardNotice, this, &GridView::showNotice);
    connect(session_, &EditorSession::columnKindsChanged, this, [this] { contentChanged(); });
    connect(session_, &EditorSession::rowFilterChanged, this, [this] { contentChanged(); });
    connect(session_, &EditorSession::contentChanged, this, [this] { contentChanged(); });
    connect(editor_, &CellEditor::textFieldFocused, this, [this] {
        if (focus_ == GridFocus::editor) return;
        focus_ = GridFocus::editor;
        Q_EMIT gridFocusChanged();
    });

    layoutChanged();
    editingChanged();
    // To assistive technology the grid is a table of its cells.
    corner_->setAccessibleName(QStringLiteral("Select All"));
    if (auto* field = editor_->findChild<QPlainTextEdit*>()) field->setAccessibleName(QStringLiteral("Cell"));
    GridAccessible::attach(this);
}

GridView::~GridView() = default;

// MARK: geometry and scrolling

GridGeometry::Rect GridView::visibleContentRect() const {
    const GridGeometry& layout = session_->layout();
    const QSize v = viewport()->size();
    return {scroll_.x(), scroll_.y(), layout.gutterWidth() + v.width(), layout.headerHeight() + v.height()};
}

QPointF GridView::contentPoint(QPointF p) const {
    const GridGeometry& layout = session_->layout();
    return p + scroll_ + QPointF(layout.gutterWidth(), layout.headerHeight());
}

QPointF GridView::viewportPoint(QPointF p) const {
    const GridGeometry& layout = session_->layout();
    return p - scroll_ - QPointF(layout.gutterWidth(), layout.headerHeight());
}

QRectF GridView::toViewport(const GridGeometry::Rect& r) const {
    return QRectF(viewportPoint(QPointF(r.x, r.y)), QSizeF(r.width, r.height));
}

void GridView::layoutChanged() {
    placeChildren();
    updateScrollBars();
    recomputeWindow();
    contentChanged();
    placeEditor();
}

void GridView::placeChildren() {
    const GridGeometry& layout = session_->layout();
    const int gutter = static_cast<int>(std::ceil(layout.gutterWidth()));
    const int header = static_cast<int>(std::ceil(layout.headerHeight()));
    if (viewportMargins() != QMargins(gutter, header, 0, 0)) setViewportMargins(gutter, header, 0, 0);
    const QRect v = viewport()->geometry();
    header_->setGeometry(v.x(), v.y() - header, v.width(), header);
    gutter_->setGeometry(v.x() - gutter, v.y(), gutter, v.height());
    corner_->setGeometry(v.x() - gutter, v.y() - header, gutter, header);
    header_->setContentOffset(scroll_.x() + layout.gutterWidth());
    gutter_->setContentOffset(scroll_.y() + layout.headerHeight());
    placeNotice();
    placeFrozenHeader();
}

void GridView::updateScrollBars() {
    const GridGeometry& layout = session_->layout();
    const QSize v = viewport()->size();
    const GridGeometry::Size content = layout.contentSize();
    const double maxX = std::max(0.0, std::ceil(content.width - (layout.gutterWidth() + v.width())));
    const double maxY = std::max(0.0, std::ceil(content.height - (layout.headerHeight() + v.height())));
    verticalScale_ = maxY > scrollBarLimit ? maxY / scrollBarLimit : 1.0;

    updatingScrollBars_ = true;
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* vbar = verticalScrollBar();
    h->setRange(0, static_cast<int>(maxX));
    h->setPageStep(std::max(1, v.width()));
    h->setSingleStep(24);
    vbar->setRange(0, static_cast<int>(std::ceil(maxY / verticalScale_)));
    vbar->setPageStep(std::max(1, static_cast<int>(v.height() / verticalScale_)));
    vbar->setSingleStep(std::max(1, static_cast<int>(layout.rowHeight() / verticalScale_)));
    const QPointF previous = scroll_;
    scroll_ = QPointF(std::clamp(scroll_.x(), 0.0, maxX), std::clamp(scroll_.y(), 0.0, maxY));
    {
        const QSignalBlocker blockH(h), blockV(vbar);
        h->setValue(static_cast<int>(std::llround(scroll_.x())));
        vbar->setValue(static_cast<int>(std::llround(scroll_.y() / verticalScale_)));
    }
    updatingScrollBars_ = false;
    if (scroll_ != previous) scrolled(previous);
}

void GridView::scrollToPoint(QPointF point) {
    const GridGeometry& layout = session_->layout();
    const QSize v = viewport()->size();
    const GridGeometry::Size content = layout.contentSize();
    const double maxX = std::max(0.0, std::ceil(content.width - (layout.gutterWidth() + v.width())));
    const double maxY = std::max(0.0, std::ceil(content.height - (layout.headerHeight() + v.height())));
    // Whole points, so that what is scrolled by blitting lines up with what is drawn anew.
    const QPointF target(std::round(std::clamp(point.x(), 0.0, maxX)),
                         std::round(std::clamp(point.y(), 0.0, maxY)));
    if (target == scroll_) return;
    const QPointF previous = scroll_;
    scroll_ = target;
    {
        const QSignalBlocker blockH(horizontalScrollBar()), blockV(verticalScrollBar());
        horizontalScrollBar()->setValue(static_cast<int>(std::llround(scroll_.x())));
        verticalScrollBar()->setValue(static_cast<int>(std::llround(scroll_.y() / verticalScale_)));
    }
    scrolled(previous);
}

void GridView::scrollContentsBy(int, int) {
    // The user moved a scroll bar (or the wheel did); the bars are the truth then.
    if (updatingScrollBars_) return;
    QPointF next = scroll_;
    if (horizontalScrollBar()->value() != std::llround(scroll_.x()))
        next.setX(horizontalScrollBar()->value());
    if (verticalScrollBar()->value() != std::llround(scroll_.y() / verticalScale_))
        next.setY(std::round(verticalScrollBar()->value() * verticalScale_));
    if (next == scroll_) return;
    const QPointF previous = scroll_;
    scroll_ = next;
    scrolled(previous);
}

void GridView::scrolled(QPointF previous) {
    const GridGeometry& layout = session_->layout();
    const int64_t dx = std::llround(previous.x()) - std::llround(scroll_.x());
    const int64_t dy = std::llround(previous.y()) - std::llround(scroll_.y());
    if (std::abs(dx) < viewport()->width() && std::abs(dy) < viewport()->height())
        viewport()->scroll(static_cast<int>(dx), static_cast<int>(dy));
    else
        viewport()->update();
    if (firstColumnFrozen_ && layout.columnCount() > 0) {
        // The strip stays put: drawn again, with what the blit carried out from under it.
        const double w = layout.columnWidths()[0];
        viewport()->update(
            QRectF(0, 0, w + std::abs(static_cast<double>(dx)) + 8, viewport()->height()).toAlignedRect());
    }
    header_->setContentOffset(scroll_.x() + layout.gutterWidth());
    gutter_->setContentOffset(scroll_.y() + layout.headerHeight());
    placeFrozenHeader();
    recomputeWindow();
    placeEditor();
}

void GridView::recomputeWindow() {
    const GridGeometry::Rect visible = visibleContentRect();
    session_->setVisibleRect(visible);
    const GridGeometry::Window window = session_->layout().window(visible, overscanRows, overscanColumns);
    if (window == window_) return;
    window_ = window;
    // What shows of the selection now is its part in the new window.
    drawnSelection_ = selectionBounds();
    header_->setGridWindow(window);
    gutter_->setGridWindow(window);
    Q_EMIT gridWindowChanged();
}

void GridView::contentChanged() {
    viewport()->update();
    if (frozenHeader_) frozenHeader_->update();
    header_->update();
    gutter_->update();
    drawnSelection_ = selectionBounds();
}

void GridView::handleScrollRequest() {
    const auto& request = session_->scrollRequest();
    if (!request) return;
    const GridGeometry& layout = session_->layout();
    const GridCell cell = request->cell;
    if (cell.row < 0 || cell.row >= layout.rowCount() || cell.column < 0 ||
        cell.column >= layout.columnCount())
        return;
    const GridGeometry::Rect r = layout.cellRect(cell.row, cell.column);
    const GridGeometry::Rect v = visibleContentRect();
    double y = v.minY();
    if (r.minY() - layout.headerHeight() < v.minY())
        y = r.minY() - layout.headerHeight();
    else if (v.maxY() < r.maxY())
        y = r.maxY() - v.height;
    double x = v.minX();
    // The pinned first column is always in view, and covers the left of the others.
    const double pinned = firstColumnFrozen_ ? layout.columnWidths()[0] : 0;
    const bool alwaysInView = firstColumnFrozen_ && cell.column == 0;
    if (alwaysInView)
        x = v.minX();
    else if (r.minX() - layout.gutterWidth() - pinned < v.minX())
        x = r.minX() - layout.gutterWidth() - pinned;
    else if (v.maxX() < r.maxX())
        // A cell wider than the view shows its left edge.
        x = std::min(r.minX() - layout.gutterWidth(), r.maxX() - v.width);
    if (x != v.minX() || y != v.minY()) scrollToPoint(QPointF(x, y));
}

// MARK: events

bool GridView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) {
        const bool result = QAbstractScrollArea::viewportEvent(event);
        placeChildren();
        updateScrollBars();
        recomputeWindow();
        placeEditor();
        return result;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void GridView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    placeChildren();
}

void GridView::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    // A new window is ready for typing into its first cell.
    QWidget* top = window();
    if (!top->focusWidget() || top->focusWidget() == top) setFocus(Qt::OtherFocusReason);
}

bool GridView::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Tab moves within the grid; it must not reach the focus chain.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    } else if (event->type() == QEvent::ShortcutOverride && !isFullEditOpen()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut) ||
            key->matches(QKeySequence::Paste)) {
            event->accept();
            return true;
        }
        // While typing over a cell, plain keys are text for the draft, never shortcuts,
        // and the editing keys of a text field edit the draft (Ctrl+Backspace deletes a
        // word, not rows), as they would in the cell editor.
        const auto& draft = session_->editing();
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier);
        if (draft && draft->isEntering &&
            ((mods == Qt::NoModifier && !key->text().isEmpty()) ||
             TextFieldKeys::isEditingKey(*key, false))) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool GridView::isFullEditOpen() const {
    const auto& draft = session_->editing();
    return draft && !draft->isEntering;
}

void GridView::keyPressEvent(QKeyEvent* event) {
    // A full edit has the keys; the grid only takes them while nothing or a typed-over
    // draft is open.
    if (isFullEditOpen()) {
        event->ignore();
        return;
    }
    if (event->matches(QKeySequence::Copy)) return copy();
    if (event->matches(QKeySequence::Cut)) return cut();
    if (event->matches(QKeySequence::Paste)) return paste();
    const auto key = GridKeyConversion::fromKeyEvent(*event);
    if (key && session_->handleKey(*key))
        event->accept();
    else
        event->ignore();
}

void GridView::inputMethodEvent(QInputMethodEvent* event) {
    // Composed text (dead keys, input methods) types like a key press.
    const QString text = event->commitString();
    if (!text.isEmpty() && !isFullEditOpen()) session_->handleKey(GridKey::typed(text.toStdString()));
    event->accept();
}

QVariant GridView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle: {
        const GridCell active = session_->selection().active;
        const GridGeometry& layout = session_->layout();
        if (active.column < 0 || active.column >= layout.columnCount()) return QRect();
        return toViewport(layout.cellRect(active.row, active.column)).toRect();
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void GridView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    if (focus_ != GridFocus::grid) {
        focus_ = GridFocus::grid;
        Q_EMIT gridFocusChanged();
    }
}

void GridView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    // A popup (a menu) hands focus back; anything else ends typing over a cell, which
    // then lands where it was typed, as when the selection moves.
    if (event->reason() == Qt::PopupFocusReason) return;
    const auto& draft = session_->editing();
    if (draft && draft->isEntering) session_->commitEditing(CommitMove::none);
}

void GridView::setGridFocus(GridFocus focus) {
    if (focus == GridFocus::editor && editor_->isFullEdit()) {
        focus_ = GridFocus::editor;
        editor_->focusTextField();
    } else {
        focus_ = GridFocus::grid;
        setFocus(Qt::OtherFocusReason);
    }
    Q_EMIT gridFocusChanged();
}

void GridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    setGridFocus(GridFocus::grid);
    const QPointF point = hitPoint(event->position());
    session_->selectCellAtPoint(point.x(), point.y(), event->modifiers().testFlag(Qt::ShiftModifier));
    dragging_ = true;
    dragPosition_ = event->position();
}

void GridView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !event->buttons().testFlag(Qt::LeftButton)) return;
    dragPosition_ = event->position();
    const QPointF point = hitPoint(dragPosition_);
    session_->extendSelectionToPoint(point.x(), point.y());
    if (viewport()->rect().contains(dragPosition_.toPoint()))
        autoScrollTimer_.stop();
    else if (!autoScrollTimer_.isActive())
        autoScrollTimer_.start();
}

void GridView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        autoScrollTimer_.stop();
    }
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = false;
    autoScrollTimer_.stop();
    const QPointF point = hitPoint(event->position());
    session_->editCellAtPoint(point.x(), point.y());
}

void GridView::autoScroll() {
    if (!dragging_) return autoScrollTimer_.stop();
    // Faster the further the pointer is outside the cells.
    const QRect area = viewport()->rect();
    auto step = [](double outside) {
        return outside == 0 ? 0.0 : std::copysign(std::min(std::abs(outside), 200.0), outside);
    };
    const double dx = dragPosition_.x() < area.left()    ? dragPosition_.x() - area.left()
                      : dragPosition_.x() > area.right() ? dragPosition_.x() - area.right()
                                                         : 0;
    const double dy = dragPosition_.y() < area.top()      ? dragPosition_.y() - area.top()
                      : dragPosition_.y() > area.bottom() ? dragPosition_.y() - area.bottom()
                                                          : 0;
    if (dx == 0 && dy == 0) return autoScrollTimer_.stop();
    scrollToPoint(scroll_ + QPointF(step(dx), step(dy)));
    const QPointF point = contentPoint(dragPosition_);
    session_->extendSelectionToPoint(point.x(), point.y());
}

// MARK: selection, editing, focus

std::optional<GridGeometry::Rect> GridView::selectionBounds() const {
    const auto shape = SelectionOverlay(session_).shape(window_);
    if (!shape) return std::nullopt;
    return shape->block;
}

void GridView::selectionChanged() {
    // Repaint where the selection was and where it is now; the header and gutter
    // highlights may change with it.
    const auto now = selectionBounds();
    if (drawnSelection_)
        viewport()->update(toViewport(*drawnSelection_).toAlignedRect().adjusted(-2, -2, 2, 2));
    if (now) viewport()->update(toViewport(*now).toAlignedRect().adjusted(-2, -2, 2, 2));
    drawnSelection_ = now;
    header_->update();
    gutter_->update();
    if (firstColumnFrozen_) {
        viewport()->update(frozenStrip().toAlignedRect().adjusted(0, 0, 8, 0));
        if (frozenHeader_) frozenHeader_->update();
    }
}

void GridView::editingChanged() {
    const auto& draft = session_->editing();
    // A block drawn around an edited cell comes and goes with the edit.
    if (session_->editingBlock() || !draft) {
        viewport()->update();
        drawnSelection_ = selectionBounds();
    }
    if (!draft) {
        QWidget* focused = QApplication::focusWidget();
        const bool editorHadFocus = focused && editor_->isAncestorOf(focused);
        // Back to the grid, before the editor hides and focus wanders off. Focus the
        // user has put elsewhere (the find bar) stays where it is.
        if (editorHadFocus) {
            setGridFocus(GridFocus::grid);
        } else if (focus_ == GridFocus::editor) {
            focus_ = GridFocus::grid;
            Q_EMIT gridFocusChanged();
        }
        editor_->dismiss();
        return;
    }
    placeEditor();
    if (!draft->isEntering && !editor_->textField()->hasFocus() && !focusPending_) {
        // The editor takes focus on the next turn, once it stands in its place.
        focusPending_ = true;
        QTimer::singleShot(0, this, [this] {
            focusPending_ = false;
            if (isFullEditOpen() && editor_->isFullEdit()) setGridFocus(GridFocus::editor);
        });
    }
}

void GridView::placeEditor() {
    const auto& draft = session_->editing();
    if (!draft) return;
    const GridGeometry& layout = session_->layout();
    const GridGeometry::Rect frame = session_->editorFrame(draft->target);
    if (frame.width <= 0 || frame.height <= 0) {
        editor_->dismiss();
        return;
    }
    // A title edit stays with the header strip, over it; a cell edit lives in the
    // viewport, which clips it under the header and gutter.
    const bool header = draft->target.isHeader();
    QWidget* host = header ? static_cast<QWidget*>(this) : viewport();
    if (editor_->parentWidget() != host) editor_->setParent(host);
    const QRect v = viewport()->geometry();
    QRectF target;
    double maxWidth = 0;
    if (header) {
        target = QRectF(frame.x - scroll_.x() - layout.gutterWidth() + v.x(), v.y() - layout.headerHeight(),
                        frame.width, frame.height);
        maxWidth = v.right() + 1 - target.x();
    } else {
        target = toViewport(frame);
        // A frozen first column's cell is edited where the strip shows it, above the others.
        if (firstColumnFrozen_ && std::get<CellDraft::Target::Cell>(draft->target.value).cell.column == 0)
            target.moveLeft(frame.x - layout.gutterWidth());
        maxWidth = v.width() - target.x();
    }
    editor_->present(*draft, target, maxWidth);
    if (header || firstColumnFrozen_) editor_->raise();
}

QPlainTextEdit* GridView::focusedTextField() const {
    return editor_->isFullEdit() && editor_->textField()->hasFocus() ? editor_->textField() : nullptr;
}

// MARK: go to row, notices

void GridView::showGoToRow() {
    if (!goToRow_) {
        goToRow_ = new GoToRowPopover(session_, header_);
        connect(goToRow_, &GoToRowPopover::jumped, this, [this] { setGridFocus(GridFocus::grid); });
    }
    session_->commitEditing(CommitMove::none);
    goToRow_->present();
}

void GridView::showNotice(const QString& text) {
    if (!notice_) {
        notice_ = new QLabel(this);
        notice_->setTextFormat(Qt::PlainText);
        notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
        notice_->setMargin(6);
        notice_->setAutoFillBackground(true);
        QPalette p = notice_->palette();
        p.setColor(QPalette::Window, p.color(QPalette::ToolTipBase));
        p.setColor(QPalette::WindowText, p.color(QPalette::ToolTipText));
        notice_->setPalette(p);
        notice_->setFrameShape(QFrame::Box);
        noticeTimer_.setSingleShot(true);
        noticeTimer_.setInterval(4000);
        connect(&noticeTimer_, &QTimer::timeout, notice_, &QWidget::hide);
    }
    notice_->setText(text);
    notice_->adjustSize();
    placeNotice();
    notice_->show();
    notice_->raise();
    noticeTimer_.start();
}

void GridView::placeNotice() {
    if (!notice_) return;
    // Centred near the bottom of the cells, clear of the scroll bar.
    const QRect v = viewport()->geometry();
    notice_->move(v.x() + (v.width() - notice_->width()) / 2, v.bottom() - notice_->height() - 12);
}

// MARK: clipboard

void GridView::copy() {
    if (auto* field = focusedTextField()) return field->copy();
    session_->copyToClipboard();
}

void GridView::cut() {
    if (auto* field = focusedTextField()) return field->cut();
    session_->cutToClipboard();
}

void GridView::paste() {
    if (auto* field = focusedTextField()) return TextFieldPaste::paste(field);
    session_->pasteFromClipboard();
}

// MARK: drawing

void GridView::drawCellText(QPainter& p, const std::string& value, const QRectF& box, bool numeric) const {
    // Shaping is most of the cost of a paint: a text is laid out once, measured and
    // drawn from that one layout; only a text too wide is shaped again, cut.
    const QFont font = viewport()->font();
    QTextOption singleLine;
    singleLine.setWrapMode(QTextOption::NoWrap);
    QTextLayout text(QString::fromStdString(value), font, viewport());
    text.setTextOption(singleLine);
    text.beginLayout();
    QTextLine line = text.createLine();
    text.endLayout();
    if (!line.isValid()) return;
    const double natural = line.naturalTextWidth();
    if (natural > box.width()) {
        const QString cut = QFontMetricsF(font).elidedText(text.text(), Qt::ElideRight, box.width());
        const Qt::Alignment align = (numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        p.drawText(box, static_cast<int>(align | Qt::TextSingleLine), cut);
        return;
    }
    const double x = numeric ? box.right() - natural : box.left();
    line.draw(&p, QPointF(x, std::round(box.top() + (box.height() - line.height()) / 2)));
}

void GridView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    const QRect dirty = event->rect();
    const QPalette& pal = palette();
    p.fillRect(dirty, pal.color(QPalette::Base));

    const GridGeometry& layout = session_->layout();
    const int64_t rowCount = std::min(layout.rowCount(), session_->displayedRowCount());
    const int64_t columnCount = layout.columnCount();
    if (window_.rows.empty() || window_.columns.empty() || rowCount <= 0 || columnCount <= 0) return;

    // The rows and columns of the window that the repainted area touches.
    const QPointF origin = contentPoint(QPointF(0, 0));
    const int64_t firstRow = std::max(window_.rows.lower, layout.nearestRow(dirty.top() + origin.y()));
    const int64_t endRow =
        std::min({window_.rows.upper, rowCount, layout.nearestRow(dirty.bottom() + origin.y()) + 1});
    const int64_t firstColumn =
        std::max(window_.columns.lower, layout.nearestColumn(dirty.left() + origin.x()));
    const int64_t endColumn =
        std::min({window_.columns.upper, columnCount, layout.nearestColumn(dirty.right() + origin.x()) + 1});
    if (firstRow >= endRow || firstColumn >= endColumn) return;

    const double left = layout.xOfColumn(firstColumn) - origin.x();
    const double right = layout.xOfColumn(endColumn - 1) +
                         layout.columnWidths()[static_cast<size_t>(endColumn - 1)] - origin.x();
    const double top = layout.yOfRow(firstRow) - origin.y();
    const double rowHeight = layout.rowHeight();
    const double bottom = top + rowHeight * static_cast<double>(endRow - firstRow);

    // Zebra bands on odd rows, then the grid lines along the row and column boundaries.
    const QColor zebra = GridStyle::zebra(pal);
    for (int64_t row = firstRow; row < endRow; ++row)
        if (row % 2 == 1)
            p.fillRect(QRectF(left, layout.yOfRow(row) - origin.y(), right - left, rowHeight), zebra);
    const QColor line = GridStyle::gridLine(pal);
    for (int64_t row = firstRow; row < endRow; ++row)
        p.fillRect(QRectF(left, layout.yOfRow(row + 1) - origin.y() - 1, right - left, 1), line);
    for (int64_t column = firstColumn; column < endColumn; ++column)
        p.fillRect(QRectF(layout.xOfColumn(column + 1) - origin.x() - 1, top, 1, bottom - top), line);

    // The texts, read for exactly these cells.
    const CSVTable table = session_->table();
    const IndexRange columns{firstColumn, endColumn};
    StringRows values;
    if (session_->rowFilter()) {
        values.reserve(static_cast<size_t>(endRow - firstRow));
        for (int64_t row = firstRow; row < endRow; ++row) {
            const int64_t stored = session_->tableRow(row);
            StringRows one = table.displayValues({stored, stored + 1}, columns, GridStyle::displayLimit);
            values.push_back(one.empty() ? StringRow() : std::move(one.front()));
        }
    } else {
        const int64_t first = firstRow + table.firstDataRow();
        values = table.displayValues({first, first + (endRow - firstRow)}, columns, GridStyle::displayLimit);
    }

    const auto& kinds = session_->columnKinds();
    p.setFont(viewport()->font());
    p.setPen(GridStyle::primary(pal));
    for (int64_t row = firstRow; row < endRow; ++row) {
        const size_t i = static_cast<size_t>(row - firstRow);
        if (i >= values.size()) break;
        const StringRow& texts = values[i];
        const double y = layout.yOfRow(row) - origin.y();
        for (int64_t column = firstColumn; column < endColumn; ++column) {
            const size_t j = static_cast<size_t>(column - firstColumn);
            if (j >= texts.size() || texts[j].empty()) continue;
            const double width = layout.columnWidths()[static_cast<size_t>(column)];
            const QRectF box(layout.xOfColumn(column) - origin.x() + GridStyle::cellPadding, y,
                             width - 2 * GridStyle::cellPadding, rowHeight);
            if (box.width() <= 0) continue;
            // Dates align as numbers do.
            const bool numeric = static_cast<size_t>(column) < kinds.size() &&
                                 kinds[static_cast<size_t>(column)] != ColumnKind::text;
            drawCellText(p, texts[j], box, numeric);
        }
    }

    SelectionOverlay(session_).paint(p, window_, origin, pal);
    if (firstColumnFrozen_) paintFrozenStrip(p, dirty);
}

// MARK: frozen first column

void GridView::setFirstColumnFrozen(bool frozen) {
    if (frozen == firstColumnFrozen_) return;
    firstColumnFrozen_ = frozen;
    if (frozen && !frozenHeader_) frozenHeader_ = new FrozenHeader(session_, this);
    placeFrozenHeader();
    viewport()->update();
    placeEditor();
}

QRectF GridView::frozenStrip() const {
    const GridGeometry& layout = session_->layout();
    if (!firstColumnFrozen_ || layout.columnCount() == 0 || scroll_.x() <= 0) return {};
    return QRectF(0, 0, layout.columnWidths()[0], viewport()->height());
}

QPointF GridView::hitPoint(QPointF p) const {
    QPointF point = contentPoint(p);
    if (frozenStrip().contains(p)) point.setX(session_->layout().xOfColumn(0) + p.x());
    return point;
}

void GridView::placeFrozenHeader() {
    if (!frozenHeader_) return;
    const QRectF strip = frozenStrip();
    if (strip.isEmpty()) {
        frozenHeader_->hide();
        return;
    }
    const QRect v = viewport()->geometry();
    const int header = static_cast<int>(std::ceil(session_->layout().headerHeight()));
    frozenHeader_->setGeometry(v.x(), v.y() - header, static_cast<int>(std::ceil(strip.width())), header);
    frozenHeader_->show();
    frozenHeader_->raise();
    frozenHeader_->update();
}

void GridView::paintFrozenStrip(QPainter& p, const QRect& dirty) {
    const QRectF strip = frozenStrip();
    if (strip.isEmpty() || !dirty.intersects(strip.toAlignedRect().adjusted(0, 0, 8, 0))) return;
    const GridGeometry& layout = session_->layout();
    const int64_t rowCount = std::min(layout.rowCount(), session_->displayedRowCount());
    const QPalette& pal = palette();
    // The strip is column 0 drawn as if nothing had scrolled sideways.
    const QPointF origin(layout.xOfColumn(0), contentPoint(QPointF(0, 0)).y());
    p.save();
    p.setClipRect(strip);
    p.fillRect(strip, pal.color(QPalette::Base));
    const int64_t firstRow = std::max<int64_t>(window_.rows.lower, 0);
    const int64_t endRow = std::min(window_.rows.upper, rowCount);
    const double w = strip.width();
    const double rowHeight = layout.rowHeight();
    const QColor zebra = GridStyle::zebra(pal), line = GridStyle::gridLine(pal);
    for (int64_t row = firstRow; row < endRow; ++row) {
        const double y = layout.yOfRow(row) - origin.y();
        if (row % 2 == 1) p.fillRect(QRectF(0, y, w, rowHeight), zebra);
        p.fillRect(QRectF(0, y + rowHeight - 1, w, 1), line);
    }
    if (firstRow < endRow) {
        const CSVTable table = session_->table();
        const auto& kinds = session_->columnKinds();
        const bool numeric = !kinds.empty() && kinds[0] != ColumnKind::text;
        p.setFont(viewport()->font());
        p.setPen(GridStyle::primary(pal));
        for (int64_t row = firstRow; row < endRow; ++row) {
            const int64_t stored = session_->tableRow(row);
            const StringRows one = table.displayValues({stored, stored + 1}, {0, 1}, GridStyle::displayLimit);
            if (one.empty() || one.front().empty() || one.front().front().empty()) continue;
            const QRectF box(GridStyle::cellPadding, layout.yOfRow(row) - origin.y(),
                             w - 2 * GridStyle::cellPadding, rowHeight);
            if (box.width() > 0) drawCellText(p, one.front().front(), box, numeric);
        }
        GridGeometry::Window window = window_;
        window.columns = {0, 1};
        SelectionOverlay(session_).paint(p, window, origin, pal);
    }
    p.restore();
    // Its edge, like the header strip's: a divider with a soft shadow on the cells.
    p.fillRect(QRectF(w - 1, 0, 1, strip.height()), GridStyle::divider(pal));
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRectF(w + i, 0, 1, strip.height()), QColor(0, 0, 0, 18 - 4 * i));
}

} // namespace zarvel
