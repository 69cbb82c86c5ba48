/*
 * pairing_fast.cpp --
 *
 *	The fast forms of the forward and backward pairing (pairing_fast.h).
 *
 *	Forward. The plain search for record i takes the first later record
 *	addressed to i's source whose ack is at least expected_ack(i). Every
 *	search reads only fields no pass writes (addresses, ack), so each is
 *	a question to the by-destination index: in the list of records
 *	addressed to i's source (ascending index), the first one after i
 *	with ack above expected_ack - 1. A cursor per list skips the records
 *	at or before i, since the searches come in ascending i. The pass
 *	around the searches is the shared one (pairing_pass.h).
 *
 *	Backward. The plain walk of acknowledgement i goes from i-1 down,
 *	passing over records whose mark has bit 4, and stops at the first
 *	other record k with time(i) - time(k) > longest (float arithmetic);
 *	its pair is the lowest record above the stop that is unpaired data
 *	(no bit 4, payload, acked_by 0). Pairing only takes records out of
 *	that set, so the set is a chain of free records with path halving.
 *	The stop test is monotone in time(k): float subtraction rounds
 *	monotonically. So when the times of the records the walk tests never
 *	fall, the stop of later acknowledgements is never earlier, and one
 *	pointer serves all; otherwise a min tree over those times answers
 *	"the last record before i whose time passes the test" in O(log n).
 */

#include "analysis/pairing_fast.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include "analysis/dest_index.h"
#include "trace/scratch.h"
#include "analysis/marking.h"
#include "analysis/pairing.h"
#include "analysis/pairing_pass.h"

using namespace pairing_pass;

namespace {

/* ---- Forward ------------------------------------------------------ */

/* Records a search without an index looks at one by one before it asks
 * for one. */
constexpr int32_t NEAR_RECORDS = 24;

/*
 * The acknowledgement search. With the by-destination index (the one
 * given, or one built at the first search that needs it) each search
 * is one question to it, which in a transfer whose numbers rise starts
 * where the last search of its list ended. Without one the search
 * first looks at the next NEAR_RECORDS records as the plain form does,
 * then tries to build one; arrays it does not serve, and a failed
 * allocation, search on record by record. Each search reads only fields
 * no pass writes, so every way finds the same record.
 */
struct forward_search {
    seg_record *rec;
    int32_t count;
    const dest_index *ix;   /* the index in use; null until needed */
    dest_index own;         /* built here when none was given */
    bool tried;             /* an index was given or a build was tried */
    std::vector<dest_place> place; /* per endpoint: where its list was left */

    const dest_index *index()
    {
        if (tried)
            return ix;
        tried = true;
        ix = dest_index_make(rec, count, own);
        return ix;
    }

    /* The first record in [k, end) addressed to i's source with an ack
     * of `want` or more, record by record; DEST_NONE when none. */
    int32_t scan(int32_t i, int32_t k, int32_t end, int64_t want) const
    {
        for (; k < end; k++)
            if (addressed_to_source(rec[k], rec[i]) && ack_of(rec[k]) >= want)
                return k;
        return DEST_NONE;
    }

    /* The same from i + 1 to the end, through the index. */
    int32_t ask(const dest_index &x, int32_t i, int64_t want)
    {
        if (place.empty())
            place.resize(x.known.size());
        int32_t e = x.src[static_cast<size_t>(i)];
        return dest_first_addressed_above_from(x, e, i + 1, want - 1, &place[static_cast<size_t>(e)]);
    }

