/*
 * tcp_options.cpp --
 *
 *	The TCP option printer of the segment summary. It walks the option
 *	bytes of one header, names each option, checks its length byte
 *	against the bytes left in the header and what the kind consumed, and
 *	stops where the header or the stored copy ends.
 *
 *	Two limits are kept apart: the option bytes the header declares
 *	(`left`, checked first: running short there is a malformed option)
 *	and the bytes the stored copy holds (`limit`: running short there is
 *	a cut snapshot, not a fault of the packet).
 */

#include "text/tcp_options.h"

#include <cstdio>

#include "capture/bytes.h"
#include "trace/dropnote.h"

namespace {

enum step { STEP_OK, STEP_MALFORMED, STEP_CUT };

/* Working state of one option list. */
struct opt_walk {
    const uint8_t *opt;  /* first option byte */
    uint32_t limit;      /* option bytes that may be read: min(count, avail) */
    uint32_t left;       /* option bytes of the header not yet consumed */
    uint32_t data;       /* offset of the current option's data bytes */
    uint32_t consumed;   /* data bytes the current option consumed */
};

/* The names of the kinds whose value is one number of a fixed width
 * (tcp_option_value_width). */
struct value_kind {
    uint8_t kind;
    const char *name;
};

const value_kind value_kinds[] = {
    {2, "mss"},
    {3, "wscale"},
    {6, "echo"},
    {7, "echoreply"},
    {11, "cc"},
    {12, "ccnew"},
    {13, "ccecho"},
};

const value_kind *find_value_kind(uint8_t kind)
{
    for (const value_kind &v : value_kinds)
        if (v.kind == kind)
            return &v;
    return nullptr;
}

/*
 * Whether the `n` data bytes from the current option's data on are there:
 * in the header first (else malformed), then in the copy (else cut).
 */
step need(const opt_walk &w, uint32_t n)
{
    if (w.left < n)
        return STEP_MALFORMED;
    if (w.data + n > w.limit)
        return STEP_CUT;
    return STEP_OK;
}

uint32_t read_width(const uint8_t *p, uint8_t width)
{
    if (width == 1)
        return p[0];
    if (width == 2)
        return read_be16(p);
    return read_be32(p);
}

step print_value_kind(opt_walk &w, const value_kind &v, text_out *o)
{
    out_str(o, v.name);
    uint8_t width = tcp_option_value_width(v.kind);
    step s = need(w, width);
    if (s != STEP_OK)
        return s;
    out_printf(o, " %u", read_width(w.opt + w.data, width));
    w.consumed = width;
    return STEP_OK;
}

/* Timestamp: the two values are checked one at a time. */
step print_timestamp(opt_walk &w, text_out *o)
{
    out_str(o, "timestamp");
    step s = need(w, 4);
    if (s != STEP_OK)
        return s;
    out_printf(o, " %u", read_be32(w.opt + w.data));
    s = need(w, 8);
    if (s != STEP_OK)
        return s;
    out_printf(o, " %u", read_be32(w.opt + w.data + 4));
    w.consumed = 8;
    return STEP_OK;
}

/* SACK: blocks of two edges, relative to the SACK base. The length byte
 * has passed the header check, so the blocks lie within the header. */
step print_sack(opt_walk &w, uint32_t len, uint32_t sack_base, text_out *o)
{
    uint32_t datalen = len - 2;
    w.consumed = datalen;
    if (datalen % 8 != 0) {
        out_str(o, "malformed sack");
        return STEP_OK;
    }
    out_printf(o, "sack %d ", (int)(datalen / 8));
    for (uint32_t b = 0; b < datalen; b += 8) {
        if (w.data + b + 8 > w.limit)
            return STEP_CUT;
        const uint8_t *p = w.opt + w.data + b;
        out_printf(o, "{%u:%u}", read_be32(p) - sack_base, read_be32(p + 4) - sack_base);
    }
    return STEP_OK;
}

/* Data bytes in hexadecimal without separator, stopping where the copy ends. */
step print_hex(opt_walk &w, uint32_t n, text_out *o)
{
    for (uint32_t i = 0; i < n; i++) {
        if (w.data + i >= w.limit)
            return STEP_CUT;
        out_printf(o, "%02x", w.opt[w.data + i]);
    }
    return STEP_OK;
}

step print_md5(opt_walk &w, text_out *o)
{
    out_str(o, "md5:");
    if (w.left < 16)
        return STEP_MALFORMED;
    w.consumed = 16;
    return print_hex(w, 16, o);
}

step print_unknown(opt_walk &w, uint8_t kind, uint32_t len, text_out *o)
{
    out_printf(o, "opt-%u:", (unsigned)kind);
    w.consumed = len - 2;
    return print_hex(w, len - 2, o);
}

/* The text and values of one option of kind 2 or more. */
step print_option(opt_walk &w, uint8_t kind, uint32_t len, uint32_t sack_base, text_out *o)
{
    const value_kind *v = find_value_kind(kind);
    if (v != nullptr)
        return print_value_kind(w, *v, o);
    switch (kind) {
    case 4:
        out_str(o, "sackOK");
        return STEP_OK;
    case 5:
        return print_sack(w, len, sack_base, o);
    case 8:
        return print_timestamp(w, o);
    case 19:
        return print_md5(w, o);
    default:
        return print_unknown(w, kind, len, o);
    }
}

option_end end_malformed(text_out *o)
{
    drop_mark(DROP_BAD_OPTIONS, "[bad opt]");
    out_flag_item(o, '>');
    return OPTIONS_MALFORMED;
}

option_end end_cut(text_out *o)
{
    out_str(o, truncated_mark);
    return OPTIONS_CUT;
}

}  // namespace

option_end format_tcp_options(const uint8_t *opt, uint32_t count, uint32_t avail,
                              uint32_t sack_base, text_out *o)
{
    opt_walk w;
    w.opt = opt;
    w.limit = avail < count ? avail : count;
    w.left = count;
    w.data = 0;
    char sep = '<';
    uint32_t pos = 0;

    out_flag_item(o, ' ');
    while (w.left > 0) {
        out_flag_item(o, sep);
        if (pos >= w.limit)
            return end_cut(o);
        uint8_t kind = opt[pos];
        uint32_t len = 1;
        if (kind <= 1) {
            w.left -= 1;
            w.data = pos + 1;
        } else {
            /* A kind of 2 or more in the last option byte fails whatever
             * follows it, so the byte past the options is never read. */
            if (w.left < 2)
                return end_malformed(o);
            if (pos + 1 >= w.limit)
                return end_cut(o);
            len = opt[pos + 1];
            if (len < 2 || len > w.left)
                return end_malformed(o);
            w.left -= 2;
            w.data = pos + 2;
        }
        w.consumed = 0;
        step s = STEP_OK;
        if (kind == 0)
            out_str(o, "eol");
        else if (kind == 1)
            out_str(o, "nop");
        else
            s = print_option(w, kind, len, sack_base, o);
        if (s == STEP_MALFORMED)
            return end_malformed(o);
        if (s == STEP_CUT)
            return end_cut(o);

        uint32_t expected = w.consumed + (kind <= 1 ? 1 : 2);
        if (expected != len)
            out_printf(o, "[len %d]", (int)len);
        if (kind == 0)
            break;
        pos = w.data + w.consumed;
        w.left -= w.consumed;
        sep = ',';
    }
    out_flag_item(o, '>');
    return OPTIONS_DONE;
}
