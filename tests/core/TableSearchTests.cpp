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

// --- The matching rule and replacing --------------------------------------------------

// replacing() changes a text exactly when matches() finds the query in it.
TEST(TableSearchMatching, CaseFoldingAndQueriesTakenAsTyped) {
    const struct {
        const char* text;
        const char* query;
        bool caseSensitive, found;
    } cases[] = {
        {"AB", "ab", false, true},          {"aB", "ab", false, true},        {"xAbx", "ab", false, true},
        {"a b", "ab", false, false},        {"ab", "ab", true, true},         {"AB", "ab", true, false},
        {"xAbx", "ab", true, false},        {"ÄRGER", "ärger", false, true},  {"ÄRGER", "ärger", true, false},
        {"ΣΟΦΟΣ", "σοφοσ", false, true},    {"ΣΟΦΟΣ", "σοφος", false, true},  // final sigma folds like sigma
        {"ÅNGSTRÖM", "ström", false, true}, {"Straße", "SS", false, false},   // simple folding only
        {"5 \u212A", "5 k", false, true},                                     // KELVIN SIGN
        {"\u212A\u212A", "k", false, true}, {"\u017Fun", "SUN", false, true}, // LONG S
        {"ab", " ab", false, false},                                          // no trimming
        {"1+1=2", "1+1", true, true},       {"a.*b", ".*", false, true},      // no pattern syntax
        {"anything", "", false, false}, // an empty query matches nothing
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matches(c.text, c.query, c.caseSensitive), c.found)
            << c.text << " / " << c.query << " case " << c.caseSensitive;
        EXPECT_EQ(replacing(c.query, "\x01", c.text, c.caseSensitive) != c.text, c.found)
            << c.text << " / " << c.query;
    }
}

TEST(TableSearchReplacing, LeftToRightWithoutOverlapOnTheOriginalCharacters) {
    const struct {
        const char *query, *replacement, *text;
        bool caseSensitive;
        const char* expected;
    } cases[] = {
        {"a", "b", "Banana", false, "Bbnbnb"},
        {"a", "", "Banana", false, "Bnn"},
        {"aa", "x", "aaa", true, "xa"},
        {"A", "b", "Banana", true, "Banana"},
        {"", "x", "abc", false, "abc"},
        // KELVIN SIGN is three bytes and folds to one; U+023A is two bytes and folds to three.
        {"k", "m", "x\u212Ay K", false, "xmy m"},
        {"\u2C65", "-", "a\u023Ab\u2C65", false, "a-b-"},
        {"ÉT", "et", "été ÉTÉ", false, "eté etÉ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(replacing(c.query, c.replacement, c.text, c.caseSensitive), c.expected) << c.text;
}

// --- Finding cells --------------------------------------------------------------------

// Cells whose decoded text holds the query although their raw bytes do not, or the other
// way round: the prefilter must neither drop nor invent them.
TEST(TableSearchFind, DecodedTextDecidesWithOrWithoutPrefilter) {
    const struct {
        const char* name;
        std::string text;
        const char* query;
        bool caseSensitive;
        Matches expected;
        CSVDialect dialect = CSVDialect::comma();
        bool header = false;
    } cases[] = {
        {"empty query", "a\n", "", false, {}},
        {"header row", "Name,Age\nann,3\n", "name", false, {{0, 0}}, CSVDialect::comma(), true},
        {"needle ending a row", "x,yab\nab\n", "ab", true, {{0, 1}, {1, 0}}},
        {"doubled quotes", "\"say \"\"hi\"\"\",\"a,b\"\n", "\"hi\"", true, {{0, 0}}},
        {"quoted delimiter", "\"say \"\"hi\"\"\",\"a,b\"\n", "a,b", true, {{0, 1}}},
        {"opening quote", "\"say \"\"hi\"\"\",\"a,b\"\n", "\"a", true, {}},
        // «"a\bc"» reads as abc: the raw bytes hold no «ab».
        {"backslash escape", "\"a\\bc\",x\n", "ab", true, {{0, 0}}, backslashDialect},
        {"backslash escape, any case", "\"a\\bc\",x\n", "AB", false, {{0, 0}}, backslashDialect},
        // «"a"b"» starts and ends with a quote, so it reads as «ab» without the quote between.
        {"lone quote", "\"a\"b\",z\n", "ab", true, {{0, 0}}},
        {"lone quote, any case", "\"a\"b\",z\n", "AB", false, {{0, 0}}},
        {"lone quote after the rarest byte", "\"b\"a\",z\n", "ba", true, {{0, 0}}},
        // Non-ASCII characters that fold to ASCII.
        // The prefilter folds ASCII too.
        {"any case, ASCII", "zebra,Zulu\nx,\"aZ\"\n", "z", false, {{0, 0}, {0, 1}, {1, 1}}},
        {"KELVIN SIGN", "plain,row\n\u212Aelvin,\u017Fix\n", "kelvin", false, {{1, 0}}},
        {"LONG S", "plain,row\n\u212Aelvin,\u017Fix\n", "SIX", false, {{1, 1}}},
        {"KELVIN SIGN, exact case", "plain,row\n\u212Aelvin,\u017Fix\n", "kelvin", true, {}},
        // A lone quote dropped from between the bytes of a KELVIN SIGN.
        {"split KELVIN SIGN", "\"x\xE2\"\x84\xAAy\",z\n", "XKY", false, {{0, 0}}},
    };
    for (const auto& c : cases) {
        const CSVTable t = test::indexedTable(c.text, c.dialect, c.header);
        for (bool prefilter : {true, false})
            EXPECT_EQ(find(c.query, t, c.caseSensitive, {}, 1, prefilter), c.expected)
                << c.name << (prefilter ? "" : " without prefilter");
    }
    EXPECT_TRUE(find("a", CSVTable(), false).empty());
}

// Random sources in several dialects, full of quotes, escapes, line breaks and
// non-ASCII letters, plus edited rows, an inserted column without a source field and
// moved rows and columns: every cell is searched in the text it shows, and neither the
// prefilter nor the number of workers changes the result.
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
        for (const std::string& query : queries)
            for (bool caseSensitive : {true, false}) {
                const Matches expected = bruteForce(query, t, caseSensitive);
                for (int workers : {1, 3})
                    for (bool prefilter : {true, false})
                        ASSERT_EQ(find(query, t, caseSensitive, {}, workers, prefilter), expected)
                            << "query «" << query << "» case " << caseSensitive << " workers " << workers
                            << " prefilter " << prefilter << " quote " << int(dialect.quote.value_or(0));
            }
    }
}

