#include "core/CSVDialect.h"

#include "core/UTF8.h"

namespace zarvel {

std::string CSVDialect::displayName(uint8_t delimiter) {
    if (delimiter == Byte::tab) return "Tab";
    if (delimiter == Byte::space) return "Space";
    std::string s;
    UTF8::appendScalar(s, delimiter);
    return s;
}

std::string_view rawValue(CSVDialect::Escape escape) {
    return escape == CSVDialect::Escape::doubled ? "doubled" : "backslash";
}

std::optional<CSVDialect::Escape> escapeFromRawValue(std::string_view raw) {
    if (raw == "doubled") return CSVDialect::Escape::doubled;
    if (raw == "backslash") return CSVDialect::Escape::backslash;
    return std::nullopt;
}

} // namespace zarvel
