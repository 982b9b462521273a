#include "grid/GridKeymap.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace zarvel::GridKeymap {

namespace {

std::optional<GridDirection> arrowDirection(GridKey::Key key) {
    switch (key) {
    case GridKey::Key::up:
        return GridDirection::up;
    case GridKey::Key::down:
        return GridDirection::down;
    case GridKey::Key::left:
        return GridDirection::left;
    case GridKey::Key::right:
        return GridDirection::right;
    default:
        return std::nullopt;
    }
}

GridAction arrowAction(GridDirection d, const GridKey& key) {
    if (key.option && !key.command) {
        switch (d) {
        case GridDirection::up:
            return GridAction::insertRow(true);
        case GridDirection::down:
            return GridAction::insertRow(false);
        case GridDirection::left:
            return GridAction::insertColumn(true);
        case GridDirection::right:
            return GridAction::insertColumn(false);
        }
    }
    return GridAction::move(d, key.shift, key.command);
}

std::optional<GridAction> characterAction(const GridKey& key) {
    if (key.command) {
        if (key.text == "a" || key.text == "A") return GridAction::selectAll();
        if (key.text == "-" && !key.option) return GridAction::deleteColumns();
        return std::nullopt;
    }
    if (key.control) return std::nullopt;
    if (!isTypeableText(key.text)) return std::nullopt;
    return GridAction::beginEditing(key.text);
}

} // namespace

bool isTypeableText(std::string_view text) {
    if (text.empty()) return false;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const bool first = i == 0;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false; // ill-formed UTF-8
        if (u_charType(c) == U_CONTROL_CHAR) return false;
        // An invisible format character on its own (a joiner, a byte order mark, a
        // direction mark) is no text to type. After a visible character it belongs to
        // that character: emoji sequences use joiners and variation selectors (❤️ is
        // U+2764 U+FE0F), and pickers hand them over whole.
        if (first && u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) return false;
    }
    return true;
}

std::optional<GridAction> action(const GridKey& key) {
    using Key = GridKey::Key;
    if (auto d = arrowDirection(key.key)) return arrowAction(*d, key);
    switch (key.key) {
    case Key::tab:
        return GridAction::advance(key.shift);
    case Key::enter:
    case Key::edit:
        if (key.command || key.option) return std::nullopt;
        return GridAction::beginEditing();
    case Key::escape:
        return std::nullopt;
    case Key::deleteKey:
        // Ctrl+Alt+Backspace may end the whole X session; it means nothing here.
        if (key.command && key.option) return std::nullopt;
        if (key.command) return GridAction::deleteRows();
        return GridAction::clearContents();
    case Key::home:
        return GridAction::move(GridDirection::up, key.shift, true);
    case Key::end:
        return GridAction::move(GridDirection::down, key.shift, true);
    case Key::pageUp:
        return GridAction::page(GridDirection::up, key.shift);
    case Key::pageDown:
        return GridAction::page(GridDirection::down, key.shift);
    case Key::character:
        return characterAction(key);
    default:
        return std::nullopt;
    }
}

} // namespace zarvel::GridKeymap
