/*
 * events_test.cpp --
 *
 *	The events pass against the reference analyser: real captures (and a
 *	generated bulk transfer) are loaded through the loader, and tshark's
 *	tcp.analysis fields of every frame are compared with the kinds found
 *	for that segment, kind by kind, both ways; duplicate ACK numbers and
 *	the ACK they duplicate too; captures that start mid-connection, and
 *	each connection of one that holds many. Then the stalls and the time
 *	shares of the slow-reader and timeout captures.
 */

#include "analysis/events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "load/loader.h"
#include "trace/tcp_fields.h"
#include "trace/direction.h"
#include "support/pcapgen.h"
#include "capture/capfile.h"
#include "trace/trace.h"

namespace {

/* The fourteen kinds both tools have. */
const int shared_kinds = EV_WINDOW_UPDATE + 1;

/* tshark's fields of each frame: the kinds set, then the duplicate
 * ACK's number and frame ("" when none). */
std::vector<std::vector<std::string>> tshark_fields(const std::string &path,
                                                   const std::string &filter = "",
                                                   const char *first = "frame.number")
{
    std::string cmd = "tshark -r '" + path + "' -Y '" + filter +
                      "' -T fields -E separator='|' -e " + first;
    for (int k = 0; k < shared_kinds; k++)
        cmd += std::string(" -e tcp.analysis.") + event_kind_names[k];
    cmd += " -e tcp.analysis.duplicate_ack_num -e tcp.analysis.duplicate_ack_frame 2>/dev/null";
    std::vector<std::vector<std::string>> rows;
    FILE *p = popen(cmd.c_str(), "r");
    char line[1024];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
        std::vector<std::string> f(1);
        for (const char *c = line; *c != '\0' && *c != '\n'; c++) {
            if (*c == '|')
                f.emplace_back();
            else
                f.back().push_back(*c);
        }
        rows.push_back(f);
    }
    EXPECT_TRUE(p != nullptr && pclose(p) == 0) << "tshark failed on " << path;
    return rows;
}

/*
 * A connection written segment by segment for the kinds real Linux
 * captures seldom show: a window filled, a zero window with a one-byte
 * probe and its ACK, a window update, a gap, duplicate ACKs and a fast
 * retransmission, a spurious one, a keep-alive and its ACK, a silence
 * ended by new data, an out-of-order segment, a timeout, an ACK of data
 * never captured. Client 10.0.0.1 (window scale 2), server 10.0.0.2.
 */
std::string crafted_capture()
{
    struct step { double t; bool client; uint32_t seq, ack; uint8_t flags; uint16_t win; int len; };
    const uint8_t S = TH_SYN, A = TH_ACK, P = TH_PUSH | TH_ACK;
    const step steps[] = {
        {0.000, true, 1000, 0, S, 64240, 0},        {0.010, false, 5000, 1001, S | A, 65535, 0},
        {0.020, true, 1001, 5001, A, 1000, 0},      {0.021, true, 1001, 5001, P, 1000, 10},
        {0.030, false, 5001, 1011, A, 512, 1000},   {0.031, false, 6001, 1011, A, 512, 1000},
        {0.032, false, 7001, 1011, A, 512, 1000},   {0.033, false, 8001, 1011, A, 512, 1000},
        {0.040, true, 1011, 9001, A, 0, 0},         {0.100, false, 9001, 1011, A, 512, 1},
        {0.110, true, 1011, 9001, A, 0, 0},         {0.300, true, 1011, 9001, A, 1000, 0},
        {0.301, false, 9001, 1011, A, 512, 1000},   {0.302, false, 11001, 1011, A, 512, 1000},
        {0.310, true, 1011, 10001, A, 1000, 0},     {0.311, true, 1011, 10001, A, 1000, 0},
        {0.312, true, 1011, 10001, A, 1000, 0},     {0.313, false, 10001, 1011, A, 512, 1000},
        {0.320, true, 1011, 12001, A, 1000, 0},     {0.330, false, 10001, 1011, A, 512, 1000},
        {2.000, false, 12000, 1011, A, 512, 0},     {2.001, true, 1011, 12001, A, 1000, 0},
        {2.500, false, 12001, 1011, A, 512, 100},   {2.501, false, 12051, 1011, A, 512, 20},
        {2.600, false, 12101, 1011, A, 512, 100},   {3.600, false, 12101, 1011, A, 512, 100},
        {3.610, true, 1011, 12201, A, 1000, 0},     {3.620, true, 1011, 14001, A, 1000, 0}};
    pcapgen::capture c;
    for (const step &st : steps) {
        pcapgen::tcp_seg g;
        if (!st.client) {
            std::swap(g.src, g.dst);
            std::swap(g.sport, g.dport);
        }
        g.seq = st.seq;
        g.ack = st.ack;
        g.flags = st.flags;
        g.win = st.win;
        g.paylen = st.len;
        if (st.flags & S)
            g.tcp_options = {1, 3, 3, static_cast<uint8_t>(st.client ? 2 : 0)};
        c.add(pcapgen::build_tcp(g), st.t);
    }
    return c.write();
}

