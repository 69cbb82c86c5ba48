/*
 * binread_test.cpp --
 *
 *	Tests of the capture reader and the segment decoder: real savefiles
 *	written through libpcap, read back through read_capture.
 */

#include "trace/binread.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/carried.h"
#include "support/pcapgen.h"
#include "support/readback.h"
#include "support/resident.h"
#include "capture/capfile.h"
#include "trace/direction.h"
#include "capture/loadfail.h"
#include "trace/trace.h"

using pcapgen::build_tcp;
using pcapgen::capture;
using pcapgen::tcp_seg;
using readback::read_clean;

namespace {

/* Client 10.0.0.1:40000, server 10.0.0.2:80. */
tcp_seg client(uint32_t seq, uint32_t ack, uint8_t flags, int paylen = 0)
{
    tcp_seg s;
    s.seq = seq;
    s.ack = ack;
    s.flags = flags;
    s.paylen = paylen;
    return s;
}

tcp_seg server(uint32_t seq, uint32_t ack, uint8_t flags, int paylen = 0)
{
    tcp_seg s = client(seq, ack, flags, paylen);
    s.src = "10.0.0.2";
    s.dst = "10.0.0.1";
    s.sport = 80;
    s.dport = 40000;
    return s;
}

/* s between the two ends of a loopback connection, both 127.0.0.1. */
tcp_seg loopback(tcp_seg s)
{
    s.src = s.dst = "127.0.0.1";
    return s;
}

const seg_record &rec(int i)
{
    return g_trace.building.rec[i];
}

class BinreadTest : public testing::Test {
protected:
    void TearDown() override { trace_state_clear(); }
};

}  // namespace

TEST_F(BinreadTest, HandshakeLearnsReverseIsnFromSynAck)
{
    capture c;
    c.add(build_tcp(client(1000, 0, TH_SYN)), 10.5);
    c.add(build_tcp(server(5000, 1001, TH_SYN | TH_ACK)), 10.6);
    c.add(build_tcp(client(1001, 5001, TH_ACK)), 10.7);
    c.add(build_tcp(client(1001, 5001, TH_ACK | TH_PUSH, 100)), 10.8);
    c.add(build_tcp(server(5001, 1101, TH_ACK)), 10.9);
    EXPECT_EQ(read_clean(c.write()), "");

    ASSERT_EQ(g_trace.building.count, 5);
    EXPECT_EQ(g_trace.key.isn_fwd, 1000u);
    EXPECT_EQ(g_trace.key.isn_rev, 5000u);
    EXPECT_EQ(g_trace.key.t0_sec, 10);
    EXPECT_EQ(g_trace.key.t0_usec, 500000);
    EXPECT_EQ(g_trace.ipv6, 0);
    const int64_t want_seq[] = {0, 0, 1, 1, 1};
    const int64_t want_ack[] = {0, 1, 1, 1, 101};
    const int32_t want_len[] = {0, 0, 0, 100, 0};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(seq_of(rec(i)), want_seq[i]) << i;
        EXPECT_EQ(ack_of(rec(i)), want_ack[i]) << i;
        EXPECT_EQ(rec(i).paylen, want_len[i]) << i;
    }
    EXPECT_FLOAT_EQ(rec(0).time, 0.0f);
    EXPECT_FLOAT_EQ(rec(4).time, 0.4f);
    EXPECT_FLOAT_EQ(g_trace.duration, 0.4f);
    EXPECT_EQ(src4_of(rec(0)), 0x0a000001u);
    EXPECT_EQ(dst4_of(rec(0)), 0x0a000002u);
    EXPECT_EQ(sport_of(rec(1)), 80);
    EXPECT_EQ(rec(1).tcp_flags, TH_SYN | TH_ACK);
    EXPECT_EQ(seq_raw_of(rec(3)), 1001u);
    EXPECT_EQ(ack_raw_of(rec(4)), 1101u);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(rec(i).mark, 0);
        EXPECT_EQ(rec(i).acked_by, 0);
        EXPECT_EQ(std::memcmp(src6_of(rec(i)), std::vector<uint8_t>(16, 0).data(), 16), 0);
    }
}

