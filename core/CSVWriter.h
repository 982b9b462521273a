// CSVWriter: a table becomes the bytes of a file in a given format.
//
// What is written always reads back, in the output format, as exactly the table's
// cells. When the output dialect is the table's source dialect and quoting is minimal,
// every untouched row is copied from the source bytes unchanged (its quoting, spacing
// and escapes kept), so an opened and saved file is byte-identical apart from
// normalised line endings. A row holding an unclosed quote is copied only while every
// row after it is still the file's own; once they change it is quoted afresh, since a
// quote written after it would close it. Every other row is quoted and escaped afresh.
//
// The only error is CSVError unrepresentable: a character the encoding cannot hold, or
// a cell the format cannot spell (the delimiter or a line break without a quote
// character, and the like; the error names the first such cell). Nothing is produced
// then.
#pragma once

#include "core/CSVTable.h"
#include "core/FileFormat.h"

#include <functional>
#include <string>
#include <string_view>

namespace zarvel::CSVWriter {

[[nodiscard]] std::string write(const CSVTable& table, const FileFormat& format);

// Receives a file's bytes block by block, in order.
using ByteSink = std::function<void(std::string_view)>;
inline constexpr size_t defaultBlockSize = 1 << 20;
// The same bytes, handed to `sink` in blocks of about `blockSize` bytes that each end at
// a row boundary, so that memory stays small whatever the table's size. A CSVError may
// come after some blocks: the bytes passed until then are no file, and the caller
// drops them.
void write(const CSVTable& table, const FileFormat& format, const ByteSink& sink,
           size_t blockSize = defaultBlockSize);

[[nodiscard]] bool needsQuotes(std::string_view value, const CSVDialect& dialect);

// `value` between the dialect's quotes, escaped. `out` is a std::string or anything with
// push_back(char) and append(std::string_view).
template <class Out> void appendQuoted(std::string_view value, const CSVDialect& dialect, Out& out) {
    const char Q = static_cast<char>(*dialect.quote);
    const bool backslash = dialect.escape == CSVDialect::Escape::backslash;
    out.push_back(Q);
    for (char c : value) {
        if (c == Q) {
            out.push_back(backslash ? '\\' : Q);
        } else if (backslash && c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back(Q);
}

// Field rules alone: a value a dialect without a quote cannot hold is appended as it is.
template <class Out>
void appendField(std::string_view value, const CSVDialect& dialect, FileFormat::Quoting quoting, Out& out) {
    if (!dialect.quote || (quoting == FileFormat::Quoting::minimal && !needsQuotes(value, dialect))) {
        out.append(value);
        return;
    }
    appendQuoted(value, dialect, out);
}

} // namespace zarvel::CSVWriter
