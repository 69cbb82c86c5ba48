/*
 * frame.h --
 *
 *	The input format of the load fuzzer, shared by the fuzz target and
 *	the seed writer. Any byte string is a valid input: it is framed as
 *	one or two well-formed capture files, so that the fuzzer spends its
 *	time in the reader, decoder, analysis and loader rather than in
 *	libpcap's refusal of a broken file header.
 *
 *	    byte 0      link type: index into frame_linktypes (mod its size)
 *	    bytes 1-2   snapshot length - 16, big-endian
 *	    byte 3      mode: bit 0 two files; bit 1 a copy length (-s) of
 *	                4 * byte 4 + 1; bit 2 load connection 1 + (byte 4 % 4);
 *	                bit 3 the first file compressed, by the compressor
 *	                byte 4 % 5 names (gzip, zstd, xz, bzip2, lz4); bit 4
 *	                that file then cut to (1 + byte 4 % 7) eighths; bit 5
 *	                one of its bytes, at (byte 4 % 13) thirteenths, flipped
 *	    byte 4      parameter of the mode bits
 *	    records     each: 1 byte flags (bit 0: second file), 2 bytes
 *	                time step in 100 us, signed, big-endian, 2 bytes
 *	                length, big-endian, then the frame's bytes: as many
 *	                as the length, the snapshot length and the input allow
 *
 *	An input that begins with the magic of a capture file (classic pcap
 *	in either byte order and stamp resolution, pcapng) or of a
 *	compressor's stream is no framed input but a file, written as it is
 *	(is_raw_file): hostile record headers, cut blocks and damaged
 *	streams reach the reader that way.
 */

#ifndef WIREPAINT_FUZZ_FRAME_H
#define WIREPAINT_FUZZ_FRAME_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <pcap/pcap.h>

namespace frame {

/* The link types an input can name, in index order. */
const int linktypes[] = {0, 1, 8, 9, 11, 12, 14, 108, 113, 228, 229, 276};
const size_t linktype_count = sizeof linktypes / sizeof linktypes[0];

const size_t header_size = 5;
const size_t record_header_size = 5;

struct packet {
    int file;                 /* 0 or 1 */
    int64_t usec;             /* time stamp, microseconds */
    std::vector<uint8_t> data;
};

struct input {
    int linktype = 1;
    int snaplen = 65535;
    uint8_t mode = 0;
    uint8_t param = 0;
    std::vector<packet> packets;
};

/* Whether the input `p` (n bytes) is a file to be written as it is:
 * it begins with a capture file's or a compressor's magic. */
inline bool is_raw_file(const uint8_t *p, size_t n)
{
    static const uint8_t magics[][4] = {
        {0xd4, 0xc3, 0xb2, 0xa1}, {0xa1, 0xb2, 0xc3, 0xd4},   /* pcap, microseconds */
        {0x4d, 0x3c, 0xb2, 0xa1}, {0xa1, 0xb2, 0x3c, 0x4d},   /* pcap, nanoseconds */
        {0x0a, 0x0d, 0x0d, 0x0a},                             /* pcapng */
        {0x28, 0xb5, 0x2f, 0xfd}, {0xfd, 0x37, 0x7a, 0x58},   /* zstd, xz */
        {0x04, 0x22, 0x4d, 0x18},                             /* lz4 */
    };
    if (n < 4)
        return false;
    for (const uint8_t *m : magics)
        if (p[0] == m[0] && p[1] == m[1] && p[2] == m[2] && p[3] == m[3])
            return true;
    bool gzip = p[0] == 0x1f && p[1] == 0x8b;
    bool bzip2 = p[0] == 'B' && p[1] == 'Z' && p[2] == 'h';
    return gzip || bzip2;
}

/* Parses any byte string as an input. */
inline input parse(const uint8_t *p, size_t n)
{
    input in;
    if (n < header_size)
        return in;
    in.linktype = linktypes[p[0] % linktype_count];
    in.snaplen = 16 + ((p[1] << 8) | p[2]);
    in.mode = p[3];
    in.param = p[4];
    size_t at = header_size;
    int64_t t = 1000000000;   /* 1000 s: room for steps back */
    while (n - at >= record_header_size) {
        packet pk;
        pk.file = p[at] & 1;
        t += (int64_t)(int16_t)((p[at + 1] << 8) | p[at + 2]) * 100;
        if (t < 0)
            t = 0;
        size_t len = (size_t)((p[at + 3] << 8) | p[at + 4]);
        at += record_header_size;
        if (len > n - at)
            len = n - at;
        if (len > (size_t)in.snaplen)
            len = (size_t)in.snaplen;
        pk.usec = t;
        pk.data.assign(p + at, p + at + len);
        at += len;
        in.packets.push_back(pk);
    }
    return in;
}

/* The bytes of an input (the inverse of parse, for the seed writer). */
inline std::vector<uint8_t> serialise(const input &in)
{
    std::vector<uint8_t> out;
    int index = 0;
    for (size_t i = 0; i < linktype_count; i++) {
        if (linktypes[i] == in.linktype)
            index = (int)i;
    }
    int snap = in.snaplen - 16 < 0 ? 0 : in.snaplen - 16 > 65535 ? 65535 : in.snaplen - 16;
    out = {(uint8_t)index, (uint8_t)(snap >> 8), (uint8_t)snap, in.mode, in.param};
    int64_t t = 1000000000;
    for (const packet &pk : in.packets) {
        int64_t step = (pk.usec - t) / 100;
        if (step > 32767)
            step = 32767;
        if (step < -32768)
            step = -32768;
        t += step * 100;
        size_t len = pk.data.size() > 65535 ? 65535 : pk.data.size();
        out.push_back((uint8_t)pk.file);
        out.push_back((uint8_t)((uint16_t)step >> 8));
        out.push_back((uint8_t)step);
        out.push_back((uint8_t)(len >> 8));
        out.push_back((uint8_t)len);
        out.insert(out.end(), pk.data.begin(), pk.data.begin() + (long)len);
    }
    return out;
}

/*
 * Writes the packets of `file` as a savefile at `path` through libpcap's
 * writer. libpcap will not write link type 14 (OpenBSD's raw IP number)
 * on this system, so such a file is written as raw IP and its header's
 * link type patched. Returns false when libpcap refused.
 */
inline bool write_capture(const input &in, int file, const std::string &path)
{
    int dlt = in.linktype == 14 ? 12 : in.linktype;
    pcap_t *dead = pcap_open_dead(dlt, in.snaplen);
    if (dead == nullptr)
        return false;
    pcap_dumper_t *d = pcap_dump_open(dead, path.c_str());
    if (d == nullptr) {
        pcap_close(dead);
        return false;
    }
    for (const packet &pk : in.packets) {
        if (pk.file != file)
            continue;
        struct pcap_pkthdr h = {};
        h.ts.tv_sec = (time_t)(pk.usec / 1000000);
        h.ts.tv_usec = (suseconds_t)(pk.usec % 1000000);
        h.caplen = (bpf_u_int32)pk.data.size();
        h.len = h.caplen;
        pcap_dump((u_char *)d, &h, pk.data.data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
    if (in.linktype == 14) {
        FILE *f = std::fopen(path.c_str(), "r+b");
        if (f == nullptr)
            return false;
        uint8_t lt[4] = {14, 0, 0, 0};   /* pcap_dump writes host order: little-endian here */
        std::fseek(f, 20, SEEK_SET);
        std::fwrite(lt, 1, 4, f);
        std::fclose(f);
    }
    return true;
}

}  // namespace frame

#endif
