/*
 * pairing.h --
 *
 *	Acknowledgement pairing: the third and fourth passes of the analysis.
 *	They link each segment with the segment that acknowledges it
 *	(acked_by on the acknowledged record, PAIR_ACKS on the acknowledging one)
 *	and leave two kinds of time sample for the delay estimator:
 *	ack_time, from a segment to its acknowledgement, and resp_time, from
 *	the highest acknowledgement so far to the segment the acknowledged
 *	host sends next from that point. -1 stands for no sample, 0 for no
 *	link. The plain forms never allocate; the fast forms use scratch
 *	allocated once per call.
 */

#ifndef WIREPAINT_ANALYSIS_PAIRING_H
#define WIREPAINT_ANALYSIS_PAIRING_H

#include <cstdint>

#include "trace/flow.h"
#include "trace/trace.h"

/*
 * expected_ack --
 *	The acknowledgement number that exactly acknowledges r: paylen plus
 *	the low 32 bits of seq, plus 1 for a SYN, in 32-bit signed (wrapping)
 *	arithmetic, sign-extended to 64 bits. A FIN does not count. Inline,
 *	since the pairing asks it once or twice for every segment.
 */
inline int64_t expected_ack(const seg_record &r)
{
    uint32_t sum = static_cast<uint32_t>(r.paylen) +
                   static_cast<uint32_t>(static_cast<uint64_t>(seq_of(r)));
    if ((r.tcp_flags & TH_SYN) != 0)
        sum += 1u;
    return static_cast<int64_t>(static_cast<int32_t>(sum));
}

/*
 * pair_forward_literal --
 *	Forward pairing over rec[0 .. count-1], in index order. Every record
 *	gets ack_time and resp_time -1 and acked_by 0 first; records with a
 *	mark or the skip flag stop there. Each other record with payload or
 *	SYN is paired with the first later record addressed to its source
 *	whose ack equals expected_ack (exact: ack_time set) or exceeds it
 *	(covering: link only); the acknowledging record's PAIR_ACKS bit
 *	tells whether it linked a record other than record 0.
 *	Unmarked records also move the one highest acknowledgement of both
 *	directions and take a resp_time when they start at it from the host
 *	it was addressed to. This plain form searches record by record, which
 *	is quadratic at worst; it is the reference the fast form is checked
 *	against.
 *	Result: the longest exact ack_time or resp_time recorded (-1 if none),
 *	which bounds the backward pairing.
 *	Side effects: ack_time, resp_time, acked_by and pair_flags of the records.
 */
float pair_forward_literal(seg_record *rec, int32_t count);

/*
 * pair_backward_literal --
 *	Backward pairing over rec[0 .. count-1], in index order: every still
 *	unpaired pure acknowledgement i (index 2 or more, no payload, no SYN,
 *	no PAIR_ACKS, mark without bit 4) walks back over records i-1 .. 1, passing
 *	over records whose mark has bit 4 and stopping once the time gap
 *	exceeds `longest_sample`; the oldest data record reached that has no
 *	acked_by becomes its pair (ack_time, acked_by on it, PAIR_ACKS on i).
 *	Record 0 is never looked at. This plain form walks every record in
 *	reach; it is the reference the fast form is checked against.
 *	Side effects: ack_time, acked_by and pair_flags of the records.
 */
void pair_backward_literal(seg_record *rec, int32_t count, float longest_sample);

/*
 * pair_backward_literal_from --
 *	The plain backward pairing from acknowledgement `from` on, over the
 *	records as they stand: what pair_backward_literal does for i >= from.
 *	Side effects as pair_backward_literal.
 */
void pair_backward_literal_from(seg_record *rec, int32_t count, int32_t from,
                                float longest_sample);

/*
 * pair_forward --
 *	The forward pairing over g_trace.main, as the analysis runs it:
 *	pair_forward_fast (pairing_fast.h), same result as the plain form.
 *	Result and side effects as pair_forward_literal.
 */
float pair_forward();

/*
 * pair_backward --
 *	The backward pairing over g_trace.main, as the analysis runs it:
 *	pair_backward_fast (pairing_fast.h), same result as the plain form.
 *	Side effects as pair_backward_literal.
 */
void pair_backward(float longest_sample);

#endif
