/*
 * tcp_fields.h --
 *
 *	The TCP options the analysis and the graphs need of a segment, read
 *	from its packet copy: the MSS and window scale shift of a SYN (the first one
 *	offered), the SACK blocks of an ACK and the timestamp pair. The records keep only the fixed header fields;
 *	these come from the copy, read with the byte-order readers and never
 *	past the bytes the copy holds (a cut copy yields fewer options).
 */

#ifndef WIREPAINT_TRACE_TCP_FIELDS_H
#define WIREPAINT_TRACE_TCP_FIELDS_H

#include <cstdint>

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

#endif
