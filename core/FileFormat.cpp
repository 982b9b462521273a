#include "core/FileFormat.h"

namespace zarvel {

const FileFormat& FileFormat::tsv() {
    static const FileFormat format = [] {
        FileFormat f;
        f.dialect = CSVDialect::tab();
        return f;
    }();
    return format;
}

FileFormat FileFormat::excel(std::optional<char32_t> localeDecimalSeparator) {
    FileFormat f;
    f.dialect = localeDecimalSeparator == U',' ? CSVDialect::semicolon() : CSVDialect::comma();
    f.hasBOM = true;
    f.lineEnding = LineEnding::crlf;
    return f;
}

FileFormat FileFormat::applyingOutput(const FileFormat& preset) const {
    FileFormat f = preset;
    f.hasHeader = hasHeader;
    f.hasTrailingNewline = hasTrailingNewline;
    return f;
}

std::string_view rawValue(FileFormat::LineEnding e) {
    switch (e) {
    case FileFormat::LineEnding::lf:
        return "lf";
    case FileFormat::LineEnding::crlf:
        return "crlf";
    case FileFormat::LineEnding::cr:
        return "cr";
    }
    return "lf";
}

std::optional<FileFormat::LineEnding> lineEndingFromRawValue(std::string_view raw) {
    for (auto e : FileFormat::allLineEndings)
        if (rawValue(e) == raw) return e;
    return std::nullopt;
}

std::string_view displayName(FileFormat::LineEnding e) {
    switch (e) {
    case FileFormat::LineEnding::lf:
        return "LF";
    case FileFormat::LineEnding::crlf:
        return "CRLF";
    case FileFormat::LineEnding::cr:
        return "CR";
    }
    return "LF";
}

std::string_view lineEndingBytes(FileFormat::LineEnding e) {
    switch (e) {
    case FileFormat::LineEnding::lf:
        return "\n";
    case FileFormat::LineEnding::crlf:
        return "\r\n";
    case FileFormat::LineEnding::cr:
        return "\r";
    }
    return "\n";
}

std::string_view rawValue(FileFormat::Quoting q) {
    return q == FileFormat::Quoting::minimal ? "minimal" : "all";
}

std::optional<FileFormat::Quoting> quotingFromRawValue(std::string_view raw) {
    if (raw == "minimal") return FileFormat::Quoting::minimal;
    if (raw == "all") return FileFormat::Quoting::all;
    return std::nullopt;
}

} // namespace zarvel
