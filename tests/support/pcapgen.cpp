/*
 * pcapgen.cpp --
 *
 *	Test support: packet builders and a savefile writer over libpcap's
 *	own dump functions. See pcapgen.h for the model.
 */

#include "support/pcapgen.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pcapgen {

namespace {

void put16(bytes &b, size_t at, uint16_t v)
{
    b[at] = (uint8_t)(v >> 8);
    b[at + 1] = (uint8_t)v;
}

void put32(bytes &b, size_t at, uint32_t v)
{
    put16(b, at, (uint16_t)(v >> 16));
    put16(b, at + 2, (uint16_t)v);
}

bool is_v6_text(const std::string &a)
{
    return a.find(':') != std::string::npos;
}

void put_addr(bytes &b, size_t at, const std::string &text, bool v6)
{
    uint8_t buf[16];
    if (inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), buf) != 1)
        throw std::invalid_argument("pcapgen: bad address " + text);
    std::memcpy(&b[at], buf, v6 ? 16 : 4);
}

/* Sum of 16-bit words, big-endian, odd byte padded with zero. */
uint32_t sum16(const uint8_t *p, size_t n, uint32_t acc)
{
    for (size_t i = 0; i + 1 < n; i += 2)
        acc += (uint32_t)((p[i] << 8) | p[i + 1]);
    if (n & 1)
        acc += (uint32_t)(p[n - 1] << 8);
    return acc;
}

uint16_t fold(uint32_t acc)
{
    while (acc >> 16)
        acc = (acc & 0xffff) + (acc >> 16);
    return (uint16_t)~acc;
}

void pad4(bytes &b)
{
    while (b.size() % 4)
        b.push_back(0);
}

bytes payload_of(const tcp_seg &s)
{
    if (s.paylen >= 0)
        return bytes((size_t)s.paylen, 'x');
    return s.payload;
}

/* Fills the checksum at tcp_off + cksum_at of the transport segment. */
uint16_t transport_checksum(const bytes &ip, bool v6, size_t l4_off, uint8_t proto)
{
    size_t l4_len = ip.size() - l4_off;
    uint32_t acc = 0;
    if (v6) {
        acc = sum16(&ip[8], 32, acc);
    } else {
        acc = sum16(&ip[12], 8, acc);
    }
    acc += proto;
    acc += (uint32_t)l4_len;
    acc = sum16(&ip[l4_off], l4_len, acc);
    return fold(acc);
}

/* The IP header for `l4_len` transport bytes; returns the header bytes. */
bytes ip_header(const tcp_seg &s, uint8_t proto, size_t l4_len)
{
    if (s.v6) {
        bytes h(40, 0);
        h[0] = 0x60;
        size_t ext_total = 0;
        for (const ext_header &e : s.ext)
            ext_total += ((size_t)e.len + 1) * 8;
        put16(h, 4, (uint16_t)(ext_total + l4_len + s.ip_len_adjust));
        h[6] = s.ext.empty() ? proto : s.ext[0].type;
        h[7] = s.ttl;
        put_addr(h, 8, s.src, true);
        put_addr(h, 24, s.dst, true);
        for (size_t i = 0; i < s.ext.size(); i++) {
            bytes e(((size_t)s.ext[i].len + 1) * 8, 0);
            e[0] = i + 1 < s.ext.size() ? s.ext[i + 1].type : proto;
            e[1] = s.ext[i].len;
            if (e.size() >= 8) {
                e[2] = 1;   /* PadN option filling the header */
                e[3] = (uint8_t)(e.size() - 4);
            }
            h.insert(h.end(), e.begin(), e.end());
        }
        return h;
    }
    bytes opts = s.ip_options;
    pad4(opts);
    bytes h(20, 0);
    size_t hl = 20 + opts.size();
    h[0] = (uint8_t)(0x40 | ((s.ihl >= 0 ? s.ihl : (int)(hl / 4)) & 0x0f));
    put16(h, 2, (uint16_t)(hl + l4_len + s.ip_len_adjust));
    put16(h, 4, s.ip_id);
    put16(h, 6, s.df ? 0x4000 : 0);
    h[8] = s.ttl;
    h[9] = proto;
    put_addr(h, 12, s.src, false);
    put_addr(h, 16, s.dst, false);
    h.insert(h.end(), opts.begin(), opts.end());
    if (s.ip_cksum != CKSUM_ZERO) {
        uint16_t c = fold(sum16(h.data(), h.size(), 0));
        put16(h, 10, s.ip_cksum == CKSUM_WRONG ? (uint16_t)(c ^ 0x5555) : c);
    }
    return h;
}

