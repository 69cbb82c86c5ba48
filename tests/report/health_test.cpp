/*
 * health_test.cpp --
 *
 *	The health table against what it must agree with: the truth of a
 *	generated server capture of many connections with injected
 *	retransmissions, zero windows and pauses; the events and statistics
 *	of each connection loaded alone (-c N); real captures of a slow path,
 *	a slow client and a slow server; tshark's initial round trip; the
 *	command line's -L and -L -x.
 */

#include "report/health.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/events.h"
#include "load/choose.h"
#include "load/loader.h"
#include "report/stats.h"
#include "support/pcapgen.h"
#include "trace/trace.h"

namespace {

const std::string examples = WIREPAINT_SOURCE_DIR "/examples/";

std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while (p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    EXPECT_TRUE(p != nullptr && pclose(p) == 0) << cmd;
    return out;
}

/* A gen_many capture and its truth: connection number -> kind. */
struct many_capture {
    std::string path;
    std::map<size_t, std::string> truth;
};

many_capture make_many(int conns, int each, int seed)
{
    many_capture m;
    m.path = pcapgen::temp_path("many.pcap");
    std::string truth = pcapgen::temp_path("many.txt");
    run(std::string(WIREPAINT_BINARY_DIR "/gen_many") + " -n " + std::to_string(conns) +
        " -l " + std::to_string(each) + " -z " + std::to_string(each) + " -p " +
        std::to_string(each) + " -S " + std::to_string(seed) + " " + m.path + " " + truth);
    std::ifstream in(truth);
    size_t n;
    std::string kind;
    while (in >> n >> kind)
        m.truth[n] = kind;
    return m;
}

/* What -c N gives of one connection: its events counted the table's way,
 * and -S's longest stall. */
struct alone {
    int64_t retransmissions[2] = {0, 0}, lost[2] = {0, 0}, zero_windows[2] = {0, 0};
    std::string longest;   /* -S's first "Longest stalls" line, "" none */
};

alone load_alone(const std::string &file, int number, const health_row &row)
{
    trace_state_clear();
    std::string copy = file;
    char *names[] = {&copy[0]};
    choose_connection(1, names, number);
    load_traces(1, names, 1);
    /* The same connection: as many segments as the row counts. */
    EXPECT_EQ(static_cast<uint64_t>(g_trace.main.count), row.conn.packets[0] + row.conn.packets[1])
        << file << " #" << number;
    alone a;
    const uint16_t resent = (1u << EV_RETRANSMISSION) | (1u << EV_FAST_RETRANSMISSION) |
                            (1u << EV_SPURIOUS_RETRANSMISSION) | (1u << EV_TIMEOUT_RETRANSMISSION);
    for (size_t i = 0; i < g_events.seg.size(); i++) {
        const seg_event_bits &e = g_events.seg[i];
        a.retransmissions[e.dir] += (e.kinds & resent) != 0;
        a.lost[e.dir] += (e.kinds >> EV_LOST_SEGMENT) & 1;
        a.zero_windows[e.dir] += (e.kinds >> EV_ZERO_WINDOW) & 1;
    }
    std::string text = statistics_text();
    size_t at = text.find("Longest stalls (segment, direction, length, cause):\n");
    if (at != std::string::npos) {
        size_t from = text.find('\n', at) + 1;
        a.longest = text.substr(from, text.find('\n', from) - from);
    }
    trace_state_clear();
    conn_select_clear();
    return a;
}

/* The row's longest stall as -S writes it, "" for none. */
std::string longest_text(const conn_health &h)
{
    if (h.stall_cause == STALL_NONE)
        return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%10.6f s  %s", h.longest_stall,
                  stall_cause_names[h.stall_cause]);
    return buf;
}

