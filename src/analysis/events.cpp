/*
 * events.cpp --
 *
 *	The events pass: one walk over the main trace in segment order with
 *	the state of each direction ("flow"), the rules of each event kind,
 *	and the bookkeeping of where each direction's time went.
 *
 *	The flow state and the order of the rules follow the common packet
 *	analyser's TCP sequence analysis, so that its tcp.analysis fields and
 *	ours agree frame by frame: sequence numbers are compared modulo 2^32
 *	as carried, windows are scaled by the handshake's shift when both
 *	ends offered one, and several kinds end the checks of a segment early
 *	(a zero-window probe, a keep-alive ACK, a zero-window-probe ACK).
 */

#include "analysis/events.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "analysis/give_way.h"
#include "trace/direction.h"
#include "trace/tcp_fields.h"
#include "trace/trace.h"

events_state g_events;

const char *const event_kind_names[EVENT_KINDS] = {
    "ack_lost_segment",   "duplicate_ack",          "retransmission",
    "fast_retransmission", "out_of_order",          "spurious_retransmission",
    "lost_segment",       "keep_alive",             "keep_alive_ack",
    "zero_window",        "zero_window_probe",      "zero_window_probe_ack",
    "window_full",        "window_update",          "timeout_retransmission",
    "stall"};

const char *const stall_cause_names[STALL_CAUSES] = {"", "timeout", "zero_window",
                                                     "application", "unknown"};

namespace {

constexpr uint16_t bit(int kind)
{
    return static_cast<uint16_t>(1u << kind);
}

/* Kinds that send data again. */
constexpr uint16_t RESENT = bit(EV_RETRANSMISSION) | bit(EV_FAST_RETRANSMISSION) |
                            bit(EV_OUT_OF_ORDER) | bit(EV_SPURIOUS_RETRANSMISSION);

constexpr uint16_t WARNINGS = bit(EV_RETRANSMISSION) | bit(EV_FAST_RETRANSMISSION) |
                              bit(EV_SPURIOUS_RETRANSMISSION) | bit(EV_LOST_SEGMENT) |
                              bit(EV_ACK_LOST_SEGMENT) | bit(EV_ZERO_WINDOW) |
                              bit(EV_TIMEOUT_RETRANSMISSION) | bit(EV_STALL);

/* The analyser's out-of-order threshold without a handshake round trip. */
constexpr float DEFAULT_OOO_THRESHOLD = 0.003f;
/* A fast retransmission follows the duplicate ACKs within this. */
constexpr float FAST_RETRANSMISSION_WINDOW = 0.020f;
/* Floors of the timeout and stall thresholds. */
constexpr float MIN_TIMEOUT = 0.200f;

bool seq_gt(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }
bool seq_lt(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }
bool seq_le(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) <= 0; }

/*
 * The state of one direction of the walk. Starts all zero but for the
 * window scale and the indexes (flow_start).
 */
struct flow {
    uint32_t nextseq;        /* next expected sequence number */
    bool has_nextseq;
    float nextseq_time;      /* s, when nextseq last moved */
    uint32_t maxseq;         /* highest contiguous seq still to be acked */
    bool has_maxseq;
    uint32_t lastack;        /* ack number of the last segment */
    bool has_lastack;        /* that segment had the ACK flag */
    float last_time;         /* s, time of the last segment */
    float active_time;       /* s, time of the last segment that is not a
                              * probe (keep-alive, zero-window probe) */
    int32_t active_index;    /* ... and its index; -1 before the first */
    uint32_t window;         /* last window, scaled as known */
    int scale;               /* shift in use; -1 unknown, -2 none */
    uint16_t lastkinds;      /* kinds of the last segment */
    int32_t dupacknum;       /* duplicate ACKs in a row; -1 once the
                              * other direction reported an ACK of
                              * unseen data it cannot place */
    int32_t lastnondupack;   /* index of the ACK they duplicate */
    float last_zero_time;    /* s, last segment with a zero window; -1 */
    bool sent_data;
    bool took_space;         /* a segment took sequence space (payload,
                              * SYN or FIN): only then can data be
                              * outstanding */
    bool sent_fin;           /* a FIN of this flow was seen */
    int32_t mss;             /* largest payload sent */
    float srtt;              /* s; 0 before the first sample */
    bool timing;             /* a segment of this flow is being timed: */
    uint32_t timed_end;      /* ... the sequence number its ACK reaches */
    float timed_at;          /* ... and when it was sent */
    bool in_recovery;
    uint32_t recovery_point;
    double pending[TIME_SHARES]; /* s since this flow's last segment that
                              * was not a probe, by share */
};

