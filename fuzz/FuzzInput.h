// FuzzInput: turns a fuzzer's bytes into choices, and the failure every property
// check raises. Shared by the fuzz targets and by the regression tests that replay
// their findings, so both check exactly the same things.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zarvel::fuzz {

// A property that does not hold. Distinct from CSVError, which the core may throw.
struct CheckFailure : std::logic_error {
    using std::logic_error::logic_error;
};

inline void expect(bool holds, std::string_view what) {
    if (!holds) throw CheckFailure(std::string(what));
}

// Reads choices from bytes, front to back. Past the end every byte reads as zero, so
// a short input still decodes to something, and loops end on `exhausted()`.
class ByteSource {
public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return pos_ >= size_; }
    size_t remaining() const { return size_ - std::min(pos_, size_); }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool flag() { return (byte() & 1) != 0; }
    // 0 ..< n (0 for n <= 0); two bytes for ranges above 256, four above 65,536.
    int64_t below(int64_t n) {
        if (n <= 1) return 0;
        uint64_t v = byte();
        if (n > 256) v = v << 8 | byte();
        if (n > 65'536) v = v << 16 | uint64_t{byte()} << 8 | byte();
        return static_cast<int64_t>(v % static_cast<uint64_t>(n));
    }
    template <class Array> auto pick(const Array& items) {
        return items[static_cast<size_t>(below(static_cast<int64_t>(std::size(items))))];
    }
    // Up to `maxBytes` raw bytes.
    std::string bytes(size_t maxBytes) {
        const auto n = static_cast<size_t>(below(static_cast<int64_t>(maxBytes) + 1));
        std::string s;
        for (size_t i = 0; i < n && !exhausted(); ++i)
            s.push_back(static_cast<char>(byte()));
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Decodes choices from the last bytes of an input, last byte first, so that a whole
// file can be read as it is and its tail still steers the options of the read.
class TailSource {
public:
    TailSource(const uint8_t* data, size_t size) : size_(std::min<size_t>(size, sizeof(tail_))) {
        for (size_t i = 0; i < size_; ++i)
            tail_[i] = data[size - 1 - i];
    }
    ByteSource source() const { return ByteSource(tail_, size_); }

private:
    uint8_t tail_[24] = {};
    size_t size_;
};

} // namespace zarvel::fuzz