    void operator()(int32_t i, float *longest)
    {
        int64_t want = expected_ack(rec[i]);
        int32_t k;
        if (ix != nullptr) {
            k = ask(*ix, i, want);
        } else {
            int32_t near_end = count - i > NEAR_RECORDS ? i + 1 + NEAR_RECORDS : count;
            k = scan(i, i + 1, near_end, want);
            if (k == DEST_NONE && near_end < count) {
                const dest_index *x = index();
                /* From i + 1, as every later search asks (a place's
                 * start must never fall); the near records hold no answer. */
                k = x != nullptr ? ask(*x, i, want) : scan(i, near_end, count, want);
            }
        }
        if (k != DEST_NONE)
            link_acknowledgement(rec, i, k, longest);
    }
};

/* ---- Backward ------------------------------------------------------ */

/* The walk of an acknowledgement tests record k (it does not pass over it). */
bool walk_tests(const seg_record &r)
{
    return (r.mark & MARK_LOST_SEGMENT) == 0;
}

/* The walk stops at a record of time tk, for an acknowledgement at ti. */
bool stops_at(float ti, float tk, float longest)
{
    return ti - tk > longest;
}

/* k is unpaired data that a walk reaching it may take. */
bool is_free(const seg_record &r)
{
    return walk_tests(r) && r.paylen != 0 && r.acked_by == 0;
}

/*
 * Times in order up to some record: one pointer to the last record the
 * walks stop at and one to the first free record after it, both only
 * moving forward (a record that is not free never becomes free again).
 * Returns the first record whose time falls below an earlier tested
 * time or is not finite, from where the walks need another way; count
 * when the pass is done. Allocates nothing.
 */
int32_t backward_rising(seg_record *rec, int32_t count, float longest)
{
    int32_t stop = 0;   /* last record the walks stop at; 0 none yet */
    int32_t probe = 1;  /* next tested record after `stop` */
    int32_t free = 1;   /* no free record in (stop, free) */
    float last = -std::numeric_limits<float>::infinity();
    for (int32_t i = 1; i < count; i++) {
        const seg_record &ri = rec[i];
        if (walk_tests(ri)) {
            if (!std::isfinite(ri.time) || ri.time < last)
                return i;
            last = ri.time;
        }
        if (!backward_eligible(ri, i))
            continue;
        for (;;) {
            while (probe < i && !walk_tests(rec[probe]))
                probe++;
            if (probe >= i || !stops_at(ri.time, rec[probe].time, longest))
                break;
            stop = probe++;
        }
        free = std::max(free, stop + 1);
        while (free < i && !is_free(rec[free]))
            free++;
        if (free < i)
            pair_backward_with(rec, i, free++);
    }
    return count;
}

/* Whether every tested record from record 1 on has a finite time. */
bool tested_times_finite(const seg_record *rec, int32_t count)
{
    for (int32_t k = 1; k < count; k++)
        if (walk_tests(rec[k]) && !std::isfinite(rec[k].time))
            return false;
    return true;
}

/* Smallest free record >= k (count when none), with path halving. */
int32_t next_free(scratch_vec<int32_t> &next, int32_t k)
{
    while (next[static_cast<size_t>(k)] != k) {
        next[static_cast<size_t>(k)] = next[static_cast<size_t>(next[static_cast<size_t>(k)])];
        k = next[static_cast<size_t>(k)];
    }
    return k;
}

/* The chain of free records from record 1, as the records stand now. */
scratch_vec<int32_t> free_chain(const seg_record *rec, int32_t count)
{
    scratch_vec<int32_t> next(static_cast<size_t>(count) + 1);
    for (int32_t k = 0; k <= count; k++) {
        bool free = k >= 1 && k < count && is_free(rec[k]);
        next[static_cast<size_t>(k)] = free || k == count ? k : k + 1;
    }
    return next;
}

/* Min tree over the tested records' times; +inf elsewhere. */
struct time_tree {
    scratch_vec<float> low; /* node k covers 2k, 2k+1; leaf `leaves + k` */
    size_t leaves;
};

void build_time_tree(const seg_record *rec, int32_t count, time_tree &t)
{
    t.leaves = 1;
    while (t.leaves < static_cast<size_t>(count))
        t.leaves *= 2;
    t.low.assign(2 * t.leaves, std::numeric_limits<float>::infinity());
    for (int32_t k = 1; k < count; k++)
        if (walk_tests(rec[k]))
            t.low[t.leaves + static_cast<size_t>(k)] = rec[k].time;
    for (size_t node = t.leaves - 1; node >= 1; node--)
        t.low[node] = std::min(t.low[2 * node], t.low[2 * node + 1]);
}

/* The last tested record at or before `from` where a walk at ti stops; 0 none. */
int32_t last_stop(const time_tree &t, int32_t from, float ti, float longest)
{
    size_t node = t.leaves + static_cast<size_t>(from);
    while (!stops_at(ti, t.low[node], longest)) {
        while ((node & 1) == 0)
            node >>= 1;
        if (node == 1)
            return 0;
        node--;
    }
    while (node < t.leaves)
        node = stops_at(ti, t.low[2 * node + 1], longest) ? 2 * node + 1 : 2 * node;
    return static_cast<int32_t>(node - t.leaves);
}

/* Times out of order: from record `from` on, each walk's stop from the tree. */
void backward_any_order(seg_record *rec, int32_t count, int32_t from, float longest)
{
    scratch_vec<int32_t> next = free_chain(rec, count);
    time_tree t;
    build_time_tree(rec, count, t);
    for (int32_t i = std::max(from, 2); i < count; i++) {
        if (!backward_eligible(rec[i], i))
            continue;
        int32_t c = next_free(next, last_stop(t, i - 1, rec[i].time, longest) + 1);
        if (c >= i)
            continue;
        pair_backward_with(rec, i, c);
        next[static_cast<size_t>(c)] = c + 1;
    }
}

} // namespace

float pair_forward_indexed(seg_record *rec, int32_t count, const dest_index *ix)
{
    forward_search search{rec, count, ix, dest_index(), ix != nullptr, {}};
    auto from_host = [rec, ix](int32_t i, int32_t h) {
        if (ix != nullptr)
            return ix->src[static_cast<size_t>(i)] == ix->dst[static_cast<size_t>(h)];
        return sent_by(rec[i], destination_of(rec[h]));
    };
    return forward_pass(rec, count, std::ref(search), from_host);
}

float pair_forward_fast(seg_record *rec, int32_t count)
{
    return pair_forward_indexed(rec, count, nullptr);
}

void pair_backward_fast(seg_record *rec, int32_t count, float longest_sample)
{
    int32_t from = backward_rising(rec, count, longest_sample);
    if (from >= count)
        return;
    /* Every acknowledgement before `from` is paired as the plain form
     * pairs it; the rest go on from the records as they stand. */
    if (tested_times_finite(rec, count)) {
        try {
            backward_any_order(rec, count, from, longest_sample);
            return;
        } catch (const std::bad_alloc &) {
            /* The chain and the tree come before the first write. */
        }
    }
    pair_backward_literal_from(rec, count, from, longest_sample);
}
