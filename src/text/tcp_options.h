/*
 * tcp_options.h --
 *
 *	The option list of the segment summary: the option bytes of a TCP
 *	header turned into a bracketed, comma-separated list such as
 *	"    < mss 1460 , sackOK , timestamp 1 0 , nop , wscale 7 > ".
 *	How such a list ends, found without forming it, is tcp_options_end
 *	(trace/tcp_fields.h), which the decoder runs too.
 */

#ifndef WIREPAINT_TEXT_TCP_OPTIONS_H
#define WIREPAINT_TEXT_TCP_OPTIONS_H

#include <cstdint>

#include "text/text_out.h"
#include "trace/tcp_fields.h"

/*
 * format_tcp_options --
 *	Appends the option list of the `count` option bytes at `opt` (the TCP
 *	header from offset 20 on; count = header length - 20 > 0) to `o`.
 *	Only the first `avail` of them are in the stored copy; nothing at or
 *	past min(count, avail) is read.
 *
 *	Thirteen kinds have names (eol, nop, mss, wscale, sackOK, sack, echo,
 *	echoreply, timestamp, cc, ccnew, ccecho, md5); any other shows as
 *	"opt-%u:" with its data bytes in hexadecimal. A length byte that
 *	disagrees with what the kind consumed shows as "[len %d]" and parsing
 *	goes on from the bytes consumed. SACK block edges are shown minus
 *	`sack_base`, modulo 2^32.
 *
 *	A length byte below 2 or beyond the option bytes left, or fewer bytes
 *	left than a kind's value needs, is a malformed option: the list closes
 *	with " > " and the 9 characters "[bad opt]" go to standard output,
 *	without a newline. An option that reaches past the stored copy ends
 *	the text with " [|tcp]" and nothing more.
 */
option_end format_tcp_options(const uint8_t *opt, uint32_t count, uint32_t avail,
                              uint32_t sack_base, text_out *o);

#endif
