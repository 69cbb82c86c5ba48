/*
 * direction.cpp --
 *
 *	The address accessors' setters and the host tests of the direction
 *	test shared by the decoder, the analysis passes and the loader. See
 *	direction.h for the rule on connections whose two ends share one
 *	address.
 */

#include "trace/direction.h"

#include <cstring>

namespace {

endpoint make_endpoint(const ip_address &a, uint16_t port)
{
    endpoint e;
    std::memcpy(e.a6, a.a6, sizeof e.a6);
    e.a4 = a.a4;
    e.port = port;
    return e;
}

bool address_is(const ip_address &a, const endpoint &h)
{
    return a.a4 == h.a4 && std::memcmp(a.a6, h.a6, sizeof a.a6) == 0;
}

}  // namespace

void set_addresses(seg_record &r, const ip_address &src, const ip_address &dst)
{
    flow_entry f = flow_of(r);
    f.src_addr = trace_address_index(src);
    f.dst_addr = trace_address_index(dst);
    set_flow(r, f);
}

void set_src4(seg_record &r, uint64_t a4)
{
    ip_address a = source_address(r);
    a.a4 = a4;
    set_addresses(r, a, destination_address(r));
}

void set_dst4(seg_record &r, uint64_t a4)
{
    ip_address a = destination_address(r);
    a.a4 = a4;
    set_addresses(r, source_address(r), a);
}

void set_src6(seg_record &r, const uint8_t *a6)
{
    ip_address a = source_address(r);
    std::memcpy(a.a6, a6, sizeof a.a6);
    set_addresses(r, a, destination_address(r));
}

void set_dst6(seg_record &r, const uint8_t *a6)
{
    ip_address a = destination_address(r);
    std::memcpy(a.a6, a6, sizeof a.a6);
    set_addresses(r, source_address(r), a);
}

endpoint source_of(const seg_record &r)
{
    return make_endpoint(source_address(r), sport_of(r));
}

endpoint destination_of(const seg_record &r)
{
    return make_endpoint(destination_address(r), dport_of(r));
}

bool endpoint_match(const endpoint &e, const endpoint &h, bool same_addr)
{
    if (e.a4 != h.a4 || std::memcmp(e.a6, h.a6, 16) != 0)
        return false;
    return !same_addr || e.port == h.port;
}

bool sent_by(const seg_record &r, const endpoint &h)
{
    return address_is(source_address(r), h) &&
           (!same_address_connection(r) || sport_of(r) == h.port);
}

bool sent_to(const seg_record &r, const endpoint &h)
{
    return address_is(destination_address(r), h) &&
           (!same_address_connection(r) || dport_of(r) == h.port);
}
