/*
 * pairing_test.cpp --
 *
 *	Tests of the forward and backward acknowledgement pairing: links,
 *	ack_time and resp_time samples, and the longest sample handed from
 *	one pass to the other.
 */

#include "analysis/pairing.h"

#include "analysis_fixture.h"

using namespace fixture;

namespace {

constexpr uint8_t ACK = TH_ACK;
constexpr uint8_t SYN = TH_SYN;

class pairing : public analysis_test {};

TEST_F(pairing, ExpectedAckWrapsIn32BitsAndCountsSynButNotFin)
{
    seg_record r = {};
    set_seq(r, 1);
    r.paylen = 100;
    EXPECT_EQ(expected_ack(r), 101);
    r.tcp_flags = TH_SYN;
    EXPECT_EQ(expected_ack(r), 102);
    r.tcp_flags = TH_FIN;
    EXPECT_EQ(expected_ack(r), 101);
    r.tcp_flags = 0;
    set_seq(r, 0x7fffffffLL);           /* low 32 bits + 100 wraps negative */
    EXPECT_EQ(expected_ack(r), -2147483549LL);
    set_seq(r, 0x100000005LL);          /* only the low 32 bits count */
    EXPECT_EQ(expected_ack(r), 105);
}

TEST_F(pairing, HandshakeAndDataArePairedExactlyWithResponseTimes)
{
    const float t[] = {0.0f, 0.1f, 0.1002f, 0.1003f, 0.2f};
    install({
        {A, t[0], 0, 0, 0, SYN},
        {B, t[1], 0, 1, 0, SYN | ACK},  /* acknowledges the SYN at 1 */
        {A, t[2], 1, 1, 0, ACK},
        {A, t[3], 1, 1, 100, ACK},
        {B, t[4], 1, 101, 0, ACK},      /* exact for 1:101 */
    });
    float longest = pair_forward();

    EXPECT_FLOAT_EQ(rec(0).ack_time, t[1] - t[0]);
    EXPECT_EQ(rec(0).acked_by, 1);
    EXPECT_EQ(acks_of(1), 0);           /* acknowledges record 0: reads none */
    EXPECT_FLOAT_EQ(rec(1).ack_time, t[2] - t[1]);
    EXPECT_EQ(rec(1).acked_by, 2);
    EXPECT_EQ(acks_of(2), 1);
    EXPECT_FLOAT_EQ(rec(3).ack_time, t[4] - t[3]);
    EXPECT_EQ(rec(3).acked_by, 4);
    EXPECT_EQ(acks_of(4), 3);

    /* A's segments starting at B's highest ack (1, set at t[1]). */
    EXPECT_FLOAT_EQ(rec(2).resp_time, t[2] - t[1]);
    EXPECT_FLOAT_EQ(rec(3).resp_time, t[3] - t[1]);
    EXPECT_FLOAT_EQ(rec(0).resp_time, -1.0f);
    EXPECT_FLOAT_EQ(rec(1).resp_time, -1.0f);
    EXPECT_FLOAT_EQ(rec(4).resp_time, -1.0f);
    EXPECT_FLOAT_EQ(rec(2).ack_time, -1.0f);
    EXPECT_EQ(rec(2).acked_by, 0);
    EXPECT_FLOAT_EQ(longest, t[1] - t[0]);
}

TEST_F(pairing, CoveringAckLinksWithoutSampleAndNamesTheLastSegment)
{
    const float t[] = {0.0f, 0.01f, 0.2f, 0.3f};
    install({
        {A, t[0], 1, 101, 100, ACK},   /* own ack 101 >= expected: passed over */
        {A, t[1], 101, 101, 100, ACK},
        {B, t[2], 101, 201, 0, ACK},   /* covers record 0, exact for 1 */
        {A, t[3], 201, 101, 100, ACK}, /* never acknowledged */
    });
    float longest = pair_forward();

    EXPECT_FLOAT_EQ(rec(0).ack_time, -1.0f);
    EXPECT_EQ(rec(0).acked_by, 2);
    EXPECT_FLOAT_EQ(rec(1).ack_time, t[2] - t[1]);
    EXPECT_EQ(rec(1).acked_by, 2);
    EXPECT_EQ(acks_of(2), 1);
    EXPECT_FLOAT_EQ(rec(3).ack_time, -1.0f);
    EXPECT_EQ(rec(3).acked_by, 0);
    EXPECT_FLOAT_EQ(rec(3).resp_time, t[3] - t[2]);
    EXPECT_FLOAT_EQ(longest, t[2] - t[1]);
}

TEST_F(pairing, MarkedOrSkippedRecordsGetNoSamplesAndLeaveHighestAck)
{
    for (int skip_only = 0; skip_only <= 1; skip_only++) {
        install({
            {A, 0.0f, 1, 1, 100, ACK},
            {B, 0.1f, 1, 101, 0, ACK},   /* highest ack 101, to A */
            {B, 0.15f, 1, 5000, 0, ACK}, /* marked: must not take it over */
            {A, 0.2f, 101, 1, 100, ACK},
        });
        rec(2).mark = skip_only ? 0 : 2;
        rec(2).mark_flags = MARK_SKIP;
        rec(2).ack_time = 7.0f;
        rec(2).acked_by = 9;
        pair_forward();
        EXPECT_FLOAT_EQ(rec(2).ack_time, -1.0f);
        EXPECT_FLOAT_EQ(rec(2).resp_time, -1.0f);
        EXPECT_EQ(rec(2).acked_by, 0);
        EXPECT_FLOAT_EQ(rec(3).resp_time, 0.2f - 0.1f);
    }
}

TEST_F(pairing, BackwardPairingTakesTheOldestEligibleRecordInTime)
{
    install({
        {A, 0.00f, 1, 1, 100, ACK},   /* record 0: never looked at */
        {A, 0.50f, 101, 1, 100, ACK}, /* oldest in reach of record 5 */
        {A, 0.60f, 201, 1, 100, ACK}, /* already acknowledged */
        {A, 0.00f, 301, 1, 100, ACK}, /* mark 6: passed over before the time test */
        {A, 0.80f, 401, 1, 100, ACK},
        {B, 0.90f, 1, 1, 0, ACK},
        {B, 1.00f, 1, 1, 0, ACK},
        {B, 1.05f, 1, 1, 0, SYN | ACK}, /* a SYN is never the acknowledgement */
    });
    for (int32_t i = 0; i < 8; i++)
        rec(i).ack_time = -1.0f;
    rec(2).acked_by = 7;
    rec(3).mark = 6;
    pair_backward(0.45f);

    EXPECT_EQ(acks_of(5), 1);
    EXPECT_EQ(rec(1).acked_by, 5);
    EXPECT_FLOAT_EQ(rec(1).ack_time, 0.90f - 0.50f);
    /* Record 6 reaches back to record 2 only; 1 is taken anyway. */
    EXPECT_EQ(acks_of(6), 4);
    EXPECT_EQ(rec(4).acked_by, 6);
    EXPECT_FLOAT_EQ(rec(4).ack_time, 1.00f - 0.80f);
    EXPECT_EQ(acks_of(7), 0);
    EXPECT_EQ(rec(0).acked_by, 0);
    EXPECT_EQ(rec(3).acked_by, 0);
}

TEST_F(pairing, BackwardWalkGoesOnWhenTheGapEqualsTheLongestSample)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.5f, 1, 1, 100, ACK},   /* exactly longest_sample before record 2 */
        {B, 1.0f, 1, 1, 0, ACK},
    });
    for (int32_t i = 0; i < 3; i++)
        rec(i).ack_time = -1.0f;
    pair_backward(0.5f);
    EXPECT_EQ(acks_of(2), 1);
    EXPECT_EQ(rec(1).acked_by, 2);
    EXPECT_FLOAT_EQ(rec(1).ack_time, 0.5f);
}

