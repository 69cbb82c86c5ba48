/*
 * series.cpp --
 *
 *	Building the graphs' series from the loaded connection, in two forms
 *	that give the same graph.
 *
 *	The literal form (build_graph_literal) makes one pass over the main
 *	trace in index order (two for the time-sequence graph, which first
 *	finds the handshake; its own for the throughput graph's default
 *	window), reads the TCP options of every record that may have them,
 *	then sorts each series by time where the capture's time stamps run
 *	backwards, and builds the pyramid and the extents from the points.
 *
 *	The fast form (build_graph) does the same work with less reading: a
 *	pass runs in two parts on two threads, each filling series of its own
 *	(the segments sent and what comes back; the two directions of the
 *	one-way delay; the two rates); options are read only where the
 *	decoder saw any; the acknowledgement-time samples and the default
 *	window come from the pass that needs them; and a series keeps its
 *	pyramid's first level as its points come, so that finishing reads no
 *	point of a series in time order.
 */

#include "graph/series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "analysis/class_name.h"
#include "analysis/events.h"
#include "analysis/line.h"
#include "analysis/marking.h"
#include "trace/tcp_fields.h"
#include "load/loader.h"
#include "text/endpoint_text.h"
#include "trace/flow.h"
#include "trace/trace.h"

namespace {

const char *const type_names[GRAPH_TYPES] = {"tsg", "tput", "rtt", "owd", "inflight"};
const char *const type_titles[GRAPH_TYPES] = {"time-sequence", "throughput", "round-trip time",
                                              "one-way delay", "bytes in flight"};

/* Colours of the series that are not a segment class. */
const char ACK_COLOUR[] = "#008000";
const char WINDOW_COLOUR[] = "#319795";
const char SACK_COLOUR[] = "#d53f8c";
const char ZERO_WINDOW_COLOUR[] = "#e53e3e";
const char LABEL_COLOUR[] = "#1a202c";
const char EVENT_COLOUR[] = "#000000";
const char LR_COLOUR[] = "#2b6cb0";
const char RL_COLOUR[] = "#c05621";

/* The largest window scale shift TCP honours. */
const int MAX_WSCALE = 14;

/* Whether the loaded connection has records and lines to graph. */
bool have_connection()
{
    return g_trace.loaded && g_trace.main.count > 0 && g_trace.lines != nullptr &&
           g_trace.main.rec != nullptr;
}

/* Whether a record other than a SYN may carry TCP options: the decoder
 * counted the records that cannot (trace_array.option_free). */
bool options_beyond_syns()
{
    return g_trace.main.option_free != g_trace.main.count;
}

/* Colours of the segment classes: the legend's, as "#rrggbb". */
const char *class_colour(int cls)
{
    switch (cls) {
    case CLS_RETRANS:
        return "#ffa500";
    case CLS_LOST:
    case CLS_UNUSED:
        return "#800080";
    case CLS_OUTORDER:
        return "#a52a2a";
    case CLS_DUPACK:
        return "#008000";
    case CLS_NODATA:
        return "#ff0000";
    default:
        return "#0000ff";
    }
}

graph_series &add_series(graph_data &g, const std::string &name, const char *colour,
                         series_style style)
{
    graph_series s;
    s.name = name;
    s.colour = colour;
    s.style = style;
    s.dashed = 0;
    g.series.push_back(std::move(s));
    return g.series.back();
}

/* Room for `n` points of `s`, taken at once: growing a series of
 * millions of points step by step copies it and touches fresh pages each
 * time. Pages of the room never filled are never touched. (Huge pages
 * were tried: with the memory of a busy machine fragmented, the kernel's
 * compaction for them doubled a build's time.) */
void reserve_points(graph_series &s, size_t n)
{
    s.pts.reserve(n);
}

size_t record_count()
{
    return static_cast<size_t>(g_trace.main.count);
}

/*
 * A series under construction keeps its pyramid's first stored level
 * filled as its points come, while they come in time order: pyr.lo_min
 * and hi_max then have PYRAMID_FIRST_LEVEL levels, the last one the
 * blocks so far. A point out of time order leaves them one empty level,
 * and the pyramid is built after a sort (finish_graph_fast). The literal
 * finish builds it again from the points.
 */
const size_t GATHERING = PYRAMID_FIRST_LEVEL;

inline void gather_point(graph_series &s, float t, double lo, double hi)
{
    column_pyramid &p = s.pyr;
    size_t n = s.pts.size();
    if (n == 0) {
        p.lo_min.assign(GATHERING, {});
        p.hi_max.assign(GATHERING, {});
    } else if (p.lo_min.size() != GATHERING) {
        return;
    } else if (t < s.pts.t(n - 1)) {
        p.lo_min.assign(1, {});
        p.hi_max.assign(1, {});
        return;
    }
    std::vector<double> &l = p.lo_min[GATHERING - 1], &h = p.hi_max[GATHERING - 1];
    if ((n & ((size_t{1} << PYRAMID_FIRST_LEVEL) - 1)) == 0) {
        l.push_back(lo);
        h.push_back(hi);
        return;
    }
    l.back() = std::min(l.back(), lo);
    h.back() = std::max(h.back(), hi);
}

inline void add_point(graph_series &s, float t, int32_t rec, double lo, double hi)
{
    if (!std::isfinite(t) || !std::isfinite(lo) || !std::isfinite(hi))
        return;
    double l = std::min(lo, hi), h = std::max(lo, hi);
    gather_point(s, t, l, h);
    s.pts.push_back(graph_point{t, rec, l, h});
}

/* How many records ahead a pass asks for the record it will read: the
 * passes are bound by memory latency, and the processor's own prefetch
 * falls short on a pass that reads one side's records only. */
const int32_t PREFETCH_AHEAD = 24;

/* Asks for record i + PREFETCH_AHEAD of the main trace, when there is one. */
inline void prefetch_record(int32_t i)
{
    if (i < g_trace.main.count - PREFETCH_AHEAD)
        __builtin_prefetch(&g_trace.main.rec[i + PREFETCH_AHEAD]);
}

/*
 * Parts of a build's pass over the records: the segments the graph's
 * direction sends, and what comes back (ACKs, windows). A fast build runs
 * the two parts on two threads, each filling series of its own; a
 * literal one runs both in one pass.
 */
enum { PART_SENT = 1, PART_BACK = 2, PART_BOTH = 3 };

/* Runs `a` on a second thread and `b` on this one (both on this one when
 * no thread can be had); a failure of either is thrown after both end. */
template <class A, class B> void run_both(A a, B b)
{
    std::exception_ptr failed;
    std::thread other;
    try {
        other = std::thread([&] {
            try {
                a();
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error &) {
        a();
        b();
        return;
    }
    try {
        b();
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (failed)
        std::rethrow_exception(failed);
}

/* Widens the graph's extents by the points of `s` (*any: whether a point
 * was seen before) and tells whether the points are in time order: one
 * pass for both. */
bool widen_extents(graph_data &g, bool *any, const graph_series &s)
{
    bool sorted = true;
    for (size_t i = 0; i < s.pts.size(); i++) {
        const graph_point &p = s.pts[i];
        if (i > 0 && p.t < s.pts[i - 1].t)
            sorted = false;
        if (!*any) {
            g.t_min = g.t_max = p.t;
            *any = true;
        }
        g.t_min = std::min(g.t_min, static_cast<double>(p.t));
        g.t_max = std::max(g.t_max, static_cast<double>(p.t));
        g.v_min = std::min(g.v_min, p.lo);
        g.v_max = std::max(g.v_max, p.hi);
    }
    return sorted;
}

/* Time order (stable, labels kept with their points), then the pyramid. */
void finish_series(graph_series &s, bool sorted)
{
    if (!sorted) {
        std::vector<size_t> order(s.pts.size());
        for (size_t i = 0; i < order.size(); i++)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return s.pts.t(a) < s.pts.t(b); });
        point_columns pts;
        pts.reserve(s.pts.size());
        std::vector<std::string> labels(s.labels.size());
        for (size_t i = 0; i < order.size(); i++) {
            pts.push_back(s.pts[order[i]]);
            if (!labels.empty())
                labels[i] = s.labels[order[i]];
        }
        s.pts.swap(pts);
        s.labels.swap(labels);
    }
    pyramid_build(&s.pyr, s.pts);
}

/*
 * Finishes a series whose points came in time order, from what
 * gather_point kept: the graph's extents widened as widen_extents does
 * (each extreme the first of its equals, as a running std::min and
 * std::max keeps), and the pyramid's upper levels. No pass over the
 * points.
 */
void finish_gathered(graph_data &g, bool *any, graph_series &s)
{
    const std::vector<float> &t = s.pts.times();
    size_t n = t.size();
    /* In time order the least t is the first; the greatest, the first
     * of the last run of equal ones. */
    size_t last = n - 1;
    while (last > 0 && t[last - 1] == t[n - 1])
        last--;
    if (!*any) {
        g.t_min = g.t_max = t[0];
        *any = true;
    }
    g.t_min = std::min(g.t_min, static_cast<double>(t[0]));
    g.t_max = std::max(g.t_max, static_cast<double>(t[last]));
    const std::vector<double> &lo = s.pyr.lo_min[GATHERING - 1];
    const std::vector<double> &hi = s.pyr.hi_max[GATHERING - 1];
    for (size_t b = 0; b < lo.size(); b++) {
        g.v_min = std::min(g.v_min, lo[b]);
        g.v_max = std::max(g.v_max, hi[b]);
    }
    if (n < 2) {
        s.pyr.lo_min.clear();
        s.pyr.hi_max.clear();
        return;
    }
    pyramid_raise(&s.pyr);
}

/* finish_graph from what the points gave as they came: a pass over the
 * points only for a series that came out of time order. */
void finish_graph_fast(graph_data &g)
{
    bool any = false;
    g.t_min = g.t_max = g.v_min = g.v_max = 0;
    for (graph_series &s : g.series) {
        if (s.pts.empty()) {
            s.pyr.lo_min.clear();
            s.pyr.hi_max.clear();
        } else if (s.pyr.lo_min.size() == GATHERING) {
            finish_gathered(g, &any, s);
        } else {
            finish_series(s, widen_extents(g, &any, s));
        }
    }
}

void finish_graph(graph_data &g)
{
    bool any = false;
    g.t_min = g.t_max = g.v_min = g.v_max = 0;
    for (graph_series &s : g.series)
        finish_series(s, widen_extents(g, &any, s));
}

int dir_of(int32_t i)
{
    return g_trace.lines[i].dir == 1 ? 1 : 2;
}

/* "A -> B" for the host that sends direction `dir`, or the two hosts. */
std::string hosts_text(int dir, bool both)
{
    const seg_record *rec = g_trace.main.rec;
    int32_t n = g_trace.main.count;
    int32_t k = 0;
    while (k < n && dir_of(k) != dir)
        k++;
    bool from_k = k < n;
    if (!from_k)
        k = 0;
    char a[96], b[96];
    endpoint_text(rec[k], from_k ? 1 : 0, a, sizeof a);
    endpoint_text(rec[k], from_k ? 0 : 1, b, sizeof b);
    return std::string(a) + (both ? " \u2194 " : " \u2192 ") + b;
}

/* The factor (2 to the window scale shift) that applies to the windows
 * the host of `dir` sends. */
double scale_of(int dir, bool *known)
{
    int left = 0, right = 0;
    *known = window_scale_shifts(&left, &right) != 0;
    return std::ldexp(1.0, dir == 1 ? left : right);
}

/* The window of `r` scaled by `scale`: exact, a 16-bit window times a
 * power of two. */
double scaled_window(const seg_record &r, double scale)
{
    if (r.tcp_flags & TH_SYN)
        return r.win;
    return static_cast<double>(r.win) * scale;
}

/* Segments of `dir` whose seq a retransmission carried again. */
std::unordered_set<int64_t> retransmitted_seqs(int dir)
{
    std::unordered_set<int64_t> seqs;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        const seg_record &r = g_trace.main.rec[i];
        if (dir_of(i) == dir && r.mark == MARK_RETRANSMISSION)
            seqs.insert(seq_of(r));
    }
    return seqs;
}

/* Acknowledgement-time samples of `dir`, Karn's rule: no sample from a
 * retransmission nor from a segment whose seq was sent again. */
void ack_time_samples(int dir, graph_series &s)
{
    std::unordered_set<int64_t> again = retransmitted_seqs(dir);
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        const seg_record &r = g_trace.main.rec[i];
        if (dir_of(i) != dir || !(r.ack_time > 0) || r.mark == MARK_RETRANSMISSION)
            continue;
        if (again.count(seq_of(r)) != 0)
            continue;
        add_point(s, r.time, i, r.ack_time, r.ack_time);
    }
}

/* The classes of the data segments' series, in their order. */
const int tsg_classes[] = {CLS_DATA, CLS_RETRANS, CLS_OUTORDER, CLS_LOST};

/* The event marks, when an events pass gave its flags. */
const struct {
    int bit;
    const char *name;
} tsg_events[] = {{SEG_EVENT_RETRANSMISSION, "event: retransmission"},
                  {SEG_EVENT_OUT_OF_ORDER, "event: out of order"},
                  {SEG_EVENT_LOST, "event: lost"},
                  {SEG_EVENT_ZERO_WINDOW_PROBE, "event: zero-window probe"}};

/* The labelled flags, in their order. */
const struct {
    int flag;
    const char *text;
} tsg_named[] = {{TH_SYN, "SYN"}, {TH_FIN, "FIN"}, {TH_RST, "RST"}};

/* Where a time-sequence graph keeps each series (indexes into series). */
struct tsg_layout {
    size_t first_class, ack, win, dup, sack, zero, label, first_event;
    double scale;   /* the window scale factor of the ACKs' sender */
};

/* The series of a time-sequence graph, its notes and its room. */
tsg_layout add_tsg_series(graph_data &g, int dir, const graph_inputs &in)
{
    tsg_layout at;
    at.first_class = g.series.size();
    for (int cls : tsg_classes)
        add_series(g, class_name(cls), class_colour(cls), STYLE_BARS);
    bool known = false;
    at.scale = scale_of(dir == 1 ? 2 : 1, &known);
    add_series(g, "ACK", ACK_COLOUR, STYLE_STEPS);
    add_series(g, "receive window", WINDOW_COLOUR, STYLE_STEPS).dashed = !known;
    add_series(g, class_name(CLS_DUPACK), ACK_COLOUR, STYLE_TICKS);
    add_series(g, "SACK blocks (held by the receiver)", SACK_COLOUR, STYLE_BARS);
    add_series(g, "zero window", ZERO_WINDOW_COLOUR, STYLE_MARKS);
    add_series(g, "SYN, FIN, RST", LABEL_COLOUR, STYLE_LABELS);
    at.ack = at.first_class + 4;
    at.win = at.ack + 1;
    at.dup = at.ack + 2;
    at.sack = at.ack + 3;
    at.zero = at.ack + 4;
    at.label = at.ack + 5;
    at.first_event = g.series.size();
    if (in.seg_events != nullptr) {
        for (const auto &e : tsg_events)
            add_series(g, e.name, EVENT_COLOUR, STYLE_MARKS);
    }
    if (!known)
        g.notes.push_back("window scale unknown");
    reserve_points(g.series[at.first_class], record_count());
    reserve_points(g.series[at.ack], record_count());
    reserve_points(g.series[at.win], record_count());
    return at;
}

/* The series of the data segments of class `cls`. */
size_t tsg_class_series(const tsg_layout &at, int cls)
{
    size_t k = at.first_class;
    for (size_t c = 0; c < 4; c++) {
        if (tsg_classes[c] == cls || (cls == CLS_UNUSED && tsg_classes[c] == CLS_LOST))
            k = at.first_class + c;
    }
    return k;
}

/* The time-sequence graph's pass over the records, the series of `part`
 * (PART_*) only; `options`: read the options of every ACK, else only of
 * the SYNs. */
void tsg_pass(graph_data &g, const tsg_layout &at, int dir, const graph_inputs &in, int part,
              bool options)
{
    graph_series &ack = g.series[at.ack], &win = g.series[at.win], &dup = g.series[at.dup],
                 &sack = g.series[at.sack], &zero = g.series[at.zero],
                 &label = g.series[at.label];
    bool reads = options && (part & PART_BACK);
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        if (reads)
            trace_release_behind(&g_trace.main, i);
        /* A part reads only the records of its side. */
        prefetch_record(i);
        bool ours = dir_of(i) == dir;
        if (!(part & (ours ? PART_SENT : PART_BACK)))
            continue;
        const seg_record &r = g_trace.main.rec[i];
        if (ours) {
            double seq = static_cast<double>(seq_of(r));
            double end = seq + std::max(r.paylen, 0);
            size_t k = tsg_class_series(at, g_trace.lines[i].cls);
            if (r.paylen > 0)
                add_point(g.series[k], r.time, i, seq, end);
            for (const auto &f : tsg_named) {
                if (!(r.tcp_flags & f.flag))
                    continue;
                add_point(label, r.time, i, f.flag == TH_FIN ? end : seq,
                          f.flag == TH_FIN ? end : seq);
                label.labels.push_back(f.text);
            }
            for (size_t e = 0; in.seg_events != nullptr && e < 4; e++) {
                if (in.seg_events[i] & tsg_events[e].bit)
                    add_point(g.series[at.first_event + e], r.time, i, seq, end);
            }
            continue;
        }
        if (!(r.tcp_flags & TH_ACK))
            continue;
        double a = static_cast<double>(ack_of(r));
        add_point(ack, r.time, i, a, a);
        double w = a + scaled_window(r, at.scale);
        add_point(win, r.time, i, w, w);
        if (g_trace.lines[i].cls == CLS_DUPACK)
            add_point(dup, r.time, i, a, a);
        if (r.win == 0 && !(r.tcp_flags & (TH_RST | TH_SYN)))
            add_point(zero, r.time, i, a, a);
        if (!options && !(r.tcp_flags & TH_SYN))
            continue;
        tcp_fields f = record_tcp_fields(i);
        for (int b = 0; b < f.nsack; b++) {
            /* Edges as carried, placed beside the ACK they ride with. */
            double left = a + static_cast<int32_t>(f.sack_left[b] - ack_raw_of(r));
            double right = a + static_cast<int32_t>(f.sack_right[b] - ack_raw_of(r));
            add_point(sack, r.time, i, left, right);
        }
    }
    if (part & PART_BACK)
        trace_release_behind(&g_trace.main, g_trace.main.count);
}