TEST_F(BinreadTest, SecondSynWithoutAnswerKeepsReverseIsnUnlearnt)
{
    capture c;
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.0);
    c.add(build_tcp(client(1000, 0, TH_SYN)), 1.0);
    read_clean(c.write());
    EXPECT_EQ(g_trace.key.isn_rev, 0u);
    c.add(build_tcp(server(7000, 1001, TH_SYN | TH_ACK)), 1.1);
    read_clean(c.write());
    EXPECT_EQ(g_trace.key.isn_rev, 7000u);
    EXPECT_EQ(seq_of(rec(2)), 0);
    EXPECT_EQ(ack_of(rec(2)), 1);
}

TEST_F(BinreadTest, MidConnectionStartNumbersBothDirectionsFromZero)
{
    capture c;
    c.add(build_tcp(client(3000, 9000, TH_ACK, 50)), 0.0);
    c.add(build_tcp(server(9000, 3050, TH_ACK, 20)), 0.1);
    c.add(build_tcp(client(2990, 9020, TH_ACK)), 0.2);
    read_clean(c.write());
    EXPECT_EQ(g_trace.key.isn_rev, 9000u);
    EXPECT_EQ(seq_of(rec(1)), 0);
    EXPECT_EQ(ack_of(rec(1)), 50);
    EXPECT_EQ(seq_of(rec(2)), -10);   /* below isn_fwd: negative */
    EXPECT_EQ(ack_of(rec(2)), 20);
}

TEST_F(BinreadTest, ReverseIsnLearntMidConnectionFromSequenceOfOtherSide)
{
    /* The first segment carries no ACK: the base of the other side comes from
     * its first segment's sequence number. */
    capture c;
    c.add(build_tcp(client(100, 0, 0, 10)), 0.0);
    c.add(build_tcp(server(4000, 110, TH_ACK)), 0.1);
    read_clean(c.write());
    EXPECT_EQ(g_trace.key.isn_rev, 4000u);
    EXPECT_EQ(ack_of(rec(0)), 0);
    EXPECT_EQ(seq_of(rec(1)), 0);
    EXPECT_EQ(ack_of(rec(1)), 10);
}

TEST_F(BinreadTest, ZeroAckFieldGivesZeroAck)
{
    capture c;
    c.add(build_tcp(client(1000, 5000, TH_ACK)), 0.0);
    c.add(build_tcp(server(5000, 0, TH_RST)), 0.1);
    read_clean(c.write());
    EXPECT_EQ(ack_of(rec(1)), 0);
}

TEST_F(BinreadTest, ReportLinesForForeignPacketsInFileOrder)
{
    capture c;
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 5353, 53, 10), 0.0);
    c.add(pcapgen::build_udp("fe80::1", "fe80::2", 5353, 53, 10), 0.0);
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.1);
    tcp_seg other_conn = client(1, 0, TH_SYN);
    other_conn.sport = 40001;
    c.add(build_tcp(other_conn), 0.2);
    tcp_seg other_hosts = client(1, 0, TH_SYN);
    other_hosts.src = "10.0.0.3";
    c.add(build_tcp(other_hosts), 0.3);
    tcp_seg v6 = client(1, 0, TH_SYN);
    v6.v6 = true;
    v6.src = "fe80::1";
    v6.dst = "fe80::2";
    c.add(build_tcp(v6), 0.4);
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 5353, 53, 10), 0.5);
    /* Key's addresses with the ports exchanged against them: accepted. */
    tcp_seg crossed = client(1001, 0, TH_ACK);
    crossed.sport = 80;
    crossed.dport = 40000;
    c.add(build_tcp(crossed), 0.6);

    EXPECT_EQ(read_clean(c.write()),
              "not tcp\n"
              "Not tcp\n"
              "Warning: port unmatch\n"
              "Warning: address unmatch\n"
              "Warning: address unmatch\n"
              "not tcp\n");
    ASSERT_EQ(g_trace.building.count, 2);
    EXPECT_FLOAT_EQ(rec(0).time, 0.0f);   /* the first TCP segment starts the clock */
    EXPECT_FLOAT_EQ(rec(1).time, 0.5f);
}

