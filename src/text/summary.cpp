/*
 * summary.cpp --
 *
 *	The segment summary. Every item is appended at the end of the text in
 *	a fixed order; nothing is inserted or removed. Before each field is
 *	read, the summary makes sure it lies inside the stored copy, since a
 *	short snapshot can end the copy inside the TCP header or its options.
 */

#include "text/summary.h"

#include "text/names.h"
#include "text/relseq.h"
#include "text/tcp_options.h"
#include "text/text_out.h"
#include "capture/bytes.h"
#include "trace/trace.h"

namespace {

/* TCP flags without a letter of their own are ACK and URG. */
enum { TH_ECE = 0x40, TH_CWR = 0x80, LETTER_FLAGS = 0xCF };

enum { TCP_MIN_HEADER = 20 };

/* Whether `n` bytes from offset `off` of the copy are in it. */
bool in_copy(const segment_bytes &seg, int32_t off, int32_t n)
{
    return off >= 0 && n >= 0 && off <= seg.copy_len && n <= seg.copy_len - off;
}

/* Whether the first `n` bytes of the TCP header are in the copy. */
bool tcp_has(const segment_bytes &seg, int32_t n)
{
    return in_copy(seg, seg.tcp_off, n);
}

/* Where the two addresses lie in an IP header of the given version. */
struct addr_place {
    int32_t src;   /* offset of the source address */
    int32_t dst;   /* offset of the destination address */
    int len;       /* 4 or 16 bytes */
};

addr_place addresses_of(bool v6)
{
    if (v6)
        return addr_place{8, 24, 16};
    return addr_place{12, 16, 4};
}

const char *host_text(const uint8_t *a, bool v6)
{
    return v6 ? ipv6_host_text(a) : ipv4_host_text(a);
}

}  // namespace

void append_flag_letters(uint8_t flags, text_out *o)
{
    if ((flags & LETTER_FLAGS) == 0) {
        out_flag_item(o, '.');
        return;
    }
    if (flags & TH_SYN)
        out_flag_item(o, 'S');
    if (flags & TH_FIN)
        out_flag_item(o, 'F');
    if (flags & TH_RST)
        out_flag_item(o, 'R');
    if (flags & TH_PUSH)
        out_flag_item(o, 'P');
    if (flags & TH_CWR)
        out_flag_item(o, 'W');
    if (flags & TH_ECE)
        out_flag_item(o, 'E');
}

namespace {

/* Whether the checksum verdict is given for this segment. */
bool checksum_wanted(const segment_bytes &seg, int copy_may_be_short)
{
    if (copy_may_be_short != 0)
        return false;
    int version = seg.ip[0] >> 4;
    if (version == 6 && read_be16(seg.ip + 4) == 0)
        return false;
    if (version != 4 && version != 6)
        return false;
    /* The caller's flag promises the whole segment is stored; hold it to
     * that, so that no sum can run past the copy. */
    return tcp_has(seg, seg.tcp_len);
}

void append_checksum(const segment_bytes &seg, text_out *o)
{
    const uint8_t *tcp = seg.ip + seg.tcp_off;
    uint16_t field = read_be16(tcp + 16);
    uint16_t sum = tcp_checksum_sum(seg.ip, (seg.ip[0] >> 4) == 6, tcp, seg.tcp_len);
    out_printf(o, ", cksum 0x%04x", field);
    if (sum == 0xffff) {
        out_str(o, " (correct),");
        return;
    }
    uint32_t should = (uint32_t)field + (0xffffu - sum);
    should = (should & 0xffff) + (should >> 16);
    out_printf(o, " (incorrect (-> 0x%04x),", should & 0xffff);
}

/* The reset note: " [RST", "+" for more than 30 bytes, then "   " and "]". */
void append_reset_note(uint32_t paylen, text_out *o)
{
    out_str(o, " [RST");
    if (paylen > 30)
        out_flag_item(o, '+');
    out_flag_item(o, ' ');
    out_flag_item(o, ']');
}

uint64_t add_words(const uint8_t *p, int32_t n, uint64_t acc)
{
    int32_t i = 0;
    for (; i + 1 < n; i += 2)
        acc += read_be16(p + i);
    if (i < n)
        acc += (uint32_t)p[i] << 8;
    return acc;
}

}  // namespace

uint16_t tcp_checksum_sum(const uint8_t *ip, bool v6, const uint8_t *tcp, int32_t tcp_len)
{
    uint64_t acc = 0;
    if (v6) {
        acc = add_words(ip + 8, 32, acc);
        acc += ((uint32_t)tcp_len >> 16) + ((uint32_t)tcp_len & 0xffff);
        acc += 6;
    } else {
        acc = add_words(ip + 12, 8, acc);
        acc += 6;
        acc += (uint32_t)tcp_len & 0xffff;
    }
    acc = add_words(tcp, tcp_len, acc);
    while (acc >> 16)
        acc = (acc & 0xffff) + (acc >> 16);
    return (uint16_t)acc;
}

