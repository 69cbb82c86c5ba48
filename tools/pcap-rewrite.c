/*
 * pcap-rewrite.c --
 *
 *	Rewrites a capture as a middlebox between the two capture points
 *	would have, for the cases no Linux router does: a firewall that
 *	randomises initial sequence numbers (a constant added to one
 *	direction's sequence numbers and to the other direction's
 *	acknowledgement numbers, SACK blocks included unless -K), and one that
 *	scrubs or randomises the IPv4 identification. Checksums are updated
 *	incrementally (RFC 1624), so a checksum that was right stays right
 *	and one that was not (a partial checksum of an offloading sender)
 *	stays as wrong as it was. Everything else is copied unchanged through
 *	libpcap's reader and writer.
 *
 *	    pcap-rewrite [-s DELTA [-a SEQ:DELTA2]] [-c] [-K] [-z | -r SEED] IN OUT
 *
 *	-s DELTA  add DELTA (mod 2^32, may be negative) to the sequence
 *	          numbers of the server's packets and to the acknowledgement
 *	          numbers (and SACK blocks) of the client's
 *	-a SEQ:DELTA2  from the shifted side's sequence number SEQ (as in
 *	          IN) on, add DELTA2 instead, as a helper that rewrote a
 *	          payload to another length shifts the numbers after it
 *	-c        shift the client's numbers instead of the server's
 *	-K        leave the SACK blocks as they are (a randomiser that forgets them)
 *	-z        set every IPv4 identification to 0
 *	-r SEED   replace every IPv4 identification by a pseudo-random one
 *
 *	The server is the destination of the first SYN without ACK, else of
 *	the first TCP packet, and the clients are all its peers: a capture of
 *	many connections to one service is rewritten alike for each. Link types: Ethernet (with one VLAN
 *	tag at most), raw IP, Linux cooked (v1, v2) and BSD loopback.
 *	Exit status 0 on success, 1 on a bad argument or a file that cannot
 *	be read or written.
 */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <pcap/pcap.h>

static void usage(void)
{
    fprintf(stderr, "Usage: pcap-rewrite [-s delta [-a seq:delta2]] [-c] [-K] [-z | -r seed] "
                    "in.pcap out.pcap\n");
    exit(1);
}

