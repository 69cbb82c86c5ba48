/*
 * graph_window.cpp --
 *
 *	The graphs in the interface: the series cache, the -G request and
 *	its picture, and the Graph window's commands.
 */

#include "ui/graph_window.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/events.h"
#include "graph/columns.h"
#include "trace/trace.h"
#include "ui/graph_photo.h"
#include "ui/ui_state.h"

graph_ui_state g_graph;

void graph_state_reset()
{
    graph_forget();
    g_graph.tput_window = 0;
    g_graph.open = 0;
    g_graph.width = g_graph.height = 0;
    g_graph.type = GRAPH_TSG;
}

void graph_forget()
{
    for (auto &per_type : g_graph.built) {
        for (auto &slot : per_type)
            slot.reset();
    }
    g_graph.have_view = 0;
    g_graph.dir = 0;
    g_graph.view = graph_view{};
    g_graph.zooms.clear();
    g_graph.seg_events.clear();
}

/* The time-sequence marks of each main record from the events pass, or
 * null when the pass has not run for this load. */
static const uint8_t *event_marks()
{
    size_t n = g_events.seg.size();
    if (n == 0 || n != static_cast<size_t>(g_trace.main.count))
        return nullptr;
    if (g_graph.seg_events.size() == n)
        return g_graph.seg_events.data();
    segment_event_marks(&g_graph.seg_events);
    return g_graph.seg_events.data();
}

