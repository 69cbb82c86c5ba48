/*
 * pair_scan_fast.cpp --
 *
 *	The pair scan without visiting every pair. The plain scan (marking.cpp)
 *	runs outer index i = 0 .. n-2 and, for each, inner index j = i+1 ..
 *	n-1, taking per pair: (1) a retransmission test that stores 4 on i,
 *	3 on j and sets the skip flag on i..j; (3) a follow-up step that sets
 *	j's skip flag and may clear j; (4) a duplicate-acknowledgement test
 *	that ORs 2 into i and j and sets the skip flag on i..j. What it leaves
 *	on a record x follows from the order in which writes reach x:
 *
 *	  - Outer indexes i > x never touch x. Outer index i = x comes after
 *	    every i < x. Within an outer index i < x, the writes on x at
 *	    j = x (steps 1, 3, 4 in that order) come before those at j > x,
 *	    which are only skip ranges i..j.
 *	  - A "reset" is a store (3 or 4) or a clear. The final bytes of x are
 *	    those of its last reset (or its starting bytes when none), with 2
 *	    ORed in when a duplicate-acknowledgement write on x comes after
 *	    it, and the skip flag when any skip write does.
 *
 *	The resets of x:
 *	  - 4 at outer index x, once for each later record of x's direction
 *	    with x's seq when x carries data or a SYN (its "copies"); the last
 *	    copy's store is the last reset of all, and only a duplicate
 *	    acknowledgement at or after that copy can OR 2 in afterwards.
 *	  - 3 at (i, x) for every earlier record i of x's direction with x's
 *	    seq that carries data or a SYN.
 *	  - A clear at (i, x) by the follow-up of outer index i.
 *
 *	The follow-up of outer index i. Its threshold is fixed by i (a copy
 *	carries i's seq), and so is its clearing test: "addressed to i's
 *	source with ack above the threshold". It starts at a copy, runs over
 *	every later record up to the first one that passes the clearing test
 *	(which is cleared), and starts again at the next copy after that. So
 *	all the records of one (direction, seq) group share one follow-up
 *	structure, walked once from the copy after the group's first member
 *	that carries data or a SYN; outer index i of the group sees its part
 *	from i's first copy on. A record x inside that structure, after
 *	member g of the group and before the next, receives the follow-up of
 *	every outer index of the group before g that carries data or a SYN;
 *	the latest of them is what decides. The end of each run is found with
 *	a max-ack tree over the records grouped by destination.
 *
 *	The duplicate-acknowledgement test needs nothing of i: a payload-free
 *	ACK x pairs with every earlier record of its direction with its ack,
 *	so only the latest such record matters, and x's own outer index pairs
 *	it with every later payload-free ACK of its (direction, ack) group.
 *	The farthest partner of each outer index gives its skip range.
 *
 *	"Latest outer index whose skip range or follow-up covers x" is an
 *	interval-maximum question, answered by painting intervals from the
 *	highest value down over a next-unpainted chain. Everything is sorting
 *	and linear passes: O(n log n) time, O(n) scratch.
 *
 *	Directions: when every record agrees on whether its two ends share
 *	one address, the direction test of trace/direction.h is equality of
 *	source endpoints (addresses, plus ports for a shared address), and
 *	"addressed to i's source" is equality of x's destination endpoint with
 *	i's source endpoint. Each distinct endpoint gets a small number and the
 *	tests compare numbers. Other arrays go to the plain scan.
 */

#include "analysis/pair_scan_fast.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "analysis/dest_index.h"
#include "analysis/marking.h"
#include "trace/direction.h"

