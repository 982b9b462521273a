// Saving never changes a cell the user did not change. Random malformed files go through
// the checks the fuzz targets run (fuzz/FuzzChecks.h), driven by a seeded generator so
// every run is the same; beside them, each way a save once lost or changed data.
#include "fuzz/FuzzChecks.h"

#include "CoreTestSupport.h"
#include "core/CSVError.h"
#include "core/TableEdit.h"
#include "core/TableSorter.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace zarvel;
using test::readText;

namespace {

// A small file full of what makes reading depend on context: stray and unclosed quotes,
// text after closing quotes, backslashes at row ends, sep= lines naming any byte, every
// line ending, ill-formed UTF-8 and NUL bytes.
std::string malformedFile(std::mt19937& rng) {
    static const std::string pieces[] = {
        "a",   "bc",       "\"q\"", "\"", "\"x,y\"",    "\"ab\"cd", "\\",       "\"\"", " ",
        "1.5", "\xC3\xA9", "\xFF",  "'",  "\"a\"\"b\"", "z\"",      "\"m\nl\"", "\\\"", std::string(1, '\0')};
    static const char delimiters[] = {',', ';', '\t', '|'};
    static const std::string endings[] = {"\n", "\r\n", "\r"};
    auto below = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    const char d = delimiters[below(4)];
    std::string s;
    if (below(6) == 0) s += "\xEF\xBB\xBF";
    if (below(4) == 0)
        s += std::string("sep=") + static_cast<char>(below(3) == 0 ? 0x20 + below(0x5F) : d) +
             endings[below(3)];
    const size_t rows = below(7);
    for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0, cols = 1 + below(4); c < cols; ++c) {
            if (c) s += d;
            for (size_t k = below(3); k > 0; --k)
                s += pieces[below(std::size(pieces))];
        }
        if (r + 1 < rows || below(2)) s += endings[below(3)];
    }
    return s;
}

std::string randomChoices(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

template <typename Check> void expectHolds(const std::string& what, Check&& check) {
    try {
        check();
    } catch (const fuzz::CheckFailure& failure) {
        FAIL() << what << ": " << failure.what();
    }
}

ReadOptions forcedComma(bool header = false) {
    ReadOptions o;
    o.dialect = CSVDialect::comma();
    o.hasHeader = header;
    return o;
}

} // namespace

TEST(RewriteInvariant, RandomMalformedFilesReadBackAfterEditsSortsAndOtherFormats) {
    std::mt19937 rng(20261207);
    for (int i = 0; i < 1500; ++i) {
        const std::string file = malformedFile(rng);
        const std::string tail = randomChoices(rng, 24);
        const std::string steered = file + tail;
        const std::string what = "file " + std::to_string(i) + " «" + fuzz::escaped(file) + "»";
        expectHolds(what, [&] {
            fuzz::checkWrite(reinterpret_cast<const uint8_t*>(steered.data()), steered.size());
        });
        const std::optional<ReadResult> read = fuzz::tryRead(file, {});
        if (!read) continue;
        const std::string choices = randomChoices(rng, 160);
        fuzz::ByteSource in(reinterpret_cast<const uint8_t*>(choices.data()), choices.size());
        expectHolds(what, [&] { fuzz::checkEditSequence(read->table, in); });
        if (HasFailure()) return;
    }
}

