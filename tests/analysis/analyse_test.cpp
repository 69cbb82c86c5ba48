/*
 * analyse_test.cpp --
 *
 *	Tests of the analysis entry and the line list: the reference record
 *	and the left host, the lines' direction, times and classes, the
 *	arrival clamp, and the color table.
 */

#include "analysis/analyse.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/marking.h"
#include "analysis/pairing.h"
#include "analysis_fixture.h"
#include "support/random_trace.h"

using namespace fixture;

namespace {

constexpr uint8_t ACK = TH_ACK;
constexpr uint8_t SYN = TH_SYN;

class analyse : public analysis_test {};

/* A handshake and one data segment as captured at A: A's times are sends. */
void install_captured_at_a(host a, host b)
{
    install({
        {a, 0.0f, 0, 0, 0, SYN},
        {b, 0.1f, 0, 1, 0, SYN | ACK},
        {a, 0.1002f, 1, 1, 0, ACK},
        {a, 0.1003f, 1, 1, 100, ACK},
        {b, 0.2f, 1, 101, 0, ACK},
    });
}

TEST_F(analyse, ColorTableHoldsSevenNamesInFiftyByteSlots)
{
    const char *names[] = {"blue", "red", "green", "orange", "purple", "purple", "brown"};
    EXPECT_EQ(sizeof color_table, 7u * 50u);
    for (int c = 0; c < 7; c++)
        EXPECT_STREQ(color_table[c], names[c]) << c;
}

TEST_F(analyse, LeftHostIsTheCaptureHostChosenFromTheReferenceRecord)
{
    /* At A the SYN waits a whole round trip: estimate below its ack_time. */
    install_captured_at_a(A, B);
    analyse_trace();
    ASSERT_NE(g_trace.lines, nullptr);
    EXPECT_EQ(reference_record(), 0);
    const int want_at_a[] = {1, 2, 1, 1, 2};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(g_trace.lines[i].dir, want_at_a[i]) << i;

    /* At B the SYN is answered at once: estimate above its ack_time. */
    trace_state_clear();
    install({
        {A, 0.0f, 0, 0, 0, SYN},
        {B, 0.0002f, 0, 1, 0, SYN | ACK},
        {A, 0.1f, 1, 1, 0, ACK},
        {A, 0.1001f, 1, 1, 100, ACK},
        {B, 0.1003f, 1, 101, 0, ACK},
    });
    analyse_trace();
    ASSERT_NE(g_trace.lines, nullptr);
    const int want_at_b[] = {2, 1, 2, 2, 1};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(g_trace.lines[i].dir, want_at_b[i]) << i;
}

TEST_F(analyse, EstimateEqualToTheReferenceAckTimeKeepsItsSourceAsLeftHost)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {B, 0.1f, 1, 101, 0, ACK},
    });
    rec(0).ack_time = 0.25f;   /* estimate: 0.5 - 0.5 / 2 = 0.25 */
    rec(0).resp_time = 0.5f;
    rec(1).ack_time = 0.5f;
    rec(1).resp_time = -1.0f;
    endpoint left = choose_left_host(0);
    EXPECT_EQ(left.a4, ADDR_A);
    EXPECT_EQ(left.port, 40000);

    rec(0).ack_time = 0.2f;    /* now strictly below the estimate */
    left = choose_left_host(0);
    EXPECT_EQ(left.a4, ADDR_B);
}

TEST_F(analyse, LinesTakeTimesDirectionClassAndBytesFromTheirRecords)
{
    install({
        {A, 0.90f, 1, 1, 0, ACK},
        {B, 0.95f, 1, 1, 0, ACK},
        {A, 1.00f, 1, 1, 100, ACK},
        {B, 1.20f, 1, 101, 100, ACK},
    });
    rec(0).ack_time = 0.1f;   /* every estimate: 0.1 - 0.1 / 2 */
    rec(1).ack_time = 0.1f;
    rec(1).mark = 2;
    rec(3).mark = 6;
    build_line_list(source_of(rec(0)));
    const line_record *l = g_trace.lines;
    ASSERT_NE(l, nullptr);

    EXPECT_EQ(l[2].dir, 1);
    EXPECT_NEAR(l[2].t_send, 1.0f, 1e-6);
    EXPECT_NEAR(l[2].t_recv, 1.05f, 1e-6);
    EXPECT_NEAR(l[2].delay, 0.05f, 1e-6);
    EXPECT_EQ(l[3].dir, 2);
    EXPECT_NEAR(l[3].t_send, 1.15f, 1e-6);
    EXPECT_NEAR(l[3].t_recv, 1.2f, 1e-6);

    const int want_cls[] = {CLS_NODATA, CLS_DUPACK, CLS_DATA, CLS_OUTORDER};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(l[i].cls, want_cls[i]) << i;
    }
}

