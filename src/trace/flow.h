/*
 * flow.h --
 *
 *	The ports and the relative numbers of a record, which the record
 *	does not hold: all records of one way of a connection share its ports
 *	and the bases its relative numbers are taken from, so each record
 *	keeps one small index into the flow table of g_trace (trace/trace.h),
 *	beside the numbers as carried, and every reader and writer of a
 *	record's ports and numbers goes through the accessors here (its
 *	addresses through trace/direction.h).
 *
 *	A record's relative numbers are its carried ones less the bases of
 *	its flow entry; a record whose ack field is 0 has a flow entry with
 *	ack base 0, so its relative ack is 0. The setters keep that true:
 *	setting a carried number moves the relative one by the record's base,
 *	and setting a relative number keeps the carried one where the base
 *	allows and takes another base where it does not.
 */

#ifndef WIREPAINT_TRACE_FLOW_H
#define WIREPAINT_TRACE_FLOW_H

#include <cstdint>

#include "trace/trace.h"

/* r's entry in the flow table. */
inline const flow_entry &flow_of(const seg_record &r)
{
    return g_trace.flows.flow[r.flow];
}

/* r's TCP source and destination port, host order. */
inline uint16_t sport_of(const seg_record &r) { return flow_of(r).sport; }
inline uint16_t dport_of(const seg_record &r) { return flow_of(r).dport; }

/* r's sequence and acknowledgement number as carried, host order (the
 * acknowledgement number 0 when the field is 0). */
inline uint32_t seq_raw_of(const seg_record &r) { return r.seq_raw; }
inline uint32_t ack_raw_of(const seg_record &r) { return r.ack_raw; }

/* r's sequence number relative to its direction's ISN, and its ack
 * number relative to the other ISN (0 when the field is 0). */
inline int64_t seq_of(const seg_record &r)
{
    return static_cast<int64_t>(r.seq_raw) - flow_of(r).seq_base;
}

inline int64_t ack_of(const seg_record &r)
{
    return static_cast<int64_t>(r.ack_raw) - flow_of(r).ack_base;
}

/*
 * set_flow --
 *	Gives r the flow entry `f`, adding it to the flow table when it is
 *	new (trace_flow_index). r's relative numbers stay, so its carried
 *	ones follow f's bases.
 */
void set_flow(seg_record &r, const flow_entry &f);

/* Gives r the ports `sport` and `dport`, keeping the rest of its flow. */
void set_ports(seg_record &r, uint16_t sport, uint16_t dport);

/*
 * set_seq_raw, set_ack_raw --
 *	Give r the carried number `s` (`a`) as the decoder would from r's
 *	bases: its relative number becomes the carried one less the base,
 *	and for an ack field of 0 the relative ack is 0 and the ack base 0
 *	(another flow entry when r's has another ack base).
 */
void set_seq_raw(seg_record &r, uint32_t s);
void set_ack_raw(seg_record &r, uint32_t a);

/*
 * set_seq, set_ack --
 *	Give r the relative number `v`: the carried number becomes v plus
 *	r's base when that is a 32-bit number, else v's low 32 bits plus the
 *	base's, with the base that gives v (another flow entry).
 */
void set_seq(seg_record &r, int64_t v);
void set_ack(seg_record &r, int64_t v);

#endif
