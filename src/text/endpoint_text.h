/*
 * endpoint_text.h --
 *
 *	"address:port" of one end of a segment, as the window's title, the
 *	pictures and the graphs name the connection's hosts: the dotted quad
 *	for IPv4, the bracketed address for IPv6, numbers only (no name
 *	lookup).
 */

#ifndef WIREPAINT_TEXT_ENDPOINT_TEXT_H
#define WIREPAINT_TEXT_ENDPOINT_TEXT_H

#include <cstddef>

struct seg_record;

/*
 * endpoint_text --
 *	Writes "address:port" of record r's source (`source` nonzero) or
 *	destination into `out` (`size` bytes, cut to fit), read as IPv6 when
 *	g_trace.ipv6 is set. No other side effects.
 */
void endpoint_text(const seg_record &r, int source, char *out, size_t size);

/*
 * address_text --
 *	Writes the address alone of record r's source (`source` nonzero) or
 *	destination into `out` (`size` bytes, cut to fit; IPv6 without
 *	brackets). No other side effects.
 */
void address_text(const seg_record &r, int source, char *out, size_t size);

#endif
