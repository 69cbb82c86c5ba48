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
 *	The duplicate-acknowledgement test pairs records with neither data,
 *	SYN nor FIN (the "quiet" ones), the later of the two with the ACK
 *	flag too (a "bare ACK"). A bare ACK x pairs with every earlier quiet
 *	record of its (direction, ack) group, so only the latest such record
 *	matters, and the outer index of a quiet x pairs it with every later
 *	bare ACK of its group. The farthest partner of each outer index gives
 *	its skip range. A record that carries data or a SYN is never quiet,
 *	so a stored 4 never has 2 ORed into it.
 *
 *	"Latest outer index whose skip range or follow-up covers x" is an
 *	interval-maximum question, answered by painting intervals from the
 *	highest value down over a next-unpainted chain. Everything is sorting
 *	and linear passes: O(n log n) time, O(n) scratch.
 *
 *	Memory. What a record's final bytes depend on is a few comparisons
 *	(is its last copy later than itself, is the latest store later than
 *	its last clear, ...); each is kept as a bit of one byte as soon as
 *	both of its values are known, so that no table of those values
 *	outlives the pass that makes it. The scratch is then 9 bytes a record
 *	(those bits, the last clear, the reach), and the grouping's 10 while a
 *	grouping runs, whose pages the painting chain takes over after it.
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
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/dest_index.h"
#include "analysis/give_way.h"
#include "analysis/rising_sort.h"
#include "trace/scratch.h"
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

/* r can be the earlier record of a duplicate-acknowledgement pair: no
 * data, no SYN, no FIN. */
bool is_quiet(const seg_record &r)
{
    return r.paylen == 0 && (r.tcp_flags & (TH_SYN | TH_FIN)) == 0;
}

/* r can be the later record of a duplicate-acknowledgement pair. */
bool is_payload_free_ack(const seg_record &r)
{
    return is_quiet(r) && (r.tcp_flags & TH_ACK) != 0;
}

/* The follow-up threshold of a seq: its low 32 bits plus one, wrapping. */
int32_t follow_up_threshold(int64_t seq)
{
    uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(seq));
    return static_cast<int32_t>(low + 1u);
}

/* The predicates of a record, and what the passes find out about it, as
 * bits of one byte: the groupings visit records out of index order, and a
 * byte per record stays in the cache where the records themselves do not.
 * A finding is kept as a bit as soon as the values it compares are known,
 * so that no table of those values outlives the pass that makes it. */
enum : uint8_t {
    KIND_RESENDABLE = 0x01,    /* data or SYN */
    KIND_BARE_ACK = 0x02,      /* is_payload_free_ack */
    KIND_QUIET = 0x04,         /* is_quiet */
    LATER_COPY = 0x08,         /* resendable, and a later record of its
                                * (src, seq) group: stored 4 at the last */
    STORED_AFTER_CLEAR = 0x10, /* an earlier resendable record of its
                                * (src, seq) group, later than its last
                                * clear: stored 3 */
    DUP_OF_LATER = 0x20,       /* quiet, with a later bare ACK of its
                                * (src, ack) group */
    DUP_OF_EARLIER = 0x40,     /* a bare ACK whose latest earlier quiet record
                                * of its (src, ack) group is at or after its
                                * last clear */
    SKIP_AFTER_CLEAR = 0x80    /* covered by a skip range or follow-up of an
                                * outer index later than its last clear */
};

uint8_t kind_of(const seg_record &r)
{
    return static_cast<uint8_t>((has_payload_or_syn(r) ? KIND_RESENDABLE : 0) |
                                (is_payload_free_ack(r) ? KIND_BARE_ACK : 0) |
                                (is_quiet(r) ? KIND_QUIET : 0));
}

/* ---- Groups of equal (source, number) ------------------------------ */

