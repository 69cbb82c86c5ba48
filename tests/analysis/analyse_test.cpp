/*
 * analyse_test.cpp --
 *
 *	Tests of the analysis entry and the line list: the reference record
 *	and the left host, the lines' direction, times and classes, the
 *	arrival clamp, and the color table.
 */

#include "analysis/analyse.h"

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/dest_index.h"
#include "analysis/marking.h"
#include "analysis/pairing.h"
#include "analysis/pairing_fast.h"
#include "trace/binread.h"
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
    l[0] = {1.00f, 1.05f, 0.05f, 1, CLS_DATA};
    l[1] = {1.03f, 1.08f, 0.05f, 2, CLS_NODATA};
    clamp_arrivals(source_of(rec(0)));
    EXPECT_FLOAT_EQ(l[0].t_recv, 1.03f);
    EXPECT_FLOAT_EQ(l[0].delay, 1.03f - 1.00f);
    EXPECT_FLOAT_EQ(l[1].t_recv, 1.08f);

    /* The acknowledgement leaves before the data: the clamp is undone. */
    l[0] = {1.00f, 1.05f, 0.05f, 1, CLS_DATA};
    l[1] = {0.98f, 1.08f, 0.10f, 2, CLS_NODATA};
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
    l[0] = {1.15f, 1.20f, 0.05f, 2, CLS_DATA};
    l[1] = {1.10f, 1.15f, 0.05f, 1, CLS_NODATA};
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

/* The lines of the main trace as the plain or the fast forms build them. */
struct built_lines {
    std::vector<line_record> lines;
    analysis_state estimator;
};

/* Form 0: the plain passes; 1: the fast ones without an index; 2: with
 * one; 3: with one and the line list split into pieces of `piece`. */
built_lines build_lines(const endpoint &left, int form, int32_t piece = 1)
{
    analysis_state_reset();
    estimate_delay(0, 1);
    if (form == 0) {
        build_line_list_literal(left);
        clamp_arrivals_literal(left);
    } else {
        dest_index ix;
        bool indexed = form >= 2 && dest_index_build(g_trace.main.rec, g_trace.main.count, ix);
        if (form == 3)
            build_line_list_split(left, indexed ? &ix : nullptr, piece);
        else
            build_line_list_fast(left, indexed ? &ix : nullptr);
        clamp_arrivals_fast(left, indexed ? &ix : nullptr);
    }
    built_lines b;
    if (g_trace.lines != nullptr)
        b.lines.assign(g_trace.lines, g_trace.lines + g_trace.main.count);
    b.estimator = g_analysis;
    return b;
}

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

/* First line that differs, as text; empty when none. */
std::string line_difference(const built_lines &a, const built_lines &b)
{
    if (a.lines.size() != b.lines.size())
        return "line count";
    if (!same_bits(a.estimator.held_zero_rtt, b.estimator.held_zero_rtt) ||
        !same_bits(a.estimator.held_len_rtt, b.estimator.held_len_rtt))
        return "estimator state";
    for (size_t k = 0; k < a.lines.size(); k++) {
        const line_record &x = a.lines[k], &y = b.lines[k];
        if (x.dir != y.dir || !same_bits(x.t_send, y.t_send) || !same_bits(x.t_recv, y.t_recv) ||
            !same_bits(x.delay, y.delay) || x.cls != y.cls)
            return "line " + std::to_string(k);
    }
    return std::string();
}

TEST_F(analyse, FastLineListAndClampMatchThePlainFormsOnRandomTraces)
{
    randtrace::rng g{909};
    int32_t traces = 0, clamped = 0;
    for (int32_t round = 0; round < 250; round++) {
        for (const randtrace::trace_kind &kind : randtrace::KINDS) {
            randtrace::random_trace t = randtrace::make_random_trace(g, kind);
            if (t.rec.empty())
                continue;
            randtrace::add_times(g, t, g.chance(30));
            randtrace::add_pairing_presets(g, t);
            int32_t n = static_cast<int32_t>(t.rec.size());
            for (seg_record &r : t.rec)
                if (g.chance(3))
                    r.acked_by = g.chance(50) ? n + g.below(3) : -1 - g.below(3);
            randtrace::install_main(t.rec);
            const seg_record &pick = t.rec[static_cast<size_t>(g.below(n))];
            endpoint left = g.chance(50) ? source_of(pick) : destination_of(pick);

            built_lines plain = build_lines(left, 0);
            for (int form : {1, 2, 3}) {
                std::string diff = line_difference(plain, build_lines(left, form));
                ASSERT_TRUE(diff.empty()) << "trace " << traces << " (" << t.about << "), form "
                                          << form << ": " << diff;
            }
            for (int32_t k = 0; k < n; k++)
                clamped += plain.lines[static_cast<size_t>(k)].t_recv !=
                           t.rec[static_cast<size_t>(k)].time + plain.lines[static_cast<size_t>(k)].delay;
            traces++;
        }
    }
    EXPECT_GT(traces, 1600);
    EXPECT_GT(clamped, 100);

    /* Long enough for the second thread to take pieces of its own. */
    randtrace::bulk_trace b = randtrace::make_bulk(120000, 3, false);
    randtrace::install_main(b.t.rec);
    mark_pair_scan();
    pair_backward(pair_forward_fast(g_trace.main.rec, g_trace.main.count));
    endpoint left = choose_left_host(reference_record());
    built_lines plain = build_lines(left, 0);
    for (int32_t piece : {512, 4096, 60000}) {
        std::string diff = line_difference(plain, build_lines(left, 3, piece));
        EXPECT_TRUE(diff.empty()) << "piece " << piece << ": " << diff;
    }
}

