// JsonWriter: streams JSON (or plain) text to standard output through one buffer, so
// that neither the cells of a file of millions of rows nor the facts about a row of
// millions of columns ever exist as one document in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zarvel {

class JsonWriter {
public:
    JsonWriter() { buffer_.reserve(flushSize + 4096); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    // A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
    void string(std::string_view text);
    void integer(int64_t value);
    // The shortest text that reads back as the same double, "1.0" rather than "1".
    void number(double value) { raw(numberText(value)); }
    static std::string numberText(double value);
    // Punctuation and other text taken as it is.
    void raw(std::string_view text) {
        buffer_ += text;
        flushIfFull();
    }
    void raw(char c) {
        buffer_ += c;
        flushIfFull();
    }

    // Writes what is buffered; throws CliError when the output cannot be written.
    void finish();

    static void appendString(std::string& out, std::string_view text);

private:
    static constexpr size_t flushSize = 1 << 20;
    void flushIfFull() {
        if (buffer_.size() >= flushSize) flush();
    }
    void flush();

    std::string buffer_;
};

} // namespace zarvel