TEST_F(BinreadTest, IPv4SegmentInIPv6TraceIsAddressUnmatch)
{
    capture c;
    tcp_seg v6 = client(1, 0, TH_SYN);
    v6.v6 = true;
    v6.src = "2001:db8::1";
    v6.dst = "2001:db8::2";
    c.add(build_tcp(v6), 0.0);
    c.add(build_tcp(client(1, 0, TH_SYN)), 0.1);
    EXPECT_EQ(read_clean(c.write()), "Warning: address unmatch\n");
    EXPECT_EQ(g_trace.ipv6, 1);
    EXPECT_EQ(src4_of(rec(0)), 0u);
    EXPECT_EQ(rec(0).ip_id, 0);
    uint8_t want[16];
    inet_pton(AF_INET6, "2001:db8::1", want);
    EXPECT_EQ(std::memcmp(src6_of(rec(0)), want, 16), 0);
}

TEST_F(BinreadTest, IPv6ExtensionHeaders)
{
    tcp_seg s = client(1, 0, TH_ACK, 100);
    s.v6 = true;
    s.src = "2001:db8::1";
    s.dst = "2001:db8::2";
    s.ext = {pcapgen::ext_header{60, 0}};
    capture c;
    c.add(build_tcp(s), 0.0);
    s.ext = {pcapgen::ext_header{0, 0}, pcapgen::ext_header{60, 0}};
    c.add(build_tcp(s), 0.1);
    s.ext = {pcapgen::ext_header{43, 1}};
    c.add(build_tcp(s), 0.2);
    EXPECT_EQ(read_clean(c.write()), "Not tcp\n");
    ASSERT_EQ(g_trace.building.count, 2);
    /* payload length 8 + 20 + 100: the 8 bytes of the extension header
     * come off, so paylen is the payload itself. */
    EXPECT_EQ(rec(0).paylen, 100);
    EXPECT_EQ(sport_of(rec(0)), 40000);     /* read at offset 48 */
    EXPECT_EQ(rec(1).paylen, 100);      /* routing header of 16 bytes */
}

TEST_F(BinreadTest, NegativeTimeAndNegativePaylen)
{
    capture c;
    c.add(build_tcp(client(1, 0, TH_ACK)), 5.0);
    tcp_seg s = client(1, 0, TH_ACK);
    s.ip_len_adjust = -30;   /* IP total length below the header lengths */
    c.add_at(build_tcp(s), 4, 250000);
    read_clean(c.write());
    EXPECT_FLOAT_EQ(rec(1).time, -0.75f);
    EXPECT_EQ(rec(1).paylen, -30);
}

TEST_F(BinreadTest, CopyLengthFixedByFirstFrameAndLaterPacketsCut)
{
    capture c;
    c.add(build_tcp(client(1, 0, TH_ACK)), 0.0);          /* 14 + 40 bytes */
    tcp_seg big = client(1, 0, TH_ACK, 60);
    c.add(build_tcp(big), 0.1);
    tcp_seg small = client(1, 0, TH_ACK);
    c.add(build_tcp(small), 0.2, 14 + 38);                 /* truncated frame */
    read_clean(c.write());
    ASSERT_EQ(g_trace.building.count, 3);
    EXPECT_EQ(g_trace.copy_len, 54);
    pcapgen::bytes full = build_tcp(big);
    EXPECT_EQ(std::memcmp(record_bytes(&g_trace.building, 1), full.data(), 54), 0);
    EXPECT_EQ(record_cap_bytes(&g_trace.building, 1), 54);
    /* The cut frame holds 38 bytes after its link header; the rest is zero. */
    EXPECT_EQ(record_cap_bytes(&g_trace.building, 2), 38);
    for (int i = 38; i < 54; i++)
        EXPECT_EQ(record_bytes(&g_trace.building, 2)[i], 0) << i;
    EXPECT_EQ(record_cap_bytes(&g_trace.building, 0), 40);
}

TEST_F(BinreadTest, SavedCopyLengthFromOptionIsKept)
{
    capture c;
    c.add(build_tcp(client(1, 0, TH_ACK, 100)), 0.0);
    trace_state_clear();
    g_trace.copy_len = 48;
    testing::internal::CaptureStdout();
    read_capture(c.write().c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_trace.copy_len, 48);
    EXPECT_EQ(record_cap_bytes(&g_trace.building, 0), 48);
}

/* A copy length far beyond the packets (a large -s): only the captured
 * bytes of each copy are written, and the rest of its block stays
 * untouched, so the trace takes the memory its packets need. */
