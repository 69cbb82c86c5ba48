/*
 * health.cpp --
 *
 *	The health table: one pass over a capture through the connection
 *	list's visitor. Each connection keeps an events walk, its counters and
 *	the data segments still waiting for their ACK (for the ack times);
 *	the ack times of all connections go to one array, ordered by
 *	connection at the end for the medians.
 */

#include "report/health.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analysis/events.h"
#include "capture/bytes.h"
#include "load/choose.h"
#include "trace/tcp_fields.h"
#include "trace/flow.h"
#include "trace/trace.h"

const char *const verdict_names[VERDICTS] = {"reset",  "stalled", "loss",       "window",
                                             "server", "client",  "network",    "incomplete",
                                             "ok"};

const char health_csv_header[] =
    "number,from,to,packets_from,bytes_from,packets_to,bytes_to,first,last,duration,rtt_median,"
    "initial_rtt,client_wait,server_wait,retransmissions_from,retransmissions_to,lost_from,"
    "lost_to,zero_windows_from,zero_windows_to,longest_stall,stall_cause,goodput_from,"
    "goodput_to,verdict";

const char *const health_cell_names[] = {"#",      "verdict", "from",   "to",     "pkts>",
                                         "bytes>", "pkts<",   "bytes<", "first",  "duration",
                                         "rtt",    "retr>",   "retr<",  "zwin>",  "zwin<",
                                         "stall",  "cause",   "gput>",  "gput<"};
const int health_cell_count = sizeof health_cell_names / sizeof health_cell_names[0];

