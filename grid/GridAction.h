// GridAction: what a key press means to the grid, as a value the editor session
// carries out. One small struct per action, held in a variant; actions compare and
// hash by case and payload.
//
//   GridAction a = GridAction::move(GridDirection::left, true, false);
//   if (auto* m = std::get_if<GridAction::Move>(&a.value)) ...
#pragma once

#include "grid/GridDirection.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace zarvel {

struct GridAction {
    // Move the active cell one cell, or to the grid's edge; `extend` keeps the anchor.
    struct Move {
        GridDirection direction = GridDirection::up;
        bool extend = false;
        bool toEdge = false;
        bool operator==(const Move&) const = default;
    };
    // Move the active cell by one page of rows (only up and down).
    struct Page {
        GridDirection direction = GridDirection::up;
        bool extend = false;
        bool operator==(const Page&) const = default;
    };
    // The next (previous) cell in reading order.
    struct Advance {
        bool backwards = false;
        bool operator==(const Advance&) const = default;
    };
    // Edit the active cell, starting from `replacingWith` when given (typing over the
    // cell), otherwise from the cell's content.
    struct BeginEditing {
        std::optional<std::string> replacingWith;
        bool operator==(const BeginEditing&) const = default;
    };
    struct ClearContents {
        bool operator==(const ClearContents&) const = default;
    };
    struct InsertRow {
        bool above = false;
        bool operator==(const InsertRow&) const = default;
    };
    struct InsertColumn {
        bool left = false;
        bool operator==(const InsertColumn&) const = default;
    };
    struct DeleteRows {
        bool operator==(const DeleteRows&) const = default;
    };
    struct DeleteColumns {
        bool operator==(const DeleteColumns&) const = default;
    };
    struct SelectAll {
        bool operator==(const SelectAll&) const = default;
    };

    using Case = std::variant<Move, Page, Advance, BeginEditing, ClearContents, InsertRow, InsertColumn,
                              DeleteRows, DeleteColumns, SelectAll>;
    Case value;

    static GridAction move(GridDirection d, bool extend, bool toEdge) { return {Move{d, extend, toEdge}}; }
    static GridAction page(GridDirection d, bool extend) { return {Page{d, extend}}; }
    static GridAction advance(bool backwards) { return {Advance{backwards}}; }
    static GridAction beginEditing(std::optional<std::string> replacingWith = std::nullopt) {
        return {BeginEditing{std::move(replacingWith)}};
    }
    static GridAction clearContents() { return {ClearContents{}}; }
    static GridAction insertRow(bool above) { return {InsertRow{above}}; }
    static GridAction insertColumn(bool left) { return {InsertColumn{left}}; }
    static GridAction deleteRows() { return {DeleteRows{}}; }
    static GridAction deleteColumns() { return {DeleteColumns{}}; }
    static GridAction selectAll() { return {SelectAll{}}; }

    bool operator==(const GridAction&) const = default;
};

} // namespace zarvel

template <> struct std::hash<zarvel::GridAction> {
    size_t operator()(const zarvel::GridAction& a) const noexcept {
        using A = zarvel::GridAction;
        const size_t payload = std::visit(
            [](const auto& c) -> size_t {
                using T = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<T, A::Move>)
                    return static_cast<size_t>(c.direction) * 4u + c.extend * 2u + c.toEdge;
                else if constexpr (std::is_same_v<T, A::Page>)
                    return static_cast<size_t>(c.direction) * 2u + c.extend;
                else if constexpr (std::is_same_v<T, A::Advance>)
                    return c.backwards;
                else if constexpr (std::is_same_v<T, A::BeginEditing>)
                    return c.replacingWith ? std::hash<std::string_view>{}(*c.replacingWith) + 1u : 0u;
                else if constexpr (std::is_same_v<T, A::InsertRow>)
                    return c.above;
                else if constexpr (std::is_same_v<T, A::InsertColumn>)
                    return c.left;
                else
                    return 0u;
            },
            a.value);
        return payload * 16u + a.value.index();
    }
};
