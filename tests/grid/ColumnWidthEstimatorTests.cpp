#include "grid/ColumnWidthEstimator.h"

#include "core/FieldIndexer.h"

#include <gtest/gtest.h>

#include <string>

namespace zarvel {
namespace {

namespace CWE = ColumnWidthEstimator;

FileFormat withHeader(bool header) {
    FileFormat f;
    f.hasHeader = header;
    return f;
}

// A table read from comma-separated text, as the reader builds it.
CSVTable sourceTable(const std::string& text, bool header) {
    SharedBytes bytes = SharedBytes::copyOf(text);
    FieldIndex index = FieldIndexer::scan(bytes.view(), 0, CSVDialect::comma()).index;
    return CSVTable(bytes, std::move(index), withHeader(header));
}

// One column titled "h" over `rows` data rows of "x".
StringRows column(int rows) {
    StringRows r(static_cast<size_t>(rows) + 1, StringRow{"x"});
    r[0] = {"h"};
    return r;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// The estimate for `n` characters: n * 7.2 + 20.
double chars(int n) {
    return n * 7.2 + 20;
}

// ---- the width formula and counting characters ----

TEST(ColumnWidthFormula, FloorAndCapAroundTheLinearPart) {
    const struct {
        int64_t count;
        double max, width;
    } cases[] = {{0, 400, 60},   {5, 400, 60},        {6, 400, 63.2},    {52, 400, 394.4},
                 {53, 400, 400}, {201, 2000, 1467.2}, {1000, 2000, 2000}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(CWE::widthForCharacters(c.count, c.max), c.width) << c.count;
}

TEST(CharacterCount, GraphemeClustersCountOnce) {
    const std::pair<std::string, int64_t> cases[] = {
        {"", 0},
        {"hello", 5},
        {"a\r\nb", 3},
        {"a\n\rb", 4},
        {"\r\n\r\n", 2},                             // CR LF is one cluster
        {"e\xCC\x81", 1},                            // e + combining acute
        {"e\xCC\x81\xCC\xA3x", 2},                   // two marks on one base
        {"\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", 1}, // conjoining jamo
        {"caf\xC3\xA9", 4},                          // precomposed é
        {repeat("o\xCC\x88", 10), 10},
        {"\xF0\x9F\x98\x80", 1},                 // 😀
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1}, // 👍 + skin tone
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 1}, // 🇩🇪
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", 2},
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", 1}, // family, joined
        {"\xE2\x9D\xA4\xEF\xB8\x8F ok", 4},                                              // ❤️ + " ok"
        // The ellipsis closing a cut text is one more character.
        {"abc\xE2\x80\xA6", 4},
        {"\r\xE2\x80\xA6", 2},
        {"e\xCC\x81\xE2\x80\xA6", 2},
        {"\xE2\x80\xA6\xE2\x80\xA6", 2},
    };
    for (const auto& [text, count] : cases)
        EXPECT_EQ(CWE::characterCount(text), count) << testing::PrintToString(text);
}

// ---- initial widths ----

TEST(InitialWidths, TitlesAndTheLongestSampledTextPerColumn) {
    const struct {
        const char* name;
        CSVTable table;
        std::vector<double> widths;
    } cases[] = {
        {"no columns", CSVTable(), {}},
        // Titles count two extra characters: "ab" is (2 + 2) * 7.2 + 20 = 48.8, raised to 60.
        {"header only",
         CSVTable({{"ab", "A title of 23 chars....", "\xF0\x9F\x98\x80"}}, withHeader(true)),
         {60, chars(25), 60}},
        {"short texts, long title",
         CSVTable({{"Ten chars!"}, {"abc"}, {"de"}, {"f"}}, withHeader(true)),
         {chars(12)}},
        {"longest text", CSVTable({{"id"}, {"ab"}, {repeat("w", 30)}, {"f"}}, withHeader(true)), {chars(30)}},
        // Titles A and B, and row 0 is data.
        {"no header", CSVTable({{repeat("q", 12), "z"}, {"a", "b"}}, withHeader(false)), {chars(12), 60}},
        {"capped", sourceTable("h\n" + repeat("y", 1000) + "\n", true), {400}},
        {"capped, stored rows", CSVTable({{"h"}, {repeat("y", 1000)}}, withHeader(true)), {400}},
        // 20 decomposed characters are 60 bytes: counted as 20, not 60 or 40.
        {"combining", sourceTable("h\n" + repeat("a\xCC\x8A", 20) + "\n", true), {chars(20)}},
        {"emoji", sourceTable("h\n" + repeat("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 9), true), {chars(9)}},
        {"short rows are empty cells", sourceTable("a,b,c\n1\n1,2,333333333\n", true), {60, 60, chars(9)}},
    };
    for (const auto& c : cases) {
        const std::vector<double> w = CWE::widths(c.table);
        ASSERT_EQ(w.size(), c.widths.size()) << c.name;
        for (size_t i = 0; i < w.size(); ++i)
            EXPECT_DOUBLE_EQ(w[i], c.widths[i]) << c.name << ", column " << i;
    }
}

TEST(InitialWidths, OnlyTheSampleRowsAreRead) {
    // Stored rows 0 ..< 1000 are sampled: the header and data rows 1 ... 999.
    StringRows rows = column(4999);
    rows[999] = {repeat("m", 30)};
    EXPECT_DOUBLE_EQ(CWE::widths(CSVTable(rows, withHeader(true)))[0], chars(30));
    rows[999] = {"x"};
    rows[1000] = {repeat("m", 30)};
    rows[3000] = {repeat("m", 40)};
    const CSVTable t(rows, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::widths(t)[0], 60);
    // The limit is a parameter.
    EXPECT_DOUBLE_EQ(CWE::widths(t, 1001)[0], chars(30));
    EXPECT_DOUBLE_EQ(CWE::widths(t, 0)[0], 60);
}

// ---- fitting one column ----

TEST(FittingWidth, TitleAndTextsWithTheirOwnCaps) {
    // 200 bytes and the ellipsis, under the column maximum rather than the default one.
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(sourceTable("h\n" + repeat("y", 1000) + "\n", true), 0), chars(201));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(CSVTable({{repeat("T", 300)}, {"x"}}, withHeader(true)), 0), 2000);

    const CSVTable titleOnly({{"Ten chars!"}}, withHeader(true));
    EXPECT_EQ(CWE::fittingRows(titleOnly), (IndexRange{1, 1}));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(titleOnly, 0), chars(12));

    const CSVTable letters(StringRows(3, StringRow(28, "a")), withHeader(false));
    EXPECT_EQ(CWE::fittingRows(letters), (IndexRange{0, 3}));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(letters, 27), 60); // "AB" + 2

    const CSVTable t({{"h"}, {repeat("z", 20)}}, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0, {0, 100}), chars(20)); // clipped to the table
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0, {5, 10}), 60);
}

TEST(FittingWidth, ReadsTheFirstTwoThousandDataRowsOnly) {
    StringRows rows = column(4999);
    EXPECT_EQ(CWE::fittingRows(CSVTable(rows, withHeader(true))), (IndexRange{1, 2001}));

    rows[2000] = {repeat("m", 30)}; // the 2000th data row: read, though beyond the initial sample
    const CSVTable last(rows, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::widths(last)[0], 60);
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(last, 0), chars(30));
    rows[2000] = {"x"};
    rows[2001] = {repeat("m", 30)}; // one past: not read, even when asked for more
    const CSVTable beyond(rows, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(beyond, 0), 60);
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(beyond, 0, {1, 5000}), 60);
}

} // namespace
} // namespace zarvel
