/*
 * columns_test.cpp --
 *
 *	The column reduction: the pyramid form gives the literal form's cells
 *	on random series and views, and a lone spike survives a view of far
 *	more points than columns. Points kept by field read back as added.
 */

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "graph/columns.h"

namespace {

void expect_same(const std::vector<column_cell> &a, const std::vector<column_cell> &b)
{
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); i++) {
        EXPECT_EQ(a[i].x, b[i].x) << i;
        EXPECT_EQ(a[i].lo, b[i].lo) << i;
        EXPECT_EQ(a[i].hi, b[i].hi) << i;
        EXPECT_EQ(a[i].first, b[i].first) << i;
        EXPECT_EQ(a[i].last, b[i].last) << i;
    }
}

}  // namespace

TEST(Columns, PyramidFormEqualsLiteralOnRandomSeries)
{
    std::mt19937 rng(17);
    for (int round = 0; round < 300; round++) {
        size_t n = rng() % (round < 50 ? 40 : 5000);
        std::vector<graph_point> pts;
        float t = 0;
        for (size_t i = 0; i < n; i++) {
            t += (rng() % 4 == 0) ? 0.0f : static_cast<float>(rng() % 1000) * 1e-4f;
            double lo = static_cast<double>(rng() % 100000) - 500;
            pts.push_back({t, static_cast<int32_t>(i), lo, lo + rng() % 3000});
        }
        column_pyramid pyr;
        pyramid_build(&pyr, pts);
        double end = t + 0.01;
        column_view v;
        v.t0 = (rng() % 3 == 0) ? -0.5 : end * (rng() % 1000) / 1000.0;
        v.t1 = v.t0 + (end - v.t0) * (1 + rng() % 1000) / 900.0;
        v.width = 1 + static_cast<int>(rng() % 1200);
        std::vector<column_cell> slow, fast;
        reduce_columns_literal(pts, v, slow);
        reduce_columns(pts, pyr, v, fast);
        expect_same(slow, fast);
    }
}

TEST(Columns, LoneSpikeAndEdgesSurviveReduction)
{
    std::vector<graph_point> pts;
    for (int i = 0; i < 100000; i++)
        pts.push_back({i * 1e-4f, i, 10.0, 10.0});
    pts[54321].hi = 1e6;
    column_pyramid pyr;
    pyramid_build(&pyr, pts);
    column_view v{1.0, 8.0, 700};
    std::vector<column_cell> cells;
    reduce_columns(pts, pyr, v, cells);
    /* The point before the view, 700 columns, the point after it. */
    ASSERT_EQ(cells.size(), 702u);
    EXPECT_LT(cells.front().x, 0.0);
    EXPECT_GT(cells.back().x, 700.0);
    int spikes = 0;
    for (const column_cell &c : cells)
        spikes += c.hi == 1e6 && c.first <= 54321 && c.last >= 54321;
    EXPECT_EQ(spikes, 1);
    /* Few points: each its own cell at its own x. */
    reduce_columns(pts, pyr, column_view{1.0, 1.01, 1000}, cells);
    ASSERT_EQ(cells.size(), 103u);
    EXPECT_NEAR(cells[1].x, 0.0, 1e-3);
    EXPECT_EQ(cells[1].first, 10000);
}

TEST(Columns, RangeExtremesEqualAWalkOverThePointsAndThePyramidStaysSmall)
{
    std::mt19937 rng(31);
    for (size_t n : {size_t{2}, size_t{7}, size_t{8}, size_t{9}, size_t{63}, size_t{1000},
                     size_t{65537}}) {
        std::vector<graph_point> pts;
        for (size_t i = 0; i < n; i++) {
            double lo = static_cast<double>(rng() % 100000) - 50000;
            pts.push_back({static_cast<float>(i), static_cast<int32_t>(i), lo, lo + rng() % 500});
        }
        column_pyramid pyr;
        pyramid_build(&pyr, pts);
        size_t stored = 0;
        for (const std::vector<double> &level : pyr.lo_min)
            stored += level.size();
        EXPECT_LE(stored, n / 4 + 32) << n;
        for (int round = 0; round < 400; round++) {
            int64_t a = static_cast<int64_t>(rng() % n);
            int64_t b = a + 1 + static_cast<int64_t>(rng() % (n - static_cast<size_t>(a)));
            double lo = 0, hi = 0;
            range_extremes(pts, pyr, a, b, &lo, &hi);
            double want_lo = pts[static_cast<size_t>(a)].lo, want_hi = pts[static_cast<size_t>(a)].hi;
            for (int64_t i = a; i < b; i++) {
                want_lo = std::min(want_lo, pts[static_cast<size_t>(i)].lo);
                want_hi = std::max(want_hi, pts[static_cast<size_t>(i)].hi);
            }
            ASSERT_EQ(lo, want_lo) << n << " [" << a << ", " << b << ")";
            ASSERT_EQ(hi, want_hi) << n << " [" << a << ", " << b << ")";
        }
    }
}

TEST(Columns, PointsKeptByFieldReadBackAsAdded)
{
    /* Series of single values, of bars from the start, and of single
     * values that turn into bars late; a zero of either sign is a low of
     * its own. */
    std::mt19937 rng(23);
    for (int round = 0; round < 40; round++) {
        size_t n = rng() % 3000;
        size_t bars_from = round % 4 == 0 ? n : round % 4 == 1 ? 0 : rng() % (n + 1);
        std::vector<graph_point> want;
        point_columns have;
        for (size_t i = 0; i < n; i++) {
            double hi = (rng() % 5 == 0) ? 0.0 : static_cast<double>(rng() % 100000) / 7;
            double lo = hi;
            if (i >= bars_from && rng() % 3 != 0)
                lo = rng() % 4 == 0 ? -0.0 : hi - rng() % 500;
            graph_point p{static_cast<float>(i) / 3, static_cast<int32_t>(rng() % 1000), lo, hi};
            want.push_back(p);
            have.push_back(p);
        }
        point_columns copy(want);
        for (const point_columns *c : {&have, &copy}) {
            ASSERT_EQ(c->size(), want.size());
            size_t k = 0;
            for (const graph_point &p : *c) {
                const graph_point &w = want[k++];
                ASSERT_TRUE(p.t == w.t && p.rec == w.rec && p.lo == w.lo && p.hi == w.hi &&
                            std::signbit(p.lo) == std::signbit(w.lo))
                    << round << " point " << k - 1;
            }
        }
        int64_t a, b;
        points_in_view(have, 100.0, 200.5, &a, &b);
        auto first = std::lower_bound(want.begin(), want.end(), 100.0,
                                      [](const graph_point &p, double t) { return p.t < t; });
        EXPECT_EQ(a, first - want.begin());
        EXPECT_EQ(b - a, std::count_if(want.begin(), want.end(), [](const graph_point &p) {
                      return p.t >= 100.0 && p.t <= 200.5;
                  }));
    }
}
