/*
 * matcher.cpp --
 *
 *	Cross-trace matching (see matcher.h). The fast form keeps two hash
 *	indexes of the peer trace, one by identification and source address
 *	and one by carried sequence number, acknowledgement number, window
 *	and payload length, each bucket a run of entries in ascending peer
 *	index, so that the candidates for a record are one bucket away and
 *	come out in ascending peer order, exactly as a scan from index 0
 *	finds them. Building them is two passes over the peer trace, no sort
 *	(one, and two over the few it keeps, for an index by numbers that
 *	keeps only the records a few main records may match). Candidates
 *	are all considered: a run of identical duplicate acknowledgements
 *	longer than any fixed list still finds, for each of its members, the
 *	copy nearest in time.
 */

#include "trace/matcher.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "trace/direction.h"
#include "trace/gallop.h"
#include "trace/scratch.h"
#include "trace/trace.h"

namespace {

/*
 * One hash index of the peer trace. Each peer record it holds is an
 * entry with a 64-bit tag of the fields the match compares and its time;
 * the entries of a bucket lie together, in ascending peer index, so the
 * candidates of a record are one short run of memory and come out in the
 * order a scan from index 0 meets them. Records with another tag cannot
 * qualify; equal tags are confirmed on the record (qualifies).
 */
struct bucket_entry {
    uint64_t tag;  /* ident_tag or number_tag of the peer record */
    int32_t m;     /* peer index */
    float time;    /* s, the peer record's time */