void expect_agrees(const health_row &r, const alone &a, const std::string &what)
{
    for (int d = 0; d < 2; d++) {
        EXPECT_EQ(r.health.retransmissions[d], a.retransmissions[d]) << what << " way " << d;
        EXPECT_EQ(r.health.lost[d], a.lost[d]) << what << " way " << d;
        EXPECT_EQ(r.health.zero_windows[d], a.zero_windows[d]) << what << " way " << d;
    }
    std::string mine = longest_text(r.health);
    if (mine.empty()) {
        EXPECT_EQ(a.longest, "") << what;
    } else {
        EXPECT_NE(a.longest.find(mine), std::string::npos) << what << ": " << a.longest;
    }
}

class Health : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override
    {
        trace_state_clear();
        conn_select_clear();
    }
};

/* Every injected kind is found on exactly its connections, with its
 * verdict, and nothing anywhere else; the sampled rows say what the
 * connection loaded alone says. */
TEST_F(Health, InjectedTroubleIsFoundExactlyOnItsConnections)
{
    many_capture m = make_many(300, 4, 7);
    ASSERT_EQ(m.truth.size(), 12u);
    std::vector<health_row> rows = health_table(m.path.c_str());
    ASSERT_EQ(rows.size(), 300u);
    for (size_t i = 0; i < rows.size(); i++) {
        const conn_health &h = rows[i].health;
        auto t = m.truth.find(i + 1);
        std::string kind = t == m.truth.end() ? "ok" : t->second;
        SCOPED_TRACE("connection " + std::to_string(i + 1) + " " + kind);
        EXPECT_EQ(verdict_names[h.verdict], kind);
        /* The client sent first: "to" is the server's way. */
        EXPECT_EQ(h.retransmissions[0], 0);
        EXPECT_EQ(h.retransmissions[1], kind == "loss" ? 1 : 0);
        EXPECT_EQ(h.zero_windows[0], kind == "window" ? 1 : 0);
        EXPECT_EQ(h.zero_windows[1], 0);
        EXPECT_EQ(h.lost[0] + h.lost[1], 0);
        EXPECT_EQ(h.stall_cause, kind == "stalled" ? STALL_APPLICATION : STALL_NONE);
        EXPECT_NEAR(h.longest_stall, kind == "stalled" ? 1.5 : 0.0, 0.001);
        EXPECT_EQ(h.handshake, 1);
        EXPECT_EQ(h.ended, 1);
        EXPECT_EQ(h.exchanges, 1);
        EXPECT_GT(h.initial_rtt, 0.0019);
        EXPECT_LT(h.initial_rtt, 0.0301);
        /* The ack times at the server are the round trip to the client. */
        EXPECT_NEAR(h.rtt_median, h.initial_rtt, 0.0002);
    }
    std::vector<size_t> sample;
    for (const auto &t : m.truth)
        sample.push_back(t.first);
    for (size_t n : {1, 2, 150, 299, 300})
        sample.push_back(n);
    for (size_t n : sample)
        expect_agrees(rows[n - 1], load_alone(m.path, static_cast<int>(n), rows[n - 1]),
                      "connection " + std::to_string(n));
}

/* The real sample captures: each row agrees with its connection alone. */
TEST_F(Health, RowsOfTheSampleCapturesAgreeWithEachConnectionAlone)
{
    const char *files[] = {"sender.pcap",     "receiver.pcap",     "bulk-loss-sender.pcap",
                           "timeout.pcap",    "slow-reader.pcap",  "keepalive.pcap",
                           "loopback-any.pcap", "lan-client.pcap", "slow-path.pcap",
                           "slow-client.pcap", "slow-server.pcap"};
    for (const char *f : files) {
        std::string path = examples + f;
        std::vector<health_row> rows = health_table(path.c_str());
        ASSERT_FALSE(rows.empty()) << f;
        for (size_t i = 0; i < rows.size(); i++)
            expect_agrees(rows[i], load_alone(path, static_cast<int>(i + 1), rows[i]),
                          std::string(f) + " #" + std::to_string(i + 1));
    }
}

/* A slow path, a slow client and a slow server, made for real: each its
 * verdict, and the waits within 10 ms of the sleeps. */
