/*
 * matcher_test.cpp --
 *
 *	Tests of the cross-trace matcher: the indexed form (match_segment)
 *	must give exactly the peer index that the scan from peer record 0
 *	(match_segment_literal) gives, in both modes, for every main record,
 *	on thousands of random pairs of traces: identifications that collide
 *	and wrap, identical sequence, acknowledgement and window numbers,
 *	payload lengths that tell pure acknowledgements from data, IPv4, IPv6
 *	and loopback ends, peer copies dropped, repeated and shifted in time
 *	with ties of distance. Likewise the copies cut otherwise: the batch
 *	(match_resegmented) against the scan of both traces, on streams the
 *	other capture cut into other pieces.
 */

#include "trace/matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/random_trace.h"
#include "trace/binread.h"
#include "trace/direction.h"
#include "trace/resegment.h"
#include "trace/trace.h"

using namespace randtrace;

namespace {

class matcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        trace_state_clear();
        matcher_reset();
    }
    void TearDown() override
    {
        matcher_reset();
        matcher_ignore_ids(false);
        trace_state_clear();
    }
};

/* A calloc'ed copy of v as a trace array. */
trace_array make_array(const std::vector<seg_record> &v)
{
    trace_array t{};
    if (v.empty())
        return t;
    t.rec = static_cast<seg_record *>(std::calloc(v.size(), sizeof(seg_record)));
    std::memcpy(t.rec, v.data(), v.size() * sizeof(seg_record));
    t.count = t.cap = static_cast<int32_t>(v.size());
    return t;
}

/* Installs both traces and drops the matcher's index of the last pair. */
void install_pair(const std::vector<seg_record> &main, const std::vector<seg_record> &peer)
{
    trace_free(&g_trace.main);
    trace_free(&g_trace.peer);
    matcher_reset();
    g_trace.main = make_array(main);
    g_trace.peer = make_array(peer);
}

/* Identity fields from small sets, so that candidates collide often:
 * no identifications, many of them 0, or (as in an IPv4 capture, whose
 * identifications pass through 0) only a few 0. */
void add_identities(rng &g, std::vector<seg_record> &v)
{
    const std::vector<uint16_t> ids = {0, 0, 1, 2, 7, 65535};
    const std::vector<uint16_t> nonzero = {1, 2, 7, 65535};
    const std::vector<uint32_t> numbers = {0, 1, 1001, 2001, 0xffffffffu, 0x80000000u};
    const std::vector<uint16_t> windows = {0, 512, 65535};
    int32_t how = g.below(3);
    for (seg_record &r : v) {
        r.ip_id = how == 0 ? 0 : how == 1 ? g.pick(ids) : g.chance(3) ? 0 : g.pick(nonzero);
        set_seq_raw(r, g.pick(numbers));
        set_ack_raw(r, g.pick(numbers));
        r.win = g.pick(windows);
    }
}

/* The peer's view: most records, some twice, some dropped, times shifted. */
std::vector<seg_record> peer_of(rng &g, const std::vector<seg_record> &main)
{
    std::vector<seg_record> peer;
    float shift = g.chance(50) ? 0.0f : 0.125f * static_cast<float>(g.below(9) - 4);
    for (const seg_record &r : main) {
        int copies = g.chance(15) ? 0 : g.chance(10) ? 2 : 1;
        for (int c = 0; c < copies; c++) {
            seg_record p = r;
            p.time = r.time + shift + (g.chance(30) ? 0.125f * static_cast<float>(g.below(3)) : 0.0f);
            peer.push_back(p);
        }
    }
    if (peer.size() > 1 && g.chance(30))
        std::swap(peer[0], peer[static_cast<size_t>(g.below(static_cast<int32_t>(peer.size())))]);
    return peer;
}

const std::vector<float> OFFSETS = {-1.0f, 0.0f, 0.125f, 0.5f, 3.0f, -0.25f};
const std::vector<float> EXPECTS = {0.0f, 0.125f, -0.125f, 0.05f};
/* Drift rates of the peer clock, from 0.5 s on; one per record in turn. */
const std::vector<float> RATES = {0.0f, 1e-3f, -2.5e-4f};

/* Every main record in every mode: the first disagreement, or empty. */
std::string compare_all()
{
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        for (float off : OFFSETS) {
            for (float expect : EXPECTS) {
                for (match_mode mode : {MATCH_FIRST, MATCH_NEAREST}) {
                    float rate = RATES[static_cast<size_t>(i) % RATES.size()];
                    int32_t fast = match_segment(i, mode, off, expect, rate, 0.5f);
                    int32_t plain = match_segment_literal(i, mode, off, expect, rate, 0.5f);
                    if (fast != plain)
                        return "record " + std::to_string(i) + ", mode " + std::to_string(mode) +
                               ", offset " + std::to_string(off) + ", expect " +
                               std::to_string(expect) + ", rate " + std::to_string(rate) +
                               ": literal " + std::to_string(plain) +
                               ", fast " + std::to_string(fast);
                }
            }
        }
    }
    return std::string();
}

