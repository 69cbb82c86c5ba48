/*
 * middlebox_test.cpp --
 *
 *	Two-ended captures through middleboxes, on real captures recorded
 *	through a Linux NAT router and a TCP-terminating relay in network
 *	namespaces (tools/make_middlebox_samples.sh; rewrites by
 *	tools/pcap-rewrite.c): copies found across address and port
 *	translation, shifted sequence numbers and scrubbed identifications;
 *	the counterpart of each of 40 connections; no copies claimed across a
 *	relay.
 */

#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "analysis/line.h"
#include "load/choose.h"
#include "load/loader.h"
#include "support/load_files.h"
#include "support/pcapgen.h"
#include "capture/bytes.h"
#include "trace/connlist.h"
#include "trace/direction.h"
#include "capture/loadfail.h"
#include "trace/peer_map.h"
#include "trace/trace.h"

namespace {

const std::string kDir = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";

/* The client's address, 10.221.0.2, host order. */
constexpr uint64_t kClient = 0x0add0002;

struct load_result {
    std::vector<int32_t> copy;  /* per main record: its copy, or -1 */
    double data_share, ack_share;
    double lowest_delay;        /* s, of the lines with a copy */
    uint64_t left;              /* the left host's address */
    std::vector<std::string> lines;
};

load_result load_pair(const std::string &a, const std::string &b)
{
    load_result out{};
    testing::internal::CaptureStdout();
    load_files({kDir + a, kDir + b});
    testing::internal::GetCapturedStdout();
    int data = 0, data_found = 0, acks = 0, acks_found = 0;
    out.lowest_delay = 1.0;
    for (int32_t j = 0; j < g_trace.main.count; j++) {
        const seg_record &r = g_trace.main.rec[j];
        int32_t m = loader_copy_of(j);
        out.copy.push_back(m);
        bool bare_ack = r.paylen == 0 && r.tcp_flags == TH_ACK;
        data += r.paylen > 0;
        data_found += r.paylen > 0 && m >= 0;
        acks += bare_ack;
        acks_found += bare_ack && m >= 0;
        if (m >= 0 && g_trace.lines[j].delay < out.lowest_delay)
            out.lowest_delay = g_trace.lines[j].delay;
    }
    out.data_share = data_found / static_cast<double>(data);
    out.ack_share = acks_found / static_cast<double>(acks);
    const seg_record &r0 = g_trace.main.rec[0];
    out.left = g_trace.lines[0].dir == 1 ? src4_of(r0) : dst4_of(r0);
    out.lines = peer_map_lines(loader_left_role());
    return out;
}

/* Load failures are trapped: the message, "" when the load went through. */
std::string load_failure(const std::string &a, const std::string &b)
{
    std::string pa = a, pb = b;
    char *names[2] = {&pa[0], &pb[0]};
    loadfail_trap_begin();
    std::string message;
    testing::internal::CaptureStderr();
    try {
        load_traces(2, names, 1);
    } catch (const load_error &) {
        message = g_loadfail.message;
        unload_traces();
    }
    testing::internal::GetCapturedStderr();
    loadfail_trap_end();
    return message;
}

bool holds(const std::vector<std::string> &lines, const std::string &part)
{
    for (const std::string &l : lines)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

/* The client's initial sequence number of each connection of a capture,
 * by its client port, read straight through libpcap (Ethernet, IPv4). */
std::map<uint32_t, uint16_t> client_isns(const std::string &file)
{
    std::map<uint32_t, uint16_t> out;
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *p = pcap_open_offline(file.c_str(), err);
    EXPECT_NE(p, nullptr) << err;
    if (p == nullptr)
        return out;
    pcap_pkthdr *h;
    const u_char *d;
    while (pcap_next_ex(p, &h, &d) == 1) {
        if (h->caplen < 54)
            continue;
        const uint8_t *tcp = d + 14 + (d[14] & 15) * 4;
        if ((tcp[13] & 0x12) == 0x02)
            out[read_be32(tcp + 4)] = read_be16(tcp);
    }
    pcap_close(p);
    return out;
}

class MiddleboxTest : public testing::Test {
protected:
    void TearDown() override
    {
        conn_select_clear();
        loadfail_reset();
        unload_traces();
    }
};

}  // namespace

TEST_F(MiddleboxTest, CopiesAcrossEachMiddleboxAsWithoutIt)
{
    struct row {
        const char *client, *server;
        const char *says;   /* a line -S gives beside the translation */
    } rows[] = {
        {"nat-client.pcap", "nat-server.pcap", nullptr},
        {"nat-client.pcap", "nat-server-shifted.pcap",
         "Sequence numbers: the other capture's R>L are 1073741824 lower"},
        {"nat-client-noid.pcap", "nat-server.pcap", "Identifications: differ"},
        {"nat-client.pcap", "nat-server-shifted-noid.pcap", "Identifications: differ"},
        /* A helper rewrote a payload 30 bytes longer: the shift changes. */
        {"nat-client-noid.pcap", "nat-server-helper.pcap",
         "Sequence numbers: the other capture's R>L are 4096 higher, and 4126 higher from its "
         "3772703477 on (the offset changed once)"},
    };
    std::vector<int32_t> plain;
    for (const row &r : rows)
        for (int order = 0; order < 2; order++) {
            SCOPED_TRACE(std::string(r.client) + " " + r.server + (order ? " reversed" : ""));
            load_result got = order ? load_pair(r.server, r.client) : load_pair(r.client, r.server);
            EXPECT_GE(got.data_share, 0.96);
            EXPECT_GE(got.ack_share, 0.96);
            EXPECT_GT(got.lowest_delay, -200e-6);
            EXPECT_EQ(got.left, kClient);  /* the drawn capture's host */
            EXPECT_TRUE(holds(got.lines, "Translated:      10.221.0.2:"));
            EXPECT_TRUE(holds(got.lines, "10.221.0.254:80 is 10.220.0.1:8080"));
            EXPECT_TRUE(holds(got.lines, "Same connection: the client's initial sequence number "
                                         "and "));
            if (r.says != nullptr) {
                EXPECT_TRUE(holds(got.lines, r.says)) << got.lines.size();
            }
            /* Every case finds the very copies the untouched pair finds. */
            if (plain.empty())
                plain = got.copy;
            EXPECT_EQ(got.copy, plain);
        }
}

TEST_F(MiddleboxTest, ARelayThatTerminatesTcpHasNoCopies)
{
    for (int order = 0; order < 2; order++) {
        std::string c = kDir + "relay-client.pcap", s = kDir + "relay-server.pcap";
        std::string why = order ? load_failure(s, c) : load_failure(c, s);
        EXPECT_EQ(why.rfind("Fatal: cannot find matched data in two files\n", 0), 0u) << why;
        EXPECT_NE(why.find("holds no copy of this connection"), std::string::npos) << why;
        EXPECT_NE(why.find("proxy that terminates TCP"), std::string::npos) << why;
    }
}

TEST_F(MiddleboxTest, EachOfFortyConnectionsFindsItsCounterpart)
{
    for (const char *server : {"many-server.pcap", "many-server-shifted.pcap"}) {
        SCOPED_TRACE(server);
        std::string a = kDir + "many-client.pcap", b = kDir + server;
        /* The truth: the client's initial sequence number, which the NAT
         * and the server-side shift leave alone. */
        std::map<uint32_t, uint16_t> at_client = client_isns(a), at_server = client_isns(b);
        ASSERT_EQ(at_client.size(), 40u);
        std::map<uint16_t, uint16_t> truth;  /* client port -> server-side port */
        for (const auto &e : at_client)
            truth[e.second] = at_server.at(e.first);
        std::vector<conn_row> rows_a = list_connections(a.c_str());
        std::vector<conn_row> rows_b = list_connections(b.c_str());
        std::vector<int> column = counterpart_numbers(a.c_str(), b.c_str());
        char *names[2] = {&a[0], &b[0]};
        for (int n = 1; n <= 40; n++) {
            choose_connection(2, names, n);
            ASSERT_EQ(g_connsel.choices.size(), 2u);
            uint16_t want = truth.at(rows_a[(size_t)n - 1].ends.port[0]);
            EXPECT_EQ(g_connsel.choices[1].ends.port[0], want) << n;
            ASSERT_GT(column[(size_t)n - 1], 0) << n;
            EXPECT_EQ(rows_b[(size_t)column[(size_t)n - 1] - 1].ends.port[0], want) << n;
        }
    }
}

TEST_F(MiddleboxTest, FirstConnectionsThatDifferArePairedByEvidence)
{
    /* The server's capture without its first connection: the client's
     * first connection has no counterpart, and the reduced capture's
     * first is the client capture's second. */
    std::string full = kDir + "many-server.pcap";
    std::string less = testing::TempDir() + "many-server-less.pcap";
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *in = pcap_open_offline(full.c_str(), err);
    ASSERT_NE(in, nullptr) << err;
    pcap_dumper_t *out = pcap_dump_open(in, less.c_str());
    ASSERT_NE(out, nullptr);
    pcap_pkthdr *h;
    const u_char *d;
    uint16_t first_port = 0;
    while (pcap_next_ex(in, &h, &d) == 1) {
        uint16_t sport = read_be16(d + 34), dport = read_be16(d + 36);
        uint16_t client_port = sport == 8080 ? dport : sport;
        if (first_port == 0)
            first_port = client_port;
        if (client_port != first_port)
            pcap_dump(reinterpret_cast<u_char *>(out), h, d);
    }
    pcap_dump_close(out);
    pcap_close(in);

    std::string why = load_failure(kDir + "many-client.pcap", less);
    EXPECT_NE(why.find("holds no copy of this connection"), std::string::npos) << why;
    conn_select_clear();
    std::string lp = less, cp = kDir + "many-client.pcap";
    char *names[2] = {&lp[0], &cp[0]};
    load_traces(2, names, 1);
    ASSERT_EQ(g_trace.loaded, 1);
    int found = 0;
    for (int32_t j = 0; j < g_trace.main.count; j++)
        found += loader_copy_of(j) >= 0;
    EXPECT_GE(found, g_trace.main.count - 1);
    EXPECT_TRUE(holds(peer_map_lines(loader_left_role()), "Translated:"));
    std::remove(less.c_str());
}

TEST_F(MiddleboxTest, RewriterShiftsTheServersNumbersAndKeepsChecksumsRight)
{
    /* Two clients of one server; the second client's ACK carries a SACK
     * block. Every checksum is right before the rewrite. */
    pcapgen::capture c;
    auto seg = [](const char *src, uint16_t sport, const char *dst, uint16_t dport, uint8_t flags,
                  uint32_t seq, uint32_t ack) {
        pcapgen::tcp_seg s;
        s.src = src, s.dst = dst, s.sport = sport, s.dport = dport, s.flags = flags;
        s.seq = seq, s.ack = ack, s.ip_id = 0x1234, s.ip_cksum = pcapgen::CKSUM_CORRECT;
        return s;
    };
    c.add(pcapgen::build_tcp(seg("10.0.0.1", 40000, "10.0.0.2", 80, TH_SYN, 100, 0)), 0.0);
    c.add(pcapgen::build_tcp(seg("10.0.0.2", 80, "10.0.0.1", 40000, TH_SYN | TH_ACK, 0xfffffff0u, 101)), 0.1);
    pcapgen::tcp_seg data = seg("10.0.0.2", 80, "10.0.0.3", 40001, TH_ACK, 5000, 7);
    data.paylen = 100;
    c.add(pcapgen::build_tcp(data), 0.2);
    pcapgen::tcp_seg sack = seg("10.0.0.3", 40001, "10.0.0.2", 80, TH_ACK, 7, 5000);
    sack.tcp_options = {1, 1, 5, 10, 0, 0, 0x13, 0x88, 0, 0, 0x13, 0xec};  /* 5000-5100 */
    c.add(pcapgen::build_tcp(sack), 0.3);
    std::string in = c.write(), out = in + ".rewritten";
    std::string command = std::string(WIREPAINT_BINARY_DIR) + "/pcap_rewrite -s 0x80000001 -z " +
                          in + " " + out;
    ASSERT_EQ(std::system(command.c_str()), 0);

    const uint32_t d = 0x80000001u;
    struct want {
        uint32_t seq, ack, sack_left;
    } wants[] = {{100, 0, 0}, {0xfffffff0u + d, 101, 0}, {5000 + d, 7, 0}, {7, 5000 + d, 5000 + d}};
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *p = pcap_open_offline(out.c_str(), err);
    ASSERT_NE(p, nullptr) << err;
    pcap_pkthdr *h;
    const u_char *f;
    size_t k = 0;
    for (; pcap_next_ex(p, &h, &f) == 1 && k < 4; k++) {
        const uint8_t *ip = f + 14;
        size_t len = read_be16(ip + 2), hl = (ip[0] & 15u) * 4u;
        const uint8_t *tcp = ip + hl;
        EXPECT_EQ(read_be16(ip + 4), 0) << k;
        EXPECT_EQ(read_be32(tcp + 4), wants[k].seq) << k;
        EXPECT_EQ(read_be32(tcp + 8), wants[k].ack) << k;
        if (wants[k].sack_left != 0) {
            EXPECT_EQ(read_be32(tcp + 24), wants[k].sack_left);
            EXPECT_EQ(read_be32(tcp + 28), wants[k].sack_left + 100);
        }
        /* Both checksums still add up. */
        uint32_t sum = 0;
        for (size_t i = 0; i < hl; i += 2)
            sum += read_be16(ip + i);
        while (sum >> 16)
            sum = (sum & 0xffff) + (sum >> 16);
        EXPECT_EQ(sum, 0xffffu) << k;
        pcapgen::bytes packet(ip, ip + len);
        EXPECT_EQ(pcapgen::tcp_checksum(packet, false, hl), 0) << k;  /* over the sum too */
    }
    EXPECT_EQ(k, 4u);
    pcap_close(p);
    std::remove(out.c_str());
}