/* The time-sequence graph; `literal`: one pass reading the options of
 * every ACK, else a pass per part, reading options only where they can
 * be. */
void build_tsg(graph_data &g, int dir, const graph_inputs &in, bool literal)
{
    tsg_layout at = add_tsg_series(g, dir, in);
    if (literal) {
        tsg_pass(g, at, dir, in, PART_BOTH, true);
        return;
    }
    bool options = options_beyond_syns();
    run_both([&] { tsg_pass(g, at, dir, in, PART_SENT, options); },
             [&] { tsg_pass(g, at, dir, in, PART_BACK, options); });
}

/* A record that gives an acknowledgement-time sample, unless its seq was
 * sent again. */
struct karn_pick {
    int32_t rec;
    float value;        /* its ack_time; NaN when its time is not finite */
    uint32_t seq_low;   /* low 32 bits of its seq */
};

/*
 * The records of one direction that give acknowledgement-time samples,
 * gathered in a pass the caller makes for its own ends: those with an
 * acknowledgement time that are not retransmissions, then (finish) less
 * those whose seq a retransmission carried again. The same records, in
 * the same order, as ack_time_samples takes.
 */
struct karn_picks {
    std::vector<karn_pick> picked;  /* by record index, ascending */
    std::vector<int64_t> again;     /* seqs of the retransmissions */