TEST_F(Health, TheThreeCausesOfASlowRequest)
{
    struct {
        const char *file, *verdict;
        double client, server, initial_rtt;
    } rows[] = {{"slow-path.pcap", "network", 0.0, 0.0, 0.9},
                {"slow-client.pcap", "client", 1.35, 0.0, 0.01},
                {"slow-server.pcap", "server", 0.0, 0.98, 0.01}};
    for (const auto &r : rows) {
        std::vector<health_row> t = health_table((examples + r.file).c_str());
        ASSERT_EQ(t.size(), 1u) << r.file;
        const conn_health &h = t[0].health;
        EXPECT_EQ(verdict_names[h.verdict], std::string(r.verdict)) << r.file;
        EXPECT_NEAR(h.client_wait, r.client, 0.010) << r.file;
        EXPECT_NEAR(h.server_wait, r.server, 0.010) << r.file;
        EXPECT_NEAR(h.initial_rtt, r.initial_rtt, 0.010) << r.file;
        EXPECT_EQ(h.exchanges, 1) << r.file;
        EXPECT_EQ(h.stall_cause, STALL_NONE) << r.file;
    }
}

/* The seven kinds of trouble made for real (tools/make_verdict_samples.sh),
 * each captured at the client: its verdict and reason; no handshake round
 * trip without a SYN-ACK; the round trip at least half the handshake's;
 * a pause between exchanges is the client's wait, not a stall. */
TEST_F(Health, TheSevenKindsMadeForReal)
{
    struct {
        const char *file, *verdict, *reason, *cause;
        double client_wait;
    } rows[] = {
        {"verdict-ok.pcap", "ok", "", "", 0.0},
        {"verdict-unanswered.pcap", "unanswered", "4 SYNs over 3.1 s, no answer", "", 0.0},
        {"verdict-refused.pcap", "refused", "the SYN answered by a reset", "", 0.0},
        {"verdict-think.pcap", "client", "client waited 1.51 s before its next request", "", 1.508},
        {"verdict-pause.pcap", "stalled", "server paused 1.48 s mid-transfer, nothing outstanding",
         "application", 0.0},
        {"verdict-slow-reader.pcap", "window", "server held by the client's window 39% of the time",
         "", 0.0},
        {"verdict-drop.pcap", "loss", "11 retransmissions, 28 lost (2.7%)", "", 0.0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.file);
        std::string path = examples + r.file;
        std::vector<health_row> t = health_table(path.c_str());
        ASSERT_EQ(t.size(), 1u);
        const conn_health &h = t[0].health;
        EXPECT_STREQ(verdict_names[h.verdict], r.verdict);
        EXPECT_EQ(health_reason(t[0]), r.reason);
        EXPECT_STREQ(stall_cause_names[h.stall_cause], r.cause);
        EXPECT_NEAR(h.client_wait, r.client_wait, 0.001);
        /* The client (end 0) is the capture host: its packets leave with
         * TTL 64, the server's arrive with 62 (when there are any). */
        EXPECT_EQ(h.capture, h.answered ? CAPTURE_AT_END0 : CAPTURE_IN_PATH);
        if (h.handshake) {
            EXPECT_GE(h.rtt_median, 0.5 * h.initial_rtt);
            EXPECT_LE(h.rtt_median, 2.0 * h.initial_rtt);
        } else {
            EXPECT_EQ(h.initial_rtt, -1.0);
            EXPECT_EQ(h.rtt_median, -1.0);
        }
        /* -c 1 -E and -S say the same of it. */
        expect_agrees(t[0], load_alone(path, 1, t[0]), r.file);
    }
}

/*
 * One request and a four-segment answer as a capture point sees it: `rc`
 * and `rs` the round trips from it to the client and to the server (the
 * ends answer at once but for the client's ACKs of the answer, delayed by
 * `ack_delay`), the TTLs as the packets arrive there.
 */
