/*
 * loader_test.cpp --
 *
 *	Tests of the trace-set loader: one-file and two-file loads of real
 *	savefiles, the clock alignment, the reset before a reopen, and the
 *	bundled sample captures.
 *
 *	Two-file scenarios come from a small simulation: host A (10.0.0.1) and
 *	host B (10.0.0.2), each segment crossing the path in `owd` seconds.
 *	Capture "a" is taken at A on A's clock, capture "b" at B on a clock that
 *	runs `skew` seconds ahead of A's. A segment marked lost appears only
 *	in its sender's capture.
 */

#include "load/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/left_host.h"
#include "analysis/line.h"
#include "support/carried.h"
#include "support/pcapgen.h"
#include "text/detail.h"
#include "text/line_text.h"
#include "text/text_state.h"
#include "trace/direction.h"
#include "trace/matcher.h"
#include "trace/trace.h"

using pcapgen::build_tcp;
using pcapgen::capture;
using pcapgen::tcp_seg;

namespace {

struct sim_event {
    bool from_a;      /* sent by A, else by B */
    double t;         /* send time on A's clock */
    tcp_seg seg;
    bool lost;        /* dropped on the path: only the sender saw it */
};

struct sim {
    double owd = 0.05;
    double skew = 0.0;
    bool v6 = false;
    std::vector<sim_event> ev;
    uint16_t next_id_a = 100, next_id_b = 5000;
    bool use_ids = true;
    uint8_t ttl_local = 64, ttl_remote = 64; /* TTL of the capture host's
                                              * own packets, of the peer's */

    tcp_seg seg(bool from_a, uint32_t seq, uint32_t ack, uint8_t flags, int len, uint16_t win)
    {
        tcp_seg s;
        s.v6 = v6;
        s.src = v6 ? (from_a ? "2001:db8::1" : "2001:db8::2") : (from_a ? "10.0.0.1" : "10.0.0.2");
        s.dst = v6 ? (from_a ? "2001:db8::2" : "2001:db8::1") : (from_a ? "10.0.0.2" : "10.0.0.1");
        s.sport = from_a ? 40000 : 80;
        s.dport = from_a ? 80 : 40000;
        s.seq = seq;
        s.ack = ack;
        s.flags = flags;
        s.paylen = len;
        s.win = win;
        if (!v6 && use_ids)
            s.ip_id = from_a ? next_id_a++ : next_id_b++;
        return s;
    }

    sim &send(bool from_a, double t, uint32_t seq, uint32_t ack, uint8_t flags, int len = 0,
              uint16_t win = 65535, bool lost = false)
    {
        ev.push_back({from_a, t, seg(from_a, seq, ack, flags, len, win), lost});
        return *this;
    }

    /* The capture at A (at_a) or at B, packets in capture-time order. */
    std::string write(bool at_a, int first = 0) const
    {
        std::vector<std::pair<double, pcapgen::bytes>> pk;
        for (size_t n = (size_t)first; n < ev.size(); n++) {
            const sim_event &e = ev[n];
            bool local = e.from_a == at_a;
            if (!local && e.lost)
                continue;
            double t = e.t + (local ? 0.0 : owd) + (at_a ? 0.0 : skew);
            tcp_seg seg = e.seg;
            seg.ttl = local ? ttl_local : ttl_remote;
            pk.push_back({t, build_tcp(seg)});
        }
        std::stable_sort(pk.begin(), pk.end(),
                         [](const auto &x, const auto &y) { return x.first < y.first; });
        capture c;
        for (const auto &p : pk)
            c.add(p.second, 100.0 + p.first);
        return c.write();
    }

