#include "CoreTestSupport.h"

#include "core/ColumnKindDetector.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace zarvel;
using zarvel::test::indexedTable;

TEST(NumericValue, AcceptsNumbersInTheirCommonSpellings) {
    EXPECT_EQ(numericValue("42"), 42.0);
    EXPECT_EQ(numericValue("  -3.5 "), -3.5);
    EXPECT_EQ(numericValue("\t1e3\xC2\xA0"), 1000.0) << "tab and no-break space are trimmed";
    EXPECT_EQ(numericValue("+.5"), 0.5);
    EXPECT_EQ(numericValue("1,234.56"), 1234.56);
    EXPECT_EQ(numericValue("1.234,56"), 1234.56);
    EXPECT_EQ(numericValue("3,14"), 3.14);
    EXPECT_EQ(numericValue("1,234,567"), 1234567.0);
    EXPECT_EQ(numericValue("12,"), 12.0);
    EXPECT_EQ(numericValue("0x10"), 16.0);
    EXPECT_TRUE(std::isinf(*numericValue("-inf")));
}

TEST(NumericValue, RejectsText) {
    for (const char* s : {",5", "abc", "1 234", "", "   ", "12%", "nan", "e5", "1\n", "\n1", "1.2.3,4,5,"})
        EXPECT_EQ(numericValue(s), std::nullopt) << s;
    EXPECT_EQ(numericValue(std::string("1\0"
                                       "2",
                                       3)),
              std::nullopt)
        << "an embedded NUL";
}

TEST(ColumnKinds, NinetyPercentOfNonEmptyCells) {
    std::string nine = "n\n";
    for (int i = 0; i < 9; ++i)
        nine += std::to_string(i) + "\n";
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable(nine + "word\n", CSVDialect::comma(), true), 200),
              std::vector<ColumnKind>{ColumnKind::number});
    std::string eight = "n\n";
    for (int i = 0; i < 8; ++i)
        eight += std::to_string(i) + "\n";
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable(eight + "a\nb\n", CSVDialect::comma(), true), 200),
              std::vector<ColumnKind>{ColumnKind::text});
}

TEST(ColumnKinds, EmptyColumnsHeaderOnlyAndSampleLimit) {
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable("id,x\n1,\n2,\n", CSVDialect::comma(), true), 200),
              (std::vector<ColumnKind>{ColumnKind::number, ColumnKind::text}));
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable("a,b\n1,2\n", CSVDialect::comma(), false), 200),
              (std::vector<ColumnKind>{ColumnKind::text, ColumnKind::text}))
        << "the letters row counts without a header";
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable("a\n", CSVDialect::comma(), true), 200),
              std::vector<ColumnKind>{ColumnKind::text});
    std::string s = "id\n";
    for (int i = 1; i <= 300; ++i)
        s += (i == 250 ? std::string("word") : std::to_string(i)) + "\n";
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable(s, CSVDialect::comma(), true), 200),
              std::vector<ColumnKind>{ColumnKind::number});
}

TEST(DateReadings, IsoFormsAndDayMonthFormsInBothOrders) {
    const int64_t day = 86'400'000'000;
    const int64_t christmas = ColumnKindDetector::dateReadings("2020-12-25").dayFirst.value();
    EXPECT_EQ(christmas, 18'621 * day);
    const struct {
        const char* text;
        std::optional<int64_t> dayFirst, monthFirst;
    } cases[] = {
        {" 2020-12-25T01:30:15.5+01:30 ", christmas + 15'500'000, christmas + 15'500'000},
        {"2020-12-25 00:00Z", christmas, christmas},
        {"25/12/2020", christmas, std::nullopt},
        {"12.25.2020", std::nullopt, christmas},
        {"1-2-2020", ColumnKindDetector::dateReadings("2020-02-01").dayFirst,
         ColumnKindDetector::dateReadings("2020-01-02").dayFirst},
        {"1970-01-01", 0, 0},
        {"2020-02-29", 18'321 * day, 18'321 * day},
    };
    for (const auto& c : cases) {
        const auto r = ColumnKindDetector::dateReadings(c.text);
        EXPECT_EQ(r.dayFirst, c.dayFirst) << c.text;
        EXPECT_EQ(r.monthFirst, c.monthFirst) << c.text;
    }
    for (const char* s :
         {"2021-02-29", "2020-1-05", "2020-12-25T24:00", "2020-12-25T", "25/12-2020", "25/12/20",
          "2020-12-25x", "13/13/2020", "0/1/2020", "20201225", "2020-12-25T10:00+"})
        EXPECT_FALSE(ColumnKindDetector::dateReadings(s).isDate()) << s;
}

TEST(ColumnKinds, DatesWhenTheSampleDecidesTheirOrder) {
    auto kind = [](const std::string& cells) {
        return ColumnKindDetector::kinds(indexedTable("d\n" + cells, CSVDialect::comma(), true), 200).at(0);
    };
    EXPECT_EQ(kind("2020-01-02\n2021-03-04T05:06\n\n"), ColumnKind::date);
    EXPECT_EQ(kind("03/04/2020\n25/04/2020\n2020-05-01\n"), ColumnKind::date) << "25 is a day";
    EXPECT_EQ(kind("04/03/2020\n04/25/2020\n"), ColumnKind::date) << "25 is a day, after the month";
    EXPECT_EQ(kind("03/04/2020\n01.02.2020\n2020-05-01\n"), ColumnKind::text)
        << "every value reads both ways";
    EXPECT_EQ(kind("2020-01-02\n2020-01-03\nsoon\n"), ColumnKind::text);
    EXPECT_EQ(kind("1\n2\n"), ColumnKind::number);
}
