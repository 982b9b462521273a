#include "core/TableSearch.h"

#include "core/TableEdit.h"
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

using namespace zarvel;
using TableSearch::find;
using TableSearch::matches;
using TableSearch::replacing;

namespace {

using Matches = std::vector<CellPosition>;

CSVTable table(std::string_view text, CSVDialect dialect = CSVDialect::comma()) {
    return test::indexedTable(text, dialect);
}

// Every cell decoded and tested with the matching rule: what find() must return.
Matches bruteForce(std::string_view query, const CSVTable& t, bool caseSensitive) {
    Matches out;
    if (query.empty()) return out;
    for (int64_t r = 0; r < t.rowCount(); ++r)
        for (int64_t c = 0; c < t.columnCount(); ++c)
            if (matches(t.value(r, c), query, caseSensitive)) out.push_back({r, c});
    return out;
}

constexpr CSVDialect backslashDialect{Byte::comma, Byte::doubleQuote, CSVDialect::Escape::backslash};

} // namespace

// --- The matching rule ----------------------------------------------------------------

TEST(TableSearchMatching, IgnoringCaseFindsEveryMixOfCase) {
    for (const char* text : {"AB", "aB", "xAbx", "ab"})
        EXPECT_TRUE(matches(text, "ab", false)) << text;
    EXPECT_FALSE(matches("a b", "ab", false));
    EXPECT_TRUE(matches("ab", "ab", true));
    EXPECT_FALSE(matches("AB", "ab", true));
    EXPECT_FALSE(matches("xAbx", "ab", true));
}

TEST(TableSearchMatching, CaseFoldingIsUnicodeAware) {
    EXPECT_TRUE(matches("ÄRGER", "ärger", false));
    EXPECT_TRUE(matches("ΣΟΦΟΣ", "σοφοσ", false));
    EXPECT_TRUE(matches("ΣΟΦΟΣ", "σοφος", false));  // final sigma folds like sigma
    EXPECT_TRUE(matches("5 \u212A", "5 k", false)); // KELVIN SIGN
    EXPECT_TRUE(matches("\u017Fun", "SUN", false)); // LONG S
    EXPECT_FALSE(matches("ÄRGER", "ärger", true));
}

TEST(TableSearchMatching, QueryIsTakenAsTyped) {
    EXPECT_FALSE(matches("ab", " ab", false));  // no trimming
    EXPECT_TRUE(matches("1+1=2", "1+1", true)); // no pattern syntax
    EXPECT_TRUE(matches("a.*b", ".*", false));
    EXPECT_FALSE(matches("anything", "", false)); // an empty query matches nothing
}

// --- Replacing ------------------------------------------------------------------------

TEST(TableSearchReplacing, LeftToRightWithoutOverlap) {
    EXPECT_EQ(replacing("a", "b", "Banana", false), "Bbnbnb");
    EXPECT_EQ(replacing("a", "", "Banana", false), "Bnn");
    EXPECT_EQ(replacing("aa", "x", "aaa", true), "xa");
    EXPECT_EQ(replacing("A", "b", "Banana", true), "Banana");
    EXPECT_EQ(replacing("", "x", "abc", false), "abc");
}

TEST(TableSearchReplacing, ReplacesTheOriginalCharactersWhenFoldingChangesTheirLength) {
    // KELVIN SIGN is three bytes and folds to one; U+023A is two bytes and folds to three.
    EXPECT_EQ(replacing("k", "m", "x\u212Ay K", false), "xmy m");
    EXPECT_EQ(replacing("\u2C65", "-", "a\u023Ab\u2C65", false), "a-b-");
    EXPECT_EQ(replacing("ÉT", "et", "été ÉTÉ", false), "eté etÉ");
}

TEST(TableSearchReplacing, AgreesWithMatches) {
    for (const char* text : {"Straße", "ÅNGSTRÖM", "mixed Case CASE case", "\u212A\u212A"}) {
        for (const char* query : {"case", "ström", "k", "SS"}) {
            const bool found = matches(text, query, false);
            EXPECT_EQ(replacing(query, "\x01", text, false) != text, found) << text << " / " << query;
        }
    }
}