/* Overwrites the link type of a savefile's header, in the header's own
 * byte order (told by its magic number). */
void patch_linktype(const std::string &path, uint32_t linktype)
{
    FILE *f = std::fopen(path.c_str(), "r+b");
    if (f == nullptr)
        throw std::runtime_error("pcapgen: cannot patch " + path);
    uint8_t magic[4] = {0, 0, 0, 0};
    size_t got = std::fread(magic, 1, 4, f);
    bool little = got == 4 && (magic[0] == 0xd4 || magic[0] == 0x4d);
    uint8_t lt[4];
    for (int i = 0; i < 4; i++)
        lt[little ? i : 3 - i] = (uint8_t)(linktype >> (8 * i));
    std::fseek(f, 20, SEEK_SET);
    std::fwrite(lt, 1, 4, f);
    std::fclose(f);
}

}  // namespace

uint16_t tcp_checksum(const bytes &ip_packet, bool v6, size_t tcp_offset)
{
    return transport_checksum(ip_packet, v6, tcp_offset, 6);
}

bytes build_tcp(const tcp_seg &s)
{
    bytes opts = s.tcp_options;
    pad4(opts);
    bytes pay = payload_of(s);
    bytes tcp(20, 0);
    put16(tcp, 0, s.sport);
    put16(tcp, 2, s.dport);
    put32(tcp, 4, s.seq);
    put32(tcp, 8, s.ack);
    size_t doff = (20 + opts.size()) / 4;
    tcp[12] = (uint8_t)((s.data_offset >= 0 ? s.data_offset : (int)doff) << 4);
    tcp[13] = s.flags;
    put16(tcp, 14, s.win);
    put16(tcp, 18, s.urp);
    tcp.insert(tcp.end(), opts.begin(), opts.end());
    tcp.insert(tcp.end(), pay.begin(), pay.end());

    bytes ip = ip_header(s, 6, tcp.size());
    size_t off = ip.size();
    ip.insert(ip.end(), tcp.begin(), tcp.end());
    if (s.tcp_cksum != CKSUM_ZERO) {
        uint16_t c = tcp_checksum(ip, s.v6, off);
        put16(ip, off + 16, s.tcp_cksum == CKSUM_WRONG ? (uint16_t)(c ^ 0x1111) : c);
    }
    return ip;
}

bytes build_udp(const std::string &src, const std::string &dst, uint16_t sport,
                uint16_t dport, int paylen)
{
    tcp_seg s;
    s.v6 = is_v6_text(src);
    s.src = src;
    s.dst = dst;
    bytes udp(8, 0);
    put16(udp, 0, sport);
    put16(udp, 2, dport);
    put16(udp, 4, (uint16_t)(8 + paylen));
    udp.insert(udp.end(), (size_t)paylen, 'u');
    bytes ip = ip_header(s, 17, udp.size());
    size_t off = ip.size();
    ip.insert(ip.end(), udp.begin(), udp.end());
    put16(ip, off + 6, transport_checksum(ip, s.v6, off, 17));
    return ip;
}

