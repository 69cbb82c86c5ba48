/*
 * tcp_fields.h --
 *
 *	The TCP options the analysis and the graphs need of a segment, read
 *	from its packet copy: the MSS and window scale shift of a SYN (the first one
 *	offered), the SACK blocks of an ACK and the timestamp pair. The records keep only the fixed header fields;
 *	these come from the copy, read with the byte-order readers and never
 *	past the bytes the copy holds (a cut copy yields fewer options).
 *
 *	Also the walk that tells how the option list of the segment summary
 *	ends (done, malformed or cut by the copy) without forming its text:
 *	the decoder runs it on each segment's bytes while they are at hand,
 *	the summary's option printer ends the same way.
 */

#ifndef WIREPAINT_TRACE_TCP_FIELDS_H
#define WIREPAINT_TRACE_TCP_FIELDS_H

#include <cstdint>

#include "capture/bytes.h"

/* Most SACK blocks one segment can carry (40 option bytes). */
enum { MAX_SACK_BLOCKS = 4 };

/* The options of one segment that the graphs read. */
struct tcp_fields {
    int has_mss;             /* 1 when a maximum segment size option was read */
    int mss;                 /* its value, bytes */
    int has_wscale;          /* 1 when a window scale option was read */
    int wscale;              /* its shift, as carried (not capped) */
    int has_ts;              /* 1 when a timestamp option was read */
    uint32_t ts_val;         /* TSval */
    uint32_t ts_ecr;         /* TSecr */
    int nsack;               /* SACK blocks read, 0..MAX_SACK_BLOCKS */
    uint32_t sack_left[MAX_SACK_BLOCKS];   /* block edges as carried */
    uint32_t sack_right[MAX_SACK_BLOCKS];
};

/*
 * parse_tcp_fields --
 *	Reads the options of the TCP header at `tcp` of which `avail` bytes
 *	lie in the copy (the header's own length bounds them too). Stops at
 *	the end-of-list option, a malformed length or the copy's end; what
 *	was read before stays. Returns the fields, all zero when none.
 */
tcp_fields parse_tcp_fields(const uint8_t *tcp, int32_t avail);

/*
 * record_tcp_fields --
 *	parse_tcp_fields of main-trace record `i`'s copy (g_trace.main),
 *	its TCP header found as the decoder finds it; all zero for a record
 *	without a copy or an index outside the trace. No side effects.
 */
tcp_fields record_tcp_fields(int32_t i);

/* The same for record `i` of trace `t` (the main or the peer trace). */
struct trace_array;
tcp_fields trace_tcp_fields(const trace_array *t, int32_t i);

/* How an option list ended. */
enum option_end {
    OPTIONS_DONE = 0,       /* closed with " > " */
    OPTIONS_MALFORMED = 1,  /* a malformed option: " > " and "[bad opt]" */
    OPTIONS_CUT = 2         /* the stored copy ended first: " [|tcp]" */
};

/*
 * tcp_option_value_width --
 *	The width in bytes (1, 2 or 4) of the one number an option of `kind`
 *	carries: mss 2, wscale 1, echo, echoreply, cc, ccnew and ccecho 4;
 *	0 for every other kind.
 */
uint8_t tcp_option_value_width(uint8_t kind);

/*
 * tcp_options_end --
 *	How the summary's option list (text/tcp_options.h, format_tcp_options)
 *	ends for the `count` option bytes at `opt` (the TCP header from offset
 *	20 on) of which only the first `avail` are in the stored copy, found
 *	without forming any text and without the "[bad opt]" mark: a pure
 *	function of its arguments. Reads nothing at or past min(count, avail).
 */
option_end tcp_options_end(const uint8_t *opt, uint32_t count, uint32_t avail);

/* Bytes of the fixed TCP header, and of one with two nops and a
 * timestamp, the layout nearly every segment of a connection with
 * timestamps carries. */
enum { TCP_FIXED_HEADER = 20, TCP_NOPS_TIMESTAMP_HEADER = 32 };

/*
 * tcp_options_may_end_malformed --
 *	Whether the options of the TCP header at `tcp`, of which `in_copy`
 *	bytes (header and what follows) lie in the stored copy, end as a
 *	malformed option (tcp_options_end): false when the fixed header is
 *	not all in the copy or the header has no options. Reads nothing at or
 *	past `in_copy`; no side effects. Inline, since the decoder asks it of
 *	every segment: two nops and a whole timestamp end well without the
 *	walk.
 */
inline bool tcp_options_may_end_malformed(const uint8_t *tcp, int32_t in_copy)
{
    if (in_copy < TCP_FIXED_HEADER)
        return false;
    int32_t hdrlen = (tcp[12] >> 4) * 4;
    if (hdrlen <= TCP_FIXED_HEADER)
        return false;
    if (hdrlen == TCP_NOPS_TIMESTAMP_HEADER && in_copy >= TCP_NOPS_TIMESTAMP_HEADER &&
        read_be32(tcp + TCP_FIXED_HEADER) == 0x0101080au)
        return false;
    return tcp_options_end(tcp + TCP_FIXED_HEADER, (uint32_t)(hdrlen - TCP_FIXED_HEADER),
                           (uint32_t)(in_copy - TCP_FIXED_HEADER)) == OPTIONS_MALFORMED;
}

#endif