void flow_start(flow &f)
{
    std::memset(&f, 0, sizeof f);
    f.scale = -1;
    f.active_index = -1;
    f.lastnondupack = -1;
    f.last_zero_time = -1.0f;
}

/* The segment size assumed of an end that offered none (RFC 9293). */
constexpr int32_t DEFAULT_MSS = 536;

/*
 * The handshake fixes each direction's scale: a SYN without the option
 * means no scaling either way; a SYN-ACK with it after a SYN without
 * does not scale either.
 */
void note_syn(flow &f, flow &r, int shift, bool is_synack)
{
    f.scale = shift;
    if (f.scale == -1) {
        f.scale = -2;
        r.scale = -2;
    } else if (is_synack && r.scale == -2) {
        f.scale = -2;
    }
}

uint32_t scaled_window(const flow &f, const seg_record &s)
{
    uint32_t w = s.win;
    if (!(s.tcp_flags & TH_SYN) && f.scale >= 0)
        w <<= f.scale;
    return w;
}

/* The analyser's rules for one segment of flow f (r: the other flow). */
struct seg_result {
    uint16_t kinds;
    int32_t ref;
    int32_t dup_num;
};

seg_result analyser_rules(flow &f, flow &r, const seg_record &s, int32_t i, float first_rtt)
{
    seg_result out{0, -1, 0};
    uint16_t &k = out.kinds;
    uint32_t seq = seq_raw_of(s);
    uint32_t ack = ack_raw_of(s);
    uint32_t seglen = s.paylen > 0 ? static_cast<uint32_t>(s.paylen) : 0;
    uint8_t flags = s.tcp_flags;
    bool sfr = (flags & (TH_SYN | TH_FIN | TH_RST)) != 0;
    uint32_t win = scaled_window(f, s);
    float t = s.time;
    bool at_next = f.has_nextseq && seq == f.nextseq;
    bool same_ack = f.has_lastack && (flags & TH_ACK) && ack == f.lastack;

    if (seglen == 1 && at_next && r.window == 0) {
        k |= bit(EV_ZERO_WINDOW_PROBE);
        goto finished_fwd;
    }
    if (win == 0 && !sfr)
        k |= bit(EV_ZERO_WINDOW);
    if (f.has_nextseq && seq_gt(seq, f.nextseq) && !(flags & TH_RST))
        k |= bit(EV_LOST_SEGMENT);
    if (seglen <= 1 && f.has_nextseq && seq == f.nextseq - 1 && !sfr)
        k |= bit(EV_KEEP_ALIVE);
    if (seglen == 0 && win != 0 && win != f.window && at_next && same_ack && !sfr)
        k |= bit(EV_WINDOW_UPDATE);
    if (seglen > 0 && r.scale != -1 && r.has_lastack && seq + seglen == r.lastack + r.window &&
        !sfr)
        k |= bit(EV_WINDOW_FULL);
    if (seglen == 0 && win != 0 && win == f.window && at_next && same_ack &&
        (r.lastkinds & bit(EV_KEEP_ALIVE)) && !sfr) {
        k |= bit(EV_KEEP_ALIVE_ACK);
        goto finished_fwd;
    }
    if (seglen == 0 && win == 0 && win == f.window && at_next && same_ack &&
        (r.lastkinds & bit(EV_ZERO_WINDOW_PROBE)) && !sfr) {
        k |= bit(EV_ZERO_WINDOW_PROBE_ACK);
        goto finished_fwd;
    }
    if (seglen == 0 && win != 0 && win == f.window && at_next && same_ack && !sfr) {
        /* -1: the other direction's ACK of unseen data was counted (see
         * below); this duplicate starts a run of its own. */
        f.dupacknum = f.dupacknum < 0 ? 1 : f.dupacknum + 1;
        k |= bit(EV_DUPLICATE_ACK);
        out.ref = f.lastnondupack;
        out.dup_num = f.dupacknum;
    }

finished_fwd:
    /* A new acknowledgement number ends a run of duplicates; whatever
     * repeats it (a window update, data) leaves the run as it was. */
    if (ack != f.lastack) {
        f.lastnondupack = i;
        f.dupacknum = 0;
    }
    /* An ACK of data never seen is reported once per gap: the highest
     * number to be acknowledged jumps to the next expected one. When it
     * cannot jump (the other direction sent nothing since), it is
     * reported again only after that direction has sent a duplicate ACK,
     * whose count, -1 here, marks the report. */
    if (r.has_maxseq && seq_gt(ack, r.maxseq) && (flags & TH_ACK)) {
        if (seq_lt(r.maxseq, r.nextseq)) {
            r.maxseq = r.nextseq;
            k |= bit(EV_ACK_LOST_SEGMENT);
        } else {
            if (r.dupacknum == 0)
                k |= bit(EV_ACK_LOST_SEGMENT);
            r.dupacknum = -1;
        }
    }

    if (seglen > 0 || (flags & (TH_SYN | TH_FIN))) {
        if (!(k & bit(EV_KEEP_ALIVE))) {
            bool not_advanced = f.has_nextseq && seq_lt(seq, f.nextseq);
            if (seglen > 1 && f.has_nextseq && f.nextseq - 1 == seq)
                not_advanced = false;
            if (seglen > 0 && r.has_lastack && r.lastack != 0 && seq_le(seq + seglen, r.lastack)) {
                /* Marked a retransmission as well, as the analyser's
                 * fields mark it. */
                k |= bit(EV_SPURIOUS_RETRANSMISSION) | bit(EV_RETRANSMISSION);
            } else if (not_advanced) {
                float ooo = first_rtt > 0.0f ? first_rtt : DEFAULT_OOO_THRESHOLD;
                if (t - r.last_time < FAST_RETRANSMISSION_WINDOW && r.dupacknum >= 2 &&
                    r.has_lastack && r.lastack == seq)
                    k |= bit(EV_FAST_RETRANSMISSION) | bit(EV_RETRANSMISSION);
                else if (t - f.nextseq_time < ooo &&
                         f.nextseq != seq + seglen + ((flags & (TH_SYN | TH_FIN)) ? 1 : 0))
                    k |= bit(EV_OUT_OF_ORDER);
                else
                    k |= bit(EV_RETRANSMISSION);
            }
        }
    }
    /* Every segment moves the next expected sequence number, a bare ACK
     * too: a capture that starts mid-connection learns it from the first
     * segment of each direction, whatever its length, so that an end
     * sending nothing but ACKs still has one (its duplicate ACKs and
     * window updates need it), and a resend that comes first does not
     * stand for the highest sequence number to be acknowledged. */
    if (!(k & bit(EV_ZERO_WINDOW_PROBE))) {
        uint32_t next = seq + seglen + ((flags & (TH_SYN | TH_FIN)) ? 1 : 0);
        if (!f.has_nextseq || seq_gt(next, f.nextseq)) {
            f.nextseq = next;
            f.has_nextseq = true;
            f.nextseq_time = t;
        }
        if (!f.has_maxseq || seq == f.maxseq) {
            f.maxseq = f.nextseq;
            f.has_maxseq = true;
        }
    }
    f.window = win;
    f.lastack = ack;
    f.has_lastack = (flags & TH_ACK) != 0;
    f.lastkinds = k;
    return out;
}

