#include "grid/ColumnWidthEstimator.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>

namespace zarvel::ColumnWidthEstimator {

namespace {

// Display texts are read in blocks of this many rows, so a very wide table never holds
// its whole sample as strings at once.
constexpr int64_t rowsPerBlock = 128;

constexpr std::string_view ellipsis = "\xE2\x80\xA6";

size_t firstNonASCII(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (static_cast<uint8_t>(s[i]) >= 0x80) return i;
    return s.size();
}

// In ASCII every byte is its own cluster, except that CR LF is one.
int64_t asciiCount(std::string_view s) {
    int64_t n = static_cast<int64_t>(s.size());
    for (size_t i = 1; i < s.size(); ++i)
        if (s[i] == '\n' && s[i - 1] == '\r') --n;
    return n;
}

int64_t scalarCount(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    int64_t n = 0;
    for (int32_t i = 0; i < length; ++n) {
        UChar32 c;
        U8_NEXT(p, i, length, c);
        (void)c;
    }
    return n;
}

// Counts clusters with one character break iterator, opened on first need and kept for
// the thread's life (opening one costs far more than counting a short text).
class GraphemeCounter {
public:
    GraphemeCounter() = default;
    GraphemeCounter(const GraphemeCounter&) = delete;
    GraphemeCounter& operator=(const GraphemeCounter&) = delete;
    ~GraphemeCounter() {
        if (iterator_) ubrk_close(iterator_);
    }

    int64_t count(std::string_view s) {
        const size_t split = firstNonASCII(s);
        if (split == s.size()) return asciiCount(s);
        // Cut display texts are ASCII plus a closing ellipsis more often than not.
        if (s.substr(split) == ellipsis) return asciiCount(s.substr(0, split)) + 1;
        return iteratorCount(s);
    }

private:
    int64_t iteratorCount(std::string_view s) {
        UErrorCode status = U_ZERO_ERROR;
        if (!iterator_) iterator_ = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        UText text = UTEXT_INITIALIZER;
        utext_openUTF8(&text, s.data(), static_cast<int64_t>(s.size()), &status);
        if (U_FAILURE(status) || !iterator_) {
            utext_close(&text);
            return scalarCount(s);
        }
        ubrk_setUText(iterator_, &text, &status);
        int64_t n = 0;
        if (U_SUCCESS(status)) {
            while (ubrk_next(iterator_) != UBRK_DONE)
                ++n;
        } else {
            n = scalarCount(s);
        }
        // Detach the iterator from the text before the text goes away.
        UErrorCode ignored = U_ZERO_ERROR;
        ubrk_setText(iterator_, nullptr, 0, &ignored);
        utext_close(&text);
        return n;
    }

    UBreakIterator* iterator_ = nullptr;
};

GraphemeCounter& threadCounter() {
    thread_local GraphemeCounter counter;
    return counter;
}

} // namespace

int64_t characterCount(std::string_view utf8) {
    return threadCounter().count(utf8);
}

double widthForCharacters(int64_t count, double maxWidth) {
    const double w = static_cast<double>(count) * averageCharacterWidth + padding;
    return std::min(maxWidth, std::max(minimumEstimatedWidth, w));
}

std::vector<double> widths(const CSVTable& table, int64_t sampleRows) {
    const int64_t columns = table.columnCount();
    if (columns < 1) return {};
    GraphemeCounter& counter = threadCounter();

    std::vector<int64_t> longest(static_cast<size_t>(columns));
    for (int64_t c = 0; c < columns; ++c)
        longest[c] = counter.count(table.columnTitle(c)) + headerAllowance;

    const int64_t n = std::clamp<int64_t>(sampleRows, 0, table.rowCount());
    for (int64_t start = 0; start < n; start += rowsPerBlock) {
        const IndexRange block{start, std::min(start + rowsPerBlock, n)};
        const StringRows texts = table.displayValues(block, {0, columns}, sampleDisplayLimit);
        for (const StringRow& row : texts) {
            const auto count = std::min<int64_t>(columns, static_cast<int64_t>(row.size()));
            for (int64_t c = 0; c < count; ++c) {
                const std::string& text = row[c];
                // A text has no more clusters than bytes: one that cannot win is not counted.
                if (static_cast<int64_t>(text.size()) <= longest[c]) continue;
                longest[c] = std::max(longest[c], counter.count(text));
            }
        }
    }

    std::vector<double> result;
    result.reserve(longest.size());
    for (int64_t l : longest)
        result.push_back(widthForCharacters(l, defaultMaxWidth));
    return result;
}

IndexRange fittingRows(const CSVTable& table) {
    const int64_t first = table.firstDataRow();
    return {first, std::min(first + fittingSampleRows, table.rowCount())};
}

double fittingWidth(const CSVTable& table, int64_t column, IndexRange rows) {
    GraphemeCounter& counter = threadCounter();
    const int64_t lower = std::clamp<int64_t>(rows.lower, 0, table.rowCount());
    const int64_t upper =
        std::clamp<int64_t>(rows.upper, lower, std::min(table.rowCount(), lower + fittingSampleRows));

    int64_t longest = 0;
    if (upper > lower) {
        const StringRows texts =
            table.displayValues({lower, upper}, {column, column + 1}, fittingDisplayLimit);
        for (const StringRow& row : texts) {
            if (row.empty() || static_cast<int64_t>(row[0].size()) <= longest) continue;
            longest = std::max(longest, counter.count(row[0]));
        }
    }
    const int64_t title = counter.count(table.columnTitle(column)) + headerAllowance;
    return widthForCharacters(std::max(title, longest), fittingMaxWidth);
}

double fittingWidth(const CSVTable& table, int64_t column) {
    return fittingWidth(table, column, fittingRows(table));
}

} // namespace zarvel::ColumnWidthEstimator
