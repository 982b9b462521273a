// OptionValues: turns the words given on the command line into the core's values, and
// the options of a command into ReadOptions and an output FileFormat.
//
// Every function throws CliError::usage with a message that names the option.
#pragma once

#include "core/FileFormat.h"
#include "core/ReadReport.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zarvel {

// How a file is read: each given option is forced, the rest detected.
struct ReadArguments {
    std::string file;
    std::optional<std::string> encoding;
    std::optional<std::string> delimiter;
    std::optional<std::string> quote;
    std::optional<std::string> escape;
    std::optional<std::string> header;
};

// How a file is written: each given option changes the format the file was read in.
struct WriteArguments {
    std::string output;
    std::optional<std::string> delimiter;
    std::optional<std::string> quote;
    std::optional<std::string> escape;
    std::optional<std::string> encoding;
    std::optional<std::string> bom;
    std::optional<std::string> lineEnding;
    std::optional<std::string> quoting;
    std::optional<std::string> sepLine;
    std::optional<std::string> trailingNewline;
};

namespace OptionValues {

// One ASCII character other than a line break; the words "tab" and "space" too.
uint8_t delimiter(const std::string& text, const std::string& option);
// One ASCII character other than a line break, or "none".
std::optional<uint8_t> quote(const std::string& text, const std::string& option);
CSVDialect::Escape escape(const std::string& text, const std::string& option);
TextEncoding encoding(const std::string& text, const std::string& option);
bool yesNo(const std::string& text, const std::string& option);
FileFormat::LineEnding lineEnding(const std::string& text, const std::string& option);
FileFormat::Quoting quoting(const std::string& text, const std::string& option);

ReadOptions readOptions(const ReadArguments& arguments);
// `format` changed by the write options.
FileFormat outputFormat(FileFormat format, const WriteArguments& arguments);
// Checks each write option on its own, before a file is read for nothing.
void checkWriteArguments(const WriteArguments& arguments);

// The raw values of the built-in encodings, comma-separated, for help and error texts.
std::string encodingList();

} // namespace OptionValues
} // namespace zarvel
