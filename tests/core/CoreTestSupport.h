// Small helpers shared by the core tests.
#pragma once

#include "core/CSVReader.h"
#include "core/CSVTable.h"
#include "core/CSVWriter.h"
#include "core/FieldIndexer.h"

#include <string>
#include <string_view>

namespace zarvel::test {

inline ReadResult readText(std::string_view bytes, const ReadOptions& options = {}) {
    return CSVReader::read(SharedBytes::copyOf(bytes), options);
}

inline CSVTable indexedTable(std::string_view text, const CSVDialect& dialect = CSVDialect::comma(),
                             bool header = false) {
    FileFormat format;
    format.dialect = dialect;
    format.hasHeader = header;
    auto source = SharedBytes::copyOf(text);
    auto scanned = FieldIndexer::scan(source.view(), 0, dialect);
    return CSVTable(source, std::move(scanned.index), format);
}

inline std::string roundTrip(std::string_view bytes, const ReadOptions& options = {}) {
    ReadResult r = readText(bytes, options);
    return CSVWriter::write(r.table, r.report.format);
}

} // namespace zarvel::test
