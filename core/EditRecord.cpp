#include "core/EditRecord.h"

#include "core/CSVError.h"
#include "core/CSVReader.h"
#include "core/CSVWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

namespace zarvel {

namespace {

enum class Tag : uint8_t {
    setCells,
    setRowRefs,
    insertRows,
    removeRows,
    insertColumns,
    removeColumns,
    reorderRows,
    reorderColumns,
    setFormat,
    replaceTable,
    batch,
};

// Stands for an encoding saved by name, where the built-in ones are saved by value.
constexpr uint8_t extraEncodingTag = 0xFF;

bool refersToStorage(const TableEdit& edit) {
    return std::visit(
        [](const auto& c) -> bool {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, TableEdit::SetRowRefs> ||
                          std::is_same_v<T, TableEdit::ReplaceTable>) {
                return true;
            } else if constexpr (std::is_same_v<T, TableEdit::InsertRows>) {
                return std::holds_alternative<RowBlock::Refs>(c.block.payload);
            } else if constexpr (std::is_same_v<T, TableEdit::InsertColumns>) {
                for (int32_t m : c.block.mapping)
                    if (m >= 0) return true;
                for (const auto& column : c.block.values)
                    for (const std::string& v : column)
                        if (!v.empty()) return true;
                return false;
            } else if constexpr (std::is_same_v<T, TableEdit::Batch>) {
                for (const TableEdit& e : c.edits)
                    if (refersToStorage(e)) return true;
                return false;
            } else {
                return false;
            }
        },
        edit.value);
}

bool changesColumns(const TableEdit& edit) {
    return std::visit(
        [](const auto& c) -> bool {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, TableEdit::Batch>)
                return std::any_of(c.edits.begin(), c.edits.end(), changesColumns);
            else
                return std::is_same_v<T, TableEdit::InsertColumns> ||
                       std::is_same_v<T, TableEdit::RemoveColumns> ||
                       std::is_same_v<T, TableEdit::ReorderColumns> ||
                       std::is_same_v<T, TableEdit::ReplaceTable>;
        },
        edit.value);
}

bool setsRowRefs(const TableEdit& edit) {
    if (const auto* batch = std::get_if<TableEdit::Batch>(&edit.value))
        return std::any_of(batch->edits.begin(), batch->edits.end(), setsRowRefs);
    return std::holds_alternative<TableEdit::SetRowRefs>(edit.value);
}

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u64(uint64_t v) {
        char b[8];
        for (int i = 0; i < 8; ++i)
            b[i] = static_cast<char>(v >> (8 * i));
        out_.append(b, 8);
    }
    void i64(int64_t v) { u64(static_cast<uint64_t>(v)); }
    void str(std::string_view s) {
        u64(s.size());
        out_.append(s);
    }
    void indexSet(const IndexSet& s) {
        u64(s.ranges().size());
        for (const IndexRange& r : s.ranges()) {
            i64(r.lower);
            i64(r.upper);
        }
    }
    void rowRef(const RowRef& r) {
        u8(r.isOriginal() ? 0 : 1);
        u64(r.number());
    }
    void cellChanges(const std::vector<CellChange>& changes) {
        u64(changes.size());
        for (const CellChange& c : changes) {
            i64(c.row);
            i64(c.column);
            str(c.value);
        }
    }
    void permutation(const Permutation& p) {
        u64(p.size());
        for (int64_t v : p.order())
            i64(v);
    }
    void format(const FileFormat& f) {
        u8(f.dialect.delimiter);
        u8(f.dialect.quote ? 1 : 0);
        u8(f.dialect.quote.value_or(0));
        u8(static_cast<uint8_t>(f.dialect.escape));
        // An extra encoding's value is only good for this run of the program: its name lasts.
        if (isExtraEncoding(f.encoding)) {
            u8(extraEncodingTag);
            str(rawValue(f.encoding));
        } else {
            u8(static_cast<uint8_t>(f.encoding));
        }
        u8(f.hasBOM);
        u8(static_cast<uint8_t>(f.lineEnding));
        u8(f.hasHeader);
        u8(f.hasSepLine);
        u8(f.hasTrailingNewline);
        u8(static_cast<uint8_t>(f.quoting));
    }

    void edit(const TableEdit& e) {
        std::visit([this](const auto& c) { this->visit(c); }, e.value);
    }

    // `e` restated in values and positions, given its inverse and the table as `e` left
    // it. Rows pointed at other storage become the cells they change, read through the
    // RowRefs from that table.
    bool portable(const TableEdit& e, const TableEdit& inverse, const CSVTable& after) {
        if (!refersToStorage(e)) {
            edit(e);
            return true;
        }
        if (const auto* set = std::get_if<TableEdit::SetRowRefs>(&e.value)) {
            if (!set->cells) return false;
            std::unordered_map<int64_t, RowRef> shown; // applied last first: a row keeps its first
            for (auto c = set->changes.rbegin(); c != set->changes.rend(); ++c)
                shown[c->row] = c->ref;
            std::vector<CellChange> changes;
            changes.reserve(set->cells->size());
            for (const CellPosition& cell : *set->cells) {
                const auto it = shown.find(cell.row);
                if (it == shown.end()) return false;
                changes.push_back({cell.row, cell.column, after.value(it->second, cell.column)});
            }
            u8(static_cast<uint8_t>(Tag::setCells));
            cellChanges(changes);
            return true;
        }
        if (const auto* batch = std::get_if<TableEdit::Batch>(&e.value)) {
            const auto* undo = std::get_if<TableEdit::Batch>(&inverse.value);
            const size_t n = batch->edits.size();
            if (!undo || undo->edits.size() != n) return false;
            // Members last first. Those that point rows at storage read it through `after`,
            // which serves while no member changes the columns (that rewrites the copied-out
            // rows); otherwise each member gets a copy taken back to the table it left.
            const bool rewind = std::any_of(batch->edits.begin(), batch->edits.end(), changesColumns) &&
                                std::any_of(batch->edits.begin(), batch->edits.end(), setsRowRefs);
            std::vector<std::string> members(n);
            CSVTable state = after;
            for (size_t i = n; i-- > 0;) {
                const TableEdit& memberInverse = undo->edits[n - 1 - i];
                if (!Writer(members[i]).portable(batch->edits[i], memberInverse, state)) return false;
                if (rewind && i > 0) state.apply(memberInverse);
            }
            u8(static_cast<uint8_t>(Tag::batch));
            u64(n);
            for (const std::string& member : members)
                out_.append(member);
            return true;
        }
        return false;
    }