    /* Record `i` (`r`) of the direction. */
    void visit(int32_t i, const seg_record &r)
    {
        if (r.mark == MARK_RETRANSMISSION)
            again.push_back(seq_of(r));
        else if (r.ack_time > 0)
            picked.push_back(karn_pick{i, std::isfinite(r.time) ? r.ack_time : NAN,
                                       static_cast<uint32_t>(seq_of(r))});
    }

    void finish()
    {
        if (again.empty())
            return;
        std::sort(again.begin(), again.end());
        again.erase(std::unique(again.begin(), again.end()), again.end());
        /* The low bits first: the record is read only on a match. */
        std::vector<uint32_t> low;
        low.reserve(again.size());
        for (int64_t seq : again)
            low.push_back(static_cast<uint32_t>(seq));
        std::sort(low.begin(), low.end());
        auto sent_again = [&](const karn_pick &p) {
            return std::binary_search(low.begin(), low.end(), p.seq_low) &&
                   std::binary_search(again.begin(), again.end(), seq_of(g_trace.main.rec[p.rec]));
        };
        picked.erase(std::remove_if(picked.begin(), picked.end(), sent_again), picked.end());
    }
};

/* The throughput window of a median acknowledgement-time sample: 1 s, or
 * 20 times the median when that is shorter; 1 s with no sample. */