std::string exchange_capture(int ttl_client, int ttl_server, double rc, double rs,
                             double ack_delay)
{
    pcapgen::capture cap;
    double t = 0.0;
    auto add = [&](bool client, uint32_t seq, uint32_t ack, uint8_t flags, int len) {
        pcapgen::tcp_seg g;
        if (!client) {
            std::swap(g.src, g.dst);
            std::swap(g.sport, g.dport);
        }
        g.seq = seq;
        g.ack = ack;
        g.flags = flags;
        g.paylen = len;
        g.ttl = static_cast<uint8_t>(client ? ttl_client : ttl_server);
        cap.add(pcapgen::build_tcp(g), t);
    };
    const uint8_t S = TH_SYN, A = TH_ACK, F = TH_FIN | TH_ACK;
    add(true, 100, 0, S, 0);
    t += rs;
    add(false, 500, 101, S | A, 0);
    t += rc;
    add(true, 101, 501, A, 0);
    add(true, 101, 501, A, 100);
    t += rs;
    for (uint32_t k = 0; k < 4; k++, t += 0.0001)
        add(false, 501 + k * 1000, 201, A, 1000);
    t += rc + ack_delay - 0.0004;
    for (uint32_t k = 1; k <= 4; k++, t += 0.0001)
        add(true, 201, 501 + k * 1000, A, 0);
    add(false, 4501, 201, F, 0);
    t += rc;
    add(true, 201, 4502, F, 0);
    t += rs;
    add(false, 4502, 202, A, 0);
    return cap.write();
}

/* The round trip wherever the capture was taken: at the client its own
 * delayed ACKs do not count; at the server its segments' ACKs are the
 * round trip; in the path the two halves add up; with TTLs that tell
 * nothing the handshake says where. */
TEST_F(Health, TheRoundTripWhereverTheCaptureWasTaken)
{
    struct {
        const char *where;
        int ttl_client, ttl_server;
        double rc, rs, ack_delay;
        int place;
        double rtt;
    } rows[] = {
        {"at the client", 64, 62, 0.00005, 0.024, 0.040, CAPTURE_AT_END0, 0.024},
        {"at the client, TTLs alike", 64, 64, 0.00005, 0.024, 0.040, CAPTURE_AT_END0, 0.024},
        {"at the server", 61, 64, 0.024, 0.00005, 0.0, CAPTURE_AT_END1, 0.024},
        {"at the server, TTLs alike", 128, 128, 0.024, 0.00005, 0.0, CAPTURE_AT_END1, 0.024},
        {"in the path", 63, 61, 0.004, 0.020, 0.0, CAPTURE_IN_PATH, 0.024},
    };
    for (const auto &r : rows) {
        std::string path = exchange_capture(r.ttl_client, r.ttl_server, r.rc, r.rs, r.ack_delay);
        std::vector<health_row> t = health_table(path.c_str());
        ASSERT_EQ(t.size(), 1u) << r.where;
        EXPECT_EQ(t[0].health.capture, r.place) << r.where;
        EXPECT_NEAR(t[0].health.rtt_median, r.rtt, 0.0002) << r.where;
        EXPECT_STREQ(verdict_names[t[0].health.verdict], "ok") << r.where;
    }
}

/* -S says what each ack-time column is: at the capture host, its own
 * segments' round trip and its ACK delay; in the path, each way's half. */
TEST_F(Health, StatisticsNameTheAckTimes)
{
    struct {
        std::string path;
        const char *row;
    } rows[] = {
        {examples + "verdict-ok.pcap", "  ack time, s                            round trip ACK delay at L\n"},
        {exchange_capture(63, 61, 0.004, 0.020, 0.0),
         "  ack time, s                         to R and back  to L and back\n"},
    };
    for (const auto &r : rows) {
        trace_state_clear();
        std::string copy = r.path;
        char *names[] = {&copy[0]};
        load_traces(1, names, 1);
        EXPECT_NE(statistics_text().find(r.row), std::string::npos) << statistics_text();
    }
}

