// FieldIndex and FieldIndexer: the one place where the reading rules of the
// delimited format are applied.
//
// scan() makes a single forward pass over UTF-8 bytes and records where every field
// starts and where every row's content ends; no field is copied or decoded. Cells are
// decoded later, on demand, with fieldValue().
//
// Offsets are 64-bit (stored in 32 bits each, see OffsetColumn); a buffer may hold fewer
// than 2^32 fields. The buffer needs no padding or terminator.
//
// Large buffers are indexed in parallel: the text is cut into blocks, each block is read
// from a guessed row start (just after a line break), and a block whose guess proves
// wrong once the block before it is known is read again from the true start. The
// result is the same as one forward pass in every case.
#pragma once

#include "core/CSVDialect.h"
#include "core/FileFormat.h"
#include "core/ReadProgress.h"
#include "core/ReadReport.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zarvel {

// Memory for the index's long arrays. Blocks of 2 MiB and more are mapped apart, so that
// pages left unused can be given back. PERF: with `hugePages`, on transparent huge pages,
// for arrays read in random order (a row list that a sort gathers), where small pages miss
// the address cache at nearly every step; arrays filled and read in order keep small
// pages, whose first touch measured twice as fast on a virtual machine.
void* allocateBytes(size_t bytes, bool hugePages = false);
void deallocateBytes(void* p, size_t bytes);
template <typename T, bool HugePages = false> struct IndexAllocator {
    using value_type = T;
    template <typename U> struct rebind { using other = IndexAllocator<U, HugePages>; };
    IndexAllocator() = default;
    template <typename U> IndexAllocator(const IndexAllocator<U, HugePages>&) {}
    T* allocate(size_t n) { return static_cast<T*>(allocateBytes(n * sizeof(T), HugePages)); }
    void deallocate(T* p, size_t n) { deallocateBytes(p, n * sizeof(T)); }
    template <typename U> bool operator==(const IndexAllocator<U, HugePages>&) const { return true; }
};
template <typename T> using IndexVector = std::vector<T, IndexAllocator<T>>;
template <typename T> using HugePageVector = std::vector<T, IndexAllocator<T, true>>;

// The memory an array has reserved, for faulting it in ahead of use and giving back what
// stayed unused. Only arrays large enough to be mapped apart are touched.
struct ReservedMemory {
    void* base = nullptr;
    size_t bytes = 0; // the capacity
    size_t used = 0;  // the part holding elements
};
template <typename T> ReservedMemory reservedMemory(IndexVector<T>& v) {
    return {v.data(), v.capacity() * sizeof(T), v.size() * sizeof(T)};
}
// Faults in the pages of bytes [from, to) of the capacity on the calling thread (none
// past it). PERF: a fresh page is zeroed by the kernel on its first write, which
// for a large index costs about as much as reading the text; done by the threads that read,
// it no longer falls on the one that joins their results.
void prefault(const ReservedMemory& memory, size_t from, size_t to);
// Gives back the pages past the used part (they read as zeros if used later).
void releaseUnused(const ReservedMemory& memory);

