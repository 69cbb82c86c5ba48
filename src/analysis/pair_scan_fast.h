/*
 * pair_scan_fast.h --
 *
 *	The pair scan of the segment marking in O(n log n) time. The plain
 *	form (mark_pair_scan_literal in marking.h) visits every ordered pair
 *	of records and costs seconds at tens of thousands of segments; this
 *	form derives the same final mark and mark_flags of every record from
 *	per-record summaries (groups of equal sequence or acknowledgement
 *	numbers, the reach of each outer index, the follow-up runs) so that
 *	captures of hundreds of thousands of segments mark in a fraction of a
 *	second. The two forms agree byte for byte; the tests run both.
 */

#ifndef WIREPAINT_ANALYSIS_PAIR_SCAN_FAST_H
#define WIREPAINT_ANALYSIS_PAIR_SCAN_FAST_H

#include <cstdint>

#include "trace/trace.h"

/*
 * pair_scan_uniform_ends --
 *	Whether every record of rec[0 .. count-1] agrees on whether its two
 *	ends share one address (same_address_connection). Always true for a
 *	decoded trace, which holds one connection; then the direction test
 *	is an equivalence on endpoints and the fast form applies. An empty
 *	array is uniform. No side effects.
 */
bool pair_scan_uniform_ends(const seg_record *rec, int32_t count);

/*
 * mark_pair_scan_fast --
 *	Gives every record of rec[0 .. count-1] exactly the mark and
 *	mark_flags that mark_pair_scan_literal would give it from the same
 *	starting bytes. Reads the addresses, ports, tcp_flags, seq, ack and
 *	paylen of the records; writes only mark and mark_flags.
 *	Needs O(count) scratch memory, allocated and freed within the call.
 *	Arrays that are not uniform (pair_scan_uniform_ends), arrays of more
 *	than 2^30 records and a scratch allocation that fails are handed to
 *	the literal form, which needs none and gives the same result, only
 *	slower.
 *	Side effects: mark and mark_flags of rec[0 .. count-1].
 */
void mark_pair_scan_fast(seg_record *rec, int32_t count);

struct dest_index;

/*
 * mark_pair_scan_indexed --
 *	mark_pair_scan_fast with the endpoint numbers and ack index of the
 *	same records already built (dest_index_build), so that the analysis
 *	builds them once for all its passes. A null `ix` (an array the index
 *	does not serve) runs the literal form. Same result, same side effects.
 *	From 65536 records to 2^21, the records are grouped by ack on a
 *	second thread while the seq groups are walked; `apart` set asks for
 *	that at any size (for tests).
 */
void mark_pair_scan_indexed(seg_record *rec, int32_t count, const dest_index *ix,
                            bool apart = false);

#endif
