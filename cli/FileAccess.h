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

// Replaces (or creates) `path` with `bytes` so that it is either the old file or the
// whole new one, never a part: the bytes go to a new file in the same folder, reach the
// disk, and only then take the name. On failure nothing is left behind.
void writeAtomically(const std::string& path, std::string_view bytes);

// Plain words for a reading or writing error of the core.
std::string describe(const CSVError& error);
// Plain words for an errno value met while opening, reading or writing a file.
std::string describeSystemError(int error);

} // namespace zarvel::FileAccess
