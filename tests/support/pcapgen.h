/*
 * pcapgen.h --
 *
 *	Test support: builds IPv4 and IPv6 packets byte by byte and writes
 *	them to real libpcap savefiles through libpcap's own writer
 *	(pcap_open_dead, pcap_dump_open, pcap_dump).
 *
 *	A test describes a segment with a `tcp_seg` (every field has a useful
 *	default), turns it into the bytes of an IP packet with build_tcp, and
 *	adds packets to a `capture` with a time stamp. capture::write saves the
 *	file under a fresh temporary name and returns it.
 *
 *	    pcapgen::capture c;                      // Ethernet, snaplen 65535
 *	    pcapgen::tcp_seg s;                      // 10.0.0.1:40000 > 10.0.0.2:80
 *	    s.flags = TH_SYN; s.seq = 1000;
 *	    c.add(pcapgen::build_tcp(s), 0.0);
 *	    std::string path = c.write();
 */

#ifndef WIREPAINT_TESTS_PCAPGEN_H
#define WIREPAINT_TESTS_PCAPGEN_H

#include <cstdint>
#include <string>
#include <vector>

namespace pcapgen {

using bytes = std::vector<uint8_t>;

/* Link types of the reader's table (libpcap's numbers). */
enum {
    LINK_NULL = 0,
    LINK_EN10MB = 1,
    LINK_SLIP = 8,
    LINK_PPP = 9,
    LINK_ATM_RFC1483 = 11,
    LINK_FDDI = 10,
    LINK_RAW = 12,           /* raw IP; libpcap writes 101 in the file */
    LINK_RAW_OPENBSD = 14,   /* raw IP as OpenBSD numbers it (header patched) */
    LINK_LOOP = 108,         /* OpenBSD loopback */
    LINK_LINUX_SLL = 113,    /* Linux cooked */
    LINK_IPV4 = 228,
    LINK_IPV6 = 229,
    LINK_LINUX_SLL2 = 276,   /* Linux cooked v2 */
    LINK_RADIOTAP = 127      /* 802.11 with radiotap: not read by wirepaint */
};

/* VLAN tag types (TPIDs). */
enum { TPID_8021Q = 0x8100, TPID_8021AD = 0x88a8, TPID_QINQ_OLD = 0x9100 };

/* Checksum choices for a built packet. */
enum checksum_mode { CKSUM_CORRECT, CKSUM_WRONG, CKSUM_ZERO };

/* One IPv6 extension header to put between the fixed header and TCP. */
struct ext_header {
    uint8_t type = 60;     /* 0 hop-by-hop, 43 routing, 60 destination options */
    uint8_t len = 0;       /* length field: (len + 1) * 8 bytes in all */
};

struct tcp_seg {
    bool v6 = false;
    std::string src = "10.0.0.1";       /* numeric IPv4 or IPv6 text */
    std::string dst = "10.0.0.2";
    uint16_t sport = 40000;
    uint16_t dport = 80;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0x10;               /* ACK */
    uint16_t win = 65535;
    uint16_t urp = 0;
    uint16_t ip_id = 0;                 /* IPv4 only */
    uint8_t ttl = 64;                   /* IPv4 TTL / IPv6 hop limit */
    bool df = true;                     /* IPv4 don't-fragment flag */
    bytes ip_options;                   /* IPv4 options, padded to 4 with 0 */
    bytes tcp_options;                  /* raw TCP options, padded to 4 with 0 (EOL) */
    bytes payload;                      /* payload bytes; see paylen */
    int paylen = -1;                    /* >= 0: that many 'x' bytes instead */
    std::vector<ext_header> ext;        /* IPv6 extension headers, in order */
    checksum_mode tcp_cksum = CKSUM_CORRECT;
    checksum_mode ip_cksum = CKSUM_ZERO;/* IPv4 header checksum */
    int ip_len_adjust = 0;              /* added to the IP length field as written */
    int data_offset = -1;               /* >= 0: TCP data offset field as written */
    int ihl = -1;                       /* >= 0: IPv4 header length field as written */
};

/* The bytes of the IP packet that `s` describes, IP header first. */
bytes build_tcp(const tcp_seg &s);

/* A UDP datagram between two hosts, IPv4 or IPv6 by the address text. */
bytes build_udp(const std::string &src, const std::string &dst,
                uint16_t sport, uint16_t dport, int paylen);

/* The TCP checksum over the pseudo-header for an IP packet (IPv4 or IPv6,
 * no extension headers for IPv6 unless given by tcp_offset). */
uint16_t tcp_checksum(const bytes &ip_packet, bool v6, size_t tcp_offset);

/* A link-layer header of the given type for a packet of IP version v. */
bytes link_header(int linktype, int ipver);

/*
 * The link header of an Ethernet or Linux cooked frame with VLAN tags of
 * the types `tpids` (outermost first) before a packet whose protocol
 * field (EtherType) is `ethertype`.
 */
bytes tagged_header(int linktype, const std::vector<uint16_t> &tpids, uint16_t ethertype);

/* A path under a fresh temporary directory of this test process. */
std::string temp_path(const std::string &name);

struct packet {
    bytes frame;        /* link header plus IP packet */
    int64_t sec;
    int64_t usec;
    uint32_t caplen;    /* captured length written; <= frame size */
    uint32_t len;       /* original length written */
};

/*
 * A capture under construction: packets in order, then written as one
 * savefile of the capture's link type and snapshot length.
 */
class capture {
public:
    explicit capture(int linktype = LINK_EN10MB, int snaplen = 65535);

    /* Adds an IP packet at time t seconds (split into sec and usec), with
     * this capture's link header before it. caplen, when >= 0, cuts the
     * captured frame (link header included) to that many bytes. */
    capture &add(const bytes &ip, double t, int caplen = -1);

    /* As add, with the time stamp given exactly. */
    capture &add_at(const bytes &ip, int64_t sec, int64_t usec, int caplen = -1);

    /* Adds raw frame bytes (link header included) as they are. */
    capture &add_frame(const bytes &frame, int64_t sec, int64_t usec, int caplen = -1);

    /* Writes the savefile; returns its path (a fresh temporary name unless
     * `path` is given). */
    std::string write(const std::string &path = "") const;

    int linktype() const { return linktype_; }
    const std::vector<packet> &packets() const { return packets_; }

private:
    int linktype_;
    int snaplen_;
    std::vector<packet> packets_;
};

/*
 * A savefile written as packets come, for captures too large to hold in
 * memory: opened on construction, closed by close() or the destructor.
 * Frames longer than the snapshot length are cut to it, as a capture
 * would; the original length is the frame's.
 */
class savefile_writer {
public:
    savefile_writer(const std::string &path, int linktype, int snaplen);
    ~savefile_writer();
    savefile_writer(const savefile_writer &) = delete;
    savefile_writer &operator=(const savefile_writer &) = delete;

    /* Writes one frame (link header included) with the given time stamp;
     * caplen, when >= 0 and shorter, cuts it further. */
    void frame(const bytes &frame, int64_t sec, int64_t usec, int caplen = -1);

    /* As frame, with this file's link header before the IP packet and
     * the time given in seconds. */
    void ip(const bytes &ip, double t, int caplen = -1);

    void close();

private:
    std::string path_;
    int linktype_;
    int snaplen_;
    void *dead_;      /* pcap_t of pcap_open_dead */
    void *dumper_;    /* pcap_dumper_t */
};

/* Writes a file holding `text` (not a capture); returns its path. */
std::string write_text_file(const std::string &name, const std::string &text);

}  // namespace pcapgen

#endif