TEST_F(BinreadTest, LongCopyLengthTakesOnlyThePagesItsPacketsWrite)
{
    capture c;
    for (int i = 0; i < 300; i++)
        c.add(build_tcp(client(1 + (uint32_t)i, 0, TH_ACK, 10)), i * 0.001);
    trace_state_clear();
    g_trace.copy_len = 60000;
    testing::internal::CaptureStdout();
    read_capture(c.write().c_str());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(g_trace.building.count, 300);
    ASSERT_EQ(g_trace.building.copy_len, 60000);
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    size_t resident = 0, pages = 0;
    for (const copy_block *b = g_trace.building.copies; b != nullptr; b = b->prev) {
        size_t len = b->size + sizeof(copy_block);
        resident += resident_pages(b, len);
        pages += len / page;
    }
    /* Each copy writes one page or two of its fifteen; were the blocks'
     * pages asked for ahead, nearly all would be taken. A file read in
     * place takes no copy at all. */
    if (g_trace.building.map != nullptr)
        EXPECT_EQ(pages, 0u);
    else
        EXPECT_LT(resident, pages / 4) << resident << " of " << pages;
    EXPECT_EQ(record_cap_bytes(&g_trace.building, 299), 50);
}

TEST_F(BinreadTest, EveryLinkTypeOfTheTableIsStripped)
{
    const int types[] = {pcapgen::LINK_NULL, pcapgen::LINK_EN10MB, pcapgen::LINK_SLIP,
                         pcapgen::LINK_PPP, pcapgen::LINK_ATM_RFC1483};
    const int lens[] = {4, 14, 16, 4, 8};
    for (int t = 0; t < 5; t++) {
        capture c(types[t]);
        c.add(build_tcp(client(1000, 0, TH_SYN)), 0.0);
        c.add(build_tcp(server(5000, 1001, TH_SYN | TH_ACK)), 0.1, lens[t] - 1);  /* short */
        c.add(build_tcp(server(5000, 1001, TH_SYN | TH_ACK)), 0.2);
        EXPECT_EQ(read_clean(c.write()), "") << types[t];
        ASSERT_EQ(g_trace.building.count, 2) << types[t];
        EXPECT_EQ(link_header_length(types[t]), lens[t]);
        EXPECT_EQ(g_trace.linktype, types[t]);
        EXPECT_EQ(ack_of(rec(1)), 1) << types[t];
        EXPECT_EQ(g_trace.copy_len, lens[t] + 40);
    }
    EXPECT_EQ(link_header_length(10), -1);
}

TEST_F(BinreadTest, TruncatedHeadersAreDroppedWithoutReadingPastCapture)
{
    capture c;
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.0);
    c.add(build_tcp(client(1000, 0, TH_ACK)), 0.1, 14 + 35);   /* TCP ends at window */
    c.add(build_tcp(client(1000, 0, TH_ACK)), 0.2, 14 + 19);   /* inside IP header */
    c.add(build_tcp(client(1000, 0, TH_ACK)), 0.3, 14);        /* nothing after link */
    tcp_seg v6 = client(1, 0, TH_ACK);
    v6.v6 = true;
    v6.src = "::1";
    v6.dst = "::2";
    v6.ext = {pcapgen::ext_header{60, 0}};
    c.add(build_tcp(v6), 0.4, 14 + 41);
    c.add(build_tcp(client(1000, 0, TH_ACK)), 0.5, 14 + 36);   /* enough */
    EXPECT_EQ(read_clean(c.write()),
              "Warning: truncated packet\n"
              "Warning: truncated packet\n"
              "Warning: truncated packet\n"
              "Warning: truncated packet\n");
    EXPECT_EQ(g_trace.building.count, 2);
}

TEST_F(BinreadTest, SameAddressConnectionIsNumberedByPorts)
{
    /* A loopback connection: both ends are 127.0.0.1. */
    capture c;
    c.add(build_tcp(loopback(client(1000, 0, TH_SYN))), 0.0);
    c.add(build_tcp(loopback(server(5000, 1001, TH_SYN | TH_ACK))), 0.1);
    c.add(build_tcp(loopback(client(1001, 5001, TH_ACK))), 0.2);
    c.add(build_tcp(loopback(server(5001, 1001, TH_ACK, 10))), 0.3);
    read_clean(c.write());
    ASSERT_EQ(g_trace.building.count, 4);
    EXPECT_EQ(g_trace.key.isn_rev, 5000u);
    EXPECT_EQ(seq_of(rec(1)), 0);
    EXPECT_EQ(ack_of(rec(1)), 1);
    EXPECT_EQ(seq_of(rec(2)), 1);
    EXPECT_EQ(ack_of(rec(2)), 1);
    EXPECT_EQ(seq_of(rec(3)), 1);
    EXPECT_EQ(ack_of(rec(3)), 1);
}

