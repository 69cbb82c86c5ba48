/*
 * series_fast_test.cpp --
 *
 *	build_graph against build_graph_literal on random connections: every
 *	graph type, both directions, with and without event flags and a
 *	given throughput window, must come out the same to the bit (series,
 *	points, labels, pyramids, notes, extents, window). The connections
 *	carry TCP options on every segment, on some, or on the SYNs only, so
 *	that both the option reading and its skipping are compared; their
 *	clocks step back now and then, so that the sorting paths run too.
 */

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "graph/series.h"
#include "load/loader.h"
#include "support/load_files.h"
#include "support/pcapgen.h"
#include "trace/trace.h"

namespace {

using pcapgen::bytes;

/* Where a connection's segments carry options beside the SYNs'. */
enum option_mode { OPT_SYN_ONLY, OPT_EVERY, OPT_SOME };

/* `head` followed by the words `v`, most significant byte first. */
bytes with_words(bytes head, std::initializer_list<uint32_t> v)
{
    for (uint32_t w : v)
        for (int s = 24; s >= 0; s -= 8)
            head.push_back(static_cast<uint8_t>(w >> s));
    return head;
}

/* A random connection of `n` segments, written as a capture. */
std::string random_capture(std::mt19937 &rng, int n, option_mode mode, bool handshake)
{
    auto coin = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    pcapgen::capture c;
    uint32_t next[2] = {1001, 7001}, tsval[2] = {50, 900};
    double t = 0;
    auto add = [&](int from, pcapgen::tcp_seg s) {
        if (from == 1) {
            std::swap(s.src, s.dst);
            std::swap(s.sport, s.dport);
        }
        t += coin(3) ? -0.002 * (1 + rng() % 5) : 0.0005 * (1 + rng() % 40);
        c.add(pcapgen::build_tcp(s), 1000 + t);
    };
    for (int from = 0; handshake && from < 2; from++) {
        pcapgen::tcp_seg s;
        s.flags = from == 0 ? 0x02 : 0x12;
        s.seq = next[from] - 1;
        s.ack = from == 0 ? 0 : next[0];
        s.tcp_options = {2, 4, 5, 180, 3, 3, static_cast<uint8_t>(rng() % 16), 1};
        if (coin(70)) {
            bytes ts = with_words({1, 1, 8, 10}, {tsval[from], tsval[1 - from]});
            s.tcp_options.insert(s.tcp_options.end(), ts.begin(), ts.end());
        }
        add(from, s);
    }
    for (int k = 0; k < n; k++) {
        int from = coin(55) ? 0 : 1, peer = 1 - from;
        pcapgen::tcp_seg s;
        int len = coin(40) ? 0 : static_cast<int>(1 + rng() % 1400);
        s.seq = next[from];
        if (len > 0 && coin(10))
            s.seq = next[from] - static_cast<uint32_t>(rng() % 6000);   /* sent again */
        else
            next[from] += static_cast<uint32_t>(len);
        s.paylen = len;
        s.ack = next[peer] - (coin(20) ? static_cast<uint32_t>(rng() % 3000) : 0);
        s.win = coin(5) ? 0 : static_cast<uint16_t>(rng() % 65536);
        if (coin(2))
            s.flags |= coin(50) ? 0x01 : 0x04;
        bool options = mode == OPT_EVERY || (mode == OPT_SOME && coin(30));
        if (options && coin(85)) {
            tsval[from] += coin(70) ? static_cast<uint32_t>(rng() % 3) : 0;
            uint32_t ecr = coin(90) ? tsval[peer] : 12345;
            s.tcp_options = with_words({1, 1, 8, 10}, {tsval[from], ecr});
        }
        if (options && coin(25)) {
            int blocks = 1 + static_cast<int>(rng() % 3);
            bytes sack = {1, 1, 5, static_cast<uint8_t>(2 + 8 * blocks)};
            for (int b = 0; b < blocks; b++) {
                uint32_t left = s.ack + static_cast<uint32_t>(rng() % 20000) - 2000;
                sack = with_words(sack, {left, left + static_cast<uint32_t>(1 + rng() % 3000)});
            }
            if (s.tcp_options.size() + sack.size() <= 40)
                s.tcp_options.insert(s.tcp_options.end(), sack.begin(), sack.end());
        }
        if (options && s.tcp_options.empty())
            s.tcp_options = {1, 1, 1, 1};
        add(from, s);
    }
    return c.write();
}

/* Equal to the bit (a signed zero is not the other zero). */
template <class T> bool same_bits(const T &a, const T &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void expect_same_graph(const graph_data &a, const graph_data &b)
{
    EXPECT_EQ(std::tie(a.type, a.dir, a.title, a.unit, a.y_name, a.notes),
              std::tie(b.type, b.dir, b.title, b.unit, b.y_name, b.notes));
    for (double graph_data::*f : {&graph_data::t_min, &graph_data::t_max, &graph_data::v_min,
                                  &graph_data::v_max, &graph_data::window})
        EXPECT_TRUE(same_bits(a.*f, b.*f));
    ASSERT_EQ(a.series.size(), b.series.size());
    for (size_t s = 0; s < a.series.size(); s++) {
        const graph_series &x = a.series[s], &y = b.series[s];
        EXPECT_EQ(
            std::tie(x.name, x.colour, x.style, x.dashed, x.labels, x.pyr.lo_min, x.pyr.hi_max),
            std::tie(y.name, y.colour, y.style, y.dashed, y.labels, y.pyr.lo_min, y.pyr.hi_max));
        ASSERT_EQ(x.pts.size(), y.pts.size()) << x.name;
        for (size_t i = 0; i < x.pts.size(); i++) {
            const graph_point &p = x.pts[i], &q = y.pts[i];
            ASSERT_TRUE(same_bits(p.t, q.t) && p.rec == q.rec && same_bits(p.lo, q.lo) &&
                        same_bits(p.hi, q.hi))
                << x.name << " point " << i;
        }
    }
}

/* Compares the fast and the literal build of every type and direction
 * with each of `ins`; adds each type's points to `points`. */
void expect_same_graphs(const std::vector<graph_inputs> &ins, const std::string &what,
                        size_t points[GRAPH_TYPES])
{
    for (int type = 0; type < GRAPH_TYPES; type++) {
        for (int dir = 1; dir <= 2; dir++) {
            for (const graph_inputs &in : ins) {
                SCOPED_TRACE(what + " type " + std::to_string(type) + " dir " +
                             std::to_string(dir));
                graph_type t = static_cast<graph_type>(type);
                graph_data fast = build_graph(t, dir, in);
                expect_same_graph(fast, build_graph_literal(t, dir, in));
                for (const graph_series &x : fast.series)
                    points[type] += x.pts.size();
            }
        }
    }
}

class SeriesFast : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

}  // namespace

TEST_F(SeriesFast, EqualsLiteralOnRandomConnections)
{
    std::mt19937 rng(20231);
    int skipped = 0;
    for (int round = 0; round < 60; round++) {
        option_mode mode = static_cast<option_mode>(round % 3);
        int n = 200 + static_cast<int>(rng() % 1800);
        ASSERT_NO_FATAL_FAILURE(load_files({random_capture(rng, n, mode, round % 7 != 3)}));
        /* The decoder's count tells the builds where options can be. */
        bool syn_only = g_trace.main.option_free == g_trace.main.count;
        EXPECT_EQ(syn_only, mode == OPT_SYN_ONLY) << round;
        skipped += syn_only;
        std::vector<uint8_t> events(static_cast<size_t>(g_trace.main.count));
        for (uint8_t &e : events)
            e = rng() % 4 == 0 ? static_cast<uint8_t>(rng() % 16) : 0;
        size_t points[GRAPH_TYPES] = {};
        expect_same_graphs({{nullptr, 0}, {events.data(), 0.05}},
                           "round " + std::to_string(round), points);
    }
    EXPECT_EQ(skipped, 20);
}

TEST_F(SeriesFast, EqualsLiteralOnTwoCaptures)
{
    /* Measured and estimated delays, losses, reordering and a clock
     * offset: the pair from tools/gen-capture, and each file alone. */
    std::string s = pcapgen::temp_path("pair-s.pcap"), r = pcapgen::temp_path("pair-r.pcap");
    std::string cmd = std::string(WIREPAINT_BINARY_DIR "/gen_capture ") +
                      "-n 6000 -S 5 -l 0.02 -r 0.02 -o 0.3 " + s + " " + r + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (const std::vector<std::string> &files :
         {std::vector<std::string>{s, r}, std::vector<std::string>{r}}) {
        ASSERT_NO_FATAL_FAILURE(load_files(files));
        size_t points[GRAPH_TYPES] = {};
        expect_same_graphs({{nullptr, 0}}, std::to_string(files.size()) + " files,", points);
        for (int type = 0; type < GRAPH_TYPES; type++)
            EXPECT_GT(points[type], 0u) << type;
    }
}
