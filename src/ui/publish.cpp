/*
 * publish.cpp --
 *
 *	Publication of the ladder diagram to the UI script: time axes, the
 *	arrows of the main canvas with their hit table, labels and time stamps
 *	kept apart by place_text, the overview lines, the view box, and the
 *	redraw sequences that the commands run. Every number is computed here;
 *	the script only draws. Where a formula mixes float and double the
 *	widths below are the ones that fix the pixels.
 */

#include "ui/publish.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "load/loader.h"
#include "text/endpoint_text.h"
#include "text/line_text.h"
#include "trace/direction.h"
#include "trace/peer_map.h"
#include "trace/trace.h"
#include "ui/graph_window.h"
#include "ui/line_index.h"
#include "ui/overview_index.h"
#include "ui/ui_state.h"
#include "ui/view.h"

const char *color_name(int cls)
{
    if (cls < 0 || cls >= 7)
        return "black";
    return color_table[cls];
}

/* A float printed with "%f" into a global variable or array element. */
static void set_var_f(const char *name, double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%f", v);
    ui_set_var(name, text);
}

static void set_elem_f(const char *name, int index, double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%f", v);
    ui_set_elem(name, index, text);
}

void text_column_start(text_column *c)
{
    c->taken.clear();
    c->taken.insert(-100);
}

/* A text at y would lie within 8 px of one already in column `c`. */
static bool crowds_column(int y, const text_column &c)
{
    auto it = c.taken.lower_bound(y - 8);
    return it != c.taken.end() && *it <= y + 8;
}

int place_text(int y, text_column *c, int *placed)
{
    /* A text only moves down, so the entries below y - 8 never come
     * within reach, and the walk ends at the first entry beyond y + 8. */
    for (auto it = c->taken.lower_bound(y - 8); it != c->taken.end() && *it <= y + 8; ++it) {
        y = *it + 9;
        if (crowds_column(y, *c))
            return 0;
    }
    c->taken.insert(y);
    *placed = y;
    return 1;
}

void publish_frame()
{
    ui_set_elem_int("fx1", 0, 80);
    ui_set_elem_int("fx2", 0, 80);
    ui_set_elem_int("fx1", 1, g_ui.main_width - 80);
    ui_set_elem_int("fx2", 1, g_ui.main_width - 80);
    for (int i = 0; i < 2; i++) {
        ui_set_elem_int("fy1", i, 20);
        ui_set_elem_int("fy2", i, 2 * g_ui.main_height);
    }
}

void publish_overview_frame()
{
    double left = g_ui.over_width * 0.15;
    double right = g_ui.over_width * 0.85;
    set_elem_f("subfx1", 0, left);
    set_elem_f("subfx2", 0, left);
    set_elem_f("subfx1", 1, right);
    set_elem_f("subfx2", 1, right);
    for (int i = 0; i < 2; i++) {
        ui_set_elem_int("subfy1", i, 5);
        ui_set_elem_int("subfy2", i, 4 * g_ui.over_height);
    }
}

line_ends line_ends_of(int dir, int left, int right, int ys, int yr)
{
    if (dir == 1)
        return {left, ys, right, yr};
    return {left, yr, right, ys};
}

void move_receiver_end(line_ends *e, int dir, int x, int y)
{
    if (dir == 1) {
        e->x2 = x;
        e->y2 = y;
    } else {
        e->x1 = x;
        e->y1 = y;
    }
}

/* The arrow of line `l` in the main window; the head is at the receiver. */
static line_ends main_arrow(const line_record &l)
{
    float ts = l.t_send - g_ui.main_start;
    int ys = to_pixel(20.0f + g_ui.main_scale * ts);
    int yr = to_pixel(20.0f + g_ui.main_scale * (ts + l.delay));
    line_ends e = line_ends_of(l.dir, 80, g_ui.main_width - 80, ys, yr);
    if (l.cls != CLS_LOST)
        return e;
    /* A lost segment stops halfway across. */
    int mx = static_cast<int>(g_ui.main_width * 0.5);
    int my = to_pixel(static_cast<double>(g_ui.main_scale) *
                      (static_cast<double>(l.delay) / 2.05 + static_cast<double>(ts)) + 20.0);
    move_receiver_end(&e, l.dir, mx, my);
    return e;
}

