/*
 * detail_test.cpp --
 *
 *	The detail popup text of a line: summary, blank line and header dump
 *	in lines of 16 bytes; the may-be-short test that gates the checksum
 *	verdict; and copies that end early, which are dumped only as far as
 *	they go. Every copy is a heap block of exactly the copy length, so
 *	the sanitizer build catches a read past it.
 */

#include "text/detail.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "text/text_state.h"
#include "text_fixture.h"

namespace {

using pcapgen::bytes;
using pcapgen::tcp_seg;
using text_fixture::install;
using text_fixture::install_one;

/* SYN-ACK 10.0.0.2:80 > 10.0.0.1:40000, seq 5000, ack 1001, window 65535,
 * IP identification 0x1234, DF, TTL 64, IP header checksum 0. */
const bytes syn_ack = {
    0x45, 0x00, 0x00, 0x28, 0x12, 0x34, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,
    0x0a, 0x00, 0x00, 0x02, 0x0a, 0x00, 0x00, 0x01,
    0x00, 0x50, 0x9c, 0x40, 0x00, 0x00, 0x13, 0x88, 0x00, 0x00, 0x03, 0xe9,
    0x50, 0x12, 0xff, 0xff, 0xe7, 0xce, 0x00, 0x00,
};

const char syn_ack_detail[] =
    "10.0.0.2.80 > 10.0.0.1.40000:  S , cksum 0xe7ce (correct), 5000:5000(0) ack 1001 win 65535\n"
    "\n      0x0000:  4500 0028 1234 4000 4006 0000 0a00 0002 "
    "\n      0x0010:  0a00 0001 0050 9c40 0000 1388 0000 03e9 "
    "\n      0x0020:  5012 ffff e7ce 0000 ";

/* A segment of the default connection 10.0.0.1:40000 > 10.0.0.2:80 with
 * a zero TCP checksum, so its dump is known byte for byte. */
tcp_seg zero_cksum_seg()
{
    tcp_seg s;
    s.tcp_cksum = pcapgen::CKSUM_ZERO;
    return s;
}

/* The same between 2001:db8::1 and 2001:db8::2. */
tcp_seg zero_cksum_seg6()
{
    tcp_seg s = zero_cksum_seg();
    s.v6 = true;
    s.src = "2001:db8::1";
    s.dst = "2001:db8::2";
    return s;
}

/* The dump part of a detail text: everything after its first newline. */
std::string dump_of(const std::string &text)
{
    size_t nl = text.find('\n');
    return nl == std::string::npos ? std::string() : text.substr(nl + 1);
}

std::string summary_of(const std::string &text)
{
    return text.substr(0, text.find('\n'));
}

class DetailTest : public text_fixture::TextTest {};

TEST_F(DetailTest, FullTextOfWorkedExample)
{
    install_one(syn_ack);
    EXPECT_EQ(std::string(segment_detail_text(0, 0)), syn_ack_detail);
}

TEST_F(DetailTest, SummaryOnlyHasNoNewline)
{
    install_one(syn_ack);
    std::string t = segment_detail_text(0, 1);
    EXPECT_EQ(t, "10.0.0.2.80 > 10.0.0.1.40000:  S , cksum 0xe7ce (correct), 5000:5000(0) ack 1001 win 65535");
    EXPECT_EQ(t.find('\n'), std::string::npos);
}

TEST_F(DetailTest, DumpOfFortyBytesHasTwoFullLinesAndOneOfEight)
{
    install_one(pcapgen::build_tcp(zero_cksum_seg()));
    EXPECT_EQ(dump_of(segment_detail_text(0, 0)),
              "\n      0x0000:  4500 0028 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  5010 ffff 0000 0000 ");
}

TEST_F(DetailTest, DumpOfThirtyTwoBytesHasExactlyTwoLines)
{
    tcp_seg s = zero_cksum_seg();
    s.data_offset = 3;
    install_one(pcapgen::build_tcp(s));
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1.40000 > 10.0.0.2.80:  tcp 8 [bad hdr length 12 - too short, < 20]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 0028 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 ");
}

TEST_F(DetailTest, DumpOfFiftyTwoBytesCoversTcpOptions)
{
    tcp_seg s = zero_cksum_seg();
    s.tcp_options = {2, 4, 5, 180, 4, 2, 1, 3, 3, 7, 1, 1};
    install_one(pcapgen::build_tcp(s));
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t),
              "10.0.0.1.40000 > 10.0.0.2.80:  . , cksum 0x0000 (incorrect (-> 0xbe70), 0:0(0) ack 0 win 65535"
              "    < mss 1460 , sackOK , nop , wscale 7 , nop , nop > ");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 0034 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  8010 ffff 0000 0000 0204 05b4 0402 0103 "
              "\n      0x0030:  0307 0101 ");
}

