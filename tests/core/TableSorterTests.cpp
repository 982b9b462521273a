#include "core/TableSorter.h"

#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace zarvel;
using Order = std::vector<int64_t>;
using Strings = std::vector<std::string>;

namespace {

// A one-column table of the given texts, optionally under a header row "h".
CSVTable columnTable(const Strings& texts, bool header = false) {
    StringRows rows;
    if (header) rows.push_back({"h"});
    for (const auto& t : texts)
        rows.push_back({t});
    FileFormat f;
    f.hasHeader = header;
    return CSVTable(std::move(rows), f);
}

Order order(const CSVTable& t, bool ascending, ColumnKind kind, int64_t column = 0) {
    return TableSorter::permutation(t, column, ascending, kind).order;
}

// Cells are written "|"-separated so that a case fits on one line; "||" holds an empty cell.
Strings split(std::string_view texts) {
    Strings out(1);
    for (char ch : texts) {
        if (ch == '|')
            out.emplace_back();
        else
            out.back() += ch;
    }
    return out;
}

} // namespace

TEST(TableSorter, KeysOrderEqualKeysKeepTheirOrderUnkeyedRowsGoLast) {
    const ColumnKind text = ColumnKind::text, number = ColumnKind::number;
    const struct {
        const char* texts;
        ColumnKind kind;
        const char *ascending, *descending;
    } cases[] = {
        // Descending is not the reverse of ascending: A stays before a.
        {"b|A|a|c", text, "A|a|b|c", "c|b|A|a"},
        // Ordinal order of lower-cased text, no locale: «10» before «9», «Z» before «é».
        {"9|10|é|Z", text, "10|9|Z|é", "é|Z|9|10"},
        {"Zb|a|za", text, "a|za|Zb", "Zb|za|a"},
        // A decomposed é (e + U+0301) and a precomposed É are the same key, after f.
        {"\u00C9|f|e\u0301|e", text, "e|f|\u00C9|e\u0301", "\u00C9|e\u0301|f|e"},
        {"10|9|x|2.5", number, "2.5|9|10|x", "10|9|2.5|x"},
        // «-nan» reads as a number, but it has no place in an order: it goes with the unkeyed rows.
        {"+nan|3|-NaN|1||2|nan", number, "1|2|3|+nan|-NaN||nan", "3|2|1|+nan|-NaN||nan"},
        // Equal values tie by position.
        {"1.0|-inf|1|0|-0|1e0|+inf", number, "-inf|0|-0|1.0|1|1e0|+inf", "+inf|1.0|1|1e0|0|-0|-inf"},
    };
    ASSERT_TRUE(numericValue("-nan").has_value());
    for (const auto& c : cases) {
        const CSVTable t = columnTable(split(c.texts));
        for (bool ascending : {true, false}) {
            const Order rows = order(t, ascending, c.kind);
            std::string sorted;
            for (size_t i = 0; i < rows.size(); ++i)
                sorted += (i ? "|" : "") + t.value(rows[i], 0);
            EXPECT_EQ(sorted, ascending ? c.ascending : c.descending) << c.texts;
        }
    }
    // Empty cells, the unkeyed texts, stay last and in their order either way.
    EXPECT_EQ(order(columnTable({"", "b", "", "a"}), true, text), (Order{3, 1, 0, 2}));
    EXPECT_EQ(order(columnTable({"", "b", "", "a"}), false, text), (Order{1, 3, 0, 2}));
}

TEST(TableSorter, HeaderRowNeverMovesAndSourceCellsAreDecoded) {
    EXPECT_EQ(order(columnTable({"b", "a"}, true), true, ColumnKind::text), (Order{0, 2, 1}));
    EXPECT_EQ(order(columnTable({}, true), true, ColumnKind::text), (Order{0}));
    EXPECT_TRUE(order(CSVTable(), true, ColumnKind::text).empty());

    CSVTable t = test::indexedTable("k,v\n\"b\",2\n\"a,\"\"x\"\"\",1\n", CSVDialect::comma(), true);
    EXPECT_EQ(order(t, true, ColumnKind::text, 0), (Order{0, 2, 1}));
    EXPECT_EQ(order(t, false, ColumnKind::number, 1), (Order{0, 1, 2}));
}

// The comparison is a strict total order: the result equals a stable sort by key with the
// unkeyed rows appended, in either direction.
TEST(TableSorterProperty, MatchesAStableSortOfTheKeys) {
    std::mt19937 rng(5);
    const Strings pool{"", "a", "A", "b", "B", "ab", "10", "9", "-1", "1,5", "nan", "x", "É", "é", "e"};
    for (int round = 0; round < 30; ++round) {
        Strings texts;
        for (int i = 0; i < 60; ++i)
            texts.push_back(pool[rng() % pool.size()]);
        CSVTable t = columnTable(texts, round % 2 == 0);
        const int64_t first = t.firstDataRow();
        for (ColumnKind kind : {ColumnKind::text, ColumnKind::number}) {
            for (bool ascending : {true, false}) {
                const Order all = order(t, ascending, kind);
                Order identity(static_cast<size_t>(t.rowCount()));
                std::iota(identity.begin(), identity.end(), 0);
                ASSERT_TRUE(std::is_permutation(all.begin(), all.end(), identity.begin(), identity.end()));
                ASSERT_TRUE(first == 0 || all.front() == 0); // the header row stays on top
                const Order rest(all.begin() + first, all.end());
                // Adjacent keyed rows are in key order, equal keys in row order; then the unkeyed.
                for (size_t i = 1; i < rest.size(); ++i) {
                    const std::string& a = t.value(rest[i - 1], 0);
                    const std::string& b = t.value(rest[i], 0);
                    if (kind == ColumnKind::number) {
                        auto ka = numericValue(a), kb = numericValue(b);
                        const bool hasA = ka && *ka == *ka, hasB = kb && *kb == *kb;
                        ASSERT_TRUE(hasA || !hasB);
                        if (hasA != hasB) continue;
                        if (!hasA || *ka == *kb) {
                            ASSERT_LT(rest[i - 1], rest[i]);
                        } else {
                            ASSERT_TRUE(ascending ? *ka < *kb : *ka > *kb);
                        }
                    } else if (a.empty()) {
                        ASSERT_TRUE(b.empty());
                        ASSERT_LT(rest[i - 1], rest[i]);
                    }
                }
            }
        }
    }
}
