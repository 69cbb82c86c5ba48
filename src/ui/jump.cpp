/*
 * jump.cpp --
 *
 *	Span, home, end, fit, go-to-segment and pan moves of the main view,
 *	and the hover summary. All of them only set the view fields of g_ui
 *	and then run the same redraw sequences as the navigation commands.
 */

#include "ui/jump.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/events.h"
#include "analysis/line.h"
#include "report/problems.h"
#include "text/detail.h"
#include "trace/trace.h"
#include "ui/commands.h"
#include "ui/publish.h"
#include "ui/ui_state.h"

namespace {

/* Pixels of margin that home and end leave at the view's edge. */
const float EDGE_MARGIN = 20.0f;

/*
 * The last hover answer, so that moving along one arrow formats its
 * summary (and writes any "[bad opt]" of it) once, not at every motion
 * event. One instance; hover_clib sets it.
 */
struct hover_cache {
    const line_record *lines;   /* the line list it was made for */
    int count;                  /* its number of lines */
    int line;                   /* line index; -1 none */
    float t_send, t_recv;       /* s, that line's times, so that a reload
                                 * at the same address is told apart */
    std::string text;           /* "Segment N: " and the summary */
} g_hover = {nullptr, 0, -1, 0.0f, 0.0f, std::string()};

const std::string &hover_text(int sel)
{
    const line_record &l = g_trace.lines[sel];
    if (g_hover.lines != g_trace.lines || g_hover.count != g_trace.main.count ||
        g_hover.line != sel || g_hover.t_send != l.t_send || g_hover.t_recv != l.t_recv) {
        g_hover.lines = g_trace.lines;
        g_hover.count = g_trace.main.count;
        g_hover.line = sel;
        g_hover.t_send = l.t_send;
        g_hover.t_recv = l.t_recv;
        g_hover.text = segment_hover_text(sel);
    }
    return g_hover.text;
}

/* First row of the main scroll region the window shows. */
float main_top_row()
{
    return g_ui.main_scroll * static_cast<float>(g_ui.main_height);
}

/* The time span the window shows of the main canvas now. */
float shown_span()
{
    return static_cast<float>(g_ui.main_height) / g_ui.main_scale;
}

/* Sets main_start (and main_end) so that time `t` lies at region row `row`. */
void put_time_at_row(float t, float row)
{
    g_ui.main_start = t - (row - 20.0f) / g_ui.main_scale;
    g_ui.main_end = g_ui.main_start + static_cast<float>(2 * g_ui.main_height) / g_ui.main_scale;
}

void redraw_after_move(int overview_moved)
{
    redraw_main();
    if (overview_moved)
        redraw_overview();
    redraw_box();
}

/* The view moved by `t_top`, the time now wanted at the window's top row. */
void show_from(float t_top)
{
    put_time_at_row(t_top, main_top_row());
    redraw_after_move(keep_box_in_sight());
}

int parse_int(const char *s, int *out)
{
    char *end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (end == s || *end != '\0')
        return 0;
    *out = static_cast<int>(v);
    return 1;
}

int parse_float(const char *s, float *out)
{
    char *end = nullptr;
    double v = std::strtod(s, &end);
    if (end == s || *end != '\0')
        return 0;
    *out = static_cast<float>(v);
    return 1;
}

/* Segment n (from 1): centred; the result is its published arrow index. */
void go_to_segment(Tcl_Interp *interp, int n)
{
    if (n < 1 || n > g_trace.main.count)
        return;
    const line_record &l = g_trace.lines[n - 1];
    float mid = (l.t_send + l.t_recv) * 0.5f;
    show_from(mid - shown_span() * 0.5f);
    for (int i = 0; i < g_ui.hit_count; i++) {
        if (g_ui.hits[i].line == n - 1) {
            Tcl_SetObjResult(interp, Tcl_NewIntObj(i));
            return;
        }
    }
}

void do_view(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2 || !ui_view_ready())
        return;
    std::string what = argv[1];
    float from, to;
    if (what == "home") {
        const line_record &l = g_trace.lines[0];
        show_from(std::min(l.t_send, l.t_recv) - EDGE_MARGIN / g_ui.main_scale);
    } else if (what == "end") {
        const line_record &l = g_trace.lines[g_trace.main.count - 1];
        float last = std::max(l.t_send, l.t_recv);
        show_from(last + EDGE_MARGIN / g_ui.main_scale - shown_span());
    } else if (what == "fit") {
        connection_span(&from, &to);
        show_main_span(from, to);
        redraw_after_move(1);
    } else if (what == "segment" && argc > 2) {
        int n;
        if (parse_int(argv[2], &n))
            go_to_segment(interp, n);
    } else if (what == "pan" && argc > 2) {
        float dy;
        if (parse_float(argv[2], &dy) && dy != 0.0f)
            show_from(g_ui.main_start + (main_top_row() - 20.0f - dy) / g_ui.main_scale);
    } else if (what == "span" && argc > 3) {
        if (parse_float(argv[2], &from) && parse_float(argv[3], &to) && from < to) {
            show_main_span(from, to);
            redraw_after_move(1);
        }
    }
}

}  // namespace