    /* A handshake and `n` data segments of 1000 bytes from B (server) to A,
     * each acknowledged by A. */
    sim &transfer(int n, double gap = 0.01)
    {
        send(true, 0.0, 1000, 0, TH_SYN);
        send(false, 0.05, 5000, 1001, TH_SYN | TH_ACK);
        send(true, 0.10, 1001, 5001, TH_ACK);
        send(true, 0.11, 1001, 5001, TH_ACK | TH_PUSH, 100);
        for (int k = 0; k < n; k++) {
            double t = 0.16 + k * gap;
            send(false, t, 5001 + 1000u * k, 1101, TH_ACK, 1000);
            send(true, t + owd, 1101, 5001 + 1000u * (k + 1), TH_ACK);
        }
        return *this;
    }
};

std::string quiet_load(int n, const std::vector<std::string> &files, int reset,
                       std::string *err = nullptr)
{
    std::vector<char *> argv;
    for (const std::string &f : files)
        argv.push_back(const_cast<char *>(f.c_str()));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    load_traces(n, argv.data(), reset);
    std::string e = testing::internal::GetCapturedStderr();
    if (err)
        *err = e;
    return testing::internal::GetCapturedStdout();
}

class LoaderTest : public testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

const line_record &line(int i)
{
    return g_trace.lines[i];
}

}  // namespace

TEST_F(LoaderTest, OneFileLoadBuildsOneLinePerRecord)
{
    sim s;
    s.transfer(5);
    std::string a = s.write(true);
    std::string err;
    g_trace.verbose = 1;
    quiet_load(1, {a}, 0, &err);
    EXPECT_EQ(err, " reading from " + a + "... done.\n");
    ASSERT_EQ(g_trace.loaded, 1);
    ASSERT_EQ(g_trace.main.count, 14);
    EXPECT_EQ(g_trace.peer.count, 0);
    ASSERT_NE(g_trace.lines, nullptr);
    for (int i = 0; i < g_trace.main.count; i++)
        EXPECT_NE(record_bytes(&g_trace.main, i), nullptr) << i;
    /* Capture at A: A's segments go left to right and start at capture time. */
    EXPECT_EQ(line(0).dir, 1);
    EXPECT_FLOAT_EQ(line(0).t_send, 0.0f);
    EXPECT_EQ(line(1).dir, 2);
    EXPECT_FLOAT_EQ(line(1).t_recv, g_trace.main.rec[1].time);
    char label[LINE_LABEL_SIZE];
    format_line_label(3, label, sizeof label);
    EXPECT_STREQ(label, " 1:101(100) ack 1 win 65535 ");
    EXPECT_EQ(line(3).cls, CLS_DATA);
    EXPECT_EQ(line(2).cls, CLS_NODATA);
    EXPECT_NEAR(g_trace.duration, 0.16 + 4 * 0.01 + 0.05, 1e-5);
}

TEST_F(LoaderTest, OneFileWithoutSegmentsLeavesNothingLoaded)
{
    capture c;
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 1, 2, 3), 0.0);
    std::string path = c.write();
    std::string err;
    EXPECT_EQ(quiet_load(1, {path}, 0, &err), "not tcp\n");
    EXPECT_EQ(err, "wirepaint: no TCP segment in " + path + "\n");
    EXPECT_EQ(g_trace.loaded, 0);
    EXPECT_EQ(g_trace.main.count, 0);
    EXPECT_EQ(g_trace.lines, nullptr);
}

TEST_F(LoaderTest, TwoFilesReadSecondArgumentFirstAndAlignClocks)
{
    sim s;
    s.skew = 3.0;
    s.transfer(6);
    std::string a = s.write(true), b = s.write(false);
    std::string err;
    g_trace.verbose = 1;
    quiet_load(2, {a, b}, 0, &err);
    EXPECT_EQ(err, " reading from " + b + "... done.\n reading from " + a + "... done.\n");
    ASSERT_EQ(g_trace.loaded, 1);
    ASSERT_EQ(g_trace.main.count, 16);
    ASSERT_EQ(g_trace.peer.count, 16);
    /* Equal counts: the first argument's trace (captured at A) is main. */
    EXPECT_EQ(g_trace.key.src4, 0x0a000001u);
    /* Times are relative to each capture's first record: B's first record
     * is A's SYN arriving, 0.05 s after A's first on A's clock. Every copy
     * is found, the far ends are B's capture times on A's clock, and so
     * every delay is the true one-way delay whatever the estimate was. */
    EXPECT_NEAR(loader_clock_offset(), 0.05, 1e-4);
    EXPECT_EQ(match_segment(0, MATCH_FIRST, -1.0f), 0);   /* a copy at peer index 0 */
    for (int i = 0; i < g_trace.main.count; i++) {
        EXPECT_NE(line(i).cls, CLS_LOST) << i;
        EXPECT_NEAR(line(i).delay, 0.05, 1e-4) << i;
    }
}

