/*
 * summary.h --
 *
 *	The one-line segment summary, in the manner of a packet printer:
 *	endpoints, flag letters, checksum verdict, relative sequence range,
 *	acknowledgement, window, urgent pointer, TCP options and a note for a
 *	reset carrying data. It reads the stored packet copy, not the decoded
 *	record, so it shows the segment as it was carried.
 */

#ifndef WIREPAINT_TEXT_SUMMARY_H
#define WIREPAINT_TEXT_SUMMARY_H

#include <cstddef>
#include <cstdint>

/* Where the headers of one stored packet copy lie. */
struct segment_bytes {
    const uint8_t *ip;   /* the copy: the IP header starts at its first byte */
    int32_t copy_len;    /* bytes the copy holds; nothing past them is read */
    int32_t tcp_off;     /* offset of the TCP header in the copy (may lie
                          * at or past copy_len in a cut copy) */
    int32_t tcp_len;     /* TCP header plus payload as the IP header gives
                          * it; negative when the IP lengths disagree */
};

/*
 * format_segment_summary --
 *	Appends the summary of the segment in `seg` to the zero-terminated
 *	text in `text` (a buffer of `size` bytes; what does not fit is cut).
 *	The checksum is verified only when `copy_may_be_short` is 0 (and the
 *	whole segment lies in the copy), over the IPv4 or IPv6 pseudo-header.
 *
 *	Where a field or option that the summary shows lies past the copy, the
 *	text ends with " [|tcp]" and nothing more. A destination port of 0
 *	gives the short form "%s > %s: [|tcp]" with the address texts only.
 *
 *	Side effects: for a segment with ACK, the relative sequence table
 *	(relative_sequence_numbers); for every segment, the name caches; for a
 *	malformed option, "[bad opt]" on standard output (format_tcp_options).
 */
void format_segment_summary(const segment_bytes &seg, int copy_may_be_short, char *text,
                            size_t size);

/*
 * prime_segment_summary --
 *	Everything format_segment_summary(seg, copy_may_be_short, ...) does
 *	besides its text, without formatting any text: the same name-cache
 *	lookups in the same order, the same relative sequence table update
 *	and the same "[bad opt]" on standard output. The checksum verdict is
 *	text alone, so neither its flag nor a sum is needed. True when the
 *	summary consulted the relative sequence table (a segment with ACK
 *	that got that far): its connection is in the table then, and its two
 *	hosts and two ports in the name caches.
 */
bool prime_segment_summary(const segment_bytes &seg);

/*
 * summary_may_mark_bad_options --
 *	False when the summary of `seg` cannot end with a malformed option
 *	("[bad opt]"): its TCP header is not in the copy as far as the
 *	options, has none, or they end otherwise (tcp_options_end). True
 *	does not promise the mark: the summary may stop before the options.
 *	No side effects.
 */
bool summary_may_mark_bad_options(const segment_bytes &seg);

/*
 * append_flag_letters --
 *	Appends the flag items of a TCP flags byte as the summary shows them:
 *	" S ", " F ", " R ", " P ", " W ", " E " in that order for the flags
 *	set, or " . " when none of them is.
 */
struct text_out;
void append_flag_letters(uint8_t flags, text_out *o);

/*
 * tcp_checksum_sum --
 *	The 16-bit ones'-complement sum (RFC 1071) over the pseudo-header of
 *	the IP version (`v6`; addresses from `ip`) followed by the `tcp_len`
 *	bytes at `tcp`, the checksum field included as carried. A segment
 *	whose checksum is right sums to 0xffff. Reads ip[0..39] for IPv6 or
 *	ip[12..19] for IPv4, and tcp[0..tcp_len-1]; tcp_len >= 0.
 */
uint16_t tcp_checksum_sum(const uint8_t *ip, bool v6, const uint8_t *tcp, int32_t tcp_len);

#endif