TEST_F(matcher, IndexedMatchEqualsThePeerScanOnThousandsOfTracePairs)
{
    rng g{4242};
    int32_t pairs = 0, found = 0, asked = 0;
    for (int32_t round = 0; round < 300; round++) {
        for (const trace_kind &kind : KINDS) {
            random_trace t = make_random_trace(g, kind);
            add_times(g, t, g.chance(20));
            add_identities(g, t.rec);
            std::vector<seg_record> peer = peer_of(g, t.rec);
            /* Identifications a middlebox scrubbed or replaced: every
             * record is matched by its numbers. */
            bool ignore = g.chance(20);
            for (seg_record &p : peer)
                if (ignore && g.chance(50))
                    p.ip_id = static_cast<uint16_t>(g.below(3) == 0 ? 0 : g.below(65536));
            install_pair(t.rec, peer);
            matcher_ignore_ids(ignore);
            matcher_same_numbers(g.chance(50));
            if (g.chance(30))
                matcher_prepare_peer();  /* as the loader does, while it reads */
            if (g.chance(50))
                matcher_prepare();  /* as the loader does, beside the analysis */
            /* The hint of the clock alignment reads only within the
             * indexes, built or not, for any record asked about. */
            for (int32_t i = -1; i <= g_trace.main.count; i++)
                matcher_prefetch(i, 0.5f, g.chance(50) ? 0.01f : -3e9f);
            std::string diff = compare_all();
            ASSERT_TRUE(diff.empty()) << "pair " << pairs << " (" << t.about << "): " << diff;
            for (int32_t i = 0; i < g_trace.main.count; i++, asked++)
                found += match_segment(i, MATCH_NEAREST, 0.5f) >= 0 ? 1 : 0;
            pairs++;
        }
    }
    EXPECT_EQ(pairs, 2100);
    /* Most records find a copy, and not all do. */
    EXPECT_GT(found, asked / 2);
    EXPECT_LT(found, asked);
}

TEST_F(matcher, AnswersFollowAChangeOfThePeerTrace)
{
    std::vector<seg_record> main(3), peer(3);
    for (int k = 0; k < 3; k++) {
        set_seq_raw(main[static_cast<size_t>(k)], static_cast<uint32_t>(100 * k));
        set_seq_raw(peer[static_cast<size_t>(k)], static_cast<uint32_t>(100 * k));
        peer[static_cast<size_t>(k)].time = static_cast<float>(k);
    }
    install_pair(main, peer);
    EXPECT_EQ(match_segment(2, MATCH_FIRST, -1.0f), 2);
    EXPECT_EQ(match_segment(0, MATCH_NEAREST, 1.0f, -1.0f), 0);
    /* A peer trace of another length is indexed afresh. */
    peer.pop_back();
    install_pair(main, peer);
    EXPECT_EQ(match_segment(2, MATCH_FIRST, -1.0f), -1);
    EXPECT_EQ(match_segment(1, MATCH_FIRST, -1.0f), 1);
    EXPECT_TRUE(compare_all().empty());
}

TEST_F(matcher, SparseIndexByNumbersFollowsTheMainTrace)
{
    /* Forty records with identifications but one, against a peer copy:
     * the index by numbers holds only the peer records the one may match. */
    std::vector<seg_record> main(40);
    for (size_t k = 0; k < main.size(); k++) {
        main[k].ip_id = static_cast<uint16_t>(k + 1);
        set_seq_raw(main[k], static_cast<uint32_t>(1000 * k));
        main[k].time = static_cast<float>(k);
    }
    main[5].ip_id = 0;
    std::vector<seg_record> peer = main;
    install_pair(main, peer);
    matcher_prepare_peer();
    matcher_prepare();
    EXPECT_EQ(match_segment(5, MATCH_FIRST, 0.0f), 5);
    EXPECT_TRUE(compare_all().empty());

    /* Another main trace against the same peer: now record 9 has none. */
    main[5].ip_id = 6;
    main[9].ip_id = 0;
    trace_free(&g_trace.main);
    g_trace.main = make_array(main);
    EXPECT_EQ(match_segment(9, MATCH_FIRST, 0.0f), 9);
    EXPECT_TRUE(compare_all().empty());
}