/* Data of flow f not yet acknowledged by r. */
bool outstanding(const flow &f, const flow &r)
{
    return f.took_space && (!r.has_lastack || seq_gt(f.nextseq, r.lastack));
}

/* Which share the time from now to the next segment goes to, for f. */
int share_now(const flow &f, const flow &r)
{
    if (f.in_recovery)
        return SHARE_RECOVERY;
    /* Before its first data a direction sends nothing the receiver's
     * window could hold back: the handshake's round trip is idle time. */
    if (!f.sent_data || !outstanding(f, r))
        return SHARE_IDLE;
    uint32_t in_flight = f.nextseq - r.lastack;
    uint32_t mss = f.mss > 0 ? static_cast<uint32_t>(f.mss) : 536u;
    if (!r.has_lastack || r.window <= in_flight + mss)
        return SHARE_RWND;
    return SHARE_SENDING;
}

/* Probes do not end a silence: they keep an idle or closed-window
 * connection alive without sending anything new. */
constexpr uint16_t PROBES = bit(EV_KEEP_ALIVE) | bit(EV_ZERO_WINDOW_PROBE);

/*
 * The own kinds of segment e of f at time t. `was_outstanding`: f had
 * data not yet acknowledged before this segment; `resumes`: it carries
 * data and the last data of the connection before it was f's too.
 */
