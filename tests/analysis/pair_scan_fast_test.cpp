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

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/marking.h"
#include "analysis_fixture.h"

using namespace fixture;

namespace {

/* ---- Fixtures --------------------------------------------------------- */

/* Ends of a record: addresses in both forms and ports. */
struct ends {
    const char *name;
    uint64_t src4;
    uint64_t dst4;
    uint8_t src6_last; /* last byte of an fd00::/8 or ::1 address; 0 none */
    uint8_t dst6_last;
    bool v6_loop;      /* the IPv6 addresses are ::1 */
    uint16_t sport;
    uint16_t dport;
};

constexpr uint64_t ADDR_C = 0x0a000003;
constexpr uint16_t P_A = 40000, P_B = 80, P_C = 5000;

const ends A_B = {"A>B", ADDR_A, ADDR_B, 0, 0, false, P_A, P_B};
const ends B_A = {"B>A", ADDR_B, ADDR_A, 0, 0, false, P_B, P_A};
const ends C_A = {"C>A", ADDR_C, ADDR_A, 0, 0, false, P_C, P_A};
const ends A_C = {"A>C", ADDR_A, ADDR_C, 0, 0, false, P_A, P_C};
const ends B_C = {"B>C", ADDR_B, ADDR_C, 0, 0, false, P_B, P_C};
const ends X_Y = {"X>Y", 0, 0, 1, 2, false, P_A, P_B};
const ends Y_X = {"Y>X", 0, 0, 2, 1, false, P_B, P_A};
const ends LA_LB = {"LA>LB", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 1000, 2000};
const ends LB_LA = {"LB>LA", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 2000, 1000};
const ends LC_LA = {"LC>LA", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 3000, 1000};
const ends LA_LC = {"LA>LC", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 1000, 3000};
const ends LA_LA = {"LA>LA", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 1000, 1000};
const ends V6L_A = {"::1a>::1b", 0, 0, 1, 1, true, 1000, 2000};
const ends V6L_B = {"::1b>::1a", 0, 0, 1, 1, true, 2000, 1000};

/* Six IPv4 hosts 10.0.1.1 .. 10.0.1.6 in a ring, both ways round. */
const ends RING[] = {
    {"H1>H2", 0x0a000101, 0x0a000102, 0, 0, false, 1, 2},
    {"H2>H1", 0x0a000102, 0x0a000101, 0, 0, false, 2, 1},
    {"H2>H3", 0x0a000102, 0x0a000103, 0, 0, false, 2, 3},
    {"H3>H2", 0x0a000103, 0x0a000102, 0, 0, false, 3, 2},
    {"H3>H4", 0x0a000103, 0x0a000104, 0, 0, false, 3, 4},
    {"H4>H3", 0x0a000104, 0x0a000103, 0, 0, false, 4, 3},
    {"H4>H5", 0x0a000104, 0x0a000105, 0, 0, false, 4, 5},
    {"H5>H4", 0x0a000105, 0x0a000104, 0, 0, false, 5, 4},
    {"H5>H6", 0x0a000105, 0x0a000106, 0, 0, false, 5, 6},
    {"H6>H5", 0x0a000106, 0x0a000105, 0, 0, false, 6, 5},
    {"H6>H1", 0x0a000106, 0x0a000101, 0, 0, false, 6, 1},
    {"H1>H6", 0x0a000101, 0x0a000106, 0, 0, false, 1, 6},
};

/* The kinds of random trace, each with the ends its records may have. */
struct trace_kind {
    const char *name;
    std::vector<const ends *> choices;
    bool uniform; /* every record agrees on shared-address ends */
};

const std::vector<trace_kind> KINDS = {
    {"ipv4 pair", {&A_B, &B_A}, true},
    {"ipv6 pair", {&X_Y, &Y_X}, true},
    {"three ipv4 hosts", {&A_B, &B_A, &C_A, &A_C, &B_C}, true},
    {"loopback pair", {&LA_LB, &LB_LA}, true},
    {"loopback ports", {&LA_LB, &LB_LA, &LC_LA, &LA_LC, &LA_LA, &V6L_A, &V6L_B}, true},
    {"six-host ring", {&RING[0], &RING[1], &RING[2], &RING[3], &RING[4], &RING[5],
                       &RING[6], &RING[7], &RING[8], &RING[9], &RING[10], &RING[11]}, true},
    {"mixed", {&A_B, &B_A, &LA_LB}, false},
};

void set_ends(seg_record &r, const ends &e)
{
    ip_address src{}, dst{};
    src.a4 = e.src4;
    dst.a4 = e.dst4;
    if (e.src6_last != 0) {
        src.a6[0] = e.v6_loop ? 0 : 0xfd;
        src.a6[15] = e.src6_last;
    }
    if (e.dst6_last != 0) {
        dst.a6[0] = e.v6_loop ? 0 : 0xfd;
        dst.a6[15] = e.dst6_last;
    }
    set_addresses(r, src, dst);
    r.sport = e.sport;
    r.dport = e.dport;
}

seg_record make(const ends &e, int64_t seq, int64_t ack, int32_t paylen, uint8_t flags)
{
    seg_record r{};
    set_ends(r, e);
    r.seq = seq;
    r.ack = ack;
    r.paylen = paylen;
    r.tcp_flags = flags;
    return r;
}

/* A small fixed-seed generator (splitmix64): the same traces everywhere. */
struct rng {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    int32_t below(int32_t n) { return static_cast<int32_t>(next() % static_cast<uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T> T pick(const std::vector<T> &v) { return v[static_cast<size_t>(below(static_cast<int32_t>(v.size())))]; }
};

/* Numbers that meet the 32-bit threshold's wrap and the sign of 64 bits. */
const std::vector<int64_t> EDGE_NUMBERS = {
    0, 1, 2, 100, 101, 1000,
    2147483646, 2147483647, 2147483648LL, 2147483649LL,
    4294967294LL, 4294967295LL, 4294967296LL, 4294967297LL,
    -1, -2, -2147483648LL, -2147483649LL, 8589934593LL, 1LL << 40,
};

/* The threshold a retransmission of seq v sets, sign-extended. */
int64_t threshold_of(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)) + 1u);
}

