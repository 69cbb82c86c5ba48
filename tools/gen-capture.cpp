/*
 * gen-capture.cpp --
 *
 *	Writes a large, realistic bulk transfer as libpcap savefiles, for
 *	benchmarks and for trying wirepaint on big captures without root.
 *
 *	    gen_capture [-n N] [-S SEED] [-d MS] [-l LOSS] [-r REORDER]
 *	                [-o OFFSET] [-D PPM] [-g US] [-s SNAPLEN] [-6]
 *	                SENDER.pcap [RECEIVER.pcap]
 *
 *	A server (10.77.1.1:8080) sends data to a client (10.77.2.1:38130)
 *	that asked for it: handshake, a short request, then data segments of
 *	1448 bytes paced every -g microseconds until the sender's capture
 *	holds about N packets, then FINs. The path has a one-way delay of -d
 *	milliseconds; each first transmission is lost with probability -l and
 *	delayed past its successor with probability -r. The client ACKs every
 *	second segment and at once on a gap (duplicate ACKs); the server
 *	retransmits on the third duplicate ACK and after a 200 ms timeout at
 *	the tail. SENDER.pcap is captured at the server, RECEIVER.pcap (when
 *	named) at the client, whose clock runs -o seconds ahead and, with -D,
 *	PPM parts per million fast (negative: slow) from the first segment on:
 *	its time stamps are 1700000000 + OFFSET + t (1 + PPM / 10^6). Ethernet,
 *	snapshot -s (96) bytes. The same options and seed give the same files.
 *
 *	It is a small discrete-event simulation: events (send, arrival at
 *	either end, timer) in a priority queue by time, processed in order.
 */

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <climits>
#include <vector>

#include "support/pcapgen.h"

namespace {

/* TCP flag bits as carried. */
enum { F_FIN = 0x01, F_SYN = 0x02, F_PSH = 0x08, F_ACK = 0x10 };

enum { MSS = 1448 };

struct options {
    long packets = 500000;    /* sender-side packets to aim for */
    unsigned long seed = 1;
    double delay = 0.020;     /* s, one-way path delay */
    double loss = 0.002;      /* loss share of first transmissions */
    double reorder = 0.001;   /* share of segments overtaken by the next */
    double offset = 3.25;     /* s the client's clock runs ahead */
    double ppm = 0.0;         /* the client's clock rate error, 1e-6 */
    double gap = 120e-6;      /* s between paced data segments */
    int snaplen = 96;
    bool v6 = false;
    const char *sender = nullptr;
    const char *receiver = nullptr;
};

/* One segment in flight or being captured. Sequence numbers are offsets
 * from each side's initial sequence number, 64 bits wide so that a long
 * transfer wraps only the numbers carried. */
struct seg {
    bool from_server;
    uint8_t flags;
    uint64_t seq;
    uint64_t ack;
    int paylen;
    uint16_t ip_id = 0;  /* set when sent: both captures show the sender's */
};

enum event_kind { SERVER_SEND_NEXT, ARRIVE_CLIENT, ARRIVE_SERVER, SERVER_TIMER };

struct event {
    double t;
    long order;   /* ties keep the order of scheduling */
    event_kind kind;
    seg s;
    bool operator>(const event &o) const { return t != o.t ? t > o.t : order > o.order; }
};

class simulation {
public:
    simulation(const options &o)
        : o_(o), rng_(o.seed),
          server_(o.sender, pcapgen::LINK_EN10MB, o.snaplen)
    {
        if (o.receiver)
            client_.reset(new pcapgen::savefile_writer(o.receiver, pcapgen::LINK_EN10MB, o.snaplen));
    }

    void run();

private:
    static constexpr uint32_t SERVER_ISN = 3000000000u;  /* wraps mid-transfer */
    static constexpr uint32_t CLIENT_ISN = 12345u;
    static constexpr int REQUEST = 100;
    /* The data segments of a capture of up to 8M packets, which stop at
     * this count as they always did, so that a capture asked for with the
     * same options is the same file; larger ones have no such cap. */
    static constexpr long SMALL_CAPTURE_PACKETS = 8000000;
    static constexpr long SMALL_CAPTURE_SEGMENTS = 2900000;

    void schedule(double t, event_kind k, const seg &s)
    {
        queue_.push(event{t, order_++, k, s});
    }
    void capture(bool at_server, const seg &s, double t);
    void client_send(const seg &s, double t);
    void server_send(const seg &s, double t, bool may_drop);
    void on_client(const seg &s, double t);
    void on_server(const seg &s, double t);
    void send_next_data(double t);
    void on_timer(double t);
    uint64_t data_end() const { return (uint64_t)segments_ * MSS; }

