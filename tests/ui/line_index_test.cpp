/*
 * line_index_test.cpp --
 *
 *	The window scan through the index of prefix and block maxima against
 *	the literal scan from line 0, on many random line lists: times out of
 *	order, ties on a coarse grid, windows that meet line times exactly,
 *	empty and reversed windows, the 256 cap and no cap, lists shorter and
 *	longer than a block, and NaN times.
 */

#include "ui/line_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "analysis/line.h"

namespace {

const int32_t NO_CAP = std::numeric_limits<int32_t>::max();

/* The kinds of random lists. */
enum list_shape {
    SHAPE_SHUFFLED,      /* any time anywhere */
    SHAPE_CAPTURE,       /* sends in order, arrivals a varying delay later */
    SHAPE_EARLY_STRAY,   /* in order, but line 0 arrives after everything */
    SHAPE_BACKWARDS      /* sends running backwards */
};

struct random_lists {
    std::mt19937 rng{20261209};

    float grid_time(int steps)
    {
        return 0.125f * static_cast<float>(std::uniform_int_distribution<int>(-4, steps)(rng));
    }

    std::vector<line_record> make(list_shape shape, int count)
    {
        std::vector<line_record> v(count);
        for (int j = 0; j < count; j++) {
            line_record &l = v[j];
            l.dir = 1 + j % 2;
            float delay = grid_time(12) * 0.5f;
            switch (shape) {
            case SHAPE_SHUFFLED:
                l.t_send = grid_time(count / 4 + 8);
                l.t_recv = grid_time(count / 4 + 8);
                break;
            case SHAPE_CAPTURE:
                l.t_send = 0.125f * static_cast<float>(j / 3);
                l.t_recv = l.t_send + delay;
                break;
            case SHAPE_EARLY_STRAY:
                l.t_send = 0.125f * static_cast<float>(j / 2);
                l.t_recv = j == 0 ? 1e6f : l.t_send + std::fabs(delay);
                break;
            case SHAPE_BACKWARDS:
                l.t_send = 0.125f * static_cast<float>(count - j);
                l.t_recv = l.t_send + delay;
                break;
            }
            l.delay = l.t_recv - l.t_send;
        }
        return v;
    }

    /* A window edge: mostly on the grid, so that it meets line times. */
    float edge(int count) { return grid_time(count / 3 + 8); }
};

/* Both scans of one list and window agree, capped and not, and the span
 * holds exactly the uncapped lines. */
void expect_same(const std::vector<line_record> &v, float start, float end)
{
    const line_record *lines = v.data();
    int32_t count = static_cast<int32_t>(v.size());
    std::vector<int32_t> want, got;
    for (int32_t cap : {NO_CAP, 256, 3, 1}) {
        window_lines_literal(lines, count, start, end, cap, want);
        window_lines(lines, count, start, end, cap, got);
        ASSERT_EQ(got, want) << "count " << count << " window " << start << ".." << end
                             << " cap " << cap;
    }
    window_lines_literal(lines, count, start, end, NO_CAP, want);
    window_span span = window_span_of(lines, count, start, end);
    std::vector<int32_t> in_span;
    for (int32_t j = span.first; j < span.stop; j++) {
        if (!(start > lines[j].t_recv))
            in_span.push_back(j);
    }
    ASSERT_EQ(in_span, want) << "span " << span.first << ".." << span.stop;
    /* The span ends where the literal scan ends. */
    auto ends = [&](const line_record &l) { return !(start > l.t_recv) && l.t_send > end; };
    ASSERT_EQ(span.stop, std::find_if(lines, lines + count, ends) - lines)
        << "window " << start << ".." << end;
    ASSERT_EQ(next_unskipped(lines, count, start, 0), span.first);
}

TEST(LineIndex, IndexedScanGivesTheLiteralLinesOnRandomLists)
{
    random_lists r;
    const list_shape shapes[] = {SHAPE_SHUFFLED, SHAPE_CAPTURE, SHAPE_EARLY_STRAY,
                                 SHAPE_BACKWARDS};
    const int counts[] = {1, 2, 63, 64, 65, 300, 1000, 3000};
    for (list_shape shape : shapes) {
        for (int count : counts) {
            for (int round = 0; round < 6; round++) {
                std::vector<line_record> v = r.make(shape, count);
                line_index_build(v.data(), static_cast<int32_t>(v.size()));
                for (int w = 0; w < 40; w++) {
                    float a = r.edge(count), b = r.edge(count);
                    expect_same(v, a, b);                        /* may be reversed */
                    expect_same(v, std::min(a, b), std::max(a, b));
                    expect_same(v, a, a);                        /* one instant */
                }
                expect_same(v, -1e9f, 1e9f);
                expect_same(v, 1e9f, 2e9f);
                ASSERT_FALSE(::testing::Test::HasFatalFailure());
            }
        }
    }
    line_index_clear();
}

TEST(LineIndex, NaNTimesAndListsTheIndexWasNotBuiltFor)
{
    random_lists r;
    std::vector<line_record> v = r.make(SHAPE_CAPTURE, 500);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int j : {0, 70, 200, 499}) {
        v[j].t_recv = nan;
        v[j + 1 < 500 ? j + 1 : j].t_send = nan;
    }
    line_index_build(v.data(), 500);
    for (int w = 0; w < 200; w++)
        expect_same(v, r.edge(500), r.edge(500));
    expect_same(v, nan, 10.0f);
    expect_same(v, 5.0f, nan);

    /* Another list of the same count is scanned literally, not through an
     * index of different times. */
    std::vector<line_record> other = r.make(SHAPE_BACKWARDS, 500);
    for (int w = 0; w < 50; w++)
        expect_same(other, r.edge(500), r.edge(500));
    line_index_clear();
    expect_same(v, 2.0f, 9.0f);
    std::vector<int32_t> none;
    window_lines(nullptr, 0, 0.0f, 1.0f, 256, none);
    EXPECT_TRUE(none.empty());
}

}  // namespace
