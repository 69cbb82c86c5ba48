/*
 * byte_index.h --
 *
 *	Which records of a trace hold a given byte of the stream: the copy of
 *	a segment that the other capture holds cut otherwise (segmentation
 *	offload at the sender, receive offload at the receiver) is the record
 *	there that holds its last payload byte (trace/matcher.h).
 *
 *	The index lists every record with payload of one trace as the range
 *	of carried sequence numbers it holds, per direction, sorted by start;
 *	a range that passes 2^32 is listed as its two parts, so that a byte
 *	is found in every lap of the sequence space, as the modular test
 *	holds_byte finds it. A query walks a tree of the largest range end
 *	below each node, so it costs its log n per record it reports.
 *	Per record with payload: 16 bytes of entry and 16 of tree, built
 *	only when a record finds no copy by its own numbers.
 */

#ifndef WIREPAINT_TRACE_BYTE_INDEX_H
#define WIREPAINT_TRACE_BYTE_INDEX_H

#include <cstdint>

#include "trace/scratch.h"
#include "trace/trace.h"

/* One listed range: key of its first byte, key past its last, record. */
struct byte_range {
    uint64_t start;  /* direction << 32 | first sequence number held */
    uint32_t len;    /* bytes held in this part */
    int32_t m;       /* record index in the trace */
};

struct byte_index {
    bool built = false;              /* built for the trace below */
    const seg_record *rec = nullptr; /* the trace's array it was built for */
    int32_t count = 0;               /* and its count */
    uint16_t dir0_addr = 0;          /* source address of record 0 */
    uint16_t dir0_port = 0;          /* and its source port */
    scratch_vec<byte_range> range;   /* sorted by start */
    scratch_vec<uint64_t> top;       /* tree of the largest end: node k
                                      * covers its leaves; leaves from
                                      * `leaves` on */
    size_t leaves = 0;               /* first leaf node (a power of two) */
};

/* Whether record m carries payload holding sequence byte b (as carried). */
inline bool holds_byte(const seg_record &m, uint32_t b)
{
    return m.paylen > 0 && (uint32_t)(b - m.seq_raw) < (uint32_t)m.paylen;
}

/*
 * byte_index_build --
 *	Lists the records with payload of `t` in `ix`, replacing what it
 *	held. Throws std::bad_alloc when memory runs out.
 */
void byte_index_build(byte_index &ix, const trace_array &t);

/*
 * byte_index_each --
 *	Calls visit(m) for every record m of the indexed trace that travels
 *	as `like` does (trace/direction.h) and holds byte b, in no set
 *	order, each once. `like` may be a record of another trace of the
 *	same load. No side effects of its own.
 */
template <typename Visit>
void byte_index_each(const byte_index &ix, const seg_record &like, uint32_t b, Visit visit);

/* The direction number of `like` in the indexed trace: 0 as record 0. */
int byte_index_direction(const byte_index &ix, const seg_record &like);

/* The index of the first range whose start is above key; used below. */
size_t byte_index_upper(const byte_index &ix, uint64_t key);

template <typename Visit>
void byte_index_each(const byte_index &ix, const seg_record &like, uint32_t b, Visit visit)
{
    if (ix.range.empty())
        return;
    uint64_t key = (uint64_t)byte_index_direction(ix, like) << 32 | b;
    size_t hi = byte_index_upper(ix, key); /* ranges [0, hi) start at or before b */
    if (hi == 0)
        return;
    /* Depth-first over the nodes that cover some of [0, hi) and end past key. */
    struct span {
        size_t node, lo, width;
    };
    span stack[64];
    int depth = 0;
    stack[depth++] = {1, 0, ix.leaves};
    while (depth > 0) {
        span s = stack[--depth];
        if (s.lo >= hi || ix.top[s.node] <= key)
            continue;
        if (s.width == 1) {
            visit(ix.range[s.lo].m);
            continue;
        }
        size_t half = s.width / 2;
        stack[depth++] = {2 * s.node + 1, s.lo + half, half};
        stack[depth++] = {2 * s.node, s.lo, half};
    }
}

#endif
