/*
 * flow.cpp --
 *
 *	The setters of a record's ports and carried numbers (flow.h). Each
 *	one builds the record's flow entry as it is to be and looks it up in
 *	the flow table, which holds each entry once.
 */

#include "trace/flow.h"

void set_flow(seg_record &r, const flow_entry &f)
{
    r.flow = trace_flow_index(f);
}

void set_ports(seg_record &r, uint16_t sport, uint16_t dport)
{
    flow_entry f = flow_of(r);
    f.sport = sport;
    f.dport = dport;
    set_flow(r, f);
}

void set_seq_raw(seg_record &r, uint32_t s)
{
    r.seq = static_cast<int64_t>(s) - static_cast<int64_t>(flow_of(r).seq_base);
}

void set_ack_raw(seg_record &r, uint32_t a)
{
    if (a != 0) {
        r.ack = static_cast<int64_t>(a) - static_cast<int64_t>(flow_of(r).ack_base);
        return;
    }
    r.ack = 0;
    if (flow_of(r).ack_base == 0)
        return;
    flow_entry f = flow_of(r);
    f.ack_base = 0;
    set_flow(r, f);
}