template <class T> double window_of_median(std::vector<T> &v)
{
    if (v.empty())
        return 1.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return std::min(1.0, 20 * static_cast<double>(v[v.size() / 2]));
}

/* tput_default_window from the picks of a pass: the samples as
 * ack_time_samples would make them points (finite ones only). */
double window_of_picks(const karn_picks &k)
{
    /* The samples are floats: the median of the floats is the median of
     * their doubles, in half the memory. */
    std::vector<float> v;
    v.reserve(k.picked.size());
    for (const karn_pick &p : k.picked) {
        if (std::isfinite(p.value))
            v.push_back(p.value);
    }
    return window_of_median(v);
}

/* tput_default_window through a series of the samples. */
double tput_default_window_literal(int dir)
{
    graph_data g;
    ack_time_samples(dir, add_series(g, "", "", STYLE_DOTS));
    std::vector<double> v;
    for (const graph_point &p : g.series[0].pts)
        v.push_back(p.hi);
    return window_of_median(v);
}

/* A data segment of the throughput graph. Payload and first-sent bytes
 * are whole numbers of at most paylen. */
struct tput_sent {
    float t;
    int32_t rec;
    int32_t bytes;
    int32_t fresh;
};

/* The data segments of `dir` with their first-sent bytes, in time order. */
void tput_data(int dir, std::vector<tput_sent> &data)
{
    data.reserve(record_count());
    double high = 0;
    bool any = false;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        prefetch_record(i);
        if (dir_of(i) != dir)
            continue;
        const seg_record &r = g_trace.main.rec[i];
        if (r.paylen <= 0 || !std::isfinite(r.time))
            continue;
        double seq = static_cast<double>(seq_of(r)), end = seq + r.paylen;
        double fresh = !any ? r.paylen : std::max(0.0, end - std::max(high, seq));
        high = !any ? end : std::max(high, end);
        any = true;
        data.push_back(tput_sent{r.time, i, r.paylen, static_cast<int32_t>(fresh)});
    }
    auto earlier = [](const tput_sent &a, const tput_sent &b) { return a.t < b.t; };
    if (!std::is_sorted(data.begin(), data.end(), earlier))
        std::stable_sort(data.begin(), data.end(), earlier);
}

