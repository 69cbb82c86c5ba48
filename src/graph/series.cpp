/*
 * series.cpp --
 *
 *	Building the graphs' series from the loaded connection. Each build is
 *	one pass over the main trace in index order (two for the time-sequence
 *	graph, which first finds the handshake), then a sort of each series by
 *	time where the capture's time stamps run backwards, and the pyramid.
 */

#include "graph/series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "analysis/class_name.h"
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
 * time. Pages of the room never filled are never touched. */
void reserve_points(graph_series &s, size_t n)
{
    s.pts.reserve(n);
}

size_t record_count()
{
    return static_cast<size_t>(g_trace.main.count);
}

void add_point(graph_series &s, float t, int32_t rec, double lo, double hi)
{
    if (!std::isfinite(t) || !std::isfinite(lo) || !std::isfinite(hi))
        return;
    s.pts.push_back(graph_point{t, rec, std::min(lo, hi), std::max(lo, hi)});
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
                         [&](size_t a, size_t b) { return s.pts[a].t < s.pts[b].t; });
        std::vector<graph_point> pts(s.pts.size());
        std::vector<std::string> labels(s.labels.size());
        for (size_t i = 0; i < order.size(); i++) {
            pts[i] = s.pts[order[i]];
            if (!labels.empty())
                labels[i] = s.labels[order[i]];
        }
        s.pts.swap(pts);
        s.labels.swap(labels);
    }
    pyramid_build(&s.pyr, s.pts);
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

/* The shift that applies to the windows the host of `dir` sends. */
int shift_of(int dir, bool *known)
{
    int left = 0, right = 0;
    *known = window_scale_shifts(&left, &right) != 0;
    return dir == 1 ? left : right;
}

double scaled_window(const seg_record &r, int shift)
{
    if (r.tcp_flags & TH_SYN)
        return r.win;
    return std::ldexp(static_cast<double>(r.win), shift);
}

/* Segments of `dir` whose seq a retransmission carried again. */
std::unordered_set<int64_t> retransmitted_seqs(int dir)
{
    std::unordered_set<int64_t> seqs;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        const seg_record &r = g_trace.main.rec[i];
        if (dir_of(i) == dir && r.mark == MARK_RETRANSMISSION)
            seqs.insert(r.seq);
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
        if (again.count(r.seq) != 0)
            continue;
        add_point(s, r.time, i, r.ack_time, r.ack_time);
    }
}

