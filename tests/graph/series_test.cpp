/*
 * series_test.cpp --
 *
 *	The graphs' series of real captures: the time-sequence series agree
 *	with tcptrace's time-sequence graph (tcptrace -S, xplot files) of the
 *	same file, and the other series keep their defining relations.
 *
 *	The one difference, by design: a FIN is a label here, where tcptrace
 *	draws it as a one-byte segment. The ACK and window lines have one
 *	point per ACK in both.
 */

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/line.h"
#include "graph/series.h"
#include "load/loader.h"
#include "support/load_files.h"
#include "support/pcapgen.h"
#include "text/endpoint_text.h"
#include "trace/trace.h"

namespace {

/* What tcptrace's time-sequence graph of one direction shows. */
struct xpl_graph {
    std::string sender;                               /* "addr:port" */
    std::vector<std::tuple<double, double, double>> segments;   /* t, seq, end */
    std::vector<std::pair<double, double>> acks, windows;      /* t, value */
};

/* The segment bars (darrow then its line), and the points of the green
 * (ACK) and yellow (window) lines, of one xplot file: each step runs
 * across at the old value to the new point's time, then up to it. */
xpl_graph read_xpl(const std::string &path)
{
    xpl_graph g;
    std::ifstream in(path);
    std::string line, colour;
    bool pending = false, first_step[2] = {true, true};
    double pt = 0, ps = 0;
    std::vector<std::pair<double, double>> *steps[2] = {&g.acks, &g.windows};
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string word;
        ls >> word;
        if (word == "title") {
            std::getline(in, line);
            g.sender = line.substr(0, line.find("_==>_"));
        } else if (word == "darrow") {
            ls >> pt >> ps;
            pending = true;
        } else if (word == "line") {
            double x1, y1, x2, y2;
            ls >> x1 >> y1 >> x2 >> y2;
            int k = colour == "green" ? 0 : colour == "yellow" ? 1 : -1;
            if (pending && x1 == pt && x2 == pt && y1 == ps) {
                g.segments.emplace_back(pt, ps, y2);
                pending = false;
            } else if (k >= 0 && y1 == y2) {
                if (first_step[k])
                    steps[k]->emplace_back(x1, y1);
                first_step[k] = false;
                steps[k]->emplace_back(x2, y2);
            } else if (k >= 0 && x1 == x2 && !steps[k]->empty() && steps[k]->back().first == x1) {
                steps[k]->back().second = y2;   /* the step up to the new value */
            }
        } else if (word == "FIN" && !g.segments.empty() &&
                   std::get<2>(g.segments.back()) - std::get<1>(g.segments.back()) == 1) {
            g.segments.pop_back();
        } else if (line.find(' ') == std::string::npos && !word.empty() && std::isalpha(word[0])) {
            colour = word;
        }
    }
    return g;
}

/* Equal within what 6 printed decimals and a float time can hold. */
bool near_time(double a, double b)
{
    return std::fabs(a - b) <= 2e-6 + std::fabs(b) * 2.4e-7;
}

const graph_series &series_named(const graph_data &g, const std::string &name)
{
    for (const graph_series &s : g.series) {
        if (s.name == name)
            return s;
    }
    static graph_series none;
    return none;
}

/* Every point of `want` has one of `have` at its time with its value. */
int missing_points(const std::vector<std::pair<double, double>> &want, const graph_series &have)
{
    int missing = 0;
    for (const auto &w : want) {
        auto it = std::lower_bound(have.pts.begin(), have.pts.end(), w.first - 1e-5,
                                   [](const graph_point &p, double t) { return p.t < t; });
        bool found = false;
        for (; it != have.pts.end() && it->t <= w.first + 1e-5 && !found; ++it)
            found = near_time(it->t, w.first) && it->hi == w.second;
        missing += !found;
    }
    return missing;
}

std::string sample(const char *name)
{
    return std::string(WIREPAINT_SOURCE_DIR "/examples/") + name;
}

/* A bulk transfer with losses and reordering from tools/gen-capture. */
std::string generated(const char *name, const char *args, bool receiver = false)
{
    std::string s = pcapgen::temp_path(std::string(name) + "-s.pcap");
    std::string r = pcapgen::temp_path(std::string(name) + "-r.pcap");
    std::string cmd = std::string(WIREPAINT_BINARY_DIR "/gen_capture ") + args + " " + s + " " +
                      r + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return receiver ? r : s;
}

class Series : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

}  // namespace