/* The rates over `window` into `thr` (all bytes) and `good` (first-sent
 * ones), either may be null. */
void tput_rates(const std::vector<tput_sent> &data, double window, graph_series *thr,
                graph_series *good)
{
    double sum = 0, fresh = 0;
    size_t from = 0;
    for (graph_series *s : {thr, good}) {
        if (s != nullptr)
            reserve_points(*s, data.size());
    }
    for (size_t k = 0; k < data.size(); k++) {
        sum += data[k].bytes;
        fresh += data[k].fresh;
        while (from < k && !(data[from].t > data[k].t - window)) {
            sum -= data[from].bytes;
            fresh -= data[from].fresh;
            from++;
        }
        if (thr != nullptr)
            add_point(*thr, data[k].t, data[k].rec, 8 * sum / window, 8 * sum / window);
        if (good != nullptr)
            add_point(*good, data[k].t, data[k].rec, 8 * fresh / window, 8 * fresh / window);
    }
}

/* The throughput graph; `literal`: the default window from a pass of its
 * own, the rates in one pass; else the window from picks gathered while
 * the data segments are, and each rate on a thread of its own. */
void build_tput(graph_data &g, int dir, const graph_inputs &in, bool literal)
{
    bool given = in.tput_window > 0;
    double window = given ? in.tput_window : 0;
    size_t at = g.series.size();
    add_series(g, "throughput", LR_COLOUR, STYLE_LINE);
    add_series(g, "goodput (first sent)", RL_COLOUR, STYLE_LINE);
    std::vector<tput_sent> data;
    if (literal) {
        if (!given)
            window = tput_default_window_literal(dir);
        tput_data(dir, data);
    } else {
        run_both([&] { tput_data(dir, data); },
                 [&] {
                     if (!given)
                         window = tput_default_window(dir);
                 });
    }
    g.window = window;
    char note[64];
    std::snprintf(note, sizeof note, "over %.3g s", window);
    g.notes.push_back(note);
    graph_series *thr = &g.series[at], *good = &g.series[at + 1];
    if (literal) {
        tput_rates(data, window, thr, good);
        return;
    }
    run_both([&] { tput_rates(data, window, thr, nullptr); },
             [&] { tput_rates(data, window, nullptr, good); });
}