void build_tsg(graph_data &g, int dir, const graph_inputs &in)
{
    static const int classes[] = {CLS_DATA, CLS_RETRANS, CLS_OUTORDER, CLS_LOST};
    size_t first_class = g.series.size();
    for (int cls : classes)
        add_series(g, class_name(cls), class_colour(cls), STYLE_BARS);
    bool known = false;
    int shift = shift_of(dir == 1 ? 2 : 1, &known);
    add_series(g, "ACK", ACK_COLOUR, STYLE_STEPS);
    add_series(g, "receive window", WINDOW_COLOUR, STYLE_STEPS).dashed = !known;
    add_series(g, class_name(CLS_DUPACK), ACK_COLOUR, STYLE_TICKS);
    add_series(g, "SACK blocks (held by the receiver)", SACK_COLOUR, STYLE_BARS);
    add_series(g, "zero window", ZERO_WINDOW_COLOUR, STYLE_MARKS);
    add_series(g, "SYN, FIN, RST", LABEL_COLOUR, STYLE_LABELS);
    size_t ack = first_class + 4, win = ack + 1, dup = ack + 2, sack = ack + 3, zero = ack + 4,
           label = ack + 5;
    /* The event marks, when an events pass gave its flags. */
    static const struct {
        int bit;
        const char *name;
    } events[] = {{SEG_EVENT_RETRANSMISSION, "event: retransmission"},
                  {SEG_EVENT_OUT_OF_ORDER, "event: out of order"},
                  {SEG_EVENT_LOST, "event: lost"},
                  {SEG_EVENT_ZERO_WINDOW_PROBE, "event: zero-window probe"}};
    size_t first_event = g.series.size();
    if (in.seg_events != nullptr) {
        for (const auto &e : events)
            add_series(g, e.name, EVENT_COLOUR, STYLE_MARKS);
    }
    if (!known)
        g.notes.push_back("window scale unknown");
    reserve_points(g.series[first_class], record_count());
    reserve_points(g.series[ack], record_count());
    reserve_points(g.series[win], record_count());

    for (int32_t i = 0; i < g_trace.main.count; i++) {
        trace_release_behind(&g_trace.main, i);
        const seg_record &r = g_trace.main.rec[i];
        double seq = static_cast<double>(r.seq);
        double end = seq + std::max(r.paylen, 0);
        if (dir_of(i) == dir) {
            int cls = g_trace.lines[i].cls;
            size_t k = first_class;
            for (size_t c = 0; c < 4; c++) {
                if (classes[c] == cls || (cls == CLS_UNUSED && classes[c] == CLS_LOST))
                    k = first_class + c;
            }
            if (r.paylen > 0)
                add_point(g.series[k], r.time, i, seq, end);
            static const struct {
                int flag;
                const char *text;
            } named[] = {{TH_SYN, "SYN"}, {TH_FIN, "FIN"}, {TH_RST, "RST"}};
            for (const auto &f : named) {
                if (!(r.tcp_flags & f.flag))
                    continue;
                add_point(g.series[label], r.time, i, f.flag == TH_FIN ? end : seq,
                          f.flag == TH_FIN ? end : seq);
                g.series[label].labels.push_back(f.text);
            }
            for (size_t e = 0; in.seg_events != nullptr && e < 4; e++) {
                if (in.seg_events[i] & events[e].bit)
                    add_point(g.series[first_event + e], r.time, i, seq, end);
            }
            continue;
        }
        if (!(r.tcp_flags & TH_ACK))
            continue;
        double a = static_cast<double>(r.ack);
        add_point(g.series[ack], r.time, i, a, a);
        double w = a + scaled_window(r, shift);
        add_point(g.series[win], r.time, i, w, w);
        if (g_trace.lines[i].cls == CLS_DUPACK)
            add_point(g.series[dup], r.time, i, a, a);
        if (r.win == 0 && !(r.tcp_flags & (TH_RST | TH_SYN)))
            add_point(g.series[zero], r.time, i, a, a);
        tcp_fields f = record_tcp_fields(i);
        for (int b = 0; b < f.nsack; b++) {
            /* Edges as carried, placed beside the ACK they ride with. */
            double left = a + static_cast<int32_t>(f.sack_left[b] - ack_raw_of(r));
            double right = a + static_cast<int32_t>(f.sack_right[b] - ack_raw_of(r));
            add_point(g.series[sack], r.time, i, left, right);
        }
    }
    trace_release_behind(&g_trace.main, g_trace.main.count);
}

void build_tput(graph_data &g, int dir, const graph_inputs &in)
{
    double window = in.tput_window > 0 ? in.tput_window : tput_default_window(dir);
    g.window = window;
    size_t good_at = g.series.size() + 1;
    add_series(g, "throughput", LR_COLOUR, STYLE_LINE);
    add_series(g, "goodput (first sent)", RL_COLOUR, STYLE_LINE);
    char note[64];
    std::snprintf(note, sizeof note, "over %.3g s", window);
    g.notes.push_back(note);
    struct sent {
        float t;
        int32_t rec;
        double bytes;
        double fresh;
    };
    std::vector<sent> data;
    data.reserve(record_count());
    double high = 0;
    bool any = false;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        const seg_record &r = g_trace.main.rec[i];
        if (dir_of(i) != dir || r.paylen <= 0 || !std::isfinite(r.time))
            continue;
        double seq = static_cast<double>(r.seq), end = seq + r.paylen;
        double fresh = !any ? r.paylen : std::max(0.0, end - std::max(high, seq));
        high = !any ? end : std::max(high, end);
        any = true;
        data.push_back(sent{r.time, i, static_cast<double>(r.paylen), fresh});
    }
    auto earlier = [](const sent &a, const sent &b) { return a.t < b.t; };
    if (!std::is_sorted(data.begin(), data.end(), earlier))
        std::stable_sort(data.begin(), data.end(), earlier);
    double sum = 0, good = 0;
    size_t from = 0;
    graph_series &goodput = g.series[good_at];
    graph_series &thr = g.series[good_at - 1];
    reserve_points(goodput, data.size());
    reserve_points(thr, data.size());
    for (size_t k = 0; k < data.size(); k++) {
        sum += data[k].bytes;
        good += data[k].fresh;
        while (from < k && !(data[from].t > data[k].t - window)) {
            sum -= data[from].bytes;
            good -= data[from].fresh;
            from++;
        }
        add_point(thr, data[k].t, data[k].rec, 8 * sum / window, 8 * sum / window);
        add_point(goodput, data[k].t, data[k].rec, 8 * good / window, 8 * good / window);
    }
}

