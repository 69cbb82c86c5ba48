/*
 * left_host.cpp --
 *
 *	The named capture host and the handshake rule for the left axis. The
 *	reference-record rule that comes last stays beside the line list in
 *	analyse.cpp.
 */

#include "analysis/left_host.h"

#include <cstring>

#include <arpa/inet.h>

#include "trace/trace.h"

left_host_choice g_left_choice;

namespace {

/* A TCP port of 1 to 5 decimal digits, 0 .. 65535; -1 when it is not. */
int port_number(const char *text)
{
    size_t n = std::strlen(text);
    if (n == 0 || n > 5)
        return -1;
    long v = 0;
    for (size_t i = 0; i < n; i++) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v <= 65535 ? static_cast<int>(v) : -1;
}

/* Fills an address of `c` from `text`, IPv4 or IPv6; 0 when it is none. */
int parse_address(const std::string &text, left_host_choice &c)
{
    uint8_t b[16];
    if (inet_pton(AF_INET, text.c_str(), b) == 1) {
        c.v6 = 0;
        std::memset(c.a6, 0, sizeof c.a6);
        c.a4 = (static_cast<uint64_t>(b[0]) << 24) | (static_cast<uint64_t>(b[1]) << 16) |
               (static_cast<uint64_t>(b[2]) << 8) | b[3];
        return 1;
    }
    if (inet_pton(AF_INET6, text.c_str(), b) == 1) {
        c.v6 = 1;
        std::memcpy(c.a6, b, sizeof c.a6);
        c.a4 = 0;
        return 1;
    }
    return 0;
}

/*
 * Splits "[v6]:port", "v4:port", or a bare address into `c`; 0 when the
 * text is none of these.
 */
int parse_host(const char *text, left_host_choice &c)
{
    std::string s(text);
    c.has_port = 0;
    if (!s.empty() && s[0] == '[') {
        size_t close = s.find(']');
        if (close == std::string::npos)
            return 0;
        std::string rest = s.substr(close + 1);
        if (!rest.empty()) {
            int port = rest[0] == ':' ? port_number(rest.c_str() + 1) : -1;
            if (port < 0)
                return 0;
            c.has_port = 1;
            c.port = static_cast<uint16_t>(port);
        }
        return parse_address(s.substr(1, close - 1), c) && c.v6;
    }
    size_t colon = s.find(':');
    if (colon != std::string::npos && s.find(':', colon + 1) == std::string::npos) {
        /* One colon: an IPv4 endpoint. */
        int port = port_number(s.c_str() + colon + 1);
        if (port < 0)
            return 0;
        c.has_port = 1;
        c.port = static_cast<uint16_t>(port);
        return parse_address(s.substr(0, colon), c) && !c.v6;
    }
    return parse_address(s, c);
}

/* Whether end `e` of the connection is the named host. */
bool names_end(const left_host_choice &c, const endpoint &e)
{
    if (c.v6 != (g_trace.ipv6 ? 1 : 0))
        return false;
    if (c.a4 != e.a4 || std::memcmp(c.a6, e.a6, sizeof c.a6) != 0)
        return false;
    return !c.has_port || c.port == e.port;
}

}  // namespace

int left_host_name(const char *text)
{
    left_host_choice c;
    c.named = 1;
    if (text == nullptr || !parse_host(text, c))
        return 0;
    c.text = text;
    c.outcome = LEFT_NAMED_UNUSED;
    g_left_choice = c;
    return 1;
}

void left_host_forget()
{
    g_left_choice = left_host_choice();
}

int named_left_host(endpoint *left)
{
    left_host_choice &c = g_left_choice;
    c.outcome = LEFT_NAMED_UNUSED;
    if (!c.named || g_trace.main.count <= 0)
        return 0;
    const seg_record &r = g_trace.main.rec[0];
    endpoint src = source_of(r), dst = destination_of(r);
    bool is_src = names_end(c, src), is_dst = names_end(c, dst);
    if (is_src && is_dst) {
        c.outcome = LEFT_NAMED_BOTH_ENDS;
        return 0;
    }
    if (!is_src && !is_dst) {
        c.outcome = LEFT_NAMED_NO_END;
        return 0;
    }
    c.outcome = LEFT_NAMED_TAKEN;
    *left = is_src ? src : dst;
    return 1;
}

int handshake_left_host(endpoint *left)
{
    const trace_array &t = g_trace.main;
    int32_t a = -1;
    for (int32_t k = 0; k < t.count && a < 0; k++)
        if ((t.rec[k].tcp_flags & (TH_SYN | TH_ACK)) == (TH_SYN | TH_ACK))
            a = k;
    if (a < 0)
        return 0;
    const seg_record &ra = t.rec[a];
    int32_t s = -1;
    for (int32_t k = a - 1; k >= 0 && s < 0; k--) {
        const seg_record &r = t.rec[k];
        if ((r.tcp_flags & (TH_SYN | TH_ACK)) == TH_SYN && addressed_to_source(r, ra))
            s = k;
    }
    if (s < 0)
        return 0;
    const seg_record &rs = t.rec[s];
    int32_t c = -1;
    for (int32_t k = a + 1; k < t.count && c < 0; k++)
        if (same_direction(t.rec[k], rs))
            c = k;
    if (c < 0)
        return 0;
    float g1 = ra.time - rs.time;
    float g2 = t.rec[c].time - ra.time;
    if (g1 > g2) {
        *left = source_of(rs);
        return 1;
    }
    if (g1 < g2) {
        *left = source_of(ra);
        return 1;
    }
    return 0;
}
