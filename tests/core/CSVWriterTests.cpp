#include "CoreTestSupport.h"

#include "core/CSVError.h"
#include "core/TableEdit.h"

#include <gtest/gtest.h>

#include <random>

using namespace zarvel;
using zarvel::test::readText;
using zarvel::test::roundTrip;

namespace {

std::string field(std::string_view v, CSVDialect d, FileFormat::Quoting q = FileFormat::Quoting::minimal) {
    std::string out;
    CSVWriter::appendField(v, d, q, out);
    return out;
}

const CSVDialect backslash{Byte::comma, Byte::doubleQuote, CSVDialect::Escape::backslash};

FileFormat formatWith(CSVDialect d, bool trailing = true,
                      FileFormat::LineEnding e = FileFormat::LineEnding::lf) {
    FileFormat f;
    f.dialect = d;
    f.hasTrailingNewline = trailing;
    f.lineEnding = e;
    f.hasHeader = false;
    return f;
}

} // namespace

TEST(CSVWriter, FieldQuotingRules) {
    const auto comma = CSVDialect::comma();
    EXPECT_EQ(field("a,b", comma), "\"a,b\"");
    EXPECT_EQ(field("say \"hi\"", comma), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(field("say \"hi\"", backslash), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(field("a\\b", comma), "a\\b");
    EXPECT_EQ(field("a\\b", backslash), "\"a\\\\b\"");
    EXPECT_EQ(field("", comma), "");
    EXPECT_EQ(field("", comma, FileFormat::Quoting::all), "\"\"");
    EXPECT_EQ(field(" padded ", comma), " padded ");
    EXPECT_EQ(field("line\nbreak", comma), "\"line\nbreak\"");
    EXPECT_EQ(field("a,b", {Byte::comma, std::nullopt, CSVDialect::Escape::doubled}), "a,b");
}

TEST(CSVWriter, EmptyLastRowSurvives) {
    CSVTable t(StringRows{{"a"}, {""}}, formatWith(CSVDialect::comma(), false));
    EXPECT_EQ(CSVWriter::write(t, t.format()), "a\n\"\"");
    EXPECT_EQ(CSVWriter::write(t, formatWith(CSVDialect::comma(), true)), "a\n\n");
    ReadOptions forced;
    forced.dialect = CSVDialect::comma();
    EXPECT_EQ(readText("a\n\"\"", forced).table.rowCount(), 2);
}

TEST(CSVWriter, SepLineAndEmptyTables) {
    FileFormat f = formatWith(CSVDialect::semicolon(), true, FileFormat::LineEnding::crlf);
    f.hasSepLine = true;
    EXPECT_EQ(CSVWriter::write(CSVTable(StringRows{}, f), f), "sep=;\r\n");
    EXPECT_EQ(roundTrip("SEP=;\na;b\n"), "sep=;\na;b\n") << "written back in lower case";
}

TEST(CSVWriter, UnchangedFilesRoundTripByteForByte) {
    for (std::string s : {"a,b\r\n\"x,\"\"y\"\"\",  z \r\n", "sep=|\na|b\n",
                          "\xEF\xBB\xBF"
                          "id;v\n1;\"2\"\n",
                          "a\tb\n\"c\nd\"\te", "x,\"a\"b,\"open\n", "a,b,\n,\n\n"}) {
        EXPECT_EQ(roundTrip(s), s);
    }
}

TEST(CSVWriter, MixedLineEndingsAreNormalised) {
    ReadResult r = readText("a,b\r\nc,d\ne,f\ng,h\n");
    EXPECT_EQ(CSVWriter::write(r.table, r.report.format), "a,b\nc,d\ne,f\ng,h\n");
}

TEST(CSVWriter, ChangingTheDelimiterRequotes) {
    ReadResult r = readText("name,note\n\"Smith, J\",\"tab\there\"\n");
    FileFormat tsv = r.report.format;
    tsv.dialect = CSVDialect::tab();
    EXPECT_EQ(CSVWriter::write(r.table, tsv), "name\tnote\nSmith, J\t\"tab\there\"\n");
    FileFormat all = r.report.format;
    all.quoting = FileFormat::Quoting::all;
    EXPECT_EQ(CSVWriter::write(r.table, all), "\"name\",\"note\"\n\"Smith, J\",\"tab\there\"\n");
}

TEST(CSVWriter, EncodesAndFailsWhole) {
    CSVTable t(StringRows{{"\xC3\xA9"}}, formatWith(CSVDialect::comma()));
    FileFormat f = t.format();
    f.encoding = TextEncoding::windows1252;
    f.hasBOM = true;
    EXPECT_EQ(CSVWriter::write(t, f), "\xE9\n");
    CSVTable euro(StringRows{{"\xE2\x82\xAC"}}, formatWith(CSVDialect::comma()));
    f.encoding = TextEncoding::isoLatin1;
    EXPECT_THROW(CSVWriter::write(euro, f), CSVError);
}

TEST(CSVWriter, FirstCellsThatWouldReadBackAsSomethingElseAreQuoted) {
    CSVTable sep(StringRows{{"sep=;"}, {"x"}}, formatWith(CSVDialect::comma()));
    const std::string bytes = CSVWriter::write(sep, sep.format());
    EXPECT_EQ(bytes, "\"sep=;\"\nx\n");
    EXPECT_EQ(readText(bytes).table.value(0, 0), "sep=;");
    EXPECT_FALSE(readText(bytes).report.format.hasSepLine);

    CSVTable bom(StringRows{{"\xEF\xBB\xBFid", "v"}}, formatWith(CSVDialect::comma()));
    const std::string bomBytes = CSVWriter::write(bom, bom.format());
    EXPECT_EQ(readText(bomBytes).table.value(0, 0), "\xEF\xBB\xBFid");

    // A raw-copied source row that became the first row is checked too.
    ReadResult r = readText("x\nsep=;\n");
    r.table.apply(TableEdit::removeRows(IndexSet{0}));
    ReadOptions same;
    same.dialect = r.table.format().dialect;
    const ReadResult back = readText(CSVWriter::write(r.table, r.table.format()), same);
    EXPECT_FALSE(back.report.format.hasSepLine);
    EXPECT_EQ(back.table.allRows(), r.table.allRows());
    // With a sep= line of its own, the cell cannot be mistaken and stays unquoted.
    FileFormat withSep = formatWith(CSVDialect::comma());
    withSep.hasSepLine = true;
    EXPECT_EQ(CSVWriter::write(CSVTable(StringRows{{"sep=;"}}, withSep), withSep), "sep=,\nsep=;\n");
}

// Random tables written in random dialects read back to the same values when forced
// to that dialect.
TEST(CSVWriterProperty, RandomTablesRoundTripInEveryDialect) {
    std::mt19937_64 rng(20261206);
    const std::string alphabet = "ab ,;\t|\"'\\\n\r\xC3\xA9x";
    for (int iteration = 0; iteration < 400; ++iteration) {
        const CSVDialect d{CSVDialect::commonDelimiters[rng() % 8],
                           rng() % 5 == 0 ? std::optional<uint8_t>{}
                                          : std::optional<uint8_t>{rng() % 2 ? '"' : '\''},
                           rng() % 2 ? CSVDialect::Escape::doubled : CSVDialect::Escape::backslash};
        const size_t rows = 1 + rng() % 5, cols = 1 + rng() % 4;
        StringRows table(rows, StringRow(cols));
        for (auto& row : table) {
            for (auto& cell : row) {
                const size_t len = rng() % 6;
                for (size_t i = 0; i < len; ++i) {
                    size_t k = rng() % alphabet.size();
                    if (static_cast<uint8_t>(alphabet[k]) == 0xC3) k = alphabet.size() - 3;
                    if (static_cast<uint8_t>(alphabet[k]) == 0xA9) k = alphabet.size() - 1;
                    if (k == alphabet.size() - 3) {
                        cell += "\xC3\xA9";
                        continue;
                    }
                    cell += alphabet[k];
                }
                // Without a quote there is no way to write these; skip them.
                if (!d.quote)
                    std::erase_if(cell,
                                  [&](char c) { return c == (char)d.delimiter || c == '\n' || c == '\r'; });
            }
        }
        if (!d.quote && cols == 1)
            for (auto& row : table)
                if (row[0].empty()) row[0] = "z"; // an unquoted empty single-field row cannot be told apart
        FileFormat f = formatWith(d, rng() % 2, FileFormat::allLineEndings[rng() % 3]);
        f.quoting = rng() % 2 ? FileFormat::Quoting::minimal : FileFormat::Quoting::all;
        CSVTable t(table, f);
        const std::string bytes = CSVWriter::write(t, f);
        ReadOptions forced;
        forced.dialect = d;
        forced.hasHeader = false;
        ReadResult back = readText(bytes, forced);
        ASSERT_EQ(back.table.allRows(), table) << "iteration " << iteration << " bytes «" << bytes << "»";
    }
}

// Random unedited files with one kind of line ending write back byte-identical.
TEST(CSVWriterProperty, RandomUneditedFilesWriteBackIdentically) {
    std::mt19937_64 rng(7);
    const std::string pieces[] = {"a",   "bc",   "\"q,\"\"x\"\"\"", "\"multi\nline\"", " ", "",
                                  "1.5", "\"un", "x\"y\"",          "\xC3\xA9"};
    for (int iteration = 0; iteration < 500; ++iteration) {
        const auto ending = std::string(lineEndingBytes(FileFormat::allLineEndings[rng() % 3]));
        const char d = static_cast<char>(CSVDialect::commonDelimiters[rng() % 4]);
        std::string s = rng() % 5 == 0 ? std::string("sep=") + d + ending : "";
        const size_t rows = rng() % 6;
        for (size_t r = 0; r < rows; ++r) {
            const size_t cols = 1 + rng() % 4;
            for (size_t c = 0; c < cols; ++c) {
                if (c) s += d;
                s += pieces[rng() % std::size(pieces)];
            }
            if (r + 1 < rows || rng() % 2) s += ending;
        }
        if (rng() % 4 == 0) s = "\xEF\xBB\xBF" + s;
        ReadResult r = readText(s);
        // Stray quotes may swallow line endings of other kinds; those files are not of one kind.
        const auto& counts =
            FieldIndexer::scan(r.table.source().view(), 0, r.report.format.dialect).lineEndingCounts;
        if ((counts[0] > 0) + (counts[1] > 0) + (counts[2] > 0) > 1) continue;
        if (s.find("\n\"\"") != std::string::npos) continue;
        ASSERT_EQ(CSVWriter::write(r.table, r.report.format), s) << "iteration " << iteration;
    }
}

// Streaming keeps one block in memory: an unedited file, copied as runs of raw rows, still
// goes out in blocks of about the size asked for, which together are the whole file.
TEST(CSVWriter, StreamedBlocksStaySmallForUneditedRows) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += std::to_string(i) + ",\"cell " + std::to_string(i) + "\"\r\n";
    const ReadResult read = readText(text);
    std::string joined;
    size_t largest = 0;
    CSVWriter::write(
        read.table, read.report.format,
        [&](std::string_view block) {
            joined += block;
            largest = std::max(largest, block.size());
        },
        256);
    EXPECT_EQ(joined, text);
    EXPECT_LE(largest, 256u + 32u);
}
