// TextEncoding: the character encodings a file may use, and the conversions between
// them and the UTF-8 text the rest of the core works on.
//
// Eleven are built in, with fixed values that saved records rely on. Every other
// byte-based converter ICU offers that round-trips text is an extra encoding: its value
// (from firstExtraTextEncoding on) is only meaningful within one run of the program;
// its raw value, a standard name such as "windows-1251", is what lasts.
//
// Conversions are strict both ways: decoding a non-UTF-8 encoding fails on any
// invalid input (CSVError undecodable), encoding fails on any character the target
// cannot hold (CSVError unrepresentable). UTF-8 input is passed through unvalidated;
// the table replaces invalid sequences with U+FFFD when it decodes a cell.
#pragma once

#include "core/ByteBuffer.h"
#include "core/UTF8.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarvel {

enum class TextEncoding : uint8_t {
    utf8,
    utf16LittleEndian,
    utf16BigEndian,
    utf32LittleEndian,
    utf32BigEndian,
    windows1252,
    isoLatin1,
    isoLatin2,
    macRoman,
    shiftJIS,
    gb18030,
};

inline constexpr std::array<TextEncoding, 11> allTextEncodings{
    TextEncoding::utf8,           TextEncoding::utf16LittleEndian,
    TextEncoding::utf16BigEndian, TextEncoding::utf32LittleEndian,
    TextEncoding::utf32BigEndian, TextEncoding::windows1252,
    TextEncoding::isoLatin1,      TextEncoding::isoLatin2,
    TextEncoding::macRoman,       TextEncoding::shiftJIS,
    TextEncoding::gb18030};

inline constexpr uint8_t firstExtraTextEncoding = 11;
inline bool isExtraEncoding(TextEncoding e) {
    return static_cast<uint8_t>(e) >= firstExtraTextEncoding;
}
// The extra encodings, by display name.
const std::vector<TextEncoding>& extraTextEncodings();

// "utf8", …, "gb18030" for the built-in ones; a standard (MIME or IANA) name such as
// "windows-1251" or "EUC-JP" for the extras.
std::string_view rawValue(TextEncoding encoding);
// Exact raw values; the extras' case-insensitively.
std::optional<TextEncoding> textEncodingFromRawValue(std::string_view raw);
// A raw value, or any name ICU knows for an encoding, case-insensitively ("cp1251",
// "Shift_JIS", "latin2"): what a user may type.
std::optional<TextEncoding> textEncodingNamed(std::string_view name);
// "UTF-8", "UTF-16 LE", …, "Mac Roman", "GB 18030"; "Windows-1251", "KOI8-R", … for the extras.
std::string_view displayName(TextEncoding encoding);
// Which script or region an extra encoding serves ("Cyrillic", "Japanese"); empty for the
// built-in ones.
std::string_view encodingRegion(TextEncoding encoding);
// The ICU converter behind an encoding.
std::string_view converterName(TextEncoding encoding);
// The byte order mark; empty for the six encodings without one.
std::string_view bom(TextEncoding encoding);
inline bool supportsBOM(TextEncoding encoding) {
    return !bom(encoding).empty();
}

struct EncodingGuess {
    TextEncoding encoding = TextEncoding::utf8;
    bool hasBOM = false;
    bool operator==(const EncodingGuess&) const = default;
};

// Guesses a whole file's encoding: byte order mark first, then a census of zero
// bytes in the first 4,096 bytes, then UTF-8 validity of the whole data.
// Throws CSVError notText when zero bytes follow no UTF-16 pattern and are more than a
// few (see maxStrayZeroBytes). When the whole data was checked as UTF-8 (no byte
// order mark), `inspection` gets what that check found.
[[nodiscard]] EncodingGuess detectEncoding(std::string_view data, UTF8::Inspection* inspection = nullptr);

// Zero bytes in the first 4,096 that still leave a file text: real exports carry a
// stray NUL or two; binary files have them by the hundred.
[[nodiscard]] inline size_t maxStrayZeroBytes(size_t sampleLength) {
    return std::max<size_t>(4, sampleLength / 100);
}

bool hasPrefix(std::string_view data, std::string_view prefix);

// The file's text as UTF-8. For utf8 the result shares `data`'s buffer (only the
// byte order mark is skipped); other encodings are converted into a new buffer.
// Throws CSVError undecodable(encoding).
[[nodiscard]] SharedBytes decodeToUTF8(const SharedBytes& data, TextEncoding encoding, bool hasBOM);

// For a file that detection gave the fallback for invalid UTF-8 (windows1252 or
// isoLatin1): another encoding that ICU's charset detector ranks ahead of the fallback
// with a confidence of at least suggestionConfidence, and in which the whole data decodes
// strictly. Nothing for any other `detected` encoding.
// The detector's single-byte recognisers seldom score above 30 on real files (Czech
// Windows-1250 exports: 25 to 30); a wrong single-byte guess still has to rank first.
inline constexpr int32_t suggestionConfidence = 25;
[[nodiscard]] std::optional<TextEncoding> suggestEncoding(std::string_view data, TextEncoding detected);
// Whether the whole data decodes in `encoding` (as decodeToUTF8 would, without a mark),
// in small blocks, keeping nothing.
[[nodiscard]] bool decodesStrictly(std::string_view data, TextEncoding encoding);

// The file's bytes for UTF-8 text: the byte order mark (when asked for and the
// encoding has one), then the converted text. Throws CSVError unrepresentable(encoding).
[[nodiscard]] std::string encodeFromUTF8(std::string&& utf8, TextEncoding encoding, bool withBOM);

} // namespace zarvel