/* The first sending of a TSval of the graph's direction. */
struct sent_ts {
    uint32_t val;
    int32_t rec;
};

/* The timestamp-echo samples into `ts`: `sent` (index order) sorted by
 * value, then index, and the echoes of the other side (index order)
 * looked up in it; each TSval gives one sample, from its first echo. */
void echo_samples(graph_series &ts, std::vector<sent_ts> &sent,
                  const std::vector<std::pair<uint32_t, int32_t>> &echoes, bool literal)
{
    auto by_value = [](const sent_ts &a, const sent_ts &b) { return a.val < b.val; };
    if (literal || !std::is_sorted(sent.begin(), sent.end(), by_value))
        std::stable_sort(sent.begin(), sent.end(), by_value);
    std::vector<uint8_t> used(sent.size(), 0);
    for (const auto &e : echoes) {
        auto it = std::lower_bound(sent.begin(), sent.end(), e.first,
                                   [](const sent_ts &a, uint32_t v) { return a.val < v; });
        if (it == sent.end() || it->val != e.first || it->rec > e.second)
            continue;
        size_t k = static_cast<size_t>(it - sent.begin());
        if (used[k])
            continue;
        used[k] = 1;
        const seg_record &first = g_trace.main.rec[it->rec];
        double rtt = static_cast<double>(g_trace.main.rec[e.second].time) - first.time;
        add_point(ts, first.time, it->rec, rtt, rtt);
    }
}

/* The round-trip-time graph; `literal`: a pass for the acknowledgement
 * times and one reading every record's options, else one pass that reads
 * options only where they can be. */
void build_rtt(graph_data &g, int dir, bool literal)
{
    size_t karn_at = g.series.size();
    add_series(g, "ACK time (Karn)", LR_COLOUR, STYLE_DOTS);
    if (literal)
        ack_time_samples(dir, g.series[karn_at]);
    add_series(g, "timestamp echo", RL_COLOUR, STYLE_HOLLOW);
    std::vector<sent_ts> sent;
    std::vector<std::pair<uint32_t, int32_t>> echoes;
    karn_picks karn;
    bool options = literal || options_beyond_syns();
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        if (options)
            trace_release_behind(&g_trace.main, i);
        const seg_record &r = g_trace.main.rec[i];
        bool ours = dir_of(i) == dir;
        if (ours && !literal)
            karn.visit(i, r);
        if (!ours && !(r.tcp_flags & TH_ACK))
            continue;
        if (!options && !(r.tcp_flags & TH_SYN))
            continue;
        tcp_fields f = record_tcp_fields(i);
        if (!f.has_ts)
            continue;
        if (ours)
            sent.push_back(sent_ts{f.ts_val, i});
        else
            echoes.emplace_back(f.ts_ecr, i);
    }
    trace_release_behind(&g_trace.main, g_trace.main.count);
    if (!literal) {
        karn.finish();
        graph_series &samples = g.series[karn_at];
        reserve_points(samples, karn.picked.size());
        for (const karn_pick &p : karn.picked) {
            const seg_record &r = g_trace.main.rec[p.rec];
            add_point(samples, r.time, p.rec, r.ack_time, r.ack_time);
        }
    }
    echo_samples(g.series[karn_at + 1], sent, echoes, literal);
}