namespace {

/* Thresholds of the verdicts. */
constexpr double STALL_LONG = 1.0;          /* s */
constexpr double STALL_SHARE = 0.10;        /* of the duration */
constexpr double LOSS_SHARE = 0.01;         /* of a way's data segments */
constexpr double WINDOW_SHARE = 0.20;       /* of the duration */
constexpr double WAIT_LONG = 0.2;           /* s */
constexpr double WAIT_SHARE = 0.25;         /* of the duration */
constexpr double SLOW_PATH = 0.2;           /* s of round trip */

constexpr uint16_t RETRANSMITTED = (1u << EV_RETRANSMISSION) | (1u << EV_FAST_RETRANSMISSION) |
                                   (1u << EV_SPURIOUS_RETRANSMISSION) |
                                   (1u << EV_TIMEOUT_RETRANSMISSION);
constexpr uint16_t RESENT = RETRANSMITTED | (1u << EV_OUT_OF_ORDER);
constexpr uint16_t PROBES = (1u << EV_KEEP_ALIVE) | (1u << EV_ZERO_WINDOW_PROBE);

/* A segment waiting for the ACK that reaches exactly its end. */
struct timed_seg {
    uint32_t end;        /* sequence number just past it */
    float at;            /* s, when it was seen */
};

/* The segments of one way waiting for their ACK, oldest first from
 * `head`; the vector grows to the most in flight, not with the packets. */
struct timed_queue {
    std::vector<timed_seg> q;
    size_t head;
};

/* The state of one connection during the pass. */
struct conn_pass {
    events_walk *walk = nullptr; /* owned; freed at the end of the pass */
    int64_t t0_sec = 0, t0_usec = 0; /* its first segment's time stamp */
    timed_queue timed[2] = {};
    uint8_t syn = 0, synack = 0;
    conn_health h = {};
};

/* An ack time sample of connection `row`. */
struct ack_sample {
    uint32_t row;
    float seconds;
};

struct health_pass {
    std::vector<conn_pass> conns;
    std::vector<ack_sample> samples;
};

bool seq_lt(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

/* The record the events walk reads, from the segment's TCP header. */
seg_record record_of(const conn_pass &c, const conn_segment &g)
{
    seg_record s;
    std::memset(&s, 0, sizeof s);
    double dt = (double)(g.hdr->ts.tv_sec - c.t0_sec) +
                (double)(g.hdr->ts.tv_usec - c.t0_usec) / 1000000.0;
    s.time = (float)dt;
    s.paylen = g.paylen;
    set_seq_raw(s, read_be32(g.tcp + 4));
    set_ack_raw(s, read_be32(g.tcp + 8));
    s.win = read_be16(g.tcp + 14);
    s.tcp_flags = g.tcp[13];
    return s;
}

/* An ACK from the other way: samples of the segments it reaches exactly,
 * and the ones it passes leave untimed. */
void take_ack(health_pass &p, size_t row, conn_pass &c, int way, const seg_record &s)
{
    if (!(s.tcp_flags & TH_ACK))
        return;
    timed_queue &t = c.timed[way];
    while (t.head < t.q.size() && !seq_lt(ack_raw_of(s), t.q[t.head].end)) {
        const timed_seg &g = t.q[t.head++];
        if (g.end == ack_raw_of(s) && s.time >= g.at)
            p.samples.push_back(ack_sample{static_cast<uint32_t>(row), s.time - g.at});
    }
    if (t.head == t.q.size()) {
        t.q.clear();
        t.head = 0;
    } else if (t.head > 64 && t.head * 2 > t.q.size()) {
        t.q.erase(t.q.begin(), t.q.begin() + static_cast<std::ptrdiff_t>(t.head));
        t.head = 0;
    }
}

/* A segment of `way` that sends something new waits for the ACK that
 * reaches exactly its end; one sent again is not timed (Karn), as the
 * -S ack times leave the retransmissions out. */
void time_segment(conn_pass &c, int way, const seg_record &s, uint16_t kinds)
{
    bool syn = (s.tcp_flags & TH_SYN) != 0;
    if ((s.paylen <= 0 && !syn) || (kinds & (RESENT | PROBES)))
        return;
    uint32_t end = seq_raw_of(s) + static_cast<uint32_t>(s.paylen > 0 ? s.paylen : 0) + (syn ? 1 : 0);
    timed_queue &t = c.timed[way];
    if (t.head < t.q.size() && !seq_lt(t.q.back().end, end))
        return;
    t.q.push_back(timed_seg{end, s.time});
}

void count(conn_health &h, int way, const seg_record &s, uint16_t kinds)
{
    if (s.paylen > 0) {
        h.data_segments[way]++;
        if (!(kinds & (RESENT | PROBES)))
            h.unique_bytes[way] += s.paylen;
    }
    h.retransmissions[way] += (kinds & RETRANSMITTED) != 0;
    h.lost[way] += (kinds & (1u << EV_LOST_SEGMENT)) != 0;
    h.zero_windows[way] += (kinds & (1u << EV_ZERO_WINDOW)) != 0;
    if (s.tcp_flags & (TH_FIN | TH_RST))
        h.ended = 1;
    if (s.tcp_flags & TH_RST)
        h.reset = 1;
}

void visit_segment(void *user, const conn_segment &g)
{
    health_pass &p = *static_cast<health_pass *>(user);
    if (g.row == p.conns.size()) {
        p.conns.emplace_back();
        conn_pass &c = p.conns.back();
        c.walk = events_walk_new();
        c.t0_sec = g.hdr->ts.tv_sec;
        c.t0_usec = g.hdr->ts.tv_usec;
    }
    conn_pass &c = p.conns[g.row];
    seg_record s = record_of(c, g);
    int shift = -1, mss = 0;
    if (s.tcp_flags & TH_SYN) {
        syn_options(parse_tcp_fields(g.tcp, static_cast<int32_t>(g.tcp_avail)), &shift, &mss);
        if (s.tcp_flags & TH_ACK)
            c.synack |= c.syn;
        else
            c.syn = 1;
    }
    seg_events e = events_walk_step(c.walk, s, g.way, shift, mss);
    take_ack(p, g.row, c, 1 - g.way, s);
    time_segment(c, g.way, s, e.kinds);
    count(c.h, g.way, s, e.kinds);
}

double seconds_between(const conn_row &r)
{
    return (double)(r.last_sec - r.first_sec) + (double)(r.last_usec - r.first_usec) / 1e6;
}

/* The longest stall of a way that sent data worth timing. */
void longest_stall(conn_health &h, const events_summary &o)
{
    const stall_note *best = nullptr;
    for (int d = 0; d < 2; d++) {
        const stall_note &n = o.longest[d];
        if (n.cause == STALL_NONE || o.dir[d].little_data)
            continue;
        if (best == nullptr || n.length > best->length ||
            (n.length == best->length && n.at < best->at))
            best = &n;
    }
    h.longest_stall = best != nullptr ? best->length : 0.0;
    h.stall_cause = best != nullptr ? best->cause : STALL_NONE;
}

void finish(conn_pass &c, const conn_row &r)
{
    conn_health &h = c.h;
    const events_summary &o = events_walk_finish(c.walk);
    h.duration = seconds_between(r);
    h.initial_rtt = o.first_rtt > 0.0f ? o.first_rtt : -1.0;
    h.client_wait = client_wait(o.waits);
    h.server_wait = server_wait(o.waits);
    h.exchanges = o.waits.exchanges;
    for (int d = 0; d < 2; d++)
        h.window_limited[d] = o.dir[d].little_data ? 0.0 : o.dir[d].share[SHARE_RWND];
    longest_stall(h, o);
    h.handshake = c.synack;
    events_walk_free(c.walk);
    c.walk = nullptr;
    for (timed_queue &t : c.timed)
        std::vector<timed_seg>().swap(t.q);
}

/* The median ack time of each connection, from the samples. */
void medians(health_pass &p)
{
    size_t n = p.conns.size();
    std::vector<uint32_t> start(n + 1, 0);
    for (const ack_sample &s : p.samples)
        start[s.row + 1]++;
    for (size_t i = 0; i < n; i++)
        start[i + 1] += start[i];
    std::vector<float> sorted(p.samples.size());
    std::vector<uint32_t> at(start.begin(), start.end() - 1);
    for (const ack_sample &s : p.samples)
        sorted[at[s.row]++] = s.seconds;
    std::vector<ack_sample>().swap(p.samples);
    for (size_t i = 0; i < n; i++) {
        float *b = sorted.data() + start[i], *e = sorted.data() + start[i + 1];
        size_t k = static_cast<size_t>(e - b);
        if (k == 0) {
            p.conns[i].h.rtt_median = -1.0;
            continue;
        }
        std::nth_element(b, b + k / 2, e);
        double mid = b[k / 2];
        if (k % 2 == 0)
            mid = (mid + *std::max_element(b, b + k / 2)) / 2.0;
        p.conns[i].h.rtt_median = mid;
    }
}

std::string fixed(double v, const char *fmt = "%.6f")
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

/* A round trip or "" / "-" without one. */
std::string optional_seconds(double v, const char *none)
{
    return v >= 0.0 ? fixed(v) : std::string(none);
}

std::string goodput_text(const health_row &r, int way, const char *none)
{
    double g = health_goodput(r, way);
    return g >= 0.0 ? fixed(g, "%.0f") : std::string(none);
}

std::string time_text(int64_t sec, int64_t usec)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", (long long)sec, (long long)usec);
    return buf;
}

}  // namespace

