/*
 * linktype.cpp --
 *
 *	The link-header table and the walk from a frame's first byte to its
 *	IP header. Most link headers are stepped over unread, as they always
 *	were; Ethernet and the two Linux cooked forms carry an EtherType-style
 *	protocol field, so VLAN tags behind it can be stepped over too.
 */

#include "capture/linktype.h"

#include <pcap/dlt.h>

#include "capture/bytes.h"

namespace {

/* Raw IP under OpenBSD's number; libpcap on other systems calls it 12. */
const int dlt_raw_openbsd = 14;

/* Where a link header keeps its protocol field (EtherType values). */
struct type_field {
    int32_t at;       /* offset of the 16-bit protocol field; -1 none */
    bool must_be_ip;  /* the frame is taken only for IPv4 or IPv6 */
};

type_field protocol_field(int linktype)
{
    switch (linktype) {
    case DLT_EN10MB:     return {12, false};
    case DLT_LINUX_SLL:  return {14, true};
    case DLT_LINUX_SLL2: return {0, true};
    default:              return {-1, false};
    }
}

bool is_vlan_type(uint16_t type)
{
    return type == 0x8100 || type == 0x88a8 || type == 0x9100;
}

bool is_ip_type(uint16_t type)
{
    return type == 0x0800 || type == 0x86dd;
}

/* Most VLAN tags stepped over: an 802.1ad outer and an 802.1Q inner. */
const int max_vlan_tags = 2;

}  // namespace

int link_header_length(int linktype)
{
    switch (linktype) {
    case DLT_NULL:        return 4;
    case DLT_EN10MB:      return 14;
    case DLT_SLIP:        return 16;
    case DLT_PPP:         return 4;
    case DLT_ATM_RFC1483: return 8;
    case DLT_RAW:         return 0;
    case dlt_raw_openbsd:     return 0;
    case DLT_LOOP:        return 4;
    case DLT_LINUX_SLL:   return 16;
    case DLT_IPV4:        return 0;
    case DLT_IPV6:        return 0;
    case DLT_LINUX_SLL2:  return 20;
    default:               return -1;
    }
}

link_verdict link_ip_offset(int linktype, const uint8_t *frame, uint32_t caplen,
                            uint32_t *offset)
{
    int len = link_header_length(linktype);
    if (len < 0)
        return LINK_UNKNOWN;
    uint32_t end = (uint32_t)len;
    if (caplen < end)
        return LINK_SHORT;
    type_field f = protocol_field(linktype);
    if (f.at < 0) {
        *offset = end;
        return LINK_IP;
    }
    /* A VLAN tag follows the header: 2 bytes of tag control, then the
     * protocol of what follows the tag. */
    uint16_t type = read_be16(frame + f.at);
    for (int tags = 0; tags < max_vlan_tags && is_vlan_type(type); tags++) {
        if (caplen < end + 4)
            return LINK_SHORT;
        type = read_be16(frame + end + 2);
        end += 4;
    }
    if (f.must_be_ip && !is_ip_type(type))
        return LINK_NOT_IP;
    *offset = end;
    return LINK_IP;
}
