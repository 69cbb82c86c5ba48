/*
 * fuzz_seeds.cpp --
 *
 *	Writes the seed corpus of the load fuzzer: each capture file named on
 *	the command line becomes inputs in the fuzzer's format (frame.h), as
 *	it is, and its IP packets wrapped again in the header of every link
 *	type the reader knows (Ethernet with one and two VLAN tags, Linux
 *	cooked with a tag among them). Two files named together with "+"
 *	(a+b) also give a two-file input. Each file's first 16 KiB also go
 *	in as they are (frame::is_raw_file), and a classic pcap file's again
 *	with a snapshot length below its records' captured lengths: the
 *	fuzzer mutates record headers and blocks from there.
 *
 *	    fuzz_seeds OUTDIR FILE... [FILE+FILE...]
 */

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <pcap/pcap.h>

#include "fuzz/frame.h"
#include "capture/linktype.h"

namespace {

/* Most packets a seed takes from a file: the fuzzer likes them small. */
const size_t max_packets = 48;

struct source {
    int linktype = 1;
    int snaplen = 65535;
    std::vector<frame::packet> packets;
};

bool read_file(const std::string &path, int file, source *s)
{
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *pc = pcap_open_offline(path.c_str(), err);
    if (pc == nullptr) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", err);
        return false;
    }
    s->linktype = pcap_datalink(pc);
    s->snaplen = pcap_snapshot(pc);
    struct pcap_pkthdr *h;
    const u_char *d;
    size_t n = 0;
    while (n < max_packets && pcap_next_ex(pc, &h, &d) == 1) {
        frame::packet p;
        p.file = file;
        p.usec = (int64_t)h->ts.tv_sec * 1000000 + h->ts.tv_usec;
        p.data.assign(d, d + h->caplen);
        s->packets.push_back(p);
        n++;
    }
    pcap_close(pc);
    return true;
}

/* The link header of type `lt` before an IP packet of version `ver`. */
std::vector<uint8_t> header_for(int lt, int ver, int tags)
{
    uint8_t hi = ver == 6 ? 0x86 : 0x08, lo = ver == 6 ? 0xdd : 0x00;
    std::vector<uint8_t> tag_bytes;
    for (int i = 0; i < tags; i++) {
        uint8_t tpid_hi = i == 0 && tags == 2 ? 0x88 : 0x81, tpid_lo = i == 0 && tags == 2 ? 0xa8 : 0x00;
        tag_bytes.insert(tag_bytes.end(), {tpid_hi, tpid_lo, 0x00, (uint8_t)(10 + i)});
    }
    switch (lt) {
    case 1: {
        std::vector<uint8_t> h = {2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2};
        h.insert(h.end(), tag_bytes.begin(), tag_bytes.end());
        h.insert(h.end(), {hi, lo});
        return h;
    }
    case 113: {
        std::vector<uint8_t> h = {0, 0, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0};
        if (tags > 0) {
            h.insert(h.end(), {0x81, 0x00, 0x00, 0x0a, hi, lo});
            return h;
        }
        h.insert(h.end(), {hi, lo});
        return h;
    }
    case 276:
        return {hi, lo, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0};
    case 0:
        return {(uint8_t)(ver == 6 ? 24 : 2), 0, 0, 0};
    case 108:
        return {0, 0, 0, (uint8_t)(ver == 6 ? 24 : 2)};
    default: {
        int len = link_header_length(lt);
        return std::vector<uint8_t>((size_t)(len < 0 ? 0 : len), 0);
    }
    }
}

void write_seed(const std::string &dir, const std::string &name, const frame::input &in)
{
    std::vector<uint8_t> bytes = frame::serialise(in);
    std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

/* The same packets under another link type, or with VLAN tags. */
frame::input rewrapped(const source &s, int lt, int tags)
{
    frame::input in;
    in.linktype = lt;
    in.snaplen = s.snaplen + 24;
    int strip = link_header_length(s.linktype);
    for (const frame::packet &p : s.packets) {
        if (strip < 0 || p.data.size() <= (size_t)strip)
            continue;
        frame::packet q = p;
        int ver = p.data[(size_t)strip] >> 4;
        q.data = header_for(lt, ver, tags);
        q.data.insert(q.data.end(), p.data.begin() + strip, p.data.end());
        in.packets.push_back(q);
    }
    return in;
}

/* Most bytes of a file a raw seed takes: the fuzzer's input limit. */
const size_t max_raw = 16384;

void write_bytes(const std::string &path, const std::vector<uint8_t> &b)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return;
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
}

/* The file at `path` as raw seeds: its first max_raw bytes, and for a
 * little-endian classic file the same with a snapshot length of 60. */
void write_raw_seeds(const std::string &dir, const std::string &stem, const std::string &path)
{
    std::vector<uint8_t> b(max_raw);
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return;
    b.resize(std::fread(b.data(), 1, b.size(), f));
    std::fclose(f);
    if (!frame::is_raw_file(b.data(), b.size()))
        return;
    write_bytes(dir + "/raw-" + stem, b);
    if (b.size() < 24 || b[0] != 0xd4 || b[1] != 0xc3)
        return;
    b[16] = 60;
    b[17] = b[18] = b[19] = 0;
    write_bytes(dir + "/raw-" + stem + "-snap60", b);
}

std::string base_name(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTDIR FILE...\n");
        return 2;
    }
    std::string dir = argv[1];
    for (int a = 2; a < argc; a++) {
        std::string arg = argv[a];
        size_t plus = arg.find('+');
        source s;
        if (plus != std::string::npos) {
            if (!read_file(arg.substr(0, plus), 0, &s) || !read_file(arg.substr(plus + 1), 1, &s))
                return 1;
            frame::input in;
            in.linktype = s.linktype;
            in.snaplen = s.snaplen;
            in.mode = 1;
            in.packets = s.packets;
            std::stable_sort(in.packets.begin(), in.packets.end(),
                             [](const frame::packet &x, const frame::packet &y) {
                                 return x.usec < y.usec;
                             });
            write_seed(dir, "two-" + base_name(arg.substr(0, plus)), in);
            continue;
        }
        if (!read_file(arg, 0, &s))
            return 1;
        std::string stem = base_name(arg);
        write_raw_seeds(dir, stem, arg);
        for (int lt : frame::linktypes)
            write_seed(dir, stem + "-lt" + std::to_string(lt), rewrapped(s, lt, 0));
        write_seed(dir, stem + "-vlan1", rewrapped(s, 1, 1));
        write_seed(dir, stem + "-vlan2", rewrapped(s, 1, 2));
        write_seed(dir, stem + "-sllvlan", rewrapped(s, 113, 1));
        frame::input chosen = rewrapped(s, 1, 0);
        chosen.mode = 4 | 2;
        chosen.param = 17;
        write_seed(dir, stem + "-chosen", chosen);
        /* Compressed by each compressor, whole, cut and damaged. */
        for (uint8_t mode : {8, 8 | 16, 8 | 32}) {
            frame::input packed = rewrapped(s, 1, 0);
            packed.mode = mode;
            for (uint8_t which = 0; which < 5; which++) {
                packed.param = (uint8_t)(which + 5 * 3);
                write_seed(dir, stem + "-z" + std::to_string(mode) + "-" + std::to_string(which),
                           packed);
            }
        }
    }
    return 0;
}
