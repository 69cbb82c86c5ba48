/*
 * capfile_mapped_test.cpp --
 *
 *	The records of a capture read from the mapped file against libpcap's
 *	own reading of it (capture_run), record by record: header fields,
 *	bytes, filter verdicts, messages and statuses. The files are written
 *	by libpcap's writer and then damaged on purpose: the other byte
 *	order, nanosecond stamps, snapshot lengths of 0, small and huge,
 *	captured lengths past the snapshot, the maximum or the file's end,
 *	cut files, an older format version, random header bytes. The
 *	connection list and the loader read through the same mapped run.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "support/pcapgen.h"
#include "capture/capfile.h"
#include "capture/filemap.h"
#include "capture/loadfail.h"

namespace {

using pcapgen::bytes;

/* One packet as a handler saw it. */
struct seen {
    int64_t sec, usec;
    uint32_t caplen, len;
    bytes data;
    bool operator==(const seen &o) const
    {
        return sec == o.sec && usec == o.usec && caplen == o.caplen && len == o.len &&
               data == o.data;
    }
};

/* What one reading of a file gave. */
struct outcome {
    std::vector<seen> packets;
    int status = 0;            /* the load_error's; 0 when none */
    std::string message;
    std::string warnings;
    bool handed = false;       /* the map handed the records over */
};

void collect(u_char *user, const struct pcap_pkthdr *h, const u_char *data)
{
    auto *o = reinterpret_cast<outcome *>(user);
    o->packets.push_back({(int64_t)h->ts.tv_sec, (int64_t)h->ts.tv_usec, h->caplen, h->len,
                          bytes(data, data + h->caplen)});
}

/* Reads `path` through libpcap (`mapped` false) or from its map. */
outcome read_file(const std::string &path, bool mapped)
{
    outcome o;
    loadfail_trap_begin();
    file_map *m = nullptr;
    testing::internal::CaptureStderr();
    try {
        pcap_t *pc = capture_open(path.c_str());
        if (mapped) {
            m = filemap_open(path.c_str(), pcap_datalink(pc), 16);
            capture_run_mapped(pc, path.c_str(), m, collect, reinterpret_cast<u_char *>(&o));
        } else {
            capture_run(pc, path.c_str(), collect, reinterpret_cast<u_char *>(&o));
        }
    } catch (const load_error &e) {
        o.status = e.status;
    }
    testing::internal::GetCapturedStderr();
    o.handed = m != nullptr && m->handing;
    filemap_close(m);
    o.message = g_loadfail.message;
    o.warnings = g_loadfail.warnings;
    loadfail_trap_end();
    return o;
}

uint32_t get32(const bytes &f, size_t at, bool be)
{
    return be ? (uint32_t)f[at] << 24 | (uint32_t)f[at + 1] << 16 | (uint32_t)f[at + 2] << 8 | f[at + 3]
              : (uint32_t)f[at + 3] << 24 | (uint32_t)f[at + 2] << 16 | (uint32_t)f[at + 1] << 8 | f[at];
}

void put32(bytes &f, size_t at, uint32_t v, bool be)
{
    for (int k = 0; k < 4; k++)
        f[at + (size_t)k] = (uint8_t)(v >> (be ? 24 - 8 * k : 8 * k));
}

void put16(bytes &f, size_t at, uint16_t v, bool be)
{
    f[at] = (uint8_t)(be ? v >> 8 : v);
    f[at + 1] = (uint8_t)(be ? v : v >> 8);
}

