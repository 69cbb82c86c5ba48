/*
 * estimator_test.cpp --
 *
 *	Tests of estimate_delay: the window, the smoothing tables, the held
 *	values and the reset flag. Samples are written straight into the
 *	records' ack_time and resp_time.
 */

#include "analysis/estimator.h"

#include "analysis_fixture.h"

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

} // namespace
