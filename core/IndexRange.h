// IndexRange: a half-open range lower ..< upper of row or column numbers.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zarvel {

struct IndexRange {
    int64_t lower = 0;
    int64_t upper = 0;

    int64_t count() const { return upper > lower ? upper - lower : 0; }
    bool empty() const { return upper <= lower; }
    bool contains(int64_t i) const { return i >= lower && i < upper; }
    IndexRange clamped(int64_t lo, int64_t hi) const {
        return {std::clamp(lower, lo, hi), std::clamp(upper, lo, hi)};
    }
    bool operator==(const IndexRange&) const = default;
};

} // namespace zarvel
