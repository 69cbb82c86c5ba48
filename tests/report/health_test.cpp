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

/* The verdicts' thresholds, each just held and just missed. */
TEST(HealthVerdict, FirstThatHoldsInOrder)
{
    auto base = [] {
        conn_health h{};
        h.duration = 10.0;
        h.rtt_median = h.initial_rtt = 0.05;
        h.data_segments[0] = h.data_segments[1] = 1000;
        h.handshake = h.ended = 1;
        return h;
    };
    struct {
        const char *what;
        void (*change)(conn_health &);
        const char *verdict;
    } rows[] = {
        {"nothing", [](conn_health &) {}, "ok"},
        {"reset over all", [](conn_health &h) { h.reset = 1; h.zero_windows[0] = 3; }, "reset"},
        {"stall of 1 s", [](conn_health &h) { h.longest_stall = 1.0; h.stall_cause = STALL_UNKNOWN; }, "stalled"},
        {"stall of 0.99 s", [](conn_health &h) { h.longest_stall = 0.99; h.stall_cause = STALL_UNKNOWN; }, "ok"},
        {"stall of 10%", [](conn_health &h) { h.duration = 2.0; h.longest_stall = 0.2; h.stall_cause = STALL_TIMEOUT; }, "stalled"},
        {"11 of 1000 resent", [](conn_health &h) { h.retransmissions[1] = 11; }, "loss"},
        {"10 of 1000 resent", [](conn_health &h) { h.retransmissions[0] = 10; }, "ok"},
        {"1 of 4 resent", [](conn_health &h) { h.data_segments[1] = 4; h.retransmissions[1] = 1; }, "loss"},
        {"a zero window", [](conn_health &h) { h.zero_windows[1] = 1; }, "window"},
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
        EXPECT_EQ(line.substr(line.size() - 3), line[0] == '#' ? "ict" : " ok");
    }
    std::string csv = run(std::string(WIREPAINT_BINARY) + " -L -x - " + file);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "number,from,to,packets_from,bytes_from,packets_to,bytes_to,first,last,duration,"
              "rtt_median,initial_rtt,client_wait,server_wait,retransmissions_from,"
              "retransmissions_to,lost_from,lost_to,zero_windows_from,zero_windows_to,"
              "longest_stall,stall_cause,goodput_from,goodput_to,verdict");
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
