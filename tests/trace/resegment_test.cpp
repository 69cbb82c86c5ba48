/*
 * resegment_test.cpp --
 *
 *	Tests of the copies cut otherwise: the batch form (match_resegmented)
 *	must give, for every record asked about, exactly what the scan of
 *	both traces (match_resegmented_literal) gives, on streams the other
 *	capture cut into other segments (pieces split and merged, lost,
 *	repeated, retransmitted, across the 2^32 wrap, IPv4, IPv6 and
 *	loopback ends); and the copy is the peer record holding the last
 *	byte, unless a retransmission nearer to it takes it.
 */

#include "trace/resegment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/random_trace.h"
#include "trace/direction.h"
#include "trace/matcher.h"
#include "trace/trace.h"

using namespace randtrace;

namespace {

class resegment : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
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

void install_pair(const std::vector<seg_record> &main, const std::vector<seg_record> &peer)
{
    trace_free(&g_trace.main);
    trace_free(&g_trace.peer);
    g_trace.main = make_array(main);
    g_trace.peer = make_array(peer);
}

/*
 * A stream of both directions from a random sequence number (near the
 * 2^32 wrap at times), with retransmissions, whole and in part, and pure
 * ACKs; and the same bytes cut otherwise at the other capture point:
 * pieces split in up to three and neighbours merged, some lost, some
 * twice, all a little later.
 */
void make_recut(rng &g, std::vector<seg_record> &main, std::vector<seg_record> &peer)
{
    const ends *dirs[2] = {&A_B, &B_A};
    if (g.chance(30))
        dirs[0] = &X_Y, dirs[1] = &Y_X;
    else if (g.chance(20))
        dirs[0] = &LA_LB, dirs[1] = &LB_LA;
    uint32_t next[2] = {g.chance(30) ? 0xffff0000u : static_cast<uint32_t>(g.next()), 5000u};
    float now = 0.0f;
    int32_t n = 5 + g.below(60);
    for (int32_t k = 0; k < n; k++) {
        int d = g.chance(70) ? 0 : 1;
        int32_t len = g.chance(20) ? 0 : g.pick(std::vector<int32_t>{1, 100, 1448, 2896, 30000});
        seg_record r = make(*dirs[d], 0, 0, len, 0x10);
        now += 0.01f * static_cast<float>(g.below(4));
        r.time = now;
        r.seq_raw = next[d];
        if (len > 0 && g.chance(15))
            r.seq_raw -= static_cast<uint32_t>(g.below(2) == 0 ? len : len / 2 + 1);
        else
            next[d] += static_cast<uint32_t>(len);
        main.push_back(r);
    }
    for (size_t k = 0; k < main.size(); k++) {
        seg_record r = main[k];
        r.time += 0.02f + 0.01f * static_cast<float>(g.below(2));
        if (g.chance(10))
            continue;
        if (k + 1 < main.size() && g.chance(25) && same_direction(r, main[k + 1]) &&
            main[k + 1].seq_raw == r.seq_raw + static_cast<uint32_t>(r.paylen)) {
            r.paylen += main[k + 1].paylen;
            k++;
        }
        int32_t pieces = r.paylen > 2 && g.chance(40) ? 1 + g.below(3) : 1;
        int32_t left = r.paylen;
        for (int32_t c = 0; c < pieces; c++) {
            seg_record piece = r;
            piece.paylen = c + 1 == pieces ? left : left / 2;
            left -= piece.paylen;
            r.seq_raw += static_cast<uint32_t>(piece.paylen);
            for (int copies = g.chance(10) ? 2 : 1; copies > 0; copies--)
                peer.push_back(piece);
        }
    }
}

/* Whether peer record m holds byte b. */
bool holds(int32_t m, uint32_t b)
{
    const seg_record &p = g_trace.peer.rec[m];
    return p.paylen > 0 && static_cast<uint32_t>(b - p.seq_raw) < static_cast<uint32_t>(p.paylen);
}

TEST_F(resegment, BatchEqualsTheScanOfBothTracesOnRandomRecutStreams)
{
    rng g{2121};
    const std::vector<float> offsets = {0.0f, -0.25f, 0.5f}, expects = {0.025f, -0.025f, 0.0f};
    int32_t found = 0, none = 0;
    for (int32_t round = 0; round < 1500; round++) {
        std::vector<seg_record> main, peer;
        make_recut(g, main, peer);
        install_pair(main, peer);
        float off = g.pick(offsets), rate = g.chance(30) ? 1e-3f : 0.0f;
        /* Every record, or a random part of them, each with its expect;
         * some peer records ruled out, or none. */
        std::vector<reseg_query> q;
        for (int32_t i = 0; i < g_trace.main.count; i++)
            if (g.chance(80))
                q.push_back({i, g.pick(expects)});
        std::vector<uint8_t> skip(peer.size() + 1);
        for (uint8_t &b : skip)
            b = g.chance(20);
        const uint8_t *ruled = g.chance(50) ? skip.data() : nullptr;
        std::vector<int32_t> copy(q.size(), 7);
        match_resegmented(q.data(), static_cast<int32_t>(q.size()), ruled, off, rate, 0.5f,
                          copy.data());
        for (size_t k = 0; k < q.size(); k++) {
            int32_t i = q[k].i;
            int32_t plain = match_resegmented_literal(i, ruled, off, q[k].expect, rate, 0.5f);
            ASSERT_EQ(copy[k], plain) << "round " << round << " record " << i;
            const seg_record &r = g_trace.main.rec[i];
            if (plain < 0) {
                none += r.paylen > 0;
                continue;
            }
            ASSERT_TRUE(holds(plain, r.seq_raw + static_cast<uint32_t>(r.paylen) - 1u));
            ASSERT_TRUE(same_direction(r, g_trace.peer.rec[plain]));
            found++;
        }
    }
    EXPECT_GT(found, 20000);
    EXPECT_GT(none, 1000);
}

seg_record data(uint32_t seq, int32_t len, float t)
{
    seg_record r = make(A_B, 0, 0, len, 0x10);
    r.seq_raw = seq;
    r.time = t;
    return r;
}

/* Both forms for main record i, which must agree. */
int32_t copy_of(int32_t i, float expect, const uint8_t *skip = nullptr)
{
    reseg_query q{i, expect};
    int32_t batch = -3;
    match_resegmented(&q, 1, skip, 0.0f, 0.0f, 0.0f, &batch);
    EXPECT_EQ(batch, match_resegmented_literal(i, skip, 0.0f, expect, 0.0f, 0.0f)) << i;
    return batch;
}

/* A super-segment of three MSS against its pieces, the pieces against
 * it, a pure ACK, and a lost original whose retransmission is the only
 * peer record holding its bytes. */
TEST_F(resegment, CopyHoldsTheLastByteUnlessARetransmissionIsNearer)
{
    std::vector<seg_record> super = {data(1000, 4344, 0.0f), data(5344, 0, 0.4f)};
    std::vector<seg_record> pieces = {data(1000, 1448, 0.1f), data(2448, 1448, 0.11f),
                                      data(3896, 1448, 0.12f), data(3896, 1448, 0.5f)};
    install_pair(super, pieces);
    EXPECT_EQ(copy_of(0, 0.1f), 2);   /* the nearer of two holding 5343 */
    const uint8_t skip[4] = {0, 0, 1, 0};
    EXPECT_EQ(copy_of(0, 0.1f, skip), 3);
    EXPECT_EQ(copy_of(1, 0.1f), -1);  /* no payload */
    install_pair(pieces, super);
    for (int32_t i = 0; i < 3; i++)
        EXPECT_EQ(copy_of(i, -0.1f), 0);

    std::vector<seg_record> sent = {data(1000, 1448, 0.0f), data(1000, 1448, 0.3f)};
    std::vector<seg_record> got = {data(1000, 1448, 0.32f)};
    install_pair(sent, got);
    EXPECT_EQ(copy_of(1, 0.02f), 0);
    EXPECT_EQ(copy_of(0, 0.02f), -1);
    /* Both arrived: each its own. */
    got.insert(got.begin(), data(1000, 1448, 0.02f));
    install_pair(sent, got);
    EXPECT_EQ(copy_of(0, 0.02f), 0);
    EXPECT_EQ(copy_of(1, 0.02f), 1);
}

}  // namespace
