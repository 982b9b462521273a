// CSVReader: the bytes of a file plus ReadOptions become a table and a read report.
//
//   ReadResult r = CSVReader::read(bytes, {});      // detect everything
//   r.table.value(1, 0);  r.report.format.dialect;  r.report.warnings;
//
// Malformed content never fails a read: it becomes a ReadWarning or is read unchanged.
// Throws CSVError fileTooLarge (more than 4,294,967,295 fields), notText (zero bytes in
// no UTF-16 pattern), undecodable(encoding), cancelled, or sourceChanged (the mapped
// file was shortened or rewritten while it was read).
// A UTF-8 file's bytes are not copied: the table's source shares `data`.
#pragma once

#include "core/ByteBuffer.h"
#include "core/CSVTable.h"
#include "core/ReadProgress.h"
#include "core/ReadReport.h"

#include <cstdint>

namespace zarvel {

struct ReadResult {
    CSVTable table;
    ReadReport report;
};

namespace CSVReader {

// With `progress`, the read reports how far it has come and throws CSVError cancelled soon
// after progress->cancel() (from any thread).
// Bytes handed over with std::move are let go as soon as they are decoded, so a file in
// another encoding is not held twice.
[[nodiscard]] ReadResult read(SharedBytes data, const ReadOptions& options = {},
                              ReadProgress* progress = nullptr);

} // namespace CSVReader
} // namespace zarvel
