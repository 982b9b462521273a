#include "core/TableSorter.h"

#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
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

Strings sorted(const CSVTable& t, bool ascending, ColumnKind kind) {
    Strings out;
    for (int64_t row : TableSorter::permutation(t, 0, ascending, kind).order)
        out.push_back(t.value(row, 0));
    return out;
}

} // namespace

TEST(TableSorterText, EqualKeysKeepTheirOrderInBothDirections) {
    CSVTable t = columnTable({"b", "A", "a", "c"});
    EXPECT_EQ(sorted(t, true, ColumnKind::text), (Strings{"A", "a", "b", "c"}));
    // Descending is not the reverse of ascending: A stays before a.
    EXPECT_EQ(sorted(t, false, ColumnKind::text), (Strings{"c", "b", "A", "a"}));
}

TEST(TableSorterText, EmptyCellsGoLastInTheirOrder) {
    CSVTable t = columnTable({"", "b", "", "a"});
    EXPECT_EQ(TableSorter::permutation(t, 0, true, ColumnKind::text).order, (Order{3, 1, 0, 2}));
    EXPECT_EQ(TableSorter::permutation(t, 0, false, ColumnKind::text).order, (Order{1, 3, 0, 2}));
}

TEST(TableSorterText, OrdinalOrderOfLowerCasedNormalisedText) {
    // No natural number order, no locale: «10» before «9», «Z» before «é».
    EXPECT_EQ(sorted(columnTable({"9", "10", "é", "Z"}), true, ColumnKind::text),
              (Strings{"10", "9", "Z", "é"}));
    // A decomposed é (e + U+0301) and a precomposed É are the same key, after f.
    EXPECT_EQ(sorted(columnTable({"\u00C9", "f", "e\u0301", "e"}), true, ColumnKind::text),
              (Strings{"e", "f", "\u00C9", "e\u0301"}));
}

TEST(TableSorterNumber, NumbersAscendingAndDescendingWithTextLast) {
    CSVTable t = columnTable({"10", "9", "x", "2.5"});
    EXPECT_EQ(sorted(t, true, ColumnKind::number), (Strings{"2.5", "9", "10", "x"}));
    EXPECT_EQ(sorted(t, false, ColumnKind::number), (Strings{"10", "9", "2.5", "x"}));
}

TEST(TableSorterNumber, NotANumberHasNoKey) {
    // «-nan» reads as a number, but it has no place in an order: it goes with the unkeyed rows.
    ASSERT_TRUE(numericValue("-nan").has_value());
    CSVTable t = columnTable({"+nan", "3", "-NaN", "1", "", "2", "nan"});
    EXPECT_EQ(sorted(t, true, ColumnKind::number), (Strings{"1", "2", "3", "+nan", "-NaN", "", "nan"}));
    EXPECT_EQ(sorted(t, false, ColumnKind::number), (Strings{"3", "2", "1", "+nan", "-NaN", "", "nan"}));
}

TEST(TableSorterNumber, EqualValuesTieByPosition) {
    CSVTable t = columnTable({"1.0", "-inf", "1", "0", "-0", "1e0", "+inf"});
    EXPECT_EQ(sorted(t, true, ColumnKind::number), (Strings{"-inf", "0", "-0", "1.0", "1", "1e0", "+inf"}));
    EXPECT_EQ(sorted(t, false, ColumnKind::number), (Strings{"+inf", "1.0", "1", "1e0", "0", "-0", "-inf"}));
}

TEST(TableSorterRows, HeaderRowNeverMoves) {
    CSVTable t = columnTable({"b", "a"}, true);
    EXPECT_EQ(TableSorter::permutation(t, 0, true, ColumnKind::text).order, (Order{0, 2, 1}));
    EXPECT_EQ(TableSorter::permutation(columnTable({}, true), 0, true, ColumnKind::text).order, (Order{0}));
    EXPECT_TRUE(TableSorter::permutation(CSVTable(), 0, true, ColumnKind::text).order.empty());
}

TEST(TableSorterRows, SortedColumnGivesTheIdentity) {
    EXPECT_TRUE(
        TableSorter::permutation(columnTable({"a", "b", "b", "c"}), 0, true, ColumnKind::text).isIdentity());
    EXPECT_TRUE(TableSorter::permutation(columnTable({"3", "2", "2", ""}), 0, false, ColumnKind::number)
                    .isIdentity());
}

TEST(TableSorterRows, ReadsDecodedSourceCellsOfTheDisplayColumn) {
    CSVTable t = test::indexedTable("k,v\n\"b\",2\n\"a,\"\"x\"\"\",1\n", CSVDialect::comma(), true);
    EXPECT_EQ(TableSorter::permutation(t, 0, true, ColumnKind::text).order, (Order{0, 2, 1}));
    EXPECT_EQ(TableSorter::permutation(t, 1, false, ColumnKind::number).order, (Order{0, 1, 2}));
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
                Order order = TableSorter::permutation(t, 0, ascending, kind).order;
                ASSERT_EQ(order.size(), static_cast<size_t>(t.rowCount()));
                if (first) {
                    ASSERT_EQ(order.front(), 0);
                }
                Order rest(order.begin() + first, order.end());
                Order all = rest;
                std::sort(all.begin(), all.end());
                for (size_t i = 0; i < all.size(); ++i)
                    ASSERT_EQ(all[i], first + static_cast<int64_t>(i));
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
