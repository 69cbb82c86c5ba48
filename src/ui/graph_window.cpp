/*
 * graph_window.cpp --
 *
 *	The graphs in the interface: the series cache, the -G request and
 *	its picture.
 */

#include "ui/graph_window.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "graph/columns.h"

graph_ui_state g_graph;

void graph_forget()
{
    for (auto &per_type : g_graph.built) {
        for (auto &slot : per_type)
            slot.reset();
    }
    g_graph.view = graph_view{};
    g_graph.zooms.clear();
    g_graph.flash_line = -1;
}

const graph_data &graph_of(graph_type type, int dir)
{
    int d = dir == 2 ? 2 : 1;
    std::unique_ptr<graph_data> &slot = g_graph.built[type][d - 1];
    if (!slot) {
        graph_inputs in{nullptr, g_graph.tput_window};
        slot.reset(new graph_data(build_graph(type, d, in)));
    }
    return *slot;
}

int parse_graph_request(const char *text, graph_type *type, int *dir)
{
    std::string s = text;
    size_t colon = s.find(':');
    std::string name = s.substr(0, colon);
    graph_type t = graph_type_named(name.c_str());
    if (t == GRAPH_TYPES)
        return 0;
    int d = 0;
    if (colon != std::string::npos) {
        std::string ds = s.substr(colon + 1);
        if (ds == "LR")
            d = 1;
        else if (ds == "RL")
            d = 2;
        else
            return 0;
    }
    *type = t;
    *dir = d;
    return 1;
}

void fit_values(const graph_data &g, graph_view *v)
{
    bool any = false;
    double lo = 0, hi = 0;
    for (const graph_series &s : g.series) {
        int64_t a, b;
        points_in_view(s.pts, v->t0, v->t1, &a, &b);
        if (a >= b)
            continue;
        double l, h;
        range_extremes(s.pts, s.pyr, a, b, &l, &h);
        lo = any ? std::min(lo, l) : l;
        hi = any ? std::max(hi, h) : h;
        any = true;
    }
    if (!any)
        return;
    double pad = (hi - lo) * 0.02;
    if (!(pad > 0))
        pad = std::max(1e-9, std::fabs(hi) * 0.02 + (g.unit == UNIT_SECONDS ? 1e-4 : 1));
    v->v0 = lo - pad;
    v->v1 = hi + pad;
}

int save_graph_file(graph_type type, int dir, int w, int h, int span, double from, double to,
                    const std::string &path, std::string *error)
{
    const graph_data &g = graph_of(type, dir == 0 ? default_graph_dir() : dir);
    graph_view v = graph_full_view(g, w, h);
    if (span) {
        v.t0 = from;
        v.t1 = to;
        fit_values(g, &v);
    }
    return render_graph(g, v, path, picture_format_for(path), error);
}
