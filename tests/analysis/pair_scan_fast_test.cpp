/*
 * pair_scan_fast_test.cpp --
 *
 *	Tests of the fast pair scan: it must leave every record's mark and
 *	mark_flags exactly as the plain all-pairs scan leaves them. Thousands
 *	of small random traces with colliding sequence and acknowledgement
 *	numbers run through both forms, and so do structured traces (a bulk
 *	transfer with losses and duplicate-acknowledgement runs, repeated
 *	window probes); a bulk transfer of 300,000 segments must mark in
 *	seconds, not minutes.
 *
 *	Run with --gtest_also_run_disabled_tests to print the timings of both
 *	forms at several sizes.
 */

#include "analysis/pair_scan_fast.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/dest_index.h"
#include "analysis/marking.h"
#include "analysis/pair_scan_fast.h"
#include "analysis/rising_sort.h"
#include "analysis_fixture.h"
#include "support/random_trace.h"

using namespace fixture;
using namespace randtrace;

namespace {

/* The whole trace with both results, one record a line, for a failure. */
std::string describe(const random_trace &t, const std::vector<seg_record> &lit,
                     const std::vector<seg_record> &fast)
{
    std::string s = t.about + "\n idx ends seq ack paylen flags | start | literal | fast\n";
    char line[256];
    for (size_t k = 0; k < t.rec.size(); k++) {
        const seg_record &r = t.rec[k];
        bool differs = lit[k].mark != fast[k].mark || lit[k].mark_flags != fast[k].mark_flags;
        std::snprintf(line, sizeof line,
                      " %zu %s %lld %lld %d 0x%02x | %d/0x%02x | %d/0x%02x | %d/0x%02x%s\n",
                      k, t.names.empty() ? "?" : t.names[k], static_cast<long long>(seq_of(r)),
                      static_cast<long long>(ack_of(r)), r.paylen, r.tcp_flags, r.mark,
                      r.mark_flags, lit[k].mark, lit[k].mark_flags, fast[k].mark,
                      fast[k].mark_flags, differs ? "  <<" : "");
        s += line;
    }
    return s;
}

/* Runs the literal form and the fast one, with the ack grouping on the
 * same thread and on a second one, on copies; empty text when they
 * agree, else the trace. */
std::string compare_forms(const random_trace &t)
{
    std::vector<seg_record> lit = t.rec, fast = t.rec, apart = t.rec;
    int32_t n = static_cast<int32_t>(t.rec.size());
    mark_pair_scan_literal(lit.data(), n);
    mark_pair_scan_fast(fast.data(), n);
    dest_index ix;
    mark_pair_scan_indexed(apart.data(), n, dest_index_make(apart.data(), n, ix), true);
    for (const std::vector<seg_record> *f : {&fast, &apart})
        for (size_t k = 0; k < t.rec.size(); k++)
            if (lit[k].mark != (*f)[k].mark || lit[k].mark_flags != (*f)[k].mark_flags)
                return describe(t, lit, *f);
    return std::string();
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class pair_scan_fast : public analysis_test {};

/* ---- Tests ------------------------------------------------------------ */

TEST_F(pair_scan_fast, MatchesTheLiteralScanOnThousandsOfRandomTraces)
{
    rng g{20240611};
    int32_t traces = 0, uniform = 0;
    int32_t seen[256] = {};
    for (int32_t round = 0; round < 600; round++) {
        for (const trace_kind &kind : KINDS) {
            random_trace t = make_random_trace(g, kind);
            std::string failure = compare_forms(t);
            ASSERT_TRUE(failure.empty()) << "trace " << traces << ":\n" << failure;
            int32_t n = static_cast<int32_t>(t.rec.size());
            bool fast_path = pair_scan_uniform_ends(t.rec.data(), n);
            if (kind.uniform) {
                EXPECT_TRUE(fast_path) << kind.name;
            }
            uniform += fast_path ? 1 : 0;
            std::vector<seg_record> lit = t.rec;
            mark_pair_scan_literal(lit.data(), n);
            for (const seg_record &r : lit)
                seen[r.mark]++;
            traces++;
        }
    }
    EXPECT_EQ(traces, 4200);
    /* Most traces take the fast path, and every class arises often. */
    EXPECT_GT(uniform, traces * 4 / 5);
    for (int m : {0, 2, 3, 4, 6})
        EXPECT_GT(seen[m], 1000) << "mark " << m;
}

TEST_F(pair_scan_fast, MixedSharedAddressRecordsFallBackToTheLiteralScan)
{
    random_trace t;
    t.rec = {
        make(A_B, 1, 1, 100, TH_ACK),
        make(LA_LB, 1, 1, 100, TH_ACK),
        make(A_B, 1, 5, 0, TH_ACK),
        make(B_A, 0, 2, 0, TH_ACK),
    };
    t.about = "mixed ends";
    EXPECT_FALSE(pair_scan_uniform_ends(t.rec.data(), 4));
    EXPECT_TRUE(pair_scan_uniform_ends(t.rec.data(), 1));
    EXPECT_TRUE(pair_scan_uniform_ends(t.rec.data() + 1, 1));
    EXPECT_TRUE(pair_scan_uniform_ends(nullptr, 0));
    std::string failure = compare_forms(t);
    EXPECT_TRUE(failure.empty()) << failure;

    std::vector<seg_record> fast = t.rec;
    mark_pair_scan_fast(fast.data(), 4);
    /* Record 1 is loopback and shares no direction with A's records. */
    EXPECT_EQ(fast[0].mark, MARK_LOST_SEGMENT);
    EXPECT_EQ(fast[1].mark, 0);
    EXPECT_EQ(fast[2].mark, MARK_RETRANSMISSION);
    EXPECT_EQ(fast[3].mark, 0); /* ack 2 is not beyond seq 1 + 1 */
    EXPECT_EQ(fast[3].mark_flags, MARK_SKIP);
}

TEST_F(pair_scan_fast, ThresholdWrapsInThirtyTwoBits)
{
    /* seq 2^31 - 1: the threshold wraps to -2^31, so ack 0 is beyond it. */
    random_trace t;
    t.rec = {
        make(A_B, 2147483647LL, 1, 10, TH_ACK),
        make(A_B, 2147483647LL, 1, 10, TH_ACK),
        make(B_A, 1, 0, 0, TH_ACK),
        make(B_A, 2, 0, 5, TH_ACK),
    };
    std::vector<seg_record> fast = t.rec;
    mark_pair_scan_fast(fast.data(), 4);
    EXPECT_EQ(fast[2].mark_flags, 0); /* cleared at once */
    EXPECT_EQ(fast[3].mark_flags, 0); /* the follow-up ended before it */
    EXPECT_TRUE(compare_forms(t).empty()) << compare_forms(t);

    /* seq 2^32 - 1: the threshold is 0, and ack 0 is not beyond it. */
    set_seq(t.rec[0], 4294967295LL);
    set_seq(t.rec[1], 4294967295LL);
    fast = t.rec;
    mark_pair_scan_fast(fast.data(), 4);
    EXPECT_EQ(fast[2].mark_flags, MARK_SKIP);
    EXPECT_EQ(fast[3].mark_flags, MARK_SKIP);
    EXPECT_TRUE(compare_forms(t).empty()) << compare_forms(t);

    /* The extremes a decoded trace can hold, -(2^32 - 1) and 2^32 - 1,
     * and beyond them (a made-up array), where the plain form runs. */
    const int64_t values[] = {-4294967295LL, 4294967295LL, 4294967296LL, -4294967296LL,
                              INT64_MAX};
    for (int64_t v : values) {
        set_seq(t.rec[1], v);
        set_ack(t.rec[3], v);
        EXPECT_TRUE(compare_forms(t).empty()) << v << compare_forms(t);
    }
}

TEST_F(pair_scan_fast, FollowUpRestartsAtTheNextCopyAfterAClear)
{
    random_trace t;
    t.rec = {
        make(A_B, 1, 1, 100, TH_ACK),   /* 0: first copy */
        make(A_B, 1, 1, 100, TH_ACK),   /* 1: second copy */
        make(B_A, 1, 200, 0, TH_ACK),   /* 2: beyond: cleared ... */
        make(A_B, 201, 1, 100, TH_ACK), /* 3: no follow-up here */
        make(A_B, 1, 1, 100, TH_ACK),   /* 4: third copy */
        make(B_A, 1, 2, 0, TH_ACK),     /* 5: not beyond */
        make(B_A, 1, 300, 0, TH_ACK),   /* 6: beyond: cleared */
        make(B_A, 1, 301, 0, TH_ACK),   /* 7: after */
    };
    std::vector<seg_record> fast = t.rec;
    mark_pair_scan_fast(fast.data(), 8);
    std::vector<int> m, f;
    for (const seg_record &r : fast) {
        m.push_back(r.mark);
        f.push_back(r.mark_flags);
    }
    EXPECT_EQ(m, (std::vector<int>{4, 4, 0, 0, 3, 0, 0, 0}));
    /* ... but 2 and 3 lie inside record 0's skip range to its third copy. */
    EXPECT_EQ(f, (std::vector<int>{1, 1, 1, 1, 1, 1, 0, 0}));
    EXPECT_TRUE(compare_forms(t).empty()) << compare_forms(t);
}

TEST_F(pair_scan_fast, RepeatedWindowProbesKeepTheFollowUpOpenToTheEnd)
{
    /* One-byte probes at one seq, each answered with the ack at that seq:
     * no ack goes beyond, so every follow-up runs to the last record. */
    random_trace t;
    for (int32_t k = 0; k < 400; k++) {
        t.rec.push_back(make(A_B, 5001, 1, 1, TH_ACK));
        t.rec.push_back(make(B_A, 1, 5001, 0, TH_ACK));
    }
    t.about = "window probes";
    std::string failure = compare_forms(t);
    ASSERT_TRUE(failure.empty()) << failure;
    std::vector<seg_record> fast = t.rec;
    mark_pair_scan_fast(fast.data(), static_cast<int32_t>(fast.size()));
    EXPECT_EQ(fast[0].mark, MARK_LOST_SEGMENT);
    EXPECT_EQ(fast[798].mark, MARK_RETRANSMISSION);
    EXPECT_EQ(fast[799].mark, MARK_DUP_ACK);
    for (const seg_record &r : fast)
        EXPECT_EQ(r.mark_flags, MARK_SKIP);
}

TEST_F(pair_scan_fast, MatchesTheLiteralScanOnBulkTransfers)
{
    for (uint64_t seed : {1u, 2u, 3u}) {
        for (bool fin : {false, true}) {
            bulk_trace b = make_bulk(4000, seed, fin);
            ASSERT_FALSE(b.originals.empty());
            std::string failure = compare_forms(b.t);
            ASSERT_TRUE(failure.empty()) << failure.substr(0, 20000);
        }
    }
}

/* A bulk transfer whose numbers wrap every few hundred segments, as
 * those of a transfer of many gigabytes do: each endpoint's numbers are
 * then several rising runs, which the grouping merges. */
TEST_F(pair_scan_fast, MatchesTheLiteralScanWhenNumbersWrap)
{
    const int64_t base = (int64_t{1} << 32) - 777777;
    for (uint64_t seed : {4u, 5u}) {
        bulk_trace b = make_bulk(4000, seed, true);
        for (seg_record &r : b.t.rec) {
            set_seq(r, static_cast<uint32_t>(base + seq_of(r) * 14321) - base);
            set_ack(r, static_cast<uint32_t>(base + ack_of(r) * 14321) - base);
        }
        std::string failure = compare_forms(b.t);
        ASSERT_TRUE(failure.empty()) << failure.substr(0, 20000);
    }
}

/* The merge of rising piles gives std::sort's order: runs of every count
 * around the limit of piles, stragglers, and arrays with no order. */
TEST(rising_sort, SortRisingEqualsStdSort)
{
    rng g{99};
    for (int trial = 0; trial < 400; trial++) {
        size_t n = static_cast<size_t>(g.below(3000));
        size_t runs = 1 + static_cast<size_t>(g.below(rising_sort::MAX_PILES + 8));
        std::vector<uint64_t> a(n), buffer(n);
        for (size_t k = 0; k < n; k++) {
            uint64_t in_run = k * runs / (n + 1);
            a[k] = trial % 5 == 0 ? g.next() % 1000 : (k - in_run * (n + 1) / runs) * 8 + g.next() % 8;
            if (trial % 3 == 0 && g.chance(2))
                a[k] = g.next() % (n * 8 + 1); /* a straggler */
            a[k] = a[k] << 20 | k; /* no two equal, as the keys are */
        }
        std::vector<uint64_t> want = a;
        std::sort(want.begin(), want.end());
        rising_sort::sort_rising(a.data(), n, buffer.data(), std::less<uint64_t>());
        ASSERT_EQ(a, want) << "trial " << trial << ", n " << n << ", runs " << runs;
    }
}

TEST_F(pair_scan_fast, BulkTransferOfThreeHundredThousandSegmentsMarksItsLosses)
{
    bulk_trace b = make_bulk(300000, 7, false);
    std::vector<seg_record> &v = b.t.rec;
    ASSERT_EQ(v.size(), 300000u);
    ASSERT_GT(b.originals.size(), 100u);

    /* A size the plain scan would take minutes over. */
    mark_pair_scan_fast(v.data(), static_cast<int32_t>(v.size()));

    for (size_t k = 0; k < b.originals.size(); k++) {
        int64_t lost_seq = seq_of(v[static_cast<size_t>(b.originals[k])]);
        EXPECT_EQ(v[static_cast<size_t>(b.originals[k])].mark, MARK_LOST_SEGMENT);
        EXPECT_EQ(v[static_cast<size_t>(b.copies[k])].mark, MARK_RETRANSMISSION);
        const seg_record &past = v[static_cast<size_t>(b.beyond[k])];
        EXPECT_EQ(past.mark, 0);
        EXPECT_EQ(past.mark_flags, 0);
        for (int32_t x = b.originals[k]; x <= b.copies[k]; x++) {
            const seg_record &r = v[static_cast<size_t>(x)];
            EXPECT_EQ(r.mark_flags, MARK_SKIP) << x;
            if (sport_of(r) == P_B && ack_of(r) == lost_seq) {
                EXPECT_EQ(r.mark, MARK_DUP_ACK) << x;
            }
        }
    }
    /* Before the first loss (and the ack that may share its seq) all is plain. */
    for (int32_t x = 0; x + 1 < b.originals[0]; x++) {
        const seg_record &r = v[static_cast<size_t>(x)];
        EXPECT_EQ(r.mark, 0) << x;
        EXPECT_EQ(r.mark_flags, 0) << x;
    }
}

TEST_F(pair_scan_fast, MarkPairScanRunsTheFastFormOverTheMainTrace)
{
    bulk_trace b = make_bulk(200000, 11, true);
    std::vector<seg_record> expect = b.t.rec;
    mark_pair_scan_fast(expect.data(), static_cast<int32_t>(expect.size()));

    install({});
    auto *rec = static_cast<seg_record *>(std::calloc(b.t.rec.size(), sizeof(seg_record)));
    std::memcpy(rec, b.t.rec.data(), b.t.rec.size() * sizeof(seg_record));
    g_trace.main.rec = rec;
    g_trace.main.count = static_cast<int32_t>(b.t.rec.size());
    g_trace.main.cap = g_trace.main.count;

    mark_pair_scan();
    for (size_t k = 0; k < expect.size(); k++) {
        ASSERT_EQ(rec[k].mark, expect[k].mark) << k;
        ASSERT_EQ(rec[k].mark_flags, expect[k].mark_flags) << k;
    }
    /* The closing FIN carries ack 1 like every data segment: neither is a
     * duplicate acknowledgement. */
    for (size_t k = 0; k < expect.size(); k++) {
        if (rec[k].paylen != 0 || (rec[k].tcp_flags & (TH_SYN | TH_FIN)) != 0) {
            ASSERT_NE(rec[k].mark, MARK_DUP_ACK) << k;
        }
    }
}

TEST_F(pair_scan_fast, DISABLED_PrintsTimingsOfBothForms)
{
    for (int32_t n : {10000, 40000, 300000}) {
        bulk_trace b = make_bulk(n, 7, false);
        int32_t count = static_cast<int32_t>(b.t.rec.size());
        std::vector<seg_record> fast = b.t.rec;
        auto start = std::chrono::steady_clock::now();
        mark_pair_scan_fast(fast.data(), count);
        double fast_s = seconds_since(start);
        if (n > 40000) {
            std::printf("%7d records: fast %.3f s\n", n, fast_s);
            continue;
        }
        std::vector<seg_record> lit = b.t.rec;
        start = std::chrono::steady_clock::now();
        mark_pair_scan_literal(lit.data(), count);
        double lit_s = seconds_since(start);
        std::printf("%7d records: literal %.3f s, fast %.3f s\n", n, lit_s, fast_s);
        for (size_t k = 0; k < lit.size(); k++) {
            ASSERT_EQ(lit[k].mark, fast[k].mark) << k;
            ASSERT_EQ(lit[k].mark_flags, fast[k].mark_flags) << k;
        }
    }
}

} // namespace
