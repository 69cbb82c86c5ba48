/*
 * dest_index.cpp --
 *
 *	Endpoint numbers and the by-destination ack index (see dest_index.h).
 *
 *	A trace holds one connection, so it has two endpoints (a few more in
 *	arrays a test puts together). Numbers are handed out in first-seen
 *	order from a short list of address-table entries and ports; an array
 *	with more than a handful of distinct endpoints is numbered by sorting
 *	all of them instead, so the cost stays O(n log n) whatever the array
 *	holds.
 */

#include "analysis/dest_index.h"
#include "trace/scratch.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

/* Distinct endpoints kept in the short list before sorting takes over. */
constexpr size_t SHORT_LIST = 16;

/* Positions under one leaf of the ack tree at most. */
constexpr int32_t LEAF_MOST = 16;

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
 * An endpoint as the short list compares it: the address by its entry in
 * the trace's address table (equal addresses share one entry, so equal
 * entries are equal addresses) and the port when ports count.
 */
struct end_key {
    const ip_address *addr;
    uint16_t port;
};

end_key key_of(const seg_record &r, int side, bool same_addr)
{
    if (side == 0)
        return {&source_address(r), same_addr ? sport_of(r) : uint16_t{0}};
    return {&destination_address(r), same_addr ? dport_of(r) : uint16_t{0}};
}

/* How numbering through the short list ended. */
enum list_result {
    LIST_DONE,         /* every record numbered */
    LIST_TOO_MANY,     /* more endpoints than the list holds: numbers half done */
    LIST_NOT_UNIFORM   /* a record disagrees on shared-address ends */
};

/*
 * Numbers endpoints in first-seen order through the short list, checking
 * on the way that every record agrees with record 0 on whether its ends
 * share one address (one pass over the records for both). On
 * LIST_TOO_MANY, *stopped is the record where the list ran out; the
 * records before it are known to agree.
 */
list_result number_by_list(const seg_record *rec, int32_t count, dest_index &ix, int32_t *stopped)
{
    end_key keys[SHORT_LIST];
    size_t known = 0;
    for (int32_t k = 0; k < count; k++) {
        if (same_address_connection(rec[k]) != ix.same_addr)
            return LIST_NOT_UNIFORM;
        for (int side = 0; side < 2; side++) {
            end_key e = key_of(rec[k], side, ix.same_addr);
            size_t id = 0;
            while (id < known && (keys[id].addr != e.addr || keys[id].port != e.port))
                id++;
            if (id == known) {
                if (known >= SHORT_LIST) {
                    *stopped = k;
                    return LIST_TOO_MANY;
                }
                keys[known++] = e;
                ix.known.push_back(end_of(rec[k], side, ix.same_addr));
            }
            (side == 0 ? ix.src : ix.dst)[static_cast<size_t>(k)] = static_cast<endpoint_number>(id);
        }
    }
    return LIST_DONE;
}

/* Numbers endpoints in sorted order, for arrays with many of them; false
 * when there are more than an endpoint number can hold. */
bool number_by_sorting(const seg_record *rec, int32_t count, dest_index &ix)
{
    ix.known.clear();
    ix.known.reserve(2 * static_cast<size_t>(count));
    for (int32_t k = 0; k < count; k++)
        for (int side = 0; side < 2; side++)
            ix.known.push_back(end_of(rec[k], side, ix.same_addr));
    std::sort(ix.known.begin(), ix.known.end(), endpoint_less);
    ix.known.erase(std::unique(ix.known.begin(), ix.known.end(), endpoint_same),
                   ix.known.end());
    if (ix.known.size() > MAX_ENDPOINTS)
        return false;
    for (int32_t k = 0; k < count; k++) {
        for (int side = 0; side < 2; side++) {
            endpoint e = end_of(rec[k], side, ix.same_addr);
            auto at = std::lower_bound(ix.known.begin(), ix.known.end(), e, endpoint_less);
            (side == 0 ? ix.src : ix.dst)[static_cast<size_t>(k)] =
                static_cast<endpoint_number>(at - ix.known.begin());
        }
    }
    return true;
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
    scratch_vec<int32_t> fill(ix.dst_begin.begin(), ix.dst_begin.end() - 1);
    ix.by_dst.assign(static_cast<size_t>(count), 0);
    for (int32_t k = 0; k < count; k++)
        ix.by_dst[static_cast<size_t>(fill[static_cast<size_t>(ix.dst[static_cast<size_t>(k)])]++)] = k;

    ix.rec = rec;
    /* As many leaves as a power of two lets with at most 16 positions
     * under each: fewer than count / 8 leaves, a tree of at most 2 bytes
     * a record. */
    ix.leaves = 1;
    while (static_cast<int64_t>(ix.leaves) * LEAF_MOST < count)
        ix.leaves *= 2;
    ix.leaf = std::max(1, (count + ix.leaves - 1) / ix.leaves);
    size_t leaves = static_cast<size_t>(ix.leaves);
    size_t leaf = static_cast<size_t>(ix.leaf);
    ix.max_ack.assign(2 * leaves, INT64_MIN);
    for (size_t p = 0; p < static_cast<size_t>(count); p++) {
        int64_t &top = ix.max_ack[leaves + p / leaf];
        top = std::max(top, ack_of(rec[ix.by_dst[p]]));
    }
    for (size_t node = leaves - 1; node >= 1; node--)
        ix.max_ack[node] = std::max(ix.max_ack[2 * node], ix.max_ack[2 * node + 1]);
}