/* A segment lost between the capture points, whose identification a
 * later segment reuses after 65,536 more: no copy once the captures are
 * known to carry the same sequence numbers. */
TEST_F(matcher, ReusedIdentificationIsNoCopyOfALostSegment)
{
    std::vector<seg_record> main(3), peer;
    for (size_t k = 0; k < main.size(); k++) {
        main[k].ip_id = static_cast<uint16_t>(100 + k);
        set_seq_raw(main[k], static_cast<uint32_t>(1000 * k));
        main[k].time = static_cast<float>(k);
    }
    peer = {main[0], main[2], main[1]};
    set_seq_raw(peer[2], 777000);      /* identification 101 again, 8 s on */
    peer[2].time = 9.0f;
    install_pair(main, peer);
    EXPECT_EQ(match_segment(1, MATCH_NEAREST, 0.5f), 2);
    matcher_same_numbers(true);
    for (match_mode mode : {MATCH_FIRST, MATCH_NEAREST}) {
        EXPECT_EQ(match_segment(1, mode, 0.5f), -1);
        EXPECT_EQ(match_segment_literal(1, mode, 0.5f), -1);
        EXPECT_EQ(match_segment(2, mode, 0.5f), 1);
    }
    matcher_reset();
    EXPECT_EQ(match_segment(1, MATCH_NEAREST, 0.5f), 2);
}

/* One identification repeated by every peer record, at rising times
 * with runs of equal ones (and one record that steps back, which every
 * search must survive): the copy nearest in time, the earliest of equal
 * distance, one row per expected place. */
TEST_F(matcher, RepeatedIdentificationTakesTheNearestEarliestCopy)
{
    const float times[] = {0.0f, 1.0f, 1.0f, 2.0f, 3.0f, 3.0f, 3.0f, 5.0f, 8.0f};
    std::vector<seg_record> main(1), peer;
    main[0].ip_id = 42;
    for (float t : times) {
        peer.push_back(main[0]);
        peer.back().time = t;
    }
    struct row { float expect; int32_t copy; };
    const row rows[] = {
        {-1.0f, 0}, {0.4f, 0}, {0.5f, 0}, {0.6f, 1}, {1.0f, 1}, {1.5f, 1},
        {2.5f, 3},  {3.0f, 4}, {4.0f, 4}, {4.5f, 7}, {6.5f, 7}, {7.0f, 8}, {99.0f, 8}};
    for (bool step_back : {false, true}) {
        if (step_back)
            peer.push_back(peer[1]);    /* time 1 after time 8 */
        install_pair(main, peer);
        for (const row &r : rows) {
            EXPECT_EQ(match_segment(0, MATCH_NEAREST, 0.0f, r.expect), r.copy) << r.expect;
            EXPECT_EQ(match_segment_literal(0, MATCH_NEAREST, 0.0f, r.expect), r.copy) << r.expect;
        }
    }
}

TEST_F(matcher, LongBulkTransferFindsItsOwnCopies)
{
    bulk_trace b = make_bulk(200000, 9, false);
    std::vector<seg_record> &v = b.t.rec;
    for (size_t k = 0; k < v.size(); k++) {
        set_seq_raw(v[k], static_cast<uint32_t>(seq_of(v[k])));
        set_ack_raw(v[k], static_cast<uint32_t>(ack_of(v[k])));
        v[k].win = 65535;
    }
    std::vector<seg_record> peer = v;
    for (seg_record &r : peer)
        r.time += 0.05f;
    install_pair(v, peer);
    int32_t same = 0;
    for (int32_t i = 0; i < g_trace.main.count; i++)
        same += match_segment(i, MATCH_NEAREST, 0.05f) == i ? 1 : 0;
    /* Every record but the repeated duplicate acknowledgements finds its
     * own copy. */
    EXPECT_GT(same, g_trace.main.count * 9 / 10);
    for (int32_t i = 0; i < g_trace.main.count; i += 997)
        EXPECT_EQ(match_segment(i, MATCH_NEAREST, 0.05f),
                  match_segment_literal(i, MATCH_NEAREST, 0.05f)) << i;
}

/* Long traces whose records without identification are few, with wide
 * numbers that mostly differ and some that repeat (a run of ACKs, copies
 * with another window or length): the index by numbers then holds only
 * the peer records those few may match, sieved by sequence number, and
 * answers as the scan does. */
