/*
 * binread.cpp --
 *
 *	The capture reader and the segment decoder.
 *
 *	read_capture opens one savefile through libpcap and runs every packet
 *	(read from the mapped file where it can be, capture/capfile.h) through
 *	handle_packet, which strips the link header where the packet lies. decode_segment then decides whether what
 *	follows is a TCP segment of the file's one connection: the first
 *	accepted segment fixes the connection key (addresses, ports, initial
 *	sequence numbers, first time stamp), and every later packet must
 *	belong to it in either direction. Accepted segments become seg_records
 *	in g_trace.building with relative numbers, a relative time and their
 *	packet bytes: their place in the mapped file (capture/filemap.h), or,
 *	where the file cannot be followed that way, their own copy; every
 *	other packet is reported in one line on standard output (or only
 *	counted, trace/dropnote.h) and dropped.
 *
 *	Nothing read here ever lies past the captured bytes: a packet that
 *	ends before the header fields the decoder needs is dropped with
 *	"Warning: truncated packet", and a copy longer than the packet holds
 *	zeros past its end.
 *
 *	Every failure ends the process (through load_fail; a load from the
 *	window turns it into a load_error): nothing is retried, and no
 *	partial trace survives. A file cut short inside a record is the one
 *	read error that keeps what was read, with a warning.
 */

#include "trace/binread.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/capfile.h"
#include "trace/connlist.h"
#include "trace/direction.h"
#include "trace/dropnote.h"
#include "capture/filemap.h"
#include "capture/linktype.h"
#include "capture/loadfail.h"
#include "capture/prefault.h"
#include "trace/scratch.h"
#include "trace/tcp_fields.h"

#ifndef BINREAD_SOURCE_NAME
#define BINREAD_SOURCE_NAME __FILE__
#endif

