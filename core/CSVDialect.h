// CSVDialect: how the fields of a delimited file are separated and quoted.
//
//   CSVDialect d{Byte::semicolon, Byte::doubleQuote, CSVDialect::Escape::doubled};
//   d == CSVDialect::semicolon();   // true
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zarvel {

// The ASCII bytes the reading and writing rules talk about.
namespace Byte {
inline constexpr uint8_t lineFeed = 0x0A;
inline constexpr uint8_t carriageReturn = 0x0D;
inline constexpr uint8_t tab = 0x09;
inline constexpr uint8_t space = 0x20;
inline constexpr uint8_t doubleQuote = 0x22;
inline constexpr uint8_t singleQuote = 0x27;
inline constexpr uint8_t comma = 0x2C;
inline constexpr uint8_t colon = 0x3A;
inline constexpr uint8_t semicolon = 0x3B;
inline constexpr uint8_t backslash = 0x5C;
inline constexpr uint8_t caret = 0x5E;
inline constexpr uint8_t pipe = 0x7C;
inline constexpr uint8_t tilde = 0x7E;
} // namespace Byte

struct CSVDialect {
    enum class Escape : uint8_t { doubled, backslash };
    static constexpr std::array<Escape, 2> allEscapes{Escape::doubled, Escape::backslash};

    uint8_t delimiter = Byte::comma;
    // Absent: no quoting at all, every byte is literal.
    std::optional<uint8_t> quote = Byte::doubleQuote;
    Escape escape = Escape::doubled;

    bool operator==(const CSVDialect&) const = default;

    static constexpr CSVDialect comma() { return {Byte::comma, Byte::doubleQuote, Escape::doubled}; }
    static constexpr CSVDialect semicolon() { return {Byte::semicolon, Byte::doubleQuote, Escape::doubled}; }
    static constexpr CSVDialect tab() { return {Byte::tab, Byte::doubleQuote, Escape::doubled}; }
    static constexpr CSVDialect pipe() { return {Byte::pipe, Byte::doubleQuote, Escape::doubled}; }

    // The candidates detection tries, in tie-breaking order; also the popover's delimiter list.
    static constexpr std::array<uint8_t, 8> commonDelimiters{Byte::comma, Byte::tab,   Byte::semicolon,
                                                             Byte::pipe,  Byte::colon, Byte::caret,
                                                             Byte::tilde, Byte::space};
    // The same without space: the bytes that mark a field boundary for quote detection.
    static constexpr std::array<uint8_t, 7> nonSpaceDelimiters{
        Byte::comma, Byte::tab, Byte::semicolon, Byte::pipe, Byte::colon, Byte::caret, Byte::tilde};

    // "Tab", "Space", or the byte taken as a Unicode scalar, in UTF-8.
    static std::string displayName(uint8_t delimiter);
};

std::string_view rawValue(CSVDialect::Escape escape);
std::optional<CSVDialect::Escape> escapeFromRawValue(std::string_view raw);

} // namespace zarvel

template <> struct std::hash<zarvel::CSVDialect> {
    size_t operator()(const zarvel::CSVDialect& d) const noexcept {
        size_t h = d.delimiter;
        h = h * 1031 + (d.quote ? 256u + *d.quote : 0u);
        return h * 3 + static_cast<size_t>(d.escape);
    }
};
