// SelectionOverlay: draws the selected block over the grid's cells.
//
// The selection is first cut to the rendered window (and to the table), so a selection
// of ten million rows costs no more to draw than one cell. The block gets a light accent
// fill and a thin accent border; the active cell inside a larger block is left unfilled
// with its own border, so the user sees where typing and Return will act. While that
// cell is being edited the block it was part of stays drawn.
#pragma once

#include "grid/GridGeometry.h"

#include <QPalette>
#include <QPointF>

#include <optional>

class QPainter;

namespace zarvel {

class EditorSession;

class SelectionOverlay {
public:
    explicit SelectionOverlay(const EditorSession* session) : session_(session) {}

    // What is drawn, in content coordinates; none when nothing is.
    struct Shape {
        GridGeometry::Rect block;
        // The active cell, when it lies in the window and the block has more than one cell.
        std::optional<GridGeometry::Rect> active;
        bool singleCell = false;
        bool operator==(const Shape&) const = default;
    };
    std::optional<Shape> shape(const GridGeometry::Window& window) const;

    // Draws on a painter whose origin shows content point `origin`.
    void paint(QPainter& painter, const GridGeometry::Window& window, QPointF origin,
               const QPalette& palette) const;

    static constexpr double fillOpacity = 0.14;
    static constexpr double borderOpacity = 0.7;

private:
    const EditorSession* session_;
};

} // namespace zarvel
