/*
 * pairing_fast_test.cpp --
 *
 *	Tests of the fast forward and backward pairing: every field they
 *	write (ack_time, resp_time, acked_by, PAIR_ACKS, bit for bit) and the
 *	longest sample must be exactly those of the plain forms. Thousands of
 *	small random traces run through both (colliding and wrapping numbers,
 *	flag mixes, zero and negative payloads, IPv4, IPv6 and loopback ends,
 *	times with ties and backward steps, random marks and pairing fields),
 *	and so do bulk transfers; traces on which the plain forms are
 *	quadratic must pair in seconds.
 */

#include "analysis/pairing_fast.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "analysis/dest_index.h"
#include "analysis/pair_scan_fast.h"
#include "analysis/pairing.h"
#include "analysis_fixture.h"
#include "support/random_trace.h"

using namespace fixture;
using namespace randtrace;

namespace {

class pairing_fast : public analysis_test {};

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

/* First record whose pairing fields differ, as text; empty when none. */
std::string first_difference(const std::vector<seg_record> &lit,
                             const std::vector<seg_record> &fast)
{
    for (size_t k = 0; k < lit.size(); k++) {
        const seg_record &a = lit[k], &b = fast[k];
        if (same_bits(a.ack_time, b.ack_time) && same_bits(a.resp_time, b.resp_time) &&
            a.acked_by == b.acked_by && a.pair_flags == b.pair_flags && a.mark == b.mark)
            continue;
        return "record " + std::to_string(k) + ": literal " + std::to_string(a.ack_time) + "/" +
               std::to_string(a.resp_time) + "/" + std::to_string(a.acked_by) + "/" +
               std::to_string(a.pair_flags) + ", fast " + std::to_string(b.ack_time) + "/" +
               std::to_string(b.resp_time) + "/" + std::to_string(b.acked_by) + "/" +
               std::to_string(b.pair_flags);
    }
    return std::string();
}

/* The forward forms on copies of v: the plain one, the fast one that
 * builds its index when a search needs it, and the fast one given an
 * index beforehand, as the analysis runs it. The first difference,
 * empty when none. */
std::string compare_forward(const std::vector<seg_record> &v, float *longest = nullptr)
{
    std::vector<seg_record> lit = v, fast = v, given = v;
    int32_t n = static_cast<int32_t>(v.size());
    float a = pair_forward_literal(lit.data(), n);
    float b = pair_forward_fast(fast.data(), n);
    dest_index ix;
    float c = pair_forward_indexed(given.data(), n, dest_index_make(given.data(), n, ix));
    if (longest != nullptr)
        *longest = a;
    if (!same_bits(a, b) || !same_bits(a, c))
        return "longest " + std::to_string(a) + " vs " + std::to_string(b) + " and " +
               std::to_string(c) + " given an index";
    std::string diff = first_difference(lit, fast);
    if (!diff.empty())
        return diff;
    diff = first_difference(lit, given);
    return diff.empty() ? diff : "given an index, " + diff;
}

/* Both backward forms on copies of v with time bound `longest`. */
std::string compare_backward(const std::vector<seg_record> &v, float longest)
{
    std::vector<seg_record> lit = v, fast = v;
    int32_t n = static_cast<int32_t>(v.size());
    pair_backward_literal(lit.data(), n, longest);
    pair_backward_fast(fast.data(), n, longest);
    return first_difference(lit, fast);
}

const std::vector<float> BOUNDS = {
    -1.0f, 0.0f, 0.125f, 0.25f, 0.5f, 1.0f, 0.3f, 1e9f,
    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
};

TEST_F(pairing_fast, BothFormsAgreeOnThousandsOfRandomTraces)
{
    rng g{20261209};
    int32_t traces = 0, exact = 0, backward_pairs = 0;
    for (int32_t round = 0; round < 500; round++) {
        for (const trace_kind &kind : KINDS) {
            random_trace t = make_random_trace(g, kind);
            add_times(g, t, g.chance(30));
            if (g.chance(50))
                add_pairing_presets(g, t);
            if (!t.rec.empty() && g.chance(3))
                t.rec[static_cast<size_t>(g.below(static_cast<int32_t>(t.rec.size())))].time =
                    std::numeric_limits<float>::infinity();

            float longest = -1.0f;
            std::string diff = compare_forward(t.rec, &longest);
            ASSERT_TRUE(diff.empty()) << "forward, trace " << traces << " (" << t.about
                                      << "): " << diff;

            /* The backward pass after the forward one, or over presets. */
            std::vector<seg_record> after = t.rec;
            if (g.chance(60))
                pair_forward_literal(after.data(), static_cast<int32_t>(after.size()));
            float bound = g.chance(40) ? longest : g.pick(BOUNDS);
            diff = compare_backward(after, bound);
            ASSERT_TRUE(diff.empty()) << "backward, trace " << traces << " (" << t.about
                                      << "), bound " << bound << ": " << diff;

            std::vector<seg_record> lit = after;
            pair_backward_literal(lit.data(), static_cast<int32_t>(lit.size()), bound);
            for (size_t k = 0; k < lit.size(); k++) {
                exact += lit[k].ack_time > 0 ? 1 : 0;
                backward_pairs += lit[k].pair_flags != after[k].pair_flags ? 1 : 0;
            }
            traces++;
        }
    }
    EXPECT_EQ(traces, 3500);
    /* The traces pair often, both ways. */
    EXPECT_GT(exact, 5000);
    EXPECT_GT(backward_pairs, 2000);
}

TEST_F(pairing_fast, BothFormsAgreeOnBulkTransfers)
{
    for (uint64_t seed : {1u, 2u, 3u}) {
        bulk_trace b = make_bulk(20000, seed, false);
        std::vector<seg_record> &v = b.t.rec;
        mark_pair_scan_fast(v.data(), static_cast<int32_t>(v.size()));
        float longest = -1.0f;
        std::string diff = compare_forward(v, &longest);
        ASSERT_TRUE(diff.empty()) << b.t.about << ": " << diff;
        EXPECT_GT(longest, 0.019f);
        pair_forward_literal(v.data(), static_cast<int32_t>(v.size()));
        for (float bound : {longest, 0.5f, 100.0f}) {
            diff = compare_backward(v, bound);
            ASSERT_TRUE(diff.empty()) << b.t.about << ", bound " << bound << ": " << diff;
        }
        /* The same with times running backwards here and there. */
        for (size_t k = 500; k < v.size(); k += 997)
            v[k].time -= 0.05f;
        diff = compare_backward(v, longest);
        ASSERT_TRUE(diff.empty()) << b.t.about << ", times backwards: " << diff;
    }
}

/*
 * The plain forms' worst cases: data that is never acknowledged makes
 * every forward search run to the end; pure acknowledgements with a long
 * bound make every backward walk run to record 1.
 */
std::vector<seg_record> unanswered_transfer(int32_t n)
{
    std::vector<seg_record> v;
    for (int32_t k = 0; k < n; k++) {
        bool data = k % 2 == 0;
        seg_record r = data ? make(A_B, 1 + 1000LL * k, 1, 1000, TH_ACK)
                            : make(B_A, 1, 1, 0, TH_ACK);
        r.time = 1e-4f * static_cast<float>(k);
        v.push_back(r);
    }
    return v;
}

TEST_F(pairing_fast, QuadraticCasesOfThePlainFormsPairEveryAcknowledgement)
{
    std::string diff = compare_forward(unanswered_transfer(3000));
    EXPECT_TRUE(diff.empty()) << diff;
    diff = compare_backward(unanswered_transfer(3000), 1e6f);
    EXPECT_TRUE(diff.empty()) << diff;

    /* A size the plain forms would take minutes over. */
    std::vector<seg_record> v = unanswered_transfer(400000);
    pair_forward_fast(v.data(), static_cast<int32_t>(v.size()));
    pair_backward_fast(v.data(), static_cast<int32_t>(v.size()), 1e6f);
    /* Every acknowledgement takes the oldest data left: record 2 for
     * record 3, 4 for 5, and so on (record 0 is never looked at). */
    EXPECT_EQ(acks_of(v.data(), static_cast<int32_t>(v.size()), 3), 2);
    EXPECT_EQ(acks_of(v.data(), static_cast<int32_t>(v.size()), 5), 4);
    EXPECT_EQ(acks_of(v.data(), static_cast<int32_t>(v.size()), 399999), 399998);
    EXPECT_EQ(v[0].acked_by, 0);
}

TEST_F(pairing_fast, TheAnalysisEntriesRunTheFastFormsOverTheMainTrace)
{
    bulk_trace b = make_bulk(5000, 5, false);
    std::vector<seg_record> expect = b.t.rec;
    int32_t n = static_cast<int32_t>(expect.size());
    float want = pair_forward_literal(expect.data(), n);
    pair_backward_literal(expect.data(), n, 1.0f);

    install_main(b.t.rec);
    float got = pair_forward();
    pair_backward(1.0f);
    std::vector<seg_record> v(expect.size());
    take_main(v);
    EXPECT_TRUE(same_bits(want, got));
    std::string diff = first_difference(expect, v);
    EXPECT_TRUE(diff.empty()) << diff;
}

} // namespace
