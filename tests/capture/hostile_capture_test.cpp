/*
 * hostile_capture_test.cpp --
 *
 *	Classic savefiles built byte by byte in the shapes that break
 *	readers (captured lengths past the file's end, above the original
 *	length, the snapshot length or the reader's maximum, zero, one short
 *	of a header; a record header cut in the middle; IP, TCP and option
 *	lengths that claim more than was captured), each in both byte orders
 *	and with micro- and nanosecond stamps. The reader walking the mapped
 *	file must give exactly libpcap's reading of it: the same records and
 *	bytes, decoder lines, messages, warnings and statuses; and the whole
 *	load, analysis and detail text must run over what it kept. The
 *	sanitizer build runs this too.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "load/loader.h"
#include "support/pcapgen.h"
#include "text/detail.h"
#include "trace/binread.h"
#include "capture/capfile.h"
#include "capture/loadfail.h"
#include "trace/trace.h"

namespace {

using pcapgen::bytes;

/* An Ethernet frame 02:..:02 > 02:..:01, IPv4 10.0.0.1 > 10.0.0.2, TCP
 * 40000 > 80, before its lengths are set (ihl 5, doff 5, no payload). */
const uint8_t FRAME[54] = {
    0x02, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0, 0x02, 0x08, 0x00,            /* Ethernet */
    0x45, 0, 0, 40, 0x12, 0x34, 0x40, 0, 64, 6, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2, /* IPv4 */
    0x9c, 0x40, 0, 80, 0, 0, 0x03, 0xe8, 0, 0, 0, 0, 0x50, 0x18, 0xff, 0xff, 0, 0, 0, 0 /* TCP */
};

/* A frame of FRAME with `paylen` payload bytes, the IP header length
 * field `ihl` and the TCP data offset field `doff` (words); with
 * options, their bytes follow the fixed TCP header. */
bytes frame(int paylen, int ihl = 5, int doff = 5, bytes options = {})
{
    bytes f(FRAME, FRAME + sizeof FRAME);
    f[14] = (uint8_t)(0x40 | ihl);
    f[46] = (uint8_t)(doff << 4);
    for (uint8_t b : options)
        f.push_back(b);
    f.resize(f.size() + (size_t)paylen, 'x');
    size_t total = f.size() - 14;
    f[16] = (uint8_t)(total >> 8);
    f[17] = (uint8_t)total;
    return f;
}

/* One record: the lengths its header claims, and the bytes the file
 * holds after it (fewer than `caplen` at the file's end). */
struct record {
    uint32_t caplen, len;
    bytes data;
};

record whole(const bytes &f) { return {(uint32_t)f.size(), (uint32_t)f.size(), f}; }

record claiming(uint32_t caplen, uint32_t len, bytes f)
{
    if (f.size() > caplen)
        f.resize(caplen);
    return {caplen, len, f};
}

struct shape {
    const char *name;
    uint32_t snaplen;
    std::vector<record> records;
    size_t cut;   /* bytes cut off the end of the file; 0 none */
};

