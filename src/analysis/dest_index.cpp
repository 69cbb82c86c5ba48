/*
 * dest_index.cpp --
 *
 *	Endpoint numbers and the by-destination ack index (see dest_index.h).
 *
 *	A trace holds one connection, so it has two endpoints (a few more in
 *	arrays a test puts together). Numbers are handed out in first-seen
 *	order from a short list, checked against the number the record's
 *	previous endpoint got; an array with more than a handful of distinct
 *	endpoints is numbered by sorting all of them instead, so the cost
 *	stays O(n log n) whatever the array holds.
 */

#include "analysis/dest_index.h"

#include <algorithm>
#include <cstring>

namespace {

/* Distinct endpoints kept in the short list before sorting takes over. */
constexpr size_t SHORT_LIST = 16;

/* Orders endpoints by address, then port: equal exactly when they match. */
bool endpoint_less(const endpoint &a, const endpoint &b)
{
    if (a.a4 != b.a4)
        return a.a4 < b.a4;
    int c = std::memcmp(a.a6, b.a6, sizeof a.a6);
    if (c != 0)
        return c < 0;
    return a.port < b.port;
}

bool endpoint_same(const endpoint &a, const endpoint &b)
{
    return a.a4 == b.a4 && a.port == b.port && std::memcmp(a.a6, b.a6, sizeof a.a6) == 0;
}

/* r's source (side 0) or destination (side 1); ports only when they count. */
endpoint end_of(const seg_record &r, int side, bool same_addr)
{
    endpoint e = side == 0 ? source_of(r) : destination_of(r);
    if (!same_addr)
        e.port = 0;
    return e;
}

/*
 * Numbers endpoints in first-seen order through the short list. Returns
 * false, leaving the numbers half done, once there are too many.
 */
bool number_by_list(const seg_record *rec, int32_t count, dest_index &ix)
{
    int32_t last = 0;
    for (int32_t k = 0; k < count; k++) {
        for (int side = 0; side < 2; side++) {
            endpoint e = end_of(rec[k], side, ix.same_addr);
            int32_t id = DEST_NONE;
            if (!ix.known.empty() && endpoint_same(ix.known[static_cast<size_t>(last)], e))
                id = last;
            for (size_t p = 0; p < ix.known.size() && id == DEST_NONE; p++)
                if (endpoint_same(ix.known[p], e))
                    id = static_cast<int32_t>(p);
            if (id == DEST_NONE) {
                if (ix.known.size() >= SHORT_LIST)
                    return false;
                id = static_cast<int32_t>(ix.known.size());
                ix.known.push_back(e);
            }
            (side == 0 ? ix.src : ix.dst)[static_cast<size_t>(k)] = id;
            last = id;
        }
    }
    return true;
}

/* Numbers endpoints in sorted order, for arrays with many of them. */
void number_by_sorting(const seg_record *rec, int32_t count, dest_index &ix)
{
    ix.known.clear();
    ix.known.reserve(2 * static_cast<size_t>(count));
    for (int32_t k = 0; k < count; k++)
        for (int side = 0; side < 2; side++)
            ix.known.push_back(end_of(rec[k], side, ix.same_addr));
    std::sort(ix.known.begin(), ix.known.end(), endpoint_less);
    ix.known.erase(std::unique(ix.known.begin(), ix.known.end(), endpoint_same),
                   ix.known.end());
    for (int32_t k = 0; k < count; k++) {
        for (int side = 0; side < 2; side++) {
            endpoint e = end_of(rec[k], side, ix.same_addr);
            auto at = std::lower_bound(ix.known.begin(), ix.known.end(), e, endpoint_less);
            (side == 0 ? ix.src : ix.dst)[static_cast<size_t>(k)] =
                static_cast<int32_t>(at - ix.known.begin());
        }
    }
}

/* by_dst, dst_begin and the max tree over the acks in by_dst order. */
void build_ack_tree(const seg_record *rec, int32_t count, dest_index &ix)
{
    size_t endpoints = ix.known.size();
    ix.dst_begin.assign(endpoints + 1, 0);
    for (int32_t k = 0; k < count; k++)
        ix.dst_begin[static_cast<size_t>(ix.dst[static_cast<size_t>(k)]) + 1]++;
    for (size_t e = 0; e < endpoints; e++)
        ix.dst_begin[e + 1] += ix.dst_begin[e];
    std::vector<int32_t> fill(ix.dst_begin.begin(), ix.dst_begin.end() - 1);
    ix.by_dst.assign(static_cast<size_t>(count), 0);
    for (int32_t k = 0; k < count; k++)
        ix.by_dst[static_cast<size_t>(fill[static_cast<size_t>(ix.dst[static_cast<size_t>(k)])]++)] = k;

    ix.leaves = 1;
    while (ix.leaves < count)
        ix.leaves *= 2;
    size_t leaves = static_cast<size_t>(ix.leaves);
    ix.max_ack.assign(2 * leaves, INT64_MIN);
    for (size_t p = 0; p < static_cast<size_t>(count); p++)
        ix.max_ack[leaves + p] = rec[ix.by_dst[p]].ack;
    for (size_t node = leaves - 1; node >= 1; node--)
        ix.max_ack[node] = std::max(ix.max_ack[2 * node], ix.max_ack[2 * node + 1]);
}

/* Number of probes before the tree is walked. */
constexpr int32_t PROBES = 8;

} // namespace