/* One row per capture: its segments in file order. */
struct capture_row {
    const char *about;
    std::vector<tcp_seg> segs;
    int32_t most_flows;      /* flow entries the read may add at most */
};

TEST_F(BinreadTest, RecordsGiveBackTheirCarriedNumbersAndPorts)
{
    tcp_seg loop_syn = loopback(client(7, 0, TH_SYN));
    tcp_seg loop_back = loopback(server(9, 8, TH_SYN | TH_ACK));
    tcp_seg loop_ack = loopback(client(8, 10, TH_ACK));
    tcp_seg crossed = client(1101, 0xfffffff0u, TH_ACK);   /* ports the other way */
    crossed.sport = 80;
    crossed.dport = 40000;
    tcp_seg v6 = client(0xfffffff0u, 0, TH_SYN);
    v6.v6 = true;
    v6.src = "2001:db8::1";
    v6.dst = "2001:db8::2";
    tcp_seg v6back = v6;
    v6back.src = v6.dst;
    v6back.dst = v6.src;
    v6back.sport = 80;
    v6back.dport = 40000;
    v6back.seq = 0;
    v6back.ack = 0xfffffff1u;
    v6back.flags = TH_SYN | TH_ACK;
    tcp_seg v6data = v6;
    v6data.seq = 0xfffffff1u;
    v6data.ack = 1;
    v6data.flags = TH_ACK;
    v6data.paylen = 100;
    const capture_row rows[] = {
        {"handshake across the wrap, then data both ways",
         {client(0xfffffff0u, 0, TH_SYN), server(5000, 0xfffffff1u, TH_SYN | TH_ACK),
          client(0xfffffff1u, 5001, TH_ACK, 100), server(5001, 0x55u, TH_ACK, 10),
          client(0x55u, 5011, TH_ACK), server(5011, 0, TH_RST)},
         4},
        {"mid-stream: an ack field equal to the base, one of 0, ports the other way",
         {client(1000, 0xfffffff0u, TH_ACK, 100), server(0xfffffff0u, 1100, TH_ACK),
          crossed, client(1101, 0, TH_RST)},
         4},
        {"loopback: both ends share one address", {loop_syn, loop_back, loop_ack}, 3},
        {"IPv6, peer ISN 0", {v6, v6back, v6data}, 3},
    };
    for (const capture_row &row : rows) {
        capture c;
        double t = 0.0;
        for (const tcp_seg &s : row.segs)
            c.add(build_tcp(s), t += 0.01);
        read_clean(c.write());
        ASSERT_EQ(g_trace.building.count, static_cast<int32_t>(row.segs.size())) << row.about;
        for (int32_t i = 0; i < g_trace.building.count; i++)
            EXPECT_EQ(carried::mismatch(g_trace.building, i), "") << row.about;
        EXPECT_LE(g_trace.flows.count, row.most_flows) << row.about;
    }
}

/* A server whose ISN is 0 (and a SYN sent twice before its answer, whose
 * ack field of 0 teaches nothing): its numbers are relative to 0 from its
 * SYN-ACK on, so its first data byte is 1 and every ack the client sends
 * counts from there. */