void load(std::string path)
{
    char *argv[] = {&path[0]};
    load_traces(1, argv, 1);
    ASSERT_EQ(g_trace.loaded, 1) << path;
}

struct events_fixture : ::testing::Test {
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { unload_traces(); trace_state_clear(); }
};

TEST_F(events_fixture, agree_with_tshark_frame_by_frame)
{
    std::string generated = WIREPAINT_BINARY_DIR "/events_generated.pcap";
    std::string gen = WIREPAINT_BINARY_DIR "/gen_capture -n 30000 -l 0.01 -r 0.002 " + generated;
    ASSERT_EQ(std::system(gen.c_str()), 0);
    const char *captures[] = {"sender.pcap", "receiver.pcap", "bulk-loss-sender.pcap",
                              "bulk-loss-receiver.pcap", "slow-reader.pcap",
                              "keepalive.pcap", "timeout.pcap", "midstream.pcap",
                              "midstream-acks.pcap", "midstream-window.pcap", nullptr};
    /* A capture and, for one of many connections, its client's port. */
    std::vector<std::pair<std::string, std::string>> loads;
    for (const char **c = captures; *c != nullptr; c++)
        loads.push_back({std::string(WIREPAINT_SOURCE_DIR "/examples/") + *c, ""});
    loads.push_back({generated, ""});
    loads.push_back({crafted_capture(), ""});
    std::string many = WIREPAINT_SOURCE_DIR "/examples/midstream-many.pcap";
    std::set<std::string> ports;
    for (const std::vector<std::string> &row : tshark_fields(many, "tcp.srcport == 8095", "tcp.dstport"))
        ports.insert(row[0]);
    ASSERT_EQ(ports.size(), 25u);
    for (const std::string &port : ports)
        loads.push_back({many, port});
    for (const auto &[path, port] : loads) {
        std::vector<std::vector<std::string>> ts =
            tshark_fields(path, port.empty() ? "" : "tcp.port == " + port);
        g_capfile.filter = port.empty() ? "" : "tcp port " + port;
        load(path);
        g_capfile.filter.clear();
        ASSERT_EQ(ts.size(), static_cast<size_t>(g_trace.main.count)) << path;
        for (int k = 0; k < shared_kinds; k++) {
            long both = 0, only_ts = 0, only_wp = 0, dup_detail = 0;
            for (size_t i = 0; i < ts.size(); i++) {
                const seg_events &e = *events_of(static_cast<int32_t>(i));
                bool a = !ts[i][1 + k].empty(), b = (e.kinds >> k) & 1;
                both += a && b;
                only_ts += a && !b;
                only_wp += b && !a;
                if (a && b && k == EV_DUPLICATE_ACK)
                    dup_detail += ts[i][15] != std::to_string(e.dup_num) ||
                                  ts[i][16] != (e.ref >= 0 ? ts[e.ref][0] : "0");
            }
            SCOPED_TRACE(path + " " + port + " " + event_kind_names[k]);
            EXPECT_LE(only_ts * 100, both + only_ts) << "marked by tshark only: " << only_ts;
            EXPECT_LE(only_wp * 100, both + only_wp) << "marked by wirepaint only: " << only_wp;
            EXPECT_LE(dup_detail * 100, both) << "duplicate ACK numbers differ";
        }
    }
    std::remove(generated.c_str());
}

/* wirepaint's own kinds where the captures have them, with the cause of
 * each stall; every direction's time shares add up to the span. */