    /* Left unset: every entry of an index is written once its place is
     * known, so the table is not cleared first. */
    bucket_entry() {}
    bucket_entry(uint64_t t, int32_t i, float at) : tag(t), m(i), time(at) {}
};

struct bucket_index {
    bool built;                       /* built for the peer trace below */
    scratch_vec<int32_t> begin;       /* bucket b: entry[begin[b] .. begin[b+1]) */
    scratch_vec<bucket_entry> entry;  /* by bucket, ascending peer index */
    uint64_t mask;                    /* buckets - 1 (a power of two) */
    bool sparse;                      /* holds only peer records with a tag
                                       * of `wanted` (the index by numbers) */
    scratch_vec<uint64_t> wanted;     /* sorted tags it was built for */
    scratch_vec<uint8_t> rising;      /* bucket b: 1 when its entries' times
                                       * never fall (set with `entry`) */
};

/*
 * The matcher's indexes of the peer trace, one instance. Each is built by
 * the first match_segment that needs it (a trace whose segments all carry
 * an identification never needs the one by numbers); both are dropped
 * when the peer trace (array and count) is not the one they were made
 * for, and by matcher_reset.
 */
struct match_state {
    const seg_record *peer_rec; /* peer array the indexes describe */
    int32_t peer_count;         /* and its count */
    const seg_record *main_rec; /* main array the index by numbers serves */
    int32_t main_count;         /* and its count */
    bucket_index by_ident;      /* peer records with nonzero ip_id */
    bucket_index by_numbers;    /* peer records by carried numbers: all, or
                                 * those that some main record without an
                                 * identification has the numbers of */
    bool same_numbers;          /* the captures carry the same sequence
                                 * numbers: a copy found by identification
                                 * must carry the record's too; set by
                                 * matcher_same_numbers, cleared by reset */
    bool ignore_ids;            /* every record is matched by its numbers:
                                 * the captures' identifications disagree;
                                 * set by matcher_ignore_ids, kept by
                                 * matcher_reset (which a new peer trace
                                 * runs after the peer map set it) */
};

/* The index by numbers holds only the peer records that main records
 * without an identification may match when those are at most this
 * fraction of the main trace (an IPv4 trace, whose identifications pass
 * through 0 once in 65536 segments); every peer record otherwise. */
constexpr int32_t SPARSE_NUMBERS = 16;

match_state g_match;

/* Whether r is matched by its identification. */
bool by_ident(const seg_record &r)
{
    return r.ip_id != 0 && !g_match.ignore_ids;
}

/* Buckets of the index by identification at most: a source's
 * identifications take 65,536 consecutive buckets, so that the two ends
 * of a connection mostly have buckets of their own, and a long trace
 * (whose identifications repeat) needs no more. */
constexpr size_t IDENT_BUCKETS = size_t{1} << 19;

/* Spreads a key over all bits (the splitmix64 finaliser). */
uint64_t mix(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

/* What identification matching compares: the identification and source,
 * side by side (48 bits: no hashing needed to compare them). */
uint64_t ident_tag(const seg_record &r)
{
    return (uint64_t)r.ip_id << 32 | (src4_of(r) & 0xffffffffu);
}

/* Consecutive identifications of one source go to neighbouring buckets,
 * so that matching a trace in order walks the index in order too. */
uint64_t ident_bucket(const seg_record &r)
{
    return mix(src4_of(r) & 0xffffffffu) + r.ip_id;
}

/* What number matching compares: carried seq and ack, window, payload. */
uint64_t number_tag(const seg_record &r)
{
    uint64_t numbers = (uint64_t)seq_raw_of(r) << 32 | ack_raw_of(r);
    return mix(numbers ^ mix((uint64_t)r.win << 32 | (uint32_t)r.paylen));
}

/* Builds the index of the peer records that `each` visits: each(f) calls
 * f(m) for every such peer index m, ascending, and does so alike twice. */
template <typename Each, typename Tag, typename Bucket>
void build_buckets(bucket_index &c, const trace_array &p, size_t expected, Each each, Tag tag,
                   Bucket bucket)
{
    size_t buckets = 1;
    while (buckets < expected)
        buckets *= 2;
    c.mask = buckets - 1;
    c.begin.assign(buckets + 1, 0);
    size_t taken = 0;
    each([&](int32_t m) {
        c.begin[(bucket(p.rec[m]) & c.mask) + 1]++;
        taken++;
    });
    for (size_t b = 0; b < buckets; b++)
        c.begin[b + 1] += c.begin[b];
    scratch_vec<int32_t> fill(c.begin.begin(), c.begin.end() - 1);
    c.entry.resize(taken);
    each([&](int32_t m) {
        const seg_record &r = p.rec[m];
        c.entry[(size_t)fill[bucket(r) & c.mask]++] = bucket_entry(tag(r), m, r.time);
    });
    c.rising.assign(buckets, 1);
    for (size_t b = 0; b < buckets; b++)
        for (int32_t e = c.begin[b] + 1; e < c.begin[b + 1] && c.rising[b]; e++)
            c.rising[b] = c.entry[(size_t)e].time >= c.entry[(size_t)e - 1].time;
    c.built = true;
}

/* A visitor for build_buckets: the peer records of p that `take` accepts. */
template <typename Take>
auto records_taken(const trace_array &p, Take take)
{
    return [&p, take](auto f) {
        for (int32_t m = 0; m < p.count; m++)
            if (take(p.rec[m]))
                f(m);
    };
}

/*
 * A first sieve of sequence numbers: one bit per hash of a number, set
 * for the numbers of a set, so that a number whose bit is clear is not
 * in the set. Numbers whose bit is set still need a look in the set.
 */
struct seq_sieve {
    static constexpr int BITS = 16;
    std::vector<uint64_t> word = std::vector<uint64_t>(size_t{1} << (BITS - 6), 0);

    static uint32_t slot(uint32_t seq) { return (seq * 0x9e3779b1u) >> (32 - BITS); }
    void add(uint32_t seq) { word[slot(seq) >> 6] |= uint64_t{1} << (slot(seq) & 63); }
    bool may_hold(uint32_t seq) const { return (word[slot(seq) >> 6] >> (slot(seq) & 63)) & 1; }
};

/* Drops both indexes when they describe another peer trace. Reads
 * nothing of the main trace. */
void follow_peer()
{
    const trace_array &p = g_trace.peer;
    if (g_match.peer_rec == p.rec && g_match.peer_count == p.count)
        return;
    matcher_reset();
    g_match.peer_rec = p.rec;
    g_match.peer_count = p.count;
}

/* Drops the indexes when they describe other traces: the one by numbers
 * also when the main trace it was made for is another. */
void follow_traces()
{
    follow_peer();
    const trace_array &main = g_trace.main;
    if (g_match.main_rec == main.rec && g_match.main_count == main.count)
        return;
    g_match.by_numbers = bucket_index();
    g_match.main_rec = main.rec;
    g_match.main_count = main.count;
}

/*
 * The index by numbers. When few main records lack an identification,
 * only peer records with the numbers of one of them are taken: a match
 * looks only at entries with its own record's tag, and those are all
 * there, in the same order.
 */
void build_number_index(bucket_index &c, const trace_array &p)
{
    const trace_array &main = g_trace.main;
    scratch_vec<uint64_t> wanted;
    scratch_vec<uint32_t> wanted_seq;  /* their carried seqs: a first sieve */
    for (int32_t i = 0; i < main.count; i++) {
        if (by_ident(main.rec[i]))
            continue;
        if (wanted.size() >= static_cast<size_t>(main.count / SPARSE_NUMBERS)) {
            build_buckets(c, p, static_cast<size_t>(p.count),
                          records_taken(p, [](const seg_record &) { return true; }), number_tag,
                          number_tag);
            return;
        }
        wanted.push_back(number_tag(main.rec[i]));
        wanted_seq.push_back(seq_raw_of(main.rec[i]));
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    c.sparse = true;
    c.wanted = wanted;
    std::sort(wanted_seq.begin(), wanted_seq.end());
    wanted_seq.erase(std::unique(wanted_seq.begin(), wanted_seq.end()), wanted_seq.end());
    seq_sieve sieve;
    for (uint32_t seq : wanted_seq)
        sieve.add(seq);
    auto is_wanted = [&wanted, &wanted_seq, &sieve](const seg_record &r) {
        uint32_t seq = seq_raw_of(r);
        return sieve.may_hold(seq) &&
               std::binary_search(wanted_seq.begin(), wanted_seq.end(), seq) &&
               std::binary_search(wanted.begin(), wanted.end(), number_tag(r));
    };
    /* The peer records wanted, found in one pass: the index reads them twice. */
    scratch_vec<int32_t> taken;
    for (int32_t m = 0; m < p.count; m++)
        if (is_wanted(p.rec[m]))
            taken.push_back(m);
    auto each_taken = [&taken](auto f) {
        for (int32_t m : taken)
            f(m);
    };
    build_buckets(c, p, 4 * wanted.size(), each_taken, number_tag, number_tag);
}

/* The index for records with (ident) or without an identification,
 * built for the current traces (follow_traces first). */
const bucket_index &index_for(bool ident)
{
    const trace_array &p = g_trace.peer;
    if (ident) {
        if (!g_match.by_ident.built)
            build_buckets(g_match.by_ident, p, std::min(static_cast<size_t>(p.count), IDENT_BUCKETS),
                          records_taken(p, [](const seg_record &r) { return r.ip_id != 0; }),
                          ident_tag, ident_bucket);
        return g_match.by_ident;
    }
    if (!g_match.by_numbers.built)
        build_number_index(g_match.by_numbers, p);
    return g_match.by_numbers;
}

/* Whether peer record m qualifies as the copy of main record r. */
bool qualifies(const seg_record &r, const seg_record &m)
{
    if (by_ident(r))
        return m.ip_id == r.ip_id && same_direction(r, m) &&
               (!g_match.same_numbers || seq_raw_of(m) == seq_raw_of(r));
    return seq_raw_of(m) == seq_raw_of(r) && ack_raw_of(m) == ack_raw_of(r) && m.win == r.win &&
           m.paylen == r.paylen;
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
    float rate;
    float start;
    int32_t best = -1;
    float best_dist = 0.0f;

    /* Offers peer record m; returns true when the search may stop. */
    bool offer(int32_t m) { return offer_at(m, g_trace.peer.rec[m].time); }

    /* The same, with m's time at hand. */
    bool offer_at(int32_t m, float at)
    {
        if (mode == MATCH_FIRST) {
            best = m;
            return true;
        }
        float d = match_distance(*r, at, offset, expect, rate, start);
        if (best < 0 || d < best_dist) {
            best = m;
            best_dist = d;
        }
        return false;
    }
};

/* Where among entries [from, to), whose times rise, time `at` about
 * falls, supposing their times evenly spread over the peer trace's span
 * `span` (s): a bucket of the index by identification holds one entry
 * per reuse of an identification over the whole trace, and the search
 * starts there, without reading entries far from it. */
const bucket_entry *time_guess(const bucket_entry *from, const bucket_entry *to, float at,
                               float span)
{
    double frac = static_cast<double>(at) / span;
    if (!(frac > 0.0))
        return from;
    if (!(frac < 1.0))
        return to;
    return from + static_cast<ptrdiff_t>(frac * static_cast<double>(to - from));
}

/*
 * The pick of the nearest-time mode without drift among the entries with
 * `tag` of [from, to), whose times never fall: the same as offering them
 * all in order. The signed distance (at + offset) - (time + expect) then
 * never falls either (float rounding keeps order), so the distances fall
 * while it is negative and rise after: the nearest is the last entry
 * before it turns non-negative (or the earliest of equal distance before
 * it) or the first after, the earlier on a tie.
 */
void pick_nearest_rising(picker &pick, const bucket_entry *from, const bucket_entry *to,
                         uint64_t tag)
{
    float target = pick.r->time + pick.expect;
    const bucket_entry *turn = partition_point_from(
        from, to, time_guess(from, to, target - pick.offset, trace_span(&g_trace.peer)),
        [&](const bucket_entry &e) { return (e.time + pick.offset) - target < 0.0f; });
    auto dist = [&](const bucket_entry *e) {
        return match_distance(*pick.r, e->time, pick.offset, pick.expect, 0.0f, 0.0f);
    };
    const bucket_entry *before = nullptr;
    for (const bucket_entry *e = turn; e != from && before == nullptr;)
        if ((--e)->tag == tag)
            before = e;
    if (before != nullptr) {
        float d = dist(before);
        for (const bucket_entry *e = before; e != from;) {
            if ((--e)->tag != tag)
                continue;
            if (dist(e) != d)
                break;
            before = e;
        }
        pick.offer_at(before->m, before->time);
    }
    for (const bucket_entry *e = turn; e != to; e++)
        if (e->tag == tag) {
            pick.offer_at(e->m, e->time);
            return;
        }
}

}  // namespace

float match_distance(const seg_record &r, float at, float offset, float expect, float rate,
                     float start)
{
    float corrected = at + offset;
    if (rate != 0.0f)
        corrected += rate * (at - start);
    return std::fabs(corrected - (r.time + expect));
}

void matcher_reset()
{
    g_match.main_rec = nullptr;
    g_match.main_count = 0;
    g_match.peer_rec = nullptr;
    g_match.peer_count = 0;
    g_match.by_ident = bucket_index();
    g_match.by_numbers = bucket_index();
    g_match.same_numbers = false;
}

void matcher_same_numbers(bool same)
{
    g_match.same_numbers = same;
}

void matcher_ignore_ids(bool ignore)
{
    if (ignore != g_match.ignore_ids)
        g_match.by_numbers = bucket_index();
    g_match.ignore_ids = ignore;
}

int32_t match_segment_literal(int32_t i, match_mode mode, float offset, float expect, float rate,
                              float start)
{
    const seg_record &r = g_trace.main.rec[i];
    picker pick{&r, mode, offset, expect, rate, start};
    for (int32_t m = 0; m < g_trace.peer.count; m++) {
        if (qualifies(r, g_trace.peer.rec[m]) && pick.offer(m))
            break;
    }
    return pick.best;
}

void matcher_prepare_peer()
{
    follow_peer();
    index_for(true);
}

void matcher_prepare()
{
    follow_traces();
    index_for(true);
    const trace_array &main = g_trace.main;
    for (int32_t i = 0; i < main.count; i++)
        if (!by_ident(main.rec[i])) {
            index_for(false);
            return;
        }
}

void matcher_prefetch(int32_t i, float offset, float expect)
{
    const trace_array &main = g_trace.main;
    if (i < 0 || i >= main.count || g_match.main_rec != main.rec ||
        g_match.main_count != main.count || g_match.peer_rec != g_trace.peer.rec ||
        g_match.peer_count != g_trace.peer.count)
        return;
    const seg_record &r = main.rec[i];
    bool ident = by_ident(r);
    const bucket_index &c = ident ? g_match.by_ident : g_match.by_numbers;
    if (!c.built)
        return;
    uint64_t b = (ident ? ident_bucket(r) : number_tag(r)) & c.mask;
    const bucket_entry *from = c.entry.data() + c.begin[b];
    const bucket_entry *to = c.entry.data() + c.begin[b + 1];
    if (from == to)
        return;
    __builtin_prefetch(from);
    __builtin_prefetch(time_guess(from, to, r.time + expect - offset, trace_span(&g_trace.peer)));
}

int32_t match_segment(int32_t i, match_mode mode, float offset, float expect, float rate,
                      float start)
{
    const seg_record &r = g_trace.main.rec[i];
    bool ident = by_ident(r);
    follow_traces();
    uint64_t tag = ident ? ident_tag(r) : number_tag(r);
    /* A sparse index made for another main trace (at the same address)
     * may lack this record's tag: it is built again for this one. */
    if (!ident && g_match.by_numbers.built && g_match.by_numbers.sparse &&
        !std::binary_search(g_match.by_numbers.wanted.begin(), g_match.by_numbers.wanted.end(),
                            tag))
        g_match.by_numbers = bucket_index();
    const bucket_index &c = index_for(ident);
    uint64_t b = (ident ? ident_bucket(r) : tag) & c.mask;
    const bucket_entry *from = c.entry.data() + c.begin[b];
    const bucket_entry *to = c.entry.data() + c.begin[b + 1];

    /* Pick among the entries with r's tag: a superset of the qualifying
     * records, in peer order. When the pick qualifies it is the pick of
     * the qualifying ones too; otherwise (a loopback peer of the other
     * end, or two keys of one tag) pick again, confirming each. */
    picker pick{&r, mode, offset, expect, rate, start};
    if (mode == MATCH_NEAREST && rate == 0.0f && c.rising[b])
        pick_nearest_rising(pick, from, to, tag);
    else
        for (const bucket_entry *e = from; e != to; e++)
            if (e->tag == tag && pick.offer_at(e->m, e->time))
                break;
    if (pick.best < 0 || qualifies(r, g_trace.peer.rec[pick.best]))
        return pick.best;
    picker sure{&r, mode, offset, expect, rate, start};
    for (const bucket_entry *e = from; e != to; e++)
        if (e->tag == tag && qualifies(r, g_trace.peer.rec[e->m]) && sure.offer_at(e->m, e->time))
            break;
    return sure.best;
}
