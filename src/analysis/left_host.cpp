/*
 * left_host.cpp --
 *
 *	The named capture host and the rules of evidence for the left axis:
 *	the gaps between copies of two captures, the TTLs of one, the
 *	handshake. The reference-record rule that comes last stays beside
 *	the line list in analyse.cpp.
 */

#include "analysis/left_host.h"

#include <cstring>

#include <arpa/inet.h>

#include "trace/matcher.h"
#include "trace/trace.h"

left_host_choice g_left_choice;
capture_host_evidence g_capture_host;

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

/* The values a sending host starts the TTL (hop limit) at. */
const int initial_ttls[] = {32, 64, 128, 255};

/* Routers passed since the nearest initial value at or above v. */
int hops_from_initial(int v)
{
    for (int t : initial_ttls)
        if (v <= t)
            return t - v;
    return 0;
}

/* The most common value of a direction's counts (ties to the larger
 * value); -1 when the direction has no record. */
int most_common_ttl(const uint32_t count[256])
{
    int best = -1;
    for (int v = 0; v < 256; v++)
        if (count[v] > 0 && (best < 0 || count[v] >= count[best]))
            best = v;
    return best;
}

}  // namespace

bool initial_ttl(int v)
{
    for (int t : initial_ttls)
        if (v == t)
            return true;
    return false;
}

void capture_host_reset()
{
    g_capture_host = capture_host_evidence();
    g_capture_host.ttl_left = g_capture_host.ttl_right = -1;
}

capture_host_rule ttl_left_host(endpoint *left)
{
    const trace_array &t = g_trace.main;
    if (t.count <= 0)
        return HOST_BY_NONE;
    int ttl[2] = {most_common_ttl(t.ttl_count[0]), most_common_ttl(t.ttl_count[1])};
    endpoint source[2] = {source_of(t.rec[0]), destination_of(t.rec[0])};
    bool initial[2] = {ttl[0] >= 0 && initial_ttl(ttl[0]), ttl[1] >= 0 && initial_ttl(ttl[1])};
    if (initial[0] != initial[1]) {
        *left = source[initial[0] ? 0 : 1];
        return HOST_BY_TTL;
    }
    if (initial[0] || ttl[0] < 0 || ttl[1] < 0)
        return HOST_BY_NONE;
    int hops[2] = {hops_from_initial(ttl[0]), hops_from_initial(ttl[1])};
    if (hops[0] == hops[1])
        return HOST_BY_NONE;
    *left = source[hops[0] < hops[1] ? 0 : 1];
    return HOST_BY_PATH_TTL;
}

void capture_host_note_ttls(const endpoint &left)
{
    const trace_array &t = g_trace.main;
    if (t.count <= 0)
        return;
    int d = sent_by(t.rec[0], left) ? 0 : 1;
    g_capture_host.ttl_left = most_common_ttl(t.ttl_count[d]);
    g_capture_host.ttl_right = most_common_ttl(t.ttl_count[1 - d]);
}

int gap_left_host(endpoint *left, int *pairs, int *votes)
{
    const trace_array &t = g_trace.main;
    const trace_array &p = g_trace.peer;
    if (t.count <= 0 || p.count <= 0)
        return 0;
    /* vote[0]: taken where record 0 was sent; vote[1]: at the other end. */
    int vote[2] = {0, 0}, compared = 0;
    int32_t prev = -1, prev_copy = -1;
    for (int32_t k = 0; k < t.count && compared < MAX_GAP_PAIRS; k++) {
        int32_t m = match_segment(k, MATCH_FIRST, -1.0f);
        if (m < 0)
            continue;
        if (prev >= 0 && !same_direction(t.rec[prev], t.rec[k])) {
            double here = (double)t.rec[k].time - t.rec[prev].time;
            double there = (double)p.rec[m].time - p.rec[prev_copy].time;
            compared++;
            /* Longer here: taken at prev's source; shorter: at k's. */
            const seg_record &sender = here > there ? t.rec[prev] : t.rec[k];
            if (here != there)
                vote[same_direction(sender, t.rec[0]) ? 0 : 1]++;
        }
        prev = k;
        prev_copy = m;
    }
    if (vote[0] == vote[1])
        return 0;
    int won = vote[0] > vote[1] ? 0 : 1;
    *left = won == 0 ? source_of(t.rec[0]) : destination_of(t.rec[0]);
    *pairs = compared;
    *votes = vote[won];
    return 1;
}

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
