/*
 * stats.cpp --
 *
 *	Collection and text of the connection statistics.
 */

#include "report/stats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/class_name.h"
#include "analysis/events.h"
#include "analysis/left_host.h"
#include "analysis/line.h"
#include "load/drift.h"
#include "load/loader.h"
#include "text/host_evidence.h"
#include "text/names.h"
#include "trace/direction.h"
#include "trace/peer_map.h"
#include "trace/trace.h"

namespace {

enum { MARK_RETRANSMISSION = 3 };

/* "address.port" of one end of record `r`, as the summary line names it. */
std::string endpoint_text(const seg_record &r, int source)
{
    std::string host;
    if (g_trace.ipv6) {
        host = ipv6_host_text(source ? src6_of(r) : dst6_of(r));
    } else {
        uint64_t a = source ? src4_of(r) : dst4_of(r);
        uint8_t b[4] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                        static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
        host = ipv4_host_text(b);
    }
    return host + "." + tcp_port_text(source ? sport_of(r) : dport_of(r));
}

std::string format(const char *fmt, double a)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, a);
    return text;
}

/* One row of the two-column table: a name and the two directions' texts. */
void row(std::string *out, const std::string &name, const std::string &lr, const std::string &rl)
{
    char text[256];
    std::snprintf(text, sizeof text, "  %-34s %14s %14s\n", name.c_str(), lr.c_str(), rl.c_str());
    *out += text;
}

std::string count_text(int64_t n)
{
    return std::to_string(n);
}

std::string seconds_text(const sample_summary &s, double v)
{
    return s.count > 0 ? format("%.6f", v) : std::string("-");
}

void sample_rows(std::string *out, const char *what, const sample_summary &a,
                 const sample_summary &b, int with_mean, const char *lr_what = "",
                 const char *rl_what = "")
{
    row(out, what, lr_what, rl_what);
    row(out, "  samples", count_text(a.count), count_text(b.count));
    row(out, "  min", seconds_text(a, a.min), seconds_text(b, b.min));
    row(out, "  median", seconds_text(a, a.median), seconds_text(b, b.median));
    if (with_mean)
        row(out, "  mean", seconds_text(a, a.mean), seconds_text(b, b.mean));
    row(out, "  max", seconds_text(a, a.max), seconds_text(b, b.max));
}