namespace {

const char msg_not_tcp6[] = "Not tcp";
const char msg_not_tcp4[] = "not tcp";
const char msg_addr[] = "Warning: address unmatch";
const char msg_port[] = "Warning: port unmatch";
const char msg_short[] = "Warning: truncated packet";

/* Where the TCP header of a packet lies, once found. */
struct tcp_place {
    uint32_t off;     /* offset of the TCP header from the IP header */
    uint32_t ext_len; /* IPv6: bytes of the extension header stepped over */
};

/* Bytes an IPv6 packet needs before its TCP header fields can be read. */
const uint32_t tcp_fields_len = 16; /* ports to window */

/*
 * Finds the TCP header of an IPv6 packet. Returns the message to print
 * when the packet is dropped, or nullptr with *where filled in.
 */
const char *find_tcp6(const uint8_t *ip, uint32_t avail, tcp_place *where)
{
    if (avail < 40)
        return msg_short;
    uint8_t next = ip[6];
    where->ext_len = 0;
    if (next == 0 || next == 43 || next == 60) {
        if (avail < 42)
            return msg_short;
        if (ip[40] != 6)
            return msg_not_tcp6;
        where->ext_len = ((uint32_t)ip[41] + 1) * 8;
    } else if (next != 6) {
        return msg_not_tcp6;
    }
    where->off = 40 + where->ext_len;
    if (avail < where->off + tcp_fields_len)
        return msg_short;
    return nullptr;
}

/* As find_tcp6, for IPv4: the TCP header follows the IP header length. */
const char *find_tcp4(const uint8_t *ip, uint32_t avail, tcp_place *where)
{
    if (avail < 20)
        return msg_short;
    if (ip[9] != 6)
        return msg_not_tcp4;
    where->ext_len = 0;
    where->off = (uint32_t)(ip[0] & 0x0f) * 4;
    if (avail < where->off + tcp_fields_len)
        return msg_short;
    return nullptr;
}

/* The packet's addresses in both forms, one of them zero. */
struct packet_addrs {
    uint8_t src6[16], dst6[16];
    uint64_t src4, dst4;
};

packet_addrs read_addrs(const uint8_t *ip, bool v6)
{
    packet_addrs a;
    std::memset(&a, 0, sizeof a);
    if (v6) {
        std::memcpy(a.src6, ip + 8, 16);
        std::memcpy(a.dst6, ip + 24, 16);
    } else {
        a.src4 = read_be32(ip + 12);
        a.dst4 = read_be32(ip + 16);
    }
    return a;
}

bool addr_is(const packet_addrs &a, bool src, const uint8_t *k6, uint64_t k4)
{
    const uint8_t *p6 = src ? a.src6 : a.dst6;
    uint64_t p4 = src ? a.src4 : a.dst4;
    return p4 == k4 && std::memcmp(p6, k6, 16) == 0;
}

/*
 * The packet travels in the connection's first direction: its source is
 * key_src, and, when the two ends share one address, its source port is
 * key_sport.
 */
bool first_direction(const packet_addrs &a, uint16_t sport)
{
    const conn_key &k = g_trace.key;
    if (!addr_is(a, true, k.src6, k.src4))
        return false;
    bool same_addr = k.src4 == k.dst4 && std::memcmp(k.src6, k.dst6, 16) == 0;
    return !same_addr || sport == k.sport;
}

/* The filter against the key for every packet after the first. */
const char *filter_against_key(const packet_addrs &a, bool v6, uint16_t sport,
                               uint16_t dport)
{
    const conn_key &k = g_trace.key;
    if ((int)v6 != g_trace.ipv6)
        return msg_addr;
    bool fwd = addr_is(a, true, k.src6, k.src4) && addr_is(a, false, k.dst6, k.dst4);
    bool rev = addr_is(a, true, k.dst6, k.dst4) && addr_is(a, false, k.src6, k.src4);
    if (!fwd && !rev)
        return msg_addr;
    if (!(sport == k.sport && dport == k.dport) && !(sport == k.dport && dport == k.sport))
        return msg_port;
    return nullptr;
}

/*
 * The base of the reverse direction's numbers, until learnt: the first
 * nonzero ack field of the first direction, or the sequence number of
 * the first reverse segment (which may be 0).
 */
void learn_isn_rev(bool fwd, uint32_t S, uint32_t A)
{
    conn_key &k = g_trace.key;
    if (k.rev_learnt || (fwd && A == 0))
        return;
    k.isn_rev = fwd ? A : S;
    k.rev_learnt = 1;
}

/* The index of flow entry f, for a record of direction d (0: the first):
 * the entry of the direction's last record when equal, else looked up. */
uint32_t flow_index_of(const flow_entry &f, int d)
{
    conn_key &k = g_trace.key;
    uint32_t hint = k.flow_hint[d];
    if (std::memcmp(&g_trace.flows.flow[hint], &f, sizeof f) != 0)
        k.flow_hint[d] = hint = trace_flow_index(f);
    return hint;
}

void set_key(const packet_addrs &a, bool v6, const uint8_t *tcp, const pcap_pkthdr *hdr)
{
    conn_key &k = g_trace.key;
    g_trace.ipv6 = v6 ? 1 : 0;
    std::memcpy(k.src6, a.src6, 16);
    std::memcpy(k.dst6, a.dst6, 16);
    k.src4 = a.src4;
    k.dst4 = a.dst4;
    ip_address src, dst;
    std::memcpy(src.a6, a.src6, 16);
    std::memcpy(dst.a6, a.dst6, 16);
    src.a4 = a.src4;
    dst.a4 = a.dst4;
    k.src_addr = trace_address_index(src);
    k.dst_addr = trace_address_index(dst);
    k.sport = read_be16(tcp);
    k.dport = read_be16(tcp + 2);
    k.isn_fwd = read_be32(tcp + 4);
    k.isn_rev = read_be32(tcp + 8);
    k.rev_learnt = k.isn_rev != 0;
    k.flow_hint[0] = k.flow_hint[1] = 0;
    k.t0_sec = hdr->ts.tv_sec;
    k.t0_usec = hdr->ts.tv_usec;
}

/*
 * The most records the file being read can give: every accepted segment
 * takes at least a savefile record header (16 bytes) and an IP and TCP
 * header's worth (36 bytes) of the capture (decompressed, for a
 * compressed file). 1 when its size is unknown.
 */
/* Records in RECORDS_AHEAD bytes of the array: the reader asks for the
 * pages of the next so many records each time it has filled so many. */
constexpr int32_t RECORDS_PER_ASK = RECORDS_AHEAD / sizeof(seg_record);

/* Scratch bytes a record of the main trace takes at least in its
 * analysis: its line (16) and its events (4), which live on when the
 * analysis's own tables are given back. The reader has as much made
 * ready as it goes (scratch_prepare). */
constexpr size_t ANALYSIS_SCRATCH_PER_RECORD = 20;

/* The populate-ahead helper for one read; ended on every way out, and
 * what it filled in past the data given back. */
struct populate_ahead {
    populate_ahead() { prefault_begin(); }
    ~populate_ahead() { end(); }
    void end()
    {
        prefault_end(false);
        trace_trim(&g_trace.building);
    }
};

int32_t records_file_can_hold()
{
    if (g_capfile.capture_size < 0)
        return 1;
    int64_t n = g_capfile.capture_size / 52 + 1;
    return n > INT32_MAX / 2 ? INT32_MAX / 2 : (int32_t)n;
}

/* Grows t's array geometrically until it holds more than `least`
 * records, within the int32 count; false when it cannot. */
bool grow_records_past(trace_array *t, int32_t least)
{
    int64_t cap = t->cap;
    while (cap <= least) {
        int64_t more = cap < 1024 ? cap * 2 : cap + cap / 2;
        if (more > INT32_MAX)
            more = INT32_MAX;
        if (more <= cap)
            return false;
        cap = more;
    }
    return trace_grow_records(t, (int32_t)cap);
}

/*
 * Makes room for one more record in the trace under construction, growing
 * the array geometrically. The first room is what the file can hold at
 * most, so that a whole file usually fits without any growth (room not
 * filled costs nothing). Ends the process when memory runs out.
 */
void grow_building()
{
    trace_array &t = g_trace.building;
    if (t.count < t.cap)
        return;
    if (t.rec == nullptr) {
        if (!trace_grow_records(&t, records_file_can_hold()) && !trace_grow_records(&t, 1))
            load_fail_errno(-1, "malloc");
        trace_ask_records_ahead(&t, 0);
        trace_ask_records_ahead(&t, RECORDS_PER_ASK);
        return;
    }
    if (!grow_records_past(&t, t.cap))
        load_fail_errno(-1, "realloc");
}

/*
 * Every RECORDS_PER_ASK records: has the helper supply the pages of the
 * next so many records, and makes the analysis's scratch ready. A
 * stream's size is not known ahead, so its array ends within a step of
 * the reader: it is grown two steps early, or the records past its end
 * would never be asked for and the reader would take every one of their
 * pages itself. A growth that fails here is left to grow_building.
 */
void read_ahead()
{
    trace_array &t = g_trace.building;
    int32_t next = t.count + RECORDS_PER_ASK;
    int32_t old_cap = t.cap;
    /* What lay past the old end was never asked for. */
    if (t.cap - next < RECORDS_PER_ASK && next <= INT32_MAX - RECORDS_PER_ASK &&
        grow_records_past(&t, next + RECORDS_PER_ASK - 1) && old_cap < next)
        trace_ask_records_ahead(&t, std::max(old_cap, t.count));
    trace_ask_records_ahead(&t, next);
    scratch_prepare(static_cast<size_t>(t.count) * ANALYSIS_SCRATCH_PER_RECORD);
}

/*
 * Gives the record being added its own copy of copy-length bytes of the
 * packet from its IP header on, zero past the captured bytes. Fixes the
 * copy length from the frame's captured length when it is still 0.
 */
/*
 * Places the record being added in the mapped file instead, when the
 * trace has a map; gives up the map (copies for the records placed so
 * far) when the packet cannot be found in it. True when placed.
 */
bool place_packet(const struct pcap_pkthdr *hdr, const uint8_t *ip, uint32_t link_len,
                  uint32_t n)
{
    trace_array &t = g_trace.building;
    if (t.map == nullptr)
        return false;
    t.copy_len = g_trace.copy_len;
    if (filemap_place(t.map, hdr, ip - link_len, link_len + n))
        return true;
    /* A walk reading the records from the map still needs it, and `ip`
     * lies in it: the map is kept; only memory can be missing here. */
    if (t.map->handing) {
        errno = ENOMEM;
        load_fail_errno(-1, "malloc");
    }
    if (!trace_map_to_copies(&t))
        load_fail_errno(-1, "malloc");
    return false;
}

void copy_packet(const struct pcap_pkthdr *hdr, const uint8_t *ip, uint32_t avail,
                 uint32_t caplen, bool v6)
{
    if (g_trace.copy_len == 0)
        g_trace.copy_len = (int)caplen;
    uint8_t *p = nullptr;
    uint32_t n = 0;
    if (g_trace.copy_len > 0) {
        n = avail < (uint32_t)g_trace.copy_len ? avail : (uint32_t)g_trace.copy_len;
        if (place_packet(hdr, ip, caplen - avail, n))
            return;
        p = trace_new_copy(&g_trace.building, (size_t)g_trace.copy_len, (int32_t)n);
    }
    if (p == nullptr) {
        if (v6)
            load_fail(-1, "cannot malloc for packet data. \t\t\t\tPlease choose small snaplen value\n");
        load_fail(-1, "cannot malloc for packet data. \t\t\t\t\t\tPlease choose small snaplen value\n");
    }
    std::memcpy(p, ip, n); /* the rest of the copy space is zero already */
}

/* The list of records with malformed options is given up once it holds
 * more than this many and more than a sixteenth of the records: it then
 * costs at most half a byte per record, and reading such a capture's
 * bytes again is worth little. */
constexpr int32_t BAD_OPT_KEPT_ANYWAY = 64;

/* Gives up t's list: its readers check each record themselves. */
void give_up_bad_options(trace_array &t)
{
    std::free(t.bad_opt);
    t.bad_opt = nullptr;
    t.bad_opt_count = t.bad_opt_cap = 0;
    t.bad_opt_upto = -1;
}

/*
 * Checks the options of the record being added (record count of the
 * trace under construction, its TCP header at `off` of the `avail`
 * captured bytes at `ip`, header length `doff`) while its bytes are at
 * hand: on the copy length's first bytes, which are those its copy or
 * its place in the file gives (record_cap_bytes), the summary's rule.
 * Once a record went unchecked, an entry could not be kept or the list
 * grew long, it is given up.
 */
void check_options(const uint8_t *ip, uint32_t off, uint32_t avail, int32_t doff)
{
    trace_array &t = g_trace.building;
    if (t.bad_opt_upto != t.count)
        return;
    t.bad_opt_upto++;
    if (doff <= 20)
        return;
    uint32_t n = avail < (uint32_t)g_trace.copy_len ? avail : (uint32_t)g_trace.copy_len;
    if (off > n || !tcp_options_may_end_malformed(ip + off, (int32_t)(n - off)))
        return;
    bool long_list = t.bad_opt_count >= BAD_OPT_KEPT_ANYWAY && t.bad_opt_count >= t.count / 16;
    if (long_list || !trace_note_bad_options(&t, t.count))
        give_up_bad_options(t);
}

}  // namespace