/*
 * One record under a grouping key, its seq or ack and its index in one
 * 64-bit number, so that a table of them is half the size and the order
 * by (value, index) is the order of the numbers: the value, made
 * non-negative by VALUE_BIAS, in the high 33 bits, the index in the low
 * 31. A decoded trace's numbers lie within 2^32 - 1 of 0; a value outside
 * that (only a made-up array has one) throws number_out_of_range, and
 * the scan then runs its plain form. The source endpoint of a record is
 * that of the run of the grouping it lies in.
 */
const int64_t VALUE_BIAS = (int64_t{1} << 32) - 1;
const uint64_t INDEX_MASK = (uint64_t{1} << 31) - 1;

struct number_out_of_range {};

struct keyed_record {
    uint64_t key;
    int64_t value() const { return static_cast<int64_t>(key >> 31) - VALUE_BIAS; }
    int32_t index() const { return static_cast<int32_t>(key & INDEX_MASK); }
};

keyed_record make_keyed(int64_t value, int32_t index)
{
    if (value < -VALUE_BIAS || value > VALUE_BIAS)
        throw number_out_of_range();
    return {static_cast<uint64_t>(value + VALUE_BIAS) << 31 | static_cast<uint64_t>(index)};
}

/* The order of a group's members: by value, then index. */
bool value_then_index(const keyed_record &a, const keyed_record &b)
{
    return a.key < b.key;
}

/*
 * Sorts seg[0 .. n-1], which holds one source's records in index order,
 * by (value, index). A trace's numbers mostly rise in index order, so the
 * records that keep the values rising stay where they are and only the
 * others (retransmissions, reordered segments) are sorted apart and
 * merged back in. When too many fall out of order (a transfer whose
 * sequence numbers wrap rises once per wrap), the rising sequences are
 * merged (rising_sort.h) through `room` grown to n records; otherwise
 * `room` needs n / 4.
 */
void sort_mostly_rising(keyed_record *seg, size_t n, scratch_table<keyed_record> &room)
{
    keyed_record *spare = room.data();
    size_t kept = 0, out = 0;
    for (size_t p = 0; p < n; p++) {
        if (kept == 0 || seg[p].value() >= seg[kept - 1].value()) {
            seg[kept++] = seg[p];
            continue;
        }
        if (out >= n / 4) {
            /* Too many: put the rest back behind the kept ones and sort. */
            std::copy(seg + p, seg + n, seg + kept + out);
            std::copy(spare, spare + out, seg + kept);
            if (room.size() < n)
                room.reset(n);
            rising_sort::sort_rising(seg, n, room.data(), value_then_index);
            return;
        }
        spare[out++] = seg[p];
    }
    if (out == 0)
        return;
    std::sort(spare, spare + out, value_then_index);
    /* Merge from the back: the kept records sit in seg[0 .. kept). */
    size_t to = n, a = kept, b = out;
    while (b > 0) {
        if (a > 0 && value_then_index(spare[b - 1], seg[a - 1]))
            seg[--to] = seg[--a];
        else
            seg[--to] = spare[--b];
    }
}

/*
 * Records ordered by (source, value, index): each group is one run. The
 * sources are few, so the records are first spread by source (keeping
 * index order), then each source's run is sorted by value. Only the
 * records keep(rec[k]) admits are grouped. The result goes into `keyed`,
 * source e's run from begin[e] to begin[e + 1]; `spare` is room for the
 * sort. Both are kept by the caller from one grouping to the next, so
 * their memory is fresh once. visit(k, rec[k]) is called for every
 * record on the way, in index order, for a per-record table that needs
 * the same pass over the records.
 */