private:
    void visit(const TableEdit::SetCells& c) {
        u8(static_cast<uint8_t>(Tag::setCells));
        cellChanges(c.changes);
    }
    void visit(const TableEdit::SetRowRefs& c) {
        u8(static_cast<uint8_t>(Tag::setRowRefs));
        u64(c.changes.size());
        for (const RowRefChange& r : c.changes) {
            i64(r.row);
            rowRef(r.ref);
        }
        u8(c.cells ? 1 : 0);
        if (c.cells) {
            u64(c.cells->size());
            for (const CellPosition& p : *c.cells) {
                i64(p.row);
                i64(p.column);
            }
        }
    }
    void visit(const TableEdit::InsertRows& c) {
        u8(static_cast<uint8_t>(Tag::insertRows));
        indexSet(c.block.positions);
        if (const auto* refs = std::get_if<RowBlock::Refs>(&c.block.payload)) {
            u8(0);
            u64(refs->refs.size());
            for (const RowRef& r : refs->refs)
                rowRef(r);
        } else {
            const auto& rows = std::get<RowBlock::Values>(c.block.payload).rows;
            u8(1);
            u64(rows.size());
            for (const StringRow& row : rows) {
                u64(row.size());
                for (const std::string& v : row)
                    str(v);
            }
        }
    }
    void visit(const TableEdit::RemoveRows& c) {
        u8(static_cast<uint8_t>(Tag::removeRows));
        indexSet(c.positions);
    }
    void visit(const TableEdit::InsertColumns& c) {
        u8(static_cast<uint8_t>(Tag::insertColumns));
        u64(c.block.positions.size());
        for (int64_t p : c.block.positions)
            i64(p);
        u64(c.block.mapping.size());
        for (int32_t m : c.block.mapping)
            i64(m);
        u64(c.block.values.size());
        for (const auto& column : c.block.values) {
            u64(column.size());
            for (const std::string& v : column)
                str(v);
        }
    }
    void visit(const TableEdit::RemoveColumns& c) {
        u8(static_cast<uint8_t>(Tag::removeColumns));
        indexSet(c.positions);
    }
    void visit(const TableEdit::ReorderRows& c) {
        u8(static_cast<uint8_t>(Tag::reorderRows));
        permutation(c.permutation);
    }
    void visit(const TableEdit::ReorderColumns& c) {
        u8(static_cast<uint8_t>(Tag::reorderColumns));
        permutation(c.permutation);
    }
    void visit(const TableEdit::SetFormat& c) {
        u8(static_cast<uint8_t>(Tag::setFormat));
        format(c.format);
    }
    void visit(const TableEdit::ReplaceTable& c) {
        u8(static_cast<uint8_t>(Tag::replaceTable));
        str(encodeTable(c.table));
    }
    void visit(const TableEdit::Batch& c) {
        u8(static_cast<uint8_t>(Tag::batch));
        u64(c.edits.size());
        for (const TableEdit& e : c.edits)
            edit(e);
    }

    std::string& out_;
};

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool atEnd() const { return at_ == in_.size(); }

    uint8_t u8() {
        need(1);
        return static_cast<uint8_t>(in_[at_++]);
    }
    uint64_t u64() {
        need(8);
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t(static_cast<uint8_t>(in_[at_ + i])) << (8 * i);
        at_ += 8;
        return v;
    }
    int64_t i64() { return static_cast<int64_t>(u64()); }
    // A count of items that each take at least `minBytes`: bounded by what is left, so
    // a damaged count cannot ask for an absurd allocation.
    size_t count(size_t minBytes) {
        const uint64_t n = u64();
        if (n > (in_.size() - at_) / std::max<size_t>(minBytes, 1)) fail();
        return static_cast<size_t>(n);
    }
    std::string_view strView() {
        const size_t n = count(1);
        const std::string_view v = in_.substr(at_, n);
        at_ += n;
        return v;
    }
    std::string str() { return std::string(strView()); }
    IndexSet indexSet() {
        IndexSet s;
        const size_t n = count(16);
        for (size_t i = 0; i < n; ++i) {
            const int64_t lower = i64(), upper = i64();
            if (lower < 0 || upper < lower) fail();
            s.insert(IndexRange{lower, upper});
        }
        return s;
    }
    RowRef rowRef() {
        const uint8_t kind = u8();
        const uint64_t n = u64();
        if (kind > 1 || n > UINT32_MAX) fail();
        return kind == 0 ? RowRef::original(static_cast<uint32_t>(n))
                         : RowRef::edited(static_cast<uint32_t>(n));
    }
    std::vector<CellChange> cellChanges() {
        std::vector<CellChange> changes(count(24));
        for (CellChange& c : changes) {
            c.row = i64();
            c.column = i64();
            c.value = str();
        }
        return changes;
    }
    Permutation permutation() {
        std::vector<uint32_t> order(count(8));
        for (uint32_t& v : order) {
            const uint64_t raw = u64();
            if (raw > UINT32_MAX) fail();
            v = static_cast<uint32_t>(raw);
        }
        return Permutation(std::move(order));
    }
    FileFormat format() {
        FileFormat f;
        f.dialect.delimiter = u8();
        const bool hasQuote = u8() != 0;
        const uint8_t quote = u8();
        f.dialect.quote.reset();
        if (hasQuote) f.dialect.quote.emplace(quote);
        f.dialect.escape = enumValue<CSVDialect::Escape>(u8(), 1);
        // A damaged record must not name an encoding that does not exist.
        if (const uint8_t raw = u8(); raw == extraEncodingTag) {
            const auto named = textEncodingFromRawValue(strView());
            if (!named) fail();
            f.encoding = *named;
        } else {
            f.encoding = enumValue<TextEncoding>(raw, static_cast<uint8_t>(allTextEncodings.size() - 1));
        }
        f.hasBOM = u8() != 0;
        f.lineEnding = enumValue<FileFormat::LineEnding>(u8(), 2);
        f.hasHeader = u8() != 0;
        f.hasSepLine = u8() != 0;
        f.hasTrailingNewline = u8() != 0;
        f.quoting = enumValue<FileFormat::Quoting>(u8(), 1);
        return f;
    }

    TableEdit edit(int depth = 0) {
        if (depth > 64) fail();
        switch (static_cast<Tag>(u8())) {
        case Tag::setCells:
            return TableEdit::setCells(cellChanges());
        case Tag::setRowRefs: {
            std::vector<RowRefChange> changes(count(17));
            for (RowRefChange& r : changes) {
                r.row = i64();
                r.ref = rowRef();
            }
            std::shared_ptr<std::vector<CellPosition>> cells;
            if (u8() != 0) {
                cells = std::make_shared<std::vector<CellPosition>>(count(16));
                for (CellPosition& p : *cells) {
                    p.row = i64();
                    p.column = i64();
                }
            }
            return TableEdit::setRowRefs(std::move(changes), std::move(cells));
        }
        case Tag::insertRows: {
            RowBlock block;
            block.positions = indexSet();
            if (u8() == 0) {
                RowBlock::Refs refs;
                refs.refs.resize(count(9));
                for (RowRef& r : refs.refs)
                    r = rowRef();
                block.payload = std::move(refs);
            } else {
                RowBlock::Values values;
                values.rows.resize(count(8));
                for (StringRow& row : values.rows) {
                    row.resize(count(8));
                    for (std::string& v : row)
                        v = str();
                }
                block.payload = std::move(values);
            }
            const size_t payloadCount = std::visit(
                [](const auto& p) -> size_t {
                    if constexpr (std::is_same_v<std::decay_t<decltype(p)>, RowBlock::Refs>)
                        return p.refs.size();
                    else
                        return p.rows.size();
                },
                block.payload);
            if (static_cast<int64_t>(payloadCount) != block.positions.count()) fail();
            return TableEdit::insertRows(std::move(block));
        }
        case Tag::removeRows:
            return TableEdit::removeRows(indexSet());
        case Tag::insertColumns: {
            ColumnBlock block;
            block.positions.resize(count(8));
            for (int64_t& p : block.positions)
                p = i64();
            block.mapping.resize(count(8));
            for (int32_t& m : block.mapping)
                m = static_cast<int32_t>(i64());
            if (block.mapping.size() != block.positions.size()) fail();
            block.values.resize(count(8));
            for (auto& column : block.values) {
                column.resize(count(8));
                for (std::string& v : column)
                    v = str();
            }
            return TableEdit::insertColumns(std::move(block));
        }
        case Tag::removeColumns:
            return TableEdit::removeColumns(indexSet());
        case Tag::reorderRows:
            return TableEdit::reorderRows(permutation());
        case Tag::reorderColumns:
            return TableEdit::reorderColumns(permutation());
        case Tag::setFormat:
            return TableEdit::setFormat(format());
        case Tag::replaceTable:
            return TableEdit::replaceTable(decodeTable(strView()));
        case Tag::batch: {
            std::vector<TableEdit> edits(count(1));
            for (TableEdit& e : edits)
                e = edit(depth + 1);
            return TableEdit::batch(std::move(edits));
        }
        }
        fail();
    }

    [[noreturn]] static void fail() { throw DamagedRecord("damaged record"); }

