/*
 * linktype_test.cpp --
 *
 *	The link layers and VLAN tags: frames written through libpcap's
 *	writer under each link type, read back through read_capture; the
 *	walk to the IP header on its own; and the real "tcpdump -i any"
 *	captures of examples/.
 */

#include "capture/linktype.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "support/readback.h"
#include "trace/binread.h"
#include "trace/flow.h"
#include "trace/trace.h"

using pcapgen::build_tcp;
using pcapgen::bytes;
using pcapgen::capture;
using pcapgen::tcp_seg;
using readback::read_clean;

namespace {

tcp_seg segment(bool from_client, uint32_t seq, uint32_t ack, uint8_t flags, bool v6 = false)
{
    tcp_seg s;
    s.v6 = v6;
    s.src = v6 ? "2001:db8::1" : "10.0.0.1";
    s.dst = v6 ? "2001:db8::2" : "10.0.0.2";
    if (!from_client) {
        std::swap(s.src, s.dst);
        s.sport = 80;
        s.dport = 40000;
    }
    s.seq = seq;
    s.ack = ack;
    s.flags = flags;
    return s;
}

class LinktypeTest : public testing::Test {
protected:
    void TearDown() override { trace_state_clear(); }
};

}  // namespace

TEST_F(LinktypeTest, EveryNewLinkTypeIsStrippedAndAShortFrameDropped)
{
    struct row {
        int linktype;
        int header;
        bool v6;
    };
    const row rows[] = {
        {pcapgen::LINK_LOOP, 4, false},      {pcapgen::LINK_LOOP, 4, true},
        {pcapgen::LINK_LINUX_SLL, 16, false}, {pcapgen::LINK_LINUX_SLL, 16, true},
        {pcapgen::LINK_LINUX_SLL2, 20, false}, {pcapgen::LINK_LINUX_SLL2, 20, true},
        {pcapgen::LINK_RAW, 0, false},       {pcapgen::LINK_RAW, 0, true},
        {pcapgen::LINK_RAW_OPENBSD, 0, false}, {pcapgen::LINK_IPV4, 0, false},
        {pcapgen::LINK_IPV6, 0, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "link type " << r.linktype << " v6 " << r.v6);
        capture c(r.linktype);
        c.add(build_tcp(segment(true, 1000, 0, TH_SYN, r.v6)), 0.0);
        if (r.header > 0)   /* ends inside its link header: no word, no record */
            c.add(build_tcp(segment(false, 5000, 1001, TH_SYN | TH_ACK, r.v6)), 0.1,
                  r.header - 1);
        c.add(build_tcp(segment(false, 5000, 1001, TH_SYN | TH_ACK, r.v6)), 0.2);
        EXPECT_EQ(read_clean(c.write()), "");
        EXPECT_EQ(g_trace.linktype, r.linktype);
        EXPECT_EQ(link_header_length(r.linktype), r.header);
        ASSERT_EQ(g_trace.building.count, 2);
        EXPECT_EQ(g_trace.ipv6, r.v6 ? 1 : 0);
        EXPECT_EQ(sport_of(g_trace.building.rec[1]), 80);
        EXPECT_EQ(ack_of(g_trace.building.rec[1]), 1);
        EXPECT_EQ(g_trace.copy_len, r.header + (r.v6 ? 60 : 40));
    }
}

TEST_F(LinktypeTest, VlanTagsAreSteppedOverUpToTwo)
{
    using pcapgen::tagged_header;
    struct row {
        int linktype;
        std::vector<uint16_t> tags;
        bool taken;
    };
    const row rows[] = {
        {pcapgen::LINK_EN10MB, {pcapgen::TPID_8021Q}, true},
        {pcapgen::LINK_EN10MB, {pcapgen::TPID_8021AD}, true},
        {pcapgen::LINK_EN10MB, {pcapgen::TPID_QINQ_OLD}, true},
        {pcapgen::LINK_EN10MB, {pcapgen::TPID_8021AD, pcapgen::TPID_8021Q}, true},
        {pcapgen::LINK_LINUX_SLL, {pcapgen::TPID_8021Q}, true},
        {pcapgen::LINK_LINUX_SLL2, {pcapgen::TPID_8021AD, pcapgen::TPID_8021Q}, true},
        /* A third tag is not stepped over: what follows the second is no
         * IP header, and the decoder drops it. */
        {pcapgen::LINK_EN10MB,
         {pcapgen::TPID_8021AD, pcapgen::TPID_8021Q, pcapgen::TPID_8021Q}, false},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "link type " << r.linktype << ", "
                                        << r.tags.size() << " tags, first " << r.tags[0]);
        for (bool v6 : {false, true}) {
            bytes head = tagged_header(r.linktype, r.tags, v6 ? 0x86dd : 0x0800);
            capture c(r.linktype);
            for (int i = 0; i < 2; i++) {
                bytes frame = head;
                bytes ip = build_tcp(segment(i == 0, i == 0 ? 1000 : 5000, i == 0 ? 0 : 1001,
                                             i == 0 ? TH_SYN : TH_SYN | TH_ACK, v6));
                frame.insert(frame.end(), ip.begin(), ip.end());
                c.add_frame(frame, 1, i * 1000);
            }
            /* Cut inside the second tag, or the first: dropped quietly. */
            bytes cut = head;
            c.add_frame(cut, 1, 3000, (int)link_header_length(r.linktype) + 2);
            std::string out = read_clean(c.write());
            if (!r.taken) {
                EXPECT_EQ(g_trace.building.count, 0);
                continue;
            }
            EXPECT_EQ(out, "");
            ASSERT_EQ(g_trace.building.count, 2);
            EXPECT_EQ(g_trace.ipv6, v6 ? 1 : 0);
            EXPECT_EQ(ack_of(g_trace.building.rec[1]), 1);
            EXPECT_EQ(sport_of(g_trace.building.rec[0]), 40000);
        }
    }
}

