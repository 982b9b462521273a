// FileFormat: everything needed to write a table back as a file, and what a read found.
#pragma once

#include "core/CSVDialect.h"
#include "core/TextEncoding.h"

#include <array>
#include <optional>
#include <string_view>

namespace zarvel {

struct FileFormat {
    enum class LineEnding : uint8_t { lf, crlf, cr };
    enum class Quoting : uint8_t { minimal, all };
    static constexpr std::array<LineEnding, 3> allLineEndings{LineEnding::lf, LineEnding::crlf,
                                                              LineEnding::cr};
    static constexpr std::array<Quoting, 2> allQuotings{Quoting::minimal, Quoting::all};

    CSVDialect dialect = CSVDialect::comma();
    TextEncoding encoding = TextEncoding::utf8;
    bool hasBOM = false;
    LineEnding lineEnding = LineEnding::lf;
    bool hasHeader = true;
    bool hasSepLine = false;
    bool hasTrailingNewline = true;
    Quoting quoting = Quoting::minimal;

    bool operator==(const FileFormat&) const = default;

    static FileFormat standard() { return FileFormat{}; }
    static const FileFormat& tsv();
    // Semicolon where the locale writes decimal commas, comma otherwise; BOM and CRLF.
    static FileFormat excel(std::optional<char32_t> localeDecimalSeparator);

    // The preset's way of writing (dialect, encoding, BOM, line ending, sep= line,
    // quoting) with this format's own header and trailing-newline flags.
    FileFormat applyingOutput(const FileFormat& preset) const;
};

std::string_view rawValue(FileFormat::LineEnding e);
std::optional<FileFormat::LineEnding> lineEndingFromRawValue(std::string_view raw);
std::string_view displayName(FileFormat::LineEnding e); // "LF", "CRLF", "CR"
std::string_view lineEndingBytes(FileFormat::LineEnding e);
std::string_view rawValue(FileFormat::Quoting q);
std::optional<FileFormat::Quoting> quotingFromRawValue(std::string_view raw);

} // namespace zarvel

template <> struct std::hash<zarvel::FileFormat> {
    size_t operator()(const zarvel::FileFormat& f) const noexcept {
        size_t h = std::hash<zarvel::CSVDialect>{}(f.dialect);
        auto mix = [&h](size_t v) { h = h * 31 + v; };
        mix(static_cast<size_t>(f.encoding));
        mix(f.hasBOM);
        mix(static_cast<size_t>(f.lineEnding));
        mix(f.hasHeader);
        mix(f.hasSepLine);
        mix(f.hasTrailingNewline);
        mix(static_cast<size_t>(f.quoting));
        return h;
    }
};
