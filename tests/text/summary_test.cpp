/*
 * summary_test.cpp --
 *
 *	The segment summary line: the texts of one connection's segments as
 *	a packet printer shows them, the checksum verdict over the IPv4 and
 *	IPv6 pseudo-headers, the header length messages, and the rule that no
 *	read leaves the stored copy, which ends a cut text with " [|tcp]".
 */

#include "text/summary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "text/text_state.h"
#include "text_fixture.h"

namespace {

using pcapgen::bytes;
using pcapgen::tcp_seg;

/* SYN-ACK 10.0.0.2:80 > 10.0.0.1:40000, seq 5000, ack 1001, window 65535,
 * IP identification 0x1234, DF, TTL 64, IP header checksum 0. */
const bytes syn_ack = {
    0x45, 0x00, 0x00, 0x28, 0x12, 0x34, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,
    0x0a, 0x00, 0x00, 0x02, 0x0a, 0x00, 0x00, 0x01,
    0x00, 0x50, 0x9c, 0x40, 0x00, 0x00, 0x13, 0x88, 0x00, 0x00, 0x03, 0xe9,
    0x50, 0x12, 0xff, 0xff, 0xe7, 0xce, 0x00, 0x00,
};

/* The answering ACK 10.0.0.1:40000 > 10.0.0.2:80, seq 1001, ack 5001. */
const bytes answer_ack = {
    0x45, 0x00, 0x00, 0x28, 0x12, 0x35, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,
    0x0a, 0x00, 0x00, 0x01, 0x0a, 0x00, 0x00, 0x02,
    0x9c, 0x40, 0x00, 0x50, 0x00, 0x00, 0x03, 0xe9, 0x00, 0x00, 0x13, 0x89,
    0x50, 0x10, 0xff, 0xff, 0xe7, 0xcf, 0x00, 0x00,
};

/* 100 bytes of 'x' with PSH and ACK, seq 1001, ack 5001. */
bytes data_psh()
{
    bytes p = {
        0x45, 0x00, 0x00, 0x8c, 0x12, 0x36, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,
        0x0a, 0x00, 0x00, 0x01, 0x0a, 0x00, 0x00, 0x02,
        0x9c, 0x40, 0x00, 0x50, 0x00, 0x00, 0x03, 0xe9, 0x00, 0x00, 0x13, 0x89,
        0x50, 0x18, 0xff, 0xff, 0x5f, 0xdc, 0x00, 0x00,
    };
    p.insert(p.end(), 100, 'x');
    return p;
}

/* RST with ACK and 40 bytes of 'y', seq 1101, ack 5001, window 0. */
bytes reset_with_data()
{
    bytes p = {
        0x45, 0x00, 0x00, 0x50, 0x12, 0x37, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,
        0x0a, 0x00, 0x00, 0x01, 0x0a, 0x00, 0x00, 0x02,
        0x9c, 0x40, 0x00, 0x50, 0x00, 0x00, 0x04, 0x4d, 0x00, 0x00, 0x13, 0x89,
        0x50, 0x14, 0x00, 0x00, 0x69, 0xc2, 0x00, 0x00,
    };
    p.insert(p.end(), 40, 'y');
    return p;
}

class SummaryTest : public text_fixture::TextTest {};

/*
 * The summary of `pkt` (IP header first). The copy is a heap block of
 * exactly `copy_len` bytes (the packet's size by default) so that the
 * sanitizer build catches any read past it. The TCP header and length
 * come from the IP header, as the detail text finds them.
 */
std::string summarize(const bytes &pkt, int copy_may_be_short = 0, int copy_len = -1)
{
    size_t n = copy_len >= 0 ? (size_t)copy_len : pkt.size();
    std::unique_ptr<uint8_t[]> copy(new uint8_t[n > 0 ? n : 1]);
    for (size_t i = 0; i < n; i++)
        copy[i] = i < pkt.size() ? pkt[i] : 0;
    segment_bytes seg;
    seg.ip = copy.get();
    seg.copy_len = (int32_t)n;
    if ((pkt[0] >> 4) == 6) {
        int32_t h = 40;
        if (pkt[6] != 6)
            h += (pkt[41] + 1) * 8;
        seg.tcp_off = h;
        seg.tcp_len = ((pkt[4] << 8) | pkt[5]) - (h - 40);
    } else {
        seg.tcp_off = (pkt[0] & 0x0f) * 4;
        seg.tcp_len = ((pkt[2] << 8) | pkt[3]) - seg.tcp_off;
    }
    char text[1024] = "";
    format_segment_summary(seg, copy_may_be_short, text, sizeof text);
    return text;
}

TEST_F(SummaryTest, WorkedExamplesOfOneConnectionComeOutExactly)
{
    EXPECT_EQ(summarize(syn_ack),
              "10.0.0.2.80 > 10.0.0.1.40000:  S , cksum 0xe7ce (correct), 5000:5000(0) ack 1001 win 65535");
    text_state_clear();
    EXPECT_EQ(summarize(syn_ack, 1),
              "10.0.0.2.80 > 10.0.0.1.40000:  S  5000:5000(0) ack 1001 win 65535");
    EXPECT_EQ(summarize(answer_ack),
              "10.0.0.1.40000 > 10.0.0.2.80:  . , cksum 0xe7cf (correct), 1:1(0) ack 1 win 65535");
    bytes flipped = answer_ack;
    flipped[36] = 0xe6;
    EXPECT_EQ(summarize(flipped),
              "10.0.0.1.40000 > 10.0.0.2.80:  . , cksum 0xe6cf (incorrect (-> 0xe7cf), 1:1(0) ack 1 win 65535");
    EXPECT_EQ(summarize(data_psh()),
              "10.0.0.1.40000 > 10.0.0.2.80:  P , cksum 0x5fdc (correct), 1:101(100) ack 1 win 65535");
    EXPECT_EQ(summarize(reset_with_data()),
              "10.0.0.1.40000 > 10.0.0.2.80:  R , cksum 0x69c2 (correct), 101:141(40) ack 1 win 0 [RST +     ] ");
}

TEST_F(SummaryTest, SummaryIsAppendedAfterTextAlreadyThere)
{
    char text[256] = "head:";
    std::unique_ptr<uint8_t[]> copy(new uint8_t[syn_ack.size()]);
    std::copy(syn_ack.begin(), syn_ack.end(), copy.get());
    segment_bytes seg{copy.get(), (int32_t)syn_ack.size(), 20, 20};
    format_segment_summary(seg, 1, text, sizeof text);
    EXPECT_EQ(std::string(text), "head:10.0.0.2.80 > 10.0.0.1.40000:  S  5000:5000(0) ack 1001 win 65535");
}

TEST_F(SummaryTest, PureSynShowsNumbersAsCarriedAndLeavesTableAlone)
{
    tcp_seg s;
    s.flags = TH_SYN;
    s.seq = 1000;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  S  1000:1000(0) win 65535");
    for (int b = 0; b < RELSEQ_BUCKETS; b++)
        EXPECT_EQ(g_text.relseq[b].next, nullptr);
}

TEST_F(SummaryTest, FlagLettersComeInFixedOrder)
{
    tcp_seg s;
    s.flags = TH_SYN | TH_FIN;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1), "10.0.0.1.40000 > 10.0.0.2.80:  S  F  0:0(0) win 65535");
    s.flags = 0xff;
    s.urp = 7;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  S  F  R  P  W  E  0:0(0) ack 0 win 65535 urg 7");
    s.flags = TH_ACK | TH_URG;
    s.urp = 65535;
    text_state_clear();
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 win 65535 urg 65535");
}

