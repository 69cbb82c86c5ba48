/*
 * detail.h --
 *
 *	The detail text of one drawn segment: its summary line and, on
 *	request, a hexadecimal dump of its IP and TCP headers. The text lives
 *	in the one detail text buffer of g_text, which every call clears and
 *	overwrites.
 */

#ifndef WIREPAINT_TEXT_DETAIL_H
#define WIREPAINT_TEXT_DETAIL_H

#include <cstdint>

#include "text/summary.h"
#include "text/text_out.h"

/*
 * locate_segment --
 *	Finds the IP header length h, the TCP header and the TCP length in a
 *	stored copy `p` of `copy_len` bytes, parsed as IPv6 when `ipv6` is set
 *	(one extension header of type 0, 43 or 60 is stepped over, and the
 *	TCP length is the payload length less it) and as IPv4 otherwise (TCP
 *	length = total length - h). Reads nothing past the copy: when the
 *	fields that give h lie past it, the TCP header is placed at the end of
 *	the copy with a TCP length of 0.
 */
segment_bytes locate_segment(const uint8_t *p, int32_t copy_len, int ipv6);

/*
 * copy_may_be_short --
 *	Whether a packet of `packet_len` bytes as its IP header gives them
 *	(h + TCP length) may reach past a copy of `copy_len` bytes, of which
 *	the first `data_len` are packet data and the rest fill: 1 when
 *	packet_len >= copy_len (a packet exactly as long as the copy counts as
 *	possibly short) or packet_len > data_len; 0 otherwise.
 */
int copy_may_be_short(int32_t packet_len, int32_t copy_len, int32_t data_len);

/*
 * append_header_dump --
 *	Appends the dump of the first `n` bytes of `p` in lines of 16: each
 *	line "\n      0x%04x:  " with its offset, then its bytes in pairs,
 *	"%02x" for an even-numbered byte and "%02x " for an odd one. Nothing
 *	for n <= 0.
 */
void append_header_dump(const uint8_t *p, int32_t n, text_out *o);

/*
 * segment_detail_text --
 *	The detail text of line `line` (0 <= line < g_trace.main.count; the
 *	copy is record_bytes(&g_trace.main, line), of g_trace.copy_len bytes, parsed
 *	by g_trace.ipv6). With `summary_only` nonzero, the summary line alone;
 *	otherwise the summary, a newline and the dump of the IP and TCP
 *	headers (as far as the copy holds them).
 *
 *	Returns g_text.detail, cleared and refilled by every call. An index
 *	outside the line list, or a line without bytes, gives an empty text.
 *	Side effects: those of format_segment_summary, called exactly once for
 *	every line in range.
 */
const char *segment_detail_text(int line, int summary_only);

/*
 * segment_header_bytes --
 *	The bytes segment_detail_text(line, 0) dumps after its summary line:
 *	sets *p and *n to them (the IP and TCP headers as far as the copy
 *	holds them) and returns true; false, with *n = 0, where that text is
 *	empty. No side effects: the summary is not formatted.
 */
bool segment_header_bytes(int line, const uint8_t **p, int32_t *n);

/*
 * prime_segment_text --
 *	What segment_detail_text(line, 1) does to the relative sequence table,
 *	the name caches and standard output, without formatting any text and
 *	without touching the detail text buffer (prime_segment_summary).
 */
void prime_segment_text(int line);

/*
 * prime_record_text --
 *	prime_segment_text for main record `index`, with or without a line
 *	list: it reads only the record's copy, so it may run while the
 *	analysis passes build the line list on another thread. True when
 *	the summary consulted the relative sequence table
 *	(prime_segment_summary).
 */
bool prime_record_text(int index);

/*
 * record_may_mark_bad_options --
 *	summary_may_mark_bad_options for main record `index`'s bytes; false
 *	for a record without bytes. No side effects. The per-record form of
 *	the decoder's list of such records (trace_array.bad_opt): it reads the
 *	record's bytes again.
 */
bool record_may_mark_bad_options(int index);

/*
 * record_located_as_read --
 *	Whether the summary finds main record `index`'s TCP header where the
 *	decoder found it: the record has bytes, and their IP version is the
 *	one g_trace.ipv6 (the file read last) names, which the summary's
 *	header location follows. The decoder takes one IP version per file.
 *	No side effects.
 */
bool record_located_as_read(int index);

#endif
