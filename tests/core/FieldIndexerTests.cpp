#include "core/FieldIndexer.h"
#include "core/Processor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sys/mman.h>

using namespace zarvel;
using LE = FileFormat::LineEnding;

namespace {

FieldIndexer::Result scan(std::string_view s, CSVDialect d = CSVDialect::comma(),
                          int64_t limit = FieldIndexer::noRowLimit, size_t start = 0) {
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

CSVDialect backslashDialect() {
    return {Byte::comma, Byte::doubleQuote, CSVDialect::Escape::backslash};
}

} // namespace

TEST(FieldIndexer, EmptyInputAndStartPastEnd) {
    for (auto r : {scan(""), scan("sep=;", CSVDialect::comma(), FieldIndexer::noRowLimit, 5)}) {
        EXPECT_EQ(r.index.rowCount(), 0);
        EXPECT_EQ(r.index.rowFirstField, (IndexVector<uint32_t>{0}));
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
    for (int i = 0; i < 150; ++i)
        s += "\"a\"b\n";
    auto r = scan(s);
    EXPECT_EQ(r.warnings.size(), 100u);
    EXPECT_EQ(r.warnings.back().row, 99);
    EXPECT_EQ(r.index.rowCount(), 150);
}

TEST(FieldIndexer, RowLimitStopsAfterCompleteRows) {
    std::string s;
    for (int i = 0; i < 1000; ++i)
        s += "a,b\r\n";
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
        ASSERT_EQ(fields(s, r.index), (Rows{{std::string(len, 'x'), "y"}, {std::string(len + 1, 'z')}}))
            << len;
    }
}

TEST(FieldIndexer, FieldValues) {
    const auto d = CSVDialect::comma();
    EXPECT_EQ(FieldIndexer::fieldValue("\"a\"\"b\"", d), "a\"b");
    EXPECT_EQ(FieldIndexer::fieldValue("\"a\\\"b\"", backslashDialect()), "a\"b");
    EXPECT_EQ(FieldIndexer::fieldValue("\"ab\\\"", backslashDialect()), "ab\\")
        << "a last inner backslash stays";
    EXPECT_EQ(FieldIndexer::fieldValue("\"\"", d), "");
    EXPECT_EQ(FieldIndexer::fieldValue("\"", d), "\"");
    EXPECT_EQ(FieldIndexer::fieldValue("\"x,y\"", d), "x,y");
    EXPECT_EQ(FieldIndexer::fieldValue("\"ab\"cd", d), "\"ab\"cd");
    EXPECT_EQ(FieldIndexer::fieldValue("\"abc", d), "\"abc");
    EXPECT_EQ(FieldIndexer::fieldValue("\"a\"b\"", d), "ab") << "a lone inner quote is dropped";
    EXPECT_EQ(FieldIndexer::fieldValue("a\xFF", d), "a\xEF\xBF\xBD");
    EXPECT_EQ(FieldIndexer::fieldValue("\"\xE2\x82\"", d), "\xEF\xBF\xBD") << "a cut sequence is one U+FFFD";
    // Values are assembled in runs; byte by byte gives the same.
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string inner(random() % 12, ' ');
        for (char& c : inner)
            c = "ab\"\\"[random() % 4];
        const CSVDialect& dialect = round % 2 ? d : backslashDialect();
        std::string byteByByte;
        FieldIndexer::unquote(inner, dialect, [&](char c) { byteByByte.push_back(c); });
        EXPECT_EQ(FieldIndexer::fieldValue("\"" + inner + "\"", dialect), byteByByte) << inner;
    }
}

namespace {

void expectSameResult(const FieldIndexer::Result& a, const FieldIndexer::Result& b,
                      const std::string& context) {
    EXPECT_TRUE(a.index == b.index) << context;
    EXPECT_EQ(a.warnings, b.warnings) << context;
    EXPECT_EQ(a.endsWithNewline, b.endsWithNewline) << context;
    EXPECT_EQ(a.lineEndingCounts, b.lineEndingCounts) << context;
}

} // namespace