// --- Finding cells --------------------------------------------------------------------

TEST(TableSearchFind, EmptyQueryOrEmptyTableFindsNothing) {
    EXPECT_TRUE(find("", table("a\n"), false).empty());
    EXPECT_TRUE(find("a", CSVTable(), false).empty());
}

TEST(TableSearchFind, HeaderRowIsSearchedLikeAnyRow) {
    CSVTable t = test::indexedTable("Name,Age\nann,3\n", CSVDialect::comma(), true);
    EXPECT_EQ(find("name", t, false), (Matches{{0, 0}}));
}

TEST(TableSearchFind, NeedleEndingAtTheLastByteOfARow) {
    CSVTable t = table("x,yab\nab\n");
    EXPECT_EQ(find("ab", t, true), (Matches{{0, 1}, {1, 0}}));
}

TEST(TableSearchFind, QuotesAndEscapesAreSearchedInDecodedText) {
    CSVTable t = table("\"say \"\"hi\"\"\",\"a,b\"\n");
    EXPECT_EQ(find("\"hi\"", t, true), (Matches{{0, 0}}));
    EXPECT_EQ(find("a,b", t, true), (Matches{{0, 1}}));
    EXPECT_TRUE(find("\"a", t, true).empty());
}

TEST(TableSearchFind, BackslashEscapedFieldIsFoundByTextTheRawBytesLack) {
    // «"a\bc"» reads as abc: the raw bytes hold no «ab».
    CSVTable t = table("\"a\\bc\",x\n", backslashDialect);
    ASSERT_EQ(t.value(0, 0), "abc");
    EXPECT_EQ(find("ab", t, true), (Matches{{0, 0}}));
    EXPECT_EQ(find("AB", t, false), (Matches{{0, 0}}));
}

TEST(TableSearchFind, LoneQuoteDroppedFromAQuotedFieldIsFound) {
    // «"a"b"» has text after its closing quote but starts and ends with a quote, so it reads
    // as «ab»: the quote the raw bytes hold between a and b is not in the text.
    CSVTable t = table("\"a\"b\",z\n");
    ASSERT_EQ(t.value(0, 0), "ab");
    EXPECT_EQ(find("ab", t, true), (Matches{{0, 0}}));
    EXPECT_EQ(find("AB", t, false), (Matches{{0, 0}}));
}

TEST(TableSearchFind, NonASCIICharactersThatFoldToASCIIPassThePrefilter) {
    CSVTable t = table("plain,row\n\u212Aelvin,\u017Fix\n");
    EXPECT_EQ(find("kelvin", t, false), (Matches{{1, 0}}));
    EXPECT_EQ(find("SIX", t, false), (Matches{{1, 1}}));
    EXPECT_TRUE(find("kelvin", t, true).empty());
    // A lone quote dropped from between the bytes of a KELVIN SIGN.
    CSVTable split = table("\"x\xE2\"\x84\xAAy\",z\n");
    ASSERT_EQ(split.value(0, 0), "x\u212Ay");
    EXPECT_EQ(find("XKY", split, false), (Matches{{0, 0}}));
}

TEST(TableSearchFind, EditedCellsAreSearchedInTheirEditedText) {
    CSVTable t = table("alpha,beta\ngamma,delta\n");
    t.apply(TableEdit::setCells({{0, 0, "omega"}}));
    EXPECT_TRUE(find("alpha", t, false).empty());
    EXPECT_EQ(find("mega", t, false), (Matches{{0, 0}}));
    // A column without a source field is empty in rows that still refer to the source.
    t.apply(TableEdit::insertColumns(ColumnBlock::empty(1, 0)));
    t.apply(TableEdit::setCells({{0, 0, "eta"}}));
    EXPECT_EQ(find("eta", t, false), (Matches{{0, 0}, {0, 2}}));
}