int find_tcp_header(const uint8_t *ip, uint32_t avail, tcp_header_place *out)
{
    if (avail < 1)
        return 0;
    bool v6 = (ip[0] >> 4) == 6;
    tcp_place where;
    if ((v6 ? find_tcp6(ip, avail, &where) : find_tcp4(ip, avail, &where)) != nullptr)
        return 0;
    const uint8_t *tcp = ip + where.off;
    int32_t doff = (int32_t)(tcp[12] >> 4) * 4;
    out->v6 = v6;
    out->off = where.off;
    if (v6)
        out->paylen = (int32_t)read_be16(ip + 4) - (int32_t)where.ext_len - doff;
    else
        out->paylen = (int32_t)read_be16(ip + 2) - (int32_t)where.off - doff;
    return 1;
}

void decode_segment(const uint8_t *ip, uint32_t avail, const struct pcap_pkthdr *hdr,
                    uint32_t caplen)
{
    if (avail < 1) {
        drop_note(DROP_TRUNCATED, msg_short);
        return;
    }
    bool v6 = (ip[0] >> 4) == 6;
    tcp_place where;
    const char *drop = v6 ? find_tcp6(ip, avail, &where) : find_tcp4(ip, avail, &where);
    if (drop != nullptr) {
        drop_note(drop == msg_short ? DROP_TRUNCATED : DROP_NOT_TCP, drop);
        return;
    }
    const uint8_t *tcp = ip + where.off;
    packet_addrs a = read_addrs(ip, v6);
    uint16_t sport = read_be16(tcp);
    uint16_t dport = read_be16(tcp + 2);
    uint32_t S = read_be32(tcp + 4);
    uint32_t A = read_be32(tcp + 8);
    conn_key &k = g_trace.key;

    if (g_trace.building.count == 0) {
        conn_verdict choice = conn_select_verdict(ip, v6, sport, dport);
        if (choice != CONN_TAKE) {
            drop_note(DROP_OTHER_CONNECTION, choice == CONN_OTHER_PORTS ? msg_port : msg_addr);
            return;
        }
        set_key(a, v6, tcp, hdr);
    } else {
        drop = filter_against_key(a, v6, sport, dport);
        if (drop != nullptr) {
            drop_note(DROP_OTHER_CONNECTION, drop);
            return;
        }
    }
    grow_building();
    bool fwd = first_direction(a, sport);
    learn_isn_rev(fwd, S, A);

    seg_record &r = g_trace.building.rec[g_trace.building.count];
    std::memset(&r, 0, sizeof r);
    double dt = (double)(hdr->ts.tv_sec - k.t0_sec) +
                (double)(hdr->ts.tv_usec - k.t0_usec) / 1000000.0;
    r.time = (float)dt;
    if (!v6)
        r.ip_id = read_be16(ip + 4);
    int64_t seq_base = (int64_t)(fwd ? k.isn_fwd : k.isn_rev);
    int64_t ack_base = A != 0 ? (int64_t)(fwd ? k.isn_rev : k.isn_fwd) : 0;
    r.seq_raw = S;
    r.ack_raw = A;
    /* The filter leaves two cases: from key_src to key_dst, or back. */
    bool from_key_src = addr_is(a, true, k.src6, k.src4);
    flow_entry f;
    f.src_addr = from_key_src ? k.src_addr : k.dst_addr;
    f.dst_addr = from_key_src ? k.dst_addr : k.src_addr;
    f.sport = sport;
    f.dport = dport;
    f.seq_base = seq_base;
    f.ack_base = ack_base;
    r.flow = flow_index_of(f, fwd ? 0 : 1);
    r.win = read_be16(tcp + 14);
    r.tcp_flags = tcp[13];
    int32_t doff = (int32_t)(tcp[12] >> 4) * 4;
    if (v6)
        r.paylen = (int32_t)read_be16(ip + 4) - (int32_t)where.ext_len - doff;
    else
        r.paylen = (int32_t)read_be16(ip + 2) - (int32_t)where.off - doff;

    /* The TTL (hop limit) lies within the header find_tcp checked. */
    g_trace.building.ttl_count[fwd ? 0 : 1][v6 ? ip[7] : ip[8]]++;
    copy_packet(hdr, ip, avail, caplen, v6);
    check_options(ip, where.off, avail, doff);
    if (doff <= 20 || (r.tcp_flags & TH_SYN))
        g_trace.building.option_free++;
    g_trace.building.count++;
    if (g_trace.building.count % RECORDS_PER_ASK == 0)
        read_ahead();
}