TEST_F(events_fixture, own_kinds_and_time_shares)
{
    std::string crafted = crafted_capture();
    std::string ex = WIREPAINT_SOURCE_DIR "/examples/";
    struct row { std::string capture; int segment; const char *kinds; int cause; };
    const row rows[] = {
        {crafted, 13, "stall", STALL_ZERO_WINDOW},
        {crafted, 18, "retransmission;fast_retransmission", STALL_NONE},
        {crafted, 23, "stall", STALL_APPLICATION},
        {crafted, 26, "retransmission;timeout_retransmission;stall", STALL_TIMEOUT},
        {ex + "slow-reader.pcap", 77, "stall", STALL_ZERO_WINDOW},
        {ex + "timeout.pcap", 118, "retransmission;timeout_retransmission;stall", STALL_TIMEOUT},
        {ex + "timeout.pcap", 119, "retransmission;timeout_retransmission;stall", STALL_TIMEOUT},
        /* Idle between exchanges and before the close, nothing owed: a
         * turn, not a stall. The client's FIN after 3.5 s; the client's
         * second request 1.5 s after the first answer, and the server's
         * answer to it; a server pausing mid-answer does stall. */
        {ex + "keepalive.pcap", 14, "", STALL_NONE},
        {ex + "verdict-think.pcap", 34, "", STALL_NONE},
        {ex + "verdict-think.pcap", 35, "", STALL_NONE},
        {ex + "verdict-pause.pcap", 135, "stall", STALL_APPLICATION}};
    for (const row &r : rows) {
        load(r.capture);
        const seg_events *e = events_of(r.segment - 1);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(events_kinds_text(e->kinds, ';'), r.kinds) << r.capture << " " << r.segment;
        EXPECT_EQ(e->cause, r.cause) << r.capture << " " << r.segment;
        for (const direction_events &d : g_events.dir) {
            double sum = 0;
            for (double share : d.share)
                sum += share;
            EXPECT_NEAR(sum, trace_span(&g_trace.main), 1e-3) << r.capture;
        }
    }
    /* The written connection's server: its window filled, it recovered
     * from a loss, and its stalls are all its stalled time. */
    load(crafted);
    const direction_events &server = g_events.dir[1];
    EXPECT_GT(server.share[SHARE_RWND], 0.0);
    EXPECT_GT(server.share[SHARE_RECOVERY], 0.0);
    EXPECT_EQ(server.stalls, 3);
    EXPECT_NEAR(server.share[SHARE_STALLED], server.stall_total, 1e-6);
    EXPECT_NEAR(server.stall_longest, 2.17, 1e-3);
}

/* The table keeps four bytes a segment and the few references apart:
 * every segment's events read back as the walk gave them. */
TEST_F(events_fixture, the_compact_table_gives_back_every_segments_walk)
{
    std::string ex = WIREPAINT_SOURCE_DIR "/examples/";
    int32_t with_refs = 0;
    for (const char *name : {"bulk-loss-sender.pcap", "timeout.pcap", "slow-reader.pcap",
                             "keepalive.pcap", "lan-client.pcap"}) {
        load(ex + name);
        const trace_array &t = g_trace.main;
        events_walk *w = events_walk_new();
        for (int32_t i = 0; i < t.count; i++) {
            int shift = -1, mss = 0;
            if (t.rec[i].tcp_flags & TH_SYN)
                syn_options(record_tcp_fields(i), &shift, &mss);
            int d = same_direction(t.rec[i], t.rec[0]) ? 0 : 1;
            seg_events want = events_walk_step(w, t.rec[i], d, shift, mss), got;
            ASSERT_TRUE(events_at(i, &got)) << name << " " << i;
            ASSERT_EQ(std::make_tuple(got.kinds, got.cause, got.dir, got.ref, got.dup_num),
                      std::make_tuple(want.kinds, want.cause, want.dir, want.ref, want.dup_num))
                << name << " " << i;
            with_refs += want.ref != -1;
        }
        events_walk_free(w);
        seg_events none;
        EXPECT_FALSE(events_at(t.count, &none));
        EXPECT_EQ(events_of(t.count), nullptr);
    }
    EXPECT_GT(with_refs, 20);
}

}  // namespace