bool dest_uniform_ends(const seg_record *rec, int32_t count)
{
    if (count <= 0)
        return true;
    bool shared = same_address_connection(rec[0]);
    for (int32_t k = 1; k < count; k++)
        if (same_address_connection(rec[k]) != shared)
            return false;
    return true;
}

bool dest_index_build(const seg_record *rec, int32_t count, dest_index &ix)
{
    /* The tree's leaf count must stay a 32-bit power of two. */
    if (count > (INT32_C(1) << 30) || !dest_uniform_ends(rec, count))
        return false;
    ix.same_addr = count > 0 && same_address_connection(rec[0]);
    ix.known.clear();
    ix.src.assign(static_cast<size_t>(count), 0);
    ix.dst.assign(static_cast<size_t>(count), 0);
    if (!number_by_list(rec, count, ix))
        number_by_sorting(rec, count, ix);
    build_ack_tree(rec, count, ix);
    return true;
}

int32_t dest_first_above(const dest_index &ix, int32_t lo, int32_t hi, int64_t h)
{
    const int32_t probe_end = std::min(hi, lo + PROBES);
    for (; lo < probe_end; lo++)
        if (ix.max_ack[static_cast<size_t>(ix.leaves + lo)] > h)
            return lo;
    if (lo >= hi)
        return DEST_NONE;

    /* Climb over the nodes that tile [lo, end) from the left until one
     * holds an ack above h, then go down to its first such leaf. */
    size_t node = static_cast<size_t>(ix.leaves + lo);
    while (ix.max_ack[node] <= h) {
        while ((node & 1) != 0) {
            node >>= 1;
            if (node == 0)
                return DEST_NONE;
        }
        node++;
    }
    while (node < static_cast<size_t>(ix.leaves))
        node = ix.max_ack[2 * node] > h ? 2 * node : 2 * node + 1;
    int32_t p = static_cast<int32_t>(node) - ix.leaves;
    return p < hi ? p : DEST_NONE;
}

int32_t dest_first_addressed_above(const dest_index &ix, int32_t e, int32_t from,
                                   int64_t h)
{
    const int32_t *list = ix.by_dst.data();
    int32_t begin = ix.dst_begin[static_cast<size_t>(e)];
    int32_t end = ix.dst_begin[static_cast<size_t>(e) + 1];
    int32_t lo = static_cast<int32_t>(std::lower_bound(list + begin, list + end, from) - list);
    int32_t p = dest_first_above(ix, lo, end, h);
    return p == DEST_NONE ? DEST_NONE : list[p];
}

int32_t dest_number_of(const dest_index &ix, const endpoint &h)
{
    for (size_t p = 0; p < ix.known.size(); p++)
        if (endpoint_match(ix.known[p], h, ix.same_addr))
            return static_cast<int32_t>(p);
    return DEST_NONE;
}
