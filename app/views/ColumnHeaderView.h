// ColumnHeaderView: the strip of column titles pinned to the top of the grid.
//
// It moves with the content horizontally and stays put vertically. It draws one
// HeaderCell per column of the grid's window and turns the pointer into session
// operations: a click selects the column (Shift widens the selection), a drag over
// titles selects several, a drag on a column's trailing edge resizes it, a double click
// on that edge fits it, a double click on the title renames it, and the context menu
// offers the column operations.
#pragma once

#include "app/views/HeaderCell.h"
#include "grid/GridGeometry.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace zarvel {

class CommandRegistry;
class ContextMenu;
class EditorSession;

class ColumnHeaderView : public QWidget {
    Q_OBJECT
public:
    ColumnHeaderView(EditorSession* session, CommandRegistry* commands, QWidget* parent = nullptr);

    const GridGeometry::Window& gridWindow() const { return window_; }
    void setGridWindow(const GridGeometry::Window& window);
    // The content x shown at the strip's left edge.
    double contentOffset() const { return offset_; }
    void setContentOffset(double x);

    // The cells of the window, as drawn now.
    std::vector<HeaderCell> cells() const;
    // Where a column's cell lies in the strip.
    QRectF cellFrame(int64_t column) const;
    std::optional<int64_t> columnAt(QPointF point) const;
    // The column whose resize handle lies under a point.
    std::optional<int64_t> resizeHandleAt(QPointF point) const;
    // A column title as tooltip text that shows it literally, markup and all.
    static QString plainToolTip(const QString& title);
    // The menu a right click on a column pops up (owned by the caller): the column
    // commands, acting on this column (selected first unless it is part of a selection
    // of whole columns).
    std::unique_ptr<ContextMenu> makeContextMenu(int64_t column);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

private:
    HeaderCell cell(int64_t column) const;

    EditorSession* session_;
    CommandRegistry* commands_;
    GridGeometry::Window window_;
    double offset_ = 0;

    // A resize drag in progress: the column, where the pointer went down (in global
    // coordinates, which do not move while the column widens) and the width then.
    struct ResizeDrag {
        int64_t column = 0;
        double pressX = 0;
        std::optional<double> widthAtDragStart;
    };
    std::optional<ResizeDrag> resize_;
    // The column a selecting drag started on.
    std::optional<int64_t> selectFrom_;
};

} // namespace zarvel