namespace {

/* No record, no outer index. Below every record index. */
constexpr int32_t NONE = DEST_NONE;

/* r carries data or a SYN: what a retransmission can repeat. */
bool has_payload_or_syn(const seg_record &r)
{
    return r.paylen != 0 || (r.tcp_flags & TH_SYN) != 0;
}

/* r can be the later record of a duplicate-acknowledgement pair. */
bool is_payload_free_ack(const seg_record &r)
{
    return r.paylen == 0 && (r.tcp_flags & TH_ACK) != 0;
}

/* The follow-up threshold: the low 32 bits of seq plus one, wrapping. */
int32_t follow_up_threshold(const seg_record &r)
{
    uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(r.seq));
    return static_cast<int32_t>(low + 1u);
}

/* ---- Groups of equal (source, number) ------------------------------ */

/* One record under a grouping key: its source endpoint and seq or ack. */
struct keyed_record {
    int64_t value;
    int32_t src;
    int32_t index;
};

/* Records ordered by (source, value, index): each group is one run. */
std::vector<keyed_record> group_records(const seg_record *rec, int32_t count,
                                        const std::vector<int32_t> &src,
                                        int64_t seg_record::*field)
{
    std::vector<keyed_record> keyed(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; k++)
        keyed[static_cast<size_t>(k)] = {rec[k].*field, src[static_cast<size_t>(k)], k};
    std::sort(keyed.begin(), keyed.end(),
              [](const keyed_record &a, const keyed_record &b) {
                  if (a.src != b.src)
                      return a.src < b.src;
                  if (a.value != b.value)
                      return a.value < b.value;
                  return a.index < b.index;
              });
    return keyed;
}

/* End of the group that starts at keyed[b]. */
size_t group_end(const std::vector<keyed_record> &keyed, size_t b)
{
    size_t e = b + 1;
    while (e < keyed.size() && keyed[e].src == keyed[b].src &&
           keyed[e].value == keyed[b].value)
        e++;
    return e;
}

/* ---- Per-record summaries ------------------------------------------ */

/* Records rec[lo .. hi] are covered by a write of outer index `phase`. */
struct span {
    int32_t lo;
    int32_t hi;
    int32_t phase;
};

/* Everything the final pass reads, one entry per record unless noted. */
struct scan_tables {
    std::vector<int32_t> last_copy;      /* last record of x's (src, seq) group */
    std::vector<int32_t> prev_resendable; /* latest earlier record of that
                                          * group with data or SYN; NONE */
    std::vector<int32_t> prev_same_ack;  /* latest earlier record of x's
                                          * (src, ack) group; NONE */
    std::vector<int32_t> last_dup_ack;   /* last payload-free ACK of x's
                                          * (src, ack) group; NONE */
    std::vector<int32_t> reach;          /* farthest pair partner of outer
                                          * index x; NONE without partner */
    std::vector<int32_t> last_clear;     /* latest outer index whose
                                          * follow-up clears x; NONE */
    std::vector<int32_t> last_skip;      /* latest outer index < x with a skip
                                          * range or follow-up over x; NONE */
    std::vector<span> spans;             /* coverings that make last_skip */
};

/*
 * Walks the follow-up structure of one (source, seq) group, members
 * g[0 .. m-1] in index order, from the copy after its first member that
 * carries data or a SYN. Adds one span per member inside a run (up to the
 * next member or the run's end) valued with the latest outer index of the
 * group that reaches it, and records the clear at each run's end.
 */
void walk_follow_ups(const seg_record *rec, int32_t count, const keyed_record *g,
                     int32_t m, const dest_index &ix, scan_tables &t)
{
    int32_t first = NONE;
    for (int32_t u = 0; u < m && first == NONE; u++)
        if (has_payload_or_syn(rec[g[u].index]))
            first = u;
    if (first == NONE)
        return;

    int32_t h = follow_up_threshold(rec[g[0].index]);
    int32_t source = g[0].src;
    int32_t u = first + 1;
    while (u < m) {
        int32_t end = dest_first_addressed_above(ix, source, g[u].index, static_cast<int64_t>(h));
        int32_t run_end = end == NONE ? count - 1 : end;
        int32_t phase = NONE;
        for (; u < m && g[u].index <= run_end; u++) {
            bool next_inside = u + 1 < m && g[u + 1].index <= run_end;
            int32_t piece_end = next_inside ? g[u + 1].index - 1 : run_end;
            phase = t.prev_resendable[static_cast<size_t>(g[u].index)];
            t.spans.push_back({g[u].index, piece_end, phase});
        }
        if (end == NONE)
            return;
        int32_t &cleared = t.last_clear[static_cast<size_t>(end)];
        cleared = std::max(cleared, phase);
    }
}