TEST_F(BinreadTest, PeerInitialSequenceNumberZeroIsLearntOnce)
{
    capture c;
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.0);
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.5);
    c.add(build_tcp(server(0, 1001, TH_SYN | TH_ACK)), 0.6);
    c.add(build_tcp(client(1001, 1, TH_ACK)), 0.7);
    c.add(build_tcp(server(1, 1001, TH_ACK, 100)), 0.8);
    c.add(build_tcp(client(1001, 101, TH_ACK)), 0.9);
    read_clean(c.write());
    ASSERT_EQ(g_trace.building.count, 6);
    EXPECT_EQ(g_trace.key.isn_rev, 0u);
    EXPECT_EQ(g_trace.key.rev_learnt, 1);
    const int64_t want[6][2] = {{0, 0}, {0, 0}, {0, 1}, {1, 1}, {1, 1}, {1, 101}};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(seq_of(rec(i)), want[i][0]) << i;
        EXPECT_EQ(ack_of(rec(i)), want[i][1]) << i;
        EXPECT_EQ(carried::mismatch(g_trace.building, i), "") << i;
    }
    /* Both ways keep one base: the server's records share one entry. */
    EXPECT_EQ(rec(2).flow, rec(4).flow);
    EXPECT_EQ(rec(3).flow, rec(5).flow);
}

TEST_F(BinreadTest, LargeTraceKeepsEveryRecordInOrder)
{
    capture c;
    const int n = 20000;
    for (int i = 0; i < n; i++)
        c.add(build_tcp(client(1000 + (uint32_t)i * 10, 0, TH_ACK, 10)), i * 0.001);
    read_clean(c.write());
    ASSERT_EQ(g_trace.building.count, n);
    EXPECT_GE(g_trace.building.cap, n);
    for (int i = 0; i < n; i += 997)
        EXPECT_EQ(seq_of(rec(i)), (int64_t)i * 10);
    EXPECT_EQ(seq_of(rec(n - 1)), (int64_t)(n - 1) * 10);
}

TEST_F(BinreadTest, TraceOfUnknownSizeGrowsKeepingEveryRecord)
{
    /* Read from standard input the file's size is unknown, so the records
     * start in one huge page's room and must grow past it. */
    capture c;
    const int n = 60000;
    ASSERT_GT((size_t)n * sizeof(seg_record), (size_t)2 << 20);
    for (int i = 0; i < n; i++)
        c.add(build_tcp(client(1000 + (uint32_t)i * 10, 0, TH_ACK, 10)), i * 0.001);
    std::string path = c.write();
    ASSERT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
    read_clean("-");
    ASSERT_EQ(g_trace.building.count, n);
    EXPECT_EQ(g_trace.building.rec_map, (void *)g_trace.building.rec);
    for (int i = 0; i < n; i++)
        ASSERT_EQ(seq_of(rec(i)), (int64_t)i * 10) << i;
    std::fclose(stdin);
}

TEST_F(BinreadTest, FileWithoutSegmentsGivesEmptyTrace)
{
    capture c;
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 1, 2, 0), 0.0);
    EXPECT_EQ(read_clean(c.write()), "not tcp\n");
    EXPECT_EQ(g_trace.building.rec, nullptr);
    EXPECT_EQ(g_trace.building.count, 0);
    EXPECT_FLOAT_EQ(g_trace.duration, 0.0f);

    capture fddi(pcapgen::LINK_FDDI);
    EXPECT_EQ(read_clean(fddi.write()), "");
    EXPECT_EQ(g_trace.building.count, 0);
}

using BinreadDeathTest = BinreadTest;

TEST_F(BinreadDeathTest, FatalReadErrorsExitWithMessage)
{
    trace_state_clear();
    EXPECT_EXIT(read_capture("/nonexistent/none.pcap"), testing::ExitedWithCode(255),
                "^pcap_open: No such file or directory\n$");

    std::string text = pcapgen::write_text_file("notes.txt", "this is not a capture file\n");
    EXPECT_EXIT(read_capture(text.c_str()), testing::ExitedWithCode(255),
                "^pcap_open: unknown file format\n$");

    capture fddi(pcapgen::LINK_FDDI);
    fddi.add(build_tcp(client(1, 0, TH_SYN)), 0.0);
    std::string path = fddi.write();
    EXPECT_EXIT(read_capture(path.c_str()), testing::ExitedWithCode(255), "^Unknown DLT a\n$");
}

TEST_F(BinreadDeathTest, PacketLargerThanSnapshotStopsTheRead)
{
    trace_state_clear();
    g_trace.snaplen = 96;
    g_trace.linktype = 1;
    g_trace.copybuf = (uint8_t *)std::malloc(100);
    std::vector<u_char> data(200, 0);
    struct pcap_pkthdr h;
    std::memset(&h, 0, sizeof h);
    h.caplen = 97;
    h.len = 200;
    EXPECT_EXIT(handle_packet(nullptr, &h, data.data()), testing::ExitedWithCode(255),
                "^packet too large src/trace/binread.cpp:[0-9]+\n$");
    /* Exactly the snapshot length is fine (it is not TCP, merely reported). */
    h.caplen = 96;
    testing::internal::CaptureStdout();
    handle_packet(nullptr, &h, data.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "not tcp\n");
}