TEST_F(SummaryTest, DestinationPortZeroGivesShortForm)
{
    tcp_seg s;
    s.dport = 0;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s)), "10.0.0.1 > 10.0.0.2: [|tcp]");
    s.v6 = true;
    s.src = "2001:db8::1";
    s.dst = "2001:db8::2";
    EXPECT_EQ(summarize(pcapgen::build_tcp(s)), "2001:db8::1 > 2001:db8::2: [|tcp]");
    for (int b = 0; b < RELSEQ_BUCKETS; b++)
        EXPECT_EQ(g_text.relseq[b].next, nullptr);
}

TEST_F(SummaryTest, HeaderLengthBelowTwentyIsTooShort)
{
    tcp_seg s;
    s.data_offset = 4;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s)),
              "10.0.0.1.40000 > 10.0.0.2.80:  tcp 4 [bad hdr length 16 - too short, < 20]");
}

TEST_F(SummaryTest, HeaderLongerThanSegmentIsTooLong)
{
    tcp_seg s;
    s.data_offset = 15;
    s.tcp_options = bytes(20, 1);   /* TCP length 40 */
    EXPECT_EQ(summarize(pcapgen::build_tcp(s)),
              "10.0.0.1.40000 > 10.0.0.2.80:  .  [bad hdr length 60 - too long, > 40]");
}

TEST_F(SummaryTest, SequenceRangeWrapsModuloTwoToThe32)
{
    tcp_seg s;
    s.flags = 0;
    s.seq = 4294967290u;
    s.paylen = 10;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  .  4294967290:4(10) win 65535");
}