TEST_F(analyse, AnalyseTraceGivesThePlainPassesResults)
{
    randtrace::bulk_trace b = randtrace::make_bulk(6000, 3, false);
    std::vector<seg_record> expect = b.t.rec;
    randtrace::install_main(expect);
    mark_order_check();
    mark_pair_scan_literal(g_trace.main.rec, g_trace.main.count);
    float longest = pair_forward_literal(g_trace.main.rec, g_trace.main.count);
    pair_backward_literal(g_trace.main.rec, g_trace.main.count, longest);
    endpoint left = choose_left_host(reference_record());
    build_line_list_literal(left);
    clamp_arrivals_literal(left);
    built_lines plain{std::vector<line_record>(g_trace.lines, g_trace.lines + g_trace.main.count),
                      g_analysis};
    std::vector<seg_record> plain_rec(g_trace.main.rec, g_trace.main.rec + g_trace.main.count);

    randtrace::install_main(b.t.rec);
    analyse_trace();
    built_lines fast{std::vector<line_record>(g_trace.lines, g_trace.lines + g_trace.main.count),
                     g_analysis};
    std::string diff = line_difference(plain, fast);
    EXPECT_TRUE(diff.empty()) << diff;
    for (int32_t k = 0; k < g_trace.main.count; k++) {
        const seg_record &x = plain_rec[static_cast<size_t>(k)], &y = g_trace.main.rec[k];
        ASSERT_TRUE(x.mark == y.mark && x.mark_flags == y.mark_flags &&
                    same_bits(x.ack_time, y.ack_time) && same_bits(x.resp_time, y.resp_time) &&
                    x.acked_by == y.acked_by && x.pair_flags == y.pair_flags)
            << k;
    }
}

/* CPU time of this thread in ms: steadier than the clock on a shared machine. */
double cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

/* Median of five runs of `pass`, each on a fresh copy set up by `prepare`. */
template <typename Prepare, typename Pass>
double median_ms(Prepare prepare, Pass pass)
{
    std::vector<double> runs;
    for (int k = 0; k < 5; k++) {
        prepare();
        double start = cpu_ms();
        pass();
        runs.push_back(cpu_ms() - start);
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

/*
 * The times of every pass, plain and fast, on a trace of 500,000
 * segments: the generated bulk transfer, or the capture named by
 * WIREPAINT_BENCH_CAPTURE. The plain pair scan is quadratic and is left
 * out (pair_scan_fast.PrintsTimingsOfBothForms times it on smaller ones).
 */
TEST_F(analyse, DISABLED_PrintsTimingsOfEachPass)
{
    const char *capture = std::getenv("WIREPAINT_BENCH_CAPTURE");
    std::vector<seg_record> start;
    if (capture != nullptr) {
        read_capture(capture);
        start.assign(g_trace.building.rec, g_trace.building.rec + g_trace.building.count);
    } else {
        start = randtrace::make_bulk(500000, 7, false).t.rec;
    }
    randtrace::install_main(start);
    seg_record *rec = g_trace.main.rec;
    int32_t n = g_trace.main.count;
    mark_order_check();
    mark_pair_scan();
    std::vector<seg_record> marked(rec, rec + n);
    float longest = pair_forward();
    std::vector<seg_record> forward(rec, rec + n);
    pair_backward(longest);
    std::vector<seg_record> paired(rec, rec + n);
    endpoint left = choose_left_host(reference_record());

    auto from = [](const std::vector<seg_record> &v) {
        return [&v] { std::memcpy(g_trace.main.rec, v.data(), v.size() * sizeof(seg_record)); };
    };
    auto both = [](const char *what, double plain, double fast) {
        if (plain < 0)
            std::printf("  %-14s          -     fast %8.2f ms\n", what, fast);
        else
            std::printf("  %-14s plain %8.2f ms, fast %8.2f ms\n", what, plain, fast);
    };
    dest_index ix;
    std::printf("%d records (%s), longest sample %.3f s, CPU ms, medians of 5\n", n,
                capture != nullptr ? capture : "bulk transfer", longest);
    both("index", -1, median_ms([] {}, [&ix, rec, n] { dest_index_build(rec, n, ix); }));
    both("order check", -1, median_ms(from(start), [] { mark_order_check(); }));
    both("pair scan", -1, median_ms(from(start), [] { mark_pair_scan(); }));
    both("forward",
         median_ms(from(marked), [rec, n] { pair_forward_literal(rec, n); }),
         median_ms(from(marked), [rec, n] { pair_forward_fast(rec, n); }));
    both("backward",
         median_ms(from(forward), [rec, n, longest] { pair_backward_literal(rec, n, longest); }),
         median_ms(from(forward), [rec, n, longest] { pair_backward_fast(rec, n, longest); }));
    both("estimates", -1, median_ms(from(paired), [n] {
             for (int32_t i = 0; i < n; i++)
                 estimate_delay(i, 0);
         }));
    both("line list", median_ms(from(paired), [&left] { build_line_list_literal(left); }),
         median_ms(from(paired), [&left, &ix] { build_line_list_fast(left, &ix); }));
    both("clamp", median_ms([] {}, [&left] { clamp_arrivals_literal(left); }),
         median_ms([] {}, [&left, &ix] { clamp_arrivals_fast(left, &ix); }));
    both("analyse_trace", -1, median_ms(from(start), [] { analyse_trace(); }));
}

} // namespace