std::string share_text(int64_t part, int64_t whole)
{
    if (whole == 0)
        return "-";
    return format("%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
}

std::string goodput_text(const direction_stats &d, double duration)
{
    if (!(duration > 0.0))
        return "-";
    double unique = static_cast<double>(d.payload_bytes - d.retransmitted_bytes);
    return format("%.0f B/s", unique / duration);
}

/* The clock fit of a two-file load: skew, offset, smallest delays, and
 * whether the drift matters; or why there is no fit. */
void drift_text(std::string *out, double duration)
{
    if (!g_drift.fitted)
        return;
    const clock_fit &f = g_drift.fit;
    if (!f.ok) {
        *out += std::string("Clock fit:       no fit possible (") + f.why + ")\n";
        return;
    }
    char text[256];
    if (g_drift.resolved)
        std::snprintf(text, sizeof text,
                      "Clock skew:      %+.3f ppm (other capture's clock %s; the directions differ "
                      "by %.3f ppm)\n",
                      f.skew * 1e6, f.skew >= 0.0 ? "fast" : "slow", f.disagreement * 1e6);
    else
        std::snprintf(text, sizeof text, "Clock skew:      not measured (%s)\n", g_drift.why_not);
    *out += text;
    double offset = g_drift.start_offset;
    std::snprintf(text, sizeof text, "Offset at start: %+.6f s (other capture's clock %s)\n", offset,
                  offset >= 0.0 ? "ahead" : "behind");
    *out += text;
    int lr = g_drift.to_peer_dir == 1 ? 0 : 1;
    std::snprintf(text, sizeof text,
                  "Smallest delay:  %.6f s L>R, %.6f s R>L (on the fitted clock)\n",
                  f.min_delay[lr], f.min_delay[1 - lr]);
    *out += text;
    if (g_drift.corrected) {
        *out += "Clock drift:     corrected (-k): the other capture's times are on the fitted clock\n";
    } else if (g_drift.resolved && drift_over(duration) > DRIFT_WARN) {
        std::snprintf(text, sizeof text,
                      "Clock drift:     moves the delays by %.3f ms over the capture; -k corrects it\n",
                      drift_over(duration) * 1e3);
        *out += text;
    }
}

/* Seconds with three decimals, or "-" for a direction without data. */
std::string span_text(int has, double s)
{
    return has ? format("%.3f s", s) : std::string("-");
}

std::string part_text(int has, double part, double whole)
{
    if (!has || !(whole > 0.0))
        return "-";
    return format("%.1f%%", 100.0 * part / whole);
}

/* A direction's figure, or "-" for one that sent less than a segment. */
std::string sent_text(const direction_events &d, const std::string &text)
{
    return d.little_data ? std::string("-") : text;
}

/* The events of each kind, the stalls and where the time went; `lr` is
 * the index in g_events.dir of the L>R direction. A direction that sent
 * less than one full segment shows neither stalls nor time. */
void event_rows(std::string *out, int lr, double duration)
{
    const direction_events &a = g_events.dir[lr];
    const direction_events &b = g_events.dir[1 - lr];
    row(out, "analysis events", "", "");
    for (int k = 0; k < EVENT_KINDS; k++)
        if (a.count[k] != 0 || b.count[k] != 0)
            row(out, std::string("  ") + event_kind_names[k], count_text(a.count[k]),
                count_text(b.count[k]));
    row(out, "stalls", sent_text(a, count_text(a.stalls)), sent_text(b, count_text(b.stalls)));
    row(out, "  total", sent_text(a, span_text(1, a.stall_total)),
        sent_text(b, span_text(1, b.stall_total)));
    row(out, "  longest", sent_text(a, span_text(1, a.stall_longest)),
        sent_text(b, span_text(1, b.stall_longest)));
    for (int c = STALL_TIMEOUT; c < STALL_CAUSES; c++) {
        bool ta = !a.little_data && a.stall_time[c] > 0.0;
        bool tb = !b.little_data && b.stall_time[c] > 0.0;
        if (ta || tb)
            row(out, std::string("  ") + stall_cause_names[c],
                sent_text(a, span_text(1, a.stall_time[c])),
                sent_text(b, span_text(1, b.stall_time[c])));
    }
    int ha = a.sent_data && !a.little_data, hb = b.sent_data && !b.little_data;
    row(out, "where the time went (data senders)", "", "");
    /* The capture is made at the left host: exact for what it sends. */
    row(out, "  at the capture point", ha ? "exact" : a.little_data ? "no data sent" : "-",
        hb ? "estimate" : b.little_data ? "no data sent" : "-");
    const char *names[TIME_SHARES] = {"sending, nothing limiting", "receiver window limited",
                                      "loss recovery", "stalled", "idle, nothing outstanding"};
    for (int sh = 0; sh < TIME_SHARES; sh++)
        row(out, std::string("  ") + names[sh], part_text(ha, a.share[sh], duration),
            part_text(hb, b.share[sh], duration));
}

/* How long the client and the server took to answer each other. */
void wait_lines(std::string *out, const seg_record &r0)
{
    const conn_waits &w = g_events.summary.waits;
    /* Direction 0 is record 0's: its sender is record 0's source. */
    std::string client = endpoint_text(r0, w.client == 0);
    std::string server = endpoint_text(r0, w.client != 0);
    char text[256];
    std::snprintf(text, sizeof text, "\nWaits over %lld exchange%s:\n",
                  static_cast<long long>(w.exchanges), w.exchanges == 1 ? "" : "s");
    *out += text;
    std::snprintf(text, sizeof text, "  client %-30s %12.6f s\n", client.c_str(),
                  client_wait(w));
    *out += text;
    std::snprintf(text, sizeof text, "  server %-30s %12.6f s\n", server.c_str(),
                  server_wait(w));
    *out += text;
}

/* The longest stalls, longest first: where, which way, how long, why.
 * Directions that sent less than one full segment are left out. */
void stall_lines(std::string *out, int lr)
{
    struct stall { double len; int32_t at; };
    std::vector<stall> all;
    const seg_record *rec = g_trace.main.rec;
    for (size_t i = 0; i < g_events.seg.size(); i++) {
        const seg_event_bits &b = g_events.seg[i];
        seg_events e;
        if (b.cause == STALL_NONE || g_events.dir[b.dir].little_data ||
            !events_at(static_cast<int32_t>(i), &e))
            continue;
        all.push_back({static_cast<double>(rec[i].time) - rec[e.ref].time,
                       static_cast<int32_t>(i)});
    }
    if (all.empty())
        return;
    std::stable_sort(all.begin(), all.end(),
                     [](const stall &x, const stall &y) { return x.len > y.len; });
    *out += "\nLongest stalls (segment, direction, length, cause):\n";
    for (size_t n = 0; n < all.size() && n < 10; n++) {
        const seg_event_bits &e = g_events.seg[static_cast<size_t>(all[n].at)];
        char text[128];
        std::snprintf(text, sizeof text, "  %8d  %s  %10.6f s  %s\n", all[n].at + 1,
                      e.dir == lr ? "L>R" : "R>L", all[n].len, stall_cause_names[e.cause]);
        *out += text;
    }
}

}  // namespace