// Each case: a file, what is done to it, and the cells it must read back as.
TEST(RewriteInvariant, RowsThatOnceChangedOnSaving) {
    struct Case {
        const char* what;
        std::string file;
        std::function<void(CSVTable&)> change;
        StringRows expected;
    };
    auto sortBy = [](int64_t column) {
        return [column](CSVTable& t) {
            t.apply(TableEdit::reorderRows(TableSorter::permutation(t, column, true, ColumnKind::text)));
        };
    };
    const std::vector<Case> cases{
        {"a stray quote sorted above a quoted cell merged the two rows",
         "k,v\nb,\"q\"\n\"a,1\n",
         sortBy(0),
         {{"\"a", "1"}, {"b", "q"}, {"k", "v"}}},
        {"an edit below a stray quote merged rows",
         "\"a,1\nb,c\nd,e\n",
         [](CSVTable& t) {
             t.apply(TableEdit::setCells({{2, 1, "x\"y"}}));
         },
         {{"\"a", "1"}, {"b", "c"}, {"d", "x\"y"}}},
        {"deleting the last row of a, empty, b lost the empty row",
         "a\n\nb",
         [](CSVTable& t) { t.apply(TableEdit::removeRows(IndexSet{2})); },
         {{"a"}, {""}}},
        {"a second row starting with U+FEFF moved first read back as a byte order mark",
         "x\n\xEF\xBB\xBFy\n",
         [](CSVTable& t) {
             t.apply(TableEdit::reorderRows(Permutation{{1, 0}}));
         },
         {{"\xEF\xBB\xBFy"}, {"x"}}},
        {"removing the last column brought it back in unchanged rows",
         "a,b,c\n1,2,3\n4,5\n",
         [](CSVTable& t) { t.apply(TableEdit::removeColumns(IndexSet{2})); },
         {{"a", "b"}, {"1", "2"}, {"4", "5"}}},
        {"moving a column wrote unchanged rows with the wrong fields",
         "a,b,c\n1,\"2,x\",3\n",
         [](CSVTable& t) {
             t.apply(TableEdit::reorderColumns(Permutation{{2, 0, 1}}));
         },
         {{"c", "a", "b"}, {"3", "1", "2,x"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadResult r = readText(c.file, forcedComma());
        c.change(r.table);
        const std::string bytes = CSVWriter::write(r.table, r.table.format());
        SCOPED_TRACE(fuzz::escaped(bytes));
        EXPECT_EQ(readText(bytes, forcedComma()).table.allRows(), c.expected);
    }
}

TEST(RewriteInvariant, RowsWithAnUnclosedQuoteKeepTheirBytesOnlyWhileWhatFollowsThemDoes) {
    // Unedited, in order: byte for byte, the unclosed quote too.
    const std::string file = "k,v\r\nb,\"q\"\r\n\"a,1\r\n";
    EXPECT_EQ(test::roundTrip(file), file);
    ReadResult r = readText(file);
    // An edit above the row leaves what follows it alone: its bytes stay.
    r.table.apply(TableEdit::setCells({{1, 0, "B"}}));
    EXPECT_EQ(CSVWriter::write(r.table, r.table.format()), "k,v\r\nB,q\r\n\"a,1\r\n");
    // Below a row that moved after it, it is written afresh.
    r.table.apply(TableEdit::reorderRows(Permutation{{0, 2, 1}}));
    EXPECT_EQ(CSVWriter::write(r.table, r.table.format()), "k,v\r\n\"\"\"a\",1\r\nB,q\r\n");
    // An empty last row left without its ending becomes two quotes, which would close it.
    ReadResult empty = readText("k\n\"a\n\n", forcedComma());
    FileFormat noEnding = empty.table.format();
    noEnding.hasTrailingNewline = false;
    EXPECT_EQ(readText(CSVWriter::write(empty.table, noEnding), forcedComma()).table.allRows(),
              empty.table.allRows());
}

TEST(RewriteInvariant, SepLinesNamingTheQuoteOrALineBreakAreData) {
    for (std::string file :
         {"sEp=\"\na,b\n1,2\n", "sep=\n\na,b\n", "sep=\r\na,b\r\n", "sep=\"\r\n\"x,y\",z\r\n"}) {
        SCOPED_TRACE(fuzz::escaped(file));
        ReadResult r = readText(file);
        EXPECT_FALSE(r.report.format.hasSepLine);
        EXPECT_NE(r.report.format.dialect.quote, r.report.format.dialect.delimiter);
        EXPECT_EQ(CSVWriter::write(r.table, r.report.format), file) << "written back as read";
        // Clearing a cell and saving keeps every other cell.
        r.table.apply(TableEdit::setCells({{r.table.rowCount() - 1, 0, ""}}));
        ReadOptions same;
        same.dialect = r.table.format().dialect;
        same.hasHeader = r.table.format().hasHeader;
        EXPECT_EQ(readText(CSVWriter::write(r.table, r.table.format()), same).table.allRows(),
                  r.table.allRows());
    }
    // A forced dialect decides by its own quote.
    EXPECT_TRUE(
        readText(
            "sep=\"\na\"b\n",
            [] {
                ReadOptions o;
                o.dialect = CSVDialect{Byte::doubleQuote, Byte::singleQuote, CSVDialect::Escape::doubled};
                return o;
            }())
            .report.format.hasSepLine);
}

TEST(RewriteInvariant, CellsAFormatCannotSpellAreRefusedByName) {
    using Reason = CSVError::Unrepresentable::Reason;
    const FileFormat noQuote = [] {
        FileFormat f;
        f.dialect.quote = std::nullopt;
        f.hasHeader = false;
        return f;
    }();
    struct Case {
        StringRows rows;
        FileFormat format;
        Reason reason;
        CellPosition cell;
    };
    FileFormat noQuoteNoEnding = noQuote;
    noQuoteNoEnding.hasTrailingNewline = false;
    FileFormat backslashQuote = noQuote;
    backslashQuote.dialect = {Byte::comma, Byte::backslash, CSVDialect::Escape::backslash};
    const std::vector<Case> cases{
        {{{"a", "b"}, {"c", "d,e"}}, noQuote, Reason::needsQuote, {1, 1}},
        {{{"a"}, {"two\nlines"}}, noQuote, Reason::needsQuote, {1, 0}},
        {{{"sep=;"}, {"x"}}, noQuote, Reason::needsQuote, {0, 0}},
        {{{"a"}, {""}}, noQuoteNoEnding, Reason::needsQuote, {1, 0}},
        {{{"a", "b\\c"}}, backslashQuote, Reason::noEscape, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fuzz::describe(c.rows));
        try {
            (void)CSVWriter::write(CSVTable(c.rows, c.format), c.format);
            ADD_FAILURE() << "written";
        } catch (const CSVError& e) {
            const auto* refused = std::get_if<CSVError::Unrepresentable>(&e.value);
            ASSERT_NE(refused, nullptr);
            EXPECT_EQ(refused->reason, c.reason);
            EXPECT_EQ(refused->cell, c.cell);
        }
    }
    // Cells that need no quote are written as they are.
    EXPECT_EQ(CSVWriter::write(CSVTable(StringRows{{"a \"b\"", "c"}}, noQuote), noQuote), "a \"b\",c\n");
}

TEST(RewriteInvariant, TextProblemsAreReportedByRow) {
    using Kind = ReadWarning::Kind;
    ReadOptions utf8;
    utf8.encoding = TextEncoding::utf8;
    struct Case {
        std::string file;
        ReadOptions options;
        std::vector<ReadWarning> warnings;
    };
    const std::vector<Case> cases{
        {"\xEF\xBB\xBF"
         "a,b\nc,\xFF\ne,f\n\xC3,g\n",
         {},
         {{Kind::invalidUTF8, 1}, {Kind::invalidUTF8, 3}}},
        {"a,b\nc,\xE9\n", utf8, {{Kind::invalidUTF8, 1}}},
        // A stray NUL or two leave a file text; each row holding one is named.
        {std::string("a,b,c\n\0,2,3\n4,5\0,6\n", 19), {}, {{Kind::nulByte, 1}, {Kind::nulByte, 2}}},
        {std::string("sep=;\na;\0\n", 10), {}, {{Kind::nulByte, 0}}},
        {"a,\"b\nc,d\n", {}, {{Kind::unclosedQuote, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fuzz::escaped(c.file));
        const ReadResult r = readText(c.file, c.options);
        EXPECT_EQ(r.report.warnings, c.warnings);
        EXPECT_EQ(CSVWriter::write(r.table, r.report.format), c.file) << "unedited rows keep their bytes";
    }
    // Mostly binary stays refused.
    std::string binary = "a,b\n";
    for (int i = 0; i < 300; ++i)
        binary += std::string("\x01\0\0\x02", 4);
    EXPECT_THROW((void)readText(binary), CSVError);
}