/* The ack of the record at position p of by_dst. */
int64_t ack_at(const dest_index &ix, int32_t p)
{
    return ack_of(ix.rec[ix.by_dst[static_cast<size_t>(p)]]);
}

/* The first position in [lo, end) whose ack is above h, or DEST_NONE. */
int32_t first_in(const dest_index &ix, int32_t lo, int32_t end, int64_t h)
{
    for (; lo < end; lo++)
        if (ack_at(ix, lo) > h)
            return lo;
    return DEST_NONE;
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
    /* Positions and the tree's leaf count must stay within 32 bits. */
    if (count > (INT32_C(1) << 30))
        return false;
    ix.same_addr = count > 0 && same_address_connection(rec[0]);
    ix.known.clear();
    ix.src.resize(static_cast<size_t>(count));
    ix.dst.resize(static_cast<size_t>(count));
    int32_t stopped = 0;
    switch (number_by_list(rec, count, ix, &stopped)) {
    case LIST_NOT_UNIFORM:
        return false;
    case LIST_TOO_MANY:
        /* The records from `stopped` on are not checked yet. */
        for (int32_t k = stopped; k < count; k++)
            if (same_address_connection(rec[k]) != ix.same_addr)
                return false;
        if (!number_by_sorting(rec, count, ix))
            return false;
        break;
    case LIST_DONE:
        break;
    }
    build_ack_tree(rec, count, ix);
    return true;
}

const dest_index *dest_index_make(const seg_record *rec, int32_t count, dest_index &ix)
{
    try {
        return dest_index_build(rec, count, ix) ? &ix : nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int32_t dest_first_above(const dest_index &ix, int32_t lo, int32_t hi, int64_t h)
{
    /* The probes and the rest of lo's leaf, record by record; then the
     * tree from the next leaf boundary on. */
    int32_t leaf = ix.leaf;
    int32_t leaf_end = (lo / leaf + 1) * leaf;
    int32_t near_end = std::min(hi, std::max(lo + PROBES, leaf_end));
    int32_t p = first_in(ix, lo, near_end, h);
    if (p != DEST_NONE || near_end >= hi)
        return p;
    lo = (near_end + leaf - 1) / leaf * leaf;
    if (lo >= hi)
        return first_in(ix, near_end, hi, h);
    p = first_in(ix, near_end, lo, h);
    if (p != DEST_NONE)
        return p;

    /* Climb over the nodes that tile the leaves from lo's on from the
     * left until one holds an ack above h, then go down to its first
     * such leaf and find the position in it. */
    size_t node = static_cast<size_t>(ix.leaves + lo / leaf);
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
    int32_t from = (static_cast<int32_t>(node) - ix.leaves) * leaf;
    if (from >= hi)
        return DEST_NONE;
    return first_in(ix, from, std::min(hi, from + leaf), h);
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

int32_t dest_first_addressed_above_from(const dest_index &ix, int32_t e, int32_t from,
                                        int64_t h, int32_t *cursor)
{
    const int32_t *list = ix.by_dst.data();
    int32_t end = ix.dst_begin[static_cast<size_t>(e) + 1];
    int32_t lo = std::max(*cursor, ix.dst_begin[static_cast<size_t>(e)]);
    while (lo < end && list[lo] < from)
        lo++;
    *cursor = lo;
    int32_t p = dest_first_above(ix, lo, end, h);
    return p == DEST_NONE ? DEST_NONE : list[p];
}

void dest_index_drop_search(dest_index &ix)
{
    scratch_vec<int32_t>().swap(ix.by_dst);
    scratch_vec<int32_t>().swap(ix.dst_begin);
    scratch_vec<int64_t>().swap(ix.max_ack);
    ix.leaves = 0;
    ix.leaf = 0;
}

int32_t dest_number_of(const dest_index &ix, const endpoint &h)
{
    for (size_t p = 0; p < ix.known.size(); p++)
        if (endpoint_match(ix.known[p], h, ix.same_addr))
            return static_cast<int32_t>(p);
    return DEST_NONE;
}
