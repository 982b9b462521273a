// GridKey: one key press as the grid sees it, independent of any toolkit.
//
// The view turns a platform key event into this record: which key, and which of the
// four modifiers were held. `command` is the primary shortcut modifier, `option` the
// alternate one and `control` the third (the view decides which physical keys those
// are). For `Key::character` the `text` field carries the characters the press
// produced, already shifted and composed by the platform; for every other key it is
// empty (build keys with `press` and `typed` to keep it so).
//
//   GridKey::press(GridKey::Key::down, {.option = true});   // Option+Down
//   GridKey::typed("é");                                     // typing é
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace zarvel {

struct GridKey {
    // `deleteKey` is the key that erases (delete is a reserved word); `edit` is the key
    // that opens a cell for editing without typing (F2 on a PC keyboard).
    enum class Key : uint8_t {
        up,
        down,
        left,
        right,
        tab,
        enter,
        escape,
        deleteKey,
        home,
        end,
        pageUp,
        pageDown,
        character,
        edit
    };
    static constexpr std::array<Key, 14> allKeys{
        Key::up,        Key::down, Key::left, Key::right,  Key::tab,      Key::enter,     Key::escape,
        Key::deleteKey, Key::home, Key::end,  Key::pageUp, Key::pageDown, Key::character, Key::edit};

    struct Modifiers {
        bool shift = false;
        bool command = false;
        bool option = false;
        bool control = false;
    };

    Key key = Key::escape;
    std::string text; // the typed characters; only for Key::character
    bool shift = false;
    bool command = false;
    bool option = false;
    bool control = false;

    static GridKey press(Key key, Modifiers m) { return {key, {}, m.shift, m.command, m.option, m.control}; }
    static GridKey press(Key key) { return press(key, Modifiers{}); }
    static GridKey typed(std::string text, Modifiers m) {
        return {Key::character, std::move(text), m.shift, m.command, m.option, m.control};
    }
    static GridKey typed(std::string text) { return typed(std::move(text), Modifiers{}); }

    bool operator==(const GridKey&) const = default;
};

} // namespace zarvel

template <> struct std::hash<zarvel::GridKey> {
    size_t operator()(const zarvel::GridKey& k) const noexcept {
        const size_t flags =
            (k.shift ? 1u : 0u) | (k.command ? 2u : 0u) | (k.option ? 4u : 0u) | (k.control ? 8u : 0u);
        return std::hash<std::string_view>{}(k.text) * 31u + static_cast<size_t>(k.key) * 16u + flags;
    }
};