/* A random capture written by libpcap, of one of the link types read. */
bytes written_capture(std::mt19937 &rng)
{
    static const int links[] = {pcapgen::LINK_EN10MB, pcapgen::LINK_RAW, pcapgen::LINK_NULL,
                                pcapgen::LINK_LINUX_SLL, pcapgen::LINK_LINUX_SLL2,
                                pcapgen::LINK_IPV4, pcapgen::LINK_LOOP};
    pcapgen::capture c(links[rng() % 7], 65535);
    int n = 1 + (int)(rng() % 60);
    for (int i = 0; i < n; i++) {
        pcapgen::tcp_seg s;
        s.seq = rng();
        s.ack = rng();
        s.flags = (uint8_t)(0x10 | (rng() % 2 ? 0x08 : 0));
        s.paylen = (int)(rng() % 300);
        c.add(pcapgen::build_tcp(s), i * 0.01, rng() % 4 == 0 ? (int)(rng() % 120) : -1);
    }
    std::string path = c.write();
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

/*
 * Damages the little-endian savefile `f` at random: other byte order,
 * nanosecond magic, another snapshot length or version, record headers
 * changed, the file cut.
 */
void damage(std::mt19937 &rng, bytes &f)
{
    std::vector<size_t> recs;
    for (size_t at = 24; at + 16 <= f.size(); at += 16 + get32(f, at + 8, false))
        recs.push_back(at);
    if (rng() % 3 == 0)
        put32(f, 0, 0xa1b23c4d, false);
    static const uint32_t snaps[] = {0, 1, 60, 96, 200, 262144, 262145, 0x7fffffff, 0xffffffff};
    if (rng() % 3 == 0)
        put32(f, 16, snaps[rng() % 9], false);
    if (rng() % 12 == 0)
        put16(f, 6, 3, false);
    int changes = rng() % 2 ? 0 : 1 + (int)(rng() % 4);
    for (int k = 0; k < changes && !recs.empty(); k++) {
        size_t at = recs[rng() % recs.size()];
        static const uint32_t caps[] = {0, 10, 97, 201, 262144, 262145, 1u << 31, 0xffffffff};
        int field = (int)(rng() % 4);
        uint32_t v = field == 2 ? caps[rng() % 8] : (uint32_t)rng();
        put32(f, at + 4 * (size_t)field, v, false);
    }
    if (rng() % 2 == 0) {
        /* The other byte order: magic, version, zone, sigfigs, snaplen,
         * link type and every record header's four words swapped. */
        for (size_t at : recs)
            for (size_t w = 0; w < 16; w += 4)
                put32(f, at + w, get32(f, at + w, false), true);
        put32(f, 0, get32(f, 0, false), true);
        put16(f, 4, (uint16_t)(f[4] | f[5] << 8), true);
        put16(f, 6, (uint16_t)(f[6] | f[7] << 8), true);
        for (size_t w = 8; w < 24; w += 4)
            put32(f, w, get32(f, w, false), true);
    }
    if (rng() % 3 == 0)
        f.resize(24 + rng() % (f.size() - 23));
}

std::string save(const bytes &f)
{
    std::string path = pcapgen::temp_path("mapped.pcap");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(f.data()),
                                                (std::streamsize)f.size());
    return path;
}

}  // namespace

/* A file put under the name between libpcap's open and the map: the
 * records are the opened file's, read by libpcap. */
/* A classic file is opened reading only the first 64 KiB through stdio
 * (the walk reads the rest where it lies); libpcap, reading all of it
 * through that part of the buffer, gets what the walk gets. */
TEST(CaptureRunMapped, TheOpenOfAWalkedFileReadsLittleOfIt)
{
    pcapgen::capture c(pcapgen::LINK_EN10MB, 65535);
    for (int i = 0; i < 400; i++) {
        pcapgen::tcp_seg s;
        s.seq = 1000u + 300u * (uint32_t)i;
        s.paylen = 300;
        c.add(pcapgen::build_tcp(s), i * 0.001);
    }
    std::string path = c.write();
    loadfail_trap_begin();
    pcap_t *pc = capture_open(path.c_str());
    EXPECT_EQ(lseek(fileno(pcap_file(pc)), 0, SEEK_CUR), 65536);
    capture_close(pc);
    loadfail_trap_end();
    outcome by_libpcap = read_file(path, false), walked = read_file(path, true);
    EXPECT_TRUE(walked.handed);
    ASSERT_EQ(by_libpcap.packets.size(), 400u);
    EXPECT_TRUE(by_libpcap.packets == walked.packets);
}