void own_kinds(seg_events &e, const flow &f, const flow &r, float t, bool was_outstanding,
               bool resumes)
{
    float rto = std::max(MIN_TIMEOUT, 2.0f * f.srtt);
    float stall = std::max(MIN_TIMEOUT, 4.0f * f.srtt);
    if ((e.kinds & RESENT) && f.active_index >= 0 && t - f.last_time >= rto && r.dupacknum < 3)
        e.kinds |= bit(EV_TIMEOUT_RETRANSMISSION);
    if (!f.sent_data || f.active_index < 0 || (e.kinds & PROBES) || t - f.active_time < stall)
        return;
    /* After its FIN a direction has nothing left to send: its silence
     * (until it ACKs the other's FIN) is no stall, unless it ends with
     * something sent again. */
    if (f.sent_fin && !(e.kinds & RESENT))
        return;
    uint8_t cause = STALL_UNKNOWN;
    if (e.kinds & bit(EV_TIMEOUT_RETRANSMISSION))
        cause = STALL_TIMEOUT;
    else if (r.window == 0 || r.last_zero_time >= f.active_time)
        cause = STALL_ZERO_WINDOW;
    else if (!was_outstanding)
        cause = STALL_APPLICATION;
    /* Nothing owed either way: f's silence is an application stall only
     * when f goes on with the data it sent last; when the other side
     * spoke last, or f ends the silence with a bare ACK, it was a turn. */
    if (cause == STALL_APPLICATION && !resumes)
        return;
    e.kinds |= bit(EV_STALL);
    e.ref = f.active_index;
    e.cause = cause;
}

/* Settles the time since f's last segment that was not a probe into its
 * figures: all of it is stalled time when `e` ends a stall. */
void settle(flow &f, direction_events &d, const seg_events *e)
{
    double total = 0.0;
    for (double p : f.pending)
        total += p;
    if (e != nullptr && (e->kinds & bit(EV_STALL))) {
        d.stalls++;
        d.stall_total += total;
        d.stall_longest = std::max(d.stall_longest, total);
        d.stall_time[e->cause] += total;
        d.stall_cause_longest[e->cause] =
            std::max(d.stall_cause_longest[e->cause], static_cast<float>(total));
        d.share[SHARE_STALLED] += total;
    } else {
        for (int s = 0; s < TIME_SHARES; s++)
            d.share[s] += f.pending[s];
    }
    std::fill(std::begin(f.pending), std::end(f.pending), 0.0);
}

/*
 * The round trip of f's data as a sender times it: one segment at a time,
 * from a segment that sent new data to the first ACK from r that covers
 * it, smoothed as RFC 6298 does. Karn's rule: a retransmission of timed
 * data drops the timing. `s` is f's segment with kinds `kinds`; `advanced`
 * says it moved f's next expected sequence number.
 */
void round_trip(flow &f, flow &r, const seg_record &s, uint16_t kinds, bool advanced)
{
    if (r.timing && (s.tcp_flags & TH_ACK) && !seq_lt(ack_raw_of(s), r.timed_end)) {
        float sample = s.time - r.timed_at;
        if (sample > 0.0f)
            r.srtt = r.srtt > 0.0f ? 0.875f * r.srtt + 0.125f * sample : sample;
        r.timing = false;
    }
    if (f.timing && (kinds & RESENT) && seq_lt(seq_raw_of(s), f.timed_end))
        f.timing = false;
    else if (!f.timing && advanced && !(kinds & (RESENT | PROBES))) {
        f.timing = true;
        f.timed_end = f.nextseq;
        f.timed_at = s.time;
    }
}

}  // namespace

bool event_is_warning(int kind)
{
    return kind >= 0 && kind < EVENT_KINDS && (WARNINGS & bit(kind)) != 0;
}

void events_clear()
{
    scratch_vec<seg_event_bits>().swap(g_events.seg);
    scratch_vec<seg_event_refs>().swap(g_events.refs);
    std::memset(g_events.dir, 0, sizeof g_events.dir);
    g_events.first_rtt = 0.0f;
    std::memset(&g_events.summary, 0, sizeof g_events.summary);
}

