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

#include <memory>
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
        /* Searches whose start only rises, each endpoint with its cursor,
         * as the forward pairing makes them: the same answers. */
        std::vector<int32_t> cursor(ix.known.size(), 0);
        for (int32_t from = 0; from < n; from += 1 + g.below(std::max(1, n / 200))) {
            int32_t e = ix.src[static_cast<size_t>(g.below(n))];
            int64_t h = ack_of(v[static_cast<size_t>(g.below(n))]) + g.below(3) - 1;
            ASSERT_EQ(dest_first_addressed_above_from(ix, e, from, h, &cursor[static_cast<size_t>(e)]),
                      dest_first_addressed_above(ix, e, from, h))
                << "length " << n << " from " << from << " above " << h;
        }
    }
}

} // namespace