TEST_F(LoaderTest, LargerSecondTraceBecomesMainAndLostSegmentIsClassFour)
{
    sim s;
    s.transfer(4);
    /* B sends a segment that never reaches A, then sends it again. */
    s.send(false, 0.30, 9001, 1101, TH_ACK, 1000, 65535, true);
    s.send(false, 0.40, 9001, 1101, TH_ACK, 1000);
    s.send(true, 0.45, 1101, 10001, TH_ACK);
    std::string a = s.write(true), b = s.write(false);
    quiet_load(2, {a, b}, 0);
    ASSERT_EQ(g_trace.loaded, 1);
    /* B's capture has the lost copy too: it is longer and becomes main. */
    EXPECT_EQ(g_trace.main.count, g_trace.peer.count + 1);
    EXPECT_EQ(g_trace.key.src4, 0x0a000001u);   /* the key of F1 stands */
    int lost = -1;
    for (int i = 0; i < g_trace.main.count; i++)
        if (g_trace.main.rec[i].time > 0.24f && g_trace.main.rec[i].time < 0.26f)
            lost = i;
    ASSERT_GE(lost, 0);
    EXPECT_EQ(line(lost).cls, CLS_LOST);
    /* It keeps the times the line-list build gave it from the estimate. */
    EXPECT_FLOAT_EQ(line(lost).t_send, g_trace.main.rec[lost].time);
    EXPECT_FLOAT_EQ(line(lost).delay, line(lost).t_recv - line(lost).t_send);
}

TEST_F(LoaderTest, AnchorOnRightToLeftLineNegatesItsDelay)
{
    /* Main trace captured at B: B is the left host, and the first record
     * with a positive estimate and a copy may be A's (dir 2). */
    sim s;
    s.skew = -2.0;    /* B's clock behind: negative offset between the captures */
    s.transfer(5);
    std::string a = s.write(true), b = s.write(false);
    quiet_load(2, {b, a}, 0);
    ASSERT_EQ(g_trace.loaded, 1);
    EXPECT_EQ(g_trace.key.src4, 0x0a000001u);   /* B's first record is A's SYN */
    EXPECT_EQ(line(0).dir, 2);   /* A's SYN, seen arriving at B */
    /* A's capture began 0.05 s before B's, on B's clock. */
    EXPECT_NEAR(loader_clock_offset(), -0.05, 1e-4);
    for (int i = 0; i < g_trace.main.count; i++) {
        EXPECT_NEAR(line(i).delay, 0.05, 1e-4) << i;
        EXPECT_NEAR(line(i).dir == 1 ? line(i).t_send : line(i).t_recv,
                    g_trace.main.rec[i].time, 1e-6);
    }
}

TEST_F(LoaderTest, NegativeOffsetStillPicksNearestDuplicateAck)
{
    /* Identical duplicate ACKs from A (no identification to tell them
     * apart): each must take its own copy, not the first. The main capture
     * (B's) began after the peer's: the clock offset is negative. */
    sim s;
    s.use_ids = false;
    s.transfer(3);
    for (int k = 0; k < 12; k++)
        s.send(true, 0.5 + 0.002 * k, 1101, 8001, TH_ACK);   /* closer than the delay */
    std::string a = s.write(true), b = s.write(false);
    quiet_load(2, {b, a}, 0);
    ASSERT_EQ(g_trace.loaded, 1);
    EXPECT_LT(loader_clock_offset(), 0.0f);
    for (int i = 0; i < g_trace.main.count; i++)
        EXPECT_NEAR(line(i).delay, 0.05, 1e-4) << i;
}

