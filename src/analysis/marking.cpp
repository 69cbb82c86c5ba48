/*
 * marking.cpp --
 *
 *	The order check and the plain form of the pair scan of the segment
 *	analysis. Both work in place on the records' mark and mark_flags bytes
 *	and never allocate. The analysis runs the pair scan through its fast
 *	form (pair_scan_fast.cpp), which gives the same bytes; the plain form
 *	stays here as the reference it is checked against.
 *
 *	Three kinds of write touch those two bytes, and nothing else writes
 *	them here:
 *	  - storing a mark sets `mark` and clears every flag in the same write
 *	    (store_mark); the order check alone stores 6 with the skip flag set;
 *	  - setting the skip flag ORs bit 0 into mark_flags (set_skip);
 *	  - clearing a record zeroes both bytes (clear_mark).
 *	The duplicate-acknowledgement value 2 is ORed into `mark` and leaves
 *	the flags alone.
 *
 *	Every direction question goes through the direction test of
 *	trace/direction.h, so a connection whose two ends share one address
 *	is told apart by its ports.
 */

#include "analysis/marking.h"

#include "analysis/dest_index.h"

#include "analysis/pair_scan_fast.h"
#include "trace/direction.h"

namespace {

/* Stores mark value v and clears all flags with it. */
void store_mark(seg_record &r, uint8_t v)
{
    r.mark = v;
    r.mark_flags = 0;
}

/* Sets the skip flag and leaves the mark alone. */
void set_skip(seg_record &r)
{
    r.mark_flags = static_cast<uint8_t>(r.mark_flags | MARK_SKIP);
}

/* Clears a record: no mark, no flags. */
void clear_mark(seg_record &r)
{
    r.mark = 0;
    r.mark_flags = 0;
}

/* Sets the skip flag on rec[from .. to], both included. */
void set_skip_range(seg_record *rec, int32_t from, int32_t to)
{
    for (int32_t k = from; k <= to; k++)
        set_skip(rec[k]);
}

/* i carries data or a SYN: what a retransmission can repeat. */
bool has_payload_or_syn(const seg_record &r)
{
    return r.paylen != 0 || (r.tcp_flags & TH_SYN) != 0;
}

/* j repeats i's sequence number in i's direction. */
bool is_retransmission(const seg_record &i, const seg_record &j)
{
    return same_direction(j, i) && has_payload_or_syn(i) && seq_of(i) == seq_of(j);
}

/* r opens or closes a sequence space: a SYN or a FIN. */
bool has_syn_or_fin(const seg_record &r)
{
    return (r.tcp_flags & (TH_SYN | TH_FIN)) != 0;
}

/*
 * j duplicates i's acknowledgement: both of one direction with one ack
 * number, neither carrying data, a SYN or a FIN (RFC 5681, section 2),
 * and j with the ACK flag. A data segment repeats the ack it last sent
 * as a matter of course; only a bare ACK says "still waiting".
 */
bool is_dup_ack(const seg_record &i, const seg_record &j)
{
    return same_direction(j, i) && i.paylen == 0 && j.paylen == 0 &&
           !has_syn_or_fin(i) && !has_syn_or_fin(j) &&
           (j.tcp_flags & TH_ACK) != 0 && ack_of(i) == ack_of(j);
}

/*
 * The follow-up threshold after a retransmission at j: the low 32 bits of
 * j's seq plus one, as a 32-bit signed number (wrapping, not overflowing).
 */
int32_t follow_up_threshold(const seg_record &j)
{
    uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(seq_of(j)));
    return static_cast<int32_t>(low + 1u);
}

/*
 * One outer index of the pair scan: i against every later record j, in
 * ascending order. `follow` is the follow-up flag, `h` its threshold.
 */
void pair_scan_from(seg_record *rec, int32_t count, int32_t i)
{
    bool follow = false;
    int32_t h = 0;

    for (int32_t j = i + 1; j < count; j++) {
        seg_record &ri = rec[i];
        seg_record &rj = rec[j];
        bool follow_up;

        /* Step 1: retransmission; step 2: the follow-up flag. */
        if (is_retransmission(ri, rj)) {
            store_mark(ri, MARK_LOST_SEGMENT);
            store_mark(rj, MARK_RETRANSMISSION);
            set_skip_range(rec, i, j);
            h = follow_up_threshold(rj);
            follow_up = true;
        } else if (follow) {
            follow = false;
            follow_up = true;
        } else {
            follow_up = false;
        }

        /* Step 3: keep j out of timing until the acknowledgement beyond. */
        if (follow_up) {
            set_skip(rj);
            follow = true;
            if (addressed_to_source(rj, ri) &&
                ack_of(rj) > static_cast<int64_t>(h)) {
                clear_mark(rj);
                follow = false;
            }
        }

        /* Step 4: duplicate acknowledgement. */
        if (is_dup_ack(ri, rj)) {
            ri.mark = static_cast<uint8_t>(ri.mark | MARK_DUP_ACK);
            rj.mark = static_cast<uint8_t>(rj.mark | MARK_DUP_ACK);
            set_skip_range(rec, i, j);
        }
    }
}

} // namespace

namespace {

/* The order check, first_direction(i) telling whether record i goes the
 * way record 0 does. */
template <typename FirstDirection>
void order_check(FirstDirection first_direction_of)
{
    seg_record *rec = g_trace.main.rec;
    int32_t count = g_trace.main.count;
    int64_t highest_first = 0;
    int64_t highest_other = 0;

    for (int32_t i = 0; i < count; i++) {
        seg_record &r = rec[i];
        if (r.paylen == 0)
            continue;
        bool first_direction = first_direction_of(i);
        int64_t &highest = first_direction ? highest_first : highest_other;
        bool below = first_direction ? seq_of(r) < highest : seq_of(r) <= highest;
        if (below) {
            store_mark(r, MARK_OUT_OF_ORDER);
            set_skip(r);
            continue;
        }
        highest = seq_of(r);
    }
}

}  // namespace

void mark_order_check()
{
    const seg_record *rec = g_trace.main.rec;
    order_check([rec](int32_t i) { return same_direction(rec[i], rec[0]); });
}

void mark_order_check_indexed(const dest_index *ix)
{
    if (ix == nullptr) {
        mark_order_check();
        return;
    }
    endpoint_number first = ix->src.empty() ? 0 : ix->src[0];
    order_check([ix, first](int32_t i) { return ix->src[static_cast<size_t>(i)] == first; });
}

void mark_pair_scan_literal(seg_record *rec, int32_t count)
{
    for (int32_t i = 0; i + 1 < count; i++)
        pair_scan_from(rec, count, i);
}

void mark_pair_scan()
{
    mark_pair_scan_fast(g_trace.main.rec, g_trace.main.count);
}
