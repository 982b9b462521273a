// ReadWarning, ReadOptions and ReadReport: what a read was told to force and what it found.
#pragma once

#include "core/FileFormat.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zarvel {

struct ReadWarning {
    enum class Kind : uint8_t { unclosedQuote, textAfterClosingQuote };
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
};

struct ReadReport {
    FileFormat format;
    double confidence = 1.0;
    std::vector<ReadWarning> warnings; // file order, at most maxReadWarnings
    int64_t raggedRowCount = 0;
    bool operator==(const ReadReport&) const = default;
};

inline constexpr size_t maxReadWarnings = 100;

} // namespace zarvel