TEST_F(matcher, SparseIndexByNumbersOnWideNumbersEqualsThePeerScan)
{
    rng g{777};
    int32_t found = 0, asked = 0;
    for (int32_t round = 0; round < 60; round++) {
        std::vector<seg_record> main(static_cast<size_t>(500 + g.below(1500)));
        uint32_t acked = static_cast<uint32_t>(g.next());
        for (size_t k = 0; k < main.size(); k++) {
            seg_record &r = main[k];
            r.time = 0.001f * static_cast<float>(k);
            r.ip_id = g.chance(2) ? 0 : static_cast<uint16_t>(1 + g.below(65535));
            bool ack_run = g.chance(30);
            set_seq_raw(r, ack_run ? acked : static_cast<uint32_t>(g.next()));
            set_ack_raw(r, ack_run ? static_cast<uint32_t>(g.below(50)) : static_cast<uint32_t>(g.next()));
            r.win = static_cast<uint16_t>(g.below(3));
            r.paylen = ack_run ? 0 : g.below(2) * 1448;
        }
        std::vector<seg_record> peer = peer_of(g, main);
        for (seg_record &r : peer)
            if (g.chance(5))
                r.win = static_cast<uint16_t>(r.win + 1);
        install_pair(main, peer);
        matcher_same_numbers(g.chance(50));
        matcher_prepare();
        for (int32_t i = 0; i < g_trace.main.count; i++) {
            if (g_trace.main.rec[i].ip_id != 0 && !g.chance(5))
                continue;
            for (match_mode mode : {MATCH_FIRST, MATCH_NEAREST}) {
                int32_t fast = match_segment(i, mode, 0.125f, 0.05f);
                ASSERT_EQ(fast, match_segment_literal(i, mode, 0.125f, 0.05f))
                    << "round " << round << ", record " << i << ", mode " << mode;
                found += fast >= 0;
                asked++;
            }
        }
    }
    EXPECT_GT(found, asked / 2);
    EXPECT_LT(found, asked);
}

/*
 * A stream of both directions (near the 2^32 wrap at times) with resent
 * data, whole and in part, and pure ACKs; and its bytes as the other
 * capture point cut them: pieces split in two or three, neighbours
 * merged, some lost, some twice, all a little later.
 */
void make_recut(rng &g, std::vector<seg_record> &main, std::vector<seg_record> &peer)
{
    const ends *dirs[2] = {&A_B, &B_A};
    if (g.chance(30))
        dirs[0] = &X_Y, dirs[1] = &Y_X;
    uint32_t next[2] = {g.chance(30) ? 0xffff0000u : static_cast<uint32_t>(g.next()), 5000u};
    for (int32_t k = 0, n = 5 + g.below(60); k < n; k++) {
        int d = g.chance(70) ? 0 : 1;
        seg_record r = make(*dirs[d], 0, 0, g.pick(std::vector<int32_t>{0, 1, 100, 1448, 30000}), 0);
        r.time = static_cast<float>(k) * 0.01f;
        set_seq_raw(r, next[d] - (g.chance(15) ? static_cast<uint32_t>(r.paylen / 2 + 1) : 0u));
        next[d] = std::max(next[d], seq_raw_of(r) + static_cast<uint32_t>(r.paylen));
        main.push_back(r);
    }
    for (size_t k = 0; k < main.size(); k++) {
        seg_record r = main[k];
        r.time += 0.02f + 0.01f * static_cast<float>(g.below(2));
        if (k + 1 < main.size() && g.chance(25) && same_direction(r, main[k + 1])) {
            const seg_record &n = main[++k];
            r.paylen = std::max(r.paylen, static_cast<int32_t>(seq_raw_of(n) - seq_raw_of(r)) + n.paylen);
        }
        for (int32_t c = g.chance(10) ? 0 : g.chance(60) ? 1 : 2 + g.below(2); c > 0; c--) {
            seg_record piece = r;
            piece.paylen = c == 1 ? r.paylen : r.paylen / 2;
            set_seq_raw(r, seq_raw_of(r) + static_cast<uint32_t>(piece.paylen));
            r.paylen -= piece.paylen;
            for (int copies = g.chance(10) ? 2 : 1; copies > 0; copies--)
                peer.push_back(piece);
        }
    }
}