void syn_options(const tcp_fields &f, int *shift, int *mss)
{
    *shift = f.has_wscale ? std::min(f.wscale, 14) : -1;
    *mss = f.has_mss ? f.mss : 0;
}

bool events_at(int32_t i, seg_events *out)
{
    if (i < 0 || static_cast<size_t>(i) >= g_events.seg.size())
        return false;
    const seg_event_bits &b = g_events.seg[static_cast<size_t>(i)];
    *out = seg_events{b.kinds, b.cause, b.dir, -1, 0};
    auto at = std::lower_bound(g_events.refs.begin(), g_events.refs.end(), i,
                               [](const seg_event_refs &r, int32_t k) { return r.index < k; });
    if (at != g_events.refs.end() && at->index == i) {
        out->ref = at->ref;
        out->dup_num = at->dup_num;
    }
    return true;
}

const seg_events *events_of(int32_t i)
{
    thread_local seg_events slot;
    return events_at(i, &slot) ? &slot : nullptr;
}

std::string events_kinds_text(uint16_t kinds, char sep)
{
    std::string out;
    for (int k = 0; k < EVENT_KINDS; k++) {
        if (!(kinds & bit(k)))
            continue;
        if (!out.empty())
            out += sep;
        out += event_kind_names[k];
    }
    return out;
}

/*
 * The state of one walk: both flows and what the segments so far gave.
 * find_events keeps one for the main trace; the health table keeps one a
 * connection, so both apply the same rules segment by segment.
 */
struct events_walk {
    flow fl[2];
    float syn_time;          /* s, last SYN without ACK; -1 none */
    float prev_time;         /* s, time of the last segment; -1 before it */
    int last_data_dir;       /* direction of the last segment with data
                              * (not a probe); -1 before it */
    int32_t count;           /* segments walked */
    events_summary out;
};

namespace {

/* Keeps the longest stall of direction d: its length and cause; the
 * earlier one on a tie, as the -S list sorts them. */
void note_stall(events_summary &o, int d, const seg_events &e, float t, float from)
{
    double len = static_cast<double>(t) - from;
    if (o.longest[d].cause != STALL_NONE && !(len > o.longest[d].length))
        return;
    o.longest[d] = stall_note{len, e.cause, o.count_walked};
}

}  // namespace

events_walk *events_walk_new()
{
    events_walk *w = new events_walk;
    flow_start(w->fl[0]);
    flow_start(w->fl[1]);
    w->syn_time = -1.0f;
    w->prev_time = -1.0f;
    w->last_data_dir = -1;
    w->count = 0;
    std::memset(&w->out, 0, sizeof w->out);
    waits_start(&w->out.waits);
    return w;
}

void events_walk_free(events_walk *w)
{
    delete w;
}