TEST_F(SummaryTest, ResetNoteDependsOnPayloadLength)
{
    tcp_seg s;
    s.flags = TH_RST;
    s.win = 0;
    s.paylen = 30;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  R  0:30(30) win 0 [RST    ] ");
    s.paylen = 31;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  R  0:31(31) win 0 [RST +     ] ");
    s.paylen = 0;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1), "10.0.0.1.40000 > 10.0.0.2.80:  R  0:0(0) win 0");
}

TEST_F(SummaryTest, OptionsFollowWindowAndSackIsRelativeToSackBase)
{
    summarize(syn_ack);   /* fixes the bases: second base 1000 */
    tcp_seg s;
    s.src = "10.0.0.2";
    s.dst = "10.0.0.1";
    s.sport = 80;
    s.dport = 40000;
    s.seq = 5001;
    s.ack = 1001;
    s.tcp_options = {1, 1, 5, 10, 0, 0, 0x04, 0xb1, 0, 0, 0x05, 0x15};
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.2.80 > 10.0.0.1.40000:  .  1:1(0) ack 1 win 65535    < nop , nop , sack 1 {201:301} > ");
}

TEST_F(SummaryTest, SackWithoutAckShowsEdgesAsCarried)
{
    tcp_seg s;
    s.flags = 0;
    s.tcp_options = {1, 1, 5, 10, 0, 0, 0x04, 0xb1, 0, 0, 0x05, 0x15};
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1),
              "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) win 65535    < nop , nop , sack 1 {1201:1301} > ");
}

TEST_F(SummaryTest, MalformedOptionEndsSummaryWithoutResetNote)
{
    tcp_seg s;
    s.flags = TH_RST;
    s.tcp_options = {1, 1, 8, 10, 0, 0, 0, 1};
    s.paylen = 40;
    testing::internal::CaptureStdout();
    std::string text = summarize(pcapgen::build_tcp(s), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[bad opt]");
    EXPECT_EQ(text, "10.0.0.1.40000 > 10.0.0.2.80:  R  0:40(40) win 65535    < nop , nop ,  > ");
}

TEST_F(SummaryTest, ChecksumOmittedWhenCopyMayBeShortOrIpv6PayloadLengthZero)
{
    tcp_seg s;
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 win 65535");

    s.v6 = true;
    s.src = "2001:db8::1";
    s.dst = "2001:db8::2";
    bytes p = pcapgen::build_tcp(s);
    char want[160];
    std::snprintf(want, sizeof want,
                  "2001:db8::1.40000 > 2001:db8::2.80:  . , cksum 0x%02x%02x (correct), 0:0(0) ack 0 win 65535",
                  p[56], p[57]);
    text_state_clear();
    EXPECT_EQ(summarize(p), want);

    /* A payload length field of 0 (as a jumbogram carries it): no verdict. */
    p[4] = 0;
    p[5] = 0;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[p.size()]);
    std::copy(p.begin(), p.end(), copy.get());
    segment_bytes seg{copy.get(), (int32_t)p.size(), 40, 20};
    char text[256] = "";
    text_state_clear();
    format_segment_summary(seg, 0, text, sizeof text);
    EXPECT_EQ(std::string(text), "2001:db8::1.40000 > 2001:db8::2.80:  .  0:0(0) ack 0 win 65535");
}

TEST_F(SummaryTest, Ipv6ChecksumVerdictOverPseudoHeader)
{
    tcp_seg s;
    s.v6 = true;
    s.src = "2001:db8::1";
    s.dst = "2001:db8::2";
    s.paylen = 33;   /* odd: the last byte pairs with a zero byte */
    bytes p = pcapgen::build_tcp(s);
    uint16_t field = (uint16_t)((p[56] << 8) | p[57]);
    char want[128];
    std::snprintf(want, sizeof want, ", cksum 0x%04x (correct), 0:33(33)", field);
    EXPECT_NE(summarize(p).find(want), std::string::npos) << summarize(p);
    s.tcp_cksum = pcapgen::CKSUM_WRONG;
    bytes bad = pcapgen::build_tcp(s);
    std::snprintf(want, sizeof want, ", cksum 0x%04x (incorrect (-> 0x%04x), 0:33(33)",
                  field ^ 0x1111, field);
    EXPECT_NE(summarize(bad).find(want), std::string::npos) << summarize(bad);
}

TEST_F(SummaryTest, Ipv4OptionsChecksumUsesHeaderDestination)
{
    tcp_seg s;
    s.ip_options = {0x94, 0x04, 0x00, 0x00};   /* router alert: header length 24 */
    s.paylen = 5;
    bytes p = pcapgen::build_tcp(s);
    ASSERT_EQ(p[0], 0x46);
    uint16_t field = (uint16_t)((p[24 + 16] << 8) | p[24 + 17]);
    char want[160];
    std::snprintf(want, sizeof want,
                  "10.0.0.1.40000 > 10.0.0.2.80:  . , cksum 0x%04x (correct), 0:5(5) ack 0 win 65535",
                  field);
    EXPECT_EQ(summarize(p), want);
    EXPECT_EQ(tcp_checksum_sum(p.data(), false, p.data() + 24, 25), 0xffff);
}

