#include "grid/GridKeymap.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace zarvel {
namespace {

using Key = GridKey::Key;
using M = GridKey::Modifiers;
using A = GridAction;
using D = GridDirection;

std::optional<GridAction> act(Key key, M m = {}) {
    return GridKeymap::action(GridKey::press(key, m));
}
std::optional<GridAction> typed(const std::string& text, M m = {}) {
    return GridKeymap::action(GridKey::typed(text, m));
}

// Every combination of the four modifiers.
std::vector<M> allModifiers() {
    std::vector<M> out;
    for (int bits = 0; bits < 16; ++bits)
        out.push_back({bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8)});
    return out;
}

std::string describe(const M& m) {
    return std::string(m.shift ? "shift " : "") + (m.command ? "command " : "") +
           (m.option ? "option " : "") + (m.control ? "control" : "");
}

// The key table for every named key, written out once. Option on an arrow inserts, but
// Command wins over Option; Shift and Control never change an insertion, and Control
// alone moves like the plain arrow.
std::optional<GridAction> keyTable(Key key, const M& m) {
    const bool insert = m.option && !m.command;
    switch (key) {
    case Key::up:
        return insert ? A::insertRow(true) : A::move(D::up, m.shift, m.command);
    case Key::down:
        return insert ? A::insertRow(false) : A::move(D::down, m.shift, m.command);
    case Key::left:
        return insert ? A::insertColumn(true) : A::move(D::left, m.shift, m.command);
    case Key::right:
        return insert ? A::insertColumn(false) : A::move(D::right, m.shift, m.command);
    case Key::tab:
        return A::advance(m.shift);
    case Key::enter:
    case Key::edit:
        return m.command || m.option ? std::nullopt : std::optional(A::beginEditing());
    case Key::escape:
        return std::nullopt;
    case Key::deleteKey:
        if (m.command) return m.option ? std::nullopt : std::optional(A::deleteRows());
        return A::clearContents();
    case Key::home:
        return A::move(D::up, m.shift, true);
    case Key::end:
        return A::move(D::down, m.shift, true);
    case Key::pageUp:
        return A::page(D::up, m.shift);
    case Key::pageDown:
        return A::page(D::down, m.shift);
    case Key::character:
        break;
    }
    return std::nullopt;
}

// ---- named keys ----

TEST(GridKeymapKeys, EveryNamedKeyUnderEveryModifierCombination) {
    for (Key key : GridKey::allKeys) {
        if (key == Key::character) continue;
        for (const M& m : allModifiers())
            EXPECT_EQ(act(key, m), keyTable(key, m)) << "key " << int(key) << " " << describe(m);
    }
}

// ---- typed characters ----

TEST(GridKeymapCharacters, CommandASelectsAllOtherCommandOrControlTextGoesToThePlatform) {
    for (const char* text : {"a", "A"})
        for (const M& m : allModifiers()) {
            if (!m.command) continue;
            EXPECT_EQ(typed(text, m), A::selectAll()) << text << " " << describe(m);
        }
    for (const char* text : {"b", "aa", "", "\xC3\xA1"}) // á
        EXPECT_EQ(typed(text, {.command = true}), std::nullopt) << text;
    EXPECT_EQ(typed("x", {.control = true}), std::nullopt);
    EXPECT_EQ(typed("x", {.option = true, .control = true}), std::nullopt);
    EXPECT_EQ(typed("a", {.control = true}), std::nullopt);
    // Command+Minus deletes columns, as in Linux spreadsheets; never with Option.
    EXPECT_EQ(typed("-", {.command = true}), A::deleteColumns());
    EXPECT_EQ(typed("-", {.command = true, .option = true}), std::nullopt);
}

TEST(GridKeymapCharacters, TypingBeginsEditingWithTheText) {
    EXPECT_EQ(typed("X", {.shift = true}), A::beginEditing("X"));
    EXPECT_EQ(typed("\xC3\xA9", {.option = true}), A::beginEditing("\xC3\xA9")); // é composed
    const char* accepted[] = {
        "x",
        " ",
        "e\xCC\x81",                // e + accent
        "\xF0\x9F\x98\x80",         // 😀
        "\xE6\x97\xA5\xE6\x9C\xAC", // 日本
        "\xE2\x9D\xA4\xEF\xB8\x8F", // ❤️, a selector after
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", // family: joiners inside
    };
    for (const std::string text : accepted) {
        EXPECT_EQ(typed(text), A::beginEditing(text)) << testing::PrintToString(text);
        EXPECT_EQ(typed(text, {.option = true}), A::beginEditing(text)) << testing::PrintToString(text);
    }
}

TEST(GridKeymapCharacters, InvisibleOrControlTextIsNotTyped) {
    const std::string rejected[] = {
        "",
        "\t",
        "\r",
        "\n",
        "\x1b",
        "\x7f",
        std::string("\0", 1), // nothing, C0 controls, delete
        "\xC2\x85",           // next line (C1 control)
        "\xE2\x80\x8D",       // zero-width joiner alone
        "\xE2\x80\x8B",       // zero-width space
        "\xEF\xBB\xBF",       // byte order mark
        "\xE2\x80\x8E",       // left-to-right mark
        "\xC2\xAD",           // soft hyphen
        "\xEF\xB8\x8F",       // variation selector alone
        "a\tb",               // a control inside
        "\xE2\x80\x8D"
        "a", // starting with a joiner
        "\xFF",
        "a\xC3", // not UTF-8, truncated sequence
    };
    for (const std::string& text : rejected) {
        EXPECT_EQ(typed(text), std::nullopt) << testing::PrintToString(text);
        EXPECT_FALSE(GridKeymap::isTypeableText(text)) << testing::PrintToString(text);
    }
}

// ---- the records themselves ----

TEST(GridKeyRecords, KeysAndActionsCompareAndHashByEveryField) {
    const GridKey a = GridKey::typed("x", {.shift = true});
    EXPECT_NE(a, GridKey::typed("x"));
    EXPECT_EQ(std::hash<GridKey>{}(a), std::hash<GridKey>{}(GridKey::typed("x", {.shift = true})));

    const std::vector<GridAction> all = {A::move(D::up, false, false),
                                         A::move(D::up, true, false),
                                         A::move(D::up, false, true),
                                         A::move(D::down, false, false),
                                         A::page(D::up, false),
                                         A::page(D::up, true),
                                         A::advance(false),
                                         A::advance(true),
                                         A::beginEditing(),
                                         A::beginEditing(""),
                                         A::beginEditing("x"),
                                         A::clearContents(),
                                         A::insertRow(true),
                                         A::insertRow(false),
                                         A::insertColumn(true),
                                         A::insertColumn(false),
                                         A::deleteRows(),
                                         A::deleteColumns(),
                                         A::selectAll()};
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = 0; j < all.size(); ++j)
            EXPECT_EQ(all[i] == all[j], i == j) << i << " " << j;
    const std::unordered_set<GridAction> set(all.begin(), all.end());
    EXPECT_EQ(set.size(), all.size());
    EXPECT_TRUE(set.count(A::beginEditing("x")));
}

} // namespace
} // namespace zarvel
