#include "cli/JsonWriter.h"

#include "cli/FileAccess.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace zarvel {

void JsonWriter::appendString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    size_t plainStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
        out.append(text.substr(plainStart, i - plainStart));
        plainStart = i + 1;
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    out.append(text.substr(plainStart));
    out += '"';
}

void JsonWriter::string(std::string_view text) {
    appendString(buffer_, text);
    flushIfFull();
}

void JsonWriter::integer(int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, result.ptr);
    flushIfFull();
}

std::string JsonWriter::numberText(double value) {
    return nlohmann::json(value).dump();
}

void JsonWriter::flush() {
    FileAccess::writeStandardOutput(buffer_);
    buffer_.clear();
}

void JsonWriter::finish() {
    flush();
}

} // namespace zarvel