TEST_F(LoaderTest, IPv6CapturesBeginningAtDifferentSegmentsAlign)
{
    sim s;
    s.v6 = true;
    s.skew = 1.0;
    s.transfer(8);
    std::string a = s.write(true);        /* from the SYN */
    std::string b = s.write(false, 2);    /* B's capture started late */
    quiet_load(2, {a, b}, 0);
    ASSERT_EQ(g_trace.loaded, 1);
    int matched = 0;
    for (int i = 0; i < g_trace.main.count; i++) {
        if (line(i).cls == CLS_LOST)
            continue;
        matched++;
        EXPECT_NEAR(line(i).delay, 0.05, 1e-4) << i;
    }
    EXPECT_EQ(matched, g_trace.peer.count);
    /* The two first records, both numbered 0 in their own trace, are
     * different segments and must not be taken for each other. */
    EXPECT_EQ(line(0).cls, CLS_LOST);
}

TEST_F(LoaderTest, IdentificationMatchRequiresTheSameSender)
{
    /* Both hosts happen to use the same identification numbers. */
    sim s;
    s.next_id_a = s.next_id_b = 7;
    s.transfer(4);
    std::string a = s.write(true), b = s.write(false);
    quiet_load(2, {a, b}, 0);
    ASSERT_EQ(g_trace.loaded, 1);
    for (int i = 0; i < g_trace.main.count; i++) {
        int32_t m = match_segment(i, MATCH_NEAREST, loader_clock_offset());
        ASSERT_GE(m, 0);
        EXPECT_EQ(src4_of(g_trace.peer.rec[m]), src4_of(g_trace.main.rec[i])) << i;
        EXPECT_NEAR(line(i).delay, 0.05, 1e-4) << i;
    }
}

TEST_F(LoaderTest, WrappedIdentificationTakesTheCopyNearestInTime)
{
    sim s;
    s.transfer(2);
    /* Much later, A reuses identification 100 after a wrap. */
    s.ev.push_back({true, 30.0, s.seg(true, 1101, 7001, TH_ACK, 10, 65535), false});
    s.ev.back().seg.ip_id = 100;
    std::string a = s.write(true), b = s.write(false);
    quiet_load(2, {a, b}, 0);
    ASSERT_EQ(g_trace.loaded, 1);
    const int last = g_trace.main.count - 1;
    EXPECT_NEAR(line(last).delay, 0.05, 1e-4);
    EXPECT_NEAR(line(0).delay, 0.05, 1e-4);
}

TEST_F(LoaderTest, FastMatchAgreesWithLiteralScan)
{
    sim s;
    s.use_ids = false;
    s.transfer(30, 0.001);
    for (int k = 0; k < 20; k++)
        s.send(true, 0.5 + 0.001 * k, 1101, 8001, TH_ACK);
    quiet_load(2, {s.write(true), s.write(false, 5)}, 0);
    ASSERT_GT(g_trace.peer.count, 0);
    for (int i = 0; i < g_trace.main.count; i++) {
        for (float off : {-1.0f, 0.0f, 0.02f, 3.0f}) {
            EXPECT_EQ(match_segment(i, MATCH_NEAREST, off),
                      match_segment_literal(i, MATCH_NEAREST, off)) << i;
            EXPECT_EQ(match_segment(i, MATCH_NEAREST, off, 0.05f),
                      match_segment_literal(i, MATCH_NEAREST, off, 0.05f)) << i;
            EXPECT_EQ(match_segment(i, MATCH_FIRST, off),
                      match_segment_literal(i, MATCH_FIRST, off)) << i;
        }
    }
    EXPECT_EQ(match_segment_literal(0, MATCH_FIRST, 0), -1);   /* begins later */
}

TEST_F(LoaderTest, ReopenStartsFromEmptyStateWithSavedCopyLength)
{
    sim s;
    s.transfer(3);
    g_trace.saved_copy_len = 0;
    quiet_load(2, {s.write(true), s.write(false)}, 0);
    EXPECT_EQ(g_trace.copy_len, 54);
    sim t;
    t.v6 = true;
    t.transfer(2);
    quiet_load(1, {t.write(true)}, 1);
    EXPECT_EQ(g_trace.loaded, 1);
    EXPECT_EQ(g_trace.peer.count, 0);
    EXPECT_EQ(g_trace.main.count, 8);
    EXPECT_EQ(g_trace.copy_len, 74);   /* fixed afresh by the IPv6 file */
    EXPECT_EQ(g_trace.ipv6, 1);
    g_trace.saved_copy_len = 60;
    quiet_load(1, {s.write(true)}, 1);
    EXPECT_EQ(g_trace.copy_len, 60);
}