TEST_F(analyse, ClampPullsArrivalBackToTheAcknowledgementUnlessDelayTurnsNegative)
{
    install({
        {A, 1.00f, 1, 1, 100, ACK},
        {B, 1.08f, 1, 101, 0, ACK},
    });
    rec(0).acked_by = 1;
    line_record *l = alloc_lines();
    l[0] = {1, 1.00f, 1.05f, 0.05f, CLS_DATA};
    l[1] = {2, 1.03f, 1.08f, 0.05f, CLS_NODATA};
    clamp_arrivals(source_of(rec(0)));
    EXPECT_FLOAT_EQ(l[0].t_recv, 1.03f);
    EXPECT_FLOAT_EQ(l[0].delay, 1.03f - 1.00f);
    EXPECT_FLOAT_EQ(l[1].t_recv, 1.08f);

    /* The acknowledgement leaves before the data: the clamp is undone. */
    l[0] = {1, 1.00f, 1.05f, 0.05f, CLS_DATA};
    l[1] = {2, 0.98f, 1.08f, 0.10f, CLS_NODATA};
    clamp_arrivals(source_of(rec(0)));
    EXPECT_FLOAT_EQ(l[0].t_recv, 1.05f);
    EXPECT_FLOAT_EQ(l[0].delay, 1.05f - 1.00f);
}

TEST_F(analyse, BackwardTimeStampsLeaveTheLineAsBuiltAndTheProgramRunning)
{
    /* B's data, captured at A after A's acknowledgement of it was sent. */
    install({
        {B, 1.20f, 1, 1, 100, ACK},
        {A, 1.10f, 1, 101, 0, ACK},
    });
    rec(0).acked_by = 1;
    line_record *l = alloc_lines();
    l[0] = {2, 1.15f, 1.20f, 0.05f, CLS_DATA};
    l[1] = {1, 1.10f, 1.15f, 0.05f, CLS_NODATA};
    clamp_arrivals(source_of(rec(1)));
    EXPECT_FLOAT_EQ(l[0].t_recv, 1.20f);
    EXPECT_FLOAT_EQ(l[0].delay, 0.05f);

    /* The whole analysis of such a capture returns instead of exiting. */
    trace_state_clear();
    install({
        {A, 0.0f, 0, 0, 0, SYN},
        {B, 0.1f, 0, 1, 0, SYN | ACK},
        {A, 0.1001f, 1, 1, 0, ACK},
        {B, 0.3f, 1, 1, 100, ACK},
        {A, 0.25f, 1, 101, 0, ACK},   /* time stamp runs backwards */
    });
    EXPECT_EXIT({ analyse_trace(); std::exit(0); }, ::testing::ExitedWithCode(0), "");
    analyse_trace();
    ASSERT_NE(g_trace.lines, nullptr);
    EXPECT_EQ(rec(3).acked_by, 4);
    EXPECT_EQ(g_trace.lines[3].dir, 2);
    EXPECT_FLOAT_EQ(g_trace.lines[3].t_recv, 0.3f);
}

TEST_F(analyse, ReferenceFallsBackToRecordZeroWithoutPositiveAckTime)
{
    install({
        {A, 0.0f, 1, 1, 100, ACK},
        {A, 0.1f, 101, 1, 100, ACK},
        {A, 0.2f, 201, 1, 100, ACK},
    });
    rec(0).ack_time = -1.0f;
    rec(1).ack_time = 0.0f;
    rec(2).ack_time = -1.0f;
    EXPECT_EQ(reference_record(), 0);
    rec(2).ack_time = 0.01f;
    EXPECT_EQ(reference_record(), 2);

    /* No sample at all: -0.5 beats record 0's -1, so its destination is left. */
    analyse_trace();
    ASSERT_NE(g_trace.lines, nullptr);
    EXPECT_EQ(g_trace.lines[0].dir, 2);
    EXPECT_FLOAT_EQ(g_trace.lines[0].delay, -0.5f);
    EXPECT_FLOAT_EQ(g_trace.lines[0].t_recv, 0.0f);
    EXPECT_FLOAT_EQ(g_trace.lines[0].t_send, 0.5f);
}