int judge_health(const conn_health &h)
{
    double dur = h.duration;
    if (h.reset)
        return VERDICT_RESET;
    if (h.stall_cause != STALL_NONE &&
        (h.longest_stall >= STALL_LONG || h.longest_stall >= STALL_SHARE * dur))
        return VERDICT_STALLED;
    for (int d = 0; d < 2; d++)
        if (static_cast<double>(h.retransmissions[d]) >
            LOSS_SHARE * static_cast<double>(h.data_segments[d]))
            return VERDICT_LOSS;
    if (h.zero_windows[0] + h.zero_windows[1] > 0 || h.window_limited[0] > WINDOW_SHARE * dur ||
        h.window_limited[1] > WINDOW_SHARE * dur)
        return VERDICT_WINDOW;
    if (h.server_wait >= WAIT_LONG && h.server_wait >= WAIT_SHARE * dur)
        return VERDICT_SERVER;
    if (h.client_wait >= WAIT_LONG && h.client_wait >= WAIT_SHARE * dur)
        return VERDICT_CLIENT;
    double rtt = h.initial_rtt >= 0.0 ? h.initial_rtt : h.rtt_median;
    if (rtt >= SLOW_PATH)
        return VERDICT_NETWORK;
    if (!h.handshake || !h.ended)
        return VERDICT_INCOMPLETE;
    return VERDICT_OK;
}

std::vector<health_row> health_table(const char *file)
{
    health_pass p;
    std::vector<conn_row> rows;
    try {
        rows = list_connections(file, visit_segment, &p);
    } catch (...) {
        for (conn_pass &c : p.conns)
            events_walk_free(c.walk);
        throw;
    }
    medians(p);
    std::vector<health_row> out(rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
        finish(p.conns[i], rows[i]);
        out[i].conn = rows[i];
        out[i].health = p.conns[i].h;
        out[i].health.verdict = judge_health(out[i].health);
    }
    return out;
}

double health_goodput(const health_row &r, int way)
{
    if (!(r.health.duration > 0.0))
        return -1.0;
    return static_cast<double>(r.health.unique_bytes[way]) / r.health.duration;
}

