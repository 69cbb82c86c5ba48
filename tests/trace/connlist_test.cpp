/*
 * connlist_test.cpp --
 *
 *	The connection list of a capture and the choice of connection that
 *	the decoder follows: captures with several connections written
 *	through libpcap, the real loopback captures of examples/, and what
 *	tcpdump shows of the same files.
 */

#include "trace/connlist.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "support/readback.h"
#include "trace/dropnote.h"
#include "trace/flow.h"
#include "trace/trace.h"

using pcapgen::build_tcp;
using pcapgen::capture;
using pcapgen::tcp_seg;

namespace {

tcp_seg seg(const std::string &src, uint16_t sport, const std::string &dst, uint16_t dport,
            uint8_t flags, int paylen)
{
    tcp_seg s;
    s.v6 = src.find(':') != std::string::npos;
    s.src = src;
    s.dst = dst;
    s.sport = sport;
    s.dport = dport;
    s.flags = flags;
    s.paylen = paylen;
    s.seq = 1000;
    return s;
}

/*
 * Four connections, interleaved: A 10.0.0.1:40000 > 10.0.0.2:80, B the
 * same hosts from port 40001, C over IPv6, D both ends on 127.0.0.1; a
 * UDP datagram and a TCP segment cut before its ports, neither counted.
 */
std::string four_connections()
{
    capture c;
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 5353, 53, 10), 1.0);
    c.add(build_tcp(seg("10.0.0.1", 40000, "10.0.0.2", 80, TH_SYN, 0)), 1.5);
    c.add(build_tcp(seg("10.0.0.2", 40001, "10.0.0.1", 80, TH_SYN, 0)), 2.0);  /* B, from .2 */
    c.add(build_tcp(seg("10.0.0.2", 80, "10.0.0.1", 40000, TH_SYN | TH_ACK, 0)), 2.25);
    c.add(build_tcp(seg("2001:db8::1", 443, "2001:db8::2", 50000, TH_ACK, 1200)), 3.0);
    c.add(build_tcp(seg("10.0.0.1", 40000, "10.0.0.2", 80, TH_ACK | TH_PUSH, 300)), 3.5);
    c.add(build_tcp(seg("127.0.0.1", 5000, "127.0.0.1", 6000, TH_ACK, 7)), 4.0);
    c.add(build_tcp(seg("127.0.0.1", 6000, "127.0.0.1", 5000, TH_ACK, 0)), 4.5);
    c.add(build_tcp(seg("10.0.0.1", 40000, "10.0.0.2", 80, TH_ACK, 0)), 5.0, 14 + 20 + 2);
    c.add(build_tcp(seg("2001:db8::2", 50000, "2001:db8::1", 443, TH_ACK, 0)), 6.0);
    c.add(build_tcp(seg("2001:db8::1", 443, "2001:db8::2", 50000, TH_ACK, 800)), 6.5);
    return c.write();
}

/* Directed packet counts of tcpdump -nn -r, keyed "from > to" in the
 * table's address:port form; empty when tcpdump cannot be run. */
std::map<std::string, int> tcpdump_counts(const std::string &path, bool *ran)
{
    std::map<std::string, int> counts;
    std::string cmd = "tcpdump -nn -r '" + path + "' tcp 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    *ran = p != nullptr;
    if (p == nullptr)
        return counts;
    auto end_text = [](std::string t) {
        if (!t.empty() && t.back() == ':')
            t.pop_back();
        size_t dot = t.rfind('.');
        std::string addr = t.substr(0, dot), port = t.substr(dot + 1);
        if (addr.find(':') != std::string::npos)
            return "[" + addr + "]:" + port;
        return addr + ":" + port;
    };
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::vector<std::string> words;
        for (char *w = std::strtok(line, " \n"); w != nullptr; w = std::strtok(nullptr, " \n"))
            words.push_back(w);
        for (size_t i = 0; i + 3 < words.size(); i++) {
            if ((words[i] == "IP" || words[i] == "IP6") && words[i + 2] == ">") {
                counts[end_text(words[i + 1]) + " > " + end_text(words[i + 3])]++;
                break;
            }
        }
    }
    *ran = pclose(p) == 0 && !counts.empty();
    return counts;
}

class ConnlistTest : public testing::Test {
protected:
    void TearDown() override
    {
        conn_select_clear();
        trace_state_clear();
    }
};

}  // namespace