private:
    template <class E> static E enumValue(uint8_t raw, uint8_t max) {
        if (raw > max) fail();
        return static_cast<E>(raw);
    }
    void need(size_t n) const {
        if (in_.size() - at_ < n) fail();
    }

    std::string_view in_;
    size_t at_ = 0;
};

// Every field quoted, UTF-8, LF: nothing in a cell can be mistaken for structure. The
// delimiter is one no file uses, so the writer never copies these source rows as they
// are into a saved file, where every field would stay quoted.
FileFormat snapshotFormat(bool hasHeader) {
    FileFormat f = FileFormat::standard();
    f.dialect.delimiter = 0x1F;
    f.quoting = FileFormat::Quoting::all;
    f.hasHeader = hasHeader;
    return f;
}

} // namespace

std::string encodeEdit(const TableEdit& edit) {
    std::string out;
    Writer(out).edit(edit);
    return out;
}

TableEdit decodeEdit(std::string_view bytes) {
    Reader reader(bytes);
    TableEdit edit = reader.edit();
    if (!reader.atEnd()) Reader::fail();
    return edit;
}

std::string encodeTable(const CSVTable& table) {
    std::string out;
    Writer w(out);
    w.format(table.format());
    w.i64(table.rowCount());
    w.i64(table.columnCount());
    w.str(table.rowCount() > 0 && table.columnCount() > 0
              ? CSVWriter::write(table, snapshotFormat(table.format().hasHeader))
              : std::string());
    return out;
}

