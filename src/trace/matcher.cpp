/*
 * matcher.cpp --
 *
 *	Cross-trace matching (see matcher.h). The fast form keeps two sorted
 *	tables of the peer trace, one by identification and source address and
 *	one by carried sequence number, acknowledgement number and window, so
 *	that the candidates for a record are one binary search away and come
 *	out in ascending peer order, exactly as a scan from index 0 finds
 *	them. Candidates are all considered: a run of identical duplicate
 *	acknowledgements longer than any fixed list still finds, for each of
 *	its members, the copy nearest in time.
 */

#include "trace/matcher.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "trace/direction.h"
#include "trace/trace.h"

namespace {

struct match_entry {
    uint64_t k1;   /* ident table: ip_id << 32 | src4; number table: seq << 32 | ack */
    uint32_t k2;   /* ident table: 0; number table: window */
    int32_t idx;   /* peer index */
};

bool entry_less(const match_entry &a, const match_entry &b)
{
    if (a.k1 != b.k1)
        return a.k1 < b.k1;
    if (a.k2 != b.k2)
        return a.k2 < b.k2;
    return a.idx < b.idx;
}

/*
 * The matcher's index of the peer trace, one instance. Built by
 * match_segment when the peer trace it was made for (array and count) is
 * not the current one; dropped by matcher_reset.
 */
struct match_state {
    const seg_record *peer_rec;        /* peer array the tables describe */
    int32_t peer_count;                /* and its count */
    std::vector<match_entry> by_ident; /* peer records with nonzero ip_id */
    std::vector<match_entry> by_numbers;
};

match_state g_match;

uint64_t ident_key(const seg_record &r)
{
    return (uint64_t)r.ip_id << 32 | (src4_of(r) & 0xffffffffu);
}

uint64_t number_key(const seg_record &r)
{
    return (uint64_t)r.seq_raw << 32 | r.ack_raw;
}

void build_index()
{
    const trace_array &p = g_trace.peer;
    g_match.by_ident.clear();
    g_match.by_numbers.clear();
    g_match.by_numbers.reserve((size_t)p.count);
    for (int32_t m = 0; m < p.count; m++) {
        const seg_record &r = p.rec[m];
        if (r.ip_id != 0)
            g_match.by_ident.push_back({ident_key(r), 0, m});
        g_match.by_numbers.push_back({number_key(r), r.win, m});
    }
    std::sort(g_match.by_ident.begin(), g_match.by_ident.end(), entry_less);
    std::sort(g_match.by_numbers.begin(), g_match.by_numbers.end(), entry_less);
    g_match.peer_rec = p.rec;
    g_match.peer_count = p.count;
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
    g_match.peer_rec = nullptr;
    g_match.peer_count = 0;
    g_match.by_ident = std::vector<match_entry>();
    g_match.by_numbers = std::vector<match_entry>();
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
    if (g_match.peer_rec != g_trace.peer.rec || g_match.peer_count != g_trace.peer.count)
        build_index();
    const seg_record &r = g_trace.main.rec[i];
    const std::vector<match_entry> &table = r.ip_id != 0 ? g_match.by_ident : g_match.by_numbers;
    match_entry lo = r.ip_id != 0 ? match_entry{ident_key(r), 0, INT32_MIN}
                                  : match_entry{number_key(r), r.win, INT32_MIN};
    picker pick{&r, mode, offset, expect};
    for (auto it = std::lower_bound(table.begin(), table.end(), lo, entry_less);
         it != table.end() && it->k1 == lo.k1 && it->k2 == lo.k2; ++it) {
        if (qualifies(r, g_trace.peer.rec[it->idx]) && pick.offer(it->idx))
            break;
    }
    return pick.best;
}
