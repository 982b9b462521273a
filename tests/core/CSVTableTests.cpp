#include "CoreTestSupport.h"

#include "core/CSVTable.h"

#include <gtest/gtest.h>

using namespace zarvel;
using zarvel::test::indexedTable;

TEST(CSVTable, ShortRowsReadEmptyAndCopyOutPadded) {
    CSVTable t = indexedTable("a,b,c\nd\n");
    EXPECT_EQ(t.columnCount(), 3);
    EXPECT_EQ(t.value(1, 0), "d");
    EXPECT_EQ(t.value(1, 2), "");
    const uint32_t k = t.materializeRow(1);
    EXPECT_EQ(t.editedRow(k), (StringRow{"d", "", ""}));
    EXPECT_TRUE(t.rowRef(1).isEdited());
    EXPECT_EQ(t.materializeRow(1), k) << "a row is copied out once";
}

TEST(CSVTable, DecodesQuotedFieldsUnderBothEscapes) {
    CSVTable doubled = indexedTable("\"a\"\"b\",\"ab\"c,\"ab");
    EXPECT_EQ(doubled.values(0), (StringRow{"a\"b", "\"ab\"c", "\"ab"}));
    CSVTable backslash =
        indexedTable("\"a\\\"b\",\"\"", {Byte::comma, Byte::doubleQuote, CSVDialect::Escape::backslash});
    EXPECT_EQ(backslash.values(0), (StringRow{"a\"b", ""}));
    CSVTable noQuote = indexedTable("\"a\"", {Byte::comma, std::nullopt, CSVDialect::Escape::doubled});
    EXPECT_EQ(noQuote.value(0, 0), "\"a\"");
    EXPECT_EQ(indexedTable("\"").value(0, 0), "\"");
    EXPECT_EQ(indexedTable("x\xFFy").value(0, 0), "x\xEF\xBF\xBDy");
}

TEST(CSVTable, DisplayValuesAreOneLineAndCut) {
    const std::string big(1000, 'x');
    CSVTable t = indexedTable(big + ",\"a\tb\r\nc\nd\"," + std::string(255, 'y') + "\xC3\xA9z\n");
    auto d = t.displayValues({0, 1}, {0, 3}, 256);
    EXPECT_EQ(d[0][0], std::string(256, 'x') + "\xE2\x80\xA6");
    EXPECT_EQ(t.value(0, 0), big) << "value is never cut";
    EXPECT_EQ(d[0][1], "a b\xE2\x8F\x8E"
                       "c\xE2\x8F\x8E"
                       "d");
    // The 257th byte continues é, so the cut moves back before it.
    EXPECT_EQ(d[0][2], std::string(255, 'y') + "\xE2\x80\xA6");

    // A truncated quoted field keeps its last bytes (its closing quote was cut away).
    CSVTable q = indexedTable("\"abcdef\"");
    EXPECT_EQ(q.displayValues({0, 1}, {0, 1}, 4)[0][0], "abc\xE2\x80\xA6");
    EXPECT_EQ(indexedTable("\"\"").displayValues({0, 1}, {0, 1}, 256)[0][0], "");

    // Edited texts follow the same one-line rules.
    CSVTable e(StringRows{{"a\r\nb\tc\xE2\x80\xA8"
                           "d"},
                          {std::string(300, 'q')}},
               FileFormat::standard());
    auto ed = e.displayValues({0, 2}, {0, 1}, 256);
    EXPECT_EQ(ed[0][0], "a\xE2\x8F\x8E"
                        "b c\xE2\x8F\x8E"
                        "d");
    EXPECT_EQ(ed[1][0], std::string(256, 'q') + "\xE2\x80\xA6");
}

TEST(CSVTable, ColumnLettersAndTitles) {
    EXPECT_EQ(CSVTable::columnLetters(0), "A");
    EXPECT_EQ(CSVTable::columnLetters(25), "Z");
    EXPECT_EQ(CSVTable::columnLetters(26), "AA");
    EXPECT_EQ(CSVTable::columnLetters(27), "AB");
    EXPECT_EQ(CSVTable::columnLetters(701), "ZZ");
    EXPECT_EQ(CSVTable::columnLetters(702), "AAA");
    EXPECT_EQ(CSVTable::columnLetters(-1), "");
    CSVTable withHeader = indexedTable("id,name\n1,x\n", CSVDialect::comma(), true);
    EXPECT_EQ(withHeader.columnTitle(1), "name");
    EXPECT_EQ(withHeader.firstDataRow(), 1);
    EXPECT_EQ(withHeader.dataRowCount(), 1);
    CSVTable without = indexedTable("id,name\n1,x\n");
    EXPECT_EQ(without.columnTitle(1), "B");
    FileFormat headerFormat;
    CSVTable emptyWithHeader(StringRows{}, headerFormat);
    EXPECT_EQ(emptyWithHeader.firstDataRow(), 0);
    EXPECT_EQ(emptyWithHeader.dataRowCount(), 0);
}

TEST(CSVTable, StringTablesArePaddedAndHaveNoSourceColumns) {
    CSVTable t(StringRows{{"a"}, {"b", "c", "d"}}, FileFormat::standard());
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.columnCount(), 3);
    EXPECT_EQ(t.values(0), (StringRow{"a", "", ""}));
    EXPECT_EQ(t.columnMap(), (std::vector<int32_t>{-1, -1, -1}));
    EXPECT_FALSE(t.columnsMatchSource());
    EXPECT_TRUE(indexedTable("a,b\nc\n").columnsMatchSource());
    EXPECT_TRUE(CSVTable().columnsMatchSource());
}

TEST(CSVTable, CopiesShareTheSourceAndNeverSeeLaterWrites) {
    CSVTable t = indexedTable("a,b\nc,d\n");
    CSVTable copy = t;
    EXPECT_TRUE(copy.source().sharesStorageWith(t.source()));
    const uint32_t k = t.materializeRow(0);
    EXPECT_TRUE(t.rowRef(0).isEdited());
    EXPECT_TRUE(copy.rowRef(0).isOriginal());
    EXPECT_EQ(copy.editedRowCount(), 0u);
    EXPECT_EQ(t.editedRow(k), (StringRow{"a", "b"}));
}
