/*
 * connlist.cpp --
 *
 *	The connection list of a capture file and the choice of connection.
 *
 *	The list is one pass over the file: every frame goes through the
 *	link-header walk and the decoder's TCP-header finder, and a hash table
 *	keyed by the two ends in a fixed order finds the connection's row, so
 *	each packet costs one lookup and nothing is allocated for a packet of
 *	a connection already seen.
 */

#include "trace/connlist.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "trace/binread.h"
#include "capture/bytes.h"
#include "capture/capfile.h"
#include "capture/filemap.h"
#include "capture/linktype.h"
#include "capture/loadfail.h"

connsel_state g_connsel = {{}, -1};

namespace {

/* The two ends in a fixed order (lower address, then port, first). */
struct pair_key {
    uint8_t v6;
    uint8_t addr[2][16];
    uint16_t port[2];

    bool operator==(const pair_key &o) const
    {
        return v6 == o.v6 && port[0] == o.port[0] && port[1] == o.port[1] &&
               std::memcmp(addr, o.addr, sizeof addr) == 0;
    }
};

struct pair_hash {
    size_t operator()(const pair_key &k) const
    {
        /* FNV-1a over the fields. */
        uint64_t h = 1469598103934665603ull;
        auto mix = [&h](const uint8_t *p, size_t n) {
            for (size_t i = 0; i < n; i++) {
                h ^= p[i];
                h *= 1099511628211ull;
            }
        };
        mix(&k.v6, 1);
        mix(&k.addr[0][0], sizeof k.addr);
        uint8_t ports[4] = {(uint8_t)(k.port[0] >> 8), (uint8_t)k.port[0],
                            (uint8_t)(k.port[1] >> 8), (uint8_t)k.port[1]};
        mix(ports, 4);
        return (size_t)h;
    }
};

/* Compares end i of e with end j (address, then port). */
int compare_end(const conn_ends &e, int i, int j)
{
    int c = std::memcmp(e.addr[i], e.addr[j], 16);
    if (c != 0)
        return c;
    return (int)e.port[i] - (int)e.port[j];
}

pair_key key_of(const conn_ends &e)
{
    pair_key k;
    std::memset(&k, 0, sizeof k);
    k.v6 = (uint8_t)e.v6;
    int lo = compare_end(e, 0, 1) <= 0 ? 0 : 1;
    std::memcpy(k.addr[0], e.addr[lo], 16);
    std::memcpy(k.addr[1], e.addr[1 - lo], 16);
    k.port[0] = e.port[lo];
    k.port[1] = e.port[1 - lo];
    return k;
}

/* The ends of a segment as sent: end 0 its source. */
conn_ends ends_of(const uint8_t *ip, bool v6, uint16_t sport, uint16_t dport)
{
    conn_ends e;
    std::memset(&e, 0, sizeof e);
    e.v6 = v6 ? 1 : 0;
    size_t n = v6 ? 16 : 4;
    std::memcpy(e.addr[0], ip + (v6 ? 8 : 12), n);
    std::memcpy(e.addr[1], ip + (v6 ? 24 : 16), n);
    e.port[0] = sport;
    e.port[1] = dport;
    return e;
}

bool end_is(const conn_ends &a, int i, const conn_ends &b, int j)
{
    return a.port[i] == b.port[j] && std::memcmp(a.addr[i], b.addr[j], 16) == 0;
}

/* The state of one listing pass. */
struct list_pass {
    int linktype;
    std::vector<conn_row> rows;
    std::unordered_map<pair_key, size_t, pair_hash> index;
    conn_visitor visit;   /* null: count only */
    void *user;
};

/* Counts a segment in its row; returns the row and sets *way. */
size_t count_segment(list_pass &p, const conn_ends &e, int32_t paylen,
                     const struct pcap_pkthdr *hdr, int *way_out)
{
    pair_key k = key_of(e);
    auto found = p.index.find(k);
    if (found == p.index.end()) {
        conn_row r;
        std::memset(&r, 0, sizeof r);
        r.ends = e;
        r.first_sec = hdr->ts.tv_sec;
        r.first_usec = hdr->ts.tv_usec;
        found = p.index.emplace(k, p.rows.size()).first;
        p.rows.push_back(r);
    }
    conn_row &r = p.rows[found->second];
    int way = end_is(r.ends, 0, e, 0) ? 0 : 1;
    r.packets[way]++;
    if (paylen > 0)
        r.bytes[way] += (uint64_t)paylen;
    r.last_sec = hdr->ts.tv_sec;
    r.last_usec = hdr->ts.tv_usec;
    *way_out = way;
    return found->second;
}

void list_packet(u_char *user, const struct pcap_pkthdr *hdr, const u_char *data)
{
    list_pass &p = *reinterpret_cast<list_pass *>(user);
    uint32_t off = 0;
    if (link_ip_offset(p.linktype, data, hdr->caplen, &off) != LINK_IP)
        return;
    const uint8_t *ip = data + off;
    tcp_header_place where;
    if (!find_tcp_header(ip, hdr->caplen - off, &where))
        return;
    const uint8_t *tcp = ip + where.off;
    int way = 0;
    size_t row = count_segment(p, ends_of(ip, where.v6, read_be16(tcp), read_be16(tcp + 2)),
                               where.paylen, hdr, &way);
    if (p.visit != nullptr)
        p.visit(p.user, conn_segment{row, way, tcp, hdr->caplen - off - where.off, where.paylen,
                                     hdr, ip[where.v6 ? 7 : 8]});
}

std::string time_text(int64_t sec, int64_t usec)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", (long long)sec, (long long)usec);
    return buf;
}

