/*
 * byte_index.cpp --
 *
 *	The index of the bytes each record holds (byte_index.h): a sorted
 *	list of ranges and a tree of their largest ends.
 */

#include "trace/byte_index.h"

#include <algorithm>

#include "trace/direction.h"

int byte_index_direction(const byte_index &ix, const seg_record &like)
{
    bool same_addr = like.src_addr == like.dst_addr;
    bool as_first = like.src_addr == ix.dir0_addr && (!same_addr || like.sport == ix.dir0_port);
    return as_first ? 0 : 1;
}

size_t byte_index_upper(const byte_index &ix, uint64_t key)
{
    auto at = std::upper_bound(ix.range.begin(), ix.range.end(), key,
                               [](uint64_t k, const byte_range &r) { return k < r.start; });
    return static_cast<size_t>(at - ix.range.begin());
}

void byte_index_build(byte_index &ix, const trace_array &t)
{
    ix.range.clear();
    ix.rec = t.rec;
    ix.count = t.count;
    ix.built = true;
    if (t.count <= 0)
        return;
    ix.dir0_addr = t.rec[0].src_addr;
    ix.dir0_port = t.rec[0].sport;
    for (int32_t m = 0; m < t.count; m++) {
        const seg_record &r = t.rec[m];
        if (r.paylen <= 0)
            continue;
        uint64_t dir = (uint64_t)byte_index_direction(ix, r) << 32;
        uint64_t end = (uint64_t)r.seq_raw + (uint64_t)r.paylen;
        if (end <= (1ull << 32)) {
            ix.range.push_back({dir | r.seq_raw, (uint32_t)r.paylen, m});
            continue;
        }
        /* Past 2^32: the part up to it, and the rest from 0. */
        ix.range.push_back({dir | r.seq_raw, (uint32_t)((1ull << 32) - r.seq_raw), m});
        ix.range.push_back({dir, (uint32_t)(end - (1ull << 32)), m});
    }
    std::sort(ix.range.begin(), ix.range.end(), [](const byte_range &a, const byte_range &b) {
        return a.start != b.start ? a.start < b.start : a.m < b.m;
    });
    size_t leaves = 1;
    while (leaves < ix.range.size())
        leaves *= 2;
    ix.leaves = leaves;
    ix.top.assign(2 * leaves, 0);
    for (size_t k = 0; k < ix.range.size(); k++)
        ix.top[leaves + k] = ix.range[k].start + ix.range[k].len;
    for (size_t k = leaves - 1; k >= 1; k--)
        ix.top[k] = std::max(ix.top[2 * k], ix.top[2 * k + 1]);
}