const std::vector<int32_t> PAYLENS = {0, 0, 0, 1, 100, 1000, -1, -40};
const std::vector<uint8_t> PRESET_MARKS = {0, 2, 3, 4, 6, 0x55};
const std::vector<uint8_t> PRESET_FLAGS = {0, 1, 0x80, 0xff};

enum preset { PRESET_NONE, PRESET_ORDER_CHECK, PRESET_RANDOM };

/* Marks the records as the order check would, through g_trace.main. */
void run_order_check(std::vector<seg_record> &v)
{
    trace_free(&g_trace.main);
    if (v.empty())
        return;
    auto *rec = static_cast<seg_record *>(std::calloc(v.size(), sizeof(seg_record)));
    std::memcpy(rec, v.data(), v.size() * sizeof(seg_record));
    g_trace.main.rec = rec;
    g_trace.main.count = static_cast<int32_t>(v.size());
    g_trace.main.cap = g_trace.main.count;
    mark_order_check();
    std::memcpy(v.data(), rec, v.size() * sizeof(seg_record));
    trace_free(&g_trace.main);
}

struct random_trace {
    std::vector<seg_record> rec;
    std::vector<const char *> names;
    std::string about;
};

random_trace make_random_trace(rng &g, const trace_kind &kind)
{
    random_trace t;
    int32_t n = g.chance(80) ? g.below(61) : g.below(201);
    int32_t distinct = 1 + g.below(5);
    std::vector<int64_t> seqs, acks;
    for (int32_t k = 0; k < distinct; k++)
        seqs.push_back(g.chance(70) ? g.pick(EDGE_NUMBERS) : g.below(6));
    for (int64_t v : seqs) {
        acks.push_back(v);
        acks.push_back(v + 1);
        acks.push_back(v + 2);
        acks.push_back(threshold_of(v));
        acks.push_back(threshold_of(v) + 1);
    }
    acks.push_back(g.pick(EDGE_NUMBERS));
    int ack_spread = 1 + g.below(static_cast<int32_t>(acks.size()));
    acks.resize(static_cast<size_t>(ack_spread));

    preset how = static_cast<preset>(g.below(3));
    for (int32_t k = 0; k < n; k++) {
        const ends *e = g.pick(kind.choices);
        uint8_t flags = 0;
        if (g.chance(80)) flags |= TH_ACK;
        if (g.chance(15)) flags |= TH_SYN;
        if (g.chance(15)) flags |= TH_FIN;
        if (g.chance(5)) flags |= TH_RST;
        if (g.chance(20)) flags |= TH_PUSH;
        seg_record r = make(*e, g.pick(seqs), g.pick(acks), g.pick(PAYLENS), flags);
        if (how == PRESET_RANDOM) {
            r.mark = g.pick(PRESET_MARKS);
            r.mark_flags = g.pick(PRESET_FLAGS);
        }
        t.rec.push_back(r);
        t.names.push_back(e->name);
    }
    if (how == PRESET_ORDER_CHECK)
        run_order_check(t.rec);
    t.about = std::string(kind.name) + ", " + std::to_string(n) + " records, preset " +
              (how == PRESET_NONE ? "none" : how == PRESET_ORDER_CHECK ? "order check" : "random");
    return t;
}

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
                      k, t.names.empty() ? "?" : t.names[k], static_cast<long long>(r.seq),
                      static_cast<long long>(r.ack), r.paylen, r.tcp_flags, r.mark,
                      r.mark_flags, lit[k].mark, lit[k].mark_flags, fast[k].mark,
                      fast[k].mark_flags, differs ? "  <<" : "");
        s += line;
    }
    return s;
}

