// CSVWriter: a table becomes the bytes of a file in a given format.
//
// When the output dialect is the table's source dialect and quoting is minimal, every
// untouched row is copied from the source bytes unchanged (its quoting, spacing and
// escapes kept), so an opened and saved file is byte-identical apart from normalised
// line endings. Every other row is quoted and escaped afresh.
//
// The only error is CSVError unrepresentable(encoding) from the final encoding step;
// nothing is produced then.
#pragma once

#include "core/CSVTable.h"
#include "core/FileFormat.h"

#include <string>
#include <string_view>

namespace zarvel::CSVWriter {

std::string write(const CSVTable& table, const FileFormat& format);

void appendRow(const StringRow& values, const CSVDialect& dialect, FileFormat::Quoting quoting, std::string& output);
void appendField(std::string_view value, const CSVDialect& dialect, FileFormat::Quoting quoting, std::string& output);
bool needsQuotes(std::string_view value, const CSVDialect& dialect);

} // namespace zarvel::CSVWriter
