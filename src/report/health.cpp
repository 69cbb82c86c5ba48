/*
 * health.cpp --
 *
 *	The health table: one pass over a capture through the connection
 *	list's visitor. Each connection keeps an events walk, its counters,
 *	how it opened (SYNs, the answer), each way's first TTL and the data
 *	segments still waiting for their ACK (for the ack times); the ack
 *	times of all connections go to one array, ordered by connection and
 *	way at the end for the medians, of which the place of the capture
 *	makes the round trip. The verdicts and their reasons are read from
 *	the figures alone.
 */

#include "report/health.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analysis/events.h"
#include "analysis/left_host.h"
#include "capture/bytes.h"
#include "load/choose.h"
#include "report/table.h"
#include "trace/tcp_fields.h"
#include "trace/flow.h"
#include "trace/trace.h"

const char *const verdict_names[VERDICTS] = {"unanswered", "refused", "reset",   "stalled",
                                             "loss",       "window",  "server",  "client",
                                             "network",    "incomplete", "ok"};

const char health_csv_header[] =
    "number,from,to,packets_from,bytes_from,packets_to,bytes_to,first,last,duration,rtt_median,"
    "initial_rtt,client_wait,server_wait,retransmissions_from,retransmissions_to,lost_from,"
    "lost_to,zero_windows_from,zero_windows_to,longest_stall,stall_cause,goodput_from,"
    "goodput_to,verdict,reason";

const char *const health_cell_names[] = {"#",      "verdict", "from",   "to",     "pkts>",
                                         "bytes>", "pkts<",   "bytes<", "first",  "duration",
                                         "rtt",    "retr>",   "retr<",  "zwin>",  "zwin<",
                                         "stall",  "cause",   "gput>",  "gput<",
                                         "reason"};
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
    int8_t syn_way = -1;         /* way of the first SYN without ACK */
    int16_t ttl[2] = {-1, -1};   /* each way's first TTL; -1 none yet */
    uint8_t seen[2] = {0, 0};    /* 1 once the way sent a segment */
    float first_syn = 0.0f;      /* s, the first SYN without ACK */
    float half[2] = {-1.0f, -1.0f}; /* s, median ack time of each way's
                                  * segments; -1 none (medians) */
};

/* An ack time sample: the connection's row times 2 plus the way of the
 * segment timed. */
struct ack_sample {
    uint32_t slot;
    float seconds;
};

