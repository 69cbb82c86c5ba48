/*
 * tcp_fields.cpp --
 *
 *	Reading the maximum segment size, window scale, SACK and timestamp options of a segment
 *	from its packet copy: the one option reader of the analysis and the
 *	graphs (the option text of the summary line has its own printer).
 *	Then the walk that tells how that printer's list ends, which the
 *	decoder runs on every segment with options.
 */

#include "trace/tcp_fields.h"

#include "trace/binread.h"
#include "capture/bytes.h"
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

tcp_fields trace_tcp_fields(const trace_array *t, int32_t i)
{
    if (i < 0 || i >= t->count)
        return tcp_fields{};
    const uint8_t *p = record_bytes(t, i);
    if (p == nullptr)
        return tcp_fields{};
    int32_t have = record_cap_bytes(t, i);
    if (t->copy_len > 0 && have > t->copy_len)
        have = t->copy_len;
    tcp_header_place where;
    if (have <= 0 || !find_tcp_header(p, static_cast<uint32_t>(have), &where) ||
        where.off >= static_cast<uint32_t>(have))
        return tcp_fields{};
    return parse_tcp_fields(p + where.off, have - static_cast<int32_t>(where.off));
}

tcp_fields record_tcp_fields(int32_t i)
{
    return trace_tcp_fields(&g_trace.main, i);
}

uint8_t tcp_option_value_width(uint8_t kind)
{
    switch (kind) {
    case 2:
        return 2;
    case 3:
        return 1;
    case 6:
    case 7:
    case 11:
    case 12:
    case 13:
        return 4;
    default:
        return 0;
    }
}

namespace {

/* How one option ends the walk of tcp_options_end. */
enum step { STEP_OK, STEP_MALFORMED, STEP_CUT };

/* Whether the data of the current option (`n` bytes from `data`) end past
 * the bytes that may be read. */
bool past_limit(uint32_t data, uint32_t n, uint32_t limit)
{
    return n > 0 && data + n > limit;
}

/* How the option at `data` of `kind` (length byte `len`) ends the walk of
 * tcp_options_end: STEP_OK with *consumed set, or where it stops. */
step option_step(uint8_t kind, uint32_t len, uint32_t data, uint32_t left, uint32_t limit,
                 uint32_t *consumed)
{
    uint8_t width = tcp_option_value_width(kind);
    uint32_t need_left = 0, reach = 0;
    if (width != 0) {
        need_left = reach = *consumed = width;
    } else if (kind == 4) {
        *consumed = 0;
    } else if (kind == 5) {
        *consumed = len - 2;
        reach = *consumed % 8 == 0 ? *consumed : 0;
    } else if (kind == 8) {
        /* The two values are checked one at a time. */
        if (left >= 4 && data + 4 > limit)
            return STEP_CUT;
        need_left = reach = *consumed = 8;
    } else if (kind == 19) {
        need_left = reach = *consumed = 16;
    } else {
        reach = *consumed = len - 2;
    }
    if (left < need_left)
        return STEP_MALFORMED;
    return past_limit(data, reach, limit) ? STEP_CUT : STEP_OK;
}

}  // namespace

option_end tcp_options_end(const uint8_t *opt, uint32_t count, uint32_t avail)
{
    uint32_t limit = avail < count ? avail : count;
    uint32_t left = count, pos = 0;
    while (left > 0) {
        if (pos >= limit)
            return OPTIONS_CUT;
        uint8_t kind = opt[pos];
        uint32_t len = 1, data = pos + 1;
        if (kind > 1) {
            if (left < 2)
                return OPTIONS_MALFORMED;
            if (pos + 1 >= limit)
                return OPTIONS_CUT;
            len = opt[pos + 1];
            if (len < 2 || len > left)
                return OPTIONS_MALFORMED;
            data = pos + 2;
        }
        left -= kind > 1 ? 2 : 1;
        uint32_t consumed = 0;
        step s = kind <= 1 ? STEP_OK : option_step(kind, len, data, left, limit, &consumed);
        if (s == STEP_MALFORMED)
            return OPTIONS_MALFORMED;
        if (s == STEP_CUT)
            return OPTIONS_CUT;
        if (kind == 0)
            break;
        pos = data + consumed;
        left -= consumed;
    }
    return OPTIONS_DONE;
}