TEST_F(Series, TimeSequenceAgreesWithTcptrace)
{
    std::string gen = generated("tsg", "-n 4000 -S 3 -l 0.01 -r 0.01 -s 200");
    for (const std::string &file : {sample("sender.pcap"), sample("receiver.pcap"),
                                    sample("loopback-any-sll.pcap"), gen}) {
        load_files({file});
        std::string dir = pcapgen::temp_path("xpl-" + std::to_string(std::rand()));
        std::string cmd = "mkdir -p " + dir + " && cd " + dir + " && tcptrace -n -S -zxy " + file +
                          " >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "tcptrace (tools/install-deps.sh)";
        for (const char *name : {"a2b_tsg.xpl", "b2a_tsg.xpl"}) {
            xpl_graph x = read_xpl(dir + "/" + name);
            graph_data g;
            for (int d = 1; d <= 2; d++) {
                g = build_graph(GRAPH_TSG, d, graph_inputs{nullptr, 0});
                if (g.title.find("  " + x.sender + " \u2192") != std::string::npos)
                    break;
            }
            SCOPED_TRACE(file + " " + name + " " + g.title);
            ASSERT_NE(g.title.find("  " + x.sender + " \u2192"), std::string::npos);
            std::vector<std::tuple<double, double, double>> ours;
            for (const graph_series &s : g.series) {
                if (s.style != STYLE_BARS || s.name.rfind("SACK", 0) == 0)
                    continue;
                for (const graph_point &p : s.pts)
                    ours.emplace_back(p.t, p.lo, p.hi);
            }
            std::sort(ours.begin(), ours.end());
            std::sort(x.segments.begin(), x.segments.end());
            ASSERT_EQ(ours.size(), x.segments.size());
            for (size_t i = 0; i < ours.size(); i++) {
                EXPECT_TRUE(near_time(std::get<0>(ours[i]), std::get<0>(x.segments[i]))) << i;
                EXPECT_EQ(std::get<1>(ours[i]), std::get<1>(x.segments[i])) << i;
                EXPECT_EQ(std::get<2>(ours[i]), std::get<2>(x.segments[i])) << i;
            }
            EXPECT_GT(x.acks.size(), 0u);
            EXPECT_EQ(missing_points(x.acks, series_named(g, "ACK")), 0);
            EXPECT_EQ(x.acks.size(), series_named(g, "ACK").pts.size());
            EXPECT_EQ(x.windows.size(), series_named(g, "receive window").pts.size());
            EXPECT_EQ(missing_points(x.windows, series_named(g, "receive window")), 0);
        }
    }
}

TEST_F(Series, EachTypeKeepsItsRelations)
{
    load_files({sample("sender.pcap"), sample("receiver.pcap")});
    int dir = default_graph_dir();
    graph_data owd = build_graph(GRAPH_OWD, dir, graph_inputs{nullptr, 0});
    EXPECT_GT(series_named(owd, "LR measured").pts.size() + series_named(owd, "RL measured").pts.size(),
              450u);
    graph_data tput = build_graph(GRAPH_TPUT, dir, graph_inputs{nullptr, 0.5});
    const graph_series &thr = series_named(tput, "throughput");
    const graph_series &good = series_named(tput, "goodput (first sent)");
    ASSERT_EQ(thr.pts.size(), good.pts.size());
    for (size_t i = 0; i < thr.pts.size(); i++)
        EXPECT_LE(good.pts[i].hi, thr.pts[i].hi);
    EXPECT_GT(tput.v_max, 1e6);   /* the 4 Mbit/s bottleneck, filled */
    graph_data rtt = build_graph(GRAPH_RTT, dir, graph_inputs{nullptr, 0});
    for (const graph_point &p : series_named(rtt, "ACK time (Karn)").pts)
        EXPECT_NE(g_trace.main.rec[p.rec].mark, 3);
    EXPECT_GT(series_named(rtt, "timestamp echo").pts.size(), 50u);
    graph_data flight = build_graph(GRAPH_INFLIGHT, dir, graph_inputs{nullptr, 0});
    EXPECT_GE(flight.v_min, 0.0);
    EXPECT_GT(series_named(flight, "bytes in flight").pts.size(), 400u);

    /* One file: every delay is an estimate. Event flags become marks. */
    load_files({sample("sender.pcap")});
    owd = build_graph(GRAPH_OWD, 1, graph_inputs{nullptr, 0});
    EXPECT_EQ(series_named(owd, "LR measured").pts.size(), 0u);
    EXPECT_GT(series_named(owd, "LR estimated").pts.size(), 100u);
    std::vector<uint8_t> events(static_cast<size_t>(g_trace.main.count), 0);
    int32_t k = g_trace.main.count - 1;
    while (g_trace.lines[k].dir != default_graph_dir() || g_trace.main.rec[k].paylen <= 0)
        k--;
    events[static_cast<size_t>(k)] = SEG_EVENT_LOST;
    graph_data tsg = build_graph(GRAPH_TSG, default_graph_dir(), graph_inputs{events.data(), 0});
    ASSERT_EQ(series_named(tsg, "event: lost").pts.size(), 1u);
    EXPECT_EQ(series_named(tsg, "event: lost").pts[0].rec, k);
    EXPECT_TRUE(tsg.notes.empty());
}

TEST_F(Series, WindowWithoutHandshakeIsDashedAndSaidUnknown)
{
    pcapgen::capture c;
    pcapgen::tcp_seg s;
    s.seq = 5000;
    s.ack = 9000;
    s.paylen = 100;
    s.win = 100;
    c.add(pcapgen::build_tcp(s), 0.0);
    pcapgen::tcp_seg a;
    a.src = s.dst, a.dst = s.src, a.sport = s.dport, a.dport = s.sport;
    a.seq = 9000, a.ack = 5100, a.win = 200, a.paylen = 0;
    c.add(pcapgen::build_tcp(a), 0.01);
    load_files({c.write()});
    graph_data g = build_graph(GRAPH_TSG, 1, graph_inputs{nullptr, 0});
    ASSERT_EQ(g.notes.size(), 1u);
    EXPECT_EQ(g.notes[0], "window scale unknown");
    const graph_series &w = series_named(g, "receive window");
    EXPECT_EQ(w.dashed, 1);
    ASSERT_EQ(w.pts.size(), 1u);
    EXPECT_EQ(w.pts[0].hi, 100 + 200);
}