static void add_hit(int n, const line_ends &e, int line)
{
    hit_entry &h = g_ui.hits[n];
    h.a = static_cast<int64_t>(e.y1) - e.y2;
    h.b = static_cast<int64_t>(e.x2) - e.x1;
    h.c = static_cast<int64_t>(e.x1) * e.y2 - static_cast<int64_t>(e.x2) * e.y1;
    h.line = line;
}

/*
 * The notice under the last arrow of a full publication: how many lines
 * the span holds (those between the first line the scan publishes and
 * the line that would end an uncapped scan), and where to look instead.
 * lnotice is "" when every line of the span is drawn.
 */
static void publish_line_notice(int drawn)
{
    char text[128] = "";
    if (drawn == MAX_HITS) {
        window_span span = window_span_of(g_trace.lines, g_trace.main.count, g_ui.main_start,
                                          g_ui.main_end);
        int64_t held = static_cast<int64_t>(span.stop) - span.first;
        if (held > MAX_HITS)
            std::snprintf(text, sizeof text,
                          "first %d of %lld segments in this span: zoom in, or press t for the "
                          "graphs",
                          MAX_HITS, static_cast<long long>(held));
    }
    ui_set_var("lnotice", text);
    if (text[0] == 0)
        return;
    const hit_entry &h = g_ui.hits[MAX_HITS - 1];
    /* Below the lower end of the last arrow. */
    line_ends e = main_arrow(g_trace.lines[h.line]);
    ui_set_var_int("lnoticex", g_ui.main_width / 2);
    ui_set_var_int("lnoticey", std::max(e.y1, e.y2) + 12);
}

void publish_lines()
{
    std::vector<int32_t> visible;
    visible.reserve(MAX_HITS);
    window_lines(g_trace.lines, g_trace.main.count, g_ui.main_start, g_ui.main_end, MAX_HITS,
                 visible);
    g_ui.first_visible = visible.empty() ? -1 : visible.front();
    g_ui.last_visible = visible.empty() ? -1 : visible.back();
    int n = 0;
    for (int32_t j : visible) {
        const line_record &l = g_trace.lines[j];
        line_ends e = main_arrow(l);
        ui_set_elem_int("x1", n, e.x1);
        ui_set_elem_int("y1", n, e.y1);
        ui_set_elem_int("x2", n, e.x2);
        ui_set_elem_int("y2", n, e.y2);
        ui_set_elem("color", n, color_name(l.cls));
        ui_set_elem("arrow", n, l.dir == 1 ? "last" : "first");
        add_hit(n, e, j);
        n++;
    }
    g_ui.hit_count = n;
    ui_set_var_int("linecnt", n);
    publish_line_notice(n);
}

static int visible_range_empty()
{
    return g_ui.first_visible < 0 || g_ui.first_visible > g_ui.last_visible ||
           g_ui.last_visible >= g_trace.main.count;
}

void publish_labels()
{
    text_column column;
    text_column_start(&column);
    int count = 0;
    if (visible_range_empty()) {
        ui_set_var_int("textcnt", 0);
        return;
    }
    int x = g_ui.main_width / 2;
    for (int j = g_ui.first_visible; j <= g_ui.last_visible; j++) {
        const line_record &l = g_trace.lines[j];
        float since = l.t_send - g_ui.main_start;
        int y = to_pixel(static_cast<double>(g_ui.main_scale) *
                         (static_cast<double>(since) + static_cast<double>(l.delay) * 0.5) +
                         20.0 - 4.0);
        int placed;
        if (!place_text(y, &column, &placed))
            continue;
        ui_set_elem_int("tx", count, x);
        ui_set_elem_int("ty", count, placed);
        char label[LINE_LABEL_SIZE];
        format_line_label(j, label, sizeof label);
        ui_set_elem("text", count, label);
        ui_set_elem("txcolor", count, color_name(l.cls));
        count++;
    }
    ui_set_var_int("textcnt", count);
}

/* Publishes one time stamp at index *count when its column has room. */
static void publish_one_time(float t, int x, text_column *column, int cls, int *count)
{
    int y = to_pixel((t - g_ui.main_start) * g_ui.main_scale + 20.0f + -4.0f);
    int placed;
    if (!place_text(y, column, &placed))
        return;
    char text[32];
    std::snprintf(text, sizeof text, "%04.6f", static_cast<double>(t));
    ui_set_elem_int("tmx", *count, x);
    ui_set_elem_int("tmy", *count, placed);
    ui_set_elem("time", *count, text);
    ui_set_elem("tmcolor", *count, color_name(cls));
    (*count)++;
}