int keep_box_in_sight()
{
    float shown = static_cast<float>(g_ui.over_height);
    float top_row = g_ui.over_scroll * 4.0f * shown;
    float q = (g_ui.main_end - g_ui.main_start) * 0.25f;
    float box_top = 5.0f + g_ui.over_scale * (g_ui.main_start + q - g_ui.over_start);
    float box_bottom = 5.0f + g_ui.over_scale * (g_ui.main_end - q - g_ui.over_start);
    if (box_top >= top_row && box_bottom <= top_row + shown)
        return 0;
    float box_time = 2.0f * q;
    if (g_ui.over_scale * box_time > 0.8f * shown) {
        g_ui.over_scale = 0.5f * shown / box_time;
        g_ui.over_base_scale = g_ui.over_scale;
        g_ui.over_zoom = 0;
    }
    g_ui.over_start = g_ui.main_start + q - (top_row + 0.25f * shown - 5.0f) / g_ui.over_scale;
    g_ui.over_end = g_ui.over_start + 4.0f * static_cast<float>(g_ui.over_height) / g_ui.over_scale;
    return 1;
}

void show_main_span(float from, float to)
{
    if (!(from < to))
        return;
    g_ui.main_scale = static_cast<float>(g_ui.main_height) / (to - from);
    g_ui.main_base_scale = g_ui.main_scale;
    g_ui.main_zoom = 0;
    put_time_at_row(from, main_top_row());
    keep_box_in_sight();
}

void connection_span(float *from, float *to)
{
    float first = 0.0f, last = 0.0f;
    if (g_trace.main.count > 0 && g_trace.lines != nullptr) {
        const line_record &a = g_trace.lines[0];
        const line_record &b = g_trace.lines[g_trace.main.count - 1];
        first = std::min(a.t_send, a.t_recv);
        last = std::max(b.t_send, b.t_recv);
    }
    float span = last - first;
    if (!(span > 0.0f))
        span = 0.01f;
    *from = first - 0.02f * span;
    *to = first + 1.02f * span;
}

int view_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    do_view(interp, argc, argv);
    return TCL_OK;
}

int hover_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    if (argc < 3 || g_ui.hit_count == 0)
        return TCL_OK;
    int x = std::atoi(argv[1]);
    int y = std::atoi(argv[2]);
    int ya = to_pixel(static_cast<float>(g_ui.main_height) * g_ui.main_scroll +
                      static_cast<float>(y));
    int sel = nearest_hit(x, ya);
    if (sel < 0 || sel >= g_trace.main.count)
        return TCL_OK;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(hover_text(sel).c_str(), -1));
    return TCL_OK;
}
