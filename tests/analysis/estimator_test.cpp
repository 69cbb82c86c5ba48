/*
 * estimator_test.cpp --
 *
 *	Tests of estimate_delay: the window, the smoothing tables, the held
 *	values and the reset flag. Samples are written straight into the
 *	records' ack_time and resp_time.
 */

#include "analysis/estimator.h"

#include "analysis_fixture.h"

#include <cstring>
#include <vector>

#include "support/random_trace.h"

using namespace fixture;

namespace {

/* n records of length `len` without samples. */
void install_plain(int32_t n, int32_t len)
{
    std::vector<seg> segs;
    for (int32_t i = 0; i < n; i++)
        segs.push_back({i % 2 ? B : A, 0.01f * static_cast<float>(i), 1, 1, len, TH_ACK});
    install(segs);
    for (int32_t i = 0; i < n; i++) {
        rec(i).ack_time = -1.0f;
        rec(i).resp_time = -1.0f;
    }
}

/* The smoothing step as the tables do it: double, stored as float. */
float smooth(float old, float s)
{
    return static_cast<float>(0.9 * static_cast<double>(old) + 0.1 * static_cast<double>(s));
}

/* Half a round trip, as the final step computes it for len_rtt == zero_rtt. */
float half(float rtt)
{
    return static_cast<float>(static_cast<double>(rtt) - 0.5 * static_cast<double>(rtt));
}

class estimator : public analysis_test {};

TEST_F(estimator, NoSampleAfterResetGivesMinusHalfForAnyLength)
{
    install_plain(3, 0);
    rec(2).paylen = 1460;
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), -0.5f);
    EXPECT_FLOAT_EQ(estimate_delay(2, 0), -0.5f);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, -1.0f);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, -1.0f);
}

TEST_F(estimator, SynSampleGivesHalfItAndSeedsTheLengthRoundTrip)
{
    const float T = 0.2f;
    install_plain(4, 100);
    rec(0).paylen = 0;
    rec(0).ack_time = T;
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), half(T));
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, -1.0f);
    EXPECT_FLOAT_EQ(estimate_delay(1, 0), half(T));
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, T);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, T);
}

TEST_F(estimator, ZeroAndLengthSamplesGiveLengthMinusHalfZero)
{
    install_plain(2, 0);
    rec(0).ack_time = 0.06f;
    rec(1).paylen = 1000;
    rec(1).ack_time = 0.1f;
    EXPECT_NEAR(estimate_delay(1, 1), 0.07f, 1e-6);
}

TEST_F(estimator, RepeatedSamplesOfOneLengthAreSmoothed)
{
    const float s1 = 0.1f, s2 = 0.3f, s3 = 0.7f;
    install_plain(3, 100);
    rec(0).ack_time = s1;
    rec(1).ack_time = s2;
    /* No zero-length sample: the length round trip stands in for it. */
    float two = smooth(s1, s2);
    estimate_delay(0, 1);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, two);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, two);

    rec(2).ack_time = s3;
    float three = smooth(two, s3);
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), half(three));
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, three);

    /* resp_time goes to its own table and wins when larger. */
    rec(0).resp_time = 0.9f;
    rec(1).resp_time = 0.9f;
    rec(2).resp_time = 0.9f;
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), half(smooth(smooth(0.9f, 0.9f), 0.9f)));
}

TEST_F(estimator, ShortLengthRoundTripFallsBackToHeldThenToZero)
{
    install_plain(2, 0);
    rec(0).ack_time = 0.2f;
    rec(1).paylen = 100;
    rec(1).ack_time = 0.15f;   /* below zero_rtt 0.2 */

    g_analysis.held_zero_rtt = 0.1f;
    g_analysis.held_len_rtt = 0.3f;
    EXPECT_NEAR(estimate_delay(1, 0), 0.3f - 0.1f, 1e-6);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, 0.2f);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, 0.3f);

    g_analysis.held_len_rtt = 0.12f; /* below too: Z = 0.2 */
    EXPECT_NEAR(estimate_delay(1, 0), 0.2f - 0.1f, 1e-6);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, 0.2f);
}

TEST_F(estimator, LengthRoundTripEqualToZeroRoundTripIsKept)
{
    install_plain(2, 0);
    rec(0).ack_time = 0.25f;
    rec(1).paylen = 100;
    rec(1).ack_time = 0.25f;   /* equal to zero_rtt: no fall-back */
    g_analysis.held_len_rtt = 0.5f;
    EXPECT_FLOAT_EQ(estimate_delay(1, 0), 0.125f);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, 0.25f);
}

