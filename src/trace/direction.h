/*
 * direction.h --
 *
 *	The one direction test of wirepaint. Every question of the form "do
 *	these two records travel the same way", "is record k addressed to
 *	record i's source" or "does this record come from that host" is asked
 *	here, so that the decoder, the analysis and the loader agree.
 *
 *	Two records travel the same way when their source addresses are equal
 *	(the IPv6 and the IPv4 field both; only one is nonzero). When the
 *	connection's two ends share one address (a loopback connection from
 *	127.0.0.1 to 127.0.0.1, say) the address tells nothing, and the tests
 *	compare the ports as well. A connection's two ends share an address
 *	exactly when a record's source and destination addresses are equal,
 *	so the tests need no state beyond the records themselves.
 */

#ifndef WIREPAINT_TRACE_DIRECTION_H
#define WIREPAINT_TRACE_DIRECTION_H

#include <cstdint>

#include "trace/trace.h"

/* An address in both forms (one of them zero) with a port. */
struct endpoint {
    uint8_t a6[16];
    uint64_t a4;
    uint16_t port;
};

endpoint source_of(const seg_record &r);
endpoint destination_of(const seg_record &r);

/* 1 when r's source and destination addresses are equal. */
bool same_address_connection(const seg_record &r);

/*
 * endpoint_match --
 *	Whether endpoint e is the host h, for a connection whose ends share
 *	one address when `same_addr` is set: addresses always, ports then too.
 */
bool endpoint_match(const endpoint &e, const endpoint &h, bool same_addr);

/* a and b travel in the same direction. */
bool same_direction(const seg_record &a, const seg_record &b);

/* k's destination is i's source: k travels towards the host i came from. */
bool addressed_to_source(const seg_record &k, const seg_record &i);

/* r was sent by host h (compared as same_direction compares). */
bool sent_by(const seg_record &r, const endpoint &h);

/* r is addressed to host h. */
bool sent_to(const seg_record &r, const endpoint &h);

#endif
