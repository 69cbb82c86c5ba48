/*
 * dest_index.h --
 *
 *	Endpoint numbers and an index of records by destination, shared by
 *	the fast forms of the analysis passes (pair scan, forward pairing,
 *	line list). The plain passes ask the direction test of
 *	trace/direction.h about every pair of records they compare; the fast
 *	forms ask it once per record here and then compare small numbers.
 *
 *	When every record of an array agrees on whether its two ends share
 *	one address (always so for a decoded trace, which holds one
 *	connection), the direction test is an equivalence on endpoints:
 *	addresses, plus ports for a shared address. Each distinct endpoint
 *	gets a number, 0 upwards, and
 *	    same_direction(a, b)      <=> src[a] == src[b]
 *	    addressed_to_source(k, i) <=> dst[k] == src[i]
 *	    sent_by(r, host)          <=> src[r] is host's number
 *	Arrays that are not uniform get no index; the fast forms then run
 *	their plain form.
 *
 *	The index also orders the records by (destination, index) with a max
 *	tree over their acks, 8 to 16 positions to a leaf (at most 2 bytes a
 *	record for the tree), so that "the first
 *	record from index j on that is addressed to endpoint e and
 *	acknowledges beyond h" is a walk of O(log n) nodes and a few records. All storage is allocated by dest_index_build, once
 *	per call of a pass, never per record.
 */

#ifndef WIREPAINT_ANALYSIS_DEST_INDEX_H
#define WIREPAINT_ANALYSIS_DEST_INDEX_H

#include <cstdint>
#include <vector>

#include "trace/scratch.h"
#include "trace/direction.h"
#include "trace/trace.h"

/* No record, no position. Below every record index. */
constexpr int32_t DEST_NONE = -1;

/* The number of an endpoint: 16 bits, since a table of them per record
 * is a large part of a large trace's analysis memory. An array with more
 * endpoints gets no index. */
using endpoint_number = uint16_t;
constexpr size_t MAX_ENDPOINTS = 65536;

struct dest_index {
    bool same_addr;                 /* the ends share one address: ports count */
    scratch_vec<endpoint> known;    /* endpoint of each number (port 0 unless
                                     * same_addr) */
    scratch_vec<endpoint_number> src; /* per record: source endpoint number */
    scratch_vec<endpoint_number> dst; /* per record: destination endpoint number */
    scratch_vec<int32_t> by_dst;    /* record indexes, by (dst, index) */
    scratch_vec<int32_t> dst_begin; /* by_dst[dst_begin[e] .. dst_begin[e+1])
                                     * are the records addressed to e */
    scratch_vec<int64_t> max_ack;   /* node k covers children 2k, 2k+1; leaf
                                     * `leaves + b` holds the highest ack of
                                     * by_dst[leaf * b .. + leaf) */
    int32_t leaves;                 /* leaves of the tree, a power of two */
    int32_t leaf;                   /* positions under one leaf: 8 to 16, or
                                     * all of them in a short array */
    const seg_record *rec;          /* the records indexed (their acks) */
};

/*
 * dest_uniform_ends --
 *	Whether every record of rec[0 .. count-1] agrees on whether its two
 *	ends share one address (same_address_connection). An empty array is
 *	uniform. No side effects.
 */
bool dest_uniform_ends(const seg_record *rec, int32_t count);

/*
 * dest_index_build --
 *	Numbers the endpoints of rec[0 .. count-1] and builds the index into
 *	`ix` (any earlier content is replaced). Result: false, with `ix`
 *	unusable, when the array is not uniform, has more than 2^30
 *	records or more than MAX_ENDPOINTS endpoints. Reads addresses, ports and ack; writes no record. Throws
 *	std::bad_alloc when its storage cannot be allocated.
 */
bool dest_index_build(const seg_record *rec, int32_t count, dest_index &ix);

/*
 * dest_index_build_literal --
 *	dest_index_build as first written: every record's two endpoints
 *	looked up in the list of those seen, and the tree's acks gathered
 *	position by position. Same result and index; kept for the tests
 *	that hold the other form to it.
 */
bool dest_index_build_literal(const seg_record *rec, int32_t count, dest_index &ix);

/*
 * dest_index_make --
 *	dest_index_build that answers a failed allocation with a null result
 *	instead of an exception. Result: &ix when the index was built, null
 *	when the array is not served or memory ran out.
 */
const dest_index *dest_index_make(const seg_record *rec, int32_t count, dest_index &ix);

/*
 * dest_first_above --
 *	The first position p in [lo, hi) of ix.by_dst whose record's ack is
 *	above h, or DEST_NONE. A few positions are probed in turn before the
 *	tree is walked, since the answer is usually near. No side effects.
 */
int32_t dest_first_above(const dest_index &ix, int32_t lo, int32_t hi, int64_t h);

/*
 * dest_first_addressed_above --
 *	The first record at index `from` or later that is addressed to
 *	endpoint e and whose ack is above h, or DEST_NONE. No side effects.
 */
int32_t dest_first_addressed_above(const dest_index &ix, int32_t e, int32_t from,
                                   int64_t h);

/*
 * Where a caller's searches in one endpoint's list were left, for
 * dest_first_addressed_above_from: every position from the last
 * search's start (its cursor) up to `found` holds an ack at or below
 * `above`.
 */
struct dest_place {
    int32_t cursor = 0;         /* position in by_dst: the list's records
                                 * before it lie before the last `from` */
    int32_t found = 0;          /* position the last search found, or the
                                 * list's end when it found none */
    int64_t above = INT64_MAX;  /* the ack the last search looked above;
                                 * INT64_MAX before the first */
};

/*
 * dest_first_addressed_above_from --
 *	dest_first_addressed_above for a caller whose `from` never falls from
 *	one call to the next for the same endpoint: *place, kept by the
 *	caller for endpoint e (value-initialised before the first call),
 *	turns the search for `from` into a walk on from the last call's
 *	place, and a search for an ack above h >= the last call's into one
 *	that starts where the last one ended. Same result; sets *place.
 */
int32_t dest_first_addressed_above_from(const dest_index &ix, int32_t e, int32_t from,
                                        int64_t h, dest_place *place);

/*
 * dest_index_drop_search --
 *	Gives back the by-destination order and its tree, keeping the
 *	endpoint numbers (src, dst, known): for the passes after the last
 *	search. dest_first_above and dest_first_addressed_above must not be
 *	asked afterwards. No other side effects.
 */
void dest_index_drop_search(dest_index &ix);

/*
 * dest_number_of --
 *	The number of the endpoint that matches `h` under the direction test,
 *	or DEST_NONE when no record has it. No side effects.
 */
int32_t dest_number_of(const dest_index &ix, const endpoint &h);

#endif