sample_summary summarise(std::vector<double> *samples)
{
    sample_summary s{};
    std::vector<double> &v = *samples;
    s.count = static_cast<int64_t>(v.size());
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
    double sum = 0.0;
    for (double x : v)
        sum += x;
    s.mean = sum / static_cast<double>(n);
    return s;
}

connection_stats collect_stats()
{
    connection_stats c{};
    c.two_files = g_trace.peer.count > 0;
    c.clock_offset = loader_clock_offset();
    c.duration = trace_span(&g_trace.main);
    std::vector<double> acks[2], delays[2];
    int count = g_trace.lines != nullptr ? g_trace.main.count : 0;
    for (int j = 0; j < count; j++) {
        const seg_record &r = g_trace.main.rec[j];
        const line_record &l = g_trace.lines[j];
        int k = l.dir == 1 ? 0 : 1;
        direction_stats &d = c.dir[k];
        d.segments++;
        if (r.paylen > 0)
            d.payload_bytes += r.paylen;
        if (l.cls < 7)
            d.per_class[l.cls]++;
        if (r.mark == MARK_RETRANSMISSION) {
            d.retransmissions++;
            d.retransmitted_bytes += r.paylen > 0 ? r.paylen : 0;
        }
        if (r.ack_time >= 0.0f)
            acks[k].push_back(r.ack_time);
        int copy = loader_copy_of(j) >= 0;
        c.copies_found += copy;
        if (c.two_files ? copy : l.delay > 0.0f)
            delays[k].push_back(l.delay);
    }
    for (int k = 0; k < 2; k++) {
        c.dir[k].ack_time = summarise(&acks[k]);
        c.dir[k].delay = summarise(&delays[k]);
    }
    return c;
}

std::string statistics_text()
{
    if (!g_trace.loaded || g_trace.main.count == 0 || g_trace.lines == nullptr)
        return "No TCP connection loaded.\n";
    connection_stats c = collect_stats();
    const seg_record &r0 = g_trace.main.rec[0];
    int left_is_source = g_trace.lines[0].dir == 1;
    std::string out;
    out += "Left host (L):   " + endpoint_text(r0, left_is_source) + "\n";
    out += "Right host (R):  " + endpoint_text(r0, !left_is_source) + "\n";
    out += capture_host_line();
    out += "Duration:        " + format("%.6f s", c.duration) + "\n";
    if (c.two_files) {
        for (const std::string &line : peer_map_lines(loader_left_role()))
            out += line;
        out += "Clock offset:    " + format("%.6f s", c.clock_offset) + " (other capture's clock)\n";
        out += "Copies found:    " + std::to_string(c.copies_found) + " of " +
               std::to_string(g_trace.main.count) + " segments\n";
        drift_text(&out, c.duration);
    }
    out += "\n";
    const direction_stats &a = c.dir[0];
    const direction_stats &b = c.dir[1];
    row(&out, "", "L>R", "R>L");
    row(&out, "segments", count_text(a.segments), count_text(b.segments));
    row(&out, "payload bytes", count_text(a.payload_bytes), count_text(b.payload_bytes));
    for (int cls : legend_classes)
        row(&out, std::string("  ") + class_name(cls), count_text(a.per_class[cls]),
            count_text(b.per_class[cls]));
    row(&out, "retransmitted segments", count_text(a.retransmissions),
        count_text(b.retransmissions));
    row(&out, "  share of segments", share_text(a.retransmissions, a.segments),
        share_text(b.retransmissions, b.segments));
    row(&out, "retransmitted bytes", count_text(a.retransmitted_bytes),
        count_text(b.retransmitted_bytes));
    row(&out, "goodput (unique payload)", goodput_text(a, c.duration),
        goodput_text(b, c.duration));
    /* What an ack time is depends on where the capture was taken: at the
     * left host, its own segments' are the round trip and the others'
     * its own ACK delay; in the path, each is the way to one end and back. */
    bool in_path = g_capture_host.rule == HOST_BY_PATH_TTL;
    sample_rows(&out, "ack time, s", a.ack_time, b.ack_time, 1,
                in_path ? "to R and back" : "round trip",
                in_path ? "to L and back" : "ACK delay at L");
    std::string how = c.two_files ? "one-way delay (measured), s" : "one-way delay (estimated), s";
    sample_rows(&out, how.c_str(), a.delay, b.delay, 0);
    if (!g_events.seg.empty()) {
        int lr = left_is_source ? 0 : 1;  /* record 0's direction is 0 */
        event_rows(&out, lr, c.duration);
        wait_lines(&out, r0);
        stall_lines(&out, lr);
    }
    return out;
}