CSVTable decodeTable(std::string_view bytes) {
    Reader r(bytes);
    const FileFormat format = r.format();
    const int64_t rows = r.i64(), columns = r.i64();
    const std::string_view text = r.strView();
    if (!r.atEnd()) Reader::fail();
    if (rows < 0 || columns < 0) Reader::fail();
    // Text cannot say how many columns an empty table has, nor how many rows a table
    // without columns has.
    if (rows == 0 || columns == 0) {
        if (columns > 4096 || rows > (1 << 20)) Reader::fail();
        CSVTable table(StringRows(static_cast<size_t>(std::max<int64_t>(rows, 1)),
                                  StringRow(static_cast<size_t>(columns))),
                       format);
        if (rows == 0) table.apply(TableEdit::removeRows(IndexSet{0}));
        return table;
    }
    const ReadOptions options = ReadOptions::forcing(snapshotFormat(format.hasHeader), false);
    CSVTable table;
    try {
        table = CSVReader::read(SharedBytes::copyOf(text), options).table;
    } catch (const CSVError&) {
        Reader::fail();
    }
    if (table.rowCount() != rows || table.columnCount() != columns) Reader::fail();
    if (table.format() != format) table.apply(TableEdit::setFormat(format));
    return table;
}

std::optional<std::string> encodePortableEdit(const TableEdit& applied, const TableEdit& inverse,
                                              const CSVTable& after) {
    std::string out;
    Writer writer(out);
    if (const auto* insert = std::get_if<TableEdit::InsertRows>(&applied.value);
        insert && std::holds_alternative<RowBlock::Refs>(insert->block.payload)) {
        // Rows that come back from storage come back as their texts.
        RowBlock::Values values;
        values.rows.reserve(static_cast<size_t>(insert->block.positions.count()));
        insert->block.positions.forEach([&](int64_t row) { values.rows.push_back(after.values(row)); });
        writer.edit(TableEdit::insertRows(RowBlock{insert->block.positions, std::move(values)}));
        return out;
    }
    if (const auto* insert = std::get_if<TableEdit::InsertColumns>(&applied.value);
        insert && refersToStorage(applied)) {
        // Blank columns at the same places, then their non-empty cells; the inverse
        // names where the columns ended up.
        const auto* removal = std::get_if<TableEdit::RemoveColumns>(&inverse.value);
        if (!removal) return std::nullopt;
        ColumnBlock blank;
        blank.positions = insert->block.positions;
        blank.mapping.assign(blank.positions.size(), -1);
        std::vector<CellChange> changes;
        removal->positions.forEach([&](int64_t column) {
            for (int64_t row = 0; row < after.rowCount(); ++row)
                if (std::string v = after.value(row, column); !v.empty())
                    changes.push_back({row, column, std::move(v)});
        });
        writer.edit(TableEdit::batch(
            {TableEdit::insertColumns(std::move(blank)), TableEdit::setCells(std::move(changes))}));
        return out;
    }
    if (!writer.portable(applied, inverse, after)) return std::nullopt;
    return out;
}

