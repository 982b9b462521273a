// ReadWarning, ReadOptions and ReadReport: what a read was told to force and what it found.
#pragma once

#include "core/FileFormat.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zarvel {

struct ReadWarning {
    enum class Kind : uint8_t {
        unclosedQuote,
        textAfterClosingQuote,
        // Bytes that are not UTF-8 in a UTF-8 file: shown, and saved, as U+FFFD wherever
        // their row is written afresh.
        invalidUTF8,
        // A NUL byte in a text file: kept as it is.
        nulByte,
    };
    Kind kind = Kind::unclosedQuote;
    // Zero-based row of the file (header row included, sep= line not counted).
    int64_t row = 0;
    bool operator==(const ReadWarning&) const = default;
};

// Fields the caller forces instead of letting the reader detect them.
struct ReadOptions {
    std::optional<TextEncoding> encoding;
    std::optional<CSVDialect> dialect;
    std::optional<bool> hasHeader;
    // Off for text that is never a file (the clipboard): a first line «sep=;» is data.
    bool recognizesSepLine = true;
    bool operator==(const ReadOptions&) const = default;

    // Reading bytes back exactly as they were written in `format`.
    static ReadOptions forcing(const FileFormat& format, bool recognizesSepLine = true) {
        ReadOptions o;
        o.encoding = format.encoding;
        o.dialect = format.dialect;
        o.hasHeader = format.hasHeader;
        o.recognizesSepLine = recognizesSepLine;
        return o;
    }
};

struct ReadReport {
    FileFormat format;
    double confidence = 1.0;
    std::vector<ReadWarning> warnings; // file order, at most maxReadWarnings
    int64_t raggedRowCount = 0;
    // Set only when the file was read in the fallback for invalid UTF-8 and another
    // encoding fits it better (suggestEncoding).
    std::optional<TextEncoding> suggestedEncoding;
    bool operator==(const ReadReport&) const = default;
};

inline constexpr size_t maxReadWarnings = 100;
// Rows named per kind of problem found in the text itself (invalid UTF-8, NUL bytes).
inline constexpr size_t maxTextProblemRows = 10;

} // namespace zarvel
