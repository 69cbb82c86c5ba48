/*
 * endpoint_text.cpp --
 *
 *	The "address:port" text of a segment's ends.
 */

#include "text/endpoint_text.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>

#include "trace/direction.h"
#include "trace/trace.h"

void address_text(const seg_record &r, int source, char *out, size_t size)
{
    if (g_trace.ipv6) {
        inet_ntop(AF_INET6, source ? src6_of(r) : dst6_of(r), out, static_cast<socklen_t>(size));
        return;
    }
    uint64_t a = source ? src4_of(r) : dst4_of(r);
    std::snprintf(out, size, "%u.%u.%u.%u", static_cast<unsigned>((a >> 24) & 0xff),
                  static_cast<unsigned>((a >> 16) & 0xff), static_cast<unsigned>((a >> 8) & 0xff),
                  static_cast<unsigned>(a & 0xff));
}

void endpoint_text(const seg_record &r, int source, char *out, size_t size)
{
    char addr[64];
    unsigned port = source ? sport_of(r) : dport_of(r);
    address_text(r, source, addr, sizeof addr);
    if (g_trace.ipv6)
        std::snprintf(out, size, "[%s]:%u", addr, port);
    else
        std::snprintf(out, size, "%s:%u", addr, port);
}
