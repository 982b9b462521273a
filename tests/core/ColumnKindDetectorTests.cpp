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
    EXPECT_EQ(numericValue(std::string("1\0" "2", 3)), std::nullopt) << "an embedded NUL";
}

TEST(ColumnKinds, NinetyPercentOfNonEmptyCells) {
    std::string nine = "n\n";
    for (int i = 0; i < 9; ++i) nine += std::to_string(i) + "\n";
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable(nine + "word\n", CSVDialect::comma(), true), 200),
              std::vector<ColumnKind>{ColumnKind::number});
    std::string eight = "n\n";
    for (int i = 0; i < 8; ++i) eight += std::to_string(i) + "\n";
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
    for (int i = 1; i <= 300; ++i) s += (i == 250 ? std::string("word") : std::to_string(i)) + "\n";
    EXPECT_EQ(ColumnKindDetector::kinds(indexedTable(s, CSVDialect::comma(), true), 200),
              std::vector<ColumnKind>{ColumnKind::number});
}