TEST_F(SummaryTest, PortsAloneBehindIpv6ExtensionHeader)
{
    tcp_seg s;
    s.v6 = true;
    s.src = "2001:db8::1";
    s.dst = "2001:db8::2";
    s.ext = {pcapgen::ext_header{}};
    EXPECT_EQ(summarize(pcapgen::build_tcp(s), 1), "40000 > 80:  .  0:0(0) ack 0 win 65535");
}

TEST_F(SummaryTest, CopyEndingInsideTcpHeaderEndsTextWithTruncationMark)
{
    tcp_seg s;
    s.flags = TH_ACK | TH_URG;
    s.urp = 9;
    s.tcp_options = {2, 4, 5, 180};
    bytes p = pcapgen::build_tcp(s);   /* 20 + 24 bytes */
    auto cut = [&](int copy_len) {
        text_state_clear();   /* every cut starts as the connection's first segment */
        return summarize(p, 1, copy_len);
    };
    const std::string ends = "10.0.0.1.40000 > 10.0.0.2.80: ";
    EXPECT_EQ(cut(0), " [|tcp]");
    EXPECT_EQ(cut(19), " [|tcp]");
    EXPECT_EQ(cut(20), "10.0.0.1 > 10.0.0.2: [|tcp]");
    EXPECT_EQ(cut(23), "10.0.0.1 > 10.0.0.2: [|tcp]");
    EXPECT_EQ(cut(24), ends + " [|tcp]");
    EXPECT_EQ(cut(33), ends + " [|tcp]");
    EXPECT_EQ(cut(34), ends + " .  0:0(0) ack 0 [|tcp]");
    EXPECT_EQ(cut(35), ends + " .  0:0(0) ack 0 [|tcp]");
    EXPECT_EQ(cut(36), ends + " .  0:0(0) ack 0 win 65535 [|tcp]");
    EXPECT_EQ(cut(39), ends + " .  0:0(0) ack 0 win 65535 [|tcp]");
    EXPECT_EQ(cut(40), ends + " .  0:0(0) ack 0 win 65535 urg 9    <  [|tcp]");
    EXPECT_EQ(cut(41), ends + " .  0:0(0) ack 0 win 65535 urg 9    <  [|tcp]");
    EXPECT_EQ(cut(42), ends + " .  0:0(0) ack 0 win 65535 urg 9    < mss [|tcp]");
    EXPECT_EQ(cut(43), ends + " .  0:0(0) ack 0 win 65535 urg 9    < mss [|tcp]");
    EXPECT_EQ(cut(44), ends + " .  0:0(0) ack 0 win 65535 urg 9    < mss 1460 > ");
}

TEST_F(SummaryTest, CutFixedHeaderWithoutUrgentOrOptionsNeedsNoMark)
{
    /* Checksum and urgent pointer are not shown for this segment, so a
     * copy ending before them leaves nothing out. */
    bytes p = pcapgen::build_tcp(tcp_seg{});
    EXPECT_EQ(summarize(p, 1, 36), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 win 65535");
}

TEST_F(SummaryTest, CheckedChecksumNeverSumsPastTheCopy)
{
    /* The caller claims the copy holds the whole packet, but it ends 10
     * bytes early: the verdict is left out rather than read past it. */
    tcp_seg s;
    s.paylen = 20;
    bytes p = pcapgen::build_tcp(s);
    EXPECT_EQ(summarize(p, 0, (int)p.size() - 10),
              "10.0.0.1.40000 > 10.0.0.2.80:  .  0:20(20) ack 0 win 65535");
}

TEST_F(SummaryTest, NegativeTcpLengthIsTooLongAndReadsNothingMore)
{
    tcp_seg s;
    s.ip_len_adjust = -30;   /* total length 10 below the 20-byte IP header */
    bytes p = pcapgen::build_tcp(s);
    EXPECT_EQ(summarize(p), "10.0.0.1.40000 > 10.0.0.2.80:  .  [bad hdr length 20 - too long, > -10]");
}

TEST_F(SummaryTest, TextIsCutAtTheBufferEnd)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[syn_ack.size()]);
    std::copy(syn_ack.begin(), syn_ack.end(), copy.get());
    segment_bytes seg{copy.get(), (int32_t)syn_ack.size(), 20, 20};
    char text[16] = "";
    format_segment_summary(seg, 0, text, sizeof text);
    EXPECT_EQ(std::string(text), "10.0.0.2.80 > 1");
}

}  // namespace
