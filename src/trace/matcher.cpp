/*
 * matcher.cpp --
 *
 *	Cross-trace matching (see matcher.h). The fast form keeps two hash
 *	indexes of the peer trace, one by identification and source address
 *	and one by carried sequence number, acknowledgement number, window
 *	and payload length, each a chain per bucket in ascending peer index,
 *	so that the candidates for a record are one bucket away and come out
 *	in ascending peer order, exactly as a scan from index 0 finds them.
 *	Building them is one pass over the peer trace, no sort. Candidates
 *	are all considered: a run of identical duplicate acknowledgements
 *	longer than any fixed list still finds, for each of its members, the
 *	copy nearest in time.
 */

#include "trace/matcher.h"

#include <cmath>

#include "trace/direction.h"
#include "trace/scratch.h"
#include "trace/trace.h"

namespace {

/* No peer record. */
constexpr int32_t NO_PEER = -1;

/*
 * One hash index of the peer trace: the peer records of each bucket in a
 * chain of ascending peer index, so that the candidates of a record come
 * out in the order a scan from index 0 meets them. Records of other keys
 * that share the bucket are passed over by the full test (qualifies).
 */
struct chain_index {
    scratch_vec<int32_t> head; /* bucket -> first peer index; NO_PEER */
    scratch_vec<int32_t> next; /* peer index -> next one in its bucket */
    uint64_t mask;             /* buckets - 1 (a power of two) */
};

/*
 * The matcher's index of the peer trace, one instance. Built by
 * match_segment when the peer trace it was made for (array and count) is
 * not the current one; dropped by matcher_reset.
 */
struct match_state {
    bool built;                 /* the index below describes peer_rec */
    const seg_record *peer_rec; /* peer array the index describes */
    int32_t peer_count;         /* and its count */
    chain_index by_ident;       /* peer records with nonzero ip_id */
    chain_index by_numbers;     /* all peer records, by carried numbers */
};

match_state g_match;

/* Spreads a key over all bits (the splitmix64 finaliser). */
uint64_t mix(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

/* What identification matching compares: the identification and source. */
uint64_t ident_hash(const seg_record &r)
{
    return mix((uint64_t)r.ip_id << 32 | (src4_of(r) & 0xffffffffu));
}

/* What number matching compares: carried seq and ack, window, payload. */
uint64_t number_hash(const seg_record &r)
{
    uint64_t numbers = (uint64_t)r.seq_raw << 32 | r.ack_raw;
    return mix(numbers ^ mix((uint64_t)r.win << 32 | (uint32_t)r.paylen));
}

/* Builds the chains of the peer records that `take` accepts. */
template <typename Take, typename Hash>
void build_chains(chain_index &c, const trace_array &p, Take take, Hash hash)
{
    size_t buckets = 1;
    while (buckets < 2 * (size_t)p.count)
        buckets *= 2;
    c.mask = buckets - 1;
    c.head.assign(buckets, NO_PEER);
    c.next.assign((size_t)p.count, NO_PEER);
    /* From the last record down, each put in front: chains ascend. */
    for (int32_t m = p.count - 1; m >= 0; m--) {
        const seg_record &r = p.rec[m];
        if (!take(r))
            continue;
        int32_t &head = c.head[hash(r) & c.mask];
        c.next[(size_t)m] = head;
        head = m;
    }
}

void build_index()
{
    const trace_array &p = g_trace.peer;
    bool any_ident = false;
    for (int32_t m = 0; m < p.count && !any_ident; m++)
        any_ident = p.rec[m].ip_id != 0;
    chain_index none = {scratch_vec<int32_t>(1, NO_PEER), scratch_vec<int32_t>(), 0};
    if (any_ident)
        build_chains(g_match.by_ident, p, [](const seg_record &r) { return r.ip_id != 0; },
                     ident_hash);
    else
        g_match.by_ident = none;
    build_chains(g_match.by_numbers, p, [](const seg_record &) { return true; }, number_hash);
    g_match.peer_rec = p.rec;
    g_match.peer_count = p.count;
    g_match.built = true;
}

/* Whether peer record m qualifies as the copy of main record r. */
bool qualifies(const seg_record &r, const seg_record &m)
{
    if (r.ip_id != 0)
        return m.ip_id == r.ip_id && same_direction(r, m);
    return m.seq_raw == r.seq_raw && m.ack_raw == r.ack_raw && m.win == r.win &&
           m.paylen == r.paylen;
}

float distance(const seg_record &r, const seg_record &m, float offset, float expect)
{
    return std::fabs(m.time + offset - (r.time + expect));
}

/*
 * Picks among candidates offered in ascending peer order: the first, or
 * the nearest in corrected time with ties to the earliest.
 */
struct picker {
    const seg_record *r;
    match_mode mode;
    float offset;
    float expect;
    int32_t best = -1;
    float best_dist = 0.0f;

    /* Offers peer record m; returns true when the search may stop. */
    bool offer(int32_t m)
    {
        if (mode == MATCH_FIRST) {
            best = m;
            return true;
        }
        float d = distance(*r, g_trace.peer.rec[m], offset, expect);
        if (best < 0 || d < best_dist) {
            best = m;
            best_dist = d;
        }
        return false;
    }
};

}  // namespace

void matcher_reset()
{
    g_match.built = false;
    g_match.peer_rec = nullptr;
    g_match.peer_count = 0;
    g_match.by_ident = chain_index();
    g_match.by_numbers = chain_index();
}

int32_t match_segment_literal(int32_t i, match_mode mode, float offset, float expect)
{
    const seg_record &r = g_trace.main.rec[i];
    picker pick{&r, mode, offset, expect};
    for (int32_t m = 0; m < g_trace.peer.count; m++) {
        if (qualifies(r, g_trace.peer.rec[m]) && pick.offer(m))
            break;
    }
    return pick.best;
}

int32_t match_segment(int32_t i, match_mode mode, float offset, float expect)
{
    if (!g_match.built || g_match.peer_rec != g_trace.peer.rec ||
        g_match.peer_count != g_trace.peer.count)
        build_index();
    const seg_record &r = g_trace.main.rec[i];
    const chain_index &c = r.ip_id != 0 ? g_match.by_ident : g_match.by_numbers;
    uint64_t h = r.ip_id != 0 ? ident_hash(r) : number_hash(r);
    picker pick{&r, mode, offset, expect};
    for (int32_t m = c.head[h & c.mask]; m != NO_PEER; m = c.next[(size_t)m]) {
        if (qualifies(r, g_trace.peer.rec[m]) && pick.offer(m))
            break;
    }
    return pick.best;
}
