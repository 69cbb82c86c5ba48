/*
 * tcp_fields.cpp --
 *
 *	Reading the maximum segment size, window scale, SACK and timestamp options of a segment
 *	from its packet copy: the one option reader of the analysis and the
 *	graphs (the option text of the summary line has its own printer).
 */

#include "trace/tcp_fields.h"

#include "trace/binread.h"
#include "trace/bytes.h"
#include "trace/trace.h"

namespace {

enum { TCP_FIXED = 20, OPT_END = 0, OPT_NOP = 1, OPT_MSS = 2, OPT_WSCALE = 3, OPT_SACK = 5, OPT_TS = 8 };

void take_option(tcp_fields *f, int kind, const uint8_t *p, int len)
{
    if (kind == OPT_MSS && len == 4 && !f->has_mss) {
        f->has_mss = 1;
        f->mss = read_be16(p + 2);
    } else if (kind == OPT_WSCALE && len == 3 && !f->has_wscale) {
        f->has_wscale = 1;
        f->wscale = p[2];
    } else if (kind == OPT_TS && len == 10) {
        f->has_ts = 1;
        f->ts_val = read_be32(p + 2);
        f->ts_ecr = read_be32(p + 6);
    } else if (kind == OPT_SACK && len >= 10 && (len - 2) % 8 == 0) {
        for (int off = 2; off + 8 <= len && f->nsack < MAX_SACK_BLOCKS; off += 8) {
            f->sack_left[f->nsack] = read_be32(p + off);
            f->sack_right[f->nsack] = read_be32(p + off + 4);
            f->nsack++;
        }
    }
}

}  // namespace

tcp_fields parse_tcp_fields(const uint8_t *tcp, int32_t avail)
{
    tcp_fields f{};
    if (tcp == nullptr || avail < TCP_FIXED)
        return f;
    int32_t end = (tcp[12] >> 4) * 4;
    if (end > avail)
        end = avail;
    int32_t at = TCP_FIXED;
    while (at < end) {
        int kind = tcp[at];
        if (kind == OPT_END)
            break;
        if (kind == OPT_NOP) {
            at++;
            continue;
        }
        if (at + 1 >= end)
            break;
        int len = tcp[at + 1];
        if (len < 2 || at + len > end)
            break;
        take_option(&f, kind, tcp + at, len);
        at += len;
    }
    return f;
}

tcp_fields record_tcp_fields(int32_t i)
{
    if (i < 0 || i >= g_trace.main.count)
        return tcp_fields{};
    const uint8_t *p = record_bytes(&g_trace.main, i);
    if (p == nullptr)
        return tcp_fields{};
    int32_t have = record_cap_bytes(&g_trace.main, i);
    if (g_trace.main.copy_len > 0 && have > g_trace.main.copy_len)
        have = g_trace.main.copy_len;
    tcp_header_place where;
    if (have <= 0 || !find_tcp_header(p, static_cast<uint32_t>(have), &where) ||
        where.off >= static_cast<uint32_t>(have))
        return tcp_fields{};
    return parse_tcp_fields(p + where.off, have - static_cast<int32_t>(where.off));
}
