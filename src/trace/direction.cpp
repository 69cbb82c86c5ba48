/*
 * direction.cpp --
 *
 *	The direction test shared by the decoder, the analysis passes and the
 *	loader. See direction.h for the rule on connections whose two ends
 *	share one address.
 */

#include "trace/direction.h"

#include <cstring>

endpoint source_of(const seg_record &r)
{
    endpoint e;
    std::memcpy(e.a6, r.src6, sizeof e.a6);
    e.a4 = r.src4;
    e.port = r.sport;
    return e;
}

endpoint destination_of(const seg_record &r)
{
    endpoint e;
    std::memcpy(e.a6, r.dst6, sizeof e.a6);
    e.a4 = r.dst4;
    e.port = r.dport;
    return e;
}

bool same_address_connection(const seg_record &r)
{
    return r.src4 == r.dst4 && std::memcmp(r.src6, r.dst6, 16) == 0;
}

bool endpoint_match(const endpoint &e, const endpoint &h, bool same_addr)
{
    if (e.a4 != h.a4 || std::memcmp(e.a6, h.a6, 16) != 0)
        return false;
    return !same_addr || e.port == h.port;
}

bool same_direction(const seg_record &a, const seg_record &b)
{
    return endpoint_match(source_of(a), source_of(b),
                          same_address_connection(a));
}

bool addressed_to_source(const seg_record &k, const seg_record &i)
{
    return endpoint_match(destination_of(k), source_of(i),
                          same_address_connection(i));
}

bool sent_by(const seg_record &r, const endpoint &h)
{
    return endpoint_match(source_of(r), h, same_address_connection(r));
}

bool sent_to(const seg_record &r, const endpoint &h)
{
    return endpoint_match(destination_of(r), h, same_address_connection(r));
}
