#include "core/CSVReader.h"

#include "core/CSVError.h"
#include "core/DialectDetector.h"
#include "core/FieldIndexer.h"
#include "core/TextEncoding.h"

#include <algorithm>
#include <cstring>

namespace zarvel::CSVReader {

namespace {

// Names up to maxTextProblemRows rows that hold a problem of the text itself. `next(from)`
// gives the offset of the next such byte at or after `from`, npos when there is none.
template <typename Next>
void warnTextProblemRows(const FieldIndex& index, size_t contentStart, ReadWarning::Kind kind, Next&& next,
                         std::vector<ReadWarning>& out) {
    const auto& ends = index.rowContentEnds;
    size_t found = 0;
    for (size_t offset = next(contentStart);
         offset != std::string_view::npos && found < maxTextProblemRows;) {
        const size_t row = ends.upperBound(offset);
        if (row >= ends.size()) break;
        out.push_back({kind, static_cast<int64_t>(row)});
        ++found;
        offset = next(static_cast<size_t>(ends[row]));
    }
}

// The quote warnings come first in the report's count, but never crowd out the text
// problems, which are fewer and say what saving will change.
std::vector<ReadWarning> mergedWarnings(std::vector<ReadWarning> quoting, std::vector<ReadWarning> text) {
    if (text.empty()) return quoting;
    if (quoting.size() + text.size() > maxReadWarnings) quoting.resize(maxReadWarnings - text.size());
    quoting.insert(quoting.end(), text.begin(), text.end());
    std::stable_sort(quoting.begin(), quoting.end(),
                     [](const ReadWarning& a, const ReadWarning& b) { return a.row < b.row; });
    return quoting;
}

} // namespace

ReadResult read(SharedBytes data, const ReadOptions& options, ReadProgress* progress) {
    auto checkCancelled = [progress] {
        if (progress && progress->isCancelled()) throw CSVError::cancelled();
    };
    checkCancelled();

    EncodingGuess encoding;
    std::optional<UTF8::Inspection> inspection;
    if (options.encoding) {
        encoding.encoding = *options.encoding;
        encoding.hasBOM = supportsBOM(*options.encoding) && hasPrefix(data.view(), bom(*options.encoding));
    } else {
        UTF8::Inspection found;
        encoding = detectEncoding(data.view(), &found);
        if (encoding.encoding == TextEncoding::utf8 && !encoding.hasBOM) inspection = found;
    }

    const SharedBytes text = decodeToUTF8(data, encoding.encoding, encoding.hasBOM);
    std::optional<TextEncoding> suggested;
    if (!options.encoding) suggested = suggestEncoding(data.view(), encoding.encoding);
    if (!text.sharesStorageWith(data)) {
        if (!data.isIntact()) throw CSVError::sourceChanged();
        data = SharedBytes(); // decoded: the text is all that is needed now
    }
    if (progress) progress->bytesTotal.store(text.size(), std::memory_order_relaxed);
    checkCancelled();
    // Other encodings were decoded strictly, so only UTF-8 can hold ill-formed bytes.
    if (!inspection) {
        if (encoding.encoding == TextEncoding::utf8) {
            inspection = UTF8::inspect(text.view());
        } else {
            inspection.emplace();
            if (const void* nul = std::memchr(text.data(), 0, text.size()))
                inspection->firstNul = static_cast<size_t>(static_cast<const char*>(nul) - text.data());
        }
    }

    const DialectGuess guess =
        DialectDetector::detectDialect(text.view(), options.dialect, options.recognizesSepLine);

    const auto toIndex = static_cast<double>(text.size() - std::min<size_t>(text.size(), guess.contentStart));
    const auto fieldCapacity = static_cast<int64_t>(toIndex / guess.bytesPerField * 1.05);
    const auto rowCapacity = static_cast<int64_t>(toIndex / guess.bytesPerRow * 1.05);
    FieldIndexer::Result scanned =
        FieldIndexer::scan(text.bytes(), text.size(), static_cast<size_t>(guess.contentStart), guess.dialect,
                           FieldIndexer::noRowLimit, fieldCapacity, rowCapacity, progress);
    if (progress) {
        progress->bytesDone.store(text.size(), std::memory_order_relaxed);
        progress->rowsDone.store(scanned.index.rowCount(), std::memory_order_relaxed);
    }

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
        format.lineEnding = guess.contentStart == 7  ? FileFormat::LineEnding::crlf
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
    const bool hasHeader =
        options.hasHeader ? *options.hasHeader : DialectDetector::detectHeader(result.table);
    result.table.setHeaderDetected(hasHeader);
    format.hasHeader = hasHeader;

    std::vector<ReadWarning> textProblems;
    const std::string_view view = text.view();
    const auto start = static_cast<size_t>(guess.contentStart);
    if (!inspection->valid()) {
        warnTextProblemRows(
            result.table.index(), start, ReadWarning::Kind::invalidUTF8,
            [&](size_t from) {
                if (from >= view.size()) return std::string_view::npos;
                const size_t at = UTF8::inspect(view.substr(from)).firstInvalid;
                return at == std::string_view::npos ? at : from + at;
            },
            textProblems);
    }
    // A NUL after the first ill-formed byte was not looked for: look again from there.
    if (inspection->firstNul != std::string_view::npos || !inspection->valid()) {
        warnTextProblemRows(
            result.table.index(), start, ReadWarning::Kind::nulByte,
            [&](size_t from) {
                if (from >= view.size()) return std::string_view::npos;
                return view.find('\0', from);
            },
            textProblems);
    }

    result.report.format = format;
    result.report.warnings = mergedWarnings(std::move(scanned.warnings), std::move(textProblems));
    result.report.raggedRowCount = ragged;
    result.report.confidence = result.table.rowCount() > 0 ? std::min(guess.confidence, 1.0) : 1.0;
    result.report.suggestedEncoding = suggested;
    if (!data.isIntact()) throw CSVError::sourceChanged();
    return result;
}

} // namespace zarvel::CSVReader
