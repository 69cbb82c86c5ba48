/*
 * stats_test.cpp --
 *
 *	Statistics of the sample captures: packets, payload bytes and
 *	retransmissions per direction agree with what tcptrace -l reports for
 *	the same files (figures below), the sample summaries are right, and
 *	the text says whether one-way delays were measured or estimated.
 */

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "load/loader.h"
#include "report/stats.h"
#include "trace/trace.h"
#include "report/report_fixture.h"

namespace {


using Stats = reporttest::loaded;

TEST(StatsSummary, MinMedianMeanMax)
{
    struct {
        std::vector<double> in;
        sample_summary want;
    } rows[] = {
        {{}, {0, 0, 0, 0, 0}},
        {{2.0}, {1, 2.0, 2.0, 2.0, 2.0}},
        {{3.0, 1.0, 2.0}, {3, 1.0, 2.0, 2.0, 3.0}},
        {{4.0, 1.0, 3.0, 2.0}, {4, 1.0, 2.5, 2.5, 4.0}},
    };
    for (auto &r : rows) {
        sample_summary s = summarise(&r.in);
        EXPECT_EQ(s.count, r.want.count);
        EXPECT_DOUBLE_EQ(s.min, r.want.min);
        EXPECT_DOUBLE_EQ(s.median, r.want.median);
        EXPECT_DOUBLE_EQ(s.mean, r.want.mean);
        EXPECT_DOUBLE_EQ(s.max, r.want.max);
    }
}

/* tcptrace -l on the samples: total packets, actual data bytes, rexmt
 * data pkts and bytes, for the host drawn left and the one drawn right. */
TEST_F(Stats, PacketsBytesAndRetransmissionsAgreeWithTcptrace)
{
    struct {
        const char *file;
        int64_t packets[2], bytes[2], rexmt[2], rexmt_bytes[2];
    } rows[] = {
        {"sender.pcap", {295, 197}, {418492, 86}, {6, 0}, {8688, 0}},
        {"receiver.pcap", {199, 289}, {86, 409804}, {0, 0}, {0, 0}},
    };
    for (const auto &r : rows) {
        reporttest::load_samples({r.file});
        connection_stats c = collect_stats();
        for (int k = 0; k < 2; k++) {
            EXPECT_EQ(c.dir[k].segments, r.packets[k]) << r.file << " " << k;
            EXPECT_EQ(c.dir[k].payload_bytes, r.bytes[k]) << r.file << " " << k;
            EXPECT_EQ(c.dir[k].retransmissions, r.rexmt[k]) << r.file << " " << k;
            EXPECT_EQ(c.dir[k].retransmitted_bytes, r.rexmt_bytes[k]) << r.file << " " << k;
        }
        EXPECT_EQ(c.two_files, 0);
        int64_t classes = 0;
        for (int64_t n : c.dir[0].per_class)
            classes += n;
        EXPECT_EQ(classes, c.dir[0].segments);
        EXPECT_GT(c.dir[0].ack_time.count + c.dir[1].ack_time.count, 0);
        EXPECT_LE(c.dir[0].ack_time.min, c.dir[0].ack_time.median);
        EXPECT_LE(c.dir[0].ack_time.median, c.dir[0].ack_time.max);
    }
}

TEST_F(Stats, TextSaysHowDelaysWereFound)
{
    EXPECT_EQ(statistics_text(), "No TCP connection loaded.\n");
    reporttest::load_samples({"sender.pcap"});
    std::string one = statistics_text();
    EXPECT_NE(one.find("one-way delay (estimated)"), std::string::npos) << one;
    EXPECT_EQ(one.find("Clock offset"), std::string::npos);
    EXPECT_NE(one.find("Left host (L):   10.77.1.1.8080"), std::string::npos) << one;
    EXPECT_NE(one.find("    retransmission                                6              0\n"),
              std::string::npos) << one;

    reporttest::load_samples({"sender.pcap", "receiver.pcap"});
    connection_stats c = collect_stats();
    EXPECT_EQ(c.two_files, 1);
    EXPECT_EQ(c.copies_found, 486);
    EXPECT_EQ(c.dir[0].delay.count + c.dir[1].delay.count, 486);
    std::string two = statistics_text();
    EXPECT_NE(two.find("one-way delay (measured)"), std::string::npos) << two;
    EXPECT_NE(two.find("Copies found:    486 of 492 segments"), std::string::npos) << two;
    EXPECT_NE(two.find("Clock offset:    -0.020541 s"), std::string::npos) << two;
    /* The samples share one clock; a second is too short to tell its
     * skew from the queue, but not the offset or the smallest delays. */
    EXPECT_NE(two.find("Clock skew:      +57.277 ppm (other capture's clock fast; the directions "
                       "differ by 0.575 ppm)\n"
                       "Offset at start: +0.000011 s (other capture's clock ahead)\n"
                       "Smallest delay:  0.020139 s L>R, 0.020139 s R>L (on the fitted clock)\n\n"),
              std::string::npos)
        << two;
}

/* The troubled captures: their longest stall, by cause, and where the
 * time went, with the share of each state. */
TEST_F(Stats, TextNamesTheLongestStallAndWhereTheTimeWent)
{
    struct {
        const char *capture, *longest;
    } rows[] = {{"slow-reader.pcap", "L>R    1.146946 s  zero_window\n"},
                {"timeout.pcap", "L>R    0.464001 s  timeout\n"}};
    for (const auto &r : rows) {
        reporttest::load_samples({r.capture});
        std::string text = statistics_text();
        size_t list = text.find("Longest stalls (segment, direction, length, cause):\n");
        ASSERT_NE(list, std::string::npos) << text;
        EXPECT_NE(text.find(r.longest, list), std::string::npos) << text;
        for (const char *share : {"sending, nothing limiting", "receiver window limited",
                                  "loss recovery", "stalled", "idle, nothing outstanding"})
            EXPECT_NE(text.find(share), std::string::npos) << share;
    }
}

}  // namespace

namespace {

/* A direction that sent less than one full segment (the request of
 * slow-server.pcap, the answer of keepalive.pcap) shows no stalls and no
 * time: "no data sent"; the waits of client and server follow. */
TEST_F(Stats, DirectionWithoutAFullSegmentAndTheWaits)
{
    struct {
        const char *capture, *at_capture_point, *waits;
    } rows[] = {
        {"slow-server.pcap", "  at the capture point               no data sent       estimate\n",
         "\nWaits over 1 exchange:\n  client 10.79.2.1.42168                    0.000"},
        {"keepalive.pcap", "  at the capture point               no data sent   no data sent\n",
         "\nWaits over 1 exchange:\n  client 10.78.1.2.41450                    0.000"},
    };
    for (const auto &r : rows) {
        reporttest::load_samples({r.capture});
        std::string text = statistics_text();
        EXPECT_NE(text.find(r.at_capture_point), std::string::npos) << text;
        EXPECT_NE(text.find(r.waits), std::string::npos) << text;
        EXPECT_EQ(text.find("Longest stalls"), std::string::npos) << text;
        trace_state_clear();
    }
    reporttest::load_samples({"slow-server.pcap"});
    std::string text = statistics_text();
    size_t at = text.find("  server 10.79.1.1.8095");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NEAR(std::atof(text.c_str() + at + 23), 0.98, 0.010) << text;
}

}  // namespace