TEST(TableSearchFind, MatchesComeBackInRowThenColumnOrderAcrossWorkers) {
    std::string text;
    for (int r = 0; r < 9000; ++r)
        text += r % 7 == 0 ? "hit,x,hit\n" : "no,x,no\n";
    CSVTable t = table(text);
    const Matches expected = bruteForce("hit", t, true);
    ASSERT_EQ(expected.size(), 2u * 1286);
    for (int workers : {1, 2, 3, 8})
        EXPECT_EQ(find("hit", t, true, {}, workers), expected) << workers;
}

// Random sources in several dialects, full of quotes, escapes, line breaks and
// non-ASCII letters, plus edited rows and moved columns: the prefilter and the number
// of workers never change the result.
TEST(TableSearchFind, SameResultWithOrWithoutPrefilterAndForAnyWorkerCount) {
    const std::vector<std::string> pieces{
        "ab",     "AB",     "aB", "x", ",",    ";", "\"",   "'",    "\\",   "\n",       "\r\n", "é",   "É",
        "\u212A", "\u017F", "s",  "k", "日本", " ", "\"\"", "\xFF", "\xC3", "\xE2\x84", "\xAA", "\xC5"};
    const std::vector<CSVDialect> dialects{CSVDialect::comma(),
                                           backslashDialect,
                                           {Byte::semicolon, Byte::singleQuote, CSVDialect::Escape::doubled},
                                           {Byte::comma, std::nullopt, CSVDialect::Escape::doubled}};
    const std::vector<std::string> queries{
        "ab", "AB",  "k",    "S",    "x,",  "\"",     "'",        "\\",      "é",    "É",      "日",
        "\n", "b\"", "a\\b", "xéab", "Éab", "ab日本", "\u212Aab", "s\u017F", "\xFF", "ab\xC3", "\uFFFD"};
    std::mt19937 rng(11);
    for (const CSVDialect& dialect : dialects) {
        std::string text;
        while (text.size() < 60000)
            text += pieces[rng() % pieces.size()];
        CSVTable t = table(text, dialect);
        t.apply(TableEdit::setCells({{3, 0, "edited AB"}, {2000, 1, "ſ \"q\""}}));
        t.apply(TableEdit::insertColumns(ColumnBlock::empty(1, 1)));
        t.apply(TableEdit::reorderColumns(Permutation::moving({0}, t.columnCount(), t.columnCount())));
        t.apply(TableEdit::removeRows({5, 6, 7}));
        t.apply(
            TableEdit::reorderRows(Permutation::moving(IndexSet(IndexRange{100, 1500}), 40, t.rowCount())));
        t.apply(TableEdit::reorderRows(Permutation::moving({900, 1200, 1201, 3000}, 2, t.rowCount())));
        ASSERT_GT(t.rowCount(), 2048);
        for (const std::string& query : queries) {
            for (bool caseSensitive : {true, false}) {
                const Matches expected = bruteForce(query, t, caseSensitive);
                for (int workers : {1, 3}) {
                    for (bool prefilter : {true, false}) {
                        ASSERT_EQ(find(query, t, caseSensitive, {}, workers, prefilter), expected)
                            << "query «" << query << "» case " << caseSensitive << " workers " << workers
                            << " prefilter " << prefilter << " quote " << int(dialect.quote.value_or(0));
                    }
                }
            }
        }
    }
}

// --- Cancellation ---------------------------------------------------------------------

TEST(TableSearchCancel, StopRequestedBeforehandReturnsAtOnce) {
    std::string text;
    for (int r = 0; r < 20000; ++r)
        text += "needle\n";
    CSVTable t = table(text);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(find("needle", t, false, stop.get_token()).empty());
}

TEST(TableSearchCancel, PartialResultIsASortedSubsetOfTheFullOne) {
    std::string text;
    for (int r = 0; r < 200000; ++r)
        text += r % 3 ? "needle,hay\n" : "hay,needle\n";
    CSVTable t = table(text);
    const Matches full = find("needle", t, false);
    std::stop_source stop;
    std::jthread canceller([&] { stop.request_stop(); });
    const Matches partial = find("needle", t, false, stop.get_token(), 4);
    EXPECT_TRUE(std::is_sorted(partial.begin(), partial.end()));
    EXPECT_TRUE(std::includes(full.begin(), full.end(), partial.begin(), partial.end()));
}