void handle_packet(u_char *user, const struct pcap_pkthdr *hdr, const u_char *data)
{
    (void)user;
    uint32_t caplen = hdr->caplen;
    if (caplen > (uint32_t)g_trace.snaplen)
        load_failf(-1, "packet too large %s:%d\n", BINREAD_SOURCE_NAME, __LINE__);
    /* The bytes are read where they were handed over (libpcap's buffer or
     * the mapped file), never past caplen. */
    uint32_t link_len = 0;
    link_verdict link = link_ip_offset(g_trace.linktype, data, caplen, &link_len);
    if (link == LINK_UNKNOWN)
        load_failf(-1, "Unknown DLT %x\n", g_trace.linktype);
    if (link == LINK_NOT_IP)
        drop_note(DROP_NOT_TCP, msg_not_tcp4);
    if (link != LINK_IP)
        return;
    decode_segment(data + link_len, caplen - link_len, hdr, caplen);
}

seg_record *read_capture(const char *file)
{
    pcap_t *pc = capture_open(file);
    g_trace.reading = file;
    g_trace.linktype = pcap_datalink(pc);
    g_trace.snaplen = pcap_snapshot(pc);
    std::free(g_trace.copybuf);
    g_trace.copybuf = nullptr;
    if (g_trace.snaplen >= 0)
        g_trace.copybuf = (uint8_t *)std::malloc((size_t)g_trace.snaplen + 4);
    if (g_trace.copybuf == nullptr) {
        int err = errno;
        capture_close(pc);
        errno = err;
        load_fail_errno(-1, "malloc");
    }
    if (!g_capfile.literal_read)
        g_trace.building.map = filemap_open(file, g_trace.linktype, records_file_can_hold());
    conn_select_begin(file);
    dropnote_begin_file();
    populate_ahead helper;
    try {
        capture_run_mapped(pc, file, g_trace.building.map, handle_packet, nullptr);
    } catch (const load_error &) {
        /* A read that fails keeps nothing: a compressed capture is read
         * as it is decompressed, and its data may turn out corrupt only
         * after records were taken. */
        helper.end();
        trace_free(&g_trace.building);
        throw;
    }
    helper.end();
    g_trace.duration = trace_span(&g_trace.building);
    return g_trace.building.rec;
}