TEST_F(DetailTest, DumpOfSixtyBytesCoversIpv6Header)
{
    tcp_seg s = zero_cksum_seg6();
    install_one(pcapgen::build_tcp(s), 1);
    EXPECT_EQ(dump_of(segment_detail_text(0, 0)),
              "\n      0x0000:  6000 0000 0014 0640 2001 0db8 0000 0000 "
              "\n      0x0010:  0000 0000 0000 0001 2001 0db8 0000 0000 "
              "\n      0x0020:  0000 0000 0000 0002 9c40 0050 0000 0000 "
              "\n      0x0030:  0000 0000 5010 ffff 0000 0000 ");
}

TEST_F(DetailTest, Ipv6ExtensionHeaderIsSteppedOver)
{
    tcp_seg s = zero_cksum_seg6();
    s.ext = {pcapgen::ext_header{60, 0}};
    s.paylen = 10;
    install_one(pcapgen::build_tcp(s), 1);
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "40000 > 80:  . , cksum 0x0000 (incorrect (-> 0x5d6b), 0:10(10) ack 0 win 65535");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  6000 0000 0026 3c40 2001 0db8 0000 0000 "
              "\n      0x0010:  0000 0000 0000 0001 2001 0db8 0000 0000 "
              "\n      0x0020:  0000 0000 0000 0002 0600 0104 0000 0000 "
              "\n      0x0030:  9c40 0050 0000 0000 0000 0000 5010 ffff "
              "\n      0x0040:  0000 0000 ");
}

