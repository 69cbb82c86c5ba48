/*
 * dest_index_test.cpp --
 *
 *	Tests of the endpoint numbers and the by-destination ack index that
 *	the fast passes share: the numbers must answer every direction
 *	question exactly as trace/direction.h does, whether they come from
 *	the short list or from sorting (many endpoints), and the ack search
 *	must find what a scan finds.
 */

#include "analysis/dest_index.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis_fixture.h"
#include "support/random_trace.h"

using namespace randtrace;

namespace {

class dest_index_test : public fixture::analysis_test {};

/* The numbers against the direction test, and the search against a scan. */
void check_index(const std::vector<seg_record> &v, rng &g)
{
    int32_t n = static_cast<int32_t>(v.size());
    dest_index ix;
    ASSERT_TRUE(dest_index_build(v.data(), n, ix));
    for (int32_t k = 0; k < n; k++) {
        int32_t j = g.below(n);
        const seg_record &a = v[static_cast<size_t>(k)], &b = v[static_cast<size_t>(j)];
        ASSERT_EQ(ix.src[static_cast<size_t>(k)] == ix.src[static_cast<size_t>(j)],
                  same_direction(a, b)) << k << " " << j;
        ASSERT_EQ(ix.dst[static_cast<size_t>(k)] == ix.src[static_cast<size_t>(j)],
                  addressed_to_source(a, b)) << k << " " << j;
        ASSERT_EQ(ix.src[static_cast<size_t>(k)] == dest_number_of(ix, source_of(b)),
                  sent_by(a, source_of(b))) << k << " " << j;

        int64_t h = g.pick(EDGE_NUMBERS);
        int32_t want = DEST_NONE;
        for (int32_t m = j; m < n && want == DEST_NONE; m++)
            if (addressed_to_source(v[static_cast<size_t>(m)], a) && ack_of(v[static_cast<size_t>(m)]) > h)
                want = m;
        ASSERT_EQ(dest_first_addressed_above(ix, ix.src[static_cast<size_t>(k)], j, h), want)
            << k << " from " << j << " above " << h;
    }
}

template <typename T>
bool same(const T &a, const T &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

bool same_endpoint(const endpoint &a, const endpoint &b)
{
    return a.a4 == b.a4 && a.port == b.port && std::memcmp(a.a6, b.a6, sizeof a.a6) == 0;
}

/* Both builds' results, and every part of their indexes when built. */
void expect_same_index(const std::vector<seg_record> &v, const std::string &about)
{
    int32_t n = static_cast<int32_t>(v.size());
    auto lit = std::make_unique<dest_index>(), fast = std::make_unique<dest_index>();
    bool built = dest_index_build_literal(v.data(), n, *lit);
    ASSERT_EQ(dest_index_build(v.data(), n, *fast), built) << about;
    if (!built)
        return;
    ASSERT_TRUE(std::equal(fast->known.begin(), fast->known.end(), lit->known.begin(),
                           lit->known.end(), same_endpoint)) << about;
    ASSERT_TRUE(same(fast->src, lit->src) && same(fast->dst, lit->dst) && same(fast->by_dst, lit->by_dst) &&
                same(fast->dst_begin, lit->dst_begin) && same(fast->max_ack, lit->max_ack)) << about;
    ASSERT_TRUE(fast->same_addr == lit->same_addr && fast->leaves == lit->leaves &&
                fast->leaf == lit->leaf && fast->rec == lit->rec) << about;
}

/* Moves r's seq base to `base`: one more flow entry with the same ends. */
void give_seq_base(seg_record &r, int64_t base)
{
    flow_entry f = flow_of(r);
    f.seq_base = base;
    set_flow(r, f);
}

TEST_F(dest_index_test, NumbersAndSearchAgreeWithTheDirectionTestAndAScan)
{
    rng g{77};
    for (int32_t round = 0; round < 150; round++) {
        for (const trace_kind &kind : KINDS) {
            random_trace t = make_random_trace(g, kind);
            if (!kind.uniform) {
                EXPECT_EQ(dest_index_build(t.rec.data(), static_cast<int32_t>(t.rec.size()),
                                           *std::make_unique<dest_index>()),
                          dest_uniform_ends(t.rec.data(), static_cast<int32_t>(t.rec.size())));
                continue;
            }
            check_index(t.rec, g);
        }
    }
}

TEST_F(dest_index_test, ManyEndpointsAreNumberedBySorting)
{
    /* Forty hosts talking in pairs: more than the short list holds. */
    rng g{5};
    std::vector<seg_record> v;
    for (int32_t k = 0; k < 600; k++) {
        ends e{"h", 0x0a000100u + static_cast<uint64_t>(g.below(40)),
               0x0a000100u + static_cast<uint64_t>(g.below(40)), 0, 0, false, 1, 2};
        if (e.src4 == e.dst4)
            e.dst4++;
        v.push_back(make(e, g.below(5), g.below(5), g.pick(PAYLENS), TH_ACK));
    }
    dest_index ix;
    ASSERT_TRUE(dest_index_build(v.data(), 600, ix));
    EXPECT_GT(ix.known.size(), 30u);
    check_index(v, g);
    expect_same_index(v, "forty hosts");

    /* Far past where the short list ran out, one record whose ends share
     * an address: the array is not uniform, and gets no index. */
    ends shared{"same", 0x0a000105u, 0x0a000105u, 0, 0, false, 1, 2};
    v.back() = make(shared, 1, 1, 0, TH_ACK);
    EXPECT_FALSE(dest_uniform_ends(v.data(), 600));
    EXPECT_FALSE(dest_index_build(v.data(), 600, ix));

    /* Two hosts each talking to itself from 35,000 ports: more endpoints
     * than a number holds, and no index. */
    std::vector<seg_record> many;
    for (uint32_t k = 0; k < 70000; k++) {
        uint64_t host = 0x0a000105u + (k & 1);
        ends self{"self", host, host, 0, 0, false, static_cast<uint16_t>(k >> 1),
                  static_cast<uint16_t>(40000 + (k >> 1) % 20000)};
        many.push_back(make(self, 1, 1, 0, TH_ACK));
    }
    ASSERT_TRUE(dest_uniform_ends(many.data(), 70000));
    EXPECT_FALSE(dest_index_build(many.data(), 70000, ix));
    EXPECT_FALSE(dest_index_build_literal(many.data(), 70000, ix));
}

TEST_F(dest_index_test, AckSearchAgreesWithAScanOverLongArraysOfEveryLeafWidthWithOrWithoutACursor)
{
    /* Lengths around the powers of two, where the positions under a leaf
     * of the ack tree run from 8 to 16, and a length under one leaf. Acks
     * mostly rise with dips, so answers lie near and far. */
    rng g{23};
    for (int32_t n : {5, 16, 17, 255, 256, 257, 1000, 2049, 4095, 12289, 40000}) {
        std::vector<seg_record> v;
        int64_t ack = 0;
        for (int32_t k = 0; k < n; k++) {
            ack += g.below(3) == 0 ? -g.below(2000) : g.below(1500);
            v.push_back(make(g.below(2) == 0 ? A_B : B_A, 0, ack, 0, TH_ACK));
        }
        dest_index ix;
        ASSERT_TRUE(dest_index_build(v.data(), n, ix));
        EXPECT_GE(ix.leaf * ix.leaves, n);
        EXPECT_LE(static_cast<int64_t>(ix.max_ack.size()) * 8, std::max<int64_t>(2 * n, 16)) << n;
        for (int32_t q = 0; q < 400; q++) {
            int32_t from = g.below(n);
            const seg_record &a = v[static_cast<size_t>(g.below(n))];
            int64_t h = ack_of(v[static_cast<size_t>(g.below(n))]) + g.below(3) - 1;
            int32_t want = DEST_NONE;
            for (int32_t m = from; m < n && want == DEST_NONE; m++)
                if (addressed_to_source(v[static_cast<size_t>(m)], a) && ack_of(v[static_cast<size_t>(m)]) > h)
                    want = m;
            int32_t e = dest_number_of(ix, source_of(a));
            ASSERT_EQ(dest_first_addressed_above(ix, e, from, h), want)
                << "length " << n << " from " << from << " above " << h;
        }
        /* Searches whose start only rises, each endpoint with its place,
         * as the forward pairing makes them: the same answers, whether
         * the acks looked above jump about or mostly follow the acks
         * near the start (each search then starts where the last one of
         * its list ended, or before it when the ack falls). */
        for (bool following : {false, true}) {
            std::vector<dest_place> place(ix.known.size());
            for (int32_t from = 0; from < n; from += g.below(std::max(2, n / 200))) {
                int32_t e = ix.src[static_cast<size_t>(g.below(n))];
                int32_t near = following ? std::min(n - 1, from + g.below(40)) : g.below(n);
                int64_t h = ack_of(v[static_cast<size_t>(near)]) + g.below(3) - 1;
                ASSERT_EQ(dest_first_addressed_above_from(ix, e, from, h, &place[static_cast<size_t>(e)]),
                          dest_first_addressed_above(ix, e, from, h))
                    << "length " << n << " from " << from << " above " << h;
            }
        }
    }
}

TEST_F(dest_index_test, NumberingPerFlowGivesTheIndexOfNumberingPerRecord)
{
    rng g{4242};
    for (int32_t round = 0; round < 300; round++) {
        /* Fresh address and flow tables each round, so that they never fill. */
        trace_addresses_clear();
        const trace_kind &kind = KINDS[static_cast<size_t>(round) % KINDS.size()];
        random_trace t = make_random_trace(g, kind);
        int how = round % 4;
        if (how == 1) {
            /* A long trace: many leaves, wide and narrow. */
            for (int32_t k = 0; k < 1000 + g.below(20000); k++)
                t.rec.push_back(make(*g.pick(kind.choices), g.below(1 << 20),
                                     g.pick(EDGE_NUMBERS) + g.below(3000), 0, TH_ACK));
        } else if (how == 2) {
            /* Up to some thousands of flows of the same ends: flows that
             * share a slot of the kept numbers, seen again after another
             * took it. */
            for (int32_t k = 0; k < 3000 + g.below(3000); k++)
                t.rec.push_back(make(*g.pick(kind.choices), 0, g.below(100), 0, TH_ACK));
            int32_t bases = 1 + g.below(4000);
            for (seg_record &r : t.rec)
                give_seq_base(r, g.below(bases));
        } else if (how == 3) {
            /* Records made by hand: the all-zero flow 0 (both ends 0.0.0.0
             * port 0), here and there or everywhere. */
            int32_t every = 1 + g.below(4);
            for (seg_record &r : t.rec)
                r.flow = g.below(every) == 0 ? 0 : r.flow;
        }
        expect_same_index(t.rec, t.about + ", variant " + std::to_string(how));
    }
}

} // namespace