bytes link_header(int linktype, int ipver)
{
    switch (linktype) {
    case LINK_NULL: {
        bytes h(4, 0);
        h[0] = ipver == 6 ? 24 : 2;  /* AF_INET6 / AF_INET on BSD, little-endian */
        return h;
    }
    case LINK_EN10MB: {
        bytes h = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0x08, 0x00};
        if (ipver == 6) {
            h[12] = 0x86;
            h[13] = 0xdd;
        }
        return h;
    }
    case LINK_SLIP:
        return bytes(16, 0);
    case LINK_PPP:
        return bytes{0xff, 0x03, 0x00, (uint8_t)(ipver == 6 ? 0x57 : 0x21)};
    case LINK_ATM_RFC1483: {
        bytes h = {0xaa, 0xaa, 0x03, 0, 0, 0, 0x08, 0x00};
        if (ipver == 6) {
            h[6] = 0x86;
            h[7] = 0xdd;
        }
        return h;
    }
    case LINK_LOOP: {
        bytes h(4, 0);
        h[3] = ipver == 6 ? 24 : 2;  /* AF_INET6 / AF_INET, network order */
        return h;
    }
    case LINK_LINUX_SLL:
    case LINK_LINUX_SLL2:
        return tagged_header(linktype, {}, ipver == 6 ? 0x86dd : 0x0800);
    case LINK_RAW:
    case LINK_RAW_OPENBSD:
    case LINK_IPV4:
    case LINK_IPV6:
        return bytes();
    default:
        return bytes(21, 0);
    }
}

bytes tagged_header(int linktype, const std::vector<uint16_t> &tpids, uint16_t ethertype)
{
    /* The tags: each 2 bytes of priority and VLAN id, then the type of
     * what follows; the header's own type field names the first tag. */
    std::vector<uint16_t> types = tpids;
    types.push_back(ethertype);
    bytes tags;
    for (size_t i = 1; i < types.size(); i++) {
        bytes tag = {0x00, (uint8_t)(10 * i), 0, 0};
        put16(tag, 2, types[i]);
        tags.insert(tags.end(), tag.begin(), tag.end());
    }
    bytes h;
    if (linktype == LINK_LINUX_SLL) {
        h = bytes(16, 0);
        put16(h, 0, 0);          /* sent to us */
        put16(h, 2, 1);          /* ARPHRD_ETHER */
        put16(h, 4, 6);          /* address length */
        h[6] = 0x02;
        h[11] = 0x01;
        put16(h, 14, types[0]);
    } else if (linktype == LINK_LINUX_SLL2) {
        h = bytes(20, 0);
        put16(h, 0, types[0]);
        put32(h, 4, 2);          /* interface index */
        put16(h, 8, 1);          /* ARPHRD_ETHER */
        h[10] = 0;               /* sent to us */
        h[11] = 6;
        h[12] = 0x02;
        h[17] = 0x01;
    } else {
        h = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0, 0};
        put16(h, 12, types[0]);
    }
    h.insert(h.end(), tags.begin(), tags.end());
    return h;
}

std::string temp_path(const std::string &name)
{
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/wirepaint-test-XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            throw std::runtime_error("pcapgen: mkdtemp failed");
        dir = tmpl;
    }
    static int serial = 0;
    return dir + "/" + std::to_string(++serial) + "-" + name;
}

capture::capture(int linktype, int snaplen) : linktype_(linktype), snaplen_(snaplen) {}

namespace {

/* A time in seconds as a savefile's seconds and microseconds. */
void split_time(double t, int64_t *sec, int64_t *usec)
{
    *sec = (int64_t)t;
    *usec = (int64_t)((t - (double)*sec) * 1e6 + 0.5);
    if (*usec >= 1000000) {
        (*sec)++;
        *usec -= 1000000;
    }
}

/* This link type's header, then the IP packet. */
bytes framed(int linktype, const bytes &ip)
{
    int ver = ip.empty() ? 4 : ip[0] >> 4;
    bytes frame = link_header(linktype, ver);
    frame.insert(frame.end(), ip.begin(), ip.end());
    return frame;
}

}  // namespace