/* The one-way-delay graph; `literal`: one pass, else one per direction. */
void build_owd(graph_data &g, bool literal)
{
    bool two = g_trace.peer.count > 0;
    size_t at = g.series.size();
    add_series(g, "LR measured", LR_COLOUR, STYLE_DOTS);
    add_series(g, "LR estimated", LR_COLOUR, STYLE_HOLLOW);
    add_series(g, "RL measured", RL_COLOUR, STYLE_DOTS);
    add_series(g, "RL estimated", RL_COLOUR, STYLE_HOLLOW);
    /* [direction][measured] */
    graph_series *s[2][2] = {{&g.series[at + 1], &g.series[at]},
                             {&g.series[at + 3], &g.series[at + 2]}};
    /* Room for every line in both: pages never filled are never touched. */
    reserve_points(*s[0][two], record_count());
    reserve_points(*s[1][two], record_count());
    /* The lines of direction `d` (0 LR, 1 RL; -1 both). */
    auto pass = [&](int d) {
        for (int32_t j = 0; j < g_trace.main.count; j++) {
            const line_record &l = g_trace.lines[j];
            int k = l.dir == 1 ? 0 : 1;
            if (d >= 0 && k != d)
                continue;
            int measured = two && loader_copy_of(j) >= 0;
            add_point(*s[k][measured], l.t_send, j, l.delay, l.delay);
        }
    };
    if (literal)
        pass(-1);
    else
        run_both([&] { pass(0); }, [&] { pass(1); });
    g.notes.push_back(two ? "solid: measured from both captures; hollow: estimated"
                          : "hollow: estimated from one capture");
}

/* The bytes-in-flight graph's pass over the records, the series of
 * `part` only: PART_SENT the bytes in flight, PART_BACK the window. */
void inflight_pass(graph_data &g, size_t at, int dir, double scale, int part)
{
    graph_series &flight = g.series[at], &win = g.series[at + 1];
    if (!(part & PART_SENT)) {
        /* The window alone reads only the records that come back. */
        for (int32_t i = 0; i < g_trace.main.count; i++) {
            prefetch_record(i);
            if (dir_of(i) == dir)
                continue;
            const seg_record &r = g_trace.main.rec[i];
            if (r.tcp_flags & TH_ACK) {
                double w = scaled_window(r, scale);
                add_point(win, r.time, i, w, w);
            }
        }
        return;
    }
    double high_seq = 0, high_ack = 0;
    bool sent = false, acked = false;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        prefetch_record(i);
        const seg_record &r = g_trace.main.rec[i];
        if (dir_of(i) == dir) {
            double end = static_cast<double>(seq_of(r)) + std::max(r.paylen, 0) +
                         ((r.tcp_flags & (TH_SYN | TH_FIN)) ? 1 : 0);
            high_seq = sent ? std::max(high_seq, end) : end;
            sent = true;
        } else if (r.tcp_flags & TH_ACK) {
            double a = static_cast<double>(ack_of(r));
            high_ack = acked ? std::max(high_ack, a) : a;
            acked = true;
            double w = scaled_window(r, scale);
            if (part & PART_BACK)
                add_point(win, r.time, i, w, w);
        }
        if (sent && acked && (part & PART_SENT)) {
            double v = std::max(0.0, high_seq - high_ack);
            add_point(flight, r.time, i, v, v);
        }
    }
}

/* The bytes-in-flight graph; `literal`: one pass, else one per part. */
void build_inflight(graph_data &g, int dir, bool literal)
{
    bool known = false;
    double scale = scale_of(dir == 1 ? 2 : 1, &known);
    size_t at = g.series.size();
    add_series(g, "bytes in flight", LR_COLOUR, STYLE_STEPS);
    add_series(g, "receive window", WINDOW_COLOUR, STYLE_STEPS).dashed = !known;
    if (!known)
        g.notes.push_back("window scale unknown");
    reserve_points(g.series[at], record_count());
    reserve_points(g.series[at + 1], record_count());
    if (literal) {
        inflight_pass(g, at, dir, scale, PART_BOTH);
        return;
    }
    run_both([&] { inflight_pass(g, at, dir, scale, PART_SENT); },
             [&] { inflight_pass(g, at, dir, scale, PART_BACK); });
}

}  // namespace

const char *graph_type_name(graph_type type)
{
    if (type < 0 || type >= GRAPH_TYPES)
        return "";
    return type_names[type];
}

