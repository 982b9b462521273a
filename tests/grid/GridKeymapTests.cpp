#include "grid/GridKeymap.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace zarvel {
namespace {

using Key = GridKey::Key;
using M = GridKey::Modifiers;
using A = GridAction;

std::optional<GridAction> act(Key key, M m = {}) { return GridKeymap::action(GridKey::press(key, m)); }
std::optional<GridAction> typed(const std::string& text, M m = {}) {
    return GridKeymap::action(GridKey::typed(text, m));
}

// Every combination of the four modifiers.
std::vector<M> allModifiers() {
    std::vector<M> out;
    for (int bits = 0; bits < 16; ++bits) out.push_back({bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8)});
    return out;
}

std::string describe(const M& m) {
    return std::string(m.shift ? "shift " : "") + (m.command ? "command " : "") + (m.option ? "option " : "") +
           (m.control ? "control" : "");
}

// ---- arrows ----

TEST(GridKeymapArrows, PlainArrowsMoveOneCell) {
    EXPECT_EQ(act(Key::up), A::move(GridDirection::up, false, false));
    EXPECT_EQ(act(Key::down), A::move(GridDirection::down, false, false));
    EXPECT_EQ(act(Key::left), A::move(GridDirection::left, false, false));
    EXPECT_EQ(act(Key::right), A::move(GridDirection::right, false, false));
}

TEST(GridKeymapArrows, ShiftExtendsAndCommandGoesToTheEdge) {
    EXPECT_EQ(act(Key::left, {.shift = true, .command = true}), A::move(GridDirection::left, true, true));
    EXPECT_EQ(act(Key::up, {.shift = true}), A::move(GridDirection::up, true, false));
    EXPECT_EQ(act(Key::right, {.command = true}), A::move(GridDirection::right, false, true));
}

TEST(GridKeymapArrows, OptionInsertsRowsAndColumns) {
    EXPECT_EQ(act(Key::up, {.option = true}), A::insertRow(true));
    EXPECT_EQ(act(Key::down, {.option = true}), A::insertRow(false));
    EXPECT_EQ(act(Key::left, {.option = true}), A::insertColumn(true));
    EXPECT_EQ(act(Key::right, {.option = true}), A::insertColumn(false));
    // Shift and Control do not change an insertion.
    EXPECT_EQ(act(Key::down, {.shift = true, .option = true, .control = true}), A::insertRow(false));
}

TEST(GridKeymapArrows, CommandWinsOverOption) {
    EXPECT_EQ(act(Key::down, {.command = true, .option = true}), A::move(GridDirection::down, false, true));
    EXPECT_EQ(act(Key::left, {.shift = true, .command = true, .option = true}),
              A::move(GridDirection::left, true, true));
}

TEST(GridKeymapArrows, ControlMovesLikeThePlainArrow) {
    EXPECT_EQ(act(Key::up, {.control = true}), A::move(GridDirection::up, false, false));
    EXPECT_EQ(act(Key::right, {.shift = true, .control = true}), A::move(GridDirection::right, true, false));
}

TEST(GridKeymapArrows, EveryModifierCombination) {
    const std::pair<Key, GridDirection> arrows[] = {{Key::up, GridDirection::up},
                                                    {Key::down, GridDirection::down},
                                                    {Key::left, GridDirection::left},
                                                    {Key::right, GridDirection::right}};
    for (auto [key, direction] : arrows)
        for (const M& m : allModifiers()) {
            const auto a = act(key, m);
            ASSERT_TRUE(a.has_value()) << describe(m);
            if (m.option && !m.command)
                EXPECT_TRUE(std::holds_alternative<A::InsertRow>(a->value) ||
                            std::holds_alternative<A::InsertColumn>(a->value))
                    << describe(m);
            else
                EXPECT_EQ(*a, A::move(direction, m.shift, m.command)) << describe(m);
        }
}

// ---- the other named keys ----

TEST(GridKeymapKeys, TabAdvancesWhateverElseIsHeld) {
    for (const M& m : allModifiers()) EXPECT_EQ(act(Key::tab, m), A::advance(m.shift)) << describe(m);
}