/* Runs both forms on copies; empty text when they agree, else the trace. */
std::string compare_forms(const random_trace &t)
{
    std::vector<seg_record> lit = t.rec, fast = t.rec;
    int32_t n = static_cast<int32_t>(t.rec.size());
    mark_pair_scan_literal(lit.data(), n);
    mark_pair_scan_fast(fast.data(), n);
    for (size_t k = 0; k < t.rec.size(); k++)
        if (lit[k].mark != fast[k].mark || lit[k].mark_flags != fast[k].mark_flags)
            return describe(t, lit, fast);
    return std::string();
}

/*
 * A bulk transfer from A to B: data of 1000 bytes, all with ack 1; B
 * acknowledges every second segment. Now and then a segment is lost: B
 * repeats the ack at its seq after each later segment (a duplicate run),
 * A sends it again, and B acknowledges everything so far.
 */
struct bulk_trace {
    random_trace t;
    std::vector<int32_t> originals; /* the lost segments */
    std::vector<int32_t> copies;    /* their retransmissions */
    std::vector<int32_t> beyond;    /* the ack beyond each copy */
};

bulk_trace make_bulk(int32_t n, uint64_t seed, bool with_fin)
{
    bulk_trace b;
    rng g{seed};
    std::vector<seg_record> &v = b.t.rec;
    v.reserve(static_cast<size_t>(n) + 16);
    int64_t next_seq = 1;
    int32_t sent = 0;
    int32_t since_loss = 0;
    int32_t limit = with_fin ? n - 1 : n;
    while (static_cast<int32_t>(v.size()) + 12 < limit) {
        int64_t seq = next_seq;
        bool lose = since_loss >= 4 && g.chance(1);
        v.push_back(make(A_B, seq, 1, 1000, TH_ACK));
        next_seq += 1000;
        sent++;
        if (!lose) {
            if (sent % 2 == 0)
                v.push_back(make(B_A, 1, next_seq, 0, TH_ACK));
            since_loss++;
            continue;
        }
        since_loss = 0;
        b.originals.push_back(static_cast<int32_t>(v.size()) - 1);
        int32_t run = 3 + g.below(6);
        for (int32_t k = 0; k < run; k++) {
            v.push_back(make(A_B, next_seq, 1, 1000, TH_ACK));
            next_seq += 1000;
            v.push_back(make(B_A, 1, seq, 0, TH_ACK));
        }
        b.copies.push_back(static_cast<int32_t>(v.size()));
        v.push_back(make(A_B, seq, 1, 1000, TH_ACK | TH_PUSH));
        b.beyond.push_back(static_cast<int32_t>(v.size()));
        v.push_back(make(B_A, 1, next_seq, 0, TH_ACK));
    }
    while (static_cast<int32_t>(v.size()) < limit) {
        v.push_back(make(A_B, next_seq, 1, 1000, TH_ACK));
        next_seq += 1000;
    }
    if (with_fin)
        v.push_back(make(A_B, next_seq, 1, 0, TH_FIN | TH_ACK));
    b.t.about = "bulk transfer, " + std::to_string(n) + " records";
    return b;
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
    t.rec[0].seq = t.rec[1].seq = 4294967295LL;
    fast = t.rec;
    mark_pair_scan_fast(fast.data(), 4);
    EXPECT_EQ(fast[2].mark_flags, MARK_SKIP);
    EXPECT_EQ(fast[3].mark_flags, MARK_SKIP);
    EXPECT_TRUE(compare_forms(t).empty()) << compare_forms(t);
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

TEST_F(pair_scan_fast, BulkTransferOfThreeHundredThousandSegmentsMarksInSeconds)
{
    bulk_trace b = make_bulk(300000, 7, false);
    std::vector<seg_record> &v = b.t.rec;
    ASSERT_EQ(v.size(), 300000u);
    ASSERT_GT(b.originals.size(), 100u);

    auto start = std::chrono::steady_clock::now();
    mark_pair_scan_fast(v.data(), static_cast<int32_t>(v.size()));
    double took = seconds_since(start);
    /* Well under a second in an optimised build; the plain scan would
     * take minutes. The bound leaves room for sanitizer builds. */
    EXPECT_LT(took, 10.0);
    RecordProperty("fast_scan_ms", static_cast<int>(took * 1000));

    for (size_t k = 0; k < b.originals.size(); k++) {
        int64_t lost_seq = v[static_cast<size_t>(b.originals[k])].seq;
        EXPECT_EQ(v[static_cast<size_t>(b.originals[k])].mark, MARK_LOST_SEGMENT);
        EXPECT_EQ(v[static_cast<size_t>(b.copies[k])].mark, MARK_RETRANSMISSION);
        const seg_record &past = v[static_cast<size_t>(b.beyond[k])];
        EXPECT_EQ(past.mark, 0);
        EXPECT_EQ(past.mark_flags, 0);
        for (int32_t x = b.originals[k]; x <= b.copies[k]; x++) {
            const seg_record &r = v[static_cast<size_t>(x)];
            EXPECT_EQ(r.mark_flags, MARK_SKIP) << x;
            if (r.sport == P_B && r.ack == lost_seq) {
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

    auto start = std::chrono::steady_clock::now();
    mark_pair_scan();
    EXPECT_LT(seconds_since(start), 10.0);
    for (size_t k = 0; k < expect.size(); k++) {
        ASSERT_EQ(rec[k].mark, expect[k].mark) << k;
        ASSERT_EQ(rec[k].mark_flags, expect[k].mark_flags) << k;
    }
    /* With the closing FIN carrying ack 1, every data segment pairs with it. */
    EXPECT_NE(rec[0].mark & MARK_DUP_ACK, 0);
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