    options o_;
    std::mt19937_64 rng_;
    pcapgen::savefile_writer server_;
    std::unique_ptr<pcapgen::savefile_writer> client_;
    std::priority_queue<event, std::vector<event>, std::greater<event>> queue_;
    long order_ = 0;
    long server_packets_ = 0;
    long max_segments_ = o_.packets <= SMALL_CAPTURE_PACKETS ? SMALL_CAPTURE_SEGMENTS : LONG_MAX;
    long segments_ = max_segments_; /* data segments, fixed when sending stops */
    long next_ = 0;              /* next first transmission */
    uint64_t snd_una_ = 0;       /* lowest unacknowledged server offset (data) */
    uint64_t last_ack_ = 0;
    int dupacks_ = 0;
    std::set<uint64_t> retransmitted_;
    bool fin_sent_ = false;
    /* client */
    uint64_t rcv_nxt_ = 0;       /* next expected server data offset */
    std::set<uint64_t> ooo_;     /* offsets held out of order */
    int unacked_ = 0;            /* in-order segments since the last ACK */
    bool client_fin_ = false;
    uint16_t ip_id_server_ = 1000, ip_id_client_ = 2000;
};

void simulation::capture(bool at_server, const seg &s, double t)
{
    pcapgen::tcp_seg p;
    p.v6 = o_.v6;
    std::string server = o_.v6 ? "2001:db8:77:1::1" : "10.77.1.1";
    std::string client = o_.v6 ? "2001:db8:77:2::1" : "10.77.2.1";
    p.src = s.from_server ? server : client;
    p.dst = s.from_server ? client : server;
    p.sport = s.from_server ? 8080 : 38130;
    p.dport = s.from_server ? 38130 : 8080;
    uint32_t own = s.from_server ? SERVER_ISN : CLIENT_ISN;
    uint32_t other = s.from_server ? CLIENT_ISN : SERVER_ISN;
    p.seq = (uint32_t)(own + s.seq);
    p.ack = (s.flags & F_ACK) ? (uint32_t)(other + s.ack) : 0;
    p.flags = s.flags;
    p.win = s.from_server ? 502 : 2048;
    p.ip_id = s.ip_id;
    p.paylen = s.paylen;
    if (s.flags & F_SYN)
        p.tcp_options = {2, 4, 0x05, 0xb4, 4, 2, 1, 3, 3, 7};
    if (at_server) {
        server_.ip(pcapgen::build_tcp(p), 1700000000.0 + t);
        server_packets_++;
    } else if (client_) {
        client_->ip(pcapgen::build_tcp(p), 1700000000.0 + o_.offset + t * (1.0 + o_.ppm * 1e-6));
    }
}

void simulation::client_send(const seg &sent, double t)
{
    seg s = sent;
    s.ip_id = ++ip_id_client_;
    capture(false, s, t);
    schedule(t + o_.delay, ARRIVE_SERVER, s);
}

void simulation::server_send(const seg &sent, double t, bool may_drop)
{
    seg s = sent;
    s.ip_id = ++ip_id_server_;
    capture(true, s, t);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    if (may_drop && u(rng_) < o_.loss)
        return;
    double extra = may_drop && u(rng_) < o_.reorder ? 1.5 * o_.gap : 0.0;
    schedule(t + o_.delay + extra, ARRIVE_CLIENT, s);
}

void simulation::send_next_data(double t)
{
    /* Stop first transmissions when what is in flight will bring the
     * sender's capture to about N packets. */
    long flight = (long)(2.0 * o_.delay / o_.gap) + 4;
    if (server_packets_ + 2 * flight >= o_.packets || next_ >= max_segments_) {
        segments_ = next_;
        schedule(t + 0.2, SERVER_TIMER, seg{});
        return;
    }
    seg s{true, (uint8_t)(F_ACK | F_PSH), 1 + (uint64_t)next_ * MSS, 1 + REQUEST, MSS};
    next_++;
    server_send(s, t, true);
    schedule(t + o_.gap, SERVER_SEND_NEXT, s);
}

void simulation::on_timer(double t)
{
    if (snd_una_ >= data_end()) {
        if (!fin_sent_) {
            fin_sent_ = true;
            server_send(seg{true, F_FIN | F_ACK, 1 + data_end(), 1 + REQUEST, 0}, t, false);
        }
        return;
    }
    seg s{true, F_ACK | F_PSH, 1 + snd_una_, 1 + REQUEST, MSS};
    server_send(s, t, false);
    schedule(t + 0.2, SERVER_TIMER, s);
}

void simulation::on_server(const seg &s, double t)
{
    capture(true, s, t);
    if (s.flags & F_SYN) {
        server_send(seg{true, F_SYN | F_ACK, 0, 1, 0}, t, false);
        return;
    }
    if (s.paylen > 0) {  /* the request: start the transfer */
        send_next_data(t);
        return;
    }
    if (s.flags & F_FIN) {
        server_send(seg{true, F_ACK, 2 + data_end(), s.seq + 1, 0}, t, false);
        return;
    }
    uint64_t acked = s.ack - 1;
    if (acked > snd_una_) {
        snd_una_ = acked;
        last_ack_ = s.ack;
        dupacks_ = 0;
        return;
    }
    if (s.ack != last_ack_)
        return;
    if (++dupacks_ == 3 && acked < data_end() && !retransmitted_.count(acked)) {
        retransmitted_.insert(acked);
        server_send(seg{true, F_ACK | F_PSH, 1 + acked, 1 + REQUEST, MSS}, t, false);
    }
}

void simulation::on_client(const seg &s, double t)
{
    capture(false, s, t);
    if (s.flags & F_SYN) {
        client_send(seg{false, F_ACK, 1, 1, 0}, t);
        client_send(seg{false, F_ACK | F_PSH, 1, 1, REQUEST}, t + 50e-6);
        return;
    }
    uint64_t ack_seq = 1 + REQUEST + (client_fin_ ? 1 : 0);
    if (s.flags & F_FIN) {
        client_fin_ = true;
        client_send(seg{false, F_FIN | F_ACK, ack_seq, s.seq + 1, 0}, t);
        return;
    }
    if (s.paylen <= 0)
        return;
    uint64_t off = s.seq - 1;
    if (off != rcv_nxt_) {
        if (off > rcv_nxt_)
            ooo_.insert(off);
        client_send(seg{false, F_ACK, ack_seq, 1 + rcv_nxt_, 0}, t);
        return;
    }
    bool filled = !ooo_.empty();
    rcv_nxt_ += MSS;
    while (!ooo_.empty() && *ooo_.begin() <= rcv_nxt_) {
        if (*ooo_.begin() == rcv_nxt_)
            rcv_nxt_ += MSS;
        ooo_.erase(ooo_.begin());
    }
    if (filled || ++unacked_ >= 2 || rcv_nxt_ >= data_end()) {
        unacked_ = 0;
        client_send(seg{false, F_ACK, ack_seq, 1 + rcv_nxt_, 0}, t);
    }
}

void simulation::run()
{
    client_send(seg{false, F_SYN, 0, 0, 0}, 0.0);
    while (!queue_.empty()) {
        event e = queue_.top();
        queue_.pop();
        switch (e.kind) {
        case SERVER_SEND_NEXT: send_next_data(e.t); break;
        case ARRIVE_CLIENT: on_client(e.s, e.t); break;
        case ARRIVE_SERVER: on_server(e.s, e.t); break;
        case SERVER_TIMER: on_timer(e.t); break;
        }
    }
    server_.close();
    if (client_)
        client_->close();
    std::fprintf(stderr, "gen_capture: %ld packets at the sender, %ld data segments\n",
                 server_packets_, segments_);
}

void usage(const char *prog)
{
    std::fprintf(stderr,
                 "Usage: %s [-n packets] [-S seed] [-d delay_ms] [-l loss] [-r reorder]\n"
                 "          [-o clock_offset_s] [-D clock_ppm] [-g gap_us] [-s snaplen] [-6]\n"
                 "          sender.pcap [receiver.pcap]\n",
                 prog);
    std::exit(1);
}

}  // namespace

int main(int argc, char **argv)
{
    options o;
    int c;
    while ((c = getopt(argc, argv, "n:S:d:l:r:o:D:g:s:6")) != -1) {
        switch (c) {
        case 'n': o.packets = std::atol(optarg); break;
        case 'S': o.seed = std::strtoul(optarg, nullptr, 10); break;
        case 'd': o.delay = std::atof(optarg) / 1000.0; break;
        case 'l': o.loss = std::atof(optarg); break;
        case 'r': o.reorder = std::atof(optarg); break;
        case 'o': o.offset = std::atof(optarg); break;
        case 'D': o.ppm = std::atof(optarg); break;
        case 'g': o.gap = std::atof(optarg) / 1e6; break;
        case 's': o.snaplen = std::atoi(optarg); break;
        case '6': o.v6 = true; break;
        default: usage(argv[0]);
        }
    }
    if (optind >= argc || argc - optind > 2 || o.packets < 10 || o.packets > 2000000000 || o.snaplen < 60)
        usage(argv[0]);
    o.sender = argv[optind];
    o.receiver = optind + 1 < argc ? argv[optind + 1] : nullptr;
    try {
        simulation sim(o);
        sim.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "gen_capture: %s\n", e.what());
        return 1;
    }
    return 0;
}