namespace {

/*
 * The summary of `seg`, appended through `o`. With a discarding writer
 * nothing is formatted and the checksum is not summed, since its verdict
 * is text alone; every lookup, table update and standard-output message
 * happens as it does for a text. True once it has consulted the relative
 * sequence table: both hosts and both ports were looked up before.
 */
bool summarise(const segment_bytes &seg, int copy_may_be_short, text_out &o)
{
    const uint8_t *ip = seg.ip;
    bool v6 = seg.copy_len >= 1 && (ip[0] >> 4) == 6;
    addr_place ap = addresses_of(v6);
    if (!in_copy(seg, 0, ap.dst + ap.len)) {
        out_str(&o, truncated_mark);
        return false;
    }
    const uint8_t *src = ip + ap.src;
    const uint8_t *dst = ip + ap.dst;

    /* Short form: no ports, or a destination port of 0. */
    if (!tcp_has(seg, 4) || read_be16(ip + seg.tcp_off + 2) == 0) {
        const char *s = host_text(src, v6);
        out_printf(&o, "%s > %s: [|tcp]", s, host_text(dst, v6));
        return false;
    }
    const uint8_t *tcp = ip + seg.tcp_off;
    uint16_t sport = read_be16(tcp);
    uint16_t dport = read_be16(tcp + 2);

    /* Endpoints, texts looked up in the order they are shown. */
    const char *src_host = host_text(src, v6);
    const char *src_port = tcp_port_text(sport);
    const char *dst_host = host_text(dst, v6);
    const char *dst_port = tcp_port_text(dport);
    bool tcp_follows_ip = v6 ? ip[6] == 6 : ip[9] == 6;
    if (tcp_follows_ip)
        out_printf(&o, "%s.%s > %s.%s: ", src_host, src_port, dst_host, dst_port);
    else
        out_printf(&o, "%s > %s: ", src_port, dst_port);

    if (!tcp_has(seg, 13)) {
        out_str(&o, truncated_mark);
        return false;
    }
    int32_t hdrlen = (tcp[12] >> 4) * 4;
    if (hdrlen < TCP_MIN_HEADER) {
        out_printf(&o, " tcp %d [bad hdr length %u - too short, < %lu]", seg.tcp_len - hdrlen,
                   (unsigned)hdrlen, (unsigned long)TCP_MIN_HEADER);
        return false;
    }
    if (!tcp_has(seg, 14)) {
        out_str(&o, truncated_mark);
        return false;
    }
    uint8_t flags = tcp[13];
    append_flag_letters(flags, &o);

    uint32_t seq = read_be32(tcp + 4);
    uint32_t ack = read_be32(tcp + 8);
    uint32_t sack_base = 0;
    bool consulted = false;
    if (flags & TH_ACK) {
        relseq_result r = relative_sequence_numbers(src, dst, ap.len, sport, dport, flags, seq, ack);
        seq = r.seq;
        ack = r.ack;
        sack_base = r.sack_base;
        consulted = true;
    }
    if (seg.tcp_len < hdrlen) {
        out_printf(&o, " [bad hdr length %u - too long, > %d]", (unsigned)hdrlen, seg.tcp_len);
        return consulted;
    }
    if (!out_discards(&o) && checksum_wanted(seg, copy_may_be_short))
        append_checksum(seg, &o);

    uint32_t paylen = (uint32_t)(seg.tcp_len - hdrlen);
    out_printf(&o, " %u:%u(%u)", seq, seq + paylen, paylen);
    if (flags & TH_ACK)
        out_printf(&o, " ack %u", ack);
    if (!tcp_has(seg, 16)) {
        out_str(&o, truncated_mark);
        return consulted;
    }
    out_printf(&o, " win %d", (int)read_be16(tcp + 14));
    if (flags & TH_URG) {
        if (!tcp_has(seg, 20)) {
            out_str(&o, truncated_mark);
            return consulted;
        }
        out_printf(&o, " urg %d", (int)read_be16(tcp + 18));
    }
    if (hdrlen > TCP_MIN_HEADER) {
        if (!tcp_has(seg, TCP_MIN_HEADER)) {
            out_str(&o, truncated_mark);
            return consulted;
        }
        uint32_t in_copy_opts = (uint32_t)(seg.copy_len - seg.tcp_off - TCP_MIN_HEADER);
        option_end end = format_tcp_options(tcp + TCP_MIN_HEADER, (uint32_t)(hdrlen - TCP_MIN_HEADER),
                                            in_copy_opts, sack_base, &o);
        if (end != OPTIONS_DONE)
            return consulted;
    }
    if ((flags & TH_RST) && paylen != 0)
        append_reset_note(paylen, &o);
    return consulted;
}

}  // namespace

void format_segment_summary(const segment_bytes &seg, int copy_may_be_short, char *text,
                            size_t size)
{
    text_out o = text_out_at_end(text, size);
    summarise(seg, copy_may_be_short, o);
}

bool prime_segment_summary(const segment_bytes &seg)
{
    text_out o = text_out_discarding();
    return summarise(seg, 1, o);
}

bool summary_may_mark_bad_options(const segment_bytes &seg)
{
    if (!tcp_has(seg, TCP_MIN_HEADER))
        return false;
    return tcp_options_may_end_malformed(seg.ip + seg.tcp_off, seg.copy_len - seg.tcp_off);
}
