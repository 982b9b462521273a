// GridView: the scrolling table in the middle of a document window.
//
// It draws only the part of the content near the visible area (the session geometry's
// window with 8 rows and 2 columns of overscan), reading the display texts of those
// cells from the document's table on every paint; it holds no table data of its own.
// Around the cells lie the column header strip (pinned to the top), the row gutter
// (pinned to the left) and the "Select All" corner. The view keeps the session's
// visible rectangle current, scrolls when the session asks for a cell, turns the
// pointer and keys into session operations, runs the clipboard commands and hands
// keyboard focus between itself and the cell editor.
//
// Content coordinates are the geometry's: the header strip covers y 0 ..< headerHeight
// and the gutter x 0 ..< gutterWidth. The scroll position is the content point at the
// top-left corner of the whole area, header and gutter included.
#pragma once

#include "app/views/GridFocus.h"
#include "grid/GridGeometry.h"

#include <QAbstractScrollArea>
#include <QPointF>
#include <QTimer>

#include <optional>
#include <string>

class QLabel;
class QPainter;
class QPlainTextEdit;

namespace zarvel {

class CellEditor;
class ColumnHeaderView;
class CommandRegistry;
class EditorSession;
class GoToRowPopover;
class RowGutterView;

class GridView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // The header's and gutter's context menus show the window's commands; without a
    // registry the grid makes its own.
    explicit GridView(EditorSession* session, QWidget* parent = nullptr, CommandRegistry* commands = nullptr);
    ~GridView() override;

    static constexpr int overscanRows = 8;
    static constexpr int overscanColumns = 2;

    EditorSession* session() const { return session_; }
    CommandRegistry* commands() const { return commands_; }
    // The rows and columns rendered now.
    const GridGeometry::Window& gridWindow() const { return window_; }

    std::optional<GridFocus> gridFocus() const { return focus_; }
    // Moves keyboard focus to the grid or to the open cell editor.
    void setGridFocus(GridFocus focus);

    QPointF scrollPosition() const { return scroll_; }
    // Scrolls so that a content point lies at the top-left corner (clamped to the content).
    void scrollToPoint(QPointF point);
    // The visible part of the content, header and gutter included.
    GridGeometry::Rect visibleContentRect() const;
    // Converts between viewport and content coordinates.
    QPointF contentPoint(QPointF viewportPoint) const;
    QPointF viewportPoint(QPointF contentPoint) const;

    ColumnHeaderView* columnHeader() const { return header_; }
    RowGutterView* rowGutter() const { return gutter_; }
    QWidget* corner() const { return corner_; }
    CellEditor* cellEditor() const { return editor_; }

    // Freeze First Column: the first column stays at the left edge while the rest
    // scrolls, drawn as a pinned strip over the cells (and its title over the header),
    // answering clicks as the column itself does.
    bool isFirstColumnFrozen() const { return firstColumnFrozen_; }
    void setFirstColumnFrozen(bool frozen);
    // The pinned strip in viewport coordinates; empty when not frozen or nothing scrolled.
    QRectF frozenStrip() const;
    QWidget* frozenHeader() const { return frozenHeader_; }

    // Go to Row…: the row number field under the header strip.
    void showGoToRow();
    GoToRowPopover* goToRowPopover() const { return goToRow_; }
    // A short note over the bottom of the grid ("3 cells changed"), gone after a while.
    void showNotice(const QString& text);
    QLabel* noticeLabel() const { return notice_; }

public Q_SLOTS:
    // The Edit menu's commands. While a full cell edit has focus they act on its text.
    void copy();
    void cut();
    void paste();

Q_SIGNALS:
    void gridWindowChanged();
    void gridFocusChanged();

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void layoutChanged();
    void placeChildren();
    void updateScrollBars();
    void scrolled(QPointF previous);
    void recomputeWindow();
    void selectionChanged();
    void editingChanged();
    void handleScrollRequest();
    void placeEditor();
    void contentChanged();
    void autoScroll();
    bool isFullEditOpen() const;
    QPlainTextEdit* focusedTextField() const;
    // Where the selection was last drawn, in content coordinates, to repaint only that.
    std::optional<GridGeometry::Rect> selectionBounds() const;
    QRectF toViewport(const GridGeometry::Rect& rect) const;

    EditorSession* session_;
    CommandRegistry* commands_;
    GridGeometry::Window window_;
    QPointF scroll_;
    std::optional<GridFocus> focus_ = GridFocus::grid;

    ColumnHeaderView* header_;
    RowGutterView* gutter_;
    QWidget* corner_;
    CellEditor* editor_;
    GoToRowPopover* goToRow_ = nullptr;
    bool firstColumnFrozen_ = false;
    QWidget* frozenHeader_ = nullptr;
    // The content point under a viewport point, the pinned strip counted as column 0.
    QPointF hitPoint(QPointF viewportPoint) const;
    void paintFrozenStrip(QPainter& painter, const QRect& dirty);
    // One cell's text in its box (padding already taken off), cut with "…" when too wide.
    void drawCellText(QPainter& painter, const std::string& value, const QRectF& box, bool numeric) const;
    void placeFrozenHeader();
    QLabel* notice_ = nullptr;
    QTimer noticeTimer_;
    void placeNotice();

    // Content points per vertical scroll bar step: 1 unless the content is taller than
    // a scroll bar's integer range can count.
    double verticalScale_ = 1;
    bool updatingScrollBars_ = false;
    bool focusPending_ = false;
    bool shownOnce_ = false;
    std::optional<GridGeometry::Rect> drawnSelection_;

    // Dragging a selection: where the pointer is, for scrolling while it is outside.
    bool dragging_ = false;
    QPointF dragPosition_;
    QTimer autoScrollTimer_;
};

} // namespace zarvel