/* last_copy, prev_resendable, and the follow-ups, from the seq groups. */
void scan_seq_groups(const seg_record *rec, int32_t count, const dest_index &ix,
                     scan_tables &t)
{
    std::vector<keyed_record> keyed = group_records(rec, count, ix.src, &seg_record::seq);
    for (size_t b = 0; b < keyed.size();) {
        size_t e = group_end(keyed, b);
        int32_t last = keyed[e - 1].index;
        int32_t resendable = NONE;
        for (size_t p = b; p < e; p++) {
            size_t x = static_cast<size_t>(keyed[p].index);
            t.last_copy[x] = last;
            t.prev_resendable[x] = resendable;
            if (has_payload_or_syn(rec[x]))
                resendable = keyed[p].index;
        }
        walk_follow_ups(rec, count, &keyed[b], static_cast<int32_t>(e - b), ix, t);
        b = e;
    }
}

/* prev_same_ack and last_dup_ack, from the ack groups. */
void scan_ack_groups(const seg_record *rec, int32_t count, const dest_index &ix,
                     scan_tables &t)
{
    std::vector<keyed_record> keyed = group_records(rec, count, ix.src, &seg_record::ack);
    for (size_t b = 0; b < keyed.size();) {
        size_t e = group_end(keyed, b);
        int32_t last_dup = NONE;
        for (size_t p = b; p < e; p++)
            if (is_payload_free_ack(rec[keyed[p].index]))
                last_dup = keyed[p].index;
        for (size_t p = b; p < e; p++) {
            size_t x = static_cast<size_t>(keyed[p].index);
            t.prev_same_ack[x] = p == b ? NONE : keyed[p - 1].index;
            t.last_dup_ack[x] = last_dup;
        }
        b = e;
    }
}

/* reach of every outer index, and its skip range as a span. */
void scan_reach(const seg_record *rec, int32_t count, scan_tables &t)
{
    for (int32_t i = 0; i < count; i++) {
        size_t x = static_cast<size_t>(i);
        int32_t far = NONE;
        if (has_payload_or_syn(rec[i]) && t.last_copy[x] > i)
            far = t.last_copy[x];
        if (t.last_dup_ack[x] > i)
            far = std::max(far, t.last_dup_ack[x]);
        t.reach[x] = far;
        if (far != NONE)
            t.spans.push_back({i + 1, far, i});
    }
}

/* Smallest unpainted index >= k, with path halving. */
int32_t next_unpainted(std::vector<int32_t> &next, int32_t k)
{
    while (next[static_cast<size_t>(k)] != k) {
        next[static_cast<size_t>(k)] = next[static_cast<size_t>(next[static_cast<size_t>(k)])];
        k = next[static_cast<size_t>(k)];
    }
    return k;
}

/* last_skip[x] := the highest phase among the spans covering x. */
void paint_last_skip(int32_t count, scan_tables &t)
{
    std::sort(t.spans.begin(), t.spans.end(),
              [](const span &a, const span &b) { return a.phase > b.phase; });
    std::vector<int32_t> next(static_cast<size_t>(count) + 1);
    for (size_t k = 0; k < next.size(); k++)
        next[k] = static_cast<int32_t>(k);
    for (const span &s : t.spans) {
        for (int32_t k = next_unpainted(next, s.lo); k <= s.hi;
             k = next_unpainted(next, k + 1)) {
            t.last_skip[static_cast<size_t>(k)] = s.phase;
            next[static_cast<size_t>(k)] = k + 1;
        }
    }
}

