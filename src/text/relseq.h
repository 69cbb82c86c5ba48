/*
 * relseq.h --
 *
 *	Relative sequence numbering for the segment summary: sequence and
 *	acknowledgement numbers shown counted from the first segment with ACK
 *	that the summary met for a connection, so that a data segment reads
 *	" 1:101(100) ack 1" rather than with ten-digit numbers.
 *
 *	Connections are told apart by their endpoint pair only, in a fixed
 *	endpoint order, so both directions share one entry of the table in
 *	g_text. The table lives for the whole run: opening another capture of
 *	the same connection meets the entry that the earlier one left.
 */

#ifndef WIREPAINT_TEXT_RELSEQ_H
#define WIREPAINT_TEXT_RELSEQ_H

#include <cstdint>

/* What the summary shows for a segment with ACK. */
struct relseq_result {
    uint32_t seq;        /* sequence number to show */
    uint32_t ack;        /* acknowledgement number to show */
    uint32_t sack_base;  /* subtracted from SACK block edges */
};

/*
 * relative_sequence_numbers --
 *	For a segment with ACK from (src, sport) to (dst, dport): addresses
 *	of `addr_len` bytes (4 or 16) as carried, ports and numbers in host
 *	order. The first endpoint of the pair is the one with the lower port,
 *	on equal ports the lower address, and on equal endpoints the source;
 *	a segment whose first endpoint is its destination is reversed.
 *
 *	The first segment of a connection, and every one with SYN, sets the
 *	two bases from its own numbers (the sender's sequence number, and the
 *	acknowledgement number - 1 for the other side) and is returned as
 *	carried; later ones are returned minus the bases, modulo 2^32. The
 *	SACK base is the base of the receiver's sequence space.
 *
 *	Side effects: creates or updates the connection's entry in
 *	g_text.relseq; a new entry allocates one zero-filled blank slot, which
 *	is never freed.
 */
relseq_result relative_sequence_numbers(const uint8_t *src, const uint8_t *dst, int addr_len,
                                        uint16_t sport, uint16_t dport, uint8_t flags,
                                        uint32_t seq, uint32_t ack);

#endif