namespace {
constexpr uint64_t p1 = 0x9E3779B185EBCA87ull, p2 = 0xC2B2AE3D27D4EB4Full, p3 = 0x165667B19E3779F9ull;
uint64_t load(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
uint64_t round(uint64_t acc, uint64_t v) {
    return std::rotl(acc + v * p2, 31) * p1;
}
} // namespace

void ContentHasher::update(std::string_view bytes) {
    if (bytes.empty()) return; // an empty view may have no data at all
    size_ += bytes.size();
    const char* p = bytes.data();
    size_t n = bytes.size();
    // Stripes of 32 bytes, whichever blocks they arrive in.
    if (pending_ > 0) {
        const size_t take = std::min(n, sizeof(stripe_) - pending_);
        std::memcpy(stripe_ + pending_, p, take);
        pending_ += take;
        p += take;
        n -= take;
        if (pending_ < sizeof(stripe_)) return;
        consume(stripe_);
        pending_ = 0;
    }
    for (; n >= 32; n -= 32, p += 32)
        consume(p);
    std::memcpy(stripe_, p, n);
    pending_ = n;
}

void ContentHasher::consume(const char* p) {
    a_ = round(a_, load(p));
    b_ = round(b_, load(p + 8));
    c_ = round(c_, load(p + 16));
    d_ = round(d_, load(p + 24));
}

uint64_t ContentHasher::digest() const {
    const char* p = stripe_;
    size_t n = pending_;
    uint64_t h = std::rotl(a_, 1) + std::rotl(b_, 7) + std::rotl(c_, 12) + std::rotl(d_, 18) + size_;
    for (; n >= 8; n -= 8, p += 8)
        h = std::rotl(h ^ round(0, load(p)), 27) * p1 + p3;
    for (; n > 0; --n, ++p)
        h = std::rotl(h ^ (static_cast<uint8_t>(*p) * p3), 11) * p1;
    h ^= h >> 33;
    h *= p2;
    h ^= h >> 29;
    h *= p3;
    return h ^ (h >> 32);
}

uint64_t hashBytes(std::string_view bytes) {
    ContentHasher hasher;
    hasher.update(bytes);
    return hasher.digest();
}

} // namespace zarvel
