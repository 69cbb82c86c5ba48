/*
 * drift_test.cpp --
 *
 *	The clock fit of two-file loads whose truth is known: two-ended
 *	captures made on one machine's clock (a real one through network
 *	namespaces, examples/drift-*.pcap, and gen_capture's), with the
 *	receiver's capture re-stamped (restamp) or generated (gen_capture
 *	-D) as a clock ahead or behind and fast or slow. The fit finds the
 *	skew within 1 ppm and the offset, and with the correction every
 *	measured one-way delay is within 50 us of the corrected one of the
 *	unaltered pair. Too few copies: no fit, a warning, and the lines of
 *	the plain alignment.
 */

#include "load/drift.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "load/loader.h"
#include "support/pcapgen.h"
#include "trace/trace.h"

namespace {

const std::string examples = WIREPAINT_SOURCE_DIR "/examples/";
const std::string bin = WIREPAINT_BINARY_DIR "/";

/* Loads main and peer, with the fitted clock when `correct`; the lines. */
std::vector<line_record> load(std::string main, std::string peer, int correct)
{
    trace_state_clear();
    g_drift.correct = correct;
    char *argv[] = {&main[0], &peer[0]};
    load_traces(2, argv, 1);
    return std::vector<line_record>(g_trace.lines, g_trace.lines + g_trace.main.count);
}

void run(const std::string &command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

struct drift_case {
    const char *name;
    bool generated;     /* gen_capture -D; otherwise the real pair re-stamped */
    double offset, ppm; /* the receiver's clock: s ahead, ppm fast */
};

TEST(Drift, FitsKnownClocksAndCorrectsTheDelays)
{
    std::string dir = std::filesystem::temp_directory_path() / "wirepaint-drift-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    const std::string sender = examples + "drift-sender.pcap", receiver = examples + "drift-receiver.pcap";
    const std::string gen = bin + "gen_capture -n 6000 -g 20000 -o 2.5 ";
    run(gen + dir + "/gs.pcap " + dir + "/gr.pcap 2>/dev/null");
    const drift_case cases[] = {
        {"real, +100 ppm, 2.5 s ahead", false, 2.5, 100.0},
        {"real, -60 ppm, 1 s behind", false, -1.0, -60.0},
        {"gen_capture -D 100", true, 2.5, 100.0},
        {"gen_capture -D -60", true, 2.5, -60.0},
    };
    std::vector<line_record> real_truth = load(sender, receiver, 1);
    std::vector<line_record> gen_truth = load(dir + "/gs.pcap", dir + "/gr.pcap", 1);
    for (const drift_case &c : cases) {
        std::string main = c.generated ? dir + "/gs2.pcap" : sender, peer = dir + "/peer.pcap";
        if (c.generated)
            run(gen + "-D " + std::to_string(c.ppm) + " " + main + " " + peer + " 2>/dev/null");
        else
            run(bin + "restamp -o " + std::to_string(c.offset) + " -p " + std::to_string(c.ppm) +
                " " + receiver + " " + peer);
        load(main, peer, 0);
        ASSERT_TRUE(g_drift.fit.ok) << c.name;
        EXPECT_NEAR(g_drift.fit.skew * 1e6, c.ppm, 1.0) << c.name;
        EXPECT_NEAR(g_drift.fit.offset + g_drift.start_gap, c.offset, 2e-4) << c.name;
        EXPECT_EQ(g_drift.corrected, 0) << c.name;
        std::vector<line_record> lines = load(main, peer, 1);
        const std::vector<line_record> &truth = c.generated ? gen_truth : real_truth;
        ASSERT_EQ(lines.size(), truth.size()) << c.name;
        int measured = 0;
        for (size_t j = 0; j < lines.size(); j++) {
            if (loader_copy_of(static_cast<int32_t>(j)) < 0)
                continue;
            measured++;
            EXPECT_NEAR(lines[j].delay, truth[j].delay, 50e-6) << c.name << ", line " << j;
        }
        EXPECT_GT(measured, 1000) << c.name;
    }
    std::filesystem::remove_all(dir);
}

TEST(Drift, SkewOnlyWhereTheSamplesResolveIt)
{
    struct verdict_row {
        double span, skew, disagreement;  /* s, and 1e-6 for 1 ppm */
        const char *why;                  /* null: resolved */
    } verdicts[] = {
        {0.073, 75e-6, 405e-6, "too short to measure drift: 73 ms of samples"},
        {155.0, -0.037e-6, 0.828e-6, nullptr},
        {0.8, 10e-6, 2211e-6, "the directions differ by 2211.000 ppm, more than the 22.500 ppm they may"},
        {1.0, 57e-6, 0.6e-6, nullptr},
        {0.2, 187e-6, 26e-6, nullptr},
    };
    for (const verdict_row &v : verdicts) {
        double error = 0.0;
        char why[128] = "";
        EXPECT_EQ(drift_skew_verdict(v.span, 1e-6, v.skew, v.disagreement, &error, why, sizeof why),
                  v.why == nullptr)
            << v.span;
        EXPECT_STREQ(why, v.why ? v.why : "") << v.span;
        EXPECT_NEAR(error, 2e-6 / v.span, 1e-12);
    }

    /* Real pairs of one machine's clock, too short or too queued to fit,
     * and one re-stamped 2.5 s ahead: the offset at the start is the one
     * the first copies measure, to some microseconds. */
    std::string dir = std::filesystem::temp_directory_path() / "wirepaint-start-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    run(bin + "restamp -o 2.5 " + examples + "nat-server.pcap " + dir + "/ahead.pcap");
    struct pair_row {
        std::string main, peer;
        double offset;  /* s, the truth */
    } pairs[] = {
        {examples + "nat-client.pcap", examples + "nat-server.pcap", 0.0},
        {examples + "nat-client.pcap", dir + "/ahead.pcap", 2.5},
        {examples + "lan-client.pcap", examples + "lan-server.pcap", 0.0},
        {examples + "bulk-loss-sender.pcap", examples + "bulk-loss-receiver.pcap", 0.0},
    };
    for (const pair_row &p : pairs) {
        testing::internal::CaptureStdout();
        load(p.main, p.peer, 0);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(g_drift.fit.ok) << p.peer;
        EXPECT_FALSE(g_drift.resolved) << p.peer;
        EXPECT_NEAR(g_drift.start_offset, p.offset, 20e-6) << p.peer;
    }
    std::filesystem::remove_all(dir);
    trace_state_clear();
}

TEST(Drift, TooFewCopiesLeaveTheOffsetAndSaySo)
{
    /* Handshake, one request and its acknowledgement, seen at both ends. */
    pcapgen::capture a, b;
    pcapgen::tcp_seg c, s;
    s.src = c.dst = "10.0.0.2";
    s.dst = c.src = "10.0.0.1";
    s.sport = c.dport = 80;
    s.dport = c.sport = 40000;
    c.flags = TH_SYN, c.seq = 1000, c.ip_id = 1;
    s.flags = TH_SYN | TH_ACK, s.seq = 5000, s.ack = 1001, s.ip_id = 7;
    a.add(pcapgen::build_tcp(c), 0.0), b.add(pcapgen::build_tcp(c), 5.01);
    b.add(pcapgen::build_tcp(s), 5.011), a.add(pcapgen::build_tcp(s), 0.021);
    c.flags = TH_ACK | TH_PUSH, c.seq = 1001, c.ack = 5001, c.paylen = 100, c.ip_id = 2;
    a.add(pcapgen::build_tcp(c), 0.022), b.add(pcapgen::build_tcp(c), 5.032);
    s.flags = TH_ACK, s.seq = 5001, s.ack = 1101, s.ip_id = 8;
    b.add(pcapgen::build_tcp(s), 5.033), a.add(pcapgen::build_tcp(s), 0.043);
    std::string main = a.write(), peer = b.write();
    std::vector<line_record> plain = load(main, peer, 0);
    testing::internal::CaptureStderr();
    std::vector<line_record> asked = load(main, peer, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "wirepaint: -k: no clock fit possible (too few segments found their copy in one "
              "direction); the clocks stay aligned by one offset\n");
    EXPECT_FALSE(g_drift.fit.ok);
    ASSERT_EQ(asked.size(), plain.size());
    for (size_t j = 0; j < plain.size(); j++) {
        EXPECT_EQ(asked[j].t_send, plain[j].t_send) << j;
        EXPECT_EQ(asked[j].t_recv, plain[j].t_recv) << j;
    }
    /* The peer end saw only what it sent: one direction. */
    pcapgen::capture sent;
    c.flags = TH_SYN, c.seq = 1000, c.ack = 0, c.paylen = 0, c.ip_id = 1;
    sent.add(pcapgen::build_tcp(c), 5.01);
    load(main, sent.write(), 0);
    EXPECT_STREQ(g_drift.fit.why, "no segment found its copy in one direction");
    EXPECT_EQ(loader_correct_drift(0), 0);
    g_drift.correct = 0;
    trace_state_clear();
}

}  // namespace