TEST_F(estimator, WindowIsTheTenRecordsBeforeOrTheFirstTen)
{
    install_plain(30, 0);
    rec(3).ack_time = 0.2f;   /* inside 0..9, the record itself for index 3 */
    rec(9).ack_time = 0.6f;
    rec(10).ack_time = 0.4f;  /* index 10 itself: outside its window */
    rec(14).ack_time = 0.8f;  /* just before 15..24 */
    rec(15).ack_time = 0.3f;
    rec(24).ack_time = 0.5f;
    rec(25).ack_time = 0.9f;  /* index 25 itself */

    float first_ten = half(smooth(0.2f, 0.6f));
    EXPECT_FLOAT_EQ(estimate_delay(3, 1), first_ten);
    EXPECT_FLOAT_EQ(estimate_delay(10, 1), first_ten);
    EXPECT_FLOAT_EQ(estimate_delay(25, 1), half(smooth(0.3f, 0.5f)));

    /* A trace shorter than ten records uses all of them. */
    install_plain(4, 0);
    rec(3).ack_time = 0.4f;
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), half(0.4f));
}

TEST_F(estimator, SkippedRecordGivesNoSample)
{
    install_plain(2, 0);
    rec(1).ack_time = 0.5f;
    rec(1).resp_time = 0.5f;
    rec(1).mark_flags = MARK_SKIP;
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), -0.5f);
}

TEST_F(estimator, ResetClearsHeldValuesEvenWithoutSamples)
{
    install_plain(2, 0);
    g_analysis.held_zero_rtt = 0.3f;
    g_analysis.held_len_rtt = 0.4f;
    /* Without reset the held zero round trip carries the estimate. */
    EXPECT_NEAR(estimate_delay(0, 0), 0.3f - 0.15f, 1e-6);
    EXPECT_FLOAT_EQ(estimate_delay(0, 1), -0.5f);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, -1.0f);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, -1.0f);

    /* An index outside the trace reads nothing. */
    g_analysis.held_zero_rtt = 0.3f;
    EXPECT_FLOAT_EQ(estimate_delay(2, 0), -0.5f);
    EXPECT_FLOAT_EQ(estimate_delay(-1, 0), -0.5f);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, 0.3f);
}

/* The stream gives what estimate_delay(0, 0), estimate_delay(1, 0), ...
 * give, bit for bit, and leaves the same held values, on random records:
 * lengths from a small set, samples present or not, skip flags, short
 * traces whose window is cut by the end, held values from before. */
TEST_F(estimator, StreamGivesTheCallsOneByOneOnRandomRecords)
{
    randtrace::rng g{777};
    const std::vector<int32_t> lengths = {0, 0, 1, 100, 1448, -3};
    const std::vector<float> samples = {-1.0f, -1.0f, 0.0f, 0.01f, 0.2f, 0.35f, 1e-7f};
    const std::vector<float> held = {-1.0f, 0.05f, 0.3f};
    for (int32_t round = 0; round < 400; round++) {
        std::vector<seg_record> v(static_cast<size_t>(g.below(round % 4 == 0 ? 12 : 90)));
        for (seg_record &r : v) {
            r.paylen = g.pick(lengths);
            r.ack_time = g.pick(samples);
            r.resp_time = g.pick(samples);
            r.mark_flags = g.chance(15) ? MARK_SKIP : 0;
        }
        randtrace::install_main(v);
        float zero = g.pick(held), len = g.pick(held);
        g_analysis = {zero, len};
        std::vector<float> one_by_one;
        for (int32_t i = 0; i < g_trace.main.count; i++)
            one_by_one.push_back(estimate_delay(i, 0));
        analysis_state after = g_analysis;

        g_analysis = {zero, len};
        delay_stream stream;
        for (int32_t i = 0; i < g_trace.main.count; i++) {
            float got = stream.next();
            ASSERT_EQ(std::memcmp(&one_by_one[static_cast<size_t>(i)], &got, sizeof got), 0)
                << "round " << round << ", record " << i;
        }
        EXPECT_EQ(std::memcmp(&after, &g_analysis, sizeof after), 0) << "round " << round;
    }
}

} // namespace