double seconds_between(const conn_row &r)
{
    return (double)(r.last_sec - r.first_sec) + (double)(r.last_usec - r.first_usec) / 1e6;
}

}  // namespace

std::vector<conn_row> list_connections(const char *file, conn_visitor visit, void *user)
{
    pcap_t *pc = capture_open(file);
    list_pass p;
    p.linktype = pcap_datalink(pc);
    p.visit = visit;
    p.user = user;
    file_map *m = filemap_open(file, p.linktype, 0);
    try {
        capture_run_mapped(pc, file, m, list_packet, reinterpret_cast<u_char *>(&p));
    } catch (const load_error &) {
        filemap_close(m);
        throw;
    }
    filemap_close(m);
    return p.rows;
}

std::string conn_end_text(const conn_ends &e, int i)
{
    char addr[INET6_ADDRSTRLEN];
    inet_ntop(e.v6 ? AF_INET6 : AF_INET, e.addr[i], addr, sizeof addr);
    char buf[INET6_ADDRSTRLEN + 16];
    if (e.v6)
        std::snprintf(buf, sizeof buf, "[%s]:%u", addr, (unsigned)e.port[i]);
    else
        std::snprintf(buf, sizeof buf, "%s:%u", addr, (unsigned)e.port[i]);
    return buf;
}

std::vector<std::string> connection_table(const std::vector<conn_row> &rows)
{
    std::vector<std::string> lines;
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-4s %-22s %-22s %8s %10s %8s %10s %-17s %-17s %s", "#",
                  "from (sent first)", "to", "pkts>", "bytes>", "pkts<", "bytes<", "first",
                  "last", "duration");
    lines.push_back(buf);
    for (size_t i = 0; i < rows.size(); i++) {
        const conn_row &r = rows[i];
        std::snprintf(buf, sizeof buf, "%-4zu %-22s %-22s %8llu %10llu %8llu %10llu %-17s %-17s %.6f",
                      i + 1, conn_end_text(r.ends, 0).c_str(), conn_end_text(r.ends, 1).c_str(),
                      (unsigned long long)r.packets[0], (unsigned long long)r.bytes[0],
                      (unsigned long long)r.packets[1], (unsigned long long)r.bytes[1],
                      time_text(r.first_sec, r.first_usec).c_str(),
                      time_text(r.last_sec, r.last_usec).c_str(), seconds_between(r));
        lines.push_back(buf);
    }
    return lines;
}

bool same_pair(const conn_ends &a, const conn_ends &b)
{
    return a.v6 == b.v6 && key_of(a) == key_of(b);
}

bool same_ports(const conn_ends &a, const conn_ends &b)
{
    return (a.port[0] == b.port[0] && a.port[1] == b.port[1]) ||
           (a.port[0] == b.port[1] && a.port[1] == b.port[0]);
}

void conn_select_clear()
{
    g_connsel.choices.clear();
    g_connsel.current = -1;
}

void conn_select_set(const std::string &file, const conn_ends &ends)
{
    for (conn_choice &c : g_connsel.choices) {
        if (c.file == file) {
            c.ends = ends;
            return;
        }
    }
    g_connsel.choices.push_back({file, ends});
}

void conn_select_begin(const char *file)
{
    g_connsel.current = -1;
    for (size_t i = 0; i < g_connsel.choices.size(); i++) {
        if (g_connsel.choices[i].file == file)
            g_connsel.current = (int)i;
    }
}

conn_verdict conn_select_verdict(const uint8_t *ip, bool v6, uint16_t sport, uint16_t dport)
{
    if (g_connsel.current < 0)
        return CONN_TAKE;
    const conn_ends &want = g_connsel.choices[(size_t)g_connsel.current].ends;
    conn_ends e = ends_of(ip, v6, sport, dport);
    if (same_pair(want, e))
        return CONN_TAKE;
    bool same_hosts = e.v6 == want.v6 &&
                      ((std::memcmp(e.addr[0], want.addr[0], 16) == 0 &&
                        std::memcmp(e.addr[1], want.addr[1], 16) == 0) ||
                       (std::memcmp(e.addr[0], want.addr[1], 16) == 0 &&
                        std::memcmp(e.addr[1], want.addr[0], 16) == 0));
    return same_hosts ? CONN_OTHER_PORTS : CONN_OTHER_HOSTS;
}