// --- Workers and cancellation ---------------------------------------------------------

TEST(TableSearchWorkers, FullResultInRowThenColumnOrderAndASortedPartialOneWhenStopped) {
    std::string text;
    for (int r = 0; r < 200000; ++r)
        text += r % 3 ? "needle,hay,needle\n" : "hay,needle,hay\n";
    CSVTable t = table(text);
    const Matches full = bruteForce("needle", t, true);
    ASSERT_EQ(full.size(), 333333u);
    for (int workers : {1, 2, 3, 8})
        EXPECT_EQ(find("needle", t, true, {}, workers), full) << workers;

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_TRUE(find("needle", t, false, stopped.get_token()).empty()); // stopped beforehand: at once
    std::stop_source stop;
    std::jthread canceller([&] { stop.request_stop(); });
    const Matches partial = find("needle", t, false, stop.get_token(), 4);
    EXPECT_TRUE(std::is_sorted(partial.begin(), partial.end()));
    EXPECT_TRUE(std::includes(full.begin(), full.end(), partial.begin(), partial.end()));

    // Replace All's changes: in the order of the matches for any worker count, and none
    // at all once stopped.
    const TableSearch::CellRewrite rewrite = [](std::string_view v) {
        return replacing("needle", "pin", v, true);
    };
    std::vector<CellChange> expected;
    for (const CellPosition& m : full)
        if (m.row >= t.firstDataRow()) expected.push_back({m.row, m.column, "pin"});
    for (int workers : {1, 3})
        EXPECT_EQ(TableSearch::replacements(t, full, rewrite, {}, workers), expected) << workers;
    std::atomic<int64_t> looked{0};
    EXPECT_EQ(TableSearch::replacements(t, full, rewrite, stopped.get_token(), 2, &looked), std::nullopt);
    EXPECT_EQ(looked.load(), 0);
}

// --- Regular expressions ----------------------------------------------------------------

TEST(TableSearchRegex, MatchingReplacingAndErrors) {
    using TableSearch::Regex;
    const struct {
        const char *pattern, *text;
        bool caseSensitive, found;
        const char *replacement, *replaced;
    } cases[] = {
        {"-\\d{3}$", "ab-123", true, true, "[$0]", "ab[-123]"},
        {"-\\d{3}$", "ab-1234", true, false, "x", "ab-1234"},
        {"(\\w+)@(\\w+)", "me@host, you@there", true, true, "$2:$1", "host:me, there:you"},
        {"é+", "xÉÉy", false, true, "e", "xey"}, // case folding beyond ASCII
        {"é+", "xÉÉy", true, false, "e", "xÉÉy"},
        {"(?i)z.rich", "aZüRICH", true, true, "<$0>", "a<ZüRICH>"},
        {"ss", "Straße", false, true, "SS", "StraSSe"}, // full folding, unlike plain search
        {"k", "\u212A", false, true, "k", "k"},
        {"x*", "ab", true, true, "-", "-a-b-"}, // empty matches advance by a character
        {"a", "aaa", true, true, "\\$1\\\\$9$", "$1\\$9$$1\\$9$$1\\$9$"}, // escapes; a missing group stays
        {"(a)|(b)", "ab", true, true, "[$1$2]", "[a][b]"}, // a group that took no part is empty
    };
    for (const auto& c : cases) {
        const Regex regex(c.pattern, c.caseSensitive);
        ASSERT_TRUE(regex.isValid()) << c.pattern << ": " << regex.error();
        EXPECT_EQ(regex.matches(c.text), c.found) << c.pattern << " / " << c.text;
        EXPECT_EQ(regex.replacing(c.replacement, c.text), c.replaced) << c.pattern << " / " << c.text;
    }

    const struct {
        const char *pattern, *error;
    } invalid[] = {{"(abc", "Unbalanced parenthesis at character 5"},
                   {"ä[b", "Missing closing bracket at character 4"},
                   {"a{2,1}", "Maximum below minimum in {min,max} at character 7"}};
    for (const auto& c : invalid) {
        const Regex regex(c.pattern, false);
        EXPECT_FALSE(regex.isValid());
        EXPECT_EQ(regex.error(), c.error);
        EXPECT_FALSE(regex.matches("abc"));
        EXPECT_EQ(regex.replacing("x", "(abc"), "(abc");
        EXPECT_TRUE(find(regex, table("(abc,a\n")).empty());
    }
}