TEST_F(DetailTest, PacketAsLongAsCopyGetsNoChecksumOneByteShorterDoes)
{
    bytes p = pcapgen::build_tcp(tcp_seg{});
    install({p}, (int)p.size(), 0);
    EXPECT_EQ(std::string(segment_detail_text(0, 1)), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 win 65535");
    install({p}, (int)p.size() + 1, 0);
    text_state_clear();
    EXPECT_NE(std::string(segment_detail_text(0, 1)).find(", cksum 0x"), std::string::npos);
    EXPECT_EQ(copy_may_be_short(40, 40, 40), 1);
    EXPECT_EQ(copy_may_be_short(40, 41, 40), 0);
}

TEST_F(DetailTest, WholeIpHeaderCountsTowardsCopyLength)
{
    tcp_seg s;
    s.ip_options = {0x94, 0x04, 0x00, 0x00};
    s.paylen = 56;   /* total length 24 + 20 + 56 = 100 */
    bytes p = pcapgen::build_tcp(s);
    ASSERT_EQ(p.size(), 100u);
    install({p}, 98, 0);
    EXPECT_EQ(std::string(segment_detail_text(0, 1)), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:56(56) ack 0 win 65535");
}

TEST_F(DetailTest, FillBytesPastCapturedDataGetNoChecksumVerdict)
{
    /* Copy of 80 bytes, but the snapshot kept only 50 of the packet's 60:
     * summing the fill would call a sound checksum incorrect. */
    tcp_seg s;
    s.paylen = 20;
    bytes p = pcapgen::build_tcp(s);
    install({p}, 80, 0, 50);
    EXPECT_EQ(std::string(segment_detail_text(0, 1)), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:20(20) ack 0 win 65535");
    install({p}, 80, 0, 60);
    text_state_clear();
    EXPECT_NE(std::string(segment_detail_text(0, 1)).find(" (correct),"), std::string::npos);
}

TEST_F(DetailTest, TwoCallsShareOneBuffer)
{
    tcp_seg s;
    s.paylen = 5;
    install({syn_ack, pcapgen::build_tcp(s)}, 80, 0);
    const char *first = segment_detail_text(0, 0);
    std::string kept = first;
    const char *second = segment_detail_text(1, 1);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, g_text.detail);
    EXPECT_EQ(kept, syn_ack_detail);
    EXPECT_EQ(std::string(second).find('\n'), std::string::npos);
    EXPECT_NE(std::string(second), kept);
}

TEST_F(DetailTest, CopyEndingInsideTcpHeaderIsDumpedAsFarAsItGoes)
{
    bytes p = pcapgen::build_tcp(zero_cksum_seg());
    install({p}, 30, 0);
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1.40000 > 10.0.0.2.80:  [|tcp]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 0028 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 ");

    /* An odd number of bytes on the last line ends without a space. */
    install({p}, 35, 0);
    text_state_clear();
    t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 [|tcp]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 0028 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  5010 ff");
}

TEST_F(DetailTest, CopyEndingInsideTcpOptionsIsDumpedAsFarAsItGoes)
{
    tcp_seg s = zero_cksum_seg();
    s.tcp_options = {2, 4, 5, 180, 1, 1, 8, 10, 0, 0, 0, 1, 0, 0, 0, 2};
    install({pcapgen::build_tcp(s)}, 46, 0);
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 win 65535    < mss 1460 , nop , nop ,  [|tcp]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 0038 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  9010 ffff 0000 0000 0204 05b4 0101 ");
}

TEST_F(DetailTest, SnapshotEndingInsideOptionsOfALongerCopyShowsNoFill)
{
    /* The copy is 80 bytes, but the frame's snapshot kept only 46 bytes of
     * the packet: the options past them were never captured, and the zero
     * fill must not read as end-of-list options or dump as header bytes. */
    tcp_seg s = zero_cksum_seg();
    s.tcp_options = {2, 4, 5, 180, 1, 1, 8, 10, 0, 0, 0, 1, 0, 0, 0, 2};
    install({pcapgen::build_tcp(s)}, 80, 0, 46);
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1.40000 > 10.0.0.2.80:  .  0:0(0) ack 0 win 65535    < mss 1460 , nop , nop ,  [|tcp]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 0038 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  9010 ffff 0000 0000 0204 05b4 0101 ");
}

TEST_F(DetailTest, IpHeaderLengthPastTheCopyGivesShortForm)
{
    tcp_seg s = zero_cksum_seg();
    s.ihl = 15;
    bytes p = pcapgen::build_tcp(s);
    install({p}, 40, 0);
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1 > 10.0.0.2: [|tcp]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4f00 0028 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  5010 ffff 0000 0000 ");
}

TEST_F(DetailTest, CopiesTooShortForTheIpHeader)
{
    bytes p = pcapgen::build_tcp(zero_cksum_seg());
    install({p}, 3, 0);
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(t, " [|tcp]\n\n      0x0000:  4500 00");

    tcp_seg s = zero_cksum_seg6();
    s.ext = {pcapgen::ext_header{0, 1}};
    install({pcapgen::build_tcp(s)}, 41, 1);
    t = segment_detail_text(0, 1);
    EXPECT_EQ(t, "2001:db8::1 > 2001:db8::2: [|tcp]");
    install({pcapgen::build_tcp(s)}, 5, 1);
    EXPECT_EQ(std::string(segment_detail_text(0, 1)), " [|tcp]");
}

TEST_F(DetailTest, NegativeTcpLengthStopsAtLengthCheck)
{
    tcp_seg s = zero_cksum_seg();
    s.ip_len_adjust = -30;
    install_one(pcapgen::build_tcp(s));
    std::string t = segment_detail_text(0, 0);
    EXPECT_EQ(summary_of(t), "10.0.0.1.40000 > 10.0.0.2.80:  .  [bad hdr length 20 - too long, > -10]");
    EXPECT_EQ(dump_of(t),
              "\n      0x0000:  4500 000a 0000 4000 4006 0000 0a00 0001 "
              "\n      0x0010:  0a00 0002 9c40 0050 0000 0000 0000 0000 "
              "\n      0x0020:  5010 ffff 0000 0000 ");
}

TEST_F(DetailTest, LineOutsideTheListGivesEmptyText)
{
    EXPECT_STREQ(segment_detail_text(0, 0), "");
    install_one(syn_ack);
    EXPECT_STREQ(segment_detail_text(1, 0), "");
    EXPECT_STREQ(segment_detail_text(-1, 0), "");
}

TEST_F(DetailTest, LocateSegmentFindsTcpHeaderAndLength)
{
    bytes p4 = pcapgen::build_tcp(tcp_seg{});
    segment_bytes seg = locate_segment(p4.data(), (int32_t)p4.size(), 0);
    EXPECT_EQ(seg.tcp_off, 20);
    EXPECT_EQ(seg.tcp_len, 20);
    tcp_seg s;
    s.v6 = true;
    s.src = "::1";
    s.dst = "::2";
    s.ext = {pcapgen::ext_header{43, 2}};
    s.paylen = 7;
    bytes p6 = pcapgen::build_tcp(s);
    seg = locate_segment(p6.data(), (int32_t)p6.size(), 1);
    EXPECT_EQ(seg.tcp_off, 64);
    EXPECT_EQ(seg.tcp_len, 27);
}

}  // namespace