TEST_F(analyse, EmptyTraceGivesNoLineListAndNoEstimate)
{
    g_trace.lines = static_cast<line_record *>(std::calloc(1, sizeof(line_record)));
    g_analysis.held_zero_rtt = 0.25f;
    g_analysis.held_len_rtt = 0.5f;
    analyse_trace();
    EXPECT_EQ(g_trace.lines, nullptr);
    EXPECT_FLOAT_EQ(g_analysis.held_zero_rtt, 0.25f);
    EXPECT_FLOAT_EQ(g_analysis.held_len_rtt, 0.5f);
}

TEST_F(analyse, LoopbackConnectionIsAnalysedByPorts)
{
    install_captured_at_a(LA, LB);
    analyse_trace();
    ASSERT_NE(g_trace.lines, nullptr);
    EXPECT_EQ(rec(0).acked_by, 1);
    EXPECT_EQ(rec(3).acked_by, 4);
    const int want[] = {1, 2, 1, 1, 2};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(g_trace.lines[i].dir, want[i]) << i;
    /* The data line arrives no later than its acknowledgement leaves. */
    EXPECT_LE(g_trace.lines[3].t_recv, g_trace.lines[4].t_send);
}

} // namespace

namespace {

double ms_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

/* Median of five runs of `pass`, each on a fresh copy set up by `prepare`. */
template <typename Prepare, typename Pass>
double median_ms(Prepare prepare, Pass pass)
{
    std::vector<double> runs;
    for (int k = 0; k < 5; k++) {
        prepare();
        auto start = std::chrono::steady_clock::now();
        pass();
        runs.push_back(ms_since(start));
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

TEST_F(analyse, DISABLED_PrintsTimingsOfEachPass)
{
    randtrace::bulk_trace b = randtrace::make_bulk(500000, 7, false);
    std::vector<seg_record> start = b.t.rec;
    randtrace::install_main(start);
    mark_order_check();
    mark_pair_scan();
    std::vector<seg_record> marked(g_trace.main.rec, g_trace.main.rec + g_trace.main.count);
    float longest = pair_forward();
    std::vector<seg_record> forward(g_trace.main.rec, g_trace.main.rec + g_trace.main.count);
    pair_backward(longest);
    std::vector<seg_record> paired(g_trace.main.rec, g_trace.main.rec + g_trace.main.count);

    auto from = [](const std::vector<seg_record> &v) {
        return [&v] { std::memcpy(g_trace.main.rec, v.data(), v.size() * sizeof(seg_record)); };
    };
    std::printf("500000 records, longest sample %.3f s\n", longest);
    std::printf("order check   %8.2f ms\n", median_ms(from(start), [] { mark_order_check(); }));
    std::printf("pair scan     %8.2f ms\n", median_ms(from(start), [] { mark_pair_scan(); }));
    std::printf("forward       %8.2f ms\n", median_ms(from(marked), [] { pair_forward(); }));
    std::printf("backward      %8.2f ms\n",
                median_ms(from(forward), [longest] { pair_backward(longest); }));
    endpoint left{};
    std::printf("left host     %8.2f ms\n", median_ms(from(paired), [&left] {
                    left = choose_left_host(reference_record());
                }));
    std::printf("estimates     %8.2f ms\n", median_ms(from(paired), [] {
                    for (int32_t i = 0; i < g_trace.main.count; i++)
                        estimate_delay(i, 0);
                }));
    std::printf("line list     %8.2f ms\n",
                median_ms(from(paired), [&left] { build_line_list(left); }));
    std::printf("clamp         %8.2f ms\n",
                median_ms([] {}, [&left] { clamp_arrivals(left); }));
    std::printf("analyse_trace %8.2f ms\n", median_ms(from(start), [] { analyse_trace(); }));
}

} // namespace