template <typename Keep, typename Visit>
void group_records(const seg_record *rec, int32_t count, const dest_index &ix,
                   int64_t (*field)(const seg_record &), scratch_table<keyed_record> &keyed,
                   scratch_table<keyed_record> &spare, scratch_vec<size_t> &begin, Keep keep,
                   Visit visit)
{
    size_t sources = ix.known.size();
    begin.assign(sources + 1, 0);
    for (int32_t k = 0; k < count; k++)
        if (keep(rec[k]))
            begin[static_cast<size_t>(ix.src[static_cast<size_t>(k)]) + 1]++;
    for (size_t e = 0; e < sources; e++)
        begin[e + 1] += begin[e];
    size_t n = begin[sources];
    scratch_vec<size_t> fill(begin.begin(), begin.end() - 1);
    /* Every entry is written below before any is read. */
    if (keyed.size() != n)
        keyed.reset(n);
    if (spare.size() < n / 4 + 1)
        spare.reset(n / 4 + 1);
    for (int32_t k = 0; k < count; k++) {
        if (keep(rec[k])) {
            int32_t e = ix.src[static_cast<size_t>(k)];
            keyed[fill[static_cast<size_t>(e)]++] = make_keyed(field(rec[k]), k);
        }
        visit(k, rec[k]);
    }
    for (size_t e = 0; e < sources; e++)
        sort_mostly_rising(keyed.data() + begin[e], begin[e + 1] - begin[e], spare);
}

/* End of the group that starts at keyed[b], within its source's run,
 * which ends at `limit`. */
size_t group_end(const scratch_table<keyed_record> &keyed, size_t b, size_t limit)
{
    size_t e = b + 1;
    while (e < limit && keyed[e].value() == keyed[b].value())
        e++;
    return e;
}

/* The source whose run holds position b, from `e` (the source of an
 * earlier position) on. */
