/*
 * dest_index.cpp --
 *
 *	Endpoint numbers and the by-destination ack index (see dest_index.h).
 *
 *	A trace holds one connection, so it has two endpoints (a few more in
 *	arrays a test puts together). Numbers are handed out in first-seen
 *	order from a short list of address-table entries and ports, looked up
 *	once per flow entry rather than per record (a record's endpoints are
 *	its flow's); an array with more than a handful of distinct endpoints
 *	is numbered by sorting all of them instead, so the cost stays
 *	O(n log n) whatever the array holds. The literal form, which looks up
 *	every record, stays beside it for the tests.
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

/* The endpoints numbered so far, in first-seen order. */
struct short_list {
    end_key keys[SHORT_LIST];
    size_t known = 0;
};

/*
 * Numbers record r's source and destination through the list, adding
 * the endpoints it has not seen to it and to ix.known. False, with the
 * numbers unset, when a new endpoint finds the list full.
 */
bool list_number(short_list &l, const seg_record &r, dest_index &ix, endpoint_number id[2])
{
    for (int side = 0; side < 2; side++) {
        end_key e = key_of(r, side, ix.same_addr);
        size_t at = 0;
        while (at < l.known && (l.keys[at].addr != e.addr || l.keys[at].port != e.port))
            at++;
        if (at == l.known) {
            if (l.known >= SHORT_LIST)
                return false;
            l.keys[l.known++] = e;
            ix.known.push_back(end_of(r, side, ix.same_addr));
        }
        id[side] = static_cast<endpoint_number>(at);
    }
    return true;
}

/*
 * Numbers endpoints in first-seen order through the short list, checking
 * on the way that every record agrees with record 0 on whether its ends
 * share one address (one pass over the records for both). On
 * LIST_TOO_MANY, *stopped is the record where the list ran out; the
 * records before it are known to agree. Every record is looked up.
 */
list_result number_by_list(const seg_record *rec, int32_t count, dest_index &ix, int32_t *stopped)
{
    short_list l;
    for (int32_t k = 0; k < count; k++) {
        if (same_address_connection(rec[k]) != ix.same_addr)
            return LIST_NOT_UNIFORM;
        endpoint_number id[2];
        if (!list_number(l, rec[k], ix, id)) {
            *stopped = k;
            return LIST_TOO_MANY;
        }
        ix.src[static_cast<size_t>(k)] = id[0];
        ix.dst[static_cast<size_t>(k)] = id[1];
    }
    return LIST_DONE;
}

/*
 * A record's addresses and ports, hence its endpoints and whether they
 * share an address, are those of its flow entry. A small table keyed by
 * the flow index keeps the numbers a flow was given; a record whose flow
 * is not in it (first seen, or its slot taken by another flow since) is
 * looked up in the list as number_by_list looks it up, which gives a
 * flow seen before the numbers it had. Slot s starts out holding flow
 * s ^ 1, which belongs to another slot, so any flow index may come.
 */
constexpr uint32_t FLOW_SLOTS_KEPT = 1024;

struct flow_numbers {
    uint32_t flow;
    endpoint_number id[2];
};

