#include "core/FieldIndexer.h"

#include <gtest/gtest.h>

using namespace zarvel;
using LE = FileFormat::LineEnding;

namespace {

FieldIndexer::Result scan(std::string_view s, CSVDialect d = CSVDialect::comma(), int64_t limit = FieldIndexer::noRowLimit,
                          size_t start = 0) {
    return FieldIndexer::scan(reinterpret_cast<const uint8_t*>(s.data()), s.size(), start, d, limit);
}

// Each row's fields as the byte ranges the index describes.
std::vector<std::vector<std::string>> fields(std::string_view s, const FieldIndex& index) {
    std::vector<std::vector<std::string>> out;
    for (int64_t r = 0; r < index.rowCount(); ++r) {
        std::vector<std::string> row;
        for (int64_t f = 0; f < index.fieldCount(r); ++f) {
            auto [a, b] = index.fieldRange(r, f);
            row.emplace_back(s.substr(a, b - a));
        }
        out.push_back(row);
    }
    return out;
}

using Rows = std::vector<std::vector<std::string>>;

CSVDialect backslashDialect() { return {Byte::comma, Byte::doubleQuote, CSVDialect::Escape::backslash}; }

} // namespace

TEST(FieldIndexer, EmptyInputAndStartPastEnd) {
    for (auto r : {scan(""), scan("sep=;", CSVDialect::comma(), FieldIndexer::noRowLimit, 5)}) {
        EXPECT_EQ(r.index.rowCount(), 0);
        EXPECT_EQ(r.index.rowFirstField, std::vector<uint32_t>{0});
        EXPECT_EQ(r.index.maxFieldCount, 0);
        EXPECT_FALSE(r.endsWithNewline);
        EXPECT_EQ(r.lineEndingCounts, (std::array<int64_t, 3>{0, 0, 0}));
    }
}

TEST(FieldIndexer, LineEndingsAreCountedAndEndRows) {
    auto r = scan("a,b\r\nc,d\r\n");
    EXPECT_EQ(fields("a,b\r\nc,d\r\n", r.index), (Rows{{"a", "b"}, {"c", "d"}}));
    EXPECT_EQ(r.lineEndingCounts[size_t(LE::crlf)], 2);
    EXPECT_TRUE(r.endsWithNewline);

    auto mixed = scan("a\rb\nc");
    EXPECT_EQ(mixed.index.rowCount(), 3);
    EXPECT_EQ(mixed.lineEndingCounts, (std::array<int64_t, 3>{1, 0, 1}));
    EXPECT_FALSE(mixed.endsWithNewline);

    // A final line ending does not start another row; an empty middle line is a row.
    EXPECT_EQ(scan("a\n").index.rowCount(), 1);
    EXPECT_EQ(fields("a\n\nb", scan("a\n\nb").index), (Rows{{"a"}, {""}, {"b"}}));
    // A lone CR right before the end, and CR at the very end.
    EXPECT_EQ(fields("a\r", scan("a\r").index), (Rows{{"a"}}));
    EXPECT_TRUE(scan("a\r").endsWithNewline);
}

TEST(FieldIndexer, QuotedFieldsHoldDelimitersAndLineBreaks) {
    const std::string s = "a,\"b,c\"\nd";
    auto r = scan(s);
    EXPECT_EQ(fields(s, r.index), (Rows{{"a", "\"b,c\""}, {"d"}}));
    EXPECT_EQ(r.index.fieldStarts[1], 2u); // the opening quote

    const std::string multi = "\"x\r\ny\",z\r\nw";
    EXPECT_EQ(fields(multi, scan(multi).index), (Rows{{"\"x\r\ny\"", "z"}, {"w"}}));
    EXPECT_EQ(scan(multi).lineEndingCounts[size_t(LE::crlf)], 1) << "a line break inside quotes is content";
    EXPECT_TRUE(scan("a,\"b\"\r\nc,\"d\"\r\n").warnings.empty()) << "a quoted field ends at CR LF";
}

TEST(FieldIndexer, TrailingDelimiterMakesAnEmptyField) {
    auto r = scan("a,b,");
    EXPECT_EQ(fields("a,b,", r.index), (Rows{{"a", "b", ""}}));
    EXPECT_EQ(r.index.maxFieldCount, 3);
    EXPECT_EQ(fields(",", scan(",").index), (Rows{{"", ""}}));
}

TEST(FieldIndexer, TextAfterClosingQuoteStaysInTheField) {
    const std::string s = "\"ab\"cd,e";
    auto r = scan(s);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0], (ReadWarning{ReadWarning::Kind::textAfterClosingQuote, 0}));
    EXPECT_EQ(fields(s, r.index), (Rows{{"\"ab\"cd", "e"}}));
}

