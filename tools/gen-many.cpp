/*
 * gen-many.cpp --
 *
 *	Writes a server's capture of many short HTTP-like downloads, a few of
 *	them troubled, and the truth of which: for trying and testing the
 *	health table (-L) on captures of many connections.
 *
 *	    gen_many [-n CONNS] [-S SEED] [-l LOSS] [-z ZERO] [-p PAUSE]
 *	             CAPTURE.pcap TRUTH.txt
 *
 *	Client i (10.1.0.0 + i, port 20000 + i % 40000) opens a connection
 *	to the server 10.99.0.1:80 every 2 ms: handshake (MSS 1460, no window
 *	scale), a 120-byte request, a 32-segment answer of 1448 bytes paced
 *	every 100 us, ACKed every second segment, then FINs both ways. The
 *	round trip from the server to each client is 2 to 30 ms. LOSS
 *	connections lose one answer segment past the capture point: the
 *	client's duplicate ACKs bring a fast retransmission. ZERO connections
 *	get a zero window from the client in the answer's middle, opened again
 *	80 ms later. PAUSE connections have the server pause 1.5 s in the
 *	middle of the answer. The capture is taken at the server: Ethernet,
 *	snapshot 96 bytes. TRUTH.txt names each troubled connection, one a
 *	line: its number as -L numbers it, and "loss", "window" or "stalled".
 *	The same options and seed give the same files. About 55 packets a
 *	connection; 50,000 connections give some 2.7 million.
 */

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/pcapgen.h"