/* number_by_list with one lookup per flow (same numbers, same result). */
list_result number_by_flow(const seg_record *rec, int32_t count, dest_index &ix, int32_t *stopped)
{
    short_list l;
    flow_numbers kept[FLOW_SLOTS_KEPT];
    for (uint32_t s = 0; s < FLOW_SLOTS_KEPT; s++)
        kept[s].flow = s ^ 1;
    for (int32_t k = 0; k < count; k++) {
        uint32_t f = rec[k].flow;
        flow_numbers &n = kept[f & (FLOW_SLOTS_KEPT - 1)];
        if (n.flow != f) {
            if (same_address_connection(rec[k]) != ix.same_addr)
                return LIST_NOT_UNIFORM;
            if (!list_number(l, rec[k], ix, n.id)) {
                *stopped = k;
                return LIST_TOO_MANY;
            }
            n.flow = f;
        }
        ix.src[static_cast<size_t>(k)] = n.id[0];
        ix.dst[static_cast<size_t>(k)] = n.id[1];
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

/* dst_begin from the destination numbers; `fill` becomes each list's
 * first position. */
void count_destinations(int32_t count, dest_index &ix, scratch_vec<int32_t> &fill)
{
    size_t endpoints = ix.known.size();
    ix.dst_begin.assign(endpoints + 1, 0);
    for (int32_t k = 0; k < count; k++)
        ix.dst_begin[static_cast<size_t>(ix.dst[static_cast<size_t>(k)]) + 1]++;
    for (size_t e = 0; e < endpoints; e++)
        ix.dst_begin[e + 1] += ix.dst_begin[e];
    fill.assign(ix.dst_begin.begin(), ix.dst_begin.end() - 1);
}

/* count_destinations in four counts per endpoint, records taken in
 * turn, so that a run of records to one endpoint does not wait on one
 * count in memory from record to record. */
void count_destinations_interleaved(int32_t count, dest_index &ix, scratch_vec<int32_t> &fill)
{
    size_t endpoints = ix.known.size();
    scratch_vec<int32_t> counts(4 * endpoints, 0);
    const endpoint_number *dst = ix.dst.data();
    int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        counts[4 * static_cast<size_t>(dst[k])]++;
        counts[4 * static_cast<size_t>(dst[k + 1]) + 1]++;
        counts[4 * static_cast<size_t>(dst[k + 2]) + 2]++;
        counts[4 * static_cast<size_t>(dst[k + 3]) + 3]++;
    }
    for (; k < count; k++)
        counts[4 * static_cast<size_t>(dst[k])]++;
    ix.dst_begin.assign(endpoints + 1, 0);
    for (size_t e = 0; e < endpoints; e++)
        ix.dst_begin[e + 1] = ix.dst_begin[e] + counts[4 * e] + counts[4 * e + 1] +
                              counts[4 * e + 2] + counts[4 * e + 3];
    fill.assign(ix.dst_begin.begin(), ix.dst_begin.end() - 1);
}

/*
 * p / leaf for a position p below 2^30 and a leaf of 1 to 16 positions,
 * by a multiply: with m = ceil(2^34 / leaf) = (2^34 + e) / leaf, e is
 * below leaf <= 2^4, so p * e stays below 2^34 and (p * m) >> 34 is
 * exactly p / leaf. A division per record took a fifth of the pass.
 */
struct leaf_of_position {
    uint64_t m;
    explicit leaf_of_position(int32_t leaf)
        : m(((UINT64_C(1) << 34) + static_cast<uint64_t>(leaf) - 1) / static_cast<uint64_t>(leaf)) {}
    uint32_t operator()(uint32_t p) const { return static_cast<uint32_t>((p * m) >> 34); }
};

/* The tree's shape for `count` positions, its leaves all INT64_MIN: as
 * many leaves as a power of two lets with at most 16 positions under
 * each, fewer than count / 8 leaves, a tree of at most 2 bytes a record. */
void shape_tree(int32_t count, dest_index &ix)
{
    ix.leaves = 1;
    while (static_cast<int64_t>(ix.leaves) * LEAF_MOST < count)
        ix.leaves *= 2;
    ix.leaf = std::max(1, (count + ix.leaves - 1) / ix.leaves);
    ix.max_ack.assign(2 * static_cast<size_t>(ix.leaves), INT64_MIN);
}

/* The inner nodes of the tree from its leaves. */
void fill_inner_nodes(dest_index &ix)
{
    for (size_t node = static_cast<size_t>(ix.leaves) - 1; node >= 1; node--)
        ix.max_ack[node] = std::max(ix.max_ack[2 * node], ix.max_ack[2 * node + 1]);
}

/* by_dst, dst_begin and the max tree over the acks in by_dst order: the
 * acks gathered through by_dst, position by position. */
void build_ack_tree_by_positions(const seg_record *rec, int32_t count, dest_index &ix)
{
    scratch_vec<int32_t> fill;
    count_destinations(count, ix, fill);
    ix.by_dst.assign(static_cast<size_t>(count), 0);
    for (int32_t k = 0; k < count; k++)
        ix.by_dst[static_cast<size_t>(fill[static_cast<size_t>(ix.dst[static_cast<size_t>(k)])]++)] = k;

    ix.rec = rec;
    shape_tree(count, ix);
    size_t leaves = static_cast<size_t>(ix.leaves);
    size_t leaf = static_cast<size_t>(ix.leaf);
    for (size_t p = 0; p < static_cast<size_t>(count); p++) {
        int64_t &top = ix.max_ack[leaves + p / leaf];
        top = std::max(top, ack_of(rec[ix.by_dst[p]]));
    }
    fill_inner_nodes(ix);
}

/* The same in one pass over the records in their order: each record's
 * ack goes to the leaf of the position it is given. */
void build_ack_tree(const seg_record *rec, int32_t count, dest_index &ix)
{
    scratch_vec<int32_t> fill;
    count_destinations_interleaved(count, ix, fill);
    ix.rec = rec;
    shape_tree(count, ix);
    ix.by_dst.resize(static_cast<size_t>(count));
    int64_t *leaf_ack = ix.max_ack.data() + ix.leaves;
    leaf_of_position leaf_of(ix.leaf);
    const endpoint_number *dst = ix.dst.data();
    int32_t *by_dst = ix.by_dst.data();
    int32_t *next = fill.data();
    for (int32_t k = 0; k < count; k++) {
        uint32_t p = static_cast<uint32_t>(next[dst[k]]++);
        by_dst[p] = k;
        int64_t &top = leaf_ack[leaf_of(p)];
        top = std::max(top, ack_of(rec[k]));
    }
    fill_inner_nodes(ix);
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

namespace {

/* dest_index_build, with the numbering and the tree of the literal form
 * (every record looked up, acks gathered by position) or the fast one. */
bool build_index(const seg_record *rec, int32_t count, dest_index &ix, bool literal)
{
    /* Positions and the tree's leaf count must stay within 32 bits. */
    if (count > (INT32_C(1) << 30))
        return false;
    ix.same_addr = count > 0 && same_address_connection(rec[0]);
    ix.known.clear();
    ix.src.resize(static_cast<size_t>(count));
    ix.dst.resize(static_cast<size_t>(count));
    int32_t stopped = 0;
    list_result numbered = literal ? number_by_list(rec, count, ix, &stopped)
                                   : number_by_flow(rec, count, ix, &stopped);
    switch (numbered) {
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
    if (literal)
        build_ack_tree_by_positions(rec, count, ix);
    else
        build_ack_tree(rec, count, ix);
    return true;
}

} // namespace

bool dest_index_build(const seg_record *rec, int32_t count, dest_index &ix)
{
    return build_index(rec, count, ix, false);
}

bool dest_index_build_literal(const seg_record *rec, int32_t count, dest_index &ix)
{
    return build_index(rec, count, ix, true);
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
     * tree from the next leaf boundary on. The probes come first, since
     * they mostly find the answer. */
    int32_t probed = std::min(hi, lo + PROBES);
    int32_t p = first_in(ix, lo, probed, h);
    if (p != DEST_NONE || probed >= hi)
        return p;
    int32_t leaf = ix.leaf;
    int32_t leaf_end = (lo / leaf + 1) * leaf;
    int32_t near_end = std::min(hi, std::max(probed, leaf_end));
    p = first_in(ix, probed, near_end, h);
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
                                        int64_t h, dest_place *place)
{
    const int32_t *list = ix.by_dst.data();
    int32_t end = ix.dst_begin[static_cast<size_t>(e) + 1];
    int32_t lo = std::max(place->cursor, ix.dst_begin[static_cast<size_t>(e)]);
    while (lo < end && list[lo] < from)
        lo++;
    place->cursor = lo;
    /* From lo up to `found` no ack is above place->above, nor then above h. */
    if (h >= place->above)
        lo = std::max(lo, place->found);
    int32_t p = lo < end ? dest_first_above(ix, lo, end, h) : DEST_NONE;
    place->found = p == DEST_NONE ? end : p;
    place->above = h;
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