TEST(FieldIndexer, UnclosedQuoteSpoilsOnlyItsField) {
    const std::string s = "x\n\"abc,def\nghi";
    auto r = scan(s);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0], (ReadWarning{ReadWarning::Kind::unclosedQuote, 1}));
    EXPECT_EQ(fields(s, r.index), (Rows{{"x"}, {"\"abc", "def"}, {"ghi"}}));

    // An opening quote as the last byte, and a backslash as the last byte.
    EXPECT_EQ(scan("a,\"").warnings.size(), 1u);
    EXPECT_EQ(fields("a,\"", scan("a,\"").index), (Rows{{"a", "\""}}));
    auto bs = scan("\"ab\\", backslashDialect());
    ASSERT_EQ(bs.warnings.size(), 1u);
    EXPECT_EQ(bs.warnings[0].kind, ReadWarning::Kind::unclosedQuote);
}

TEST(FieldIndexer, EscapeStylesDecideWhereQuotesClose) {
    // Doubled: a pair is an escaped quote; a backslash is ordinary.
    const std::string d = "\"a\"\"b\",\"c\\\"";
    EXPECT_EQ(fields(d, scan(d).index), (Rows{{"\"a\"\"b\"", "\"c\\\""}}));
    // Backslash: two quotes do not escape; the second is text after the closing quote.
    const std::string b = "\"a\"\"b\",x";
    auto r = scan(b, backslashDialect());
    EXPECT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(fields(b, r.index), (Rows{{"\"a\"\"b\"", "x"}}));
    const std::string esc = "\"a\\\",b\",c";
    EXPECT_EQ(fields(esc, scan(esc, backslashDialect()).index), (Rows{{"\"a\\\",b\"", "c"}}));
}

TEST(FieldIndexer, WarningsAreCappedAtOneHundred) {
    std::string s;
    for (int i = 0; i < 150; ++i) s += "\"a\"b\n";
    auto r = scan(s);
    EXPECT_EQ(r.warnings.size(), 100u);
    EXPECT_EQ(r.warnings.back().row, 99);
    EXPECT_EQ(r.index.rowCount(), 150);
}

TEST(FieldIndexer, RowLimitStopsAfterCompleteRows) {
    std::string s;
    for (int i = 0; i < 1000; ++i) s += "a,b\r\n";
    auto r = scan(s, CSVDialect::comma(), 200);
    EXPECT_EQ(r.index.rowCount(), 200);
    EXPECT_EQ(r.lineEndingCounts[size_t(LE::crlf)], 200);
    EXPECT_FALSE(r.endsWithNewline);
}

TEST(FieldIndexer, NoQuoteDialectTakesQuotesLiterally) {
    const std::string s = "\"a,b\"";
    CSVDialect d{Byte::comma, std::nullopt, CSVDialect::Escape::doubled};
    EXPECT_EQ(fields(s, scan(s, d).index), (Rows{{"\"a", "b\""}}));
}

TEST(FieldIndexer, LongFieldsCrossTheVectorBlocks) {
    // Field ends at every offset around the 16-byte blocks of the fast path.
    for (size_t len = 0; len < 40; ++len) {
        std::string s = std::string(len, 'x') + ",y\n" + std::string(len + 1, 'z');
        auto r = scan(s);
        ASSERT_EQ(fields(s, r.index), (Rows{{std::string(len, 'x'), "y"}, {std::string(len + 1, 'z')}})) << len;
    }
}

TEST(FieldIndexer, FieldValues) {
    const auto d = CSVDialect::comma();
    EXPECT_EQ(FieldIndexer::fieldValue("\"a\"\"b\"", d), "a\"b");
    EXPECT_EQ(FieldIndexer::fieldValue("\"a\\\"b\"", backslashDialect()), "a\"b");
    EXPECT_EQ(FieldIndexer::fieldValue("\"ab\\\"", backslashDialect()), "ab\\") << "a last inner backslash stays";
    EXPECT_EQ(FieldIndexer::fieldValue("\"\"", d), "");
    EXPECT_EQ(FieldIndexer::fieldValue("\"", d), "\"");
    EXPECT_EQ(FieldIndexer::fieldValue("\"x,y\"", d), "x,y");
    EXPECT_EQ(FieldIndexer::fieldValue("\"ab\"cd", d), "\"ab\"cd");
    EXPECT_EQ(FieldIndexer::fieldValue("\"abc", d), "\"abc");
    EXPECT_EQ(FieldIndexer::fieldValue("\"a\"b\"", d), "ab") << "a lone inner quote is dropped";
    EXPECT_EQ(FieldIndexer::fieldValue("a\xFF", d), "a\xEF\xBF\xBD");
    EXPECT_EQ(FieldIndexer::fieldValue("\"\xE2\x82\"", d), "\xEF\xBF\xBD") << "a cut sequence is one U+FFFD";
}