void publish_times()
{
    text_column left, right;
    text_column_start(&left);
    text_column_start(&right);
    int count = 0;
    if (visible_range_empty()) {
        ui_set_var_int("timecnt", 0);
        return;
    }
    for (int j = g_ui.first_visible; j <= g_ui.last_visible; j++) {
        const line_record &l = g_trace.lines[j];
        float tl = l.dir == 1 ? l.t_send : l.t_recv;
        float tr = l.dir == 1 ? l.t_recv : l.t_send;
        publish_one_time(tl, 40, &left, l.cls, &count);
        publish_one_time(tr, g_ui.main_width - 40, &right, l.cls, &count);
    }
    ui_set_var_int("timecnt", count);
}

void publish_view_box()
{
    set_var_f("rx1", static_cast<float>(0.05 * g_ui.over_width));
    set_var_f("rx2", static_cast<float>(0.95 * g_ui.over_width));
    float q = (g_ui.main_end - g_ui.main_start) * 0.25f;
    float top = 5.0f + g_ui.over_scale * (g_ui.main_start + q - g_ui.over_start);
    float bottom = 5.0f + g_ui.over_scale * (g_ui.main_end - q - g_ui.over_start);
    set_var_f("ry1", top);
    set_var_f("ry2", bottom);
}

void publish_trace_info()
{
    int have = g_trace.loaded && g_trace.main.count > 0 && g_trace.lines != nullptr &&
               g_trace.main.rec != nullptr;
    ui_set_var_int("segcount", have ? g_trace.main.count : 0);
    if (!have) {
        ui_set_var("lefthost", "");
        ui_set_var("righthost", "");
        ui_set_var("leftother", "");
        ui_set_var("rightother", "");
        return;
    }
    /* Line 0 goes left to right exactly when record 0 comes from the left. */
    const seg_record &r = g_trace.main.rec[0];
    int left_is_source = g_trace.lines[0].dir == 1;
    char text[96];
    endpoint_text(r, left_is_source, text, sizeof text);
    ui_set_var("lefthost", text);
    endpoint_text(r, !left_is_source, text, sizeof text);
    ui_set_var("righthost", text);
    /* The names the other capture gives the two ends, where a middlebox
     * between the capture points translated them. */
    int left_role = loader_left_role();
    const peer_map_state &pm = g_peer_map;
    for (int side = 0; side < 2; side++) {
        int role = side == 0 ? left_role : 1 - left_role;
        bool other = pm.applied && pm.translated[role];
        ui_set_var(side == 0 ? "leftother" : "rightother",
                   other ? peer_end_text(pm.peer_end[role], g_trace.ipv6 != 0).c_str() : "");
    }
}

void redraw_main()
{
    ui_eval("eraselines");
    publish_lines();
    ui_eval("drawlines");
    if (g_ui.texton) {
        ui_eval("erasetexts");
        publish_labels();
        ui_eval("drawtexts");
    }
    if (g_ui.timeon) {
        ui_eval("erasetimes");
        publish_times();
        ui_eval("drawtimes");
    }
}

void redraw_overview()
{
    publish_overview_lines();
    ui_eval("erasesublines");
    ui_eval("drawsublines");
}

void redraw_box()
{
    publish_view_box();
    ui_eval("erasebox");
    ui_eval("drawbox");    graph_follow_view();
}

void redraw_all()
{
    line_index_build(g_trace.lines, g_trace.main.count);
    overview_index_build(g_trace.lines, g_trace.main.count);
    setup_view();
    publish_frame();
    publish_overview_frame();
    publish_lines();
    publish_overview_lines();
    publish_labels();
    publish_times();
    publish_view_box();
    publish_trace_info();
    ui_eval("drawframe");
    ui_eval("drawsubframe");
    ui_eval("drawlines");
    ui_eval("drawsublines");
    ui_eval("drawtexts");
    ui_eval("drawtimes");
    ui_eval("drawbox");
    ui_eval(".subframe1.canvas yview moveto 0.25");
    ui_set_var("texton", "1");
    ui_set_var("timeon", "1");
    g_ui.texton = 1;
    g_ui.timeon = 1;
    graph_follow_view();
}

void forget_publication()
{
    line_index_clear();
    overview_index_clear();
    graph_forget();
    g_ui.first_visible = -1;
    g_ui.last_visible = -1;
    g_ui.hit_count = 0;
}