namespace {

// Rows of plain, quoted (with doubled quotes, delimiters and line breaks inside) and empty
// fields, with now and then a stray quote, text after a closing quote or a quote left open.
std::string randomRows(std::mt19937& random, char delimiter) {
    std::string text;
    const int rows = static_cast<int>(random() % 40);
    for (int r = 0; r < rows; ++r) {
        const int fieldsInRow = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < fieldsInRow; ++f) {
            if (f) text += delimiter;
            const std::string word(random() % 30, "xyz"[random() % 3]);
            switch (random() % 8) {
            case 0:
                text += "";
                break;
            case 1:
            case 2:
                text += '"' + word + delimiter + "\"\"" + word + "\r\n" + word + '"';
                break;
            case 3:
                text += '"' + word + '"';
                break;
            default:
                text += word;
            }
            if (random() % 60 == 0)
                text.insert(text.size() - std::min<size_t>(text.size(), random() % 3), "\"");
        }
        const auto ending = random() % 6;
        text += ending < 4 ? "\n" : ending == 4 ? "\r\n" : "\r";
    }
    if (random() % 3 == 0 && !text.empty()) text.pop_back();
    return text;
}

} // namespace

// The 64-byte reading and the reading in blocks (which guesses where rows start, so its
// guesses fall inside quoted fields, escapes and CR LF pairs) must both give exactly what
// the plain field-by-field reading gives, malformed text included, with and without the
// processor's wider instructions.
TEST(FieldIndexer, FastReadingsEqualTheFieldByFieldOne) {
    std::mt19937 random(20261207);
    const std::string alphabet = "ab,\"\"\"\\\r\n\n;";
    const CSVDialect dialects[] = {CSVDialect::comma(),
                                   backslashDialect(),
                                   {Byte::comma, std::nullopt, CSVDialect::Escape::doubled},
                                   CSVDialect::tab()};
    for (int round = 0; round < 6000; ++round) {
        const CSVDialect& dialect = dialects[round % 4];
        Processor::allowWideVectors(round % 3 != 0);
        std::string text;
        if (round % 2) {
            text = randomRows(random, static_cast<char>(dialect.delimiter));
        } else {
            text.assign(random() % 200, ' ');
            for (char& c : text)
                c = alphabet[random() % alphabet.size()];
            if (round % 7 == 0) text += std::string(random() % 120, 'q'); // a long field past several blocks
        }
        const size_t start = text.empty() ? 0 : random() % std::min<size_t>(text.size(), 5);
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        const auto reference = FieldIndexer::scanFieldByField(bytes, text.size(), start, dialect);
        const std::string context =
            "round " + std::to_string(round) + " text " + ::testing::PrintToString(text);
        expectSameResult(FieldIndexer::scan(bytes, text.size(), start, dialect), reference, context);
        const size_t block = 1 + random() % (round % 2 ? 200 : 24);
        const unsigned threads = 1 + random() % 4;
        expectSameResult(FieldIndexer::scanInBlocks(bytes, text.size(), start, dialect, block, threads),
                         reference, context + " block " + std::to_string(block));
        if (HasFailure()) break;
    }
    Processor::allowWideVectors(true);
}

// Offsets past 4 GiB: the index stores 32 bits per offset and the steps of the rest.
TEST(FieldIndexer, OffsetsPastFourGiB) {
    OffsetColumn column;
    const uint64_t G4 = uint64_t{1} << 32;
    const std::vector<uint64_t> values{5, G4 - 1, G4, G4 + 7, 3 * G4 + 1};
    for (uint64_t v : values)
        column.push_back(v);
    OffsetColumn tail;
    tail.push_back(3 * G4 + 2);
    tail.push_back(4 * G4);
    column.append(tail);
    const std::vector<uint64_t> all{5, G4 - 1, G4, G4 + 7, 3 * G4 + 1, 3 * G4 + 2, 4 * G4};
    ASSERT_EQ(column.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(column[i], all[i]) << i;
    EXPECT_EQ(column.upperBound(G4), 3u);
    EXPECT_EQ(column.upperBound(0), 0u);

    // A reading that starts just below 4 GiB of untouched (zero, unbacked) memory.
    const size_t size = G4 + 4096;
    void* memory =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) GTEST_SKIP() << "no address space for 4 GiB";
    auto* bytes = static_cast<uint8_t*>(memory);
    const std::string rows = "a,\"b\nc\",d\neeee,ffff,gggg\nh\n";
    const size_t start = G4 - 9;
    std::memcpy(bytes + start, rows.data(), rows.size());
    const size_t count = start + rows.size();
    const auto serial = FieldIndexer::scan(bytes, count, start, CSVDialect::comma());
    const std::string_view text(reinterpret_cast<const char*>(bytes), count);
    EXPECT_EQ(fields(text, serial.index), (Rows{{"a", "\"b\nc\"", "d"}, {"eeee", "ffff", "gggg"}, {"h"}}));
    for (size_t block : {1, 3, 8})
        expectSameResult(FieldIndexer::scanInBlocks(bytes, count, start, CSVDialect::comma(), block, 2),
                         serial, "block " + std::to_string(block));
    munmap(memory, size);
}
