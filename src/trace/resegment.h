/*
 * resegment.h --
 *
 *	Copies of segments that the other capture point cut otherwise. With
 *	the offloads Linux hosts have by default, the sender's capture holds
 *	super-segments of many MSS (TSO, GSO) and the receiver's capture the
 *	same bytes in other pieces (GRO merges what arrives), so most data
 *	segments have no peer record of their own numbers (trace/matcher.h).
 *	The copy of such a segment is the peer record, in its direction,
 *	that holds its last payload byte (carried sequence numbers, modulo
 *	2^32) and that the caller does not rule out (the loader rules out
 *	the copies of other segments cut alike); of several (retransmissions)
 *	the one nearest in time by the matcher's distance, ties to the
 *	lowest peer index. A main record that holds the same byte and lies
 *	nearer to that peer record takes it instead, ties to the lower main
 *	index: the segment is then an original lost between the capture
 *	points, and the peer record the copy of its retransmission.
 *
 *	Only segments with payload have such a copy; the loader looks for
 *	them only once its anchor shows that the two captures carry the same
 *	sequence numbers.
 */

#ifndef WIREPAINT_TRACE_RESEGMENT_H
#define WIREPAINT_TRACE_RESEGMENT_H

#include <cstdint>

/* One main record to look up, and where its copy is expected (the
 * `expect` of match_segment). */
struct reseg_query {
    int32_t i;       /* main record index */
    float expect;    /* s, as match_segment's */
};

/*
 * match_resegmented --
 *	For each of the n queries (distinct main records), the peer index of
 *	main record q[k].i's copy cut otherwise into copy[k], or -1; the
 *	clock as match_segment's nearest-time mode takes it (offset, rate,
 *	start); `skip`, when not null, rules out the peer records whose byte
 *	is nonzero. Reads each peer record not ruled out once and, when one
 *	of them holds a byte asked for, each main record once, each
 *	searching the sorted last bytes of the queries from where the last
 *	search of its direction ended: (main + peer count) log n at most.
 *	Reads g_trace.main and g_trace.peer; throws std::bad_alloc when
 *	memory runs out.
 */
void match_resegmented(const reseg_query *q, int32_t n, const uint8_t *skip, float offset,
                       float rate, float start, int32_t *copy);

/* The same answer for one record, by scanning both traces. */
int32_t match_resegmented_literal(int32_t i, const uint8_t *skip, float offset, float expect,
                                  float rate, float start);

#endif
