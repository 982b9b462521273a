// PackedRow: the cells of a row copied out of the source, kept in one buffer: the number
// of cells, where each cell's text ends, then the texts one after another.
//
// A copied-out row costs its bytes plus four per cell, not a string object (32 bytes and
// often a heap block) per cell; an edit such as Replace All copies out millions of rows.
// Cells are read as views; a change rebuilds the buffer, so writers change a row's cells
// together (unpack, change, pack) rather than one by one.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zarvel {

class PackedRow {
public:
    PackedRow() = default;
    explicit PackedRow(const std::vector<std::string>& cells) { pack(cells); }

    size_t size() const { return data_.empty() ? 0 : word(0); }
    bool empty() const { return size() == 0; }
    std::string_view operator[](size_t i) const {
        const size_t begin = i == 0 ? 0 : word(i);
        return std::string_view(data_).substr(textStart() + begin, word(i + 1) - begin);
    }
    std::vector<std::string> strings() const {
        std::vector<std::string> out;
        out.reserve(size());
        for (size_t i = 0; i < size(); ++i)
            out.emplace_back((*this)[i]);
        return out;
    }
    void assign(const std::vector<std::string>& cells) { pack(cells); }

    bool operator==(const PackedRow& other) const { return data_ == other.data_; }
    bool operator==(const std::vector<std::string>& cells) const {
        if (cells.size() != size()) return false;
        for (size_t i = 0; i < cells.size(); ++i)
            if ((*this)[i] != cells[i]) return false;
        return true;
    }

private:
    // Word 0 is the count; word i + 1 is where cell i ends, counted from the first text byte.
    uint32_t word(size_t k) const {
        uint32_t w;
        std::memcpy(&w, data_.data() + k * sizeof w, sizeof w);
        return w;
    }
    size_t textStart() const { return (size() + 1) * sizeof(uint32_t); }

    void pack(const std::vector<std::string>& cells) {
        size_t bytes = 0;
        for (const std::string& c : cells)
            bytes += c.size();
        std::string data;
        if (!cells.empty()) {
            data.reserve((cells.size() + 1) * sizeof(uint32_t) + bytes);
            auto put = [&data](uint64_t w) {
                const auto v = static_cast<uint32_t>(w);
                data.append(reinterpret_cast<const char*>(&v), sizeof v);
            };
            put(cells.size());
            uint64_t end = 0;
            for (const std::string& c : cells)
                put(end += c.size());
            for (const std::string& c : cells)
                data.append(c);
        }
        data_ = std::move(data);
    }

    std::string data_;
};

} // namespace zarvel
