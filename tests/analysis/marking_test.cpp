/*
 * marking_test.cpp --
 *
 *	Tests of the order check and the pair scan: which marks and skip
 *	flags the two passes leave on hand-built traces.
 */

#include "analysis/marking.h"

#include "analysis/dest_index.h"
#include "analysis_fixture.h"
#include "support/random_trace.h"

using namespace fixture;

namespace {

constexpr uint8_t ACK = TH_ACK;
constexpr uint8_t SYN = TH_SYN;
constexpr uint8_t FIN_ACK = TH_FIN | TH_ACK;

void run_marking()
{
    mark_order_check();
    mark_pair_scan();
}

class marking : public analysis_test {};

TEST_F(marking, TripleTransmissionMarksFourFourThreeAndSkipsUpToTheAckBeyond)
{
    install({
        {A, 0.00f, 1, 1, 100, ACK},   /* first copy */
        {B, 0.05f, 1, 1, 0, ACK},     /* between the copies */
        {A, 0.30f, 1, 1, 100, ACK},   /* second copy */
        {A, 0.90f, 1, 1, 100, ACK},   /* third copy */
        {B, 1.00f, 1, 2, 0, ACK},     /* ack 2: not beyond seq + 1 */
        {B, 1.10f, 1, 101, 0, ACK},   /* first ack beyond: cleared */
        {A, 1.20f, 101, 1, 100, ACK}, /* after the follow-up */
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{4, 0, 4, 3, 0, 0, 0}));
    EXPECT_EQ(skips(), (std::vector<int>{1, 1, 1, 1, 1, 0, 0}));
}

TEST_F(marking, RetransmittedSynMarksFourThenThree)
{
    install({
        {A, 0.0f, 0, 0, 0, SYN},
        {A, 3.0f, 0, 0, 0, SYN},
        {B, 3.1f, 0, 1, 0, SYN | ACK}, /* ack 1 is not beyond h = 1 */
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{4, 3, 0}));
    EXPECT_EQ(skips(), (std::vector<int>{1, 1, 1}));
}

TEST_F(marking, PayloadFreeRepeatOfDataSeqIsARetransmission)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.1f, 1, 7, 0, ACK},
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{4, 3}));
}

/* A duplicate ACK carries no data, SYN or FIN (RFC 5681): a host that
 * sends data with one fixed ack, then its FIN, has no duplicate ACK. */
TEST_F(marking, DataAndFinSharingOneAckAreNoDuplicateAcks)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.1f, 101, 1, 100, ACK},
        {A, 0.2f, 201, 1, 100, ACK},
        {B, 0.3f, 1, 301, 0, ACK},
        {A, 0.4f, 301, 1, 0, FIN_ACK},
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(skips(), (std::vector<int>{0, 0, 0, 0, 0}));
}

TEST_F(marking, OnlyBareAcksPairAsDuplicatesAndALostSegmentStaysFour)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},   /* lost: keeps 4, never ORed with 2 */
        {A, 0.5f, 1, 1, 100, ACK},   /* retransmission of record 0 */
        {A, 0.6f, 101, 1, 0, ACK},   /* bare ACK, ack 1: the data is no partner */
        {B, 0.7f, 1, 101, 0, ACK},
        {B, 0.8f, 1, 101, 0, ACK},   /* duplicate of record 3 */
        {B, 0.9f, 2, 101, 0, SYN | ACK}, /* a SYN is no duplicate */
        {B, 1.0f, 3, 101, 0, FIN_ACK},   /* nor a FIN */
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{4, 3, 0, 2, 2, 0, 0}));
    EXPECT_EQ(skips(), (std::vector<int>{1, 1, 1, 1, 1, 0, 0}));
}

