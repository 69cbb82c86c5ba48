/*
 * linktype.h --
 *
 *	The link layers wirepaint reads, as libpcap numbers them, and where
 *	the IP header of a captured frame begins under each. Ethernet and the
 *	Linux cooked headers may carry up to two 802.1Q / 802.1ad VLAN tags
 *	before the IP header; those are stepped over. The cooked headers name
 *	the packet's protocol, and only IPv4 and IPv6 are taken.
 */

#ifndef WIREPAINT_CAPTURE_LINKTYPE_H
#define WIREPAINT_CAPTURE_LINKTYPE_H

#include <cstdint>

/*
 * link_header_length --
 *	The fixed link-header length for a libpcap link type (before any VLAN
 *	tag), or -1 for a link type wirepaint does not read.
 */
int link_header_length(int linktype);

/* What link_ip_offset found. */
enum link_verdict {
    LINK_IP,          /* the IP header begins at *offset */
    LINK_SHORT,       /* the frame ends inside its link header: drop quietly */
    LINK_NOT_IP,      /* a cooked frame of another protocol: not IP */
    LINK_UNKNOWN      /* a link type outside the table */
};

/*
 * link_ip_offset --
 *	Finds the IP header of the `caplen` captured bytes of `frame` under
 *	`linktype`: the fixed header, then, for Ethernet and the cooked
 *	forms, up to two VLAN tags (types 0x8100, 0x88a8, 0x9100). Reads no
 *	byte at or past caplen. Sets *offset only for LINK_IP.
 */
link_verdict link_ip_offset(int linktype, const uint8_t *frame, uint32_t caplen,
                            uint32_t *offset);

#endif
