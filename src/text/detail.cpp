/*
 * detail.cpp --
 *
 *	The detail text of a segment: header location in the stored copy,
 *	the may-be-short test that gates the checksum verdict, and the header
 *	dump, and the priming of one segment: after a load every segment runs
 *	through the summary once, in trace order, so that the relative
 *	sequence table and the name caches hold the connection before any
 *	click. prime_segment_text does that without formatting a text;
 *	segment_detail_text(i, 1) does it with one (the literal form).
 */

#include "text/detail.h"

#include "analysis/line.h"
#include "text/text_state.h"
#include "capture/bytes.h"
#include "trace/trace.h"

namespace {

enum { IPV6_HEADER = 40, DUMP_LINE = 16 };

/* Whether an IPv6 next-header value is one extension header to step over. */
bool is_stepped_extension(uint8_t next)
{
    return next == 0 || next == 43 || next == 60;
}

/* The TCP header placed at the end of the copy: the fields that tell
 * where it starts are not in the copy. */
segment_bytes unlocated(const uint8_t *p, int32_t copy_len)
{
    return segment_bytes{p, copy_len, copy_len, 0};
}

segment_bytes locate_ipv6(const uint8_t *p, int32_t copy_len)
{
    if (copy_len < 7)
        return unlocated(p, copy_len);
    int32_t payload = read_be16(p + 4);
    int32_t h = IPV6_HEADER;
    if (is_stepped_extension(p[6])) {
        if (copy_len < IPV6_HEADER + 2)
            return unlocated(p, copy_len);
        h = IPV6_HEADER + (p[IPV6_HEADER + 1] + 1) * 8;
    }
    return segment_bytes{p, copy_len, h, payload - (h - IPV6_HEADER)};
}

segment_bytes locate_ipv4(const uint8_t *p, int32_t copy_len)
{
    if (copy_len < 4)
        return unlocated(p, copy_len);
    int32_t h = (p[0] & 0x0f) * 4;
    return segment_bytes{p, copy_len, h, (int32_t)read_be16(p + 2) - h};
}

/* Bytes from the IP header to the end of the TCP header, within the copy. */
int32_t dump_length(const segment_bytes &seg)
{
    int32_t n = seg.copy_len;
    if (seg.tcp_off >= 0 && seg.tcp_off <= seg.copy_len - 13)
        n = seg.tcp_off + (seg.ip[seg.tcp_off + 12] >> 4) * 4;
    return n < seg.copy_len ? n : seg.copy_len;
}

/* Packet-data bytes of line `line`'s copy: its record's, within the copy. */
int32_t data_bytes_of(int line, int32_t copy_len)
{
    int32_t n = record_cap_bytes(&g_trace.main, line);
    if (n < 0)
        return 0;
    return n < copy_len ? n : copy_len;
}

}  // namespace

segment_bytes locate_segment(const uint8_t *p, int32_t copy_len, int ipv6)
{
    if (copy_len < 0)
        copy_len = 0;
    return ipv6 ? locate_ipv6(p, copy_len) : locate_ipv4(p, copy_len);
}

int copy_may_be_short(int32_t packet_len, int32_t copy_len, int32_t data_len)
{
    return packet_len >= copy_len || packet_len > data_len;
}

void append_header_dump(const uint8_t *p, int32_t n, text_out *o)
{
    for (int32_t off = 0; off < n; off += DUMP_LINE) {
        out_printf(o, "\n      0x%04x:  ", (unsigned)off);
        int32_t k = n - off < DUMP_LINE ? n - off : DUMP_LINE;
        for (int32_t j = 0; j < k; j++)
            out_printf(o, j % 2 == 0 ? "%02x" : "%02x ", p[off + j]);
    }
}

namespace {

/*
 * Where the headers of main record `line`'s copy lie, and its
 * may-be-short flag. False, with an empty result, for an index outside
 * the main trace or a record without bytes. Reads the record's copy and
 * its count of packet-data bytes and the trace's copy length and address
 * family, nothing the analysis writes.
 */
bool record_segment(int line, segment_bytes *seg, int *short_copy)
{
    if (line < 0 || line >= g_trace.main.count)
        return false;
    const uint8_t *p = record_bytes(&g_trace.main, line);
    if (p == nullptr)
        return false;

    /* The text reads only the copy's packet data: past it lies zero fill,
     * which would read as header fields and options that were never
     * captured. The possibly-short test still counts the whole copy. */
    int32_t copy_len = g_trace.copy_len > 0 ? g_trace.copy_len : 0;
    int32_t data_len = data_bytes_of(line, copy_len);
    *seg = locate_segment(p, data_len, g_trace.ipv6);
    int32_t packet_len = seg->tcp_off + seg->tcp_len;
    *short_copy = copy_may_be_short(packet_len, copy_len, data_len);
    return true;
}

/* record_segment for line `line`: false as well without a line list. */
bool line_segment(int line, segment_bytes *seg, int *short_copy)
{
    return g_trace.lines != nullptr && record_segment(line, seg, short_copy);
}

}  // namespace

const char *segment_detail_text(int line, int summary_only)
{
    char *buf = g_text.detail;
    buf[0] = 0;
    segment_bytes seg;
    int short_copy = 0;
    if (!line_segment(line, &seg, &short_copy))
        return buf;
    format_segment_summary(seg, short_copy, buf, DETAIL_TEXT_SIZE);
    if (summary_only)
        return buf;

    text_out o = text_out_at_end(buf, DETAIL_TEXT_SIZE);
    out_str(&o, "\n");
    append_header_dump(seg.ip, dump_length(seg), &o);
    return buf;
}

void prime_segment_text(int line)
{
    segment_bytes seg;
    int short_copy = 0;
    if (line_segment(line, &seg, &short_copy))
        prime_segment_summary(seg);
}

bool prime_record_text(int index)
{
    segment_bytes seg;
    int short_copy = 0;
    return record_segment(index, &seg, &short_copy) && prime_segment_summary(seg);
}

bool record_may_mark_bad_options(int index)
{
    segment_bytes seg;
    int short_copy = 0;
    return record_segment(index, &seg, &short_copy) && summary_may_mark_bad_options(seg);
}

bool record_located_as_read(int index)
{
    segment_bytes seg;
    int short_copy = 0;
    if (!record_segment(index, &seg, &short_copy) || seg.copy_len < 1)
        return false;
    return ((seg.ip[0] >> 4) == 6) == (g_trace.ipv6 != 0);
}