size_t source_at(const scratch_vec<size_t> &begin, size_t e, size_t b)
{
    while (begin[e + 1] <= b)
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

/*
 * Everything the passes keep per record: 9 bytes a record, and the
 * grouping's 10 while a grouping runs. Every record is in exactly one
 * seq group, so reach is written in full by the seq grouping; last_clear
 * starts at NONE. The grouping's storage is given back before the
 * painting chain is taken, which then reuses its pages.
 */
struct scan_tables {
    explicit scan_tables(size_t n) : kind(n), reach(n) {}
    scratch_table<uint8_t> kind;           /* kind_of each record, and the
                                            * findings (LATER_COPY ...) */
    scratch_table<int32_t> reach;          /* farthest pair partner of outer
                                            * index x; NONE without partner */
    scratch_vec<int32_t> last_clear;       /* latest outer index whose
                                            * follow-up clears x; NONE */
    scratch_vec<span> follow_spans;        /* follow-up coverings, any order */
    scratch_table<keyed_record> keyed;     /* the records of one grouping */
    scratch_table<keyed_record> spare;     /* room for sorting a grouping */

    bool has(int32_t x, uint8_t bit) const
    {
        return (kind[static_cast<size_t>(x)] & bit) != 0;
    }
    void set(int32_t x, uint8_t bit)
    {
        kind[static_cast<size_t>(x)] = static_cast<uint8_t>(kind[static_cast<size_t>(x)] | bit);
    }
};

/*
 * A member of a seq group once its values are read: its grouping entry
 * keeps its index in the low 31 bits (index() reads it as before), and
 * takes, in place of the value every member shares, the latest earlier
 * member that carries data or a SYN (NONE without one).
 */
keyed_record make_member(int32_t index, int32_t prev_resendable)
{
    return {static_cast<uint64_t>(static_cast<int64_t>(prev_resendable) + 1) << 31 |
            static_cast<uint64_t>(index)};
}

int32_t prev_resendable_of(const keyed_record &member)
{
    return static_cast<int32_t>(member.key >> 31) - 1;
}

/*
 * Walks the follow-up structure of one (source, seq) group, members
 * g[0 .. m-1] in index order, threshold h, from the copy after its first
 * member that carries data or a SYN. Adds one span per member inside a
 * run (up to the next member or the run's end) valued with the latest
 * outer index of the group that reaches it, and records the clear at
 * each run's end.
 */
void walk_follow_ups(int32_t count, const keyed_record *g, int32_t m, int32_t h, int32_t source,
                     const dest_index &ix, scan_tables &t)
{
    int32_t first = NONE;
    for (int32_t u = 0; u < m && first == NONE; u++)
        if (t.has(g[u].index(), KIND_RESENDABLE))
            first = u;
    if (first == NONE)
        return;

    int32_t u = first + 1;
    while (u < m) {
        int32_t end = dest_first_addressed_above(ix, source, g[u].index(), static_cast<int64_t>(h));
        int32_t run_end = end == NONE ? count - 1 : end;
        int32_t phase = NONE;
        for (; u < m && g[u].index() <= run_end; u++) {
            bool next_inside = u + 1 < m && g[u + 1].index() <= run_end;
            int32_t piece_end = next_inside ? g[u + 1].index() - 1 : run_end;
            phase = prev_resendable_of(g[u]);
            t.follow_spans.push_back({g[u].index(), piece_end, phase});
        }
        if (end == NONE)
            return;
        int32_t &cleared = t.last_clear[static_cast<size_t>(end)];
        cleared = std::max(cleared, phase);
    }
}

/*
 * From the seq groups: LATER_COPY, the reach of every copy, the
 * follow-ups (last_clear and their spans), and, once every clear is
 * known, STORED_AFTER_CLEAR.
 */
void scan_seq_groups(const seg_record *rec, int32_t count, const dest_index &ix,
                     scan_tables &t)
{
    scratch_table<keyed_record> &keyed = t.keyed;
    scratch_vec<size_t> begin;
    group_records(rec, count, ix, &seq_of, keyed, t.spare, begin,
                  [](const seg_record &) { return true; }, [&t](int32_t k, const seg_record &r) {
                      t.kind[static_cast<size_t>(k)] = kind_of(r);
                  });
    /* The entries of a group become its members as it is read. */
    size_t source = 0;
    for (size_t b = 0; b < keyed.size();) {
        source = source_at(begin, source, b);
        size_t e = group_end(keyed, b, begin[source + 1]);
        int32_t h = follow_up_threshold(keyed[b].value());
        int32_t last = keyed[e - 1].index();
        int32_t resendable = NONE;
        for (size_t p = b; p < e; p++) {
            int32_t x = keyed[p].index();
            bool copied = t.has(x, KIND_RESENDABLE) && last > x;
            t.reach[static_cast<size_t>(x)] = copied ? last : NONE;
            if (copied)
                t.set(x, LATER_COPY);
            keyed[p] = make_member(x, resendable);
            if (t.has(x, KIND_RESENDABLE))
                resendable = x;
        }
        walk_follow_ups(count, &keyed[b], static_cast<int32_t>(e - b), h,
                        static_cast<int32_t>(source), ix, t);
        b = e;
    }
    for (size_t p = 0; p < keyed.size(); p++) {
        int32_t x = keyed[p].index();
        int32_t stored = prev_resendable_of(keyed[p]);
        if (stored != NONE && stored > t.last_clear[static_cast<size_t>(x)])
            t.set(x, STORED_AFTER_CLEAR);
    }
}

/* The quiet records grouped by (source, ack), made apart from the seq
 * groups: on a second thread while the seq groups are walked, when one
 * can be had. The other records set nothing in an ack group (a bare ACK
 * is quiet too), so they are left out. */
struct ack_grouping {
    scratch_table<keyed_record> keyed;
    scratch_table<keyed_record> spare;
    scratch_vec<size_t> begin;
    std::exception_ptr error;   /* what the grouping ended with, if not done */

    void make(const seg_record *rec, int32_t count, const dest_index &ix)
    {
        try {
            group_records(rec, count, ix, &ack_of, keyed, spare, begin, is_quiet,
                          [](int32_t, const seg_record &) {});
            spare.release();
        } catch (...) {
            error = std::current_exception();
        }
    }
};

/* From the ack groups: DUP_OF_LATER, DUP_OF_EARLIER, and the reach of
 * every duplicate pair, which the seq groups' reach is widened by. */
void scan_ack_groups(const ack_grouping &g, scan_tables &t)
{
    const scratch_table<keyed_record> &keyed = g.keyed;
    const scratch_vec<size_t> &begin = g.begin;
    size_t source = 0;
    for (size_t b = 0; b < keyed.size();) {
        source = source_at(begin, source, b);
        size_t e = group_end(keyed, b, begin[source + 1]);
        int32_t last_dup = NONE;
        for (size_t p = b; p < e; p++)
            if (t.has(keyed[p].index(), KIND_BARE_ACK))
                last_dup = keyed[p].index();
        int32_t prev_quiet = NONE;
        for (size_t p = b; p < e; p++) {
            int32_t x = keyed[p].index();
            size_t k = static_cast<size_t>(x);
            if (t.has(x, KIND_QUIET) && last_dup > x) {
                t.set(x, DUP_OF_LATER);
                t.reach[k] = std::max(t.reach[k], last_dup);
            }
            if (t.has(x, KIND_BARE_ACK) && prev_quiet != NONE && prev_quiet >= t.last_clear[k])
                t.set(x, DUP_OF_EARLIER);
            if (t.has(x, KIND_QUIET))
                prev_quiet = x;
        }
        b = e;
    }
}

/* Smallest unpainted index >= k, with path halving. */
int32_t next_unpainted(scratch_table<int32_t> &next, int32_t k)
{
    while (next[static_cast<size_t>(k)] != k) {
        next[static_cast<size_t>(k)] = next[static_cast<size_t>(next[static_cast<size_t>(k)])];
        k = next[static_cast<size_t>(k)];
    }
    return k;
}

/* Paints phase s.phase on every unpainted record of s: the highest phase
 * over each, which is compared with its last clear at once. */
void paint_span(const span &s, scratch_table<int32_t> &next, scan_tables &t)
{
    for (int32_t k = next_unpainted(next, s.lo); k <= s.hi; k = next_unpainted(next, k + 1)) {
        if (s.phase > t.last_clear[static_cast<size_t>(k)])
            t.set(k, SKIP_AFTER_CLEAR);
        next[static_cast<size_t>(k)] = k + 1;
    }
}

/*
 * SKIP_AFTER_CLEAR of every record: whether the highest phase among the
 * spans covering it is later than its last clear, painting from the
 * highest phase down. The skip ranges (i + 1 .. reach[i], phase i) come
 * in descending phase by walking reach from the end; only the follow-up
 * spans, few outside a lossy stretch, are sorted, and the two are merged.
 */
void paint_skips(int32_t count, scan_tables &t)
{
    std::sort(t.follow_spans.begin(), t.follow_spans.end(),
              [](const span &a, const span &b) { return a.phase > b.phase; });
    scratch_table<int32_t> next(static_cast<size_t>(count) + 1);
    for (size_t k = 0; k < next.size(); k++)
        next[k] = static_cast<int32_t>(k);
    size_t f = 0;
    int32_t i = count - 1;
    for (;;) {
        while (i >= 0 && t.reach[static_cast<size_t>(i)] == NONE)
            i--;
        bool reach_next = i >= 0 && (f == t.follow_spans.size() ||
                                     i >= t.follow_spans[f].phase);
        if (reach_next) {
            paint_span(span{i + 1, t.reach[static_cast<size_t>(i)], i}, next, t);
            i--;
        } else if (f < t.follow_spans.size()) {
            paint_span(t.follow_spans[f++], next, t);
        } else {
            return;
        }
    }
}

/* The final bytes of record x from the findings. */
void settle_record(seg_record &r, int32_t x, const scan_tables &t)
{
    /* Stored 4 at its own last copy, the last write of all: a record
     * with data or a SYN is in no duplicate pair. */
    if (t.has(x, LATER_COPY)) {
        r.mark = MARK_LOST_SEGMENT;
        r.mark_flags = MARK_SKIP;
        return;
    }

    /* Stored 3 after the last clear (a clear at the same outer index
     * comes after the store). 2 ORed into 3 leaves 3. */
    if (t.has(x, STORED_AFTER_CLEAR)) {
        r.mark = MARK_RETRANSMISSION;
        r.mark_flags = MARK_SKIP;
        return;
    }

    /* Cleared, or never reset: what comes after the clear, or everything. */
    int32_t cleared = t.last_clear[static_cast<size_t>(x)];
    bool dup = t.has(x, DUP_OF_LATER) || t.has(x, DUP_OF_EARLIER);
    bool skip = dup || t.has(x, SKIP_AFTER_CLEAR) ||
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

/* Records from which the ack grouping is worth a thread of its own, and
 * from which it is not any more: its tables are fresh pages beside the
 * seq grouping's, which it would otherwise take over once those are
 * given back, and on a trace of millions of records that is some 7 bytes
 * a record more at the load's peak. There memory, not the second core,
 * is what the load is short of. */
constexpr int32_t GROUP_APART = 65536;
constexpr int32_t GROUP_APART_MOST = 1 << 21;

/* The whole fast scan. Every allocation comes before settle, the first
 * write to a record, so a failed one leaves the records as they were.
 * The ack grouping reads only the records and the index, and the seq
 * groups write only the tables, so the two can run at once. */
void fast_scan(seg_record *rec, int32_t count, const dest_index &ix, bool apart)
{
    size_t n = static_cast<size_t>(count);
    scan_tables t(n);
    t.last_clear.assign(n, NONE);

    ack_grouping acks;
    std::thread grouper;
    /* The passes beside the analysis give the grouper its core. */
    give_way_scope right_of_way(apart);
    if (apart) {
        try {
            grouper = std::thread([&acks, rec, count, &ix] { acks.make(rec, count, ix); });
        } catch (const std::system_error &) {
            /* grouped below, after the seq groups */
            right_of_way.release();
        }
    }
    try {
        scan_seq_groups(rec, count, ix, t);
    } catch (...) {
        if (grouper.joinable())
            grouper.join();
        throw;
    }
    t.keyed.release();
    t.spare.release();
    if (grouper.joinable())
        grouper.join();
    else
        acks.make(rec, count, ix);
    right_of_way.release();
    if (acks.error)
        std::rethrow_exception(acks.error);
    scan_ack_groups(acks, t);
    acks.keyed.release();
    paint_skips(count, t);

    for (int32_t x = 0; x < count; x++)
        settle_record(rec[x], x, t);
}

} // namespace

bool pair_scan_uniform_ends(const seg_record *rec, int32_t count)
{
    return dest_uniform_ends(rec, count);
}

void mark_pair_scan_indexed(seg_record *rec, int32_t count, const dest_index *ix, bool apart)
{
    if (count < 2)
        return;
    if (ix == nullptr) {
        mark_pair_scan_literal(rec, count);
        return;
    }
    try {
        fast_scan(rec, count, *ix,
                  apart || (count >= GROUP_APART && count < GROUP_APART_MOST));
    } catch (const std::bad_alloc &) {
        /* No record was written yet: the plain scan needs no memory. */
        mark_pair_scan_literal(rec, count);
    } catch (const number_out_of_range &) {
        /* Thrown while grouping, before any record was written. */
        mark_pair_scan_literal(rec, count);
    }
}

void mark_pair_scan_fast(seg_record *rec, int32_t count)
{
    if (count < 2)
        return;
    dest_index ix;
    mark_pair_scan_indexed(rec, count, dest_index_make(rec, count, ix));
}
