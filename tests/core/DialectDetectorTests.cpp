#include "CoreTestSupport.h"

#include "core/DialectDetector.h"

#include <gtest/gtest.h>

using namespace zarvel;
using namespace zarvel::DialectDetector;
using zarvel::test::indexedTable;

TEST(DialectDetector, SepLines) {
    EXPECT_EQ(parseSepLine("sep=;\r\na;b"), (SepLine{Byte::semicolon, 7}));
    EXPECT_EQ(parseSepLine("SEP=|"), (SepLine{Byte::pipe, 5}));
    EXPECT_EQ(parseSepLine("Sep=\t\rx"), (SepLine{Byte::tab, 6}));
    EXPECT_EQ(parseSepLine("sep=,\n"), (SepLine{Byte::comma, 6}));
    EXPECT_EQ(parseSepLine("sep=;x"), std::nullopt);
    EXPECT_EQ(parseSepLine("sep="), std::nullopt);
    EXPECT_EQ(parseSepLine("sep=\xC3\xA9"), std::nullopt);
    EXPECT_EQ(parseSepLine("sepa;"), std::nullopt);
}

TEST(DialectDetector, QuoteAndEscape) {
    EXPECT_EQ(detectQuote(""), Byte::doubleQuote);
    EXPECT_EQ(detectQuote("'a','b','c'\n\"d\",x"), Byte::singleQuote);
    EXPECT_EQ(detectQuote("'a','b'\n\"c\""), Byte::doubleQuote) << "singles must exceed twice the doubles";
    EXPECT_EQ(detectQuote("it's,don't"), Byte::doubleQuote) << "only quotes at field boundaries count";
    EXPECT_EQ(detectEscape("a,\"b\\\"c\",d", Byte::doubleQuote), CSVDialect::Escape::backslash);
    EXPECT_EQ(detectEscape("a,\"b\\\"c\",\"x\"\"y\"", Byte::doubleQuote), CSVDialect::Escape::doubled);
    EXPECT_EQ(detectEscape("a,\"\",b\\\"c", Byte::doubleQuote), CSVDialect::Escape::backslash)
        << "an empty quoted field is not a doubled quote inside a field";
    EXPECT_EQ(detectEscape("\\\"", std::nullopt), CSVDialect::Escape::doubled);
}

TEST(DialectDetector, ScoresFavourConsistentWiderSplits) {
    auto idx = [](std::string_view s, uint8_t d) {
        return FieldIndexer::scan(s, 0, CSVDialect{d, Byte::doubleQuote, CSVDialect::Escape::doubled}, 200)
            .index;
    };
    EXPECT_NEAR(scoreRows(idx("a,b,c\nd,e,f\n", ','), false), 1.0003, 1e-12);
    EXPECT_EQ(scoreRows(idx("abc\ndef\n", ','), false), 0.0);
    EXPECT_NEAR(scoreRows(idx("a,b\nc,d\ne,f,g", ','), true), 1.0002, 1e-12) << "a cut last row is left out";
    // Equal row counts: the larger field count wins.
    EXPECT_NEAR(scoreRows(idx("a,b\nc,d,e\n", ','), false), 0.5003, 1e-12);
}

TEST(DialectDetector, DelimiterTiesAndPenalties) {
    auto comma = detectDialect("a,b;c\nd,e;f\n", std::nullopt);
    EXPECT_EQ(comma.dialect.delimiter, Byte::comma) << "ties keep the earlier candidate";
    auto colon = detectDialect("a:b:c\nd:e:f\n", std::nullopt);
    EXPECT_EQ(colon.dialect.delimiter, Byte::colon);
    EXPECT_NEAR(colon.confidence, 0.9 * 1.0003, 1e-12);
    auto space = detectDialect("a b c\nd e f\n", std::nullopt);
    EXPECT_EQ(space.dialect.delimiter, Byte::space);
    EXPECT_NEAR(space.confidence, 0.8 * 1.0003, 1e-12);
    auto single = detectDialect("x\ny\nz\n", std::nullopt);
    EXPECT_EQ(single.dialect, CSVDialect::comma());
    EXPECT_EQ(single.confidence, 0.0);
}

TEST(DialectDetector, SepLineNamesTheDelimiter) {
    auto g = detectDialect("sep=;\r\na;b\r\n", std::nullopt);
    EXPECT_TRUE(g.hasSepLine);
    EXPECT_EQ(g.dialect.delimiter, Byte::semicolon);
    EXPECT_EQ(g.contentStart, 7);
    EXPECT_EQ(g.confidence, 1.0);
    EXPECT_EQ(g.lineEnding, FileFormat::LineEnding::crlf);
    auto oneColumn = detectDialect("sep=;\nx\ny\n", std::nullopt);
    EXPECT_EQ(oneColumn.dialect.delimiter, Byte::semicolon);
    EXPECT_EQ(oneColumn.confidence, 1.0);
    auto unusual = detectDialect("sep=#\na#b\n", std::nullopt);
    EXPECT_EQ(unusual.dialect.delimiter, '#');
}

TEST(DialectDetector, ForcedDialectAndAverages) {
    CSVDialect forced{Byte::pipe, std::nullopt, CSVDialect::Escape::doubled};
    auto g = detectDialect("a,b\nc,d\n", forced);
    EXPECT_EQ(g.dialect, forced);
    EXPECT_EQ(g.confidence, 1.0);
    auto avg = detectDialect("aa,bb\ncc,dd\n", std::nullopt);
    EXPECT_DOUBLE_EQ(avg.bytesPerRow, 11.0 / 2); // last content end 11, two rows
    EXPECT_DOUBLE_EQ(avg.bytesPerField, 11.0 / 4);
    auto empty = detectDialect("", std::nullopt);
    EXPECT_DOUBLE_EQ(empty.bytesPerRow, 1.0);
}

TEST(DialectDetector, HeaderVotes) {
    EXPECT_TRUE(detectHeader(indexedTable("id,name,amount\n1,x,2.5\n2,y,3\n")));
    EXPECT_FALSE(detectHeader(indexedTable("1,2,3\n4,5,6\n")));
    EXPECT_FALSE(detectHeader(indexedTable("a,a,b\nx,y,z\n"))) << "duplicate titles";
    EXPECT_FALSE(detectHeader(indexedTable(",,x\n1,2,3\n"))) << "mostly empty first row";
    EXPECT_TRUE(detectHeader(indexedTable("only,row\n")));
    EXPECT_TRUE(detectHeader(indexedTable("")));
    EXPECT_TRUE(detectHeader(indexedTable("a,b\nc,d\n"))) << "no numbers anywhere";
    EXPECT_FALSE(detectHeader(indexedTable("a,7\nc,d\n"))) << "a number in the first row, no numeric column";
    // Votes: one numeric column under a text title, one under a number: header wins ties.
    EXPECT_TRUE(detectHeader(indexedTable("x,5\n1,2\n3,4\n")));
}
