// Every input a fuzzer found a fault with, replayed through the same checks the fuzz
// targets run (fuzz/FuzzChecks.h): tests/regressions/<target>/ holds one small file per
// finding. The example files go through all checks too. Beside them, each fault gets a
// direct test of the behaviour that was wrong.
#include "fuzz/FuzzChecks.h"

#include "CoreTestSupport.h"
#include "core/CSVError.h"
#include "core/TableEdit.h"
#include "core/TextEncoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace zarvel;

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    if (!fs::is_directory(folder)) return files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using Check = void (*)(const uint8_t*, size_t);

void replay(const fs::path& file, Check check) {
    const std::string bytes = contents(file);
    try {
        check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    } catch (const fuzz::CheckFailure& failure) {
        ADD_FAILURE() << file.filename().string() << ": " << failure.what();
    }
}

void replayFolder(const std::string& target, Check check) {
    for (const fs::path& file : filesIn(fs::path(ZARVEL_TEST_DATA_DIR) / "regressions" / target))
        replay(file, check);
}

bool unrepresentable(std::string text, TextEncoding encoding) {
    try {
        (void)encodeFromUTF8(std::move(text), encoding, false);
    } catch (const CSVError& error) {
        return error == CSVError::unrepresentable(encoding);
    }
    return false;
}

} // namespace

TEST(FuzzRegressions, ReadInputs) {
    replayFolder("read", fuzz::checkRead);
}
TEST(FuzzRegressions, WriteInputs) {
    replayFolder("write", fuzz::checkWrite);
}
TEST(FuzzRegressions, EditInputs) {
    replayFolder("edit", fuzz::checkEdits);
}

TEST(FuzzRegressions, ExampleFilesPassEveryCheck) {
    const auto examples = filesIn(fs::path(ZARVEL_TEST_DATA_DIR).parent_path() / "examples");
    ASSERT_FALSE(examples.empty());
    for (const fs::path& file : examples) {
        replay(file, fuzz::checkRead);
        replay(file, fuzz::checkWrite);
        replay(file, fuzz::checkEdits);
    }
}

// ICU's STOP callback lets an unmappable default-ignorable character through as success,
// so saving in a legacy encoding silently dropped it.
TEST(FuzzRegressions, LegacyEncodingsRefuseIgnorableCharactersTheyCannotHold) {
    EXPECT_TRUE(unrepresentable("a\xC2\xAD"
                                "b",
                                TextEncoding::macRoman))
        << "soft hyphen";
    EXPECT_TRUE(unrepresentable("a\xE2\x80\x8B"
                                "b",
                                TextEncoding::windows1252))
        << "zero-width space";
    EXPECT_TRUE(unrepresentable("\xEF\xBB\xBF"
                                "id",
                                TextEncoding::isoLatin2))
        << "U+FEFF in the text";
    EXPECT_TRUE(unrepresentable("\xE2\x80\x8D", TextEncoding::shiftJIS)) << "zero-width joiner";
    // Where the code page has the character, it is written.
    EXPECT_EQ(encodeFromUTF8("a\xC2\xAD"
                             "b",
                             TextEncoding::windows1252, false),
              "a\xAD"
              "b");
    EXPECT_EQ(encodeFromUTF8("a\xC2\xAD"
                             "b",
                             TextEncoding::isoLatin1, false),
              "a\xAD"
              "b");
}

// The writer quoted a lone «sep=X» first field, but a first row spells a sep= line in
// other ways too, and the reader then took the row for one.
TEST(FuzzRegressions, FirstRowsThatSpellASepLineStayRows) {
    struct Case {
        StringRows rows;
        uint8_t delimiter;
        FileFormat::LineEnding ending;
    };
    const std::vector<Case> cases{
        {{{"sep=", ""}, {"a", "b"}}, Byte::semicolon, FileFormat::LineEnding::lf}, // «sep=;»
        {{{"sep", "|"}, {"a", "b"}}, '=', FileFormat::LineEnding::lf},             // «sep=|»
        {{{"sep="}, {"x"}}, Byte::comma, FileFormat::LineEnding::crlf},            // «sep=» CR LF
        {{{"sep="}, {""}}, Byte::comma, FileFormat::LineEnding::lf},               // «sep=» LF LF
        {{{"SEP=", ""}}, Byte::tab, FileFormat::LineEnding::cr},                   // «SEP=\t» CR
    };
    for (const Case& c : cases) {
        FileFormat format;
        format.dialect = CSVDialect{c.delimiter, Byte::doubleQuote, CSVDialect::Escape::doubled};
        format.lineEnding = c.ending;
        format.hasHeader = false;
        const CSVTable table(c.rows, format);
        const std::string bytes = CSVWriter::write(table, format);
        SCOPED_TRACE(fuzz::escaped(bytes));
        ReadOptions forced;
        forced.dialect = format.dialect;
        forced.hasHeader = false;
        const ReadResult back = test::readText(bytes, forced);
        EXPECT_FALSE(back.report.format.hasSepLine);
        EXPECT_EQ(back.table.allRows(), table.allRows());
    }

    // A row copied raw from the source that a sort or move brought to the top.
    ReadResult read = test::readText("x\nsep=,\n", [] {
        ReadOptions o;
        o.dialect = CSVDialect::comma();
        o.hasHeader = false;
        return o;
    }());
    CSVTable moved = read.table;
    moved.apply(TableEdit::reorderRows(Permutation{{1, 0}}));
    const std::string bytes = CSVWriter::write(moved, moved.format());
    EXPECT_EQ(bytes, "\"sep=\",\nx\n");
    EXPECT_EQ(test::readText(bytes).table.allRows(), moved.allRows());
}
