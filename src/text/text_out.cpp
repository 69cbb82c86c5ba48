/*
 * text_out.cpp --
 *
 *	The bounded text writer that the summary, the option list and the
 *	header dump append through.
 */

#include "text/text_out.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char truncated_mark[] = " [|tcp]";

text_out text_out_at_end(char *buf, size_t size)
{
    text_out o;
    o.buf = buf;
    o.size = size;
    const void *nul = std::memchr(buf, 0, size);
    if (nul == nullptr) {
        buf[size - 1] = 0;
        o.len = size - 1;
    } else {
        o.len = (size_t)((const char *)nul - buf);
    }
    return o;
}

text_out text_out_discarding()
{
    return text_out{nullptr, 0, 0};
}

void out_printf(text_out *o, const char *fmt, ...)
{
    size_t room = o->size - o->len;
    if (room <= 1)
        return;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(o->buf + o->len, room, fmt, ap);
    va_end(ap);
    if (n < 0) {
        o->buf[o->len] = 0;
        return;
    }
    o->len += (size_t)n < room ? (size_t)n : room - 1;
}

void out_flag_item(text_out *o, char c)
{
    out_printf(o, " %c ", c);
}

void out_str(text_out *o, const char *s)
{
    out_printf(o, "%s", s);
}
