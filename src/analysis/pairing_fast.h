/*
 * pairing_fast.h --
 *
 *	The acknowledgement pairing without record-by-record searches. The
 *	plain forward pairing (pairing.h) looks for each segment's
 *	acknowledgement record by record, quadratic at worst; the plain
 *	backward pairing walks back over every record within the longest
 *	time sample for every unpaired pure acknowledgement. The forms here
 *	give the same fields, bit for bit, in O(n log n) time at worst and
 *	O(n) on a trace whose times do not run backwards, with scratch
 *	allocated once per call. The tests run both forms on many traces.
 */

#ifndef WIREPAINT_ANALYSIS_PAIRING_FAST_H
#define WIREPAINT_ANALYSIS_PAIRING_FAST_H

#include <cstdint>

#include "trace/trace.h"

struct dest_index;

/*
 * pair_forward_fast --
 *	Exactly what pair_forward_literal gives for rec[0 .. count-1] (result
 *	and fields). Each acknowledgement search looks at the next few
 *	records as the plain form does, then asks the by-destination ack
 *	tree (dest_index.h), built at the first search that needs it. Arrays
 *	the index does not serve, and a failed allocation, search on record
 *	by record.
 *	Side effects: ack_time, resp_time, acked_by and pair_flags of the records.
 */
float pair_forward_fast(seg_record *rec, int32_t count);

/*
 * pair_forward_indexed --
 *	pair_forward_fast with the index of the same records already built
 *	(dest_index_build), or null to build one if a search needs it. Same
 *	result and side effects.
 */
float pair_forward_indexed(seg_record *rec, int32_t count, const dest_index *ix);

/*
 * pair_backward_fast --
 *	Exactly what pair_backward_literal gives for rec[0 .. count-1]. While
 *	the times run in order, the point where each walk would stop and the
 *	oldest unpaired data record after it are two pointers that only move
 *	forward (no allocation); from the first time that runs backwards on,
 *	a min tree over the times gives each stop and a chain of free records
 *	the pair. From a time that is not finite on, and when the scratch
 *	cannot be allocated, the plain form carries on.
 *	Side effects: ack_time, acked_by and pair_flags of the records.
 */
void pair_backward_fast(seg_record *rec, int32_t count, float longest_sample);

#endif
