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

// One column titled `title`, then `rows` short data rows.
StringRows column(const std::string& title, int rows, const std::string& text = "x") {
    StringRows r{{title}};
    for (int i = 0; i < rows; ++i) r.push_back({text});
    return r;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// ---- the width formula ----

TEST(ColumnWidthFormula, FloorAndCapAroundTheLinearPart) {
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(0, 400), 60);
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(5, 400), 60);
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(6, 400), 63.2);
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(52, 400), 394.4);
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(53, 400), 400);
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(201, 2000), 1467.2);
    EXPECT_DOUBLE_EQ(CWE::widthForCharacters(1000, 2000), 2000);
}

// ---- counting characters ----

TEST(CharacterCount, AsciiCountsBytesButCrLfIsOne) {
    EXPECT_EQ(CWE::characterCount(""), 0);
    EXPECT_EQ(CWE::characterCount("hello"), 5);
    EXPECT_EQ(CWE::characterCount("a\r\nb"), 3);
    EXPECT_EQ(CWE::characterCount("a\n\rb"), 4);
    EXPECT_EQ(CWE::characterCount("\r\n\r\n"), 2);
}

TEST(CharacterCount, CombiningSequencesCountOnce) {
    EXPECT_EQ(CWE::characterCount("e\xCC\x81"), 1);                          // e + combining acute
    EXPECT_EQ(CWE::characterCount("e\xCC\x81\xCC\xA3x"), 2);                  // two marks on one base
    EXPECT_EQ(CWE::characterCount("\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB"), 1); // conjoining jamo
    EXPECT_EQ(CWE::characterCount("caf\xC3\xA9"), 4);                         // precomposed é
    EXPECT_EQ(CWE::characterCount(repeat("o\xCC\x88", 10)), 10);
}

TEST(CharacterCount, EmojiSequencesCountOnce) {
    EXPECT_EQ(CWE::characterCount("\xF0\x9F\x98\x80"), 1);                    // 😀
    EXPECT_EQ(CWE::characterCount("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"), 1);    // 👍 + skin tone
    EXPECT_EQ(CWE::characterCount("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"), 1);    // 🇩🇪
    EXPECT_EQ(CWE::characterCount("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"), 2);
    EXPECT_EQ(CWE::characterCount("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"),
              1);                                                            // family, joined
    EXPECT_EQ(CWE::characterCount("\xE2\x9D\xA4\xEF\xB8\x8F ok"), 4);          // ❤️ + " ok"
}

TEST(CharacterCount, EllipsisOfACutTextIsOneMoreCharacter) {
    EXPECT_EQ(CWE::characterCount("abc\xE2\x80\xA6"), 4);
    EXPECT_EQ(CWE::characterCount("\r\xE2\x80\xA6"), 2);
    EXPECT_EQ(CWE::characterCount("e\xCC\x81\xE2\x80\xA6"), 2);
    EXPECT_EQ(CWE::characterCount("\xE2\x80\xA6\xE2\x80\xA6"), 2);
}

// ---- initial widths ----

TEST(InitialWidths, TableWithoutColumnsHasNoWidths) {
    EXPECT_TRUE(CWE::widths(CSVTable()).empty());
}

TEST(InitialWidths, HeaderOnlyTableIsSizedByItsTitles) {
    const CSVTable t({{"ab", "A title of 23 chars....", "\xF0\x9F\x98\x80"}}, withHeader(true));
    const auto w = CWE::widths(t);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_DOUBLE_EQ(w[0], 60);                  // (2 + 2) * 7.2 + 20 = 48.8, raised
    EXPECT_DOUBLE_EQ(w[1], 25 * 7.2 + 20);
    EXPECT_DOUBLE_EQ(w[2], 60);
}

TEST(InitialWidths, ShortTextsUnderALongTitle) {
    StringRows rows{{"Ten chars!"}, {"abc"}, {"de"}, {"f"}};
    EXPECT_DOUBLE_EQ(CWE::widths(CSVTable(rows, withHeader(true)))[0], 106.4);
}

TEST(InitialWidths, LongestTextWinsOverTheTitle) {
    StringRows rows{{"id"}, {"abc"}, {repeat("w", 30)}, {"f"}};
    EXPECT_DOUBLE_EQ(CWE::widths(CSVTable(rows, withHeader(true)))[0], 30 * 7.2 + 20);
}

TEST(InitialWidths, WithoutHeaderTheLetterTitleAndRowZeroCount) {
    // Titles A, B: 1 + 2 characters; row 0 is data and is sampled.
    const CSVTable t({{repeat("q", 12), "z"}, {"a", "b"}}, withHeader(false));
    const auto w = CWE::widths(t);
    EXPECT_DOUBLE_EQ(w[0], 12 * 7.2 + 20);
    EXPECT_DOUBLE_EQ(w[1], 60);
}

