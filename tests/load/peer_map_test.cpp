/*
 * peer_map_test.cpp --
 *
 *	What the loader learns of a middlebox from captures that begin
 *	mid-connection (no SYN to go by), written through libpcap: a client's
 *	capture and a server's behind a NAT whose firewall also shifted the
 *	server's sequence numbers. The TCP timestamps tell the copies; without
 *	them the identifications do; with neither, nothing claims a copy.
 */

#include "trace/peer_map.h"

#include <gtest/gtest.h>

#include <string>

#include "capture/loadfail.h"
#include "load/loader.h"
#include "support/pcapgen.h"
#include "trace/trace.h"

namespace {

constexpr uint32_t kShift = 0xfff00000u;  /* the server's numbers, peer minus main */

/* A TCP timestamp option (with two NOPs) of tsval and tsecr. */
pcapgen::bytes timestamps(uint32_t val, uint32_t ecr)
{
    pcapgen::bytes o = {1, 1, 8, 10};
    for (uint32_t v : {val, ecr})
        for (int s = 24; s >= 0; s -= 8)
            o.push_back(static_cast<uint8_t>(v >> s));
    return o;
}

/*
 * Forty exchanges (a 100-byte request, a 1000-byte answer, an ACK), seen
 * at the client (`server_side` false: 192.168.1.5:50000 to
 * 203.0.113.7:443) or at the server behind the NAT (10.0.0.254:61000 to
 * 10.0.0.1:8443, the server's numbers shifted), 10 ms apart.
 */
std::string exchanges(bool server_side, bool with_ts, bool with_ids)
{
    pcapgen::capture c;
    std::string cl = server_side ? "10.0.0.254" : "192.168.1.5";
    std::string sv = server_side ? "10.0.0.1" : "203.0.113.7";
    uint16_t cport = server_side ? 61000 : 50000, sport = server_side ? 8443 : 443;
    uint32_t shift = server_side ? kShift : 0;
    auto seg = [&](bool from_client, uint32_t seq, uint32_t ack, int len, int k) {
        pcapgen::tcp_seg s;
        s.src = from_client ? cl : sv, s.dst = from_client ? sv : cl;
        s.sport = from_client ? cport : sport, s.dport = from_client ? sport : cport;
        s.seq = from_client ? seq : seq + shift, s.ack = from_client ? ack + shift : ack;
        s.flags = TH_ACK | (len > 0 ? TH_PUSH : 0), s.paylen = len;
        s.ip_id = with_ids ? static_cast<uint16_t>((from_client ? 100 : 900) + 2 * k + (len == 0))
                           : 0;
        if (with_ts)
            s.tcp_options = from_client ? timestamps(7000 + k, 3000 + k) : timestamps(3001 + k, 7000 + k);
        return pcapgen::build_tcp(s);
    };
    uint32_t cseq = 11000, sseq = 4000000000u;
    for (int k = 0; k < 40; k++) {
        double t = 0.01 * k, there = server_side ? 0.002 : 0.0, back = server_side ? 0.0 : 0.002;
        c.add(seg(true, cseq, sseq, 100, k), t + there);
        c.add(seg(false, sseq, cseq + 100, 1000, k), t + 0.003 + back);
        c.add(seg(true, cseq + 100, sseq + 1000, 0, k), t + 0.004 + back + there);
        cseq += 100, sseq += 1000;
    }
    return c.write();
}

}  // namespace

TEST(PeerMap, CaptureBegunMidConnectionThroughANat)
{
    struct row {
        bool ts, ids;
        int evidence;     /* 0: no copy claimed */
    } rows[] = {
        {true, true, PEER_BY_TIMESTAMPS},
        {false, true, PEER_BY_IDS},
        {false, false, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.ts) + std::to_string(r.ids));
        std::string a = exchanges(false, r.ts, r.ids), b = exchanges(true, r.ts, r.ids);
        char *names[2] = {&a[0], &b[0]};
        loadfail_trap_begin();
        std::string failed;
        testing::internal::CaptureStderr();
        try {
            load_traces(2, names, 1);
        } catch (const load_error &) {
            failed = g_loadfail.message;
        }
        testing::internal::GetCapturedStderr();
        loadfail_trap_end();
        if (r.evidence == 0) {
            EXPECT_TRUE(g_peer_map.no_copy);
            EXPECT_NE(failed.find("holds no copy of this connection"), std::string::npos) << failed;
            unload_traces();
            continue;
        }
        ASSERT_EQ(failed, "");
        EXPECT_EQ(g_peer_map.evidence & (PEER_BY_TIMESTAMPS | PEER_BY_IDS), r.evidence);
        EXPECT_TRUE(g_peer_map.applied);
        EXPECT_EQ(g_peer_map.shift[0], 0u);
        EXPECT_EQ(g_peer_map.shift[1], kShift);
        EXPECT_EQ(peer_end_text(g_peer_map.main_end[0], false), "192.168.1.5:50000");
        EXPECT_EQ(peer_end_text(g_peer_map.peer_end[0], false), "10.0.0.254:61000");
        EXPECT_EQ(peer_end_text(g_peer_map.peer_end[1], false), "10.0.0.1:8443");
        for (int32_t j = 0; j < g_trace.main.count; j++)
            EXPECT_EQ(loader_copy_of(j), j) << j;
        unload_traces();
    }
    loadfail_reset();
}
