#include "CoreTestSupport.h"

#include "core/CSVError.h"
#include "core/EditRecord.h"
#include "core/Processor.h"
#include "core/TableEdit.h"
#include "core/TextEncoding.h"
#include "core/UTF8.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/uset.h>

#include <memory>
#include <random>

using namespace zarvel;
using namespace std::string_literals;

namespace {
// A decoded buffer's text, kept beyond the buffer.
std::string decodedText(const SharedBytes& bytes) {
    return std::string(bytes.view());
}
} // namespace

TEST(TextEncoding, RawValuesAndNames) {
    for (TextEncoding e : allTextEncodings)
        EXPECT_EQ(textEncodingFromRawValue(rawValue(e)), e);
    EXPECT_EQ(textEncodingFromRawValue("UTF8"), std::nullopt);
    EXPECT_EQ(displayName(TextEncoding::macRoman), "Mac Roman");
    EXPECT_TRUE(supportsBOM(TextEncoding::utf32BigEndian));
    EXPECT_FALSE(supportsBOM(TextEncoding::windows1252));
}

TEST(TextEncoding, DetectsByteOrderMarksLongestFirst) {
    EXPECT_EQ(detectEncoding("\xEF\xBB\xBF"), (EncodingGuess{TextEncoding::utf8, true}));
    EXPECT_EQ(detectEncoding("\xFF\xFE\x00\x00\x41\x00\x00\x00"s),
              (EncodingGuess{TextEncoding::utf32LittleEndian, true}));
    EXPECT_EQ(detectEncoding("\xFF\xFE\x41\x00"s), (EncodingGuess{TextEncoding::utf16LittleEndian, true}));
    EXPECT_EQ(detectEncoding("\x00\x00\xFE\xFF"s), (EncodingGuess{TextEncoding::utf32BigEndian, true}));
    EXPECT_EQ(detectEncoding("\xFE\xFF\x00\x41"s), (EncodingGuess{TextEncoding::utf16BigEndian, true}));
}

TEST(TextEncoding, DetectsWithoutMark) {
    EXPECT_EQ(detectEncoding("A\0B\0C\0"s), (EncodingGuess{TextEncoding::utf16LittleEndian, false}));
    EXPECT_EQ(detectEncoding("\0A\0B\0C"s), (EncodingGuess{TextEncoding::utf16BigEndian, false}));
    EXPECT_EQ(detectEncoding("plain ascii"), (EncodingGuess{TextEncoding::utf8, false}));
    EXPECT_EQ(detectEncoding(""), (EncodingGuess{TextEncoding::utf8, false}));
    EXPECT_EQ(detectEncoding("A\xE9"
                             "B"),
              (EncodingGuess{TextEncoding::windows1252, false}));
    EXPECT_EQ(detectEncoding("A\xE9"
                             "B\x90"),
              (EncodingGuess{TextEncoding::isoLatin1, false}));
    // Invalid UTF-8 past the 4 KiB sample still counts: validation covers the whole file.
    EXPECT_EQ(detectEncoding(std::string(10000, 'a') + "\xE9").encoding, TextEncoding::windows1252);
    std::string binary;
    for (int i = 0; i < 512; ++i)
        binary += static_cast<char>(i % 7 == 0 ? 0 : 0x41 + i % 13);
    EXPECT_THROW((void)detectEncoding(binary), CSVError);
    try {
        (void)detectEncoding(binary);
    } catch (const CSVError& e) {
        EXPECT_EQ(e, CSVError::notText());
    }
}

