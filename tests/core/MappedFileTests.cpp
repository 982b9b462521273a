// Large files are mapped, not copied: what happens when another program changes one
// under us, and when we save over the file we are reading from.
#include "core/ByteBuffer.h"
#include "core/CSVError.h"
#include "core/CSVReader.h"
#include "core/CSVWriter.h"
#include "core/SafeSave.h"
#include "core/TableEdit.h"
#include "core/UTF8.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace zarvel;

namespace {

// Several pages of rows (files this small are copied when opened; the tests map them).
std::string bigText() {
    std::string text = "id,name,note\n";
    for (int i = 0; text.size() < (size_t{1} << 20); ++i)
        text += std::to_string(i) + ",name " + std::to_string(i) + ",\"a note, quoted\"\n";
    return text;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MappedFile : public ::testing::Test {
public:
    void SetUp() override {
        char pattern[] = "/tmp/zarvel-mapped-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/big.csv";
        text = bigText();
        std::ofstream(path, std::ios::binary) << text;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    ReadResult open() {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        auto mapping = ByteBuffer::mapFile(fd, text.size());
        ::close(fd);
        EXPECT_TRUE(mapping && mapping->isFileMapping());
        return CSVReader::read(SharedBytes::fromBuffer(std::move(mapping)));
    }
    bool writeRefused(const CSVTable& table, const FileFormat& format) {
        try {
            (void)CSVWriter::write(table, format);
        } catch (const CSVError& e) {
            return std::holds_alternative<CSVError::SourceChanged>(e.value);
        }
        return false;
    }

    std::string dir, path, text;
};

} // namespace

// Shortened under us: the rows past the new end read as zeros instead of killing the
// program, and nothing is written from them.
TEST_F(MappedFile, ShortenedByAnotherProgram) {
    ReadResult read = open();
    ASSERT_TRUE(read.table.source().isIntact());
    const int64_t last = read.table.rowCount() - 1;
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    const std::string value = read.table.value(last, 1); // would raise SIGBUS unguarded
    EXPECT_EQ(value.find("name"), std::string::npos);
    EXPECT_FALSE(read.table.source().isIntact());
    EXPECT_TRUE(writeRefused(read.table, read.report.format));
}

// Rewritten in place with other bytes of the same length: detected by its time stamp.
TEST_F(MappedFile, RewrittenInPlaceByAnotherProgram) {
    ReadResult read = open();
    const struct timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 5, 0}};
    {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "99", 2, 20), 2);
        ASSERT_EQ(::futimens(fd, later), 0);
        ::close(fd);
    }
    EXPECT_FALSE(read.table.source().isIntact());
    EXPECT_TRUE(writeRefused(read.table, read.report.format));
}

// A file with two names is saved in place: the table reading from it must still see the
// old bytes while the new ones go in, so the file ends as the old content plus the edit.
TEST_F(MappedFile, SavedInPlaceOverItsOwnSource) {
    ASSERT_EQ(::link(path.c_str(), (dir + "/other-name.csv").c_str()), 0);
    ReadResult read = open();
    (void)read.table.apply(TableEdit::setCells({CellChange{0, 1, "edited"}}));
    const auto error = SafeSave::save(path, [&](SafeSave::Sink& sink) {
        CSVWriter::write(read.table, read.report.format, [&](std::string_view block) { sink.write(block); });
    });
    ASSERT_FALSE(error.has_value()) << error->reason();
    std::string expected = text;
    expected.replace(expected.find("name"), 4, "edited"); // stored row 0 is the header row
    EXPECT_TRUE(fileBytes(path) == expected);
    EXPECT_TRUE(fileBytes(dir + "/other-name.csv") == expected);
    EXPECT_TRUE(read.table.source().isIntact());
}

// A mapped file in another encoding is converted in steps, its pages given back as it
// goes: a character cut by a step boundary comes out whole, and the file's bytes read the
// same afterwards.
TEST_F(MappedFile, ConvertedInStepsAndGivenBack) {
    const size_t step = size_t{8} << 20; // input bytes per conversion step
    std::string utf8 = "id,name\n";
    for (int i = 0; utf8.size() < 2 * step + 4096; ++i)
        utf8 += std::to_string(i) + ",name " + std::to_string(i) + "\n";
    std::u16string units(utf8.begin(), utf8.end()); // ASCII so far: one unit per byte
    const size_t cut = step / 2;                    // the first step ends between these units
    units.replace(cut - 1, 2, u"\U0001F600");
    utf8.replace(cut - 1, 2, "\xF0\x9F\x98\x80");
    std::string file = "\xFF\xFE";
    for (const char16_t u : units) {
        file.push_back(static_cast<char>(u & 0xFF));
        file.push_back(static_cast<char>(u >> 8));
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const SharedBytes mapped = SharedBytes::fromBuffer(ByteBuffer::mapFile(fd, file.size()));
    ::close(fd);
    const ReadResult read = CSVReader::read(mapped);
    EXPECT_EQ(read.report.format.encoding, TextEncoding::utf16LittleEndian);
    EXPECT_TRUE(read.table.source().view() == utf8);
    EXPECT_TRUE(mapped.view() == file);
}

// Large texts are checked in pieces; a character split by a piece boundary is whole.
TEST(LargeText, InspectionInPiecesFindsWhatOnePassFinds) {
    const size_t size = size_t{33} << 20;
    std::string text(size, 'a');
    for (size_t at = size / 2 - 3; at < size / 2 + 3; at += 2)
        text.replace(at, 2, "\xC3\xA9");
    EXPECT_TRUE(UTF8::inspect(text).valid());
    text[size * 3 / 4] = '\0';
    text[size * 7 / 8] = '\xFF';
    auto found = UTF8::inspect(text);
    EXPECT_EQ(found.firstNul, size * 3 / 4);
    EXPECT_EQ(found.firstInvalid, size * 7 / 8);
    text[size / 4] = '\xC3'; // a lead byte without its continuation
    found = UTF8::inspect(text);
    EXPECT_EQ(found.firstInvalid, size / 4);
    EXPECT_EQ(found.firstNul, std::string_view::npos); // not looked for after the first ill-formed byte
}
