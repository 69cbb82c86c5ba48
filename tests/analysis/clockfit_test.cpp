/*
 * clockfit_test.cpp --
 *
 *	Tests of the clock fit: the hull form of the lower line gives exactly
 *	the line of the linear programme's literal form on thousands of random
 *	sample sets, and the combined fit finds a known skew and offset from
 *	two directions of delays that lie above their lines.
 */

#include "analysis/clockfit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace {

/* Samples above d = a + b t: uniform times, delays with positive noise. */
fit_points above(std::mt19937_64 &rng, int n, double a, double b, double noise)
{
    std::uniform_real_distribution<double> time(0.0, 60.0), extra(0.0, noise);
    fit_points v;
    for (int i = 0; i < n; i++) {
        double t = time(rng);
        v.push_back({t, a + b * t + extra(rng)});
    }
    return v;
}

TEST(clockfit, hull_line_is_the_linear_programme_line)
{
    std::mt19937_64 rng(18);
    std::uniform_int_distribution<int> size(2, 40);
    std::uniform_real_distribution<double> slope(-1e-3, 1e-3);
    for (int round = 0; round < 3000; round++) {
        fit_points a = above(rng, size(rng), 0.02, slope(rng), round % 2 ? 1e-3 : 1.0);
        fit_points b = above(rng, size(rng), -0.01, slope(rng), 5e-4);
        fit_points a2 = a, b2 = b;
        fit_line lit = lower_line_literal(a);
        fit_points sorted = a;
        fit_line fast = lower_line(&sorted);
        ASSERT_EQ(fast.ok, lit.ok) << round;
        ASSERT_EQ(fast.alpha, lit.alpha) << round;
        ASSERT_EQ(fast.beta, lit.beta) << round;
        clock_fit f = fit_clock(&a, &b), g = fit_clock_literal(&a2, &b2);
        ASSERT_EQ(f.ok, g.ok) << round;
        ASSERT_EQ(f.skew, g.skew) << round;
        ASSERT_EQ(f.offset, g.offset) << round;
        ASSERT_EQ(f.min_delay[0], g.min_delay[0]) << round;
        ASSERT_EQ(f.min_delay[1], g.min_delay[1]) << round;
    }
}

/* A direction's samples in time order as a load mostly gives them
 * (ties, a few out of place), some far off the others (wrong copies). */
fit_points walked_samples(std::mt19937_64 &rng, int n, double a, double b)
{
    std::uniform_real_distribution<double> gap(0.0, 1e-3), extra(0.0, 2e-3), unit(0.0, 1.0);
    fit_points v;
    double t = unit(rng) * 10.0;
    int order = static_cast<int>(rng() % 3);  /* 0 in order, 1 a few out, 2 any */
    for (int i = 0; i < n; i++) {
        t += unit(rng) < 0.2 ? 0.0 : gap(rng);
        double at = order == 2 ? unit(rng) * 60.0 : t;
        if (order == 1 && unit(rng) < 0.01)
            at -= gap(rng) * 5.0;
        double d = a + b * at + extra(rng);
        if (unit(rng) < 0.002)
            d += (unit(rng) - 0.5) * 10.0;
        v.push_back({at, d});
    }
    return v;
}

/* The two directions' vectors, walked as a load walks its lines. */
void walk_vectors(const void *ctx, fit_sink sink, void *const to[2])
{
    const fit_points *const *v = static_cast<const fit_points *const *>(ctx);
    for (int s = 0; s < 2; s++)
        for (const fit_point &p : *v[s])
            sink(to[s], p);
}

TEST(clockfit, fit_in_place_is_the_fit_over_vectors)
{
    std::mt19937_64 rng(31);
    std::uniform_real_distribution<double> slope(-1e-4, 1e-4);
    int in_order = 0;
    for (int round = 0; round < 1500; round++) {
        /* Mostly small sets, where the fit may fail; some past the size
         * at which only every k-th delay feeds the quantiles. */
        int big = round % 50 == 0 ? 30000 : 0;
        int n0 = big + static_cast<int>(rng() % 40), n1 = big + static_cast<int>(rng() % 40);
        fit_points a = walked_samples(rng, n0, 0.02, slope(rng));
        fit_points b = walked_samples(rng, n1, -0.01, slope(rng));
        in_order += std::is_sorted(a.begin(), a.end(),
                                   [](const fit_point &x, const fit_point &y) { return x.t < y.t; });
        fit_points va = a, vb = b;
        clock_fit want = fit_clock(&va, &vb);
        const fit_points *both[2] = {&a, &b};
        fit_walk walk{walk_vectors, both, {a.size(), b.size()}};
        clock_fit got = fit_clock_in_place(walk);
        /* Each direction on a thread of its own, whatever the size. */
        clock_fit apart = fit_clock_in_place(walk, true);
        auto all = [](const clock_fit &f) {
            return std::make_tuple(f.ok, f.why, f.skew, f.disagreement, f.offset, f.min_delay[0],
                                   f.min_delay[1], f.samples[0], f.samples[1]);
        };
        ASSERT_EQ(all(got), all(want)) << round;
        ASSERT_EQ(all(apart), all(want)) << round;
    }
    EXPECT_GT(in_order, 300);
    EXPECT_LT(in_order, 1200);
}

TEST(clockfit, known_clocks_and_no_fit)
{
    std::mt19937_64 rng(7);
    /* Peer clock 2.5 s ahead and 100 ppm fast, 20 ms each way plus up to
     * 0.5 ms of queueing: p = 2.5 + (1 + 1e-4) T. */
    double skew = 1e-4, offset = 2.5, delay = 0.020;
    fit_points out = above(rng, 5000, offset + delay * (1 + skew), skew, 5e-4);
    fit_points back = above(rng, 3000, -offset + delay * (1 + skew), -skew, 5e-4);
    clock_fit f = fit_clock(&out, &back);
    ASSERT_TRUE(f.ok);
    EXPECT_NEAR(f.skew, skew, 1e-7);
    EXPECT_NEAR(f.offset, offset, 2e-5);
    EXPECT_NEAR(f.min_delay[0], delay, 2e-5);
    EXPECT_NEAR(f.min_delay[1], delay, 2e-5);
    EXPECT_LT(f.disagreement, 2e-7);
    EXPECT_NEAR(peer_to_main(f, offset + (1 + skew) * 40.0), 40.0, 2e-5);

    fit_points few(out.begin(), out.begin() + FIT_MIN_SAMPLES - 1);
    EXPECT_FALSE(fit_clock(&out, &few).ok);
    fit_points none;
    clock_fit g = fit_clock(&none, &back);
    EXPECT_FALSE(g.ok);
    EXPECT_NE(g.why, nullptr);
    fit_points one_time(FIT_MIN_SAMPLES, fit_point{3.0, 0.02});
    EXPECT_FALSE(fit_clock(&out, &one_time).ok);
}

}  // namespace