TEST(CaptureRunMapped, AFileReplacedAfterTheOpenIsReadByLibpcap)
{
    std::mt19937 rng(5);
    bytes a = written_capture(rng), b = written_capture(rng);
    std::string path = save(a);
    outcome want = read_file(path, false);
    std::string other = save(b);
    outcome got;
    loadfail_trap_begin();
    pcap_t *pc = capture_open(path.c_str());
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    file_map *m = filemap_open(path.c_str(), pcap_datalink(pc), 16);
    ASSERT_NE(m, nullptr);
    capture_run_mapped(pc, path.c_str(), m, collect, reinterpret_cast<u_char *>(&got));
    EXPECT_FALSE(m->handing);
    filemap_close(m);
    loadfail_trap_end();
    ASSERT_EQ(got.packets.size(), want.packets.size());
    for (size_t i = 0; i < got.packets.size(); i++)
        EXPECT_TRUE(got.packets[i] == want.packets[i]) << i;
    std::remove(path.c_str());
}

TEST(CaptureRunMapped, RandomAndDamagedFilesReadAsLibpcapReadsThem)
{
    std::mt19937 rng(41);
    int handed = 0, failed = 0, warned = 0;
    for (int round = 0; round < 1000; round++) {
        bytes f = written_capture(rng);
        damage(rng, f);
        std::string path = save(f);
        g_capfile.filter = rng() % 4 == 0 ? "tcp[13] & 8 = 0" : rng() % 5 == 0 ? "len > 100" : "";
        outcome literal = read_file(path, false);
        outcome fast = read_file(path, true);
        ASSERT_EQ(fast.status, literal.status) << round << " " << literal.message;
        ASSERT_EQ(fast.message, literal.message) << round;
        ASSERT_EQ(fast.warnings, literal.warnings) << round;
        ASSERT_EQ(fast.packets.size(), literal.packets.size()) << round;
        for (size_t i = 0; i < fast.packets.size(); i++)
            ASSERT_TRUE(fast.packets[i] == literal.packets[i])
                << round << " packet " << i << ": " << fast.packets[i].sec << "."
                << fast.packets[i].usec << " " << fast.packets[i].caplen << "/"
                << fast.packets[i].len << " against " << literal.packets[i].sec << "."
                << literal.packets[i].usec << " " << literal.packets[i].caplen << "/"
                << literal.packets[i].len;
        handed += fast.handed;
        failed += literal.status != 0;
        warned += !literal.warnings.empty();
        std::remove(path.c_str());
    }
    g_capfile.filter.clear();
    /* The damage must reach every way: handed over, failed, cut short. */
    EXPECT_GT(handed, 500);
    EXPECT_GT(failed, 50);
    EXPECT_GT(warned, 50);
}

