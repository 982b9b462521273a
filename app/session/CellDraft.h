// CellDraft: an edit in progress, of a cell (display row, column) or of a column title.
#pragma once

#include "grid/GridCell.h"

#include <cstdint>
#include <string>
#include <variant>

namespace zarvel {

struct CellDraft {
    struct Target {
        struct Cell {
            GridCell cell;
            bool operator==(const Cell&) const = default;
        };
        struct Header {
            int64_t column = 0;
            bool operator==(const Header&) const = default;
        };
        std::variant<Cell, Header> value;

        static Target cell(GridCell c) { return {Cell{c}}; }
        static Target header(int64_t column) { return {Header{column}}; }
        bool isHeader() const { return value.index() == 1; }
        bool operator==(const Target&) const = default;
    };

    Target target;
    std::string text;
    // Started by typing over a cell: keys still reach the grid and are collected here
    // until the cell editor takes focus.
    bool isEntering = false;

    bool operator==(const CellDraft&) const = default;
};

} // namespace zarvel