const std::vector<shape> &shapes()
{
    static const std::vector<shape> table = {
        {"a sound file", 65535, {whole(frame(10)), whole(frame(100))}, 0},
        {"captured length past the file's end", 65535, {whole(frame(10)), claiming(200, 200, frame(100))}, 0},
        {"the first record past the file's end", 65535, {claiming(200, 200, frame(100))}, 0},
        {"captured length above the original", 65535, {whole(frame(10)), claiming(90, 40, frame(36))}, 0},
        {"captured length above the snapshot length", 80, {whole(frame(10)), whole(frame(146))}, 0},
        {"the first record above the snapshot length", 80, {whole(frame(146)), whole(frame(10))}, 0},
        {"above the snapshot length and past the end", 80, {whole(frame(10)), claiming(300, 300, frame(146))}, 0},
        {"above the maximum, within the snapshot length", 0x7fffffff,
         {whole(frame(10)), claiming(262145, 262145, frame(10))}, 0},
        {"above the maximum and the snapshot length", 65535,
         {whole(frame(10)), claiming(0x80000000u, 60, frame(10))}, 0},
        {"captured length zero", 65535, {whole(frame(10)), claiming(0, 60, {}), whole(frame(20))}, 0},
        {"one short of the link header", 65535, {claiming(13, 60, frame(0)), whole(frame(20))}, 0},
        {"one short of the TCP header", 65535, {whole(frame(10)), claiming(53, 60, frame(0))}, 0},
        {"a record header cut in the middle", 65535, {whole(frame(10)), whole(frame(10))}, 8 + 64},
        {"IP header length past the captured bytes", 65535, {whole(frame(10)), claiming(40, 60, frame(10, 15))}, 0},
        {"TCP data offset past the captured bytes", 65535, {whole(frame(10)), claiming(60, 80, frame(10, 5, 15))}, 0},
        {"an option length past the captured bytes", 65535,
         {whole(frame(10)), claiming(58, 80, frame(4, 5, 8, {8, 40, 1, 2, 3, 4, 5, 6, 1, 1, 1, 0}))}, 0},
        {"a data offset below the fixed header", 65535, {whole(frame(10)), whole(frame(10, 5, 2))}, 0},
    };
    return table;
}

void put32(bytes &f, uint32_t v, bool be)
{
    for (int k = 0; k < 4; k++)
        f.push_back((uint8_t)(v >> (be ? 24 - 8 * k : 8 * k)));
}

/* The savefile of `s` in the byte order `be`, with stamps of a micro- or
 * nanosecond file; record i is stamped at 1000 + i s and 1000 + 7 * i
 * fraction units. */
std::string write_shape(const shape &s, bool be, bool nano)
{
    bytes f;
    put32(f, nano ? 0xa1b23c4d : 0xa1b2c3d4, be);
    f.push_back(be ? 0 : 2);
    f.push_back(be ? 2 : 0);
    f.push_back(be ? 0 : 4);
    f.push_back(be ? 4 : 0);
    put32(f, 0, be);
    put32(f, 0, be);
    put32(f, s.snaplen, be);
    put32(f, 1, be);
    for (size_t i = 0; i < s.records.size(); i++) {
        const record &r = s.records[i];
        put32(f, 1000 + (uint32_t)i, be);
        put32(f, 1000 + 7 * (uint32_t)i, be);
        put32(f, r.caplen, be);
        put32(f, r.len, be);
        f.insert(f.end(), r.data.begin(), r.data.end());
    }
    f.resize(f.size() - s.cut);
    std::string path = pcapgen::temp_path("hostile.pcap");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(f.data()),
                                                (std::streamsize)f.size());
    return path;
}

/* What one read of a file gave. */
struct outcome {
    int status = 0;
    std::string message, warnings, out;
    std::vector<std::string> records;   /* each record's fields and bytes */
    bool operator==(const outcome &o) const
    {
        return status == o.status && message == o.message && warnings == o.warnings &&
               out == o.out && records == o.records;
    }
};

std::string describe(const seg_record &r, const uint8_t *p, int32_t cap)
{
    char head[128];
    std::snprintf(head, sizeof head, "%.6f %u %u %d %u %u %u:", (double)r.time, r.seq_raw, r.ack_raw,
                  r.paylen, r.ip_id, r.win, r.tcp_flags);
    std::string s = head;
    for (int32_t k = 0; k < cap; k++)
        s += std::to_string(p[k]) + ",";
    return s;
}

