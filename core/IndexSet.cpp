#include "core/IndexSet.h"

#include <algorithm>

namespace zarvel {

IndexSet::IndexSet(std::initializer_list<int64_t> values) {
    for (int64_t v : values)
        insert(v);
}

IndexSet::IndexSet(IndexRange range) {
    insert(range);
}

IndexSet IndexSet::fromValues(const std::vector<int64_t>& values) {
    std::vector<int64_t> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    IndexSet set;
    // Ascending input extends the last range, so building costs one pass.
    for (int64_t v : sorted) {
        if (!set.ranges_.empty() && v <= set.ranges_.back().upper) {
            set.ranges_.back().upper = std::max(set.ranges_.back().upper, v + 1);
        } else {
            set.ranges_.push_back({v, v + 1});
        }
    }
    return set;
}

void IndexSet::insert(IndexRange range) {
    if (range.empty()) return;
    // Ranges that touch or overlap the new one are merged into it.
    auto first = std::lower_bound(ranges_.begin(), ranges_.end(), range.lower,
                                  [](const IndexRange& r, int64_t v) { return r.upper < v; });
    auto last = first;
    IndexRange merged = range;
    while (last != ranges_.end() && last->lower <= range.upper) {
        merged.lower = std::min(merged.lower, last->lower);
        merged.upper = std::max(merged.upper, last->upper);
        ++last;
    }
    if (first == last) {
        ranges_.insert(first, merged);
    } else {
        *first = merged;
        ranges_.erase(first + 1, last);
    }
}

void IndexSet::remove(IndexRange range) {
    if (range.empty()) return;
    std::vector<IndexRange> kept;
    kept.reserve(ranges_.size() + 1);
    for (const IndexRange& r : ranges_) {
        if (r.upper <= range.lower || r.lower >= range.upper) {
            kept.push_back(r);
            continue;
        }
        if (r.lower < range.lower) kept.push_back({r.lower, range.lower});
        if (r.upper > range.upper) kept.push_back({range.upper, r.upper});
    }
    ranges_ = std::move(kept);
}

bool IndexSet::contains(int64_t value) const {
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), value,
                               [](int64_t v, const IndexRange& r) { return v < r.upper; });
    return it != ranges_.end() && it->lower <= value;
}

int64_t IndexSet::count() const {
    int64_t n = 0;
    for (const IndexRange& r : ranges_)
        n += r.count();
    return n;
}

std::vector<int64_t> IndexSet::values() const {
    std::vector<int64_t> out;
    out.reserve(static_cast<size_t>(count()));
    forEach([&out](int64_t v) { out.push_back(v); });
    return out;
}

int64_t IndexSet::countBelow(int64_t value) const {
    int64_t n = 0;
    for (const IndexRange& r : ranges_) {
        if (r.lower >= value) break;
        n += std::min(r.upper, value) - r.lower;
    }
    return n;
}

} // namespace zarvel