TEST(GridKeymapKeys, ReturnBeginsEditingUnlessCommandOrOption) {
    for (const M& m : allModifiers()) {
        if (m.command || m.option)
            EXPECT_EQ(act(Key::enter, m), std::nullopt) << describe(m);
        else
            EXPECT_EQ(act(Key::enter, m), A::beginEditing()) << describe(m);
    }
    EXPECT_EQ(act(Key::enter, {.shift = true}), A::beginEditing(std::nullopt));
    EXPECT_EQ(act(Key::enter, {.control = true}), A::beginEditing(std::nullopt));
}

TEST(GridKeymapKeys, EscapeIsNeverHandled) {
    for (const M& m : allModifiers()) EXPECT_EQ(act(Key::escape, m), std::nullopt) << describe(m);
}

TEST(GridKeymapKeys, DeleteClearsDeletesRowsOrDeletesColumns) {
    EXPECT_EQ(act(Key::deleteKey), A::clearContents());
    EXPECT_EQ(act(Key::deleteKey, {.shift = true}), A::clearContents());
    EXPECT_EQ(act(Key::deleteKey, {.option = true}), A::clearContents());
    EXPECT_EQ(act(Key::deleteKey, {.command = true}), A::deleteRows());
    EXPECT_EQ(act(Key::deleteKey, {.command = true, .option = true}), A::deleteColumns());
    for (const M& m : allModifiers()) {
        const auto expected = m.command ? (m.option ? A::deleteColumns() : A::deleteRows()) : A::clearContents();
        EXPECT_EQ(act(Key::deleteKey, m), expected) << describe(m);
    }
}

TEST(GridKeymapKeys, HomeAndEndGoToTheFirstAndLastRow) {
    for (const M& m : allModifiers()) {
        EXPECT_EQ(act(Key::home, m), A::move(GridDirection::up, m.shift, true)) << describe(m);
        EXPECT_EQ(act(Key::end, m), A::move(GridDirection::down, m.shift, true)) << describe(m);
    }
}

TEST(GridKeymapKeys, PageKeysPage) {
    for (const M& m : allModifiers()) {
        EXPECT_EQ(act(Key::pageUp, m), A::page(GridDirection::up, m.shift)) << describe(m);
        EXPECT_EQ(act(Key::pageDown, m), A::page(GridDirection::down, m.shift)) << describe(m);
    }
}

// ---- typed characters ----

TEST(GridKeymapCharacters, CommandASelectsAllShiftedOrNot) {
    EXPECT_EQ(typed("a", {.command = true}), A::selectAll());
    EXPECT_EQ(typed("A", {.command = true}), A::selectAll());
    EXPECT_EQ(typed("A", {.shift = true, .command = true}), A::selectAll());
    EXPECT_EQ(typed("a", {.command = true, .option = true, .control = true}), A::selectAll());
}

TEST(GridKeymapCharacters, OtherCommandCharactersGoToThePlatform) {
    EXPECT_EQ(typed("b", {.command = true}), std::nullopt);
    EXPECT_EQ(typed("aa", {.command = true}), std::nullopt);
    EXPECT_EQ(typed("", {.command = true}), std::nullopt);
    EXPECT_EQ(typed("\xC3\xA1", {.command = true}), std::nullopt); // á
}

TEST(GridKeymapCharacters, ControlCharactersGoToThePlatform) {
    EXPECT_EQ(typed("x", {.control = true}), std::nullopt);
    EXPECT_EQ(typed("x", {.option = true, .control = true}), std::nullopt);
    EXPECT_EQ(typed("a", {.control = true}), std::nullopt);
}

