/*
 * line_text_test.cpp --
 *
 *	The text pass of the line-list build: labels from the records, and
 *	the priming run of every segment through the summary in index order,
 *	which fixes the relative sequence bases before any click.
 */

#include "text/line_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "support/pcapgen.h"
#include "text/detail.h"
#include "text/text_state.h"
#include "text_fixture.h"

namespace {

using pcapgen::bytes;
using pcapgen::tcp_seg;
using text_fixture::install;

class LineTextTest : public text_fixture::TextTest {};

/* The summary line of a detail text: what comes before its first newline. */
std::string summary_line(const std::string &text)
{
    return text.substr(0, text.find('\n'));
}

/* The TCP checksum field of IPv4 packet `p`, whose TCP header is at `tcp`, as
 * four hexadecimal digits. */
std::string cksum_hex(const bytes &p, size_t tcp)
{
    char hex[5];
    std::snprintf(hex, sizeof hex, "%02x%02x", p[tcp + 16], p[tcp + 17]);
    return hex;
}

TEST_F(LineTextTest, LabelOfDataSegment)
{
    install({pcapgen::build_tcp(tcp_seg{})}, 80, 0);
    seg_record &r = g_trace.main.rec[0];
    r.seq = 1;
    r.paylen = 100;
    r.ack = 1;
    r.win = 65535;
    annotate_lines();
    EXPECT_STREQ(g_trace.lines[0].label, " 1:101(100) ack 1 win 65535 ");
}

TEST_F(LineTextTest, LabelKeepsSixtyFourBitAndNegativeValues)
{
    seg_record r = {};
    r.seq = 4294967295LL;
    r.paylen = 10;
    r.ack = -4294967295LL;
    r.win = 0;
    char label[256];
    format_line_label(r, label, sizeof label);
    EXPECT_STREQ(label, " 4294967295:4294967305(10) ack -4294967295 win 0 ");
    r.seq = 5;
    r.paylen = -8;
    r.ack = 0;
    r.win = 512;
    format_line_label(r, label, sizeof label);
    EXPECT_STREQ(label, " 5:-3(-8) ack 0 win 512 ");
}

/* A capture that starts in mid-connection: 100 bytes from 10.0.0.1:40000
 * with ACK, then the answer from 10.0.0.2:80 acknowledging them. */
std::vector<bytes> mid_connection_pair()
{
    tcp_seg s;
    s.flags = TH_ACK | TH_PUSH;
    s.seq = 70000;
    s.ack = 90000;
    s.paylen = 100;
    tcp_seg back;
    back.src = "10.0.0.2";
    back.dst = "10.0.0.1";
    back.sport = 80;
    back.dport = 40000;
    back.seq = 90000;
    back.ack = 70100;
    return {pcapgen::build_tcp(s), pcapgen::build_tcp(back)};
}

TEST_F(LineTextTest, PrimingFixesBasesBeforeAnyClick)
{
    /* A capture that starts in mid-connection: the first segment with ACK
     * carries 100 bytes. Once primed, a click shows it counted from itself. */
    install(mid_connection_pair(), 200, 0);
    annotate_lines();
    std::string first = segment_detail_text(0, 1);
    EXPECT_NE(first.find(" 0:100(100) ack 1 win 65535"), std::string::npos) << first;
    std::string second = segment_detail_text(1, 1);
    EXPECT_NE(second.find(" 1:1(0) ack 100 win 65535"), std::string::npos) << second;
}

TEST_F(LineTextTest, OpeningTheSameCaptureAgainGivesTheSameSummaries)
{
    /* The table outlives a reload: the second priming pass meets the
     * entry the first one left, and every click reads as before. */
    const std::vector<bytes> pkts = mid_connection_pair();
    install(pkts, 200, 0);
    annotate_lines();
    const std::string first = segment_detail_text(0, 0);
    const std::string second = segment_detail_text(1, 0);
    EXPECT_EQ(summary_line(first), "10.0.0.1.40000 > 10.0.0.2.80:  P , cksum 0x" +
                                       cksum_hex(pkts[0], 20) + " (correct), 0:100(100) ack 1 win 65535");
    EXPECT_EQ(summary_line(second), "10.0.0.2.80 > 10.0.0.1.40000:  . , cksum 0x" +
                                        cksum_hex(pkts[1], 20) + " (correct), 1:1(0) ack 100 win 65535");

    install(pkts, 200, 0);   /* the reset of a reopen keeps the text state */
    annotate_lines();
    EXPECT_EQ(std::string(segment_detail_text(0, 0)), first);
    EXPECT_EQ(std::string(segment_detail_text(1, 0)), second);
    EXPECT_EQ(g_text.relseq_extra, 1);
}

TEST_F(LineTextTest, PrimingWritesBadOptToStandardOutput)
{
    tcp_seg s;
    s.tcp_options = {1, 1, 8, 10, 0, 0, 0, 1};
    install({pcapgen::build_tcp(s), pcapgen::build_tcp(tcp_seg{}), pcapgen::build_tcp(s)}, 80, 0);
    testing::internal::CaptureStdout();
    annotate_lines();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[bad opt][bad opt]");
}

TEST_F(LineTextTest, PrimingVisitsEveryLineInIndexOrder)
{
    /* Two SYN-ACKs: which one fixes the bases last depends on the order. */
    tcp_seg a;
    a.src = "10.0.0.2";
    a.dst = "10.0.0.1";
    a.sport = 80;
    a.dport = 40000;
    a.flags = TH_SYN | TH_ACK;
    a.seq = 5000;
    a.ack = 1001;
    tcp_seg b = a;
    b.seq = 8000;
    b.ack = 3001;
    install({pcapgen::build_tcp(a), pcapgen::build_tcp(b)}, 80, 0);
    g_trace.main.rec[0].win = 65535;
    g_trace.main.rec[1].seq = 3000;
    g_trace.main.rec[1].ack = 2000;
    g_trace.main.rec[1].win = 100;
    annotate_lines();
    const relseq_slot &bucket = g_text.relseq[(80u * 65536u + 40000u) % RELSEQ_BUCKETS];
    EXPECT_EQ(bucket.first_base, 8000u);
    EXPECT_EQ(bucket.second_base, 3000u);
    EXPECT_STREQ(g_trace.lines[0].label, " 0:0(0) ack 0 win 65535 ");
    EXPECT_STREQ(g_trace.lines[1].label, " 3000:3000(0) ack 2000 win 100 ");
    EXPECT_NE(std::string(g_text.detail).find("10.0.0.2.80 > 10.0.0.1.40000:  S "), std::string::npos);
}

TEST_F(LineTextTest, EmptyTraceOrNoLinesDoesNothing)
{
    annotate_lines();
    EXPECT_STREQ(g_text.detail, "");
    install({pcapgen::build_tcp(tcp_seg{})}, 80, 0);
    line_record *lines = g_trace.lines;
    g_trace.lines = nullptr;
    annotate_lines();
    g_trace.lines = lines;
    EXPECT_STREQ(g_text.detail, "");
    EXPECT_STREQ(g_trace.lines[0].label, "");
    EXPECT_EQ(g_text.pool.blocks, 0);
}

}  // namespace