TEST_F(ConnlistTest, ListsEveryConnectionInOrderOfItsFirstSegment)
{
    std::vector<conn_row> rows = list_connections(four_connections().c_str());
    std::vector<std::string> table = connection_table(rows);
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0].substr(0, 1), "#");
    const char *want[] = {
        "1    10.0.0.1:40000         10.0.0.2:80                   2        300        1          "
        "0 1.500000          3.500000          2.000000",
        "2    10.0.0.2:40001         10.0.0.1:80                   1          0        0          "
        "0 2.000000          2.000000          0.000000",
        "3    [2001:db8::1]:443      [2001:db8::2]:50000           2       2000        1          "
        "0 3.000000          6.500000          3.500000",
        "4    127.0.0.1:5000         127.0.0.1:6000                1          7        1          "
        "0 4.000000          4.500000          0.500000",
    };
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(table[(size_t)i + 1], want[i]);
    EXPECT_EQ(conn_end_text(rows[2].ends, 1), "[2001:db8::2]:50000");
}

TEST_F(ConnlistTest, AgreesWithTcpdumpOnCountsAndEndpoints)
{
    std::string dir = WIREPAINT_SOURCE_DIR;
    const std::string files[] = {four_connections(), dir + "/examples/loopback-any.pcap",
                                 dir + "/examples/loopback-any-sll.pcap",
                                 dir + "/examples/sender.pcap"};
    for (const std::string &f : files) {
        bool ran = false;
        std::map<std::string, int> want = tcpdump_counts(f, &ran);
        if (!ran)
            GTEST_SKIP() << "tcpdump is not available";
        std::map<std::string, int> got;
        for (const conn_row &r : list_connections(f.c_str())) {
            std::string a = conn_end_text(r.ends, 0), b = conn_end_text(r.ends, 1);
            if (r.packets[0] > 0)
                got[a + " > " + b] = (int)r.packets[0];
            if (r.packets[1] > 0)
                got[b + " > " + a] = (int)r.packets[1];
        }
        /* tcpdump also prints the cut segment of four_connections(), but
         * without ports ("10.0.0.1 > 10.0.0.2: [|tcp]"): no connection. */
        if (f == files[0]) {
            EXPECT_EQ(want.erase("10.0.0:1 > 10.0.0:2"), 1u);
        }
        EXPECT_EQ(got, want) << f;
    }
}

TEST_F(ConnlistTest, ChoiceMakesTheDecoderTakeThatConnection)
{
    std::string path = four_connections();
    std::vector<conn_row> rows = list_connections(path.c_str());
    struct row {
        size_t pick;
        int count;
        int ipv6;
        uint16_t sport0;
        const char *report;
    } rows_want[] = {
        /* Connection 2: its SYN first; A's packets are of the same hosts.
         * With a connection chosen the dropped packets are only counted. */
        {1, 1, 0, 40001,
         "1 packet not TCP skipped\n8 packets of other connections skipped\n"
         "1 truncated packet skipped\n"},
        {2, 3, 1, 443, nullptr},
        {3, 2, 0, 5000, nullptr},
    };
    for (const row &w : rows_want) {
        conn_select_set(path, rows[w.pick].ends);
        dropnote_reset_counts();
        std::string out = readback::read_clean(path);
        EXPECT_EQ(out, "");
        if (w.report != nullptr) {
            EXPECT_EQ(dropnote_summary(), w.report);
        }
        EXPECT_EQ(g_trace.building.count, w.count) << w.pick;
        EXPECT_EQ(g_trace.ipv6, w.ipv6);
        EXPECT_EQ(sport_of(g_trace.building.rec[0]), w.sport0);
    }
    /* Large counts have their digits grouped. */
    dropnote_reset_counts();
    g_dropnote.count[DROP_OTHER_CONNECTION] = 2599948;
    EXPECT_EQ(dropnote_summary(), "2,599,948 packets of other connections skipped\n");
    /* A choice names its file: another file is read from its first segment. */
    conn_select_set("other.pcap", rows[1].ends);
    conn_select_clear();
    conn_select_set("other.pcap", rows[1].ends);
    readback::read_clean(path);
    EXPECT_EQ(sport_of(g_trace.building.rec[0]), 40000);
    EXPECT_EQ(g_trace.building.count, 3);
}

TEST_F(ConnlistTest, SamePairAndSamePortsInEitherOrder)
{
    std::vector<conn_row> rows = list_connections(four_connections().c_str());
    conn_ends a = rows[0].ends;
    conn_ends swapped = a;
    std::swap(swapped.addr[0], swapped.addr[1]);
    std::swap(swapped.port[0], swapped.port[1]);
    conn_ends natted = a;
    natted.addr[0][3] = 99;
    EXPECT_TRUE(same_pair(a, swapped));
    EXPECT_FALSE(same_pair(a, natted));
    EXPECT_TRUE(same_ports(a, natted));
    EXPECT_TRUE(same_ports(natted, swapped));
    EXPECT_FALSE(same_ports(a, rows[1].ends));
    EXPECT_FALSE(same_pair(a, rows[1].ends));
}
