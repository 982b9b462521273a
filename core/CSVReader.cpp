#include "core/CSVReader.h"

#include "core/CSVError.h"
#include "core/DialectDetector.h"
#include "core/FieldIndexer.h"
#include "core/TextEncoding.h"

#include <algorithm>

namespace zarvel::CSVReader {

ReadResult read(const SharedBytes& data, const ReadOptions& options) {
    if (data.size() >= sizeLimit) throw CSVError::fileTooLarge();

    EncodingGuess encoding;
    if (options.encoding) {
        encoding.encoding = *options.encoding;
        encoding.hasBOM = supportsBOM(*options.encoding) && hasPrefix(data.view(), bom(*options.encoding));
    } else {
        encoding = detectEncoding(data.view());
    }

    const SharedBytes text = decodeToUTF8(data, encoding.encoding, encoding.hasBOM);
    if (text.size() >= sizeLimit) throw CSVError::fileTooLarge();

    const DialectGuess guess = DialectDetector::detectDialect(text.view(), options.dialect, options.recognizesSepLine);

    const auto toIndex = static_cast<double>(text.size() - std::min<size_t>(text.size(), guess.contentStart));
    const auto fieldCapacity = static_cast<int64_t>(toIndex / guess.bytesPerField * 1.05);
    const auto rowCapacity = static_cast<int64_t>(toIndex / guess.bytesPerRow * 1.05);
    FieldIndexer::Result scanned =
        FieldIndexer::scan(text.bytes(), text.size(), static_cast<size_t>(guess.contentStart), guess.dialect,
                           FieldIndexer::noRowLimit, fieldCapacity, rowCapacity);

    FileFormat format;
    format.dialect = guess.dialect;
    format.encoding = encoding.encoding;
    format.hasBOM = encoding.hasBOM;
    format.lineEnding = guess.lineEnding;
    int64_t best = 0;
    for (auto e : FileFormat::allLineEndings) {
        const int64_t count = scanned.lineEndingCounts[static_cast<size_t>(e)];
        if (count > best) {
            best = count;
            format.lineEnding = e;
        }
    }
    if (best == 0 && guess.hasSepLine && guess.contentStart > 5) {
        // No row ends with a line ending, but the sep= line does: keep its ending so that
        // the file writes back as it was.
        format.lineEnding = guess.contentStart == 7 ? FileFormat::LineEnding::crlf
                            : text.view()[5] == '\r' ? FileFormat::LineEnding::cr
                                                      : FileFormat::LineEnding::lf;
    }
    format.hasHeader = false;
    format.hasSepLine = guess.hasSepLine;
    format.hasTrailingNewline = scanned.endsWithNewline;
    format.quoting = FileFormat::Quoting::minimal;

    const FieldIndex& index = scanned.index;
    int64_t ragged = 0;
    for (int64_t r = 0; r < index.rowCount(); ++r)
        if (index.fieldCount(r) != index.maxFieldCount) ++ragged;

    ReadResult result{CSVTable(text, std::move(scanned.index), format), {}};
    const bool hasHeader = options.hasHeader ? *options.hasHeader : DialectDetector::detectHeader(result.table);
    result.table.setHeaderDetected(hasHeader);
    format.hasHeader = hasHeader;

    result.report.format = format;
    result.report.warnings = std::move(scanned.warnings);
    result.report.raggedRowCount = ragged;
    result.report.confidence = result.table.rowCount() > 0 ? std::min(guess.confidence, 1.0) : 1.0;
    return result;
}

} // namespace zarvel::CSVReader