TEST(InitialWidths, VeryLongTextIsCappedAtTheDefaultMaximum) {
    const CSVTable t = sourceTable("h\n" + repeat("y", 1000) + "\n", true);
    EXPECT_DOUBLE_EQ(CWE::widths(t)[0], 400);
    const CSVTable s(StringRows{{"h"}, {repeat("y", 1000)}}, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::widths(s)[0], 400);
}

TEST(InitialWidths, CombiningTextsCountPerCharacter) {
    // 20 decomposed characters are 60 bytes: counted as 20, not 60 or 40.
    const std::string text = repeat("a\xCC\x8A", 20);
    const CSVTable t = sourceTable("h\n" + text + "\n", true);
    EXPECT_DOUBLE_EQ(CWE::widths(t)[0], 20 * 7.2 + 20);
    const CSVTable emoji = sourceTable("h\n" + repeat("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 9) + "\n", true);
    EXPECT_DOUBLE_EQ(CWE::widths(emoji)[0], 9 * 7.2 + 20);
}

TEST(InitialWidths, OnlyTheSampleRowsAreRead) {
    // Stored rows 0 ..< 1000 are sampled: the header and data rows 1 ... 999.
    StringRows rows = column("h", 4999);
    rows[999] = {repeat("m", 30)};
    EXPECT_DOUBLE_EQ(CWE::widths(CSVTable(rows, withHeader(true)))[0], 30 * 7.2 + 20);

    rows[999] = {"x"};
    rows[1000] = {repeat("m", 30)};
    rows[3000] = {repeat("m", 40)};
    EXPECT_DOUBLE_EQ(CWE::widths(CSVTable(rows, withHeader(true)))[0], 60);
}

TEST(InitialWidths, SampleLimitIsAParameter) {
    StringRows rows = column("h", 20);
    rows[10] = {repeat("m", 30)};
    const CSVTable t(rows, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::widths(t, 10)[0], 60);
    EXPECT_DOUBLE_EQ(CWE::widths(t, 11)[0], 30 * 7.2 + 20);
    EXPECT_DOUBLE_EQ(CWE::widths(t, 0)[0], 60);
}

TEST(InitialWidths, RowsShorterThanTheWidestAreEmptyCells) {
    const CSVTable t = sourceTable("a,b,c\n1\n1,2,333333333\n", true);
    const auto w = CWE::widths(t);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_DOUBLE_EQ(w[2], 9 * 7.2 + 20);
}

// ---- fitting one column ----

TEST(FittingWidth, LongTextIsCutToTheFittingLimit) {
    const CSVTable t = sourceTable("h\n" + repeat("y", 1000) + "\n", true);
    // 200 bytes and the ellipsis.
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0), 201 * 7.2 + 20);
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0, {1, 2}), 1467.2);
}

TEST(FittingWidth, LongTitleIsCappedAtTheColumnMaximum) {
    const CSVTable t({{repeat("T", 300)}, {"x"}}, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0), 2000);
}

TEST(FittingWidth, NoRowsMeansTheTitleAlone) {
    const CSVTable t({{"Ten chars!"}}, withHeader(true));
    EXPECT_EQ(CWE::fittingRows(t), (IndexRange{1, 1}));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0), 106.4);
}

TEST(FittingWidth, SeesRowsBeyondTheInitialSample) {
    StringRows rows = column("h", 4999);
    rows[1500] = {repeat("m", 30)};
    const CSVTable t(rows, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::widths(t)[0], 60);
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0), 30 * 7.2 + 20);
}

TEST(FittingWidth, ReadsTheFirstTwoThousandDataRowsOnly) {
    StringRows rows = column("h", 4999);
    const CSVTable base(rows, withHeader(true));
    EXPECT_EQ(CWE::fittingRows(base), (IndexRange{1, 2001}));

    rows[2000] = {repeat("m", 30)}; // the 2000th data row: read
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(CSVTable(rows, withHeader(true)), 0), 30 * 7.2 + 20);
    rows[2000] = {"x"};
    rows[2001] = {repeat("m", 30)}; // one past: not read
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(CSVTable(rows, withHeader(true)), 0), 60);
    // Even when asked for more.
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(CSVTable(rows, withHeader(true)), 0, {1, 5000}), 60);
}

TEST(FittingWidth, RowsOutsideTheTableAreIgnored) {
    const CSVTable t({{"h"}, {repeat("z", 20)}}, withHeader(true));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0, {0, 100}), 20 * 7.2 + 20);
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 0, {5, 10}), 60);
}

TEST(FittingWidth, ColumnWithoutHeaderUsesItsLetters) {
    StringRows rows(3, StringRow(28, "a"));
    const CSVTable t(rows, withHeader(false));
    EXPECT_EQ(CWE::fittingRows(t), (IndexRange{0, 3}));
    EXPECT_DOUBLE_EQ(CWE::fittingWidth(t, 27), 60); // "AB" + 2
}

} // namespace
} // namespace zarvel
