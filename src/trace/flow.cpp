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
    r.seq_raw = s;
}

void set_ack_raw(seg_record &r, uint32_t a)
{
    r.ack_raw = a;
    if (a != 0 || flow_of(r).ack_base == 0)
        return;
    flow_entry f = flow_of(r);
    f.ack_base = 0;
    set_flow(r, f);
}

namespace {

/* The carried number for relative number v over *base, which becomes
 * the base that gives v when the present one cannot. */
uint32_t carried_for(int64_t v, int64_t *base)
{
    uint64_t raw = static_cast<uint64_t>(v) + static_cast<uint64_t>(*base);
    uint32_t low = static_cast<uint32_t>(raw);
    if (raw != low)
        *base = static_cast<int64_t>(low) - v;
    return low;
}

}  // namespace

void set_seq(seg_record &r, int64_t v)
{
    flow_entry f = flow_of(r);
    r.seq_raw = carried_for(v, &f.seq_base);
    if (f.seq_base != flow_of(r).seq_base)
        set_flow(r, f);
}

void set_ack(seg_record &r, int64_t v)
{
    flow_entry f = flow_of(r);
    r.ack_raw = carried_for(v, &f.ack_base);
    if (f.ack_base != flow_of(r).ack_base)
        set_flow(r, f);
}
