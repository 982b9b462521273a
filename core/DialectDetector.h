// DialectDetector: how a file is delimited (sep= line, quote, escape, delimiter with a
// confidence) from a 64 KiB sample, and whether its first row is a header.
// Detection never fails; at worst it settles on the comma dialect with confidence 0.
#pragma once

#include "core/CSVDialect.h"
#include "core/CSVTable.h"
#include "core/FieldIndexer.h"
#include "core/FileFormat.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace zarvel {

struct DialectGuess {
    CSVDialect dialect;
    FileFormat::LineEnding lineEnding = FileFormat::LineEnding::lf;
    bool hasSepLine = false;
    int64_t contentStart = 0;
    double confidence = 0.0;
    double bytesPerField = 1.0;
    double bytesPerRow = 1.0;
};

namespace DialectDetector {

inline constexpr size_t sampleSize = 65'536;
inline constexpr int64_t sampleRowLimit = 200;

struct SepLine {
    uint8_t delimiter;
    int64_t contentStart;
    bool operator==(const SepLine&) const = default;
};
// A first line «sep=X» followed by a line ending or the end of the text, X being an
// ASCII byte other than a line break; the letters in either case.
[[nodiscard]] std::optional<SepLine> parseSepLine(std::string_view text);
// Whether the line is a sep= line for a dialect with this quote: one naming the quote
// character is data.
[[nodiscard]] bool namesUsableDelimiter(const SepLine& line, std::optional<uint8_t> quote);
uint8_t detectQuote(std::string_view sample);
CSVDialect::Escape detectEscape(std::string_view sample, std::optional<uint8_t> quote);
double scoreRows(const FieldIndex& index, bool sampleTruncated);
[[nodiscard]] DialectGuess detectDialect(std::string_view text,
                                         const std::optional<CSVDialect>& forcedDialect,
                                         bool recognizesSepLine = true);
[[nodiscard]] bool detectHeader(const CSVTable& table);

} // namespace DialectDetector
} // namespace zarvel
