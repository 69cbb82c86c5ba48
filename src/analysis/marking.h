/*
 * marking.h --
 *
 *	Segment marking: the first two passes of the analysis. They give every
 *	record of the main trace its class byte (`mark`) and set the skip flag
 *	(bit 0 of `mark_flags`) on records whose timing must not feed the delay
 *	estimator.
 *
 *	Marks: 2 duplicate acknowledgement (ORed in), 3 retransmission, 4 the
 *	segment that was sent again (lost), 6 out of order. 3, 4 and 6 are
 *	stored whole. The passes read only addresses, ports (through the
 *	direction test), tcp_flags, seq, ack and paylen, and write only mark
 *	and mark_flags. The order check and the plain pair scan never
 *	allocate; the fast pair scan uses scratch freed before it returns.
 */

#ifndef WIREPAINT_ANALYSIS_MARKING_H
#define WIREPAINT_ANALYSIS_MARKING_H

#include <cstdint>

#include "trace/trace.h"

/* Values of seg_record.mark. */
enum {
    MARK_NONE = 0,
    MARK_DUP_ACK = 2,        /* ORed into whatever the mark holds */
    MARK_RETRANSMISSION = 3,
    MARK_LOST_SEGMENT = 4,
    MARK_OUT_OF_ORDER = 6
};

/*
 * mark_order_check --
 *	One pass over g_trace.main in index order. A data record (paylen != 0)
 *	whose seq is below the highest seq already seen in its direction
 *	(below or equal for the direction opposite to record 0's) gets mark 6
 *	with the skip flag set; any other data record raises its direction's
 *	highest seq. Both highest values start at 0.
 *	Side effects: mark and mark_flags of main-trace records.
 */
void mark_order_check();

struct dest_index;

/*
 * mark_order_check_indexed --
 *	mark_order_check with the direction of each record read from the
 *	endpoint numbers of `ix`, built over the main trace (dest_index.h);
 *	mark_order_check itself when `ix` is null. Same marks, same side
 *	effects.
 */
void mark_order_check_indexed(const dest_index *ix);

/*
 * mark_pair_scan_literal --
 *	The pair scan in its plain form: every ordered pair (i, j), i < j, is
 *	visited with i ascending and, for each i, j ascending; later writes
 *	overwrite earlier ones. Finds retransmissions (4 on the earlier copy,
 *	3 on the later), keeps the skip flag on the records that follow a
 *	retransmission up to the first acknowledgement beyond it (which is
 *	cleared), and ORs 2 into duplicate-acknowledgement pairs.
 *	This form is the reference any faster scan must agree with, mark for
 *	mark and flag for flag.
 *	Side effects: mark and mark_flags of rec[0 .. count-1].
 */
void mark_pair_scan_literal(seg_record *rec, int32_t count);

/*
 * mark_pair_scan --
 *	The pair scan over g_trace.main, as the analysis entry runs it right
 *	after mark_order_check: mark_pair_scan_fast (pair_scan_fast.h), which
 *	gives the same bytes as mark_pair_scan_literal in O(n log n) time,
 *	with scratch memory allocated and freed within the call.
 *	Side effects: mark and mark_flags of main-trace records.
 */
void mark_pair_scan();

#endif
