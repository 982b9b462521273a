// UTF8: validation and repair of UTF-8 byte strings.
//
// Repair follows the Unicode "maximal subpart" practice: each maximal prefix of a
// valid sequence that cannot be completed becomes one U+FFFD, so «a\xE2\x82b» reads
// as «a�b» and a stray continuation byte is one U+FFFD of its own.
#pragma once

#include <string>
#include <string_view>

namespace zarvel::UTF8 {

// Well-formed: no overlongs, no surrogates, nothing past U+10FFFF. One pass, no allocation.
[[nodiscard]] bool isValid(std::string_view bytes);

// What a file's text holds that a user should hear of: the first ill-formed sequence
// and the first NUL byte (npos when none). One pass that stops at the first ill-formed
// sequence, so `firstNul` covers the bytes before it.
struct Inspection {
    size_t firstInvalid = std::string_view::npos;
    size_t firstNul = std::string_view::npos;
    [[nodiscard]] bool valid() const { return firstInvalid == std::string_view::npos; }
};
[[nodiscard]] Inspection inspect(std::string_view bytes);

// Appends `bytes` to `out` with every ill-formed subsequence replaced by U+FFFD.
void appendRepaired(std::string& out, std::string_view bytes);
[[nodiscard]] inline std::string repaired(std::string_view bytes) {
    std::string out;
    appendRepaired(out, bytes);
    return out;
}

// Decodes the scalar at `pos` (advancing `pos`); ill-formed input yields U+FFFD and
// advances by its maximal subpart. `pos` must be below bytes.size().
char32_t decodeNext(std::string_view bytes, size_t& pos);
void appendScalar(std::string& out, char32_t scalar);

} // namespace zarvel::UTF8
