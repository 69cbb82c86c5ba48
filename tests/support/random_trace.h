/*
 * random_trace.h --
 *
 *	Test support: traces for checking a fast form of an analysis pass
 *	against its literal form. Random small traces with colliding and
 *	wrapping sequence and acknowledgement numbers, mixed flags, zero and
 *	negative payload lengths, IPv4, IPv6 and loopback ends (the
 *	shared-address rule of the direction test), optional random marks,
 *	times with ties and backward steps, and random pairing fields; and a
 *	long bulk transfer with losses and duplicate-acknowledgement runs.
 *	Everything comes from a fixed-seed generator, so a failure repeats.
 *
 *	The records are plain values (no packet copy); a test that needs the
 *	main trace installs a calloc'ed copy with install_main.
 */

#ifndef WIREPAINT_TESTS_RANDOM_TRACE_H
#define WIREPAINT_TESTS_RANDOM_TRACE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/marking.h"
#include "trace/direction.h"
#include "trace/trace.h"

namespace randtrace {

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

constexpr uint64_t ADDR_A = 0x0a000001;    /* 10.0.0.1 */
constexpr uint64_t ADDR_B = 0x0a000002;    /* 10.0.0.2 */
constexpr uint64_t ADDR_C = 0x0a000003;    /* 10.0.0.3 */
constexpr uint64_t ADDR_LOOP = 0x7f000001; /* 127.0.0.1 */
constexpr uint16_t P_A = 40000, P_B = 80, P_C = 5000;

inline const ends A_B = {"A>B", ADDR_A, ADDR_B, 0, 0, false, P_A, P_B};
inline const ends B_A = {"B>A", ADDR_B, ADDR_A, 0, 0, false, P_B, P_A};
inline const ends C_A = {"C>A", ADDR_C, ADDR_A, 0, 0, false, P_C, P_A};
inline const ends A_C = {"A>C", ADDR_A, ADDR_C, 0, 0, false, P_A, P_C};
inline const ends B_C = {"B>C", ADDR_B, ADDR_C, 0, 0, false, P_B, P_C};
inline const ends X_Y = {"X>Y", 0, 0, 1, 2, false, P_A, P_B};
inline const ends Y_X = {"Y>X", 0, 0, 2, 1, false, P_B, P_A};
inline const ends LA_LB = {"LA>LB", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 1000, 2000};
inline const ends LB_LA = {"LB>LA", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 2000, 1000};
inline const ends LC_LA = {"LC>LA", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 3000, 1000};
inline const ends LA_LC = {"LA>LC", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 1000, 3000};
inline const ends LA_LA = {"LA>LA", ADDR_LOOP, ADDR_LOOP, 0, 0, false, 1000, 1000};
inline const ends V6L_A = {"::1a>::1b", 0, 0, 1, 1, true, 1000, 2000};
inline const ends V6L_B = {"::1b>::1a", 0, 0, 1, 1, true, 2000, 1000};

/* Six IPv4 hosts 10.0.1.1 .. 10.0.1.6 in a ring, both ways round. */
inline const ends RING[] = {
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

inline const std::vector<trace_kind> KINDS = {
    {"ipv4 pair", {&A_B, &B_A}, true},
    {"ipv6 pair", {&X_Y, &Y_X}, true},
    {"three ipv4 hosts", {&A_B, &B_A, &C_A, &A_C, &B_C}, true},
    {"loopback pair", {&LA_LB, &LB_LA}, true},
    {"loopback ports", {&LA_LB, &LB_LA, &LC_LA, &LA_LC, &LA_LA, &V6L_A, &V6L_B}, true},
    {"six-host ring", {&RING[0], &RING[1], &RING[2], &RING[3], &RING[4], &RING[5],
                       &RING[6], &RING[7], &RING[8], &RING[9], &RING[10], &RING[11]}, true},
    {"mixed", {&A_B, &B_A, &LA_LB}, false},
};

inline void set_ends(seg_record &r, const ends &e)
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
    set_ports(r, e.sport, e.dport);
}

inline seg_record make(const ends &e, int64_t seq, int64_t ack, int32_t paylen, uint8_t flags)
{
    seg_record r{};
    set_ends(r, e);
    set_seq(r, seq);
    set_ack(r, ack);
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
inline const std::vector<int64_t> EDGE_NUMBERS = {
    0, 1, 2, 100, 101, 1000,
    2147483646, 2147483647, 2147483648LL, 2147483649LL,
    4294967294LL, 4294967295LL, 4294967296LL, 4294967297LL,
    -1, -2, -2147483648LL, -2147483649LL, 8589934593LL, 1LL << 40,
};

/* The threshold a retransmission of seq v sets, sign-extended. */
inline int64_t threshold_of(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)) + 1u);
}