// The low parts of an OffsetColumn: a growable array in index memory. PERF: unlike a
// std::vector its growth is inline, so the readers' appends of 64 bytes' worth of offsets
// at a time cost no calls.
class LowParts {
public:
    LowParts() = default;
    LowParts(const LowParts& other) { append(other.data_, other.data_ + other.size_); }
    LowParts(LowParts&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    LowParts& operator=(LowParts other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~LowParts() {
        if (data_) deallocateBytes(data_, capacity_ * sizeof(uint32_t));
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint32_t operator[](size_t i) const { return data_[i]; }
    const uint32_t* begin() const { return data_; }
    const uint32_t* end() const { return data_ + size_; }
    void reserve(size_t n) {
        if (n > capacity_) grow(n);
    }
    [[gnu::always_inline]] void push_back(uint32_t v) {
        if (size_ == capacity_) [[unlikely]]
            grow(size_ + 1);
        data_[size_++] = v;
    }
    // `n` more elements, uninitialised, to be written through the pointer returned.
    [[gnu::always_inline]] uint32_t* extend(size_t n) {
        if (size_ + n > capacity_) [[unlikely]]
            grow(size_ + n);
        uint32_t* const at = data_ + size_;
        size_ += n;
        return at;
    }
    void shrink(size_t n) { size_ = std::min(size_, n); }
    void clear() { size_ = 0; }
    void append(const uint32_t* first, const uint32_t* last) {
        const auto n = static_cast<size_t>(last - first);
        if (n) std::copy(first, last, extend(n));
    }
    ReservedMemory reservedMemory() {
        return {data_, capacity_ * sizeof(uint32_t), size_ * sizeof(uint32_t)};
    }
    bool operator==(const LowParts& other) const {
        return size_ == other.size_ && std::equal(begin(), end(), other.begin());
    }

private:
    [[gnu::noinline]] void grow(size_t needed) {
        const size_t capacity = std::max({needed, capacity_ * 2, size_t{16}});
        auto* const data = static_cast<uint32_t*>(allocateBytes(capacity * sizeof(uint32_t)));
        if (size_) std::copy(data_, data_ + size_, data);
        if (data_) deallocateBytes(data_, capacity_ * sizeof(uint32_t));
        data_ = data;
        capacity_ = capacity;
    }
    uint32_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Byte offsets in file order, which never decrease, at 4 bytes each whatever the file
// size: the low 32 bits are stored, and the few places where the high part steps up are
// listed apart (none at all below 4 GiB, so small files pay one empty check).
class OffsetColumn {
public:
    size_t size() const { return low_.size(); }
    bool empty() const { return low_.empty(); }
    void reserve(size_t n) { low_.reserve(n); }
    ReservedMemory reservedMemory() { return low_.reservedMemory(); }
    // Empty again, keeping the memory for the next use.
    void clear() {
        low_.clear();
        steps_.clear();
        high_ = 0;
    }
    uint64_t operator[](size_t i) const {
        if (steps_.empty()) [[likely]]
            return low_[i];
        uint64_t high = 0;
        for (const size_t s : steps_)
            high += s <= i;
        return high << 32 | low_[i];
    }
    uint64_t back() const { return (*this)[size() - 1]; }
    [[gnu::always_inline]] void push_back(uint64_t offset) {
        if ((offset >> 32) != high_) [[unlikely]]
            stepTo(offset >> 32);
        low_.push_back(static_cast<uint32_t>(offset));
    }
    // Room for `n` more offsets whose high part is that of `offset`, written through the
    // pointer returned; endAppend() then keeps the first `written` of them.
    [[gnu::always_inline]] uint32_t* beginAppend(size_t n, uint64_t offset) {
        if ((offset >> 32) != high_) [[unlikely]]
            stepTo(offset >> 32);
        return low_.extend(n);
    }
    [[gnu::always_inline]] void endAppend(size_t n, size_t written) {
        low_.shrink(low_.size() - n + written);
    }
    // Keeps the first n offsets.
    void truncate(size_t n) {
        if (n >= size()) return;
        low_.shrink(n);
        while (!steps_.empty() && steps_.back() >= n)
            steps_.pop_back();
        high_ = steps_.size();
    }
    // Appends `other`, whose offsets continue this column's.
    void append(const OffsetColumn& other) {
        const size_t base = low_.size();
        for (size_t k = static_cast<size_t>(high_); k < other.steps_.size(); ++k)
            steps_.push_back(base + other.steps_[k]);
        high_ = std::max(high_, other.high_);
        low_.append(other.low_.begin(), other.low_.end());
    }
    // The first position whose offset is greater than `offset` (size() when none).
    size_t upperBound(uint64_t offset) const {
        size_t lo = 0, hi = size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if ((*this)[mid] <= offset)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    bool operator==(const OffsetColumn&) const = default;

private:
    [[gnu::noinline]] void stepTo(uint64_t high) {
        for (; high_ < high; ++high_)
            steps_.push_back(low_.size());
    }
    LowParts low_;
    std::vector<size_t> steps_; // positions where the high part rises by one
    uint64_t high_ = 0;
};

struct FieldIndex {
    // Offset of every field's first byte (the opening quote of a quoted field), file order.
    OffsetColumn fieldStarts;
    // Row r's fields are fieldStarts[rowFirstField[r]] ..< fieldStarts[rowFirstField[r+1]];
    // always starts with 0 and has rowCount + 1 entries. (Fields number fewer than 2^32:
    // the reader refuses more.)
    IndexVector<uint32_t> rowFirstField{0};
    // Offset just past each row's last content byte (where its line ending starts).
    OffsetColumn rowContentEnds;
    // Rows holding an unclosed quote, ascending, all of them (the report keeps only the
    // first warnings). Such a row reads as it does only because no quote follows it
    // anywhere in the file, so the writer copies it raw only where what follows stays
    // the same. Every other row reads the same wherever it stands.
    std::vector<uint32_t> unclosedQuoteRows;
    int64_t maxFieldCount = 0;

    int64_t rowCount() const { return static_cast<int64_t>(rowContentEnds.size()); }
    int64_t fieldCount(int64_t row) const { return rowFirstField[row + 1] - rowFirstField[row]; }
    // Byte range start ..< end of field `field` of row `row` (field < fieldCount(row)).
    std::pair<uint64_t, uint64_t> fieldRange(int64_t row, int64_t field) const {
        const uint32_t first = rowFirstField[row];
        const uint64_t start = fieldStarts[first + field];
        const uint64_t end =
            field + 1 == fieldCount(row) ? rowContentEnds[row] : fieldStarts[first + field + 1] - 1;
        return {start, end};
    }
    // The row's raw bytes from its first field to its content end.
    std::pair<uint64_t, uint64_t> rowRange(int64_t row) const {
        return {fieldStarts[rowFirstField[row]], rowContentEnds[row]};
    }
    [[nodiscard]] bool hasUnclosedQuote(uint32_t row) const {
        return !unclosedQuoteRows.empty() &&
               std::binary_search(unclosedQuoteRows.begin(), unclosedQuoteRows.end(), row);
    }
    bool operator==(const FieldIndex&) const = default;
};

namespace FieldIndexer {

struct Result {
    FieldIndex index;
    std::vector<ReadWarning> warnings; // order met, at most maxReadWarnings
    bool endsWithNewline = false;
    // Count per FileFormat::LineEnding (indexed by its ordinal); zero = not seen.
    std::array<int64_t, 3> lineEndingCounts{0, 0, 0};
};

inline constexpr int64_t noRowLimit = std::numeric_limits<int64_t>::max();

// Reads from `start` to the end. Large inputs without a row limit are read in parallel.
[[nodiscard]] Result scan(const uint8_t* bytes, size_t count, size_t start, const CSVDialect& dialect,
                          int64_t rowLimit = noRowLimit, int64_t fieldCapacity = 0, int64_t rowCapacity = 0,
                          ReadProgress* progress = nullptr);
[[nodiscard]] inline Result scan(std::string_view text, size_t start, const CSVDialect& dialect,
                                 int64_t rowLimit = noRowLimit) {
    return scan(reinterpret_cast<const uint8_t*>(text.data()), text.size(), start, dialect, rowLimit);
}
// The parallel reading with its block size and thread count chosen (tests force small
// blocks to put boundaries everywhere). Same result as scan().
[[nodiscard]] Result scanInBlocks(const uint8_t* bytes, size_t count, size_t start, const CSVDialect& dialect,
                                  size_t blockSize, unsigned threads, int64_t fieldCapacity = 0,
                                  int64_t rowCapacity = 0, ReadProgress* progress = nullptr);

// The reading field by field, without the 64-byte steps: the plain rules, and
// the reference that the faster readings are held to.
[[nodiscard]] Result scanFieldByField(const uint8_t* bytes, size_t count, size_t start,
                                      const CSVDialect& dialect);

// Whether a field's bytes are read as quoted: the dialect has a quote Q, the field is
// at least two bytes long and starts and ends with Q.
[[nodiscard]] inline bool isQuotedField(std::string_view field, const CSVDialect& dialect) {
    return dialect.quote && field.size() >= 2 && static_cast<uint8_t>(field.front()) == *dialect.quote &&
           static_cast<uint8_t>(field.back()) == *dialect.quote;
}

// The one unquoting rule: `inner` is a quoted field without its two quotes (or, for a
// field cut short for display, without its opening quote). Each escape becomes the byte
// it stands for and every other quote is dropped; `emit(char)` gets the value's bytes.
template <typename Emit> void unquote(std::string_view inner, const CSVDialect& dialect, Emit&& emit) {
    const char Q = static_cast<char>(*dialect.quote);
    const bool backslash = dialect.escape == CSVDialect::Escape::backslash;
    for (size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c == Q) {
            if (!backslash && i + 1 < inner.size() && inner[i + 1] == Q) {
                emit(Q);
                ++i;
            }
            continue;
        }
        if (backslash && c == '\\' && i + 1 < inner.size()) {
            emit(inner[++i]);
            continue;
        }
        emit(c);
    }
}

// The same rule, handing `emit(std::string_view)` the value in runs of bytes (PERF: a
// large cell costs a few appends, not one call per byte).
template <typename EmitRun>
void unquoteRuns(std::string_view inner, const CSVDialect& dialect, EmitRun&& emit) {
    const char Q = static_cast<char>(*dialect.quote);
    const bool backslash = dialect.escape == CSVDialect::Escape::backslash;
    const char specials[2] = {Q, '\\'};
    const std::string_view special(specials, backslash ? 2 : 1);
    size_t i = 0;
    while (i < inner.size()) {
        const size_t next = inner.find_first_of(special, i);
        if (next == std::string_view::npos) {
            emit(inner.substr(i));
            return;
        }
        if (next > i) emit(inner.substr(i, next - i));
        if (inner[next] == Q) {
            if (!backslash && next + 1 < inner.size() && inner[next + 1] == Q) emit(inner.substr(next, 1));
            i = next + (!backslash && next + 1 < inner.size() && inner[next + 1] == Q ? 2 : 1);
        } else if (next + 1 < inner.size()) {
            emit(inner.substr(next + 1, 1));
            i = next + 2;
        } else {
            emit(inner.substr(next, 1)); // a backslash as the last byte stands for itself
            i = next + 1;
        }
    }
}

// The value of a field: quoted fields are unquoted and unescaped; every other field
// is its bytes as they stand. Invalid UTF-8 becomes U+FFFD.
[[nodiscard]] std::string fieldValue(std::string_view field, const CSVDialect& dialect);
void appendFieldValue(std::string& out, std::string_view field, const CSVDialect& dialect);

} // namespace FieldIndexer
} // namespace zarvel