/* The final bytes of record x from the summaries. */
void settle_record(seg_record &r, int32_t x, const scan_tables &t)
{
    size_t k = static_cast<size_t>(x);
    int32_t last_copy = t.last_copy[k];
    int32_t last_dup = t.last_dup_ack[k];

    /* Stored 4 at its own last copy: only later duplicate pairs remain. */
    if (has_payload_or_syn(r) && last_copy > x) {
        bool dup = last_dup >= last_copy;
        r.mark = static_cast<uint8_t>(dup ? MARK_LOST_SEGMENT | MARK_DUP_ACK
                                          : MARK_LOST_SEGMENT);
        r.mark_flags = MARK_SKIP;
        return;
    }

    /* Stored 3 after the last clear (a clear at the same outer index
     * comes after the store). 2 ORed into 3 leaves 3. */
    int32_t stored = t.prev_resendable[k];
    int32_t cleared = t.last_clear[k];
    if (stored != NONE && stored > cleared) {
        r.mark = MARK_RETRANSMISSION;
        r.mark_flags = MARK_SKIP;
        return;
    }

    /* Cleared, or never reset: what comes after the clear, or everything. */
    int32_t prev_dup = is_payload_free_ack(r) ? t.prev_same_ack[k] : NONE;
    bool dup = last_dup > x || (prev_dup != NONE && prev_dup >= cleared);
    bool skip = dup || t.last_skip[k] > cleared ||
                (cleared != NONE && t.reach[static_cast<size_t>(cleared)] > x);
    uint8_t dup_bit = dup ? MARK_DUP_ACK : 0;
    uint8_t skip_bit = skip ? MARK_SKIP : 0;
    if (cleared == NONE) {
        r.mark = static_cast<uint8_t>(r.mark | dup_bit);
        r.mark_flags = static_cast<uint8_t>(r.mark_flags | skip_bit);
    } else {
        r.mark = dup_bit;
        r.mark_flags = skip_bit;
    }
}

/* The whole fast scan. Allocates every table before the first write. */
void fast_scan(seg_record *rec, int32_t count, const dest_index &ix)
{
    size_t n = static_cast<size_t>(count);
    scan_tables t;
    t.last_copy.assign(n, NONE);
    t.prev_resendable.assign(n, NONE);
    t.prev_same_ack.assign(n, NONE);
    t.last_dup_ack.assign(n, NONE);
    t.reach.assign(n, NONE);
    t.last_clear.assign(n, NONE);
    t.last_skip.assign(n, NONE);
    t.spans.reserve(2 * n);

    scan_seq_groups(rec, count, ix, t);
    scan_ack_groups(rec, count, ix, t);
    scan_reach(rec, count, t);
    paint_last_skip(count, t);

    for (int32_t x = 0; x < count; x++)
        settle_record(rec[x], x, t);
}

} // namespace

bool pair_scan_uniform_ends(const seg_record *rec, int32_t count)
{
    return dest_uniform_ends(rec, count);
}

void mark_pair_scan_indexed(seg_record *rec, int32_t count, const dest_index *ix)
{
    if (count < 2)
        return;
    if (ix == nullptr) {
        mark_pair_scan_literal(rec, count);
        return;
    }
    try {
        fast_scan(rec, count, *ix);
    } catch (const std::bad_alloc &) {
        /* No record was written yet: the plain scan needs no memory. */
        mark_pair_scan_literal(rec, count);
    }
}

void mark_pair_scan_fast(seg_record *rec, int32_t count)
{
    if (count < 2)
        return;
    dest_index ix;
    bool indexed = false;
    try {
        indexed = dest_index_build(rec, count, ix);
    } catch (const std::bad_alloc &) {
        indexed = false;
    }
    mark_pair_scan_indexed(rec, count, indexed ? &ix : nullptr);
}
