#include "core/DialectDetector.h"

#include "core/ColumnKindDetector.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

namespace zarvel::DialectDetector {

namespace {

bool isBoundaryByte(uint8_t b) {
    if (b == Byte::lineFeed || b == Byte::carriageReturn) return true;
    const auto& d = CSVDialect::nonSpaceDelimiters;
    return std::find(d.begin(), d.end(), b) != d.end();
}

} // namespace

std::optional<SepLine> parseSepLine(std::string_view text) {
    if (text.size() < 5) return std::nullopt;
    auto is = [&](size_t i, char lower) { return text[i] == lower || text[i] == lower - 32; };
    if (!is(0, 's') || !is(1, 'e') || !is(2, 'p') || text[3] != '=') return std::nullopt;
    const auto delimiter = static_cast<uint8_t>(text[4]);
    // A line break cannot delimit: «sep=» before a line ending is data.
    if (delimiter >= 0x80 || delimiter == Byte::lineFeed || delimiter == Byte::carriageReturn)
        return std::nullopt;
    if (text.size() == 5) return SepLine{delimiter, 5};
    if (text[5] == '\n') return SepLine{delimiter, 6};
    if (text[5] == '\r') return SepLine{delimiter, text.size() > 6 && text[6] == '\n' ? 7 : 6};
    return std::nullopt;
}

bool namesUsableDelimiter(const SepLine& line, std::optional<uint8_t> quote) {
    return line.delimiter != quote;
}

uint8_t detectQuote(std::string_view sample) {
    int64_t doubles = 0, singles = 0;
    uint8_t previous = Byte::lineFeed;
    for (char c : sample) {
        const auto b = static_cast<uint8_t>(c);
        if ((b == Byte::doubleQuote || b == Byte::singleQuote) && isBoundaryByte(previous))
            ++(b == Byte::doubleQuote ? doubles : singles);
        previous = b;
    }
    return singles > 2 * doubles ? Byte::singleQuote : Byte::doubleQuote;
}

CSVDialect::Escape detectEscape(std::string_view sample, std::optional<uint8_t> quote) {
    if (!quote || sample.size() < 3) return CSVDialect::Escape::doubled;
    const uint8_t Q = *quote;
    int64_t backslashEscapes = 0, doubledQuotes = 0;
    const auto at = [&](size_t i) { return static_cast<uint8_t>(sample[i]); };
    for (size_t i = 1; i + 2 <= sample.size(); ++i) {
        if (at(i) != Q) continue;
        if (at(i - 1) == Byte::backslash) ++backslashEscapes;
        if (i + 1 < sample.size() && at(i + 1) == Q && i + 2 < sample.size() && !isBoundaryByte(at(i - 1)) &&
            !isBoundaryByte(at(i + 2)))
            ++doubledQuotes;
    }
    return backslashEscapes > 0 && doubledQuotes == 0 ? CSVDialect::Escape::backslash
                                                      : CSVDialect::Escape::doubled;
}

double scoreRows(const FieldIndex& index, bool sampleTruncated) {
    int64_t n = index.rowCount();
    if (sampleTruncated && n >= 2) --n;
    if (n == 0) return 0.0;
    std::unordered_map<int64_t, int64_t> rowsWithCount;
    for (int64_t r = 0; r < n; ++r)
        ++rowsWithCount[index.fieldCount(r)];
    int64_t modal = 0, modalRows = 0;
    for (const auto& [fields, rows] : rowsWithCount) {
        if (rows > modalRows || (rows == modalRows && fields > modal)) {
            modal = fields;
            modalRows = rows;
        }
    }
    if (modal < 2) return 0.0;
    return static_cast<double>(modalRows) / static_cast<double>(n) +
           static_cast<double>(std::min<int64_t>(modal, 50)) / 10'000.0;
}

DialectGuess detectDialect(std::string_view text, const std::optional<CSVDialect>& forcedDialect,
                           bool recognizesSepLine) {
    DialectGuess guess;
    std::optional<SepLine> sepLine = recognizesSepLine ? parseSepLine(text) : std::nullopt;
    // A sep= line naming the quote character cannot be meant: the byte would both
    // delimit and quote. Such a first line is data, and the quote stays the one that
    // made it so (the writer decides by the same rule).
    std::optional<uint8_t> quoteNamedBySepLine;
    if (sepLine) {
        const std::optional<uint8_t> quote =
            forcedDialect ? forcedDialect->quote
                          : std::optional<uint8_t>(detectQuote(
                                text.substr(static_cast<size_t>(sepLine->contentStart), sampleSize)));
        if (!namesUsableDelimiter(*sepLine, quote)) {
            quoteNamedBySepLine = quote;
            sepLine.reset();
        }
    }
    const bool sep = sepLine.has_value();
    const uint8_t sepDelimiter = sep ? sepLine->delimiter : 0;
    guess.hasSepLine = sep;
    guess.contentStart = sep ? sepLine->contentStart : 0;
    const auto start = static_cast<size_t>(guess.contentStart);
    const std::string_view sample = text.substr(start, sampleSize);
    const bool truncated = start + sampleSize < text.size();

    FieldIndexer::Result chosen;
    if (forcedDialect) {
        guess.dialect = *forcedDialect;
        chosen = FieldIndexer::scan(sample, 0, guess.dialect, sampleRowLimit);
        guess.confidence = 1.0;
    } else {
        const uint8_t quote = quoteNamedBySepLine ? *quoteNamedBySepLine : detectQuote(sample);
        const CSVDialect::Escape escape = detectEscape(sample, quote);
        chosen = FieldIndexer::scan(sample, 0, CSVDialect::comma(), sampleRowLimit);
        guess.dialect = CSVDialect::comma();
        double bestScore = 0.0;
        for (uint8_t candidate : CSVDialect::commonDelimiters) {
            if (sep && candidate != sepDelimiter) continue;
            const CSVDialect dialect{candidate, quote, escape};
            FieldIndexer::Result result = FieldIndexer::scan(sample, 0, dialect, sampleRowLimit);
            double score = scoreRows(result.index, truncated);
            if (candidate == Byte::colon) score *= 0.9;
            if (candidate == Byte::space) score *= 0.8;
            if (score > bestScore) {
                bestScore = score;
                guess.dialect = dialect;
                chosen = std::move(result);
            }
        }
        guess.confidence = bestScore;
        if (sep) {
            // The sep= line names the delimiter whatever its score, also when it is not
            // one of the common candidates.
            guess.dialect = CSVDialect{sepDelimiter, quote, escape};
            chosen = FieldIndexer::scan(sample, 0, guess.dialect, sampleRowLimit);
            guess.confidence = 1.0;
        }
    }

    const auto& counts = chosen.lineEndingCounts;
    int64_t best = 0;
    for (auto e : FileFormat::allLineEndings) {
        if (counts[static_cast<size_t>(e)] > best) {
            best = counts[static_cast<size_t>(e)];
            guess.lineEnding = e;
        }
    }
    const FieldIndex& index = chosen.index;
    double spanned = index.rowCount() > 0 ? static_cast<double>(index.rowContentEnds.back())
                                          : static_cast<double>(sample.size());
    spanned = std::max(spanned, 1.0);
    guess.bytesPerField = spanned / static_cast<double>(std::max<size_t>(index.fieldStarts.size(), 1));
    guess.bytesPerRow = spanned / static_cast<double>(std::max<int64_t>(index.rowCount(), 1));
    return guess;
}

bool detectHeader(const CSVTable& table) {
    if (table.rowCount() < 2) return true;
    const StringRow first = table.values(0);
    std::set<std::string_view> seen;
    size_t nonEmpty = 0;
    for (const auto& cell : first) {
        if (cell.empty()) continue;
        ++nonEmpty;
        if (!seen.insert(cell).second) return false;
    }
    if (first.size() > 2 * nonEmpty) return false;

    int64_t votesFor = 0, votesAgainst = 0;
    const int64_t lastRow = std::min<int64_t>(table.rowCount(), 51);
    for (int64_t c = 0; c < table.columnCount(); ++c) {
        int64_t cells = 0, numbers = 0;
        for (int64_t r = 1; r < lastRow; ++r) {
            const std::string v = table.value(r, c);
            if (v.empty()) continue;
            ++cells;
            if (numericValue(v)) ++numbers;
        }
        if (cells > 0 && numbers * 10 >= cells * 8) {
            if (numericValue(first[static_cast<size_t>(c)]))
                ++votesAgainst;
            else
                ++votesFor;
        }
    }
    if (votesFor + votesAgainst > 0) return votesFor >= votesAgainst;
    if (first.empty()) return true;
    for (const auto& cell : first)
        if (numericValue(cell)) return false;
    return true;
}

} // namespace zarvel::DialectDetector
