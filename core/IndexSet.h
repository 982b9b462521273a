// IndexSet: an ordered set of non-negative integers stored as disjoint ascending ranges,
// so a block of a million rows costs one entry and walks as one range.
//
//   IndexSet s;  s.insert(3); s.insert(IndexRange{5, 8}); s.insert(4);
//   s.ranges();  // {3 ..< 8}
#pragma once

#include "core/IndexRange.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace zarvel {

class IndexSet {
public:
    IndexSet() = default;
    IndexSet(std::initializer_list<int64_t> values);
    explicit IndexSet(IndexRange range);
    static IndexSet fromValues(const std::vector<int64_t>& values);

    void insert(int64_t value) { insert(IndexRange{value, value + 1}); }
    void insert(IndexRange range);
    void remove(IndexRange range);
    bool contains(int64_t value) const;

    bool empty() const { return ranges_.empty(); }
    int64_t count() const;
    int64_t first() const { return ranges_.front().lower; }
    int64_t last() const { return ranges_.back().upper - 1; }
    // Disjoint, non-adjacent, ascending.
    const std::vector<IndexRange>& ranges() const { return ranges_; }
    std::vector<int64_t> values() const;
    // How many members are below `value`.
    int64_t countBelow(int64_t value) const;

    template <class F> void forEach(F&& f) const {
        for (const IndexRange& r : ranges_)
            for (int64_t i = r.lower; i < r.upper; ++i)
                f(i);
    }

    bool operator==(const IndexSet&) const = default;

private:
    std::vector<IndexRange> ranges_;
};

} // namespace zarvel
