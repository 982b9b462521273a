// Commands: what each subcommand of zarvel-cli does once its options are parsed.
// Each throws CliError; none prints to standard output before the file is read, and
// only writing to standard output can fail after that.
#pragma once

#include "cli/OptionValues.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zarvel::Commands {

struct SortArguments {
    int64_t column = 0;
    bool descending = false;
    std::optional<std::string> kind;
};

// How the file is written and what the read found: one line of JSON, or with `text`
// aligned "key: value" lines for a person.
void info(const ReadArguments& read, bool text);
// The stored rows as a JSON array of arrays of cell values.
void cells(const ReadArguments& read);
// The file written again in the read format changed by the write options.
void convert(const ReadArguments& read, const WriteArguments& write);
// The cells containing `query` (or matched by it as a regular expression with `regex`),
// as a JSON array of [row, column] pairs. An invalid pattern is a usage error.
void find(const ReadArguments& read, const std::string& query, bool caseSensitive, bool regex = false);
struct FilterArguments {
    std::string query;
    bool caseSensitive = false;
    bool regex = false;
};

// The file written with its header row and only the data rows holding a cell that
// matches (as find() matches); unedited rows go out byte for byte when the format stays.
void filter(const ReadArguments& read, const WriteArguments& write, const FilterArguments& filter);
// The file written with its data rows sorted by one column.
void sort(const ReadArguments& read, const WriteArguments& write, const SortArguments& sort);

} // namespace zarvel::Commands
