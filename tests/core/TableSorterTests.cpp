#include "core/TableSorter.h"

#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <variant>

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

template <class Kind> Order order(const CSVTable& t, bool ascending, Kind kind, int64_t column = 0) {
    return TableSorter::permutation(t, column, ascending, kind).order();
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

TEST(TableSorter, NaturalOrderComparesDigitRunsAsNumbers) {
    const std::string longRun(40, '9'), longerRun = "1" + std::string(40, '0');
    const struct {
        Strings texts, ascending;
    } cases[] = {
        {{"file10", "File2", "file1", "file02", "file2", "file"},
         {"file", "file1", "file02", "File2", "file2", "file10"}},
        // Runs longer than any integer: compared by length, then digit by digit.
        // Equal numbers follow the text: «0999…» before «999…».
        {{longerRun, "x", longRun, "0" + longRun, "000"}, {"000", "0" + longRun, longRun, longerRun, "x"}},
        // A run compares with other characters as a digit does: after space and «-», before letters.
        {{"a1", "a 1", "a-", "ab", "a10b", "a10a"}, {"a 1", "a-", "a1", "a10a", "a10b", "ab"}},
    };
    for (const auto& c : cases) {
        const CSVTable t = columnTable(c.texts);
        Strings sorted;
        for (int64_t row : order(t, true, SortKind::natural))
            sorted.push_back(t.value(row, 0));
        EXPECT_EQ(sorted, c.ascending);
    }
}

TEST(TableSorter, DateOrderReadsMixedFormsInTheColumnsOrder) {
    // 25/12 decides day-first; ISO forms, with times and offsets, read as themselves.
    const CSVTable t = columnTable({"25/12/2020", "2020-12-25T08:00+02:00", "x", "03.04.2021",
                                    "2020-12-25T07:00", "", "2021-04-02", "2020-12-24", "31-12-2020"});
    Strings sorted;
    for (int64_t row : order(t, true, SortKind::date))
        sorted.push_back(t.value(row, 0));
    EXPECT_EQ(sorted, (Strings{"2020-12-24", "25/12/2020", "2020-12-25T08:00+02:00", "2020-12-25T07:00",
                               "31-12-2020", "2021-04-02", "03.04.2021", "x", ""}));
    // Nothing decides: the dates that read two ways have no key, the others keep theirs.
    EXPECT_EQ(order(columnTable({"03/04/2020", "2020-01-01", "05/05/2019"}), true, SortKind::date),
              (Order{2, 1, 0}));
}

namespace {

std::string referenceTextKey(const std::string& text) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
    s.toLower(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    s = icu::Normalizer2::getNFCInstance(status)->normalize(s, status);
    std::string out;
    return s.toUTF8String(out);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Walks both texts: runs of digits compare by their value, everything else byte by byte.
int naturalCompare(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            auto run = [](std::string_view t, size_t& p) {
                while (p < t.size() && t[p] == '0')
                    ++p;
                const size_t start = p;
                while (p < t.size() && isDigit(t[p]))
                    ++p;
                return t.substr(start, p - start);
            };
            const std::string_view ra = run(a, i), rb = run(b, j);
            if (ra.size() != rb.size()) return ra.size() < rb.size() ? -1 : 1;
            if (const int c = ra.compare(rb)) return c;
            continue;
        }
        if (a[i] != b[j]) return static_cast<uint8_t>(a[i]) < static_cast<uint8_t>(b[j]) ? -1 : 1;
        ++i, ++j;
    }
    return i < a.size() ? 1 : (j < b.size() ? -1 : 0);
}

// The order by the plain rules, one comparison of freshly read cells at a time.
Order referenceOrder(const CSVTable& t, int64_t column, bool ascending, SortKind kind) {
    using Key = std::variant<std::monostate, double, std::string, int64_t>;
    std::vector<Key> keys;
    ColumnKindDetector::DateEvidence evidence;
    for (int64_t r = t.firstDataRow(); r < t.rowCount(); ++r)
        evidence.add(ColumnKindDetector::dateReadings(t.value(r, column)));
    for (int64_t r = t.firstDataRow(); r < t.rowCount(); ++r) {
        const std::string cell = t.value(r, column);
        Key key;
        if (kind == SortKind::number) {
            if (auto v = numericValue(cell); v && !std::isnan(*v)) key = *v;
        } else if (kind == SortKind::date) {
            const auto readings = ColumnKindDetector::dateReadings(cell);
            const auto order = evidence.order();
            auto v = !order ? (readings.dayFirst == readings.monthFirst ? readings.dayFirst : std::nullopt)
                            : (*order == ColumnKindDetector::DateOrder::dayFirst ? readings.dayFirst
                                                                                 : readings.monthFirst);
            if (v) key = *v;
        } else if (!cell.empty()) {
            key = referenceTextKey(cell);
        }
        keys.push_back(key);
    }
    auto compare = [&](const Key& a, const Key& b) {
        if (a.index() == 1)
            return std::get<1>(a) < std::get<1>(b) ? -1 : (std::get<1>(b) < std::get<1>(a) ? 1 : 0);
        if (a.index() == 3)
            return std::get<3>(a) < std::get<3>(b) ? -1 : (std::get<3>(b) < std::get<3>(a) ? 1 : 0);
        const std::string &x = std::get<2>(a), &y = std::get<2>(b);
        if (kind == SortKind::natural)
            if (const int c = naturalCompare(x, y)) return c;
        return x.compare(y) < 0 ? -1 : (x == y ? 0 : 1);
    };
    Order keyed, unkeyed;
    for (int64_t k = 0; k < static_cast<int64_t>(keys.size()); ++k)
        (keys[static_cast<size_t>(k)].index() == 0 ? unkeyed : keyed).push_back(k);
    std::stable_sort(keyed.begin(), keyed.end(), [&](int64_t a, int64_t b) {
        const int c = compare(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)]);
        return ascending ? c < 0 : c > 0;
    });
    Order all;
    if (t.firstDataRow() == 1) all.push_back(0);
    for (const Order* part : {&keyed, &unkeyed})
        for (int64_t k : *part)
            all.push_back(t.firstDataRow() + k);
    return all;
}