static uint32_t get32(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static uint16_t get16(const uint8_t *p)
{
    return (uint16_t)(p[0] << 8 | p[1]);
}

static void put16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

/* Updates the ones' complement checksum at `sum` for a 16-bit word
 * changing from `from` to `to` (RFC 1624, eqn. 3). */
static void fix_sum(uint8_t *sum, uint16_t from, uint16_t to)
{
    uint32_t s = (uint16_t)~get16(sum);
    s += (uint16_t)~from;
    s += to;
    while (s >> 16)
        s = (s & 0xffff) + (s >> 16);
    put16(sum, (uint16_t)~s);
}

/* Writes v at p, keeping the checksum at `sum` (null: none) right. */
static void set32(uint8_t *p, uint32_t v, uint8_t *sum)
{
    uint16_t hi = get16(p), lo = get16(p + 2);
    put16(p, (uint16_t)(v >> 16));
    put16(p + 2, (uint16_t)v);
    if (sum != NULL) {
        fix_sum(sum, hi, (uint16_t)(v >> 16));
        fix_sum(sum, lo, (uint16_t)v);
    }
}

/* Offset of the IP header in a frame of link type `dlt`, or -1. */
static long ip_offset(int dlt, const uint8_t *p, uint32_t len)
{
    switch (dlt) {
    case DLT_EN10MB: {
        if (len < 14)
            return -1;
        uint16_t type = get16(p + 12);
        if (type == 0x8100 && len >= 18)
            return (get16(p + 16) == 0x0800 || get16(p + 16) == 0x86dd) ? 18 : -1;
        return (type == 0x0800 || type == 0x86dd) ? 14 : -1;
    }
    case 12:
    case 14:
    case 101:
        return 0;
    case DLT_LINUX_SLL:
        return 16;
    case 276: /* Linux cooked v2 */
        return 20;
    case DLT_NULL:
    case DLT_LOOP:
        return 4;
    default:
        return -1;
    }
}

/* What is known of the server, from the first TCP packet or SYN. */
struct server_id {
    int known, by_syn;
    uint8_t addr[16];
    uint16_t port;
};

struct options {
    uint32_t delta;
    int change;           /* -a given: from seq `from` on, delta2 */
    uint32_t from, delta2;
    int shift, client_side, keep_sack, zero_id, random_id;
    uint32_t seed;
};

static uint32_t next_random(uint32_t *s)
{
    *s ^= *s << 13;
    *s ^= *s >> 17;
    *s ^= *s << 5;
    return *s;
}

/* The shift of the shifted side's sequence number n (as in IN). */
static uint32_t delta_at(const struct options *o, uint32_t n)
{
    return o->change && (int32_t)(n - o->from) >= 0 ? o->delta2 : o->delta;
}

/* Shifts the SACK blocks among the options [opt, end). */
static void shift_sack(uint8_t *opt, uint8_t *end, const struct options *o, uint8_t *sum)
{
    while (opt < end) {
        if (opt[0] == 0)
            return;
        if (opt[0] == 1) {
            opt++;
            continue;
        }
        if (opt + 1 >= end || opt[1] < 2 || opt + opt[1] > end)
            return;
        if (opt[0] == 5)
            for (uint8_t *b = opt + 2; b + 4 <= opt + opt[1]; b += 4)
                set32(b, get32(b) + delta_at(o, get32(b)), sum);
        opt += opt[1];
    }
}

static void rewrite(uint8_t *ip, uint32_t caplen, struct options *o, struct server_id *cl)
{
    if (caplen < 20)
        return;
    int v6 = (ip[0] >> 4) == 6;
    uint32_t hl;
    const uint8_t *src;
    int alen;
    if (v6) {
        if (caplen < 40 || ip[6] != 6)
            return;
        hl = 40;
        src = ip + 8;
        alen = 16;
    } else {
        if ((ip[0] >> 4) != 4)
            return;
        hl = (uint32_t)(ip[0] & 15) * 4;
        if (hl < 20 || caplen < hl)
            return;
        if (o->zero_id || o->random_id) {
            uint16_t id = o->zero_id ? 0 : (uint16_t)next_random(&o->seed);
            fix_sum(ip + 10, get16(ip + 4), id);
            put16(ip + 4, id);
        }
        if (ip[9] != 6)
            return;
        src = ip + 12;
        alen = 4;
    }
    uint8_t *tcp = ip + hl;
    if (caplen < hl + 20)
        return;
    uint16_t sport = get16(tcp), dport = get16(tcp + 2);
    const uint8_t *dst = src + alen;
    uint8_t flags = tcp[13];
    if (!cl->by_syn && (flags & 0x12) == 0x02) {
        memcpy(cl->addr, dst, (size_t)alen);
        cl->port = dport;
        cl->known = cl->by_syn = 1;
    } else if (!cl->known) {
        memcpy(cl->addr, dst, (size_t)alen);
        cl->port = dport;
        cl->known = 1;
    }
    if (!o->shift)
        return;
    int from_client = !(memcmp(cl->addr, src, (size_t)alen) == 0 && cl->port == sport);
    int shifted_sender = from_client == o->client_side;
    /* A checksum the copy does not hold in full cannot be kept right. */
    uint8_t *sum = caplen >= hl + 18 ? tcp + 16 : NULL;
    if (shifted_sender) {
        set32(tcp + 4, get32(tcp + 4) + delta_at(o, get32(tcp + 4)), sum);
        return;
    }
    if (flags & 0x10)
        set32(tcp + 8, get32(tcp + 8) + delta_at(o, get32(tcp + 8)), sum);
    uint32_t thl = (uint32_t)(tcp[12] >> 4) * 4;
    if (o->keep_sack || thl <= 20)
        return;
    uint32_t have = caplen - hl < thl ? caplen - hl : thl;
    shift_sack(tcp + 20, tcp + have, o, sum);
}

int main(int argc, char **argv)
{
    struct options o;
    memset(&o, 0, sizeof o);
    int c;
    while ((c = getopt(argc, argv, "s:a:cKzr:")) != -1) {
        if (c == 's') {
            o.delta = (uint32_t)strtoll(optarg, NULL, 0);
            o.shift = 1;
        } else if (c == 'a') {
            char *colon = strchr(optarg, ':');
            if (colon == NULL)
                usage();
            o.from = (uint32_t)strtoll(optarg, NULL, 0);
            o.delta2 = (uint32_t)strtoll(colon + 1, NULL, 0);
            o.change = 1;
        } else if (c == 'c') {
            o.client_side = 1;
        } else if (c == 'K') {
            o.keep_sack = 1;
        } else if (c == 'z') {
            o.zero_id = 1;
        } else if (c == 'r') {
            o.random_id = 1;
            o.seed = (uint32_t)strtoul(optarg, NULL, 0) | 1u;
        } else {
            usage();
        }
    }
    if (argc - optind != 2 || (o.zero_id && o.random_id) || (o.change && !o.shift))
        usage();
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t *in = pcap_open_offline(argv[optind], errbuf);
    if (in == NULL) {
        fprintf(stderr, "pcap-rewrite: %s\n", errbuf);
        return 1;
    }
    pcap_dumper_t *out = pcap_dump_open(in, argv[optind + 1]);
    if (out == NULL) {
        fprintf(stderr, "pcap-rewrite: %s\n", pcap_geterr(in));
        pcap_close(in);
        return 1;
    }
    /* The server is fixed by the first SYN of the file: a pass before. */
    struct server_id cl;
    memset(&cl, 0, sizeof cl);
    {
        pcap_t *look = pcap_open_offline(argv[optind], errbuf);
        struct pcap_pkthdr *h;
        const u_char *d;
        struct options none;
        memset(&none, 0, sizeof none);
        uint8_t buf[65536];
        while (look != NULL && pcap_next_ex(look, &h, &d) == 1 && !cl.by_syn) {
            uint32_t n = h->caplen < sizeof buf ? h->caplen : (uint32_t)sizeof buf;
            long off = ip_offset(pcap_datalink(look), d, n);
            if (off < 0 || (uint32_t)off >= n)
                continue;
            memcpy(buf, d, n);
            rewrite(buf + off, n - (uint32_t)off, &none, &cl);
        }
        if (look != NULL)
            pcap_close(look);
    }
    int dlt = pcap_datalink(in);
    struct pcap_pkthdr *h;
    const u_char *d;
    static uint8_t buf[262144];
    int rc;
    while ((rc = pcap_next_ex(in, &h, &d)) == 1) {
        uint32_t n = h->caplen < sizeof buf ? h->caplen : (uint32_t)sizeof buf;
        memcpy(buf, d, n);
        long off = ip_offset(dlt, buf, n);
        if (off >= 0 && (uint32_t)off < n)
            rewrite(buf + off, n - (uint32_t)off, &o, &cl);
        struct pcap_pkthdr copy = *h;
        copy.caplen = n;
        pcap_dump((u_char *)out, &copy, buf);
    }
    if (rc == -1)
        fprintf(stderr, "pcap-rewrite: %s\n", pcap_geterr(in));
    pcap_dump_close(out);
    pcap_close(in);
    return rc == -1 ? 1 : 0;
}