TEST_F(LinktypeTest, CookedFramesOfOtherProtocolsAreNotTcp)
{
    for (int lt : {pcapgen::LINK_LINUX_SLL, pcapgen::LINK_LINUX_SLL2}) {
        capture c(lt);
        bytes arp = pcapgen::tagged_header(lt, {}, 0x0806);
        arp.insert(arp.end(), 28, 0x45);     /* looks like IPv4 at a glance */
        c.add_frame(arp, 1, 0);
        bytes tagged_arp = pcapgen::tagged_header(lt, {pcapgen::TPID_8021Q}, 0x0806);
        tagged_arp.insert(tagged_arp.end(), 28, 0x45);
        c.add_frame(tagged_arp, 1, 1);
        c.add(build_tcp(segment(true, 1, 0, TH_SYN)), 1.0);
        EXPECT_EQ(read_clean(c.write()), "not tcp\nnot tcp\n") << lt;
        EXPECT_EQ(g_trace.building.count, 1) << lt;
    }
}

TEST_F(LinktypeTest, WalkToTheIpHeader)
{
    struct row {
        int linktype;
        bytes frame;
        link_verdict verdict;
        uint32_t offset;
    };
    bytes eth = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0x45};
    bytes eth_q = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0x00, 0, 5, 0x88, 0xa8,
                   0, 6, 0x81, 0x00, 0, 7, 0x45};
    /* Ethernet's type is not read beyond the tags: ARP goes to the decoder. */
    bytes eth_arp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x06, 0};
    bytes sll2_short_tag = {0x81, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const row rows[] = {
        {1, eth, LINK_IP, 14},
        {1, eth_q, LINK_IP, 22},              /* two tags stepped, the third left */
        {1, eth_arp, LINK_IP, 14},
        {1, bytes(13, 0), LINK_SHORT, 0},
        {276, sll2_short_tag, LINK_SHORT, 0}, /* the tag ends past the capture */
        {12, bytes(), LINK_IP, 0},
        {127, bytes(40, 0), LINK_UNKNOWN, 0},
        {10, bytes(40, 0), LINK_UNKNOWN, 0},
    };
    for (const row &r : rows) {
        uint32_t off = 999;
        EXPECT_EQ(link_ip_offset(r.linktype, r.frame.data(), (uint32_t)r.frame.size(), &off),
                  r.verdict)
            << r.linktype;
        if (r.verdict == LINK_IP) {
            EXPECT_EQ(off, r.offset) << r.linktype;
        }
    }
}

TEST_F(LinktypeTest, RealTcpdumpAnyCapturesLoadTheirFirstConnection)
{
    const struct {
        const char *file;
        int linktype;
        int header;
    } files[] = {{"/examples/loopback-any.pcap", 276, 20},
                 {"/examples/loopback-any-sll.pcap", 113, 16}};
    for (const auto &f : files) {
        std::string path = std::string(WIREPAINT_SOURCE_DIR) + f.file;
        std::string out = read_clean(path);
        EXPECT_EQ(g_trace.linktype, f.linktype);
        /* Handshake, 20000 bytes, "ok 20000\n" and both FINs: 10 of the 32
         * packets; the other two connections are reported, not drawn. */
        ASSERT_EQ(g_trace.building.count, 10) << f.file;
        EXPECT_EQ(g_trace.building.rec[0].tcp_flags, TH_SYN);
        EXPECT_EQ(dport_of(g_trace.building.rec[0]), 45123);
        int64_t sent = 0;
        for (int i = 0; i < g_trace.building.count; i++) {
            if (dport_of(g_trace.building.rec[i]) == 45123)
                sent += g_trace.building.rec[i].paylen;
        }
        EXPECT_EQ(sent, 20000);
        EXPECT_EQ(g_trace.copy_len, f.header + 60);    /* the SYN: 20 + 40 with options */
        EXPECT_EQ(out.find("not tcp"), std::string::npos);
    }
}