TEST(TextEncoding, DecodingDropsTheMarkAndSharesUTF8) {
    auto data = SharedBytes::copyOf("\xEF\xBB\xBF"
                                    "a,b");
    SharedBytes text = decodeToUTF8(data, TextEncoding::utf8, true);
    EXPECT_EQ(text.view(), "a,b");
    EXPECT_TRUE(text.sharesStorageWith(data));
    EXPECT_EQ(decodeToUTF8(SharedBytes::copyOf("\xEF\xBB\xBF"), TextEncoding::utf8, true).size(), 0u);
    EXPECT_EQ(decodedText(decodeToUTF8(SharedBytes::copyOf("\xFF\xFE"
                                                           "a\0\xE9\0"s),
                                       TextEncoding::utf16LittleEndian, true)),
              "a\xC3\xA9");
    EXPECT_EQ(decodedText(decodeToUTF8(SharedBytes::copyOf("\x80\xE9"), TextEncoding::windows1252, false)),
              "\xE2\x82\xAC\xC3\xA9");
    EXPECT_EQ(decodedText(decodeToUTF8(SharedBytes::copyOf("\xDB"), TextEncoding::macRoman, false)),
              "\xE2\x82\xAC");
    EXPECT_EQ(decodedText(decodeToUTF8(SharedBytes::copyOf("\x82\xA0"), TextEncoding::shiftJIS, false)),
              "\xE3\x81\x82");
}

TEST(TextEncoding, DecodingIsStrict) {
    auto undecodable = [](std::string bytes, TextEncoding e) {
        try {
            (void)decodeToUTF8(SharedBytes::copyOf(bytes), e, false);
        } catch (const CSVError& error) {
            return error == CSVError::undecodable(e);
        }
        return false;
    };
    for (char b : "\x81\x8D\x8F\x90\x9D"s)
        EXPECT_TRUE(undecodable(std::string("a") + b, TextEncoding::windows1252));
    EXPECT_TRUE(undecodable("a\0b"s, TextEncoding::utf16LittleEndian)) << "odd length";
    EXPECT_TRUE(undecodable("\x00\xD8"
                            "a\0"s,
                            TextEncoding::utf16LittleEndian))
        << "lone surrogate";
    EXPECT_TRUE(undecodable("\x00\x00\x11\x00"s, TextEncoding::utf32LittleEndian)) << "past U+10FFFF";
    EXPECT_TRUE(undecodable("\x82", TextEncoding::shiftJIS)) << "truncated double-byte character";
    EXPECT_FALSE(undecodable("\x80\xFF", TextEncoding::isoLatin1));
}

TEST(TextEncoding, EncodingIsStrictAndAddsMarksOnlyWhereTheyExist) {
    EXPECT_EQ(encodeFromUTF8("\xE2\x82\xAC", TextEncoding::windows1252, true), "\x80");
    EXPECT_EQ(encodeFromUTF8("\xC3\xA9", TextEncoding::windows1252, true), "\xE9");
    EXPECT_EQ(encodeFromUTF8("a", TextEncoding::utf16BigEndian, true), "\xFE\xFF\0a"s);
    EXPECT_EQ(encodeFromUTF8("a", TextEncoding::utf8, true), "\xEF\xBB\xBF"
                                                             "a");
    EXPECT_EQ(encodeFromUTF8("a", TextEncoding::utf32LittleEndian, false), "a\0\0\0"s);
    auto unrepresentable = [](std::string text, TextEncoding e) {
        try {
            (void)encodeFromUTF8(std::move(text), e, false);
        } catch (const CSVError& error) {
            return error == CSVError::unrepresentable(e);
        }
        return false;
    };
    EXPECT_TRUE(unrepresentable("\xE2\x82\xAC", TextEncoding::isoLatin1));
    EXPECT_TRUE(unrepresentable("\xC2\x81", TextEncoding::windows1252)) << "no character of the code page";
    EXPECT_TRUE(unrepresentable("\xF0\x9F\x98\x80", TextEncoding::shiftJIS));
    EXPECT_FALSE(unrepresentable("\xF0\x9F\x98\x80", TextEncoding::gb18030));
}

