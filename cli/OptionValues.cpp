#include "cli/OptionValues.h"

#include "cli/CliError.h"
#include "core/TextEncoding.h"

namespace zarvel::OptionValues {
namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A single byte that may separate or quote fields: ASCII, and not a line break, which
// would end the row instead.
std::optional<uint8_t> singleCharacter(const std::string& text) {
    if (text.size() != 1) return std::nullopt;
    const auto byte = static_cast<uint8_t>(text[0]);
    if (byte >= 0x80 || byte == Byte::lineFeed || byte == Byte::carriageReturn) return std::nullopt;
    return byte;
}

} // namespace

uint8_t delimiter(const std::string& text, const std::string& option) {
    if (text == "tab") return Byte::tab;
    if (text == "space") return Byte::space;
    if (const auto byte = singleCharacter(text)) return *byte;
    throw CliError::usage(option + ": " + quoted(text) +
                          " is not a delimiter (give one ASCII character, \"tab\" or \"space\")");
}

std::optional<uint8_t> quote(const std::string& text, const std::string& option) {
    if (text == "none") return std::nullopt;
    if (const auto byte = singleCharacter(text)) return *byte;
    throw CliError::usage(option + ": " + quoted(text) +
                          " is not a quote character (give one ASCII character or \"none\")");
}

CSVDialect::Escape escape(const std::string& text, const std::string& option) {
    if (const auto value = escapeFromRawValue(text)) return *value;
    throw CliError::usage(option + ": " + quoted(text) +
                          " is not an escape style (give \"doubled\" or \"backslash\")");
}

TextEncoding encoding(const std::string& text, const std::string& option) {
    if (const auto value = textEncodingNamed(text)) return *value;
    throw CliError::usage(option + ": unknown encoding " + quoted(text) + " (give one of " + encodingList() +
                          ", or a standard name such as windows-1251)");
}

bool yesNo(const std::string& text, const std::string& option) {
    if (text == "yes") return true;
    if (text == "no") return false;
    throw CliError::usage(option + ": give \"yes\" or \"no\", not " + quoted(text));
}

FileFormat::LineEnding lineEnding(const std::string& text, const std::string& option) {
    if (const auto value = lineEndingFromRawValue(text)) return *value;
    throw CliError::usage(option + ": " + quoted(text) +
                          " is not a line ending (give \"lf\", \"crlf\" or \"cr\")");
}

FileFormat::Quoting quoting(const std::string& text, const std::string& option) {
    if (const auto value = quotingFromRawValue(text)) return *value;
    throw CliError::usage(option + ": " + quoted(text) +
                          " is not a quoting style (give \"minimal\" or \"all\")");
}

ReadOptions readOptions(const ReadArguments& arguments) {
    ReadOptions options;
    if (arguments.encoding) options.encoding = encoding(*arguments.encoding, "--encoding");
    if (arguments.delimiter) {
        CSVDialect dialect{delimiter(*arguments.delimiter, "--delimiter"), Byte::doubleQuote,
                           CSVDialect::Escape::doubled};
        if (arguments.quote) dialect.quote = quote(*arguments.quote, "--quote");
        if (arguments.escape) dialect.escape = escape(*arguments.escape, "--escape");
        if (dialect.quote == dialect.delimiter)
            throw CliError::usage(
                arguments.quote
                    ? "--quote: the quote character must differ from the delimiter"
                    : "--delimiter: \" is the quote character; give another --quote, or --quote none");
        options.dialect = dialect;
    } else if (arguments.quote || arguments.escape) {
        // The reader is forced a whole dialect or none: quote and escape alone have no
        // delimiter to go with.
        throw CliError::usage(std::string(arguments.quote ? "--quote" : "--escape") + " needs --delimiter");
    }
    if (arguments.header) options.hasHeader = yesNo(*arguments.header, "--header");
    return options;
}

FileFormat outputFormat(FileFormat format, const WriteArguments& arguments) {
    if (arguments.delimiter) format.dialect.delimiter = delimiter(*arguments.delimiter, "--to-delimiter");
    if (arguments.quote) format.dialect.quote = quote(*arguments.quote, "--to-quote");
    if (arguments.escape) format.dialect.escape = escape(*arguments.escape, "--to-escape");
    if (format.dialect.quote == format.dialect.delimiter)
        throw CliError::usage(arguments.quote
                                  ? "--to-quote: the quote character must differ from the delimiter"
                                  : "--to-delimiter: the file's quote character is the same; give another "
                                    "--to-quote, or --to-quote none");
    // With the backslash both quote and escape, a backslash in a value has no spelling.
    if (format.dialect.quote == Byte::backslash && format.dialect.escape == CSVDialect::Escape::backslash)
        throw CliError::usage(
            "--to-quote: a backslash cannot be the quote character when backslashes escape");
    if (arguments.encoding) format.encoding = encoding(*arguments.encoding, "--to-encoding");
    if (arguments.bom) format.hasBOM = yesNo(*arguments.bom, "--bom");
    if (arguments.lineEnding) format.lineEnding = lineEnding(*arguments.lineEnding, "--line-ending");
    if (arguments.quoting) format.quoting = quoting(*arguments.quoting, "--quoting");
    if (arguments.sepLine) format.hasSepLine = yesNo(*arguments.sepLine, "--sep-line");
    if (arguments.trailingNewline)
        format.hasTrailingNewline = yesNo(*arguments.trailingNewline, "--trailing-newline");
    return format;
}

void checkWriteArguments(const WriteArguments& arguments) {
    if (arguments.delimiter) delimiter(*arguments.delimiter, "--to-delimiter");
    if (arguments.quote) quote(*arguments.quote, "--to-quote");
    if (arguments.delimiter && arguments.quote &&
        delimiter(*arguments.delimiter, "--to-delimiter") == quote(*arguments.quote, "--to-quote"))
        throw CliError::usage("--to-quote: the quote character must differ from the delimiter");
    // The rest does not depend on the file, so outputFormat checks it in full.
    WriteArguments rest = arguments;
    rest.delimiter.reset();
    rest.quote.reset();
    outputFormat(FileFormat::standard(), rest);
}

std::string encodingList() {
    std::string list;
    for (const TextEncoding e : allTextEncodings) {
        if (!list.empty()) list += ", ";
        list += rawValue(e);
    }
    return list;
}

} // namespace zarvel::OptionValues
