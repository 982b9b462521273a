// FileAccess: reading a file into a table and writing bytes to a file, with every
// failure turned into a CliError that names the file and says what went wrong.
#pragma once

#include "core/CSVError.h"
#include "core/CSVReader.h"

#include <string>
#include <string_view>

namespace zarvel::FileAccess {

// Reads the regular file at `path` whole and hands it to the reader.
ReadResult readTable(const std::string& path, const ReadOptions& options);

// Replaces (or creates) `path` with `table` written in `format`, streamed through
// SafeSave: the old file or the whole new one, never a part, with its owner,
// permissions and links kept. An interrupted write is undone before the program dies
// of the signal; a table the format cannot hold leaves the old file too.
void writeTable(const std::string& path, const CSVTable& table, const FileFormat& format);

// Plain words for a reading or writing error of the core.
std::string describe(const CSVError& error);

} // namespace zarvel::FileAccess
