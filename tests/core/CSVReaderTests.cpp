#include "CoreTestSupport.h"

#include "core/CSVError.h"

#include <gtest/gtest.h>

using namespace zarvel;
using namespace std::string_literals;
using zarvel::test::readText;

TEST(CSVReader, EmptyData) {
    ReadResult r = readText("");
    EXPECT_EQ(r.report.format.encoding, TextEncoding::utf8);
    EXPECT_EQ(r.table.rowCount(), 0);
    EXPECT_FALSE(r.report.format.hasTrailingNewline);
    EXPECT_TRUE(r.report.format.hasHeader);
    EXPECT_EQ(r.report.confidence, 1.0);
    EXPECT_TRUE(r.report.warnings.empty());
    EXPECT_EQ(r.report.raggedRowCount, 0);
}

TEST(CSVReader, ReportsFormatAndRaggedRows) {
    ReadResult r = readText("a,b\r\n1,2\r\n");
    EXPECT_EQ(r.report.format.dialect, CSVDialect::comma());
    EXPECT_EQ(r.report.format.lineEnding, FileFormat::LineEnding::crlf);
    EXPECT_TRUE(r.report.format.hasTrailingNewline);
    EXPECT_TRUE(r.report.format.hasHeader);
    EXPECT_EQ(r.table.format(), r.report.format);
    EXPECT_EQ(r.report.raggedRowCount, 0);
    EXPECT_EQ(readText("a,b\n1\n").report.raggedRowCount, 1);
    // The full file's most common ending wins over the sample's.
    EXPECT_EQ(readText("a;b\r\nc;d\ne;f\ng;h\n").report.format.lineEnding, FileFormat::LineEnding::lf);
}

TEST(CSVReader, ByteOrderMarksAreFormatNotContent) {
    ReadResult r = readText("\xEF\xBB\xBFid,name\n1,x\n");
    EXPECT_TRUE(r.report.format.hasBOM);
    EXPECT_EQ(r.table.value(0, 0), "id");
    ReadOptions utf16;
    utf16.encoding = TextEncoding::utf16LittleEndian;
    ReadResult w = readText("\xFF\xFE"
                            "a\0,\0b\0"s,
                            utf16);
    EXPECT_TRUE(w.report.format.hasBOM);
    EXPECT_EQ(w.table.value(0, 0), "a");
    ReadOptions utf8;
    utf8.encoding = TextEncoding::utf8;
    EXPECT_FALSE(readText("a,b", utf8).report.format.hasBOM);
    ReadOptions latin;
    latin.encoding = TextEncoding::windows1252;
    EXPECT_FALSE(readText("\xEF\xBB\xBF"
                          "a",
                          latin)
                     .report.format.hasBOM)
        << "only the forced encoding's mark counts";
}

TEST(CSVReader, UTF8TextIsNotCopied) {
    auto data = SharedBytes::copyOf("\xEF\xBB\xBFx,y\n");
    ReadResult r = CSVReader::read(data, {});
    EXPECT_TRUE(r.table.source().sharesStorageWith(data));
    EXPECT_EQ(r.table.source().view(), "x,y\n");
}

TEST(CSVReader, ForcedOptions) {
    ReadOptions noHeader;
    noHeader.hasHeader = false;
    ReadResult r = readText("id,name\n1,x\n", noHeader);
    EXPECT_FALSE(r.report.format.hasHeader);
    EXPECT_EQ(r.table.firstDataRow(), 0);
    ReadOptions pipes;
    pipes.dialect = CSVDialect{Byte::pipe, std::nullopt, CSVDialect::Escape::doubled};
    ReadResult p = readText("sep=;\n\"a|b\"|c\n", pipes);
    EXPECT_TRUE(p.report.format.hasSepLine) << "a sep= line is still skipped";
    EXPECT_EQ(p.report.format.dialect, *pipes.dialect);
    EXPECT_EQ(p.table.values(0), (StringRow{"\"a", "b\"", "c"}));
    EXPECT_EQ(p.report.confidence, 1.0);
}

TEST(CSVReader, MalformedContentWarnsButReads) {
    std::string s = "h\n";
    for (int i = 0; i < 120; ++i)
        s += "\"x\"y\n";
    ReadResult r = readText(s);
    EXPECT_EQ(r.report.warnings.size(), 100u);
    EXPECT_EQ(r.report.warnings[0].row, 1);
    EXPECT_EQ(r.table.rowCount(), 121);
}

TEST(CSVReader, ErrorsAreTyped) {
    auto error = [](std::string bytes, ReadOptions o = {}) -> std::optional<CSVError> {
        try {
            readText(bytes, o);
        } catch (const CSVError& e) {
            return e;
        }
        return std::nullopt;
    };
    EXPECT_EQ(error("a\0\0\0b\0c\0\0\0\0\0"s), CSVError::notText());
    ReadOptions cp1252;
    cp1252.encoding = TextEncoding::windows1252;
    EXPECT_EQ(error("a\x81", cp1252), CSVError::undecodable(TextEncoding::windows1252));
}

TEST(CSVReader, HostileInputNeverFails) {
    const std::vector<std::string> inputs = {
        "\xEF\xBB\xBF",
        "sep=;",
        "sep=;\r\n",
        "\"",
        "\"\"\"",
        "\\",
        "a,\"b\\",
        "\xF0\x9F",
        "\r\r\n\n\r",
        std::string(200000, ','),
        std::string(5000, '"'),
        "\"a\"\"\"b\",\"\n\"",
    };
    for (const auto& s : inputs) {
        ReadResult r = readText(s);
        for (int64_t row = 0; row < r.table.rowCount(); ++row)
            for (int64_t c = 0; c < r.table.columnCount(); ++c)
                (void)r.table.value(row, c);
        EXPECT_LE(r.report.warnings.size(), 100u);
    }
    EXPECT_EQ(readText(std::string(200000, ',')).table.columnCount(), 200001);
}
