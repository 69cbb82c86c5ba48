/*
 * text_out.h --
 *
 *	A bounded writer for the texts of the segment text subsystem. Every
 *	text here is appended to a zero-terminated character buffer of known
 *	size; the writer remembers where the text ends so that appending does
 *	not rescan it, and never writes past the buffer: what does not fit is
 *	cut, and the text stays zero-terminated.
 *
 *	A discarding writer (text_out_discarding) has no buffer and drops
 *	whatever is appended without formatting it, so that a text routine
 *	can be run for its effects on other state alone.
 */

#ifndef WIREPAINT_TEXT_TEXT_OUT_H
#define WIREPAINT_TEXT_TEXT_OUT_H

#include <cstddef>

struct text_out {
    char *buf;      /* the buffer; always zero-terminated; null: discarding */
    size_t size;    /* its size in bytes, terminator included; > 0 (0 when
                     * discarding) */
    size_t len;     /* length of the text in it, < size (0 when discarding) */
};

/*
 * text_out_at_end --
 *	A writer that appends after the text already in `buf` (of `size`
 *	bytes, size > 0). A buffer without a terminator within `size` is
 *	taken as full and cut to size - 1.
 */
text_out text_out_at_end(char *buf, size_t size);

/* A writer that formats nothing and keeps nothing. */
text_out text_out_discarding();

/* Whether `o` drops what is appended to it. */
inline bool out_discards(const text_out *o)
{
    return o->buf == nullptr;
}

/* Appends printf-formatted text; the part that does not fit is dropped. */
void out_printf(text_out *o, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

/* Appends a flag item: the character between two spaces, " %c ". */
void out_flag_item(text_out *o, char c);

/* Appends a plain string. */
void out_str(text_out *o, const char *s);

/* The text that marks the end of what the stored copy of a packet holds. */
extern const char truncated_mark[];

#endif