TEST_F(pairing, BackwardPairingNeverUsesRecordsZeroOrOne)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {B, 0.1f, 1, 1, 0, ACK},   /* index 1: never the acknowledgement */
        {B, 0.2f, 1, 1, 0, ACK},   /* reaches record 1 only */
    });
    for (int32_t i = 0; i < 3; i++)
        rec(i).ack_time = -1.0f;
    pair_backward(10.0f);
    EXPECT_EQ(rec(0).acked_by, 0);
    EXPECT_EQ(acks_of(1), 0);
    EXPECT_EQ(acks_of(2), 0);
    EXPECT_FLOAT_EQ(rec(0).ack_time, -1.0f);
}

TEST_F(pairing, NoSampleAtAllLeavesLongestUnsetAndPairsNothingBackward)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.1f, 101, 1, 100, ACK},
        {A, 0.2f, 201, 1, 100, ACK},
        {B, 0.3f, 7, 1, 0, ACK},   /* below A's data, not at A's ack */
    });
    float longest = pair_forward();
    EXPECT_FLOAT_EQ(longest, -1.0f);
    pair_backward(longest);
    for (int32_t i = 0; i < 4; i++) {
        EXPECT_EQ(rec(i).acked_by, 0) << i;
        EXPECT_EQ(acks_of(i), 0) << i;
    }
}

TEST_F(pairing, LoopbackAcknowledgementIsFoundByPorts)
{
    install({
        {LA, 0.0f, 0, 0, 0, SYN},
        {LA, 0.05f, 0, 1, 0, ACK},     /* same address and ack 1, own end */
        {LB, 0.1f, 0, 1, 0, SYN | ACK},
    });
    pair_forward();
    EXPECT_EQ(rec(0).acked_by, 2);
    EXPECT_FLOAT_EQ(rec(0).ack_time, 0.1f);
}

} // namespace