inline const std::vector<int32_t> PAYLENS = {0, 0, 0, 1, 100, 1000, -1, -40};
inline const std::vector<uint8_t> PRESET_MARKS = {0, 2, 3, 4, 6, 0x55};
inline const std::vector<uint8_t> PRESET_FLAGS = {0, 1, 0x80, 0xff};

enum preset { PRESET_NONE, PRESET_ORDER_CHECK, PRESET_RANDOM };

/* Replaces g_trace.main with a calloc'ed copy of v (records without copies). */
inline void install_main(const std::vector<seg_record> &v)
{
    trace_free(&g_trace.main);
    if (v.empty())
        return;
    auto *rec = static_cast<seg_record *>(std::calloc(v.size(), sizeof(seg_record)));
    std::memcpy(rec, v.data(), v.size() * sizeof(seg_record));
    g_trace.main.rec = rec;
    g_trace.main.count = static_cast<int32_t>(v.size());
    g_trace.main.cap = g_trace.main.count;
}

/* Copies g_trace.main back into v and empties it. */
inline void take_main(std::vector<seg_record> &v)
{
    if (!v.empty())
        std::memcpy(v.data(), g_trace.main.rec, v.size() * sizeof(seg_record));
    trace_free(&g_trace.main);
}

/* Marks the records as the order check would, through g_trace.main. */
inline void run_order_check(std::vector<seg_record> &v)
{
    install_main(v);
    if (v.empty())
        return;
    mark_order_check();
    take_main(v);
}

struct random_trace {
    std::vector<seg_record> rec;
    std::vector<const char *> names;
    std::string about;
};

inline random_trace make_random_trace(rng &g, const trace_kind &kind)
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

/*
 * Gives the records times: mostly rising in steps of 1/8 s multiples
 * (exact in float, so that gaps tie with round time bounds), sometimes
 * equal, sometimes in tiny or irregular steps, and now and then running
 * backwards when `backwards` is set.
 */
inline void add_times(rng &g, random_trace &t, bool backwards)
{
    double now = g.chance(20) ? 1000.0 + g.below(8) : 0.0;
    for (seg_record &r : t.rec) {
        int32_t kind = g.below(10);
        if (kind < 5)
            now += 0.125 * g.below(4);
        else if (kind < 7)
            now += 1e-6 * (1 + g.below(1000));
        else if (kind < 9)
            now += 0.001 * g.below(700);
        else if (backwards)
            now -= 0.125 * (1 + g.below(6));
        r.time = static_cast<float>(now);
    }
}

/* A random record index of t, or 0 ("none") one time in two. */
inline int64_t random_link(rng &g, const random_trace &t)
{
    if (t.rec.empty() || g.chance(50))
        return 0;
    return g.below(static_cast<int32_t>(t.rec.size()));
}

/* Random ack_time, resp_time, acked_by and PAIR_ACKS, as a pass may find them. */
inline void add_pairing_presets(rng &g, random_trace &t)
{
    const std::vector<float> samples = {-1.0f, -1.0f, 0.0f, 0.125f, 0.25f, 0.3f, 7.0f};
    for (seg_record &r : t.rec) {
        r.ack_time = g.pick(samples);
        r.resp_time = g.pick(samples);
        r.acked_by = g.chance(70) ? 0 : random_link(g, t);
        int32_t acks = g.chance(70) ? 0 : random_link(g, t);
        r.pair_flags = acks != 0 ? PAIR_ACKS : 0;
    }
}

/*
 * A bulk transfer from A to B: data of 1000 bytes, all with ack 1; B
 * acknowledges every second segment. Now and then a segment is lost: B
 * repeats the ack at its seq after each later segment (a duplicate run),
 * A sends it again, and B acknowledges everything so far. Records are
 * 80 us apart; one acknowledgement in 200 comes 20 ms late, so that the
 * time samples bound the backward pairing as a real transfer's do.
 */
struct bulk_trace {
    random_trace t;
    std::vector<int32_t> originals; /* the lost segments */
    std::vector<int32_t> copies;    /* their retransmissions */
    std::vector<int32_t> beyond;    /* the ack beyond each copy */
};

inline bulk_trace make_bulk(int32_t n, uint64_t seed, bool with_fin)
{
    bulk_trace b;
    rng g{seed};
    rng late{seed ^ 0x5eedu};
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
    double now = 0.0;
    for (seg_record &r : v) {
        now += 80e-6;
        if (sport_of(r) == P_B && late.chance(1) && late.chance(50))
            now += 0.02;
        r.time = static_cast<float>(now);
    }
    v[0].time = 0.0f;
    b.t.about = "bulk transfer, " + std::to_string(n) + " records";
    return b;
}


} // namespace randtrace

#endif
