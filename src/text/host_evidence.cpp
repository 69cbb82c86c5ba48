/*
 * host_evidence.cpp --
 *
 *	The capture host's evidence line (host_evidence.h): the left host's
 *	address and, in words, the rule that put it there.
 */

#include "text/host_evidence.h"

#include <cstdio>

#include "analysis/left_host.h"
#include "analysis/line.h"
#include "text/endpoint_text.h"
#include "trace/direction.h"
#include "trace/trace.h"

namespace {

/* The evidence in parentheses, for rule `rule`; "" for none. */
std::string evidence_text(const capture_host_evidence &ev)
{
    const char *what = g_trace.ipv6 ? "hop limit" : "TTL";
    char buf[160];
    switch (ev.rule) {
    case HOST_BY_NAME:
        return g_left_choice.in_window ? "named in View > Capture host" : "named with -H";
    case HOST_BY_GAPS:
        std::snprintf(buf, sizeof buf, "two captures: gaps longer at this end in %d of %d pairs",
                      ev.votes, ev.pairs);
        return buf;
    case HOST_BY_TTL:
        if (ev.ttl_right < 0)
            std::snprintf(buf, sizeof buf, "its packets leave with %s %d; none from the peer",
                          what, ev.ttl_left);
        else
            std::snprintf(buf, sizeof buf, "its packets leave with %s %d, the peer's arrive with %d",
                          what, ev.ttl_left, ev.ttl_right);
        return buf;
    case HOST_BY_PATH_TTL:
        std::snprintf(buf, sizeof buf,
                      "capture taken in the path, nearer this end: its packets arrive with %s %d, "
                      "the peer's with %d",
                      what, ev.ttl_left, ev.ttl_right);
        return buf;
    case HOST_BY_HANDSHAKE:
        return "handshake gaps";
    case HOST_BY_REFERENCE:
        return "delay estimate of the first acknowledged segment";
    case HOST_BY_NONE:
        break;
    }
    return "";
}

}  // namespace

std::string capture_host_line()
{
    if (g_trace.main.count <= 0 || g_trace.lines == nullptr)
        return "";
    std::string why = evidence_text(g_capture_host);
    if (why.empty())
        return "";
    /* The address, with the port when both ends share it (as -H takes it). */
    const seg_record &r0 = g_trace.main.rec[0];
    char addr[80];
    if (same_address_connection(r0))
        endpoint_text(r0, g_trace.lines[0].dir == 1, addr, sizeof addr);
    else
        address_text(r0, g_trace.lines[0].dir == 1, addr, sizeof addr);
    return std::string("Capture host:    ") + addr + " (" + why + ")\n";
}