TEST(TextEncoding, EveryEncodingRoundTripsItsOwnText) {
    for (TextEncoding e : allTextEncodings) {
        const bool asian = e == TextEncoding::shiftJIS || e == TextEncoding::gb18030;
        const std::string text =
            std::string("id;Name\r\n1;Zo") + (asian ? "\xE3\x81\x82" : "\xC3\xA9") + " \"x\"\n";
        for (bool mark : {false, true}) {
            const std::string bytes = encodeFromUTF8(std::string(text), e, mark);
            const bool withMark = mark && supportsBOM(e);
            EXPECT_EQ(decodedText(decodeToUTF8(SharedBytes::copyOf(bytes), e, withMark)), text)
                << rawValue(e);
        }
    }
}

namespace {
// Up to `wanted` characters spread evenly over what an encoding round-trips, controls left
// out (a delimiter-separated file's structure is tested apart).
std::vector<std::string> repertoireSample(TextEncoding e, size_t wanted) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, void (*)(UConverter*)> c(
        ucnv_open(std::string(converterName(e)).c_str(), &status), ucnv_close);
    std::unique_ptr<USet, void (*)(USet*)> set(uset_openEmpty(), uset_close);
    ucnv_getUnicodeSet(c.get(), set.get(), UCNV_ROUNDTRIP_SET, &status);
    EXPECT_TRUE(U_SUCCESS(status)) << rawValue(e);
    uset_removeRange(set.get(), 0, 0x20);
    uset_removeRange(set.get(), 0x7F, 0x9F);
    uset_removeRange(set.get(), 0xD800, 0xDFFF);
    for (char structural : std::string(",\""))
        uset_remove(set.get(), structural);
    const int32_t size = uset_size(set.get());
    std::vector<std::string> sample;
    for (int32_t i = 0; size > 0 && sample.size() < wanted;
         i += std::max<int32_t>(1, size / int32_t(wanted))) {
        if (i >= size) break;
        const char32_t cp = static_cast<char32_t>(uset_charAt(set.get(), i));
        std::string utf8;
        UTF8::appendScalar(utf8, cp);
        sample.push_back(utf8);
    }
    return sample;
}
} // namespace

// Every extra encoding: a sample of its repertoire survives being written as a table in
// small blocks (as saving streams it) and read back; its raw value and its name find it
// again, and a saved record keeps it.
TEST(TextEncoding, EveryExtraEncodingRoundTripsItsRepertoire) {
    ASSERT_GT(extraTextEncodings().size(), 100u);
    for (TextEncoding e : extraTextEncodings()) {
        SCOPED_TRACE(std::string(rawValue(e)));
        EXPECT_EQ(textEncodingFromRawValue(rawValue(e)), e);
        EXPECT_EQ(textEncodingNamed(converterName(e)), e);
        EXPECT_FALSE(displayName(e).empty());
        EXPECT_FALSE(supportsBOM(e));

        const std::vector<std::string> sample = repertoireSample(e, 240);
        ASSERT_GT(sample.size(), 40u);
        StringRows rows{{"id", "text"}};
        for (size_t i = 0; i < sample.size(); i += 8) {
            std::string cell;
            for (size_t j = i; j < std::min(i + 8, sample.size()); ++j)
                cell += sample[j];
            rows.push_back({std::to_string(i), cell});
        }
        FileFormat format;
        format.encoding = e;
        format.hasHeader = true;
        const CSVTable table(rows, format);
        std::string bytes;
        ASSERT_NO_THROW(CSVWriter::write(
            table, format, [&](std::string_view block) { bytes += block; }, 64));
        ReadResult back;
        ASSERT_NO_THROW(back = zarvel::test::readText(bytes, ReadOptions::forcing(format)));
        ASSERT_EQ(back.table.rowCount(), table.rowCount());
        for (int64_t r = 0; r < table.rowCount(); ++r)
            EXPECT_EQ(back.table.value(r, 1), table.value(r, 1)) << r;

        const TableEdit edit = decodeEdit(encodeEdit(TableEdit::setFormat(format)));
        EXPECT_EQ(std::get<TableEdit::SetFormat>(edit.value).format.encoding, e);
    }
    // Names as users type them; built-in encodings found by their other names too.
    EXPECT_EQ(textEncodingNamed("CP1251"), textEncodingNamed("windows-1251"));
    EXPECT_EQ(displayName(*textEncodingNamed("koi8-r")), "KOI8-R");
    EXPECT_EQ(textEncodingNamed("shift_jis"), TextEncoding::shiftJIS);
    EXPECT_EQ(textEncodingNamed("latin2"), TextEncoding::isoLatin2);
    EXPECT_EQ(textEncodingNamed("no-such-encoding"), std::nullopt);
    // A byte a Windows code page leaves undefined is no character, however ICU maps it.
    const TextEncoding cp1251 = *textEncodingNamed("windows-1251");
    EXPECT_THROW((void)decodeToUTF8(SharedBytes::copyOf("a\x98"), cp1251, false), CSVError);
    EXPECT_THROW((void)encodeFromUTF8("\xC2\x98", cp1251, false), CSVError);
    EXPECT_EQ(encodeFromUTF8("\xD0\x96", cp1251, false), "\xC6");
}