namespace {

/* A pcapng file built block by block, in either byte order. */
struct ng_writer {
    bool be;
    bytes f;
    void u8(uint8_t v) { f.push_back(v); }
    void u16(uint16_t v)
    {
        for (int k = 0; k < 2; k++)
            f.push_back((uint8_t)(v >> (be ? 8 - 8 * k : 8 * k)));
    }
    void u32(uint32_t v)
    {
        for (int k = 0; k < 4; k++)
            f.push_back((uint8_t)(v >> (be ? 24 - 8 * k : 8 * k)));
    }
    /* A block of `type` around `body` (padded to 4 bytes). */
    void block(uint32_t type, bytes body)
    {
        body.resize((body.size() + 3) / 4 * 4);
        u32(type);
        u32((uint32_t)body.size() + 12);
        f.insert(f.end(), body.begin(), body.end());
        u32((uint32_t)body.size() + 12);
    }
    bytes body() const { return bytes(); }
};

/* The body of a block, written in w's byte order. */
struct body_writer {
    ng_writer w;
    explicit body_writer(bool be) : w{be, {}} {}
    body_writer &u16(uint16_t v) { w.u16(v); return *this; }
    body_writer &u32(uint32_t v) { w.u32(v); return *this; }
    body_writer &raw(const bytes &b) { w.f.insert(w.f.end(), b.begin(), b.end()); return *this; }
    body_writer &option(uint16_t code, const bytes &value)
    {
        u16(code).u16((uint16_t)value.size()).raw(value);
        while (w.f.size() % 4 != 0)
            w.f.push_back(0);
        return *this;
    }
};

/* A random pcapng file: sections, interfaces with time resolutions and
 * offsets, packets of the three packet block kinds, other blocks. */
bytes random_pcapng(std::mt19937 &rng)
{
    bool be = rng() % 2;
    ng_writer out{be, {}};
    int sections = 1 + (int)(rng() % 2);
    for (int s = 0; s < sections; s++) {
        out.block(0x0A0D0D0A, body_writer(be).u32(0x1A2B3C4D).u16(1).u16(rng() % 4 ? 0 : 2)
                                  .u32(0xffffffff).u32(0xffffffff).w.f);
        int ifaces = 1 + (int)(rng() % 3);
        for (int i = 0; i < ifaces; i++) {
            body_writer idb(be);
            idb.u16(1).u16(0).u32(rng() % 8 ? 65535 : (uint32_t)(rng() % 3) * 100);
            static const uint8_t resols[] = {6, 9, 3, 0, 0x80 | 20, 0x80 | 10, 0x80 | 30, 12};
            if (rng() % 2)
                idb.option(9, {resols[rng() % 8]});
            if (rng() % 3 == 0) {
                body_writer off(be);
                off.u32((uint32_t)rng() % 1000).u32(0);
                idb.option(14, rng() % 2 ? off.w.f : bytes(off.w.f.rbegin(), off.w.f.rend()));
            }
            if (rng() % 5 == 0)
                idb.option(2, {'e', 't', 'h', '0'});
            if (rng() % 2)
                idb.option(0, {});
            out.block(1, idb.w.f);
        }
        int n = 1 + (int)(rng() % 30);
        for (int k = 0; k < n; k++) {
            pcapgen::tcp_seg seg;
            seg.seq = rng();
            seg.paylen = (int)(rng() % 200);
            bytes frame(14, 0);
            frame[12] = 0x08;
            bytes ip = pcapgen::build_tcp(seg);
            frame.insert(frame.end(), ip.begin(), ip.end());
            uint64_t t = (uint64_t)1600000000 * 1000000 + (uint64_t)rng() % 100000000;
            uint32_t cap = rng() % 6 ? (uint32_t)frame.size() : (uint32_t)(rng() % frame.size());
            bytes data(frame.begin(), frame.begin() + cap);
            int kind = (int)(rng() % 10);
            if (kind < 7)
                out.block(6, body_writer(be).u32(rng() % 5 ? 0 : (uint32_t)(rng() % ifaces + 1))
                                 .u32((uint32_t)(t >> 32)).u32((uint32_t)t).u32(cap)
                                 .u32((uint32_t)frame.size()).raw(data).w.f);
            else if (kind < 8)
                out.block(3, body_writer(be).u32((uint32_t)frame.size()).raw(frame).w.f);
            else if (kind < 9)
                out.block(2, body_writer(be).u16(0).u16(0).u32((uint32_t)(t >> 32)).u32((uint32_t)t)
                                 .u32(cap).u32((uint32_t)frame.size()).raw(data).w.f);
            else
                out.block(5, body_writer(be).u32(rng()).u32(rng()).w.f);
        }
    }
    return out.f;
}

/* Damages a pcapng file at random: a block length, a word of a block, the
 * file cut, a byte flipped. */
void damage_pcapng(std::mt19937 &rng, bytes &f)
{
    int changes = rng() % 3 ? 0 : 1 + (int)(rng() % 3);
    for (int k = 0; k < changes; k++) {
        size_t at = 28 + rng() % (f.size() - 28);
        at -= at % 4;
        static const uint32_t values[] = {0, 4, 11, 12, 13, 0x01000001, 0xffffffff, 1, 2, 3, 6};
        if (at + 4 <= f.size())
            put32(f, at, rng() % 2 ? values[rng() % 11] : (uint32_t)rng(), rng() % 2);
    }
    if (rng() % 4 == 0)
        f.resize(28 + rng() % (f.size() - 27));
    if (rng() % 6 == 0)
        f[rng() % f.size()] ^= (uint8_t)(1 + rng() % 255);
}

std::string save_as(const bytes &f, const std::string &name)
{
    std::string path = pcapgen::temp_path(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(f.data()),
                                                (std::streamsize)f.size());
    return path;
}

/* The walk against libpcap on the file at `path`; what the walk did. */
outcome compare_readings(const std::string &path, const std::string &where)
{
    outcome literal = read_file(path, false);
    outcome fast = read_file(path, true);
    EXPECT_EQ(fast.status, literal.status) << where << " " << literal.message;
    EXPECT_EQ(fast.message, literal.message) << where;
    EXPECT_EQ(fast.warnings, literal.warnings) << where;
    EXPECT_EQ(fast.packets.size(), literal.packets.size()) << where;
    EXPECT_TRUE(fast.packets == literal.packets) << where;
    return fast;
}

}  // namespace

