#include "core/IndexSet.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace zarvel;

TEST(IndexSetBuilding, ValuesInAnyOrderWithRepeatsGiveTheSameSet) {
    EXPECT_EQ(IndexSet::fromValues({9, 3, 3, 2, 7}), (IndexSet{7, 2, 3, 9}));
    EXPECT_EQ((IndexSet{7, 2, 3, 9}).values(), (std::vector<int64_t>{2, 3, 7, 9}));
}

TEST(IndexSetProperty, AgreesWithAStdSetUnderRandomChanges) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        IndexSet s;
        std::set<int64_t> model;
        for (int step = 0; step < 40; ++step) {
            const int64_t a = rng() % 60, b = a + rng() % 8;
            if (rng() % 3 == 0) {
                s.remove({a, b});
                for (int64_t i = a; i < b; ++i)
                    model.erase(i);
            } else {
                s.insert({a, b});
                for (int64_t i = a; i < b; ++i)
                    model.insert(i);
            }
            ASSERT_EQ(s.values(), std::vector<int64_t>(model.begin(), model.end()));
            ASSERT_EQ(s.count(), static_cast<int64_t>(model.size()));
            if (!model.empty()) {
                ASSERT_EQ(s.first(), *model.begin());
                ASSERT_EQ(s.last(), *model.rbegin());
            }
            // Ranges stay disjoint and never touch, so equal sets compare equal.
            for (size_t i = 1; i < s.ranges().size(); ++i)
                ASSERT_LT(s.ranges()[i - 1].upper, s.ranges()[i].lower);
            for (int64_t v = -1; v < 70; ++v) {
                ASSERT_EQ(s.contains(v), model.count(v) == 1) << v;
                ASSERT_EQ(s.countBelow(v), std::distance(model.begin(), model.lower_bound(v))) << v;
            }
        }
    }
}