capture &capture::add(const bytes &ip, double t, int caplen)
{
    int64_t sec, usec;
    split_time(t, &sec, &usec);
    return add_at(ip, sec, usec, caplen);
}

capture &capture::add_at(const bytes &ip, int64_t sec, int64_t usec, int caplen)
{
    return add_frame(framed(linktype_, ip), sec, usec, caplen);
}

capture &capture::add_frame(const bytes &frame, int64_t sec, int64_t usec, int caplen)
{
    packet p;
    p.frame = frame;
    p.sec = sec;
    p.usec = usec;
    p.len = (uint32_t)frame.size();
    p.caplen = caplen >= 0 && (size_t)caplen < frame.size() ? (uint32_t)caplen : p.len;
    if ((int)p.caplen > snaplen_)
        p.caplen = (uint32_t)snaplen_;
    packets_.push_back(p);
    return *this;
}

std::string capture::write(const std::string &path) const
{
    std::string out = path.empty() ? temp_path("capture.pcap") : path;
    savefile_writer w(out, linktype_, snaplen_);
    for (const packet &p : packets_)
        w.frame(p.frame, p.sec, p.usec, (int)p.caplen);
    w.close();
    return out;
}

savefile_writer::savefile_writer(const std::string &path, int linktype, int snaplen)
    : path_(path), linktype_(linktype), snaplen_(snaplen), dead_(nullptr), dumper_(nullptr)
{
    /* libpcap will not write OpenBSD's raw-IP number on this system: the
     * file is written as raw IP and the header's link type patched. */
    int dlt = linktype == LINK_RAW_OPENBSD ? LINK_RAW : linktype;
    pcap_t *dead = pcap_open_dead(dlt, snaplen);
    if (dead == nullptr)
        throw std::runtime_error("pcapgen: pcap_open_dead failed");
    pcap_dumper_t *d = pcap_dump_open(dead, path.c_str());
    if (d == nullptr) {
        std::string err = pcap_geterr(dead);
        pcap_close(dead);
        throw std::runtime_error("pcapgen: pcap_dump_open: " + err);
    }
    dead_ = dead;
    dumper_ = d;
}

savefile_writer::~savefile_writer()
{
    close();
}

void savefile_writer::frame(const bytes &frame, int64_t sec, int64_t usec, int caplen)
{
    struct pcap_pkthdr h;
    std::memset(&h, 0, sizeof h);
    h.ts.tv_sec = (time_t)sec;
    h.ts.tv_usec = (suseconds_t)usec;
    h.len = (uint32_t)frame.size();
    h.caplen = caplen >= 0 && (size_t)caplen < frame.size() ? (uint32_t)caplen : h.len;
    if ((int)h.caplen > snaplen_)
        h.caplen = (uint32_t)snaplen_;
    pcap_dump((u_char *)dumper_, &h, frame.data());
}

void savefile_writer::ip(const bytes &ip, double t, int caplen)
{
    int64_t sec, usec;
    split_time(t, &sec, &usec);
    frame(framed(linktype_, ip), sec, usec, caplen);
}

void savefile_writer::close()
{
    if (dumper_ != nullptr)
        pcap_dump_close((pcap_dumper_t *)dumper_);
    if (dead_ != nullptr)
        pcap_close((pcap_t *)dead_);
    if (dumper_ != nullptr && linktype_ == LINK_RAW_OPENBSD)
        patch_linktype(path_, (uint32_t)linktype_);
    dumper_ = nullptr;
    dead_ = nullptr;
}

std::string write_text_file(const std::string &name, const std::string &text)
{
    std::string out = temp_path(name);
    FILE *f = std::fopen(out.c_str(), "wb");
    if (f == nullptr)
        throw std::runtime_error("pcapgen: cannot write " + out);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return out;
}

}  // namespace pcapgen