// A file read in the fallback gets the encoding it was written in as a suggestion; a
// Latin-1 file, a forced encoding and a UTF-8 file get none.
TEST(TextEncoding, SuggestsTheEncodingALegacyFileWasWrittenIn) {
    auto fileIn = [](const std::vector<std::string>& lines, const char* name) {
        std::string text;
        for (size_t i = 0; i < 12; ++i)
            text += std::to_string(i) + "," + lines[i % lines.size()] + "\n";
        return encodeFromUTF8(std::move(text), *textEncodingNamed(name), false);
    };
    const struct {
        const char* name;
        std::vector<std::string> lines;
    } cases[] = {
        {"Shift_JIS",
         {"\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE3\x81\xAE\xE4\xBA\xBA\xE5\x8F\xA3\xE3\x81\xAF\xE3\x81\xA8"
          "\xE3\x81\xA6\xE3\x82\x82"
          "\xE5\xA4\x9A\xE3\x81\x84\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\xE3\x82\xAB\xE3\x82\xBF\xE3\x82\xAB"
          "\xE3\x83\x8A"}},
        {"windows-1251",
         {"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 "
          "\xD1\x8F\xD0\xB2\xD0\xBB\xD1\x8F\xD0\xB5\xD1\x82\xD1\x81\xD1\x8F "
          "\xD1\x81\xD1\x82\xD0\xBE\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB5\xD0\xB9 \xD0\xB8 "
          "\xD0\xBA\xD1\x80\xD1\x83\xD0\xBF\xD0\xBD\xD0\xB5\xD0\xB9\xD1\x88\xD0\xB8\xD0\xBC "
          "\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4\xD0\xBE\xD0\xBC "
          "\xD0\xA0\xD0\xBE\xD1\x81\xD1\x81\xD0\xB8\xD0\xB8",
          "\xD0\x92 \xD1\x8D\xD1\x82\xD0\xBE\xD0\xBC \xD0\xB3\xD0\xBE\xD0\xB4\xD1\x83 "
          "\xD0\xBD\xD0\xB0\xD1\x81\xD0\xB5\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5 "
          "\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4\xD0\xB0 "
          "\xD0\xB2\xD1\x8B\xD1\x80\xD0\xBE\xD1\x81\xD0\xBB\xD0\xBE \xD0\xBD\xD0\xB0 "
          "\xD1\x82\xD1\x80\xD0\xB8 \xD0\xBF\xD1\x80\xD0\xBE\xD1\x86\xD0\xB5\xD0\xBD\xD1\x82\xD0\xB0",
          "\xD0\xA7\xD1\x82\xD0\xBE \xD0\xB1\xD1\x8B\xD0\xBB\xD0\xBE "
          "\xD1\x81\xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB0\xD0\xBD\xD0\xBE \xD0\xB4\xD0\xBB\xD1\x8F "
          "\xD1\x82\xD0\xBE\xD0\xB3\xD0\xBE, \xD1\x87\xD1\x82\xD0\xBE\xD0\xB1\xD1\x8B "
          "\xD1\x8D\xD1\x82\xD0\xBE \xD0\xBD\xD0\xB5 "
          "\xD0\xBF\xD0\xBE\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBE\xD1\x81\xD1\x8C",
          "\xD0\x9E\xD0\xBD \xD1\x81\xD0\xBA\xD0\xB0\xD0\xB7\xD0\xB0\xD0\xBB, \xD1\x87\xD1\x82\xD0\xBE "
          "\xD0\xBE\xD0\xBD\xD0\xB8 \xD0\xBD\xD0\xB5 \xD0\xB7\xD0\xBD\xD0\xB0\xD0\xBB\xD0\xB8 "
          "\xD0\xBE\xD0\xB1 \xD1\x8D\xD1\x82\xD0\xBE\xD0\xBC \xD0\xB4\xD0\xBE "
          "\xD0\xBF\xD0\xBE\xD1\x81\xD0\xBB\xD0\xB5\xD0\xB4\xD0\xBD\xD0\xB5\xD0\xB3\xD0\xBE "
          "\xD0\xBC\xD0\xBE\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD0\xB0",
          "\xD0\xA1\xD0\xB0\xD0\xBD\xD0\xBA\xD1\x82-"
          "\xD0\x9F\xD0\xB5\xD1\x82\xD0\xB5\xD1\x80\xD0\xB1\xD1\x83\xD1\x80\xD0\xB3 \xD0\xB8 "
          "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD0\xB8\xD0\xB1\xD0\xB8\xD1\x80\xD1\x81\xD0\xBA "
          "\xE2\x80\x94 \xD1\x81\xD0\xB0\xD0\xBC\xD1\x8B\xD0\xB5 "
          "\xD0\xB1\xD0\xBE\xD0\xBB\xD1\x8C\xD1\x88\xD0\xB8\xD0\xB5 "
          "\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4\xD0\xB0 "
          "\xD1\x81\xD1\x82\xD1\x80\xD0\xB0\xD0\xBD\xD1\x8B"}},
        {"windows-1250",
         {"Praha je hlavn\xC3\xAD a nejv\xC4\x9Bt\xC5\xA1\xC3\xAD m\xC4\x9Bsto \xC4\x8C"
          "esk\xC3\xA9 republiky",
          "Po\xC4\x8D"
          "et obyvatel se letos zv\xC3\xBD\xC5\xA1il o t\xC5\x99i procenta",
          "\xC5\x98"
          "ekl, \xC5\xBE"
          "e o tom nev\xC4\x9B"
          "d\xC4\x9Bli a\xC5\xBE do posledn\xC3\xAD chv\xC3\xADle",
          "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88 "
          "\xC3\xBAp\xC4\x9Bl \xC4\x8F\xC3\xA1"
          "belsk\xC3\xA9 \xC3\xB3"
          "dy",
          "\xC5\xBD"
          "elezni\xC4\x8Dn\xC3\xAD p\xC5\x99"
          "ejezd v obci \xC5\xA0\xC5\xA5\xC3\xA1hlavy je uzav\xC5\x99"
          "en"}},
    };
    for (const auto& c : cases) {
        const std::string bytes = fileIn(c.lines, c.name);
        const ReadResult read = zarvel::test::readText(bytes);
        EXPECT_TRUE(read.report.format.encoding == TextEncoding::windows1252 ||
                    read.report.format.encoding == TextEncoding::isoLatin1)
            << c.name;
        EXPECT_EQ(read.report.suggestedEncoding, textEncodingNamed(c.name)) << c.name;
        ReadOptions forced;
        forced.encoding = read.report.format.encoding;
        EXPECT_EQ(zarvel::test::readText(bytes, forced).report.suggestedEncoding, std::nullopt) << c.name;
    }
    const std::string french = fileIn({"Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                                       "e, d\xC3\xA9j\xC3\xA0 vu \xC3\xA0 No\xC3\xABl"},
                                      "windows-1252");
    EXPECT_EQ(zarvel::test::readText(french).report.suggestedEncoding, std::nullopt);
    EXPECT_EQ(zarvel::test::readText("a,\xC3\xA9\n").report.suggestedEncoding, std::nullopt);
    // One byte that is no character of the candidate anywhere in the file rules it out.
    EXPECT_FALSE(decodesStrictly(fileIn({"\xE6\x9D\xB1"}, "Shift_JIS") + "\x82", TextEncoding::shiftJIS));
}

// The inspection checks 64 bytes at a time and looks closely only where that finds a
// fault; wherever faults, NULs and block boundaries fall, it must agree with checking one
// character at a time, with and without the processor's wider instructions.
TEST(UTF8, InspectionFindsTheFirstFaultAndNul) {
    const std::vector<std::string> pieces{
        std::string(40, 'a'), "a", std::string(1, '\0'), "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
        "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD",
        // ill-formed: stray continuations, impossible leads, overlongs, surrogates, past
        // U+10FFFF, sequences cut short
        "\x80", "\xBF", "\xC0\xAF", "\xC1\x80", "\xF5\x80\x80\x80", "\xFF", "\xE0\x80\x80", "\xED\xA0\x80",
        "\xF4\x90\x80\x80", "\xF0\x80\x80\x80", "\xE2\x82", "\xF0\x9F\x98"};
    auto characterLength = [](unsigned char b) -> size_t {
        return b < 0x80                 ? 1
               : b >= 0xC2 && b <= 0xDF ? 2
               : b >= 0xE0 && b <= 0xEF ? 3
               : b >= 0xF0 && b <= 0xF4 ? 4
                                        : 0;
    };
    std::mt19937 random(64);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const size_t wanted = random() % 400;
        while (text.size() < wanted) {
            const bool wellFormed = random() % 40 != 0;
            text += pieces[wellFormed ? random() % 8 : 8 + random() % (pieces.size() - 8)];
        }
        UTF8::Inspection expected;
        for (size_t i = 0; i < text.size();) {
            const size_t length = characterLength(static_cast<unsigned char>(text[i]));
            if (length == 0 || !UTF8::isValid(text.substr(i, length)) || i + length > text.size()) {
                expected.firstInvalid = i;
                break;
            }
            if (text[i] == '\0' && expected.firstNul == std::string::npos) expected.firstNul = i;
            i += length;
        }
        Processor::allowWideVectors(round % 2 == 0);
        const UTF8::Inspection found = UTF8::inspect(text);
        EXPECT_EQ(found.firstInvalid, expected.firstInvalid) << ::testing::PrintToString(text);
        EXPECT_EQ(found.firstNul, expected.firstNul) << ::testing::PrintToString(text);
        if (HasFailure()) break;
    }
    // A sequence cut short by the end of a 64-byte block, then only ASCII.
    for (const bool wide : {false, true}) {
        Processor::allowWideVectors(wide);
        for (size_t at = 58; at < 66; ++at)
            for (const std::string cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"})
                EXPECT_EQ(UTF8::inspect(std::string(at, 'a') + cut + std::string(130, 'b')).firstInvalid, at);
    }
    Processor::allowWideVectors(true);
}

TEST(UTF8, ValidationAndRepair) {
    EXPECT_TRUE(UTF8::isValid("h\xC3\xA9llo \xF0\x9F\x98\x80"));
    EXPECT_FALSE(UTF8::isValid("\xC0\xAF")) << "overlong";
    EXPECT_FALSE(UTF8::isValid("\xED\xA0\x80")) << "surrogate";
    EXPECT_FALSE(UTF8::isValid("\xF4\x90\x80\x80")) << "past U+10FFFF";
    EXPECT_FALSE(UTF8::isValid(std::string(20, 'a') + "\xE2\x82"));
    EXPECT_EQ(UTF8::repaired("a\xE2\x82"
                             "b\x80"
                             "c\xF0\x9F"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD"
              "c\xEF\xBF\xBD");
}