graph_type graph_type_named(const char *name)
{
    for (int t = 0; t < GRAPH_TYPES; t++) {
        if (std::strcmp(name, type_names[t]) == 0)
            return static_cast<graph_type>(t);
    }
    return GRAPH_TYPES;
}

int default_graph_dir()
{
    if (!have_connection())
        return 1;
    double payload[3] = {0, 0, 0};
    for (int32_t i = 0; i < g_trace.main.count; i++)
        payload[dir_of(i)] += std::max(g_trace.main.rec[i].paylen, 0);
    return payload[2] > payload[1] ? 2 : 1;
}

int window_scale_shifts(int *left, int *right)
{
    *left = *right = 0;
    if (!have_connection())
        return 0;
    int32_t syn[3] = {-1, -1, -1};
    for (int32_t i = 0; i < g_trace.main.count && (syn[1] < 0 || syn[2] < 0); i++) {
        if ((g_trace.main.rec[i].tcp_flags & TH_SYN) && syn[dir_of(i)] < 0)
            syn[dir_of(i)] = i;
    }
    if (syn[1] < 0 || syn[2] < 0)
        return 0;
    tcp_fields a = record_tcp_fields(syn[1]);
    tcp_fields b = record_tcp_fields(syn[2]);
    if (a.has_wscale && b.has_wscale) {
        *left = std::min(a.wscale, MAX_WSCALE);
        *right = std::min(b.wscale, MAX_WSCALE);
    }
    return 1;
}

double tput_default_window(int dir)
{
    if (!have_connection())
        return 1.0;
    karn_picks karn;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        prefetch_record(i);
        if (dir_of(i) == dir)
            karn.visit(i, g_trace.main.rec[i]);
    }
    karn.finish();
    return window_of_picks(karn);
}

namespace {

/* build_graph, of the literal passes or of the fast ones. */
graph_data build_graph_as(graph_type type, int dir, const graph_inputs &in, bool literal)
{
    graph_data g;
    g.type = type;
    g.dir = dir == 2 ? 2 : 1;
    g.unit = type == GRAPH_TPUT ? UNIT_BITS_PER_S
                                : (type == GRAPH_RTT || type == GRAPH_OWD) ? UNIT_SECONDS : UNIT_BYTES;
    static const char *const y_names[GRAPH_TYPES] = {"sequence offset", "rate", "round-trip time",
                                                     "one-way delay", "bytes"};
    g.y_name = type < GRAPH_TYPES ? y_names[type] : "";
    g.t_min = g.t_max = g.v_min = g.v_max = 0;
    g.window = 0;
    if (type < 0 || type >= GRAPH_TYPES)
        return g;
    if (!have_connection()) {
        g.title = type_titles[type];
        return g;
    }
    g.title = std::string(type_titles[type]) + "  " + hosts_text(type == GRAPH_OWD ? 1 : g.dir,
                                                                  type == GRAPH_OWD);
    switch (type) {
    case GRAPH_TSG:
        build_tsg(g, g.dir, in, literal);
        break;
    case GRAPH_TPUT:
        build_tput(g, g.dir, in, literal);
        break;
    case GRAPH_RTT:
        build_rtt(g, g.dir, literal);
        break;
    case GRAPH_OWD:
        build_owd(g, literal);
        break;
    default:
        build_inflight(g, g.dir, literal);
        break;
    }
    if (literal)
        finish_graph(g);
    else
        finish_graph_fast(g);
    return g;
}

}  // namespace

graph_data build_graph(graph_type type, int dir, const graph_inputs &in)
{
    return build_graph_as(type, dir, in, false);
}

graph_data build_graph_literal(graph_type type, int dir, const graph_inputs &in)
{
    return build_graph_as(type, dir, in, true);
}

void segment_event_marks(std::vector<uint8_t> *out)
{
    const unsigned resent = (1u << EV_RETRANSMISSION) | (1u << EV_FAST_RETRANSMISSION) |
                            (1u << EV_SPURIOUS_RETRANSMISSION) |
                            (1u << EV_TIMEOUT_RETRANSMISSION);
    size_t n = g_events.seg.size();
    out->assign(n, 0);
    for (size_t i = 0; i < n; i++) {
        unsigned k = g_events.seg[i].kinds;
        uint8_t b = 0;
        if (k & resent)
            b |= SEG_EVENT_RETRANSMISSION;
        if (k & (1u << EV_OUT_OF_ORDER))
            b |= SEG_EVENT_OUT_OF_ORDER;
        if (k & (1u << EV_LOST_SEGMENT))
            b |= SEG_EVENT_LOST;
        if (k & (1u << EV_ZERO_WINDOW_PROBE))
            b |= SEG_EVENT_ZERO_WINDOW_PROBE;
        (*out)[i] = b;
    }
}
