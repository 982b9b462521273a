// RowGutterView: the strip of row numbers pinned to the left of the grid.
//
// It moves with the content vertically and stays put horizontally. Each number is the
// data row's own position counted from 1, so a filtered view shows the matching rows'
// numbers. A click selects the row (Shift widens the selection), a drag selects several
// and the context menu inserts and deletes rows.
#pragma once

#include "grid/GridGeometry.h"

#include <QWidget>

#include <memory>
#include <optional>

namespace zarvel {

class CommandRegistry;
class ContextMenu;
class EditorSession;

class RowGutterView : public QWidget {
    Q_OBJECT
public:
    RowGutterView(EditorSession* session, CommandRegistry* commands, QWidget* parent = nullptr);

    const GridGeometry::Window& gridWindow() const { return window_; }
    void setGridWindow(const GridGeometry::Window& window);
    // The content y shown at the strip's top edge.
    double contentOffset() const { return offset_; }
    void setContentOffset(double y);

    // The display row under a point of the strip.
    std::optional<int64_t> rowAt(QPointF point) const;
    QRectF rowFrame(int64_t row) const;
    // The number shown for a display row: its data row counted from 1.
    int64_t rowNumber(int64_t row) const;
    // The menu a right click on a row number pops up (owned by the caller): the row
    // commands, acting on this row (selected first unless it is part of a selection of
    // whole rows).
    std::unique_ptr<ContextMenu> makeContextMenu(int64_t row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    EditorSession* session_;
    CommandRegistry* commands_;
    GridGeometry::Window window_;
    double offset_ = 0;
    std::optional<int64_t> selectFrom_;
};

} // namespace zarvel