using LoaderDeathTest = LoaderTest;

TEST_F(LoaderDeathTest, TwoFilesWithoutMatchIsFatal)
{
    sim s;
    s.transfer(3);
    std::string a = s.write(true);
    capture empty;
    empty.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 1, 2, 3), 0.0);
    std::string e = empty.write();
    std::vector<char *> argv = {const_cast<char *>(a.c_str()), const_cast<char *>(e.c_str())};
    EXPECT_EXIT(load_traces(2, argv.data(), 0), testing::ExitedWithCode(255),
                "Fatal: cannot find matched data in two files\n$");
    std::vector<char *> both_empty = {const_cast<char *>(e.c_str()),
                                      const_cast<char *>(e.c_str())};
    EXPECT_EXIT(load_traces(2, both_empty.data(), 0), testing::ExitedWithCode(255),
                "Fatal: cannot find matched data in two files\n$");
}

/* The text pass runs beside the analysis on a second thread: what it
 * leaves (every later detail text) is what the sequential literal
 * priming leaves, in one- and two-file loads. */
TEST_F(LoaderTest, TextPassBesideTheAnalysisPrimesAsTheLiteralPass)
{
    sim s;
    s.transfer(40);
    /* Malformed options on every seventh segment, and one segment only
     * the capture at A holds, so that with b given first the traces
     * change places: the decoder's list of the records with malformed
     * options goes with its trace. */
    for (size_t k = 3; k < s.ev.size(); k += 7)
        s.ev[k].seg.tcp_options = {1, 1, 8, 10, 0, 0, 0, 1};
    s.send(true, 1.0, 1101, 45001, TH_ACK, 0, 65535, true);
    const std::string a = s.write(true), b = s.write(false);
    const std::vector<std::vector<std::string>> loads = {{a}, {a, b}, {b, a}};
    for (const std::vector<std::string> &files : loads) {
        quiet_load(static_cast<int>(files.size()), files, 1);
        ASSERT_EQ(g_trace.loaded, 1);
        EXPECT_EQ(g_trace.main.count, 2 * 40 + 5) << "A's capture is the main trace";
        std::vector<int32_t> listed(g_trace.main.bad_opt,
                                    g_trace.main.bad_opt + g_trace.main.bad_opt_count);
        std::vector<int32_t> checked;
        for (int32_t i = 0; i < g_trace.main.count; i++)
            if (record_may_mark_bad_options(i))
                checked.push_back(i);
        EXPECT_EQ(listed, checked) << files.size() << " file(s)";
        EXPECT_EQ(checked.size(), 12u);
        std::vector<std::string> threaded, literal;
        /* Last line first: unprimed, a click would count from itself. */
        testing::internal::CaptureStdout();
        for (int i = g_trace.main.count - 1; i >= 0; i--)
            threaded.push_back(segment_detail_text(i, 0));
        text_state_clear();
        prime_text_state_literal();
        for (int i = g_trace.main.count - 1; i >= 0; i--)
            literal.push_back(segment_detail_text(i, 0));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(threaded, literal) << files.size() << " file(s)";
    }
}

/*
 * A server whose SYN-ACK leaves 20 ms after the SYN on a path of 0.2 ms:
 * the handshake points at the client wherever the capture was taken. The
 * TTLs tell (one file) when a router lies between the ends; with two
 * files the gaps between copies tell, and the load is then the one that
 * names the host with -H, line for line and copy for copy.
 */
