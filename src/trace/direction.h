/*
 * direction.h --
 *
 *	The addresses of a record and the one direction test of wirepaint.
 *
 *	A record does not hold its addresses: a connection has two, so the
 *	record's flow entry (trace/flow.h) keeps two small indexes into the
 *	address table of g_trace (trace/trace.h), and every reader and writer
 *	of a record's addresses goes through the accessors here. Equal
 *	addresses have equal indexes, equal flow entries equal flow indexes.
 *
 *	Every question of the form "do these two records travel the same
 *	way", "is record k addressed to record i's source" or "does this
 *	record come from that host" is asked here, so that the decoder, the
 *	analysis and the loader agree.
 *
 *	Two records travel the same way when their source addresses are equal
 *	(the IPv6 and the IPv4 form both; only one is nonzero). When the
 *	connection's two ends share one address (a loopback connection from
 *	127.0.0.1 to 127.0.0.1, say) the address tells nothing, and the tests
 *	compare the ports as well. A connection's two ends share an address
 *	exactly when a record's source and destination addresses are equal,
 *	so the tests need no state beyond the records themselves.
 */

#ifndef WIREPAINT_TRACE_DIRECTION_H
#define WIREPAINT_TRACE_DIRECTION_H

#include <cstdint>
#include <cstring>

#include "trace/flow.h"
#include "trace/trace.h"

/* An address in both forms (one of them zero) with a port. */
struct endpoint {
    uint8_t a6[16];
    uint64_t a4;
    uint16_t port;
};

/* The indexes of r's source and destination address in the address table. */
inline uint16_t src_index_of(const seg_record &r) { return flow_of(r).src_addr; }
inline uint16_t dst_index_of(const seg_record &r) { return flow_of(r).dst_addr; }

/* The source and the destination address of r. */
inline const ip_address &source_address(const seg_record &r)
{
    return g_trace.addrs.addr[src_index_of(r)];
}

inline const ip_address &destination_address(const seg_record &r)
{
    return g_trace.addrs.addr[dst_index_of(r)];
}

/* The address forms one at a time: IPv4 host order (0 for IPv6) and the
 * 16 IPv6 bytes as carried (all zero for IPv4). */
inline uint64_t src4_of(const seg_record &r) { return source_address(r).a4; }
inline uint64_t dst4_of(const seg_record &r) { return destination_address(r).a4; }
inline const uint8_t *src6_of(const seg_record &r) { return source_address(r).a6; }
inline const uint8_t *dst6_of(const seg_record &r) { return destination_address(r).a6; }

/*
 * set_addresses --
 *	Gives r the source `src` and the destination `dst`, adding them to
 *	the address table when they are new (trace_address_index), and
 *	keeping the rest of r's flow entry (set_flow).
 */
void set_addresses(seg_record &r, const ip_address &src, const ip_address &dst);

/* Set one address form of r, keeping the other form as it was, as a
 * field of the record would be set. */
void set_src4(seg_record &r, uint64_t a4);
void set_dst4(seg_record &r, uint64_t a4);
void set_src6(seg_record &r, const uint8_t *a6);
void set_dst6(seg_record &r, const uint8_t *a6);

endpoint source_of(const seg_record &r);
endpoint destination_of(const seg_record &r);

/* 1 when r's source and destination addresses are equal. */
inline bool same_address_connection(const seg_record &r)
{
    const flow_entry &f = flow_of(r);
    return f.src_addr == f.dst_addr;
}

/*
 * endpoint_match --
 *	Whether endpoint e is the host h, for a connection whose ends share
 *	one address when `same_addr` is set: addresses always, ports then too.
 */
bool endpoint_match(const endpoint &e, const endpoint &h, bool same_addr);

/* a and b travel in the same direction. */
inline bool same_direction(const seg_record &a, const seg_record &b)
{
    if (a.flow == b.flow)
        return true;
    const flow_entry &fa = flow_of(a);
    const flow_entry &fb = flow_of(b);
    return fa.src_addr == fb.src_addr && (fa.src_addr != fa.dst_addr || fa.sport == fb.sport);
}

/* k's destination is i's source: k travels towards the host i came from. */
inline bool addressed_to_source(const seg_record &k, const seg_record &i)
{
    const flow_entry &fk = flow_of(k);
    const flow_entry &fi = flow_of(i);
    return fk.dst_addr == fi.src_addr && (fi.src_addr != fi.dst_addr || fk.dport == fi.sport);
}

/* r was sent by host h (compared as same_direction compares). */
bool sent_by(const seg_record &r, const endpoint &h);

/* r is addressed to host h. */
bool sent_to(const seg_record &r, const endpoint &h);

#endif
