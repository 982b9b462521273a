// ClipboardText: a block of a table as the clipboard's tab-separated text (double
// quotes, LF after every row, valid UTF-8).
//
// The text is written straight from the table's storage, without building the block's
// strings first: measure() counts its bytes and write() fills a buffer of exactly that
// size, so a copy of a million rows holds the text once, and either pass can run on a
// worker over a snapshot and be stopped there.
#pragma once

#include "core/CSVTable.h"
#include "core/FileFormat.h"
#include "core/IndexRange.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zarvel::ClipboardText {

// The fixed format of clipboard text.
[[nodiscard]] FileFormat format();

// What is copied, in display coordinates. A copy of the table is cheap (its storage is
// shared and never changed in place), so a block taken on the main thread may be
// written on any thread.
struct Block {
    CSVTable table;
    IndexRange rows;    // display rows, already clamped to those displayed
    IndexRange columns; // columns outside the table give empty cells
    // Display row r is table row (*rowFilter)[r]; without a filter, r + firstDataRow().
    std::optional<std::vector<int64_t>> rowFilter;
    bool withColumnTitles = false;

    [[nodiscard]] int64_t lineCount() const { return rows.count() + (withColumnTitles ? 1 : 0); }
    [[nodiscard]] int64_t cellCount() const { return lineCount() * columns.count(); }
};

// Lines done so far by either pass, for a progress figure (each pass counts every line).
using LineCounter = std::atomic<int64_t>;

// The text's size in bytes; nothing when `stop` was requested before the end.
[[nodiscard]] std::optional<size_t> measure(const Block& block, std::stop_token stop = {},
                                            LineCounter* lines = nullptr);
// Writes the text into `out`, which holds exactly measure()'s bytes. False when stopped.
bool write(const Block& block, char* out, size_t size, std::stop_token stop = {},
           LineCounter* lines = nullptr);
// Both passes at once, into a string of the exact size.
[[nodiscard]] std::string text(const Block& block);

} // namespace zarvel::ClipboardText