sim slow_server()
{
    sim s;
    s.owd = 0.0002;
    s.send(true, 0.0, 1000, 0, TH_SYN);
    s.send(false, 0.0202, 5000, 1001, TH_SYN | TH_ACK);
    s.send(true, 0.0205, 1001, 5001, TH_ACK);
    s.send(true, 0.0206, 1001, 5001, TH_ACK | TH_PUSH, 100);
    for (int k = 0; k < 30; k++) {
        double t = 0.03 + k * 0.001;
        s.send(false, t, 5001 + 1000u * k, 1101, TH_ACK, 1000, 65535, k == 7);
        s.send(true, t + 0.0003, 1101, 5001 + 1000u * (k + 1), TH_ACK);
    }
    return s;
}

TEST_F(LoaderTest, TtlsTellTheCaptureHostOfOneFile)
{
    struct row {
        bool at_a, v6;
        uint8_t local, remote;  /* TTL of the capture host's packets, of the peer's */
        capture_host_rule rule;
        int dir;                /* of a's SYN: 1 when a is drawn left */
    } rows[] = {
        {false, false, 64, 63, HOST_BY_TTL, 2},  {true, false, 128, 120, HOST_BY_TTL, 1},
        {false, false, 255, 250, HOST_BY_TTL, 2}, {false, false, 32, 30, HOST_BY_TTL, 2},
        {false, true, 64, 63, HOST_BY_TTL, 2},   /* IPv6 hop limit */
        {false, false, 62, 64, HOST_BY_TTL, 1},  /* taken at a's router */
        {true, false, 63, 61, HOST_BY_PATH_TTL, 1}, /* in the path, 1 hop from a, 3 from b */
        {true, false, 120, 62, HOST_BY_PATH_TTL, 2}, /* 8 hops against 2 */
        {false, false, 64, 64, HOST_BY_HANDSHAKE, 1}, /* as before: the handshake, wrong */
        {false, false, 128, 64, HOST_BY_HANDSHAKE, 1}, {false, false, 63, 63, HOST_BY_HANDSHAKE, 1},
    };
    for (const row &r : rows) {
        sim s = slow_server();
        s.v6 = r.v6;
        s.ttl_local = r.local;
        s.ttl_remote = r.remote;
        quiet_load(1, {s.write(r.at_a)}, 1);
        EXPECT_EQ(g_capture_host.rule, r.rule) << +r.local << "/" << +r.remote;
        EXPECT_EQ(line(0).dir, r.dir) << +r.local << "/" << +r.remote;
    }
}

TEST_F(LoaderTest, GapsBetweenCopiesDecideAsANamedHostWould)
{
    sim s = slow_server();
    const std::string a = s.write(true), b = s.write(false);
    auto lines = [](const std::vector<std::string> &files) {
        quiet_load(2, files, 1);
        std::vector<float> v;  /* every line's times, class and copy */
        for (int32_t i = 0; i < g_trace.main.count; i++)
            v.insert(v.end(), {line(i).t_send, line(i).t_recv, line(i).delay,
                               static_cast<float>(line(i).cls), static_cast<float>(loader_copy_of(i))});
        return v;
    };
    /* b holds one segment more (lost on the path), so it is drawn either way. */
    for (const std::vector<std::string> &files : {std::vector<std::string>{a, b}, {b, a}}) {
        left_host_forget();
        std::vector<float> by_gaps = lines(files);
        EXPECT_EQ(g_capture_host.rule, HOST_BY_GAPS);
        EXPECT_EQ(g_capture_host.votes, MAX_GAP_PAIRS);
        EXPECT_EQ(line(0).dir, 2);  /* a's SYN reaches the left host */
        ASSERT_TRUE(left_host_name("10.0.0.2"));
        EXPECT_EQ(lines(files), by_gaps);
        EXPECT_EQ(g_capture_host.rule, HOST_BY_NAME);
        left_host_forget();
    }
}

