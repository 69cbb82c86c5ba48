/*
 * events_test.cpp --
 *
 *	The events pass against the reference analyser: real captures (and a
 *	generated bulk transfer) are loaded through the loader, and tshark's
 *	tcp.analysis fields of every frame are compared with the kinds found
 *	for that segment, kind by kind, both ways; duplicate ACK numbers and
 *	the ACK they duplicate too. Then the stalls and the time shares of the
 *	slow-reader and timeout captures.
 */

#include "analysis/events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "load/loader.h"
#include "trace/trace.h"

namespace {

/* The fourteen kinds both tools have. */
const int shared_kinds = EV_WINDOW_UPDATE + 1;

/* tshark's fields of each frame: the kinds set, then the duplicate
 * ACK's number and frame ("" when none). */
std::vector<std::vector<std::string>> tshark_fields(const std::string &path)
{
    std::string cmd = "tshark -r '" + path + "' -T fields -E separator='|' -e frame.number";
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
                              "keepalive.pcap", "timeout.pcap", nullptr};
    std::vector<std::string> paths;
    for (const char **c = captures; *c != nullptr; c++)
        paths.push_back(std::string(WIREPAINT_SOURCE_DIR "/examples/") + *c);
    paths.push_back(generated);
    for (const std::string &path : paths) {
        std::vector<std::vector<std::string>> ts = tshark_fields(path);
        load(path);
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
                                  ts[i][16] != std::to_string(e.ref + 1);
            }
            SCOPED_TRACE(path + " " + event_kind_names[k]);
            EXPECT_LE(only_ts * 100, both + only_ts) << "marked by tshark only: " << only_ts;
            EXPECT_LE(only_wp * 100, both + only_wp) << "marked by wirepaint only: " << only_wp;
            EXPECT_LE(dup_detail * 100, both) << "duplicate ACK numbers differ";
        }
    }
    std::remove(generated.c_str());
}

/* The stalls the two troubled captures are about, and where the time went. */
TEST_F(events_fixture, stalls_and_time_shares)
{
    struct row { const char *capture; int cause; double at_least; };
    const row rows[] = {{"slow-reader.pcap", STALL_ZERO_WINDOW, 0.7},
                        {"timeout.pcap", STALL_TIMEOUT, 0.2}};
    for (const row &r : rows) {
        load(std::string(WIREPAINT_SOURCE_DIR "/examples/") + r.capture);
        double longest = 0, span = trace_span(&g_trace.main);
        for (const seg_events &e : g_events.seg)
            if (e.cause == r.cause)
                longest = std::max(longest, double(g_trace.main.rec[&e - &g_events.seg[0]].time -
                                                   g_trace.main.rec[e.ref].time));
        EXPECT_GE(longest, r.at_least) << r.capture;
        for (const direction_events &d : g_events.dir) {
            double sum = 0;
            for (double s : d.share)
                sum += s;
            EXPECT_NEAR(sum, span, 1e-3) << r.capture;
        }
    }
}

}  // namespace