/* Random pcapng block streams, sound and damaged, in both byte orders:
 * the walk reads what libpcap reads, word for word. */
TEST(CaptureRunMapped, RandomPcapngStreamsReadAsLibpcapReadsThem)
{
    std::mt19937 rng(29);
    int handed = 0, failed = 0, warned = 0;
    for (int round = 0; round < 1500; round++) {
        bytes f = random_pcapng(rng);
        damage_pcapng(rng, f);
        std::string path = save_as(f, "random.pcapng");
        g_capfile.filter = rng() % 5 == 0 ? "tcp[13] & 8 = 0" : "";
        outcome fast = compare_readings(path, "round " + std::to_string(round));
        if (testing::Test::HasFailure())
            break;
        handed += fast.handed;
        failed += fast.status != 0;
        warned += !fast.warnings.empty();
        std::remove(path.c_str());
    }
    g_capfile.filter.clear();
    EXPECT_GT(handed, 700);
    EXPECT_GT(failed, 100);
    EXPECT_GT(warned, 100);
}

/* Every capture at hand, as pcapng written by a real tool (editcap), and
 * the bundled pcapng: the walk reads what libpcap reads, from the map. */
TEST(CaptureRunMapped, PcapngFilesOfRealToolsReadAsLibpcapReadsThem)
{
    std::vector<std::string> files = {std::string(WIREPAINT_SOURCE_DIR) + "/examples/sender.pcapng"};
    for (const char *name : {"sender", "receiver", "slow-reader", "loopback-any-sll", "midstream", "timeout",
                             "keepalive", "offload-receiver"}) {
        std::string ng = pcapgen::temp_path(std::string(name) + ".pcapng");
        std::string cmd = std::string("editcap -F pcapng ") + WIREPAINT_SOURCE_DIR + "/examples/" +
                          name + ".pcap " + ng;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        files.push_back(ng);
        /* Through a nanosecond file: an interface of resolution 10^-9,
         * the packets cut to 80 bytes. */
        std::string ns = ng + ".ns.pcap", nano = ng + ".ns.pcapng";
        ASSERT_EQ(std::system(("editcap -F nseclibpcap " + ng + " " + ns + " && editcap -s 80 -F pcapng " +
                               ns + " " + nano).c_str()), 0);
        files.push_back(nano);
    }
    for (const std::string &path : files) {
        outcome fast = compare_readings(path, path);
        EXPECT_TRUE(fast.handed) << path;
        EXPECT_GT(fast.packets.size(), 5u) << path;
    }
}

