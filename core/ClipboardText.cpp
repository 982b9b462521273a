#include "core/ClipboardText.h"

#include "core/CSVError.h"
#include "core/CSVWriter.h"
#include "core/FieldIndexer.h"
#include "core/UTF8.h"

#include <cstring>
#include <string_view>

namespace zarvel::ClipboardText {

FileFormat format() {
    FileFormat f;
    f.dialect = CSVDialect::tab();
    return f;
}

namespace {

// The measuring pass: counts bytes.
struct Counter {
    size_t size = 0;
    void append(std::string_view s) { size += s.size(); }
    void push_back(char) { ++size; }
    bool overflowed() const { return false; }
};

// The writing pass: fills a buffer, never past its end.
struct Filler {
    char* at;
    char* end;
    bool overflow = false;
    void append(std::string_view s) {
        if (s.empty()) return; // an empty view may have no data at all, which memcpy must not get
        if (static_cast<size_t>(end - at) < s.size()) {
            overflow = true;
            return;
        }
        std::memcpy(at, s.data(), s.size());
        at += s.size();
    }
    void push_back(char c) {
        if (at == end) {
            overflow = true;
            return;
        }
        *at++ = c;
    }
    bool overflowed() const { return overflow; }
};

class Emitter {
public:
    explicit Emitter(const Block& block)
        : b_(block), t_(block.table), rows_(t_.rows()), columnMap_(t_.columnMap()),
          dialect_(format().dialect) {}

    template <class Out> bool emit(Out& out, const std::stop_token& stop, LineCounter* lines) {
        const int64_t total = b_.lineCount();
        int64_t counted = 0;
        for (int64_t line = 0; line < total; ++line) {
            if ((line & 0xFFF) == 0) {
                if (stop.stop_requested()) return false;
                if (lines) lines->fetch_add(line - counted, std::memory_order_relaxed);
                counted = line;
            }
            if (line == 0)
                out.append(firstLine());
            else
                emitLine(out, line);
            if (out.overflowed()) return false;
        }
        if (lines) lines->fetch_add(total - counted, std::memory_order_relaxed);
        return true;
    }

private:
    bool isTitleLine(int64_t line) const { return b_.withColumnTitles && line == 0; }
    int64_t tableRow(int64_t line) const {
        const int64_t displayRow = b_.rows.lower + line - (b_.withColumnTitles ? 1 : 0);
        return b_.rowFilter ? (*b_.rowFilter)[static_cast<size_t>(displayRow)]
                            : displayRow + t_.firstDataRow();
    }

    // The cell's value as valid UTF-8: a view into the table where it can be, else
    // decoded into the scratch buffer.
    std::string_view value(int64_t line, int64_t column) {
        if (column < 0 || column >= t_.columnCount()) return {};
        if (isTitleLine(line)) return repairedInScratch(scratchTitle_ = t_.columnTitle(column));
        const RowRef& ref = rows_[static_cast<size_t>(tableRow(line))];
        if (ref.isEdited()) return repairedInScratch(t_.editedRow(ref.number())[static_cast<size_t>(column)]);
        const int32_t field = columnMap_[static_cast<size_t>(column)];
        if (field < 0) return {};
        const std::string_view bytes = t_.sourceFieldBytes(ref.number(), field);
        if (!FieldIndexer::isQuotedField(bytes, t_.sourceDialect()) && UTF8::isValid(bytes)) return bytes;
        scratch_.clear();
        FieldIndexer::appendFieldValue(scratch_, bytes, t_.sourceDialect()); // repairs as it decodes
        return scratch_;
    }

    std::string_view repairedInScratch(std::string_view s) {
        if (UTF8::isValid(s)) return s;
        scratch_.clear();
        UTF8::appendRepaired(scratch_, s);
        return scratch_;
    }

    template <class Out> void emitLine(Out& out, int64_t line) {
        for (int64_t c = b_.columns.lower; c < b_.columns.upper; ++c) {
            if (c > b_.columns.lower) out.push_back('\t');
            CSVWriter::appendField(value(line, c), dialect_, FileFormat::Quoting::minimal, out);
        }
        out.push_back('\n');
    }

    // The first line goes through the writer itself, which quotes a first field that
    // would otherwise read back as a «sep=» line or a byte order mark. Made once.
    std::string_view firstLine() {
        if (!first_) {
            StringRow values;
            for (int64_t c = b_.columns.lower; c < b_.columns.upper; ++c)
                values.emplace_back(value(0, c));
            try {
                first_ = CSVWriter::write(CSVTable(StringRows{std::move(values)}, format()), format());
            } catch (const CSVError&) {
                first_ = std::string(); // the clipboard format spells every cell
            }
        }
        return *first_;
    }

    const Block& b_;
    const CSVTable& t_;
    const RowList& rows_;
    const std::vector<int32_t>& columnMap_;
    const CSVDialect dialect_;
    std::string scratch_;
    std::string scratchTitle_;
    std::optional<std::string> first_;
};

} // namespace

std::optional<size_t> measure(const Block& block, std::stop_token stop, LineCounter* lines) {
    Counter counter;
    if (!Emitter(block).emit(counter, stop, lines)) return std::nullopt;
    return counter.size;
}

bool write(const Block& block, char* out, size_t size, std::stop_token stop, LineCounter* lines) {
    Filler filler{out, out + size};
    return Emitter(block).emit(filler, stop, lines) && filler.at == filler.end;
}

std::string text(const Block& block) {
    const size_t size = measure(block).value_or(0);
    std::string out(size, '\0');
    if (!write(block, out.data(), out.size())) return {};
    return out;
}

} // namespace zarvel::ClipboardText
