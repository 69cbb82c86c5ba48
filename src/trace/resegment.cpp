/*
 * resegment.cpp --
 *
 *	Copies cut otherwise (resegment.h). The fast form takes all the
 *	records to look up at once: their last bytes, keyed by direction and
 *	sorted, are searched by every record with payload of each trace for
 *	the bytes it holds, so that each pass is one read of its trace. On
 *	captures cut alike the caller rules out nearly every peer record,
 *	the few segments asked about find no candidate, and the main trace
 *	is not read at all.
 */

#include "trace/resegment.h"

#include <algorithm>

#include "trace/direction.h"
#include "trace/matcher.h"
#include "trace/scratch.h"
#include "trace/trace.h"

namespace {

/* A byte looked for: direction << 32 | byte, and the query's number. */
struct wanted_byte {
    uint64_t key;
    int32_t k;
};

/* Whether record m carries payload holding sequence byte b (as carried). */
bool holds_byte(const seg_record &m, uint32_t b)
{
    return m.paylen > 0 && (uint32_t)(b - seq_raw_of(m)) < (uint32_t)m.paylen;
}

/* The last payload byte of r, as carried. */
uint32_t last_byte(const seg_record &r)
{
    return seq_raw_of(r) + (uint32_t)r.paylen - 1u;
}

/* The direction of r: 0 when it travels as the peer's record 0 (a key
 * only: the records it finds are confirmed with same_direction). */
uint64_t direction_key(const seg_record &r)
{
    return same_direction(r, g_trace.peer.rec[0]) ? 0 : 1ull << 32;
}

/*
 * The first of the sorted `w` whose key is not below `key`, searched
 * outward from `hint` (where the last search of this direction ended):
 * a stream read in order asks near its last answer, so a search mostly
 * costs a step or two, and never more than twice a binary search.
 */
size_t lower_from(const scratch_vec<wanted_byte> &w, uint64_t key, size_t hint)
{
    size_t n = w.size(), lo, hi;
    hint = std::min(hint, n);
    if (hint < n && w[hint].key < key) {
        /* Right of hint: everything before lo is below key; hi is n or
         * not below it. */
        lo = hi = hint + 1;
        for (size_t step = 1; hi < n && w[hi].key < key; step *= 2) {
            lo = hi + 1;
            hi += step;
        }
        hi = std::min(hi, n);
    } else {
        /* At or left of hint: hi is not below key; lo - 1 is. */
        lo = hi = hint;
        for (size_t step = 1; lo > 0 && w[lo - 1].key >= key; step *= 2) {
            hi = lo - 1;
            lo = lo > step ? lo - step : 0;
        }
    }
    auto at = std::lower_bound(w.begin() + (std::ptrdiff_t)lo, w.begin() + (std::ptrdiff_t)hi, key,
                               [](const wanted_byte &x, uint64_t k) { return x.key < k; });
    return static_cast<size_t>(at - w.begin());
}

/*
 * Calls visit(k) for every wanted byte (sorted `w`) that record r holds.
 * `hint` holds, per direction, where the last search ended.
 */
template <typename Visit>
void each_held(const scratch_vec<wanted_byte> &w, const seg_record &r, size_t hint[2], Visit visit)
{
    if (r.paylen <= 0)
        return;
    uint64_t dir = direction_key(r);
    size_t &h = hint[dir != 0];
    uint64_t from = seq_raw_of(r), to = from + (uint64_t)(uint32_t)r.paylen;
    auto run = [&](uint64_t lo, uint64_t hi) {
        h = lower_from(w, dir + lo, h);
        for (size_t at = h; at < w.size() && w[at].key < dir + hi; at++)
            visit(w[at].k);
    };
    if (to <= (1ull << 32)) {
        run(from, to);
        return;
    }
    run(from, 1ull << 32);        /* up to 2^32, */
    run(0, to - (1ull << 32));    /* and on from 0 */
}

/* The nearer of two candidates, ties to the lower index. */
bool nearer(float d, int32_t m, float best_d, int32_t best)
{
    return best < 0 || d < best_d || (d == best_d && m < best);
}

}  // namespace

void match_resegmented(const reseg_query *q, int32_t n, const uint8_t *skip, float offset,
                       float rate, float start, int32_t *copy)
{
    const trace_array &main = g_trace.main;
    const trace_array &peer = g_trace.peer;
    scratch_vec<wanted_byte> want;
    scratch_vec<float> dist(static_cast<size_t>(n), 0.0f);
    for (int32_t k = 0; k < n; k++) {
        copy[k] = -1;
        const seg_record &r = main.rec[q[k].i];
        if (r.paylen > 0 && peer.count > 0)
            want.push_back({direction_key(r) | last_byte(r), k});
    }
    std::sort(want.begin(), want.end(), [](const wanted_byte &x, const wanted_byte &y) {
        return x.key != y.key ? x.key < y.key : x.k < y.k;
    });
    bool any = false;
    size_t hint[2] = {0, 0};
    for (int32_t m = 0; m < peer.count && !want.empty(); m++) {
        if (skip != nullptr && skip[m] != 0)
            continue;
        float at = peer.rec[m].time;
        each_held(want, peer.rec[m], hint, [&](int32_t k) {
            const seg_record &r = main.rec[q[k].i];
            if (!same_direction(r, peer.rec[m]))
                return;
            float d = match_distance(r, at, offset, q[k].expect, rate, start);
            if (nearer(d, m, dist[(size_t)k], copy[k])) {
                copy[k] = m;
                dist[(size_t)k] = d;
                any = true;
            }
        });
    }
    /* A main record holding the same byte nearer to the copy takes it. */
    hint[0] = hint[1] = 0;
    for (int32_t j = 0; j < main.count && any; j++) {
        each_held(want, main.rec[j], hint, [&](int32_t k) {
            int32_t i = q[k].i;
            if (j == i || copy[k] < 0 || !same_direction(main.rec[i], main.rec[j]))
                return;
            float d = match_distance(main.rec[j], peer.rec[copy[k]].time, offset, q[k].expect, rate,
                                     start);
            if (d < dist[(size_t)k] || (d == dist[(size_t)k] && j < i))
                copy[k] = -2;   /* taken; no longer compared */
        });
    }
    for (int32_t k = 0; k < n; k++)
        copy[k] = copy[k] < 0 ? -1 : copy[k];
}

int32_t match_resegmented_literal(int32_t i, const uint8_t *skip, float offset, float expect,
                                  float rate, float start)
{
    const trace_array &main = g_trace.main;
    const trace_array &peer = g_trace.peer;
    const seg_record &r = main.rec[i];
    if (r.paylen <= 0)
        return -1;
    uint32_t b = last_byte(r);
    int32_t best = -1;
    float best_d = 0.0f;
    for (int32_t m = 0; m < peer.count; m++) {
        if (!same_direction(r, peer.rec[m]) || !holds_byte(peer.rec[m], b) ||
            (skip != nullptr && skip[m] != 0))
            continue;
        float d = match_distance(r, peer.rec[m].time, offset, expect, rate, start);
        if (nearer(d, m, best_d, best)) {
            best = m;
            best_d = d;
        }
    }
    if (best < 0)
        return -1;
    for (int32_t j = 0; j < main.count; j++) {
        if (j == i || !same_direction(r, main.rec[j]) || !holds_byte(main.rec[j], b))
            continue;
        float d = match_distance(main.rec[j], peer.rec[best].time, offset, expect, rate, start);
        if (d < best_d || (d == best_d && j < i))
            return -1;
    }
    return best;
}
