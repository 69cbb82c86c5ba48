/*
 * choose_test.cpp --
 *
 *	The choice of connection across one or two capture files (-c) and
 *	the -L tables, on captures written through libpcap.
 */

#include "load/choose.h"

#include <gtest/gtest.h>

#include <string>

#include "load/loader.h"
#include "support/pcapgen.h"
#include "trace/connlist.h"
#include "capture/loadfail.h"
#include "trace/flow.h"
#include "trace/trace.h"

using pcapgen::build_tcp;
using pcapgen::capture;
using pcapgen::tcp_seg;

namespace {

tcp_seg seg(const std::string &src, uint16_t sport, const std::string &dst, uint16_t dport,
            uint8_t flags, uint32_t seq, uint32_t ack)
{
    tcp_seg s;
    s.src = src;
    s.dst = dst;
    s.sport = sport;
    s.dport = dport;
    s.flags = flags;
    s.seq = seq;
    s.ack = ack;
    return s;
}

/* A handshake of client:cport with 10.0.0.2:80 at time t. */
void handshake(capture &c, const std::string &client, uint16_t cport, double t)
{
    c.add(build_tcp(seg(client, cport, "10.0.0.2", 80, TH_SYN, 100, 0)), t);
    c.add(build_tcp(seg("10.0.0.2", 80, client, cport, TH_SYN | TH_ACK, 900, 101)), t + 0.01);
    c.add(build_tcp(seg(client, cport, "10.0.0.2", 80, TH_ACK, 101, 901)), t + 0.02);
}

/* The client's end: connections from ports 40000 and 40001. */
std::string client_side()
{
    capture c;
    handshake(c, "10.0.0.1", 40000, 1.0);
    handshake(c, "10.0.0.1", 40001, 2.0);
    return c.write();
}

/* The server's end, behind a NAT for the second connection and with an
 * unrelated one first. */
std::string server_side()
{
    capture c;
    handshake(c, "10.0.0.9", 50000, 0.5);
    handshake(c, "192.168.7.7", 40001, 2.0);
    handshake(c, "10.0.0.1", 40000, 1.0);
    return c.write();
}

/* choose_connection trapped: its status (0 when it went through). */
int choose_trapped(int nfiles, std::string a, std::string b, int number)
{
    char *names[2] = {&a[0], &b[0]};
    loadfail_trap_begin();
    int status = 0;
    testing::internal::CaptureStderr();
    try {
        choose_connection(nfiles, names, number);
    } catch (const load_error &e) {
        status = e.status;
    }
    testing::internal::GetCapturedStderr();
    loadfail_trap_end();
    return status;
}

std::string chosen_text(size_t i)
{
    const conn_ends &e = g_connsel.choices.at(i).ends;
    return conn_end_text(e, 0) + " " + conn_end_text(e, 1);
}

class ChooseTest : public testing::Test {
protected:
    void TearDown() override
    {
        conn_select_clear();
        loadfail_reset();
        trace_state_clear();
    }
};

}  // namespace

TEST_F(ChooseTest, SecondFileTakesTheSamePairElseTheSamePorts)
{
    std::string a = client_side(), b = server_side();
    struct row {
        int number;
        int status;
        const char *second;
    } rows[] = {
        {1, 0, "10.0.0.1:40000 10.0.0.2:80"},    /* third in b's list */
        {2, 0, "192.168.7.7:40001 10.0.0.2:80"}, /* addresses rewritten */
        {3, 1, nullptr},
    };
    for (const row &r : rows) {
        EXPECT_EQ(choose_trapped(2, a, b, r.number), r.status) << r.number;
        if (r.second == nullptr)
            continue;
        ASSERT_EQ(g_connsel.choices.size(), 2u);
        EXPECT_EQ(g_connsel.choices[0].file, a);
        EXPECT_EQ(g_connsel.choices[1].file, b);
        EXPECT_EQ(chosen_text(1), r.second);
    }
    EXPECT_EQ(g_loadfail.message,
              "wirepaint: " + a + " holds 2 TCP connections: no connection 3");

    /* b's first connection has no counterpart in a: its handshake fits
     * both of a's as well (these captures share their numbers). */
    EXPECT_EQ(choose_trapped(2, b, a, 1), 1);
    EXPECT_EQ(g_loadfail.message, "Fatal: cannot find matched data in two files\nwirepaint: " +
                                      a + " holds no copy of connection 1 of " + b +
                                      " (10.0.0.9:50000 - 10.0.0.2:80): 2 of its connections "
                                      "fit about as well");
    /* Number 0 forgets every choice. */
    EXPECT_EQ(choose_trapped(1, a, "", 0), 0);
    EXPECT_TRUE(g_connsel.choices.empty());
}

TEST_F(ChooseTest, LoadDrawsTheChosenConnection)
{
    std::string b = server_side();
    char *names[1] = {&b[0]};
    for (int number = 1; number <= 3; number++) {
        choose_connection(1, names, number);
        testing::internal::CaptureStdout();
        load_traces(1, names, 1);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(g_trace.loaded, 1);
        ASSERT_EQ(g_trace.main.count, 3);
        const uint16_t want_port[] = {50000, 40001, 40000};
        EXPECT_EQ(sport_of(g_trace.main.rec[0]), want_port[number - 1]);
        EXPECT_EQ(ack_of(g_trace.main.rec[1]), 1);
    }
}

TEST_F(ChooseTest, TablesOfEachFile)
{
    std::string a = client_side(), b = server_side();
    char *names[2] = {&a[0], &b[0]};
    testing::internal::CaptureStdout();
    print_connection_tables(2, names);
    std::string out = testing::internal::GetCapturedStdout();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(out.substr(start, nl - start));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "# " + a + ": 2 TCP connections");
    EXPECT_EQ(lines[1][0], '#');
    EXPECT_EQ(lines[2].substr(0, 27), "1    10.0.0.1:40000        ");
    EXPECT_EQ(lines[4], "# " + b + ": 3 TCP connections");
    EXPECT_EQ(lines[8].substr(0, 27), "3    10.0.0.1:40000        ");
}
