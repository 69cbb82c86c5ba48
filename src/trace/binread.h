/*
 * binread.h --
 *
 *	The capture reader and the segment decoder: one capture file, read
 *	through libpcap, becomes the trace under construction (g_trace.building),
 *	one seg_record per accepted TCP segment of the file's one connection.
 */

#ifndef WIREPAINT_TRACE_BINREAD_H
#define WIREPAINT_TRACE_BINREAD_H

#include <cstdint>

#include <pcap/pcap.h>

#include "capture/bytes.h"
#include "capture/linktype.h"
#include "trace/trace.h"

/*
 * read_capture --
 *	Reads every packet of `file` into the trace under construction, which
 *	must be empty. Sets g_trace.linktype, snaplen, the copy buffer and the
 *	trace duration (0 for an empty trace). Returns the array of the trace
 *	under construction: nullptr when the file held no accepted segment
 *	(g_trace.building.count is then 0). Applies the -f filter and the
 *	connection chosen for the file, if any (trace/connlist.h). Returns
 *	only on success: a file that cannot be opened, a read error, a packet
 *	larger than the snapshot length or an unknown link type end the
 *	process through load_fail (status -1, or -2 for a read error; 1 for a
 *	bad filter), with a message on standard error; a trapped load's
 *	failure (capture/loadfail.h) leaves the trace under construction
 *	empty. A file cut short in a record after its first packet keeps its
 *	packets, with a warning.
 */
seg_record *read_capture(const char *file);

/*
 * handle_packet --
 *	The per-packet handler given to pcap_loop. Strips the link header (and VLAN tags, see linktype.h)
 *	and hands the rest to decode_segment. Fails (load_fail) for a packet
 *	larger than the snapshot length or a link type outside the table;
 *	drops a frame shorter than its link header without a word, and a
 *	cooked frame of a protocol other than IP with "not tcp".
 */
void handle_packet(u_char *user, const struct pcap_pkthdr *hdr, const u_char *data);

/*
 * decode_segment --
 *	Decodes one packet whose IP header is at `ip`, with `avail` captured
 *	bytes from there on, `caplen` being the captured length of the whole
 *	frame. Either appends one record to the trace under construction
 *	(and its index to the trace's list of records whose options may end
 *	malformed in the summary, trace_array.bad_opt, when they may), or
 *	writes one line on standard output ("Not tcp", "not tcp", "Warning:
 *	address unmatch", "Warning: port unmatch", "Warning: truncated packet";
 *	only counted while the reader is quiet, trace/dropnote.h) and changes
 *	nothing else, or ends the process when memory runs out.
 */
void decode_segment(const uint8_t *ip, uint32_t avail, const struct pcap_pkthdr *hdr,
                    uint32_t caplen);

/* Where decode_segment finds the TCP header of an IP packet. */
struct tcp_header_place {
    bool v6;          /* an IPv6 packet */
    uint32_t off;     /* offset of the TCP header from the IP header */
    int32_t paylen;   /* payload bytes by the IP length, as decode_segment
                       * computes a record's paylen; may be < 0 */
};

/*
 * find_tcp_header --
 *	Whether decode_segment would find the TCP header (through its window
 *	field) in the `avail` bytes at `ip`; fills *out when it would.
 */
int find_tcp_header(const uint8_t *ip, uint32_t avail, tcp_header_place *out);

#endif