std::vector<std::string> health_text(const std::vector<health_row> &rows)
{
    std::vector<conn_row> plain(rows.size());
    for (size_t i = 0; i < rows.size(); i++)
        plain[i] = rows[i].conn;
    std::vector<std::string> lines = connection_table(plain);
    char buf[256];
    std::snprintf(buf, sizeof buf, " %-9s %6s %6s %6s %6s %8s %-12s %10s %10s %s", "rtt", "retr>",
                  "retr<", "zwin>", "zwin<", "stall", "cause", "gput>", "gput<", "verdict");
    lines[0] += buf;
    for (size_t i = 0; i < rows.size(); i++) {
        const conn_health &h = rows[i].health;
        std::snprintf(buf, sizeof buf, " %-9s %6lld %6lld %6lld %6lld %8.3f %-12s %10s %10s %s",
                      optional_seconds(h.rtt_median, "-").c_str(),
                      (long long)h.retransmissions[0], (long long)h.retransmissions[1],
                      (long long)h.zero_windows[0], (long long)h.zero_windows[1],
                      h.longest_stall,
                      h.stall_cause != STALL_NONE ? stall_cause_names[h.stall_cause] : "-",
                      goodput_text(rows[i], 0, "-").c_str(),
                      goodput_text(rows[i], 1, "-").c_str(), verdict_names[h.verdict]);
        lines[i + 1] += buf;
    }
    return lines;
}

std::string health_csv_row(const health_row &r, size_t number)
{
    const conn_row &c = r.conn;
    const conn_health &h = r.health;
    std::string f[] = {
        std::to_string(number),
        conn_end_text(c.ends, 0),
        conn_end_text(c.ends, 1),
        std::to_string(c.packets[0]),
        std::to_string(c.bytes[0]),
        std::to_string(c.packets[1]),
        std::to_string(c.bytes[1]),
        time_text(c.first_sec, c.first_usec),
        time_text(c.last_sec, c.last_usec),
        fixed(h.duration),
        optional_seconds(h.rtt_median, ""),
        optional_seconds(h.initial_rtt, ""),
        fixed(h.client_wait),
        fixed(h.server_wait),
        std::to_string(h.retransmissions[0]),
        std::to_string(h.retransmissions[1]),
        std::to_string(h.lost[0]),
        std::to_string(h.lost[1]),
        std::to_string(h.zero_windows[0]),
        std::to_string(h.zero_windows[1]),
        h.stall_cause != STALL_NONE ? fixed(h.longest_stall) : std::string("0"),
        stall_cause_names[h.stall_cause],
        goodput_text(r, 0, ""),
        goodput_text(r, 1, ""),
        verdict_names[h.verdict],
    };
    std::string out;
    for (const std::string &s : f) {
        if (!out.empty())
            out += ',';
        out += s;
    }
    return out;
}

std::vector<std::string> health_cells(const health_row &r, size_t number)
{
    const conn_row &c = r.conn;
    const conn_health &h = r.health;
    return {std::to_string(number),
            verdict_names[h.verdict],
            conn_end_text(c.ends, 0),
            conn_end_text(c.ends, 1),
            std::to_string(c.packets[0]),
            std::to_string(c.bytes[0]),
            std::to_string(c.packets[1]),
            std::to_string(c.bytes[1]),
            fixed(static_cast<double>(c.first_sec) + c.first_usec / 1e6, "%.3f"),
            fixed(h.duration, "%.3f"),
            h.rtt_median >= 0.0 ? fixed(h.rtt_median, "%.4f") : std::string("-"),
            std::to_string(h.retransmissions[0]),
            std::to_string(h.retransmissions[1]),
            std::to_string(h.zero_windows[0]),
            std::to_string(h.zero_windows[1]),
            h.stall_cause != STALL_NONE ? fixed(h.longest_stall, "%.3f") : std::string("-"),
            h.stall_cause != STALL_NONE ? stall_cause_names[h.stall_cause] : "-",
            goodput_text(r, 0, "-"),
            goodput_text(r, 1, "-")};
}

int write_health_csv(FILE *out, const std::vector<health_row> &rows)
{
    int ok = std::fprintf(out, "%s\n", health_csv_header) > 0;
    for (size_t i = 0; i < rows.size() && ok; i++)
        ok = std::fprintf(out, "%s\n", health_csv_row(rows[i], i + 1).c_str()) > 0;
    return ok && std::fflush(out) == 0;
}

int print_health_tables(int nfiles, char *const names[], FILE *csv)
{
    int ok = 1;
    for (int f = 0; f < nfiles; f++) {
        std::vector<health_row> rows = health_table(names[f]);
        if (csv != nullptr) {
            ok = write_health_csv(csv, rows) && ok;
            continue;
        }
        std::printf("# %s: %zu TCP connection%s\n", names[f], rows.size(),
                    rows.size() == 1 ? "" : "s");
        std::vector<std::string> lines = health_text(rows);
        if (nfiles == 2 && f == 0)
            add_counterpart_column(&lines, names[0], names[1]);
        for (const std::string &line : lines)
            std::printf("%s\n", line.c_str());
    }
    return std::fflush(stdout) == 0 && ok;
}