namespace {

/* f gzip'd, then at times cut or with a byte flipped. */
bytes gzipped_and_damaged(std::mt19937 &rng, const bytes &f)
{
    uLongf room = compressBound((uLong)f.size()) + 32;
    bytes z(room);
    z_stream zs = {};
    EXPECT_EQ(deflateInit2(&zs, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    zs.next_in = const_cast<uint8_t *>(f.data());
    zs.avail_in = (uInt)f.size();
    zs.next_out = z.data();
    zs.avail_out = (uInt)room;
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    z.resize(zs.total_out);
    deflateEnd(&zs);
    if (rng() % 5 == 0)
        z.resize(z.size() * (1 + rng() % 9) / 10);
    if (rng() % 8 == 0 && z.size() > 20)
        z[10 + rng() % (z.size() - 10)] ^= 0x5a;
    return z;
}

/* A block of an unknown type, larger than half the ring (2 to 6 MiB), put
 * in at a block boundary of pcapng file f; at times of a bad length. */
void add_large_block(std::mt19937 &rng, bytes &f)
{
    bool be = get32(f, 8, false) != 0x1A2B3C4D;
    size_t at = 0;
    for (size_t k = 0, stop = rng() % 8; k <= stop && at + 8 <= f.size(); k++) {
        uint32_t len = get32(f, at + 4, be);
        if (len < 12 || at + len > f.size())
            break;
        at += len;
    }
    ng_writer big{be, {}};
    big.block(0xBAD, bytes((2 << 20) + rng() % (4 << 20), (uint8_t)rng()));
    if (rng() % 4 == 0)
        put32(big.f, 4, (16 << 20) + 4, be);
    f.insert(f.begin() + (long)at, big.f.begin(), big.f.end());
}

}  // namespace

/* Random and damaged classic and pcapng files, gzip'd, then at times cut
 * or with a byte flipped: the walk of the records in the decompressing
 * ring reads what libpcap reads through the same ring, word for word,
 * cut and corrupt streams' warnings and failures included. Some pcapng
 * files carry a block larger than half the ring, which the walk gathers
 * out of it. */
TEST(CaptureRunMapped, CompressedFilesWalkedInTheRingReadAsLibpcapReadsThem)
{
    struct row {
        const char *name;
        int rounds;
        bool ng;
        int least_walked, least_failed;
    } rows[] = {{"walked.pcap.gz", 400, false, 250, 40}, {"walked.pcapng.gz", 500, true, 250, 60}};
    std::mt19937 rng(43);
    for (const row &w : rows) {
        int walked = 0, failed = 0;
        for (int round = 0; round < w.rounds; round++) {
            bytes f;
            if (w.ng) {
                f = random_pcapng(rng);
                if (round % 40 == 0)
                    add_large_block(rng, f);
                damage_pcapng(rng, f);
            } else {
                f = written_capture(rng);
                damage(rng, f);
            }
            std::string path = save_as(gzipped_and_damaged(rng, f), w.name);
            g_capfile.filter = rng() % 4 == 0 ? "tcp[13] & 8 = 0" : "";
            g_capfile.literal_read = true;
            outcome literal = read_file(path, false);
            g_capfile.literal_read = false;
            outcome fast = read_file(path, false);
            std::string where = std::string(w.name) + " round " + std::to_string(round);
            EXPECT_EQ(fast.status, literal.status) << where << " " << literal.message;
            EXPECT_EQ(fast.message, literal.message) << where;
            EXPECT_EQ(fast.warnings, literal.warnings) << where;
            EXPECT_TRUE(fast.packets == literal.packets) << where;
            if (testing::Test::HasFailure())
                break;
            walked += !fast.packets.empty();
            failed += fast.status != 0;
            std::remove(path.c_str());
        }
        g_capfile.filter.clear();
        EXPECT_GT(walked, w.least_walked) << w.name;
        EXPECT_GT(failed, w.least_failed) << w.name;
    }
}