TEST(GridKeymapCharacters, TypingBeginsEditingWithTheText) {
    EXPECT_EQ(typed("x"), A::beginEditing("x"));
    EXPECT_EQ(typed("X", {.shift = true}), A::beginEditing("X"));
    EXPECT_EQ(typed("x", {.option = true}), A::beginEditing("x"));
    EXPECT_EQ(typed("\xC3\xA9", {.option = true}), A::beginEditing("\xC3\xA9"));          // é composed
    EXPECT_EQ(typed("e\xCC\x81"), A::beginEditing("e\xCC\x81"));                         // e + accent
    EXPECT_EQ(typed("\xF0\x9F\x98\x80"), A::beginEditing("\xF0\x9F\x98\x80"));             // 😀
    EXPECT_EQ(typed("\xE6\x97\xA5\xE6\x9C\xAC"), A::beginEditing("\xE6\x97\xA5\xE6\x9C\xAC")); // 日本
    EXPECT_EQ(typed(" "), A::beginEditing(" "));
}

TEST(GridKeymapCharacters, EmojiSequencesWithJoinersAndSelectorsAreTyped) {
    const std::string heart = "\xE2\x9D\xA4\xEF\xB8\x8F";                                  // ❤️
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    EXPECT_EQ(typed(heart), A::beginEditing(heart));
    EXPECT_EQ(typed(family), A::beginEditing(family));
}

TEST(GridKeymapCharacters, InvisibleOrControlTextIsNotTyped) {
    const char* rejected[] = {
        "",                     // nothing
        "\t",                   // tab
        "\r",                   // carriage return
        "\n",                   // line feed
        "\x1b",                 // escape
        "\x7f",                 // delete
        "\xC2\x85",             // next line (C1 control)
        "\xE2\x80\x8D",         // zero-width joiner alone
        "\xE2\x80\x8B",         // zero-width space
        "\xEF\xBB\xBF",         // byte order mark
        "\xE2\x80\x8E",         // left-to-right mark
        "\xC2\xAD",             // soft hyphen
        "\xEF\xB8\x8F",         // variation selector alone
        "a\tb",                 // a control inside
        "\xE2\x80\x8D" "a",     // starting with a joiner
        "\xFF",                 // not UTF-8
        "a\xC3",                // truncated sequence
    };
    for (const char* text : rejected) {
        EXPECT_EQ(typed(text), std::nullopt) << testing::PrintToString(std::string(text));
        EXPECT_FALSE(GridKeymap::isTypeableText(text));
    }
    EXPECT_EQ(typed(std::string("\0", 1)), std::nullopt);
}

// ---- the records themselves ----

TEST(GridKeyRecords, KeysCompareAndHashByEveryField) {
    const GridKey a = GridKey::typed("x", {.shift = true});
    EXPECT_EQ(a, GridKey::typed("x", {.shift = true}));
    EXPECT_NE(a, GridKey::typed("x"));
    EXPECT_NE(a, GridKey::typed("y", {.shift = true}));
    EXPECT_NE(GridKey::press(Key::up), GridKey::press(Key::down));
    EXPECT_EQ(std::hash<GridKey>{}(a), std::hash<GridKey>{}(GridKey::typed("x", {.shift = true})));
    EXPECT_TRUE(GridKey::press(Key::home, {.command = true}).text.empty());
}

TEST(GridActionRecords, ActionsCompareAndHashByCaseAndPayload) {
    const std::vector<GridAction> all = {
        A::move(GridDirection::up, false, false),  A::move(GridDirection::up, true, false),
        A::move(GridDirection::up, false, true),   A::move(GridDirection::down, false, false),
        A::page(GridDirection::up, false),         A::page(GridDirection::up, true),
        A::advance(false),                         A::advance(true),
        A::beginEditing(),                         A::beginEditing(""),
        A::beginEditing("x"),                      A::clearContents(),
        A::insertRow(true),                        A::insertRow(false),
        A::insertColumn(true),                     A::insertColumn(false),
        A::deleteRows(),                           A::deleteColumns(),
        A::selectAll()};
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = 0; j < all.size(); ++j) EXPECT_EQ(all[i] == all[j], i == j) << i << " " << j;
    std::unordered_set<GridAction> set(all.begin(), all.end());
    EXPECT_EQ(set.size(), all.size());
    EXPECT_TRUE(set.count(A::beginEditing("x")));
}

} // namespace
} // namespace zarvel