TEST_F(BinreadDeathTest, CopyThatCannotBeAllocatedNamesTheIpVersion)
{
    capture c4;
    c4.add(build_tcp(client(1, 0, TH_SYN)), 0.0);
    std::string p4 = c4.write();
    tcp_seg v6 = client(1, 0, TH_SYN);
    v6.v6 = true;
    v6.src = "::1";
    v6.dst = "::2";
    capture c6;
    c6.add(build_tcp(v6), 0.0);
    std::string p6 = c6.write();
    trace_state_clear();
    g_trace.copy_len = -5;   /* a negative -s value */
    EXPECT_EXIT(read_capture(p4.c_str()), testing::ExitedWithCode(255),
                "^cannot malloc for packet data. \t\t\t\t\t\tPlease choose small snaplen value\n$");
    EXPECT_EXIT(read_capture(p6.c_str()), testing::ExitedWithCode(255),
                "^cannot malloc for packet data. \t\t\t\tPlease choose small snaplen value\n$");
}

namespace {

/* A five-segment handshake-and-data capture, written and then cut to
 * `keep` bytes (all of it when keep < 0). */
std::string cut_capture(long keep, long *full_size = nullptr)
{
    capture c;
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.0);
    c.add(build_tcp(server(5000, 1001, TH_SYN | TH_ACK)), 0.1);
    c.add(build_tcp(client(1001, 5001, TH_ACK)), 0.2);
    c.add(build_tcp(client(1001, 5001, TH_ACK | TH_PUSH, 100)), 0.3);
    c.add(build_tcp(server(5001, 1101, TH_ACK)), 0.4);
    std::string path = c.write();
    long size = (long)std::filesystem::file_size(path);
    if (full_size != nullptr)
        *full_size = size;
    if (keep >= 0)
        std::filesystem::resize_file(path, (uintmax_t)keep);
    return path;
}

}  // namespace

TEST_F(BinreadTest, FileCutShortWarnsAndKeepsThePacketsRead)
{
    /* File header 24 bytes, then per packet a 16-byte record header and
     * 14 + 40 bytes (54; the fourth 154). The last record starts at
     * 24 + 3 * 70 + 170 = 404. */
    long full = 0;
    cut_capture(-1, &full);
    ASSERT_EQ(full, 404 + 70);
    struct row {
        long keep;
        const char *libpcap_text;
    } rows[] = {
        {404 + 9, "truncated dump file; tried to read 16 header bytes, only got 9"},
        {404 + 16 + 30, "truncated dump file; tried to read 54 captured bytes, only got 30"},
    };
    for (const row &r : rows) {
        std::string path = cut_capture(r.keep);
        loadfail_reset();
        testing::internal::CaptureStderr();
        read_clean(path);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "wirepaint: warning: " + path + ": " + r.libpcap_text + "\n");
        EXPECT_EQ(g_trace.building.count, 4) << r.keep;
        EXPECT_FLOAT_EQ(g_trace.duration, 0.3f);
        EXPECT_EQ(g_loadfail.warnings, "wirepaint: warning: " + path + ": " + r.libpcap_text + "\n");
    }
}

TEST_F(BinreadDeathTest, FileCutInItsFirstRecordIsAReadErrorInLibpcapsWords)
{
    std::string path = cut_capture(24 + 16 + 20);
    trace_state_clear();
    EXPECT_EXIT(read_capture(path.c_str()), testing::ExitedWithCode(254),
                "^pcap_loop: truncated dump file; tried to read 54 captured bytes, only got 20\n$");
}

