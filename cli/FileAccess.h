// FileAccess: reading a file into a table and writing bytes to a file, with every
// failure turned into a CliError that names the file and says what went wrong.
#pragma once

#include "core/CSVError.h"
#include "core/CSVReader.h"

#include <string>
#include <string_view>

namespace zarvel::FileAccess {

// The word that stands for standard input as FILE and standard output as OUT.
inline constexpr std::string_view standardStream = "-";

// The file as error messages name it.
std::string displayName(const std::string& path, bool output);

// Reads the regular file at `path` whole, or standard input for "-" (a pipe, a
// terminal or a redirected file alike), and hands it to the reader.
ReadResult readTable(const std::string& path, const ReadOptions& options);

// Replaces (or creates) `path` with `table` written in `format`, streamed through
// SafeSave: the old file or the whole new one, never a part, with its owner,
// permissions and links kept. An interrupted write is undone before the program dies
// of the signal; a table the format cannot hold leaves the old file too.
// For "-", the bytes are streamed to standard output instead, which cannot be undone:
// a failure after the first block leaves part of the table written.
void writeTable(const std::string& path, const CSVTable& table, const FileFormat& format);

// Writes all of `bytes` to standard output; throws CliError when it cannot (a closed
// pipe included, given that SIGPIPE is ignored).
void writeStandardOutput(std::string_view bytes);

// Plain words for a reading or writing error of the core.
std::string describe(const CSVError& error);

} // namespace zarvel::FileAccess
