/*
 * graph_data.cpp --
 *
 *	The graphs of the report page: each graph's record in JSON, and the
 *	points of its series packed column by column. Times are float bits
 *	as differences from the previous point's (32-bit, signed); records as
 *	differences; values as differences of whole numbers where every value
 *	of the column is one, else as the XOR of each double's bits with the
 *	previous one's, in byte planes.
 */

#include "webpage/graph_data.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "graph/series.h"
#include "trace/trace.h"
#include "webpage/page_data.h"

namespace {

std::vector<graph_data> build_page_graphs()
{
    std::vector<graph_data> out;
    if (!g_trace.loaded || g_trace.lines == nullptr || g_trace.main.count <= 0)
        return out;
    std::vector<uint8_t> marks;
    segment_event_marks(&marks);
    bool have_marks = marks.size() == static_cast<size_t>(g_trace.main.count);
    graph_inputs in{have_marks ? marks.data() : nullptr, 0};
    int dir = default_graph_dir();
    for (int t = 0; t < GRAPH_TYPES; t++) {
        graph_type type = static_cast<graph_type>(t);
        out.push_back(build_graph(type, dir, in));
        /* The one-way delay shows both directions in one graph. */
        if (type != GRAPH_OWD)
            out.push_back(build_graph(type, 3 - dir, in));
    }
    return out;
}

std::string num(double v)
{
    if (!std::isfinite(v))
        return "0";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

bool all_whole(const point_columns &p, bool low)
{
    for (size_t i = 0; i < p.size(); i++) {
        double v = low ? p.lo(i) : p.hi(i);
        if (!(std::fabs(v) < 9007199254740992.0) || v != std::floor(v) ||
            (v == 0 && std::signbit(v)))
            return false;
    }
    return true;
}

void put_values(byte_stream *s, const point_columns &p, bool low)
{
    size_t n = p.size();
    if (all_whole(p, low)) {
        s->bytes.push_back(0);
        int64_t prev = 0;
        for (size_t i = 0; i < n; i++) {
            int64_t v = static_cast<int64_t>(low ? p.lo(i) : p.hi(i));
            put_svarint(s, v - prev);
            prev = v;
        }
        return;
    }
    s->bytes.push_back(1);
    std::vector<uint64_t> x(n);
    uint64_t prev = 0;
    for (size_t i = 0; i < n; i++) {
        double v = low ? p.lo(i) : p.hi(i);
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        x[i] = bits ^ prev;
        prev = bits;
    }
    for (int k = 0; k < 8; k++)
        for (size_t i = 0; i < n; i++)
            s->bytes.push_back(static_cast<uint8_t>(x[i] >> (8 * k)));
}

bool lows_differ(const point_columns &p)
{
    for (size_t i = 0; i < p.size(); i++) {
        double a = p.lo(i), b = p.hi(i);
        if (std::memcmp(&a, &b, sizeof a) != 0)
            return true;
    }
    return false;
}

void put_series(byte_stream *s, const graph_series &g)
{
    const point_columns &p = g.pts;
    size_t n = p.size();
    uint32_t prev = 0;
    for (size_t i = 0; i < n; i++) {
        uint32_t bits;
        float v = p.t(i);
        std::memcpy(&bits, &v, sizeof bits);
        put_svarint(s, static_cast<int32_t>(bits - prev));
        prev = bits;
    }
    int64_t last = 0;
    for (size_t i = 0; i < n; i++) {
        int32_t rec = p[i].rec;
        put_svarint(s, rec - last);
        last = rec;
    }
    put_values(s, p, false);
    bool differ = lows_differ(p);
    s->bytes.push_back(differ ? 1 : 0);
    if (differ)
        put_values(s, p, true);
}

std::string strings_json(const std::vector<std::string> &v)
{
    std::string out = "[";
    for (size_t i = 0; i < v.size(); i++)
        out += (i ? "," : "") + json_string(v[i]);
    return out + "]";
}

std::string graph_json(const graph_data &g, size_t at)
{
    std::string series = "[";
    for (size_t i = 0; i < g.series.size(); i++) {
        const graph_series &s = g.series[i];
        series += (i ? "," : "") + std::string("{\"name\":") + json_string(s.name) +
                  ",\"colour\":" + json_string(s.colour) + ",\"style\":" +
                  std::to_string(s.style) + ",\"dashed\":" + std::to_string(s.dashed) +
                  ",\"n\":" + std::to_string(s.pts.size()) +
                  ",\"labels\":" + strings_json(s.labels) + "}";
    }
    series += "]";
    return std::string("{\"type\":") + json_string(graph_type_name(g.type)) +
           ",\"at\":" + std::to_string(at) +
           ",\"dir\":" + std::to_string(g.dir) + ",\"title\":" + json_string(g.title) +
           ",\"unit\":" + std::to_string(g.unit) + ",\"yName\":" + json_string(g.y_name) +
           ",\"notes\":" + strings_json(g.notes) + ",\"tMin\":" + num(g.t_min) +
           ",\"tMax\":" + num(g.t_max) + ",\"vMin\":" + num(g.v_min) +
           ",\"vMax\":" + num(g.v_max) + ",\"series\":" + series + "}";
}

}  // namespace

void graph_page_data(std::string *meta, std::vector<uint8_t> *bytes)
{
    std::vector<graph_data> graphs = build_page_graphs();
    *meta = "[";
    byte_stream s;
    for (size_t i = 0; i < graphs.size(); i++) {
        *meta += (i ? "," : "") + graph_json(graphs[i], s.bytes.size());
        for (const graph_series &series : graphs[i].series)
            put_series(&s, series);
    }
    *meta += "]";
    bytes->swap(s.bytes);
}