TEST_F(LoaderTest, SampleCapturesLoadInBothModes)
{
    const std::string dir = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";
    const std::string snd = dir + "sender.pcap", rcv = dir + "receiver.pcap";
    if (FILE *f = std::fopen(snd.c_str(), "rb"))
        std::fclose(f);
    else
        GTEST_SKIP() << "sample captures not present";

    /* Figures tcpdump confirms: 492 and 488 packets, and six data
     * segments from port 8080 sent again in each file. */
    quiet_load(1, {snd}, 1);
    ASSERT_EQ(g_trace.loaded, 1);
    const int sender_count = g_trace.main.count;
    EXPECT_EQ(sender_count, 492);
    int retrans = 0;
    for (int i = 0; i < g_trace.main.count; i++)
        retrans += g_trace.main.rec[i].mark == 3 && g_trace.main.rec[i].paylen > 0 &&
                   sport_of(g_trace.main.rec[i]) == 8080;
    EXPECT_EQ(retrans, 6);

    quiet_load(1, {rcv}, 1);
    ASSERT_EQ(g_trace.loaded, 1);
    const int receiver_count = g_trace.main.count;
    EXPECT_EQ(receiver_count, 488);

    quiet_load(2, {snd, rcv}, 1);
    ASSERT_EQ(g_trace.loaded, 1);
    EXPECT_EQ(g_trace.main.count, sender_count);
    EXPECT_EQ(g_trace.peer.count, receiver_count);
    int lost = 0, matched = 0;
    for (int i = 0; i < g_trace.main.count; i++) {
        if (line(i).cls == CLS_LOST && match_segment(i, MATCH_NEAREST, loader_clock_offset()) < 0)
            lost++;
        else
            matched++;
    }
    EXPECT_EQ(matched + lost, sender_count);
    EXPECT_GE(matched, receiver_count - 5);
    EXPECT_GT(lost, 0);
}

/* Every bundled capture alone and the pairs in both orders: each record, the
 * peer trace's (numbered from its own file's first segment) as well as the
 * main trace's, gives back the ports and the numbers its packet carries, from
 * a handful of flow entries per file. */
TEST_F(LoaderTest, EveryRecordOfTheBundledCapturesGivesBackItsCarriedHeader)
{
    const std::string dir = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";
    if (FILE *f = std::fopen((dir + "sender.pcap").c_str(), "rb"))
        std::fclose(f);
    else
        GTEST_SKIP() << "sample captures not present";
    std::vector<std::vector<std::string>> rows;
    for (const char *name :
         {"sender.pcap", "receiver.pcap", "sender.pcapng", "bulk-loss-sender.pcap",
          "bulk-loss-receiver.pcap", "drift-sender.pcap", "drift-receiver.pcap", "keepalive.pcap",
          "lan-client.pcap", "lan-server.pcap", "loopback-any-sll.pcap", "loopback-any.pcap",
          "midstream-acks.pcap", "midstream-many.pcap", "midstream-window.pcap", "midstream.pcap",
          "offload-receiver.pcap", "offload-router.pcap", "offload-sender.pcap",
          "slow-client.pcap", "slow-path.pcap", "slow-reader.pcap", "slow-server.pcap",
          "timeout.pcap"})
        rows.push_back({dir + name});
    for (auto pair : {std::make_pair("sender", "receiver"),
                      std::make_pair("bulk-loss-sender", "bulk-loss-receiver"),
                      std::make_pair("drift-sender", "drift-receiver"),
                      std::make_pair("lan-client", "lan-server")}) {
        std::string a = dir + pair.first + ".pcap", b = dir + pair.second + ".pcap";
        rows.push_back({a, b});
        rows.push_back({b, a});
    }
    for (const std::vector<std::string> &files : rows) {
        std::string about = files[0].substr(dir.size()) +
                            (files.size() == 2 ? " " + files[1].substr(dir.size()) : "");
        quiet_load(static_cast<int>(files.size()), files, 1);
        ASSERT_EQ(g_trace.loaded, 1) << about;
        ASSERT_GT(g_trace.main.count, 0) << about;
        EXPECT_EQ(carried::first_mismatch(g_trace.main), "") << about << ", main trace";
        EXPECT_EQ(g_trace.peer.count > 0, files.size() == 2) << about;
        EXPECT_EQ(carried::first_mismatch(g_trace.peer), "") << about << ", peer trace";
        EXPECT_LE(g_trace.flows.count, 8 * static_cast<int32_t>(files.size())) << about;
    }
}