const graph_data &graph_of(graph_type type, int dir)
{
    int d = dir == 2 ? 2 : 1;
    std::unique_ptr<graph_data> &slot = g_graph.built[type][d - 1];
    if (!slot) {
        graph_inputs in{event_marks(), g_graph.tput_window};
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

namespace {

bool graph_ready()
{
    return g_graph.open && g_trace.loaded && g_trace.lines != nullptr && g_trace.main.count > 0 &&
           g_graph.width > 0 && g_graph.height > 0;
}

const graph_data &current_graph()
{
    if (g_graph.dir == 0)
        g_graph.dir = default_graph_dir();
    return graph_of(g_graph.type, g_graph.dir);
}

/* The whole connection at the window's size, the stack emptied. */
void whole_view()
{
    g_graph.view = graph_full_view(current_graph(), g_graph.width, g_graph.height);
    g_graph.have_view = 1;
    g_graph.zooms.clear();
}

/* The photo from the current view, the main view's span shaded. */
void draw_window_graph()
{
    if (!graph_ready() || g_ui.interp == nullptr)
        return;
    if (!g_graph.have_view)
        whole_view();
    graph_view v = g_graph.view;
    v.width = g_graph.width;
    v.height = g_graph.height;
    if (ui_view_ready()) {
        /* What the main canvas shows: the middle half of its window. */
        double q = (g_ui.main_end - g_ui.main_start) * 0.25;
        v.shade = 1;
        v.shade_t0 = g_ui.main_start + q;
        v.shade_t1 = g_ui.main_end - q;
    }
    cairo_surface_t *img = graph_image(current_graph(), v);
    put_image_in_photo(g_ui.interp, "wpgraph", img);
    if (img != nullptr)
        cairo_surface_destroy(img);
}

/* Zooms one axis by `f` about the position `at` in it. */
void zoom_axis(double *lo, double *hi, double at, double f)
{
    *lo = at - (at - *lo) * f;
    *hi = at + (*hi - at) * f;
}

double arg_num(int argc, const char *argv[], int i)
{
    return i < argc ? std::atof(argv[i]) : 0.0;
}

void set_result(Tcl_Interp *interp, const std::string &text)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
}

/* The subcommands that change the view, then redraw; 0 for an unknown one. */
int change_view(const std::string &cmd, int argc, const char *argv[])
{
    graph_view &v = g_graph.view;
    if (cmd == "home") {
        whole_view();
    } else if (cmd == "type") {
        int n = static_cast<int>(arg_num(argc, argv, 2));
        if (n < 1 || n > GRAPH_TYPES)
            return 1;
        g_graph.type = static_cast<graph_type>(n - 1);
        whole_view();
    } else if (cmd == "dir") {
        g_graph.dir = g_graph.dir == 2 ? 1 : 2;
        whole_view();
    } else if (cmd == "zoom") {
        double t0 = graph_time_at(v, arg_num(argc, argv, 2));
        double t1 = graph_time_at(v, arg_num(argc, argv, 4));
        double a = graph_value_at(v, arg_num(argc, argv, 3));
        double b = graph_value_at(v, arg_num(argc, argv, 5));
        if (!(std::fabs(t1 - t0) > 0) || !(std::fabs(b - a) > 0))
            return 1;
        g_graph.zooms.push_back(v);
        v.t0 = std::min(t0, t1);
        v.t1 = std::max(t0, t1);
        v.v0 = std::min(a, b);
        v.v1 = std::max(a, b);
    } else if (cmd == "back") {
        if (g_graph.zooms.empty()) {
            ring_limit_bell();
            return 1;
        }
        v = g_graph.zooms.back();
        g_graph.zooms.pop_back();
    } else if (cmd == "wheel") {
        double f = arg_num(argc, argv, 4) != 0 ? 0.8 : 1.25;
        if (arg_num(argc, argv, 5) != 0)
            zoom_axis(&v.v0, &v.v1, graph_value_at(v, arg_num(argc, argv, 3)), f);
        else
            zoom_axis(&v.t0, &v.t1, graph_time_at(v, arg_num(argc, argv, 2)), f);
    } else if (cmd == "window") {
        /* The throughput window: the default, then 0.1, 0.5, 1 and 5 s. */
        static const double steps[] = {0, 0.1, 0.5, 1, 5};
        size_t k = 0;
        while (k < 5 && steps[k] != g_graph.tput_window)
            k++;
        g_graph.tput_window = steps[(k + 1) % 5];
        for (std::unique_ptr<graph_data> &slot : g_graph.built[GRAPH_TPUT])
            slot.reset();
    } else if (cmd == "pan") {
        double dt = (v.t1 - v.t0) * 0.1 * arg_num(argc, argv, 2);
        double dv = (v.v1 - v.v0) * 0.1 * arg_num(argc, argv, 3);
        v.t0 += dt, v.t1 += dt, v.v0 += dv, v.v1 += dv;
    } else {
        return 0;
    }
    draw_window_graph();
    return 1;
}

}  // namespace

void graph_follow_view()
{
    draw_window_graph();
}

int graph_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "open" || cmd == "close") {
        g_graph.open = cmd == "open";
        return TCL_OK;
    }
    if (cmd == "size") {
        g_graph.width = std::max(0, static_cast<int>(arg_num(argc, argv, 2)));
        g_graph.height = std::max(0, static_cast<int>(arg_num(argc, argv, 3)));
        g_graph.view.width = g_graph.width;
        g_graph.view.height = g_graph.height;
        for (graph_view &z : g_graph.zooms) {
            z.width = g_graph.width;
            z.height = g_graph.height;
        }
        draw_window_graph();
        return TCL_OK;
    }
    if (cmd == "title") {
        if (g_graph.dir == 0 && g_trace.loaded)
            g_graph.dir = default_graph_dir();
        std::string title = std::string("Graph: ") + graph_type_name(g_graph.type) + " " +
                            (g_graph.dir == 2 ? "RL" : "LR");
        if (g_graph.type == GRAPH_TPUT && graph_ready()) {
            char over[48];
            std::snprintf(over, sizeof over, ", over %.3g s", current_graph().window);
            title += over;
        }
        set_result(interp, title);
        return TCL_OK;
    }
    if (!graph_ready())
        return TCL_OK;
    if (!g_graph.have_view)
        whole_view();
    if (change_view(cmd, argc, argv))
        return TCL_OK;
    const graph_data &g = current_graph();
    graph_view v = g_graph.view;
    if (cmd == "status") {
        double t = graph_time_at(v, arg_num(argc, argv, 2));
        double val = graph_value_at(v, arg_num(argc, argv, 3));
        char tt[64];
        std::snprintf(tt, sizeof tt, "t = %.6f s", t);
        set_result(interp, std::string(tt) + "   " + g.y_name + " = " +
                               graph_value_text(g.unit, val, v.v1 - v.v0));
    } else if (cmd == "click") {
        int32_t rec = graph_nearest_record(g, v, arg_num(argc, argv, 2), arg_num(argc, argv, 3), 8);
        if (rec >= 0)
            set_result(interp, std::to_string(rec + 1));
    } else if (cmd == "save" && argc > 2) {
        std::string error;
        if (!render_graph(g, v, argv[2], picture_format_for(argv[2]), &error)) {
            set_result(interp, error);
            return TCL_ERROR;
        }
    }
    return TCL_OK;
}