TEST_F(BinreadTest, TrappedFailuresThrowWithTheirMessageAndStatus)
{
    capture fddi(pcapgen::LINK_FDDI);
    fddi.add(build_tcp(client(1, 0, TH_SYN)), 0.0);
    std::string text = pcapgen::write_text_file("notes.txt", "no capture\n");
    struct row {
        std::string path;
        std::string filter;
        int status;
        std::string message;
    } rows[] = {
        {"/nonexistent/none.pcap", "", -1, "pcap_open: No such file or directory"},
        {"/", "", -1, "pcap_open: Is a directory"},
        {text, "", -1, "pcap_open: unknown file format"},
        {fddi.write(), "", -1, "Unknown DLT a"},
        {cut_capture(24 + 16 + 20), "", -2,
         "pcap_loop: truncated dump file; tried to read 54 captured bytes, only got 20"},
        {cut_capture(-1), "tcp port", 1,
         "wirepaint: bad filter expression: can't parse filter expression: syntax error"},
    };
    for (const row &r : rows) {
        trace_state_clear();
        g_capfile.filter = r.filter;
        loadfail_trap_begin();
        testing::internal::CaptureStderr();
        int status = 0;
        try {
            read_capture(r.path.c_str());
        } catch (const load_error &e) {
            status = e.status;
        }
        std::string err = testing::internal::GetCapturedStderr();
        loadfail_trap_end();
        EXPECT_EQ(status, r.status) << r.path;
        EXPECT_EQ(g_loadfail.message, r.message);
        EXPECT_EQ(err, r.message + "\n");   /* the command line's text, unchanged */
        EXPECT_EQ(g_capfile.buffer_user, nullptr) << r.path;  /* read buffer free again */
    }
    g_capfile.filter.clear();
    EXPECT_EQ(g_loadfail.trap, 0);
}

TEST_F(BinreadTest, FilterPassesOnlyWhatItMatches)
{
    capture c;
    c.add(build_tcp(client(1000, 0, TH_SYN)), 0.0);
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 5353, 53, 10), 0.05);
    c.add(build_tcp(server(5000, 1001, TH_SYN | TH_ACK)), 0.1);
    c.add(build_tcp(client(1001, 5001, TH_ACK | TH_PUSH, 100)), 0.2);
    std::string path = c.write();
    g_capfile.filter = "tcp and src host 10.0.0.2";
    std::string out = read_clean(path);
    g_capfile.filter.clear();
    EXPECT_EQ(out, "");      /* the UDP datagram never reaches the decoder */
    ASSERT_EQ(g_trace.building.count, 1);
    EXPECT_EQ(sport_of(g_trace.building.rec[0]), 80);
}

TEST_F(BinreadTest, PcapngCopyOfTheSampleLoadsToTheSameTrace)
{
    std::string dir = WIREPAINT_SOURCE_DIR;
    read_clean(dir + "/examples/sender.pcap");
    std::vector<seg_record> plain(g_trace.building.rec,
                                  g_trace.building.rec + g_trace.building.count);
    std::vector<std::vector<uint8_t>> plain_bytes;
    std::vector<int32_t> plain_caps;
    for (int32_t i = 0; i < g_trace.building.count; i++) {
        const uint8_t *b = record_bytes(&g_trace.building, i);
        plain_caps.push_back(record_cap_bytes(&g_trace.building, i));
        plain_bytes.emplace_back(b, b + plain_caps.back());
    }
    int copy_len = g_trace.copy_len;
    read_clean(dir + "/examples/sender.pcapng");
    ASSERT_EQ(g_trace.building.count, (int32_t)plain.size());
    ASSERT_GT(plain.size(), 400u);
    EXPECT_EQ(g_trace.copy_len, copy_len);
    for (size_t i = 0; i < plain.size(); i++) {
        const seg_record &a = plain[i];
        const seg_record &b = g_trace.building.rec[i];
        EXPECT_EQ(a.time, b.time) << i;
        EXPECT_EQ(seq_of(a), seq_of(b)) << i;
        EXPECT_EQ(ack_of(a), ack_of(b)) << i;
        EXPECT_EQ(a.paylen, b.paylen) << i;
        EXPECT_EQ(a.tcp_flags, b.tcp_flags) << i;
        EXPECT_EQ(plain_caps[i], record_cap_bytes(&g_trace.building, (int32_t)i)) << i;
        /* Only the packet-data bytes are the record's: past them a copy
         * holds zero fill, a packet read in the mapped file its next bytes. */
        EXPECT_EQ(std::memcmp(plain_bytes[i].data(), record_bytes(&g_trace.building, (int32_t)i),
                              plain_bytes[i].size()), 0) << i;
    }
}