namespace {

enum { F_FIN = 0x01, F_SYN = 0x02, F_PSH = 0x08, F_ACK = 0x10 };
enum { MSS = 1448, SEGMENTS = 32, REQUEST = 120 };
enum trouble { NONE, LOSS, ZERO, PAUSE };

const double START_GAP = 0.002;   /* s between connections */
const double PACE = 100e-6;       /* s between answer segments */
const double TURN = 50e-6;        /* s an end takes to answer */
const double PAUSE_LEN = 1.5;     /* s */
const double ZERO_LEN = 0.080;    /* s */

/* One packet as the server's capture sees it. */
struct pkt {
    double t;
    uint32_t conn;
    uint32_t seq, ack;   /* offsets from the sender's ISN */
    uint16_t len;
    uint16_t win;
    uint8_t flags;
    uint8_t from_server;
};

struct options {
    long conns = 50000;
    unsigned long seed = 1;
    long loss = 10, zero = 10, pause = 10;
    const char *capture = nullptr;
    const char *truth = nullptr;
};

/* The packets of connection c starting at t0, with `kind` of trouble. */
void connection(std::vector<pkt> &out, uint32_t c, double t0, double rtt, trouble kind,
                std::mt19937_64 &rng)
{
    auto add = [&](double t, bool srv, uint32_t seq, uint32_t ack, int len, uint8_t flags,
                   uint16_t win) {
        out.push_back(pkt{t, c, seq, ack, static_cast<uint16_t>(len), win, flags, srv});
    };
    const uint16_t W = 65535;
    add(t0, false, 0, 0, 0, F_SYN, W);
    double t = t0 + TURN;
    add(t, true, 0, 1, 0, F_SYN | F_ACK, W);
    t += rtt;
    add(t, false, 1, 1, 0, F_ACK, W);
    t += TURN;
    add(t, false, 1, 1, REQUEST, F_PSH | F_ACK, W);
    uint32_t cack = 1 + REQUEST;
    int lost = kind == LOSS ? 4 + static_cast<int>(rng() % 20) : -1;
    int pause_at = kind == PAUSE ? 8 + static_cast<int>(rng() % 16) : -1;
    int zero_at = kind == ZERO ? 8 + static_cast<int>(rng() % 16) : -1;
    double send = t + TURN;
    uint32_t rcv = 1;          /* the client's next expected offset */
    int unacked = 0;
    for (int k = 0; k < SEGMENTS; k++) {
        if (k == pause_at)
            send += PAUSE_LEN;
        uint32_t seq = 1 + static_cast<uint32_t>(k) * MSS;
        add(send, true, seq, cack, MSS, F_ACK, W);
        double back = send + rtt;  /* the client's answer reaches the server */
        if (k == lost) {
            send += PACE;
            continue;
        }
        if (lost >= 0 && k > lost && rcv == 1 + static_cast<uint32_t>(lost) * MSS) {
            add(back, false, cack, rcv, 0, F_ACK, W);     /* duplicate ACK */
            if (k == lost + 3) {
                /* The third duplicate: the server resends at once. */
                add(back + TURN, true, rcv, cack, MSS, F_ACK, W);
                rcv = seq + MSS;
                add(back + TURN + rtt, false, cack, rcv, 0, F_ACK, W);
                send = std::max(send, back + TURN);
            }
            send += PACE;
            continue;
        }
        rcv = seq + MSS;
        if (++unacked == 2 || k == SEGMENTS - 1 || k + 1 == pause_at) {
            add(back, false, cack, rcv, 0, F_ACK, W);
            unacked = 0;
        }
        if (k == zero_at) {
            if (unacked) {
                add(back, false, cack, rcv, 0, F_ACK, W);
                unacked = 0;
            }
            add(back + TURN, false, cack, rcv, 0, F_ACK, 0);
            add(back + TURN + ZERO_LEN, false, cack, rcv, 0, F_ACK, W);
            send = back + TURN + ZERO_LEN + rtt;
            continue;
        }
        send += PACE;
    }
    uint32_t end = 1 + SEGMENTS * MSS;
    double fin = std::max(send, t) + TURN;
    add(fin, true, end, cack, 0, F_FIN | F_ACK, W);
    add(fin + rtt, false, cack, end + 1, 0, F_FIN | F_ACK, W);
    add(fin + rtt + TURN, true, end + 1, cack + 1, 0, F_ACK, W);
}

/* The frame of packet p, as the server's capture writes it. */
pcapgen::bytes frame_of(const pkt &p)
{
    static const uint32_t CLIENT_ISN = 1000000u, SERVER_ISN = 4000000000u;
    pcapgen::tcp_seg s;
    uint32_t a = 0x0a010000u + p.conn;
    std::string client = std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
                         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
    uint16_t cport = static_cast<uint16_t>(20000 + p.conn % 40000);
    s.src = p.from_server ? "10.99.0.1" : client;
    s.dst = p.from_server ? client : "10.99.0.1";
    s.sport = p.from_server ? 80 : cport;
    s.dport = p.from_server ? cport : 80;
    uint32_t own = p.from_server ? SERVER_ISN : CLIENT_ISN;
    uint32_t other = p.from_server ? CLIENT_ISN : SERVER_ISN;
    s.seq = own + p.seq;
    s.ack = (p.flags & F_ACK) ? other + p.ack : 0;
    s.flags = p.flags;
    s.win = p.win;
    s.paylen = p.len;
    if (p.flags & F_SYN)
        s.tcp_options = {2, 4, 0x05, 0xb4};
    return pcapgen::build_tcp(s);
}

/* `n` distinct connection numbers from 0 .. conns-1 not yet taken. */
std::vector<uint32_t> pick(long n, std::vector<trouble> &kinds, trouble kind,
                           std::mt19937_64 &rng)
{
    std::vector<uint32_t> got;
    while (static_cast<long>(got.size()) < n) {
        uint32_t c = static_cast<uint32_t>(rng() % kinds.size());
        if (kinds[c] != NONE)
            continue;
        kinds[c] = kind;
        got.push_back(c);
    }
    return got;
}

int usage()
{
    std::fprintf(stderr, "usage: gen_many [-n CONNS] [-S SEED] [-l LOSS] [-z ZERO] [-p PAUSE] "
                         "CAPTURE.pcap TRUTH.txt\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    options o;
    int c;
    while ((c = getopt(argc, argv, "n:S:l:z:p:")) != -1) {
        switch (c) {
        case 'n': o.conns = std::atol(optarg); break;
        case 'S': o.seed = std::strtoul(optarg, nullptr, 10); break;
        case 'l': o.loss = std::atol(optarg); break;
        case 'z': o.zero = std::atol(optarg); break;
        case 'p': o.pause = std::atol(optarg); break;
        default: return usage();
        }
    }
    if (argc - optind != 2 || o.conns < 1 || o.conns > 1000000 || o.loss < 0 || o.zero < 0 ||
        o.pause < 0 || o.loss + o.zero + o.pause > o.conns)
        return usage();
    o.capture = argv[optind];
    o.truth = argv[optind + 1];

    std::mt19937_64 rng(o.seed);
    std::vector<trouble> kinds(static_cast<size_t>(o.conns), NONE);
    pick(o.loss, kinds, LOSS, rng);
    pick(o.zero, kinds, ZERO, rng);
    pick(o.pause, kinds, PAUSE, rng);

    std::vector<pkt> all;
    all.reserve(static_cast<size_t>(o.conns) * 56);
    for (uint32_t i = 0; i < static_cast<uint32_t>(o.conns); i++) {
        double rtt = 0.002 + 0.028 * static_cast<double>(rng() % 1000) / 1000.0;
        connection(all, i, 1.0 + START_GAP * i, rtt, kinds[i], rng);
    }
    std::stable_sort(all.begin(), all.end(), [](const pkt &a, const pkt &b) { return a.t < b.t; });

    pcapgen::savefile_writer w(o.capture, pcapgen::LINK_EN10MB, 96);
    for (const pkt &p : all)
        w.ip(frame_of(p), 1750000000.0 + p.t);
    w.close();

    FILE *t = std::fopen(o.truth, "w");
    if (t == nullptr) {
        std::perror(o.truth);
        return 1;
    }
    static const char *const names[] = {"", "loss", "window", "stalled"};
    for (size_t i = 0; i < kinds.size(); i++)
        if (kinds[i] != NONE)
            std::fprintf(t, "%zu %s\n", i + 1, names[kinds[i]]);
    return std::fclose(t) == 0 ? 0 : 1;
}