seg_events events_walk_step(events_walk *w, const seg_record &s, int d, int syn_shift,
                            int syn_mss)
{
    int32_t i = w->count++;
    events_summary &o = w->out;
    o.count_walked = i;
    flow &f = w->fl[d];
    flow &r = w->fl[1 - d];
    direction_events &de = o.dir[d];
    flow *fl = w->fl;

    /* The time since the last segment goes to each flow's state. */
    double dt = w->prev_time < 0.0f ? 0.0 : static_cast<double>(s.time) - w->prev_time;
    if (dt > 0.0) {
        fl[0].pending[share_now(fl[0], fl[1])] += dt;
        fl[1].pending[share_now(fl[1], fl[0])] += dt;
    }
    w->prev_time = s.time;

    if (s.tcp_flags & TH_SYN) {
        note_syn(f, r, syn_shift, (s.tcp_flags & TH_ACK) != 0);
        if (syn_mss > 0)
            o.mss_offered[d] = syn_mss;
        if (!(s.tcp_flags & TH_ACK))
            w->syn_time = s.time;
    } else if ((s.tcp_flags & TH_ACK) && o.first_rtt == 0.0f && w->syn_time >= 0.0f) {
        o.first_rtt = s.time - w->syn_time;
    }

    bool was_outstanding = outstanding(f, r);
    bool had_next = f.has_nextseq;
    uint32_t next_before = f.nextseq;
    seg_result res = analyser_rules(f, r, s, i, o.first_rtt);
    seg_events e{res.kinds, STALL_NONE, static_cast<uint8_t>(d), res.ref, res.dup_num};
    bool data = s.paylen > 0 && !(e.kinds & PROBES);
    own_kinds(e, f, r, s.time, was_outstanding, data && w->last_data_dir == d);
    if (data)
        w->last_data_dir = d;
    if (!(e.kinds & PROBES))
        settle(f, de, &e);
    if (e.kinds & bit(EV_STALL))
        note_stall(o, d, e, s.time, f.active_time);

    /* Only what takes sequence space is timed: a bare ACK that moves the
     * next expected number sends nothing to acknowledge. */
    bool takes_space = s.paylen > 0 || (s.tcp_flags & (TH_SYN | TH_FIN));
    round_trip(f, r, s, e.kinds, takes_space && (!had_next || seq_gt(f.nextseq, next_before)));
    f.took_space = f.took_space || takes_space;
    /* Loss recovery: from a retransmission of f, or from the third
     * duplicate ACK f sends r, until the ACK passes the point. */
    if ((e.kinds & (RESENT & ~bit(EV_OUT_OF_ORDER))) && !f.in_recovery) {
        f.in_recovery = true;
        f.recovery_point = f.nextseq;
    }
    if (res.dup_num == 3 && !r.in_recovery && r.has_nextseq) {
        r.in_recovery = true;
        r.recovery_point = r.nextseq;
    }
    if (r.in_recovery && f.has_lastack && !seq_lt(f.lastack, r.recovery_point))
        r.in_recovery = false;

    for (unsigned rest = e.kinds; rest != 0; rest &= rest - 1)
        de.count[__builtin_ctz(rest)]++;
    if (s.paylen > 0) {
        f.sent_data = true;
        f.mss = std::max(f.mss, s.paylen);
        de.payload += s.paylen;
    }
    if (s.win == 0 && !(s.tcp_flags & (TH_SYN | TH_FIN | TH_RST)))
        f.last_zero_time = s.time;
    if (s.tcp_flags & TH_FIN)
        f.sent_fin = true;
    f.last_time = s.time;
    if (!(e.kinds & PROBES)) {
        f.active_time = s.time;
        f.active_index = i;
    }
    waits_step(&o.waits, s, d, (e.kinds & PROBES) != 0);
    return e;
}

const events_summary &events_walk_finish(events_walk *w)
{
    events_summary &o = w->out;
    for (int d = 0; d < 2; d++) {
        settle(w->fl[d], o.dir[d], nullptr);
        o.dir[d].sent_data = w->fl[d].sent_data;
        o.dir[d].srtt = w->fl[d].srtt;
        /* Less than one segment the other end would take: a request or
         * an acknowledgement, not a transfer whose time is worth telling. */
        int32_t full = o.mss_offered[1 - d] > 0 ? o.mss_offered[1 - d] : DEFAULT_MSS;
        o.dir[d].little_data = o.dir[d].payload < full;
    }
    return o;
}

namespace {

/* Records the events walk takes between two pause points: some tens of
 * microseconds, so that an analysis helper waits little for the core. */
constexpr int32_t EVENTS_PIECE = 4096;

}  // namespace

void find_events()
{
    events_clear();
    const trace_array &t = g_trace.main;
    if (t.count <= 0)
        return;
    /* Each record's events are appended once, not cleared first. */
    g_events.seg.reserve(static_cast<size_t>(t.count));
    std::unique_ptr<events_walk, void (*)(events_walk *)> w(events_walk_new(), events_walk_free);
    for (int32_t i = 0; i < t.count; i++) {
        /* The walk runs beside the analysis: it gives way to the
         * analysis's helpers between pieces of EVENTS_PIECE records. */
        if (i % EVENTS_PIECE == 0)
            give_way_pause_point();
        const seg_record &s = t.rec[i];
        int d = same_direction(s, t.rec[0]) ? 0 : 1;
        int shift = -1, mss = 0;
        if (s.tcp_flags & TH_SYN)
            syn_options(record_tcp_fields(i), &shift, &mss);
        seg_events e = events_walk_step(w.get(), s, d, shift, mss);
        g_events.seg.push_back(seg_event_bits{e.kinds, e.cause, e.dir});
        if (e.ref != -1 || e.dup_num != 0)
            g_events.refs.push_back(seg_event_refs{i, e.ref, e.dup_num});
    }
    const events_summary &o = events_walk_finish(w.get());
    std::memcpy(g_events.dir, o.dir, sizeof g_events.dir);
    g_events.first_rtt = o.first_rtt;
    g_events.summary = o;
}