/* Reads `path` from a clean state, from its map or (literal) by libpcap. */
outcome read_through(const std::string &path, bool literal)
{
    outcome o;
    trace_state_clear();
    g_capfile.literal_read = literal;
    loadfail_trap_begin();
    testing::internal::CaptureStdout();
    try {
        read_capture(path.c_str());
    } catch (const load_error &e) {
        o.status = e.status;
    }
    o.out = testing::internal::GetCapturedStdout();
    o.message = g_loadfail.message;
    o.warnings = g_loadfail.warnings;
    const trace_array &t = g_trace.building;
    for (int32_t i = 0; o.status == 0 && i < t.count; i++)
        o.records.push_back(describe(t.rec[i], record_bytes(&t, i), record_cap_bytes(&t, i)));
    loadfail_trap_end();
    g_capfile.literal_read = false;
    return o;
}

/* The whole load of `path` and every line's detail text; its status. */
int load_and_describe(const std::string &path)
{
    trace_state_clear();
    std::string name = path;
    char *argv[1] = {&name[0]};
    int status = 0;
    loadfail_trap_begin();
    testing::internal::CaptureStdout();
    try {
        load_traces(1, argv, 1);
        for (int32_t i = 0; g_trace.loaded && i < g_trace.main.count; i++)
            segment_detail_text(i, 0);
    } catch (const load_error &e) {
        status = e.status;
    }
    testing::internal::GetCapturedStdout();
    loadfail_trap_end();
    unload_traces();
    return status;
}

}  // namespace

TEST(HostileCapture, TheMappedWalkReadsWhatLibpcapReads)
{
    int failed = 0, warned = 0, kept = 0;
    for (const shape &s : shapes()) {
        for (int variant = 0; variant < 4; variant++) {
            bool be = variant & 1, nano = variant & 2;
            std::string path = write_shape(s, be, nano);
            outcome literal = read_through(path, true);
            outcome walked = read_through(path, false);
            std::string where = std::string(s.name) + (be ? ", big-endian" : ", little-endian") +
                                (nano ? ", nanoseconds" : ", microseconds");
            EXPECT_EQ(walked.status, literal.status) << where << ": " << literal.message;
            EXPECT_EQ(walked.message, literal.message) << where;
            EXPECT_EQ(walked.warnings, literal.warnings) << where;
            EXPECT_EQ(walked.out, literal.out) << where;
            EXPECT_TRUE(walked.records == literal.records) << where;
            EXPECT_EQ(load_and_describe(path), walked.status) << where;
            failed += literal.status != 0;
            warned += !literal.warnings.empty();
            kept += (int)literal.records.size();
            std::remove(path.c_str());
        }
    }
    /* The shapes must reach every outcome: kept, failed, cut short. */
    EXPECT_GT(failed, 8);
    EXPECT_GT(warned, 8);
    EXPECT_GT(kept, 40);
}

/* libpcap's words for the records the walk refuses, and the cut record
 * that ended the process through a read past the map. */
TEST(HostileCapture, MessagesWordForWord)
{
    struct row {
        size_t shape;
        int status;
        const char *text;   /* the message (without its newline), or the warning
                             * when status is 0 */
    } rows[] = {
        {1, 0, "wirepaint: warning: %s: truncated dump file; tried to read 200 captured bytes, only got 154\n"},
        {2, -2, "pcap_loop: truncated dump file; tried to read 200 captured bytes, only got 154"},
        {4, 0, ""},
        {6, 0, "wirepaint: warning: %s: truncated dump file; tried to read 300 captured bytes, only got 200\n"},
        {7, -2, "pcap_loop: invalid packet capture length 262145, bigger than maximum of 262144"},
        {8, -2, "pcap_loop: invalid packet capture length 2147483648, bigger than snaplen of 65535"},
        {12, 0, "wirepaint: warning: %s: truncated dump file; tried to read 16 header bytes, only got 8\n"},
    };
    for (const row &r : rows) {
        const shape &s = shapes()[r.shape];
        std::string path = write_shape(s, false, false);
        outcome o = read_through(path, false);
        char want[512];
        std::snprintf(want, sizeof want, r.text, path.c_str());
        EXPECT_EQ(o.status, r.status) << s.name;
        EXPECT_EQ(r.status == 0 ? o.warnings : o.message, want) << s.name;
        std::remove(path.c_str());
    }
}