TEST_F(marking, OrderCheckTreatsEqualSeqDifferentlyPerDirection)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.1f, 1, 1, 100, ACK},   /* equal seq, first direction */
        {B, 0.2f, 1, 101, 50, ACK},
        {B, 0.3f, 1, 101, 50, ACK},  /* equal seq, other direction */
    });
    mark_order_check();
    EXPECT_EQ(marks(), (std::vector<int>{0, 0, 0, 6}));
    EXPECT_EQ(skips(), (std::vector<int>{0, 0, 0, 1}));
    mark_pair_scan();
    EXPECT_EQ(marks(), (std::vector<int>{4, 3, 4, 3}));

    /* Mid-connection start: the other direction's first data at seq 0. */
    install({
        {A, 0.0f, 0, 0, 10, ACK},
        {B, 0.1f, 0, 10, 10, ACK},
    });
    mark_order_check();
    EXPECT_EQ(marks(), (std::vector<int>{0, 6}));
    EXPECT_EQ(skips(), (std::vector<int>{0, 1}));
}

TEST_F(marking, FollowUpClearsTheAckBeyondButALaterOuterIndexMarksAgain)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.5f, 1, 1, 100, ACK},
        {B, 0.6f, 0, 101, 10, ACK},  /* order check: 6 */
    });
    mark_order_check();
    EXPECT_EQ(rec(2).mark, 6);
    mark_pair_scan();
    EXPECT_EQ(marks(), (std::vector<int>{4, 3, 0}));
    EXPECT_EQ(skips(), (std::vector<int>{1, 1, 0}));

    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.5f, 1, 1, 100, ACK},
        {B, 0.6f, 0, 101, 10, ACK},  /* cleared in record 0's scan ... */
        {B, 0.9f, 0, 101, 10, ACK},  /* ... then marked 4 in its own */
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{4, 3, 4, 3}));
    EXPECT_EQ(skips(), (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(marking, LoopbackConnectionIsSplitByPorts)
{
    install({
        {LA, 0.0f, 1, 1, 100, ACK},
        {LB, 0.1f, 1, 101, 100, ACK}, /* same address, same seq, other end */
        {LA, 0.2f, 1, 1, 100, ACK},
    });
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{4, 0, 3}));
    EXPECT_EQ(skips(), (std::vector<int>{1, 1, 1}));
}

TEST_F(marking, SingleRecordAndEmptyTraceStayUnmarked)
{
    install({{A, 0.0f, 0, 0, 100, ACK}});
    run_marking();
    EXPECT_EQ(marks(), (std::vector<int>{0}));
    EXPECT_EQ(skips(), (std::vector<int>{0}));

    install({});
    run_marking();
    EXPECT_EQ(g_trace.main.count, 0);
}

TEST_F(marking, LiteralScanWorksOnAnyRecordArray)
{
    install({
        {A, 0.0f, 0, 0, 0, SYN},
        {A, 3.0f, 0, 0, 0, SYN},
    });
    mark_pair_scan_literal(g_trace.main.rec, 1); /* first record alone */
    EXPECT_EQ(marks(), (std::vector<int>{0, 0}));
    mark_pair_scan_literal(g_trace.main.rec, 2);
    EXPECT_EQ(marks(), (std::vector<int>{4, 3}));
}

TEST_F(marking, IndexedOrderCheckGivesThePlainMarksOnRandomTraces)
{
    randtrace::rng g{4417};
    int32_t marked = 0;
    for (int32_t round = 0; round < 200; round++) {
        for (const randtrace::trace_kind &kind : randtrace::KINDS) {
            randtrace::random_trace t = randtrace::make_random_trace(g, kind);
            randtrace::install_main(t.rec);
            mark_order_check();
            std::vector<seg_record> plain(g_trace.main.rec, g_trace.main.rec + g_trace.main.count);
            randtrace::install_main(t.rec);
            dest_index ix;
            mark_order_check_indexed(dest_index_make(g_trace.main.rec, g_trace.main.count, ix));
            for (size_t k = 0; k < plain.size(); k++) {
                ASSERT_EQ(g_trace.main.rec[k].mark, plain[k].mark) << t.about << " " << k;
                ASSERT_EQ(g_trace.main.rec[k].mark_flags, plain[k].mark_flags) << t.about << " " << k;
                marked += plain[k].mark == MARK_OUT_OF_ORDER;
            }
        }
    }
    EXPECT_GT(marked, 100);
}

}  // namespace