/* initial_rtt is tshark's tcp.analysis.initial_rtt of the connection. */
TEST_F(Health, InitialRoundTripIsTsharks)
{
    for (const char *f : {"sender.pcap", "receiver.pcap", "bulk-loss-receiver.pcap",
                          "drift-sender.pcap", "lan-server.pcap", "slow-path.pcap",
                          "loopback-any.pcap"}) {
        std::string path = examples + f;
        std::istringstream out(run("tshark -r '" + path + "' -T fields -e tcp.stream "
                                   "-e tcp.analysis.initial_rtt 2>/dev/null"));
        std::map<int, double> tshark;
        int stream;
        std::string line;
        while (std::getline(out, line)) {
            std::istringstream l(line);
            double v;
            if (l >> stream >> v)
                tshark.emplace(stream, v);
        }
        std::vector<health_row> rows = health_table(path.c_str());
        for (size_t i = 0; i < rows.size(); i++) {
            auto t = tshark.find(static_cast<int>(i));
            double want = t == tshark.end() ? -1.0 : t->second;
            EXPECT_NEAR(rows[i].health.initial_rtt, want, 2e-6) << f << " #" << i + 1;
        }
    }
}

/* The verdicts' thresholds, each just held and just missed, and their
 * order: the first that holds. */
TEST(HealthVerdict, FirstThatHoldsInOrder)
{
    auto base = [] {
        conn_health h{};
        h.duration = 10.0;
        h.rtt_median = h.initial_rtt = 0.05;
        h.data_segments[0] = h.data_segments[1] = 1000;
        h.handshake = h.ended = 1;
        h.syns = 1;
        h.answered = 1;
        return h;
    };
    struct {
        const char *what;
        void (*change)(conn_health &);
        const char *verdict;
    } rows[] = {
        {"nothing", [](conn_health &) {}, "ok"},
        {"SYNs, nothing back", [](conn_health &h) { h.answered = 0; h.reset = 1; h.retransmissions[0] = 5; }, "unanswered"},
        {"no SYN, nothing back", [](conn_health &h) { h.syns = 0; h.answered = 0; }, "ok"},
        {"SYN answered by a reset", [](conn_health &h) { h.refused = h.reset = 1; h.handshake = 0; }, "refused"},
        {"reset over all", [](conn_health &h) { h.reset = 1; h.zero_windows[0] = 3; h.stall_longest_by[STALL_APPLICATION] = 5; }, "reset"},
        {"application stall of 1 s", [](conn_health &h) { h.stall_longest_by[STALL_APPLICATION] = 1.0f; h.retransmissions[0] = 50; }, "stalled"},
        {"application stall of 0.99 s", [](conn_health &h) { h.stall_longest_by[STALL_APPLICATION] = 0.99f; }, "ok"},
        {"application stall of 10%", [](conn_health &h) { h.duration = 2.0; h.stall_longest_by[STALL_APPLICATION] = 0.2f; }, "stalled"},
        {"unknown stall of 2 s", [](conn_health &h) { h.stall_longest_by[STALL_UNKNOWN] = 2.0f; }, "ok"},
        {"timeout stall of 1 s", [](conn_health &h) { h.stall_longest_by[STALL_TIMEOUT] = 1.0f; h.retransmissions[1] = 1; }, "loss"},
        {"timeout stall of 0.9 s", [](conn_health &h) { h.stall_longest_by[STALL_TIMEOUT] = 0.9f; }, "ok"},
        {"11 of 1000 resent", [](conn_health &h) { h.retransmissions[1] = 11; }, "loss"},
        {"10 of 1000 resent", [](conn_health &h) { h.retransmissions[0] = 10; }, "ok"},
        {"11 of 1000 lost before the capture", [](conn_health &h) { h.lost[1] = 11; h.retransmissions[1] = 3; }, "loss"},
        {"1 of 4 resent", [](conn_health &h) { h.data_segments[1] = 4; h.retransmissions[1] = 1; }, "loss"},
        {"resent, the window held longer", [](conn_health &h) { h.retransmissions[1] = 20; h.zero_windows[0] = 2; h.recovery[1] = 0.2f; h.window_held[1] = 1.5f; }, "window"},
        {"resent longer than the window held", [](conn_health &h) { h.retransmissions[1] = 20; h.zero_windows[0] = 2; h.recovery[1] = 1.5f; h.window_held[1] = 0.2f; }, "loss"},
        {"a zero window", [](conn_health &h) { h.zero_windows[1] = 1; }, "window"},
        {"zero-window stall of 1 s", [](conn_health &h) { h.stall_longest_by[STALL_ZERO_WINDOW] = 1.0f; }, "window"},
        {"21% window limited", [](conn_health &h) { h.window_limited[0] = 2.1; }, "window"},
        {"20% window limited", [](conn_health &h) { h.window_limited[0] = 2.0; }, "ok"},
        {"server 2.5 s of 10", [](conn_health &h) { h.server_wait = 2.5; h.client_wait = 5; }, "server"},
        {"server 2.4 s of 10", [](conn_health &h) { h.server_wait = 2.4; }, "ok"},
        {"server 0.19 s of 0.5", [](conn_health &h) { h.duration = 0.5; h.server_wait = 0.19; }, "ok"},
        {"client 0.2 s of 0.8", [](conn_health &h) { h.duration = 0.8; h.client_wait = 0.2; }, "client"},
        {"handshake 0.2 s", [](conn_health &h) { h.initial_rtt = 0.2; }, "network"},
        {"acks 0.3 s, handshake fast", [](conn_health &h) { h.rtt_median = 0.3; }, "ok"},
        {"no handshake, acks 0.2 s", [](conn_health &h) { h.initial_rtt = -1; h.handshake = 0; h.rtt_median = 0.2; }, "network"},
        {"no handshake", [](conn_health &h) { h.initial_rtt = -1; h.handshake = 0; }, "incomplete"},
        {"no end", [](conn_health &h) { h.ended = 0; }, "incomplete"},
    };
    for (const auto &r : rows) {
        conn_health h = base();
        r.change(h);
        EXPECT_STREQ(verdict_names[judge_health(h)], r.verdict) << r.what;
    }
}

