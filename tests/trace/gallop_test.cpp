/*
 * gallop_test.cpp --
 *
 *	The partition point found from a guess equals std::partition_point
 *	on random sorted runs (empty, single, with long stretches of equal
 *	values), for every guess from the run's start to its end and for
 *	every place of the point.
 */

#include "trace/gallop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

TEST(Gallop, PartitionPointFromAnyGuessIsTheBisectionsPoint)
{
    std::mt19937 rng(31);
    int64_t calls = 0, asked = 0, at_point = 0, calls_at_point = 0;
    for (int round = 0; round < 3000; round++) {
        std::vector<int> run(rng() % 70);
        int value = 0;
        for (int &v : run) {
            value += rng() % 4 == 0 ? 0 : (int)(rng() % 5);
            v = value;
        }
        const int *from = run.data(), *to = run.data() + run.size();
        for (int cut = -1; cut <= value + 1; cut++) {
            auto below = [cut, &calls, from, to](const int &v) {
                EXPECT_TRUE(&v >= from && &v < to);
                calls++;
                return v < cut;
            };
            const int *want = std::partition_point(from, to, [cut](int v) { return v < cut; });
            for (size_t g = 0; g <= run.size(); g++) {
                int64_t before = calls;
                ASSERT_EQ(partition_point_from(from, to, from + g, below), want)
                    << "round " << round << ", cut " << cut << ", guess " << g;
                asked++;
                if (from + g == want) {
                    at_point++;
                    calls_at_point += calls - before;
                }
            }
        }
    }
    /* A guess at the point costs two calls of the predicate at most. */
    EXPECT_GT(asked, 100000);
    EXPECT_GT(at_point, 10000);
    EXPECT_LE(calls_at_point, 2 * at_point);
}

}  // namespace