// The prefilter's literal is one that every match must contain, in the raw form of the
// text: never from alternatives, optional parts or groups, and ignoring case never where
// a character's folding could stand for it.
TEST(TableSearchRegex, RequiredLiteralOnlyWhenCertain) {
    const struct {
        const char* pattern;
        bool caseSensitive;
        const char* literal;
    } cases[] = {
        {"-\\d{3}$", true, "-"},       {"abc+de", true, "ab"},        {"ab?cdef", true, "cdef"},
        {"a|bcd", true, ""},           {"(x)abc", true, "abc"},       {"(abc)?x", true, "x"},
        {"[abc]xy\\.z", true, "xy.z"}, {"a(?=bcd)", true, ""},        {"\\Qabc\\E", true, ""},
        {"ab\\x{63}d", true, "ab"},    {"ABC", false, "abc"},         {"(?i)z.rich", true, "ric"},
        {"(?i)ab(?-i)cd", true, ""},   {"xssy", false, "x"},          {"maße", true, "ma"},
        {"Masse", false, "m"},         {"\\p{L}{2}abc", true, "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TableSearch::requiredLiteral(c.pattern, c.caseSensitive).first, c.literal) << c.pattern;
}

// Random tables and patterns: the prefilter never changes what a pattern finds.
TEST(TableSearchRegex, SameResultWithOrWithoutPrefilter) {
    const std::vector<std::string> pieces{"ab",     "AB", "x",      ",",      "\"",     "\\",     "\n", "é",
                                          "ß",      "ss", "ST",     "\uFB06", "\u212A", "\u017F", "k",  "h",
                                          "\u1E96", "fi", "\uFB01", " ",      "12",     "-"};
    // Heavy on letters that case folding joins (ß and ss, ﬆ and st, ẖ and h + U+0331).
    const std::vector<std::string> atoms{"s", "S",    "t",       "h",        "f",      "i",    "k",
                                         "a", "x",    "\\x{73}", "\\x{331}", "\\d",    ".",    "-",
                                         ",", "[ab]", "é",       "ß",        "(ab|s)", "\\\"", "\\\\"};
    const std::vector<std::string> suffixes{"", "", "", "", "", "?", "*", "+", "{2}"};
    std::mt19937 rng(5);
    for (const CSVDialect& dialect : {CSVDialect::comma(), backslashDialect}) {
        std::string text;
        while (text.size() < 12000)
            text += pieces[rng() % pieces.size()];
        CSVTable t = table(text, dialect);
        t.apply(TableEdit::setCells({{3, 0, "edited ssab"}}));
        t.apply(TableEdit::reorderRows(Permutation::moving({900, 1200}, 2, t.rowCount())));
        for (int i = 0; i < 250; ++i) {
            std::string pattern = rng() % 4 == 0 ? "(?i)" : "";
            for (size_t n = 1 + rng() % 5; n-- > 0;)
                pattern += atoms[rng() % atoms.size()] + suffixes[rng() % suffixes.size()];
            const bool caseSensitive = rng() % 3 == 0;
            const TableSearch::Regex regex(pattern, caseSensitive);
            ASSERT_TRUE(regex.isValid()) << pattern << ": " << regex.error();
            Matches expected;
            for (int64_t r = 0; r < t.rowCount(); ++r)
                for (int64_t c = 0; c < t.columnCount(); ++c)
                    if (regex.matches(t.value(r, c))) expected.push_back({r, c});
            for (bool prefilter : {true, false})
                ASSERT_EQ(find(regex, t, {}, 3, prefilter), expected)
                    << "pattern «" << pattern << "» case " << caseSensitive << " prefilter " << prefilter;
        }
    }
}