std::string randomCell(std::mt19937& rng) {
    static const Strings pieces{
        "a",     "A",   "b",   "Zb",   "file",   "É",   "e\u0301", "é", "ß",
        "Σ",     "ς",   "İ",   "Ǆ",    "\u212B", "-",   " ",       ".", "x y",
        "\"q\"", "1,5", "nan", "-inf", "0",      "007", "12",      "9", "123456789012345678901234567890"};
    static const Strings dates{"2020-12-25", "2020-12-25T08:00:30.5Z",
                               "2021-02-29", "1999-01-02 23:59",
                               "25/12/2020", "12/25/2020",
                               "03.04.2021", "1-2-2022",
                               "2020-13-01"};
    switch (rng() % 8) {
    case 0:
        return "";
    case 1:
        return dates[rng() % dates.size()];
    case 2:
        return std::to_string(static_cast<int>(rng() % 2000) - 1000) + (rng() % 2 ? ".5" : "");
    default: {
        std::string cell;
        for (unsigned n = 1 + rng() % 3; n > 0; --n)
            cell += pieces[rng() % pieces.size()];
        return cell;
    }
    }
}

} // namespace

// Keys built once, on several threads, with prefixes and a merge, give exactly the order
// of the plain comparison: on small tables and on ones large enough for every core to
// take a part, over source cells (quoted ones among them) and edited ones.
TEST(TableSorterProperty, MatchesTheStraightforwardComparison) {
    std::mt19937 rng(5);
    for (int rows : {0, 1, 60, 40'000}) {
        for (bool header : {false, true}) {
            std::string csv = header ? "h,k\n" : "";
            for (int r = 0; r < rows; ++r) {
                std::string cell = randomCell(rng);
                std::string quoted = "\"";
                for (char ch : cell)
                    quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
                csv += std::to_string(r) + "," + quoted + "\"\n";
            }
            CSVTable t = test::indexedTable(csv, CSVDialect::comma(), header);
            std::vector<CellChange> changes;
            for (int64_t r = t.firstDataRow(); r < t.rowCount(); r += 7)
                changes.push_back({r, 1, randomCell(rng)});
            t.apply(TableEdit::setCells(changes));
            for (SortKind kind : allSortKinds)
                for (bool ascending : {true, false})
                    ASSERT_EQ(order(t, ascending, kind, 1), referenceOrder(t, 1, ascending, kind))
                        << rawValue(kind) << " " << rows << " rows, ascending " << ascending;
        }
    }
}