/* -L keeps the list's numbers and columns and adds the health; -L -x
 * writes the CSV, to a file or to standard output. */
TEST_F(Health, CommandLineTableAndCsv)
{
    std::string file = examples + "loopback-any.pcap";
    std::vector<health_row> rows = health_table(file.c_str());
    std::vector<conn_row> plain;
    for (const health_row &r : rows)
        plain.push_back(r.conn);
    std::vector<std::string> before = connection_table(plain);
    std::string text = run(std::string(WIREPAINT_BINARY) + " -L " + file);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "# " + file + ": 3 TCP connections");
    for (const std::string &old : before) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.substr(0, old.size()), old);
        /* The verdict, then the reason: none for ok. */
        std::string end = line[0] == '#' ? " verdict    reason" : " ok         -";
        EXPECT_EQ(line.substr(line.size() - end.size()), end);
    }
    std::string csv = run(std::string(WIREPAINT_BINARY) + " -L -x - " + file);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "number,from,to,packets_from,bytes_from,packets_to,bytes_to,first,last,duration,"
              "rtt_median,initial_rtt,client_wait,server_wait,retransmissions_from,"
              "retransmissions_to,lost_from,lost_to,zero_windows_from,zero_windows_to,"
              "longest_stall,stall_cause,goodput_from,goodput_to,verdict,reason");
    std::string expected = std::string(health_csv_header) + "\n";
    for (size_t i = 0; i < rows.size(); i++)
        expected += health_csv_row(rows[i], i + 1) + "\n";
    EXPECT_EQ(csv, expected);
    EXPECT_EQ(expected.substr(expected.find('\n') + 1, 34),
              "1,127.0.0.1:34086,127.0.0.1:45123,");
    std::string out = pcapgen::temp_path("table.csv");
    run(std::string(WIREPAINT_BINARY) + " -L -x " + out + " " + file);
    std::ifstream in(out);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), expected);
    EXPECT_EQ(std::system((std::string(WIREPAINT_BINARY) + " -L -x /nonexistent/dir/t.csv " +
                           file + " 2>/dev/null").c_str()) != 0,
              true);
}

}  // namespace