struct health_pass {
    std::vector<conn_pass> conns;
    std::vector<health_row> rows;    /* the result, health filled in as the
                                      * segments come (one copy of it) */
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
    if (!(s.tcp_flags & TH_ACK) || (s.tcp_flags & TH_RST))
        return;
    timed_queue &t = c.timed[way];
    while (t.head < t.q.size() && !seq_lt(ack_raw_of(s), t.q[t.head].end)) {
        const timed_seg &g = t.q[t.head++];
        if (g.end == ack_raw_of(s) && s.time >= g.at)
            p.samples.push_back(
                ack_sample{static_cast<uint32_t>(row * 2 + static_cast<size_t>(way)), s.time - g.at});
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
    timed_queue &t = c.timed[way];
    /* Whatever a resend covers again is no longer timed: its ACK could
     * answer either copy (a SYN sent again among them). */
    if (kinds & RESENT)
        while (t.head < t.q.size() && seq_lt(seq_raw_of(s), t.q.back().end))
            t.q.pop_back();
    if ((s.paylen <= 0 && !syn) || (kinds & (RESENT | PROBES)))
        return;
    uint32_t end = seq_raw_of(s) + static_cast<uint32_t>(s.paylen > 0 ? s.paylen : 0) + (syn ? 1 : 0);
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
    if ((s.tcp_flags & TH_RST) && !h.reset) {
        h.reset = 1;
        h.reset_way = way;
        h.reset_at = s.time;
    }
}

/* The opening: the SYNs of one way, whether the other end answered, and
 * whether its first answer was a reset. */
void note_opening(conn_pass &c, conn_health &h, int way, const seg_record &s)
{
    uint8_t f = s.tcp_flags;
    if ((f & TH_SYN) && !(f & TH_ACK) && (c.syn_way < 0 || c.syn_way == way)) {
        if (c.syn_way < 0)
            c.first_syn = s.time;
        c.syn_way = static_cast<int8_t>(way);
        h.syns++;
        h.syn_span = s.time - c.first_syn;
        return;
    }
    if (c.syn_way < 0)
        return;
    if (way == c.syn_way) {
        /* An ACK from the SYNs' end answers something: the peer's answer
         * was not captured, but came. */
        if ((f & TH_ACK) && !(f & TH_RST))
            h.answered = 1;
        return;
    }
    h.answered = 1;
    if (!c.seen[way] && (f & TH_RST) && !c.synack)
        h.refused = 1;
}

void visit_segment(void *user, const conn_segment &g)
{
    health_pass &p = *static_cast<health_pass *>(user);
    if (g.row == p.conns.size()) {
        p.conns.emplace_back();
        p.rows.emplace_back();
        conn_pass &c = p.conns.back();
        c.walk = events_walk_new();
        c.t0_sec = g.hdr->ts.tv_sec;
        c.t0_usec = g.hdr->ts.tv_usec;
        p.rows.back().health.reset_way = -1;
    }
    conn_pass &c = p.conns[g.row];
    conn_health &h = p.rows[g.row].health;
    seg_record s = record_of(c, g);
    if (c.ttl[g.way] < 0)
        c.ttl[g.way] = static_cast<int16_t>(g.ttl);
    int shift = -1, mss = 0;
    if (s.tcp_flags & TH_SYN) {
        syn_options(parse_tcp_fields(g.tcp, static_cast<int32_t>(g.tcp_avail)), &shift, &mss);
        if (s.tcp_flags & TH_ACK)
            c.synack |= c.syn;
        else
            c.syn = 1;
    }
    seg_events e = events_walk_step(c.walk, s, g.way, shift, mss);
    note_opening(c, h, g.way, s);
    c.seen[g.way] = 1;
    take_ack(p, g.row, c, 1 - g.way, s);
    time_segment(c, g.way, s, e.kinds);
    count(h, g.way, s, e.kinds);
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
    h.app_stall_way = -1;
    for (int d = 0; d < 2; d++) {
        if (o.dir[d].little_data)
            continue;
        const float *by = o.dir[d].stall_cause_longest;
        if (by[STALL_APPLICATION] > h.stall_longest_by[STALL_APPLICATION])
            h.app_stall_way = d;
        for (int k = 0; k < STALL_CAUSES; k++)
            h.stall_longest_by[k] = std::max(h.stall_longest_by[k], by[k]);
    }
}

/* Where the capture was taken: by the TTLs when exactly one way carries
 * its sender's initial value (there) or neither does (in the path); else
 * by the handshake, at the end whose round trip from the capture point
 * is the shorter: at an end that is its own turnaround, shorter than the
 * round trip through the peer. Taking a capture in the path near one end
 * for one at that end misses the short half; taking one at an end for
 * one in the path would count the capture host's ACK delay. */
int capture_place_of(const conn_pass &c, const conn_waits &w)
{
    if (c.ttl[0] >= 0 && c.ttl[1] >= 0) {
        bool first = initial_ttl(c.ttl[0]), second = initial_ttl(c.ttl[1]);
        if (first != second)
            return first ? CAPTURE_AT_END0 : CAPTURE_AT_END1;
        if (!first)
            return CAPTURE_IN_PATH;
    }
    if (w.has_rtt_to[0] && w.has_rtt_to[1] && w.rtt_to[0] != w.rtt_to[1])
        return w.rtt_to[0] < w.rtt_to[1] ? CAPTURE_AT_END0 : CAPTURE_AT_END1;
    return CAPTURE_IN_PATH;
}

/* The round trip from the halves: at an end, the time the capture host's
 * segments took to be acknowledged; in the path, both halves added (the
 * one there is when the other has no sample). -1 without one. */
double round_trip(const float half[2], int place)
{
    if (place != CAPTURE_IN_PATH)
        return half[place == CAPTURE_AT_END0 ? 0 : 1];
    if (half[0] >= 0.0 && half[1] >= 0.0)
        return static_cast<double>(half[0]) + half[1];
    return std::max(half[0], half[1]);
}

void finish(conn_pass &c, conn_health &h, const conn_row &r)
{
    const events_summary &o = events_walk_finish(c.walk);
    h.duration = seconds_between(r);
    /* A reset answering the SYN is no handshake. */
    h.initial_rtt = o.first_rtt > 0.0f && c.synack ? o.first_rtt : -1.0;
    h.client_wait = client_wait(o.waits);
    h.server_wait = server_wait(o.waits);
    h.exchanges = o.waits.exchanges;
    h.client_way = o.waits.client;
    h.capture = capture_place_of(c, o.waits);
    h.rtt_median = round_trip(c.half, h.capture);
    for (int d = 0; d < 2; d++) {
        const direction_events &e = o.dir[d];
        h.window_limited[d] = e.little_data ? 0.0 : e.share[SHARE_RWND];
        if (e.little_data)
            continue;
        h.recovery[d] = static_cast<float>(e.share[SHARE_RECOVERY] + e.stall_time[STALL_TIMEOUT]);
        h.window_held[d] =
            static_cast<float>(h.window_limited[d] + e.stall_time[STALL_ZERO_WINDOW]);
    }
    longest_stall(h, o);
    h.handshake = c.synack;
    events_walk_free(c.walk);
    c.walk = nullptr;
    for (timed_queue &t : c.timed)
        std::vector<timed_seg>().swap(t.q);
}

/* The median ack time of each way of each connection, from the samples,
 * into the connections' halves. */
void medians(health_pass &p)
{
    size_t n = p.conns.size() * 2;
    std::vector<uint32_t> start(n + 1, 0);
    for (const ack_sample &s : p.samples)
        start[s.slot + 1]++;
    for (size_t i = 0; i < n; i++)
        start[i + 1] += start[i];
    std::vector<float> sorted(p.samples.size());
    std::vector<uint32_t> at(start.begin(), start.end() - 1);
    for (const ack_sample &s : p.samples)
        sorted[at[s.slot]++] = s.seconds;
    std::vector<ack_sample>().swap(p.samples);
    for (size_t i = 0; i < n; i++) {
        float *b = sorted.data() + start[i], *e = sorted.data() + start[i + 1];
        size_t k = static_cast<size_t>(e - b);
        if (k == 0)
            continue;
        std::nth_element(b, b + k / 2, e);
        double mid = b[k / 2];
        if (k % 2 == 0)
            mid = (mid + *std::max_element(b, b + k / 2)) / 2.0;
        p.conns[i / 2].half[i % 2] = static_cast<float>(mid);
    }
}

/* A stall long enough for a verdict: 1 s, or 10% of the duration. */
bool long_stall(double length, double duration)
{
    return length > 0.0 && (length >= STALL_LONG || length >= STALL_SHARE * duration);
}

/* The segments of `way` lost: sent again at the sender's capture, or
 * missing before the capture point at the receiver's (whose resends the
 * events may call out of order). */
int64_t losses(const conn_health &h, int way)
{
    return std::max(h.retransmissions[way], h.lost[way]);
}

/* Losses above LOSS_SHARE of a way's data segments. */
bool lossy(const conn_health &h)
{
    for (int d = 0; d < 2; d++)
        if (static_cast<double>(losses(h, d)) > LOSS_SHARE * static_cast<double>(h.data_segments[d]))
            return true;
    return false;
}

/* The round trip the network verdict reads: the handshake's, else the
 * median. */
double judged_rtt(const conn_health &h)
{
    return h.initial_rtt >= 0.0 ? h.initial_rtt : h.rtt_median;
}

/* "client" or "server": the end sending `way`. */
const char *end_name(const conn_health &h, int way)
{
    return way == h.client_way ? "client" : "server";
}

const char *plural(int64_t n)
{
    return n == 1 ? "" : "s";
}

/* "85 retransmissions (4.2%), a 0.21 s timeout"; "11 retransmissions,
 * 28 lost (2.7%)" where segments went missing before the capture point;
 * the share is of the data segments. */
std::string loss_reason(const conn_health &h)
{
    int64_t resent = h.retransmissions[0] + h.retransmissions[1];
    int64_t lost = h.lost[0] + h.lost[1];
    int64_t data = h.data_segments[0] + h.data_segments[1];
    char buf[160];
    int n = 0;
    if (resent > 0 || lost == 0)
        n = std::snprintf(buf, sizeof buf, "%lld retransmission%s%s", (long long)resent,
                          plural(resent), lost > 0 ? ", " : "");
    if (lost > 0)
        n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%lld %slost",
                           (long long)lost, resent > 0 ? "" : lost == 1 ? "segment " : "segments ");
    if (data > 0)
        n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), " (%.1f%%)",
                           100.0 * static_cast<double>(losses(h, 0) + losses(h, 1)) /
                               static_cast<double>(data));
    double timeout = h.stall_longest_by[STALL_TIMEOUT];
    if (timeout > 0.0)
        std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", a %.2f s timeout",
                      timeout);
    return buf;
}