void build_rtt(graph_data &g, int dir)
{
    ack_time_samples(dir, add_series(g, "ACK time (Karn)", LR_COLOUR, STYLE_DOTS));
    graph_series &ts = add_series(g, "timestamp echo", RL_COLOUR, STYLE_HOLLOW);
    /* The first sending of each TSval of `dir`, in one array sorted by
     * value (then index), and the echoes of the other side looked up in
     * it; each TSval gives one sample, from its first echo. */
    struct sent_ts {
        uint32_t val;
        int32_t rec;
    };
    std::vector<sent_ts> sent;
    std::vector<std::pair<uint32_t, int32_t>> echoes;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        trace_release_behind(&g_trace.main, i);
        const seg_record &r = g_trace.main.rec[i];
        bool ours = dir_of(i) == dir;
        if (!ours && !(r.tcp_flags & TH_ACK))
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
    std::stable_sort(sent.begin(), sent.end(),
                     [](const sent_ts &a, const sent_ts &b) { return a.val < b.val; });
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

void build_owd(graph_data &g)
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
    size_t lr = 0;
    for (int32_t j = 0; j < g_trace.main.count; j++)
        lr += g_trace.lines[j].dir == 1;
    reserve_points(*s[0][two], lr);
    reserve_points(*s[1][two], record_count() - lr);
    for (int32_t j = 0; j < g_trace.main.count; j++) {
        const line_record &l = g_trace.lines[j];
        int measured = two && loader_copy_of(j) >= 0;
        add_point(*s[l.dir == 1 ? 0 : 1][measured], l.t_send, j, l.delay, l.delay);
    }
    g.notes.push_back(two ? "solid: measured from both captures; hollow: estimated"
                          : "hollow: estimated from one capture");
}

void build_inflight(graph_data &g, int dir)
{
    bool known = false;
    int shift = shift_of(dir == 1 ? 2 : 1, &known);
    size_t win_at = g.series.size() + 1;
    add_series(g, "bytes in flight", LR_COLOUR, STYLE_STEPS);
    add_series(g, "receive window", WINDOW_COLOUR, STYLE_STEPS).dashed = !known;
    if (!known)
        g.notes.push_back("window scale unknown");
    reserve_points(g.series[win_at - 1], record_count());
    reserve_points(g.series[win_at], record_count());
    double high_seq = 0, high_ack = 0;
    bool sent = false, acked = false;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        const seg_record &r = g_trace.main.rec[i];
        if (dir_of(i) == dir) {
            double end = static_cast<double>(r.seq) + std::max(r.paylen, 0) +
                         ((r.tcp_flags & (TH_SYN | TH_FIN)) ? 1 : 0);
            high_seq = sent ? std::max(high_seq, end) : end;
            sent = true;
        } else if (r.tcp_flags & TH_ACK) {
            double a = static_cast<double>(r.ack);
            high_ack = acked ? std::max(high_ack, a) : a;
            acked = true;
            double w = scaled_window(r, shift);
            add_point(g.series[win_at], r.time, i, w, w);
        }
        if (sent && acked) {
            double v = std::max(0.0, high_seq - high_ack);
            add_point(g.series[win_at - 1], r.time, i, v, v);
        }
    }
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
    graph_data g;
    ack_time_samples(dir, add_series(g, "", "", STYLE_DOTS));
    std::vector<double> v;
    for (const graph_point &p : g.series[0].pts)
        v.push_back(p.hi);
    if (v.empty())
        return 1.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return std::min(1.0, 20 * v[v.size() / 2]);
}

graph_data build_graph(graph_type type, int dir, const graph_inputs &in)
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
        build_tsg(g, g.dir, in);
        break;
    case GRAPH_TPUT:
        build_tput(g, g.dir, in);
        break;
    case GRAPH_RTT:
        build_rtt(g, g.dir);
        break;
    case GRAPH_OWD:
        build_owd(g);
        break;
    default:
        build_inflight(g, g.dir);
        break;
    }
    finish_graph(g);
    return g;
}
