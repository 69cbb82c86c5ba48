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

#include <random>
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