/* "12 zero windows from the client", or how long a sender was held. */
std::string window_reason(const conn_health &h)
{
    char buf[128];
    int64_t zw = h.zero_windows[0] + h.zero_windows[1];
    if (zw > 0) {
        int way = h.zero_windows[0] >= h.zero_windows[1] ? 0 : 1;
        std::snprintf(buf, sizeof buf, "%lld zero window%s from the %s", (long long)zw,
                      plural(zw), end_name(h, way));
        return buf;
    }
    double zero = h.stall_longest_by[STALL_ZERO_WINDOW];
    if (zero > 0.0) {
        std::snprintf(buf, sizeof buf, "a %.2f s stall on a zero window", zero);
        return buf;
    }
    int way = h.window_limited[0] >= h.window_limited[1] ? 0 : 1;
    double share = h.duration > 0.0 ? 100.0 * h.window_limited[way] / h.duration : 0.0;
    std::snprintf(buf, sizeof buf, "%s held by the %s's window %.0f%% of the time",
                  end_name(h, way), end_name(h, 1 - way), share);
    return buf;
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

std::string reason_cell(const health_row &r)
{
    std::string why = health_reason(r);
    return why.empty() ? "-" : why;
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
    if (h.syns > 0 && !h.answered)
        return VERDICT_UNANSWERED;
    if (h.refused)
        return VERDICT_REFUSED;
    if (h.reset)
        return VERDICT_RESET;
    /* Only an application stall is the verdict: a timeout's stall is the
     * loss's, a zero window's the window's. */
    if (long_stall(h.stall_longest_by[STALL_APPLICATION], dur))
        return VERDICT_STALLED;
    bool loss = lossy(h) || long_stall(h.stall_longest_by[STALL_TIMEOUT], dur);
    bool window = h.zero_windows[0] + h.zero_windows[1] > 0 ||
                  h.window_limited[0] > WINDOW_SHARE * dur ||
                  h.window_limited[1] > WINDOW_SHARE * dur ||
                  long_stall(h.stall_longest_by[STALL_ZERO_WINDOW], dur);
    /* Both: the one that held the senders longer is the cause (a slow
     * reader's window makes a sender resend a little too). */
    if (loss && !(window && h.window_held[0] + h.window_held[1] > h.recovery[0] + h.recovery[1]))
        return VERDICT_LOSS;
    if (window)
        return VERDICT_WINDOW;
    if (h.server_wait >= WAIT_LONG && h.server_wait >= WAIT_SHARE * dur)
        return VERDICT_SERVER;
    if (h.client_wait >= WAIT_LONG && h.client_wait >= WAIT_SHARE * dur)
        return VERDICT_CLIENT;
    if (judged_rtt(h) >= SLOW_PATH)
        return VERDICT_NETWORK;
    if (!h.handshake || !h.ended)
        return VERDICT_INCOMPLETE;
    return VERDICT_OK;
}

std::string health_reason(const health_row &r)
{
    const conn_health &h = r.health;
    char buf[160];
    switch (judge_health(h)) {
    case VERDICT_UNANSWERED:
        if (h.syns == 1)
            return "1 SYN, no answer";
        std::snprintf(buf, sizeof buf, "%d SYNs over %.1f s, no answer", h.syns, h.syn_span);
        return buf;
    case VERDICT_REFUSED:
        return "the SYN answered by a reset";
    case VERDICT_RESET:
        std::snprintf(buf, sizeof buf, "reset by the %s at %.2f s", end_name(h, h.reset_way),
                      h.reset_at);
        return buf;
    case VERDICT_STALLED:
        std::snprintf(buf, sizeof buf, "%s paused %.2f s mid-transfer, nothing outstanding",
                      end_name(h, h.app_stall_way), h.stall_longest_by[STALL_APPLICATION]);
        return buf;
    case VERDICT_LOSS:
        return loss_reason(h);
    case VERDICT_WINDOW:
        return window_reason(h);
    case VERDICT_SERVER:
        std::snprintf(buf, sizeof buf, "server waited %.2f s before answering", h.server_wait);
        return buf;
    case VERDICT_CLIENT:
        std::snprintf(buf, sizeof buf, "client waited %.2f s before its %srequest", h.client_wait,
                      h.exchanges > 1 ? "next " : "");
        return buf;
    case VERDICT_NETWORK:
        std::snprintf(buf, sizeof buf, "a round trip of %.3f s", judged_rtt(h));
        return buf;
    case VERDICT_INCOMPLETE:
        return !h.handshake && !h.ended ? "no handshake and no FIN or RST seen"
               : !h.handshake           ? "no handshake seen"
                                        : "no FIN or RST seen";
    default:
        return "";
    }
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
    std::vector<health_row> out = std::move(p.rows);
    for (size_t i = 0; i < rows.size(); i++) {
        finish(p.conns[i], out[i].health, rows[i]);
        out[i].conn = rows[i];
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

std::vector<std::string> health_text(const std::vector<health_row> &rows,
                                     const std::vector<int> *other)
{
    std::vector<conn_row> plain(rows.size());
    for (size_t i = 0; i < rows.size(); i++)
        plain[i] = rows[i].conn;
    std::vector<std::string> lines = connection_table(plain);
    char buf[256];
    /* The counterpart of each row in a second file, before the reason. */
    auto other_text = [other](size_t i) {
        if (other == nullptr)
            return std::string();
        std::string n = i < other->size() && (*other)[i] > 0 ? std::to_string((*other)[i]) : "-";
        return " " + std::string(n.size() < 5 ? 5 - n.size() : 0, ' ') + n;
    };
    std::snprintf(buf, sizeof buf, " %-9s %6s %6s %6s %6s %8s %-12s %10s %10s %-10s%s %s", "rtt",
                  "retr>", "retr<", "zwin>", "zwin<", "stall", "cause", "gput>", "gput<", "verdict",
                  other != nullptr ? " other" : "", "reason");
    lines[0] += buf;
    for (size_t i = 0; i < rows.size(); i++) {
        const conn_health &h = rows[i].health;
        std::string why = health_reason(rows[i]);
        std::snprintf(buf, sizeof buf, " %-9s %6lld %6lld %6lld %6lld %8.3f %-12s %10s %10s %-10s%s %s",
                      optional_seconds(h.rtt_median, "-").c_str(),
                      (long long)h.retransmissions[0], (long long)h.retransmissions[1],
                      (long long)h.zero_windows[0], (long long)h.zero_windows[1],
                      h.longest_stall,
                      h.stall_cause != STALL_NONE ? stall_cause_names[h.stall_cause] : "-",
                      goodput_text(rows[i], 0, "-").c_str(),
                      goodput_text(rows[i], 1, "-").c_str(), verdict_names[h.verdict],
                      other_text(i).c_str(), why.empty() ? "-" : why.c_str());
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
        csv_field(health_reason(r)),
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
            goodput_text(r, 1, "-"),
            reason_cell(r)};
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
        std::vector<int> other;
        if (nfiles == 2 && f == 0)
            other = counterpart_numbers(names[0], names[1]);
        std::vector<std::string> lines = health_text(rows, nfiles == 2 && f == 0 ? &other : nullptr);
        for (const std::string &line : lines)
            std::printf("%s\n", line.c_str());
    }
    return std::fflush(stdout) == 0 && ok;
}