TEST_F(matcher, CopiesCutOtherwiseEqualTheScanOfBothTraces)
{
    rng g{2121};
    int32_t found = 0, none = 0;
    for (int32_t round = 0; round < 1500; round++) {
        std::vector<seg_record> main, peer;
        make_recut(g, main, peer);
        install_pair(main, peer);
        std::vector<reseg_query> q;
        for (int32_t i = 0; i < g_trace.main.count; i++)
            if (g.chance(80))
                q.push_back({i, g.pick(EXPECTS)});
        std::vector<uint8_t> skip(peer.size() + 1);
        for (uint8_t &b : skip)
            b = g.chance(20);
        const uint8_t *ruled = g.chance(50) ? skip.data() : nullptr;
        float off = g.pick(OFFSETS), rate = g.pick(RATES);
        std::vector<int32_t> copy(q.size(), 7);
        match_resegmented(q.data(), static_cast<int32_t>(q.size()), ruled, off, rate, 0.5f,
                          copy.data());
        for (size_t k = 0; k < q.size(); k++) {
            const seg_record &r = g_trace.main.rec[q[k].i];
            ASSERT_EQ(copy[k], match_resegmented_literal(q[k].i, ruled, off, q[k].expect, rate, 0.5f))
                << "round " << round << " record " << q[k].i;
            if (copy[k] < 0) {
                none += r.paylen > 0;
                continue;
            }
            const seg_record &p = g_trace.peer.rec[copy[k]];
            ASSERT_LT(static_cast<uint32_t>(seq_raw_of(r) + r.paylen - 1 - seq_raw_of(p)), static_cast<uint32_t>(p.paylen));
            found++;
        }
    }
    EXPECT_GT(found, 20000);
    EXPECT_GT(none, 1000);
}

/* A super-segment against its pieces and back, and a lost original whose
 * retransmission's copy is the only peer record holding its bytes. */
TEST_F(matcher, CopyCutOtherwiseHoldsTheLastByteUnlessARetransmissionIsNearer)
{
    auto data = [](uint32_t seq, int32_t len, float t) {
        seg_record r = make(A_B, 0, 0, len, 0);
        set_seq_raw(r, seq);
        r.time = t;
        return r;
    };
    auto copy_of = [](int32_t i, float expect, const uint8_t *skip) {
        reseg_query q{i, expect};
        int32_t batch = -3;
        match_resegmented(&q, 1, skip, 0.0f, 0.0f, 0.0f, &batch);
        EXPECT_EQ(batch, match_resegmented_literal(i, skip, 0.0f, expect, 0.0f, 0.0f)) << i;
        return batch;
    };
    const uint8_t none[4] = {}, third[4] = {0, 0, 1, 0};
    std::vector<seg_record> super = {data(1000, 4344, 0.0f)};
    std::vector<seg_record> pieces = {data(1000, 1448, 0.1f), data(2448, 1448, 0.11f),
                                      data(3896, 1448, 0.12f), data(3896, 1448, 0.5f)};
    install_pair(super, pieces);
    EXPECT_EQ(copy_of(0, 0.1f, none), 2);   /* the nearer of two holding byte 5343 */
    EXPECT_EQ(copy_of(0, 0.1f, third), 3);
    install_pair(pieces, super);
    for (int32_t i = 0; i < 3; i++)
        EXPECT_EQ(copy_of(i, -0.1f, none), 0);
    install_pair({data(1000, 1448, 0.0f), data(1000, 1448, 0.3f)}, {data(1000, 1448, 0.32f)});
    EXPECT_EQ(copy_of(1, 0.02f, none), 0);
    EXPECT_EQ(copy_of(0, 0.02f, none), -1);
}

/* CPU time of this thread in ms: steadier than the clock on a shared machine. */
double cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

/*
 * The time of matching every main record in the nearest-time mode, the
 * index build included, on the captures named by WIREPAINT_BENCH_CAPTURE
 * (main) and WIREPAINT_BENCH_PEER, or on a generated transfer.
 */
TEST_F(matcher, DISABLED_PrintsTheTimeOfMatchingEveryRecord)
{
    const char *main_file = std::getenv("WIREPAINT_BENCH_CAPTURE");
    const char *peer_file = std::getenv("WIREPAINT_BENCH_PEER");
    std::vector<seg_record> main, peer;
    if (main_file != nullptr && peer_file != nullptr) {
        read_capture(peer_file);
        peer.assign(g_trace.building.rec, g_trace.building.rec + g_trace.building.count);
        g_trace.building = trace_array{};
        read_capture(main_file);
        main.assign(g_trace.building.rec, g_trace.building.rec + g_trace.building.count);
    } else {
        main = make_bulk(500000, 9, false).t.rec;
        peer = main;
    }
    for (int run = 0; run < 3; run++) {
        install_pair(main, peer);
        double start = cpu_ms();
        int32_t found = 0;
        for (int32_t i = 0; i < g_trace.main.count; i++)
            found += match_segment(i, MATCH_NEAREST, 0.05f) >= 0 ? 1 : 0;
        std::printf("%d main records, %d peer records: %d matched in %.1f ms\n",
                    g_trace.main.count, g_trace.peer.count, found, cpu_ms() - start);
    }
}

} // namespace
