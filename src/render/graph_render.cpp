/*
 * graph_render.cpp --
 *
 *	One graph drawn with cairo: layout, axes, grid, series, legend.
 */

#include "render/graph_render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "graph/columns.h"

namespace {

/* Margins around the plot: title above; tick labels, the time axis's
 * name and two legend rows below; value tick labels to the left. */
const double MARGIN_LEFT = 78, MARGIN_RIGHT = 18, MARGIN_TOP = 40, MARGIN_BOTTOM = 78;
const double FONT_SIZE = 11, TITLE_SIZE = 13;
const char GROUND[] = "#ffffff";
const char GRID[] = "#e2e8f0";
const char AXIS[] = "#4a5568";
const char TEXT[] = "#1a202c";
const char SHADE[] = "#dbeafe";

/* A tick step of 1, 2 or 5 times a power of ten, about span / count. */
double nice_step(double span, int count)
{
    double raw = span / count;
    double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double norm = raw / mag;
    double f = norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10;
    return f * mag;
}

/* The SI factor and unit name for values of an axis spanning `scale`. */
double unit_factor(graph_unit unit, double scale, const char **name)
{
    scale = std::fabs(scale);
    if (unit == UNIT_SECONDS) {
        if (scale >= 1) {
            *name = "s";
            return 1;
        }
        if (scale >= 1e-3) {
            *name = "ms";
            return 1e-3;
        }
        *name = "\u00b5s";
        return 1e-6;
    }
    static const char *const bytes[] = {"B", "kB", "MB", "GB"};
    static const char *const bits[] = {"bit/s", "kbit/s", "Mbit/s", "Gbit/s"};
    const char *const *names = unit == UNIT_BYTES ? bytes : bits;
    double f = 1;
    int k = 0;
    while (k < 3 && scale >= f * 1000) {
        f *= 1000;
        k++;
    }
    *name = names[k];
    return f;
}

int decimals_for(double step)
{
    if (!(step > 0))
        return 0;
    int d = static_cast<int>(-std::floor(std::log10(step) + 1e-9));
    return std::max(0, std::min(d, 6));
}

std::string number_text(double v, int decimals)
{
    char text[48];
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals))
        v = 0;   /* no "-0.0" */
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void show_text(cairo_t *cr, const std::string &text, double x, double y, double ax, double ay)
{
    cairo_text_extents_t te;
    cairo_text_extents(cr, text.c_str(), &te);
    cairo_move_to(cr, std::floor(x - te.x_advance * ax), std::floor(y - te.y_bearing * (1 - ay) -
                                                                       (te.height + te.y_bearing) * ay));
    cairo_show_text(cr, text.c_str());
}

double text_width(cairo_t *cr, const std::string &text)
{
    cairo_text_extents_t te;
    cairo_text_extents(cr, text.c_str(), &te);
    return te.x_advance;
}

void font(cairo_t *cr, double size, bool bold)
{
    cairo_select_font_face(cr, "Helvetica", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

struct mapper {
    graph_plot p;
    graph_view v;
    double x(double t) const { return p.left + (t - v.t0) * p.width / (v.t1 - v.t0); }
    double y(double value) const { return p.top + (v.v1 - value) * p.height / (v.v1 - v.v0); }
};

void draw_axes(cairo_t *cr, const graph_data &g, const mapper &m)
{
    const graph_plot &p = m.p;
    font(cr, FONT_SIZE, false);
    cairo_set_line_width(cr, 1);
    /* Time: grid lines and ticks at round seconds. */
    double ts = nice_step(m.v.t1 - m.v.t0, std::max(2, static_cast<int>(p.width / 90)));
    int td = decimals_for(ts);
    for (double t = std::ceil(m.v.t0 / ts) * ts; t <= m.v.t1 + ts * 1e-9; t += ts) {
        double x = std::floor(m.x(t)) + 0.5;
        set_named_colour(cr, GRID);
        cairo_move_to(cr, x, p.top);
        cairo_line_to(cr, x, p.top + p.height);
        cairo_stroke(cr);
        set_named_colour(cr, AXIS);
        cairo_move_to(cr, x, p.top + p.height);
        cairo_line_to(cr, x, p.top + p.height + 4);
        cairo_stroke(cr);
        show_text(cr, number_text(t, td), x, p.top + p.height + 7, 0.5, 0);
    }
    show_text(cr, "time (s)", p.left + p.width / 2, p.top + p.height + 22, 0.5, 0);
    /* Values: grid lines and ticks in the unit that fits the span. */
    const char *uname = "";
    double span = m.v.v1 - m.v.v0;
    double f = unit_factor(g.unit, std::max(std::fabs(m.v.v0), std::fabs(m.v.v1)), &uname);
    double vs = nice_step(span, std::max(2, static_cast<int>(p.height / 50)));
    int vd = decimals_for(vs / f);
    for (double v = std::ceil(m.v.v0 / vs) * vs; v <= m.v.v1 + vs * 1e-9; v += vs) {
        double y = std::floor(m.y(v)) + 0.5;
        set_named_colour(cr, GRID);
        cairo_move_to(cr, p.left, y);
        cairo_line_to(cr, p.left + p.width, y);
        cairo_stroke(cr);
        set_named_colour(cr, AXIS);
        cairo_move_to(cr, p.left - 4, y);
        cairo_line_to(cr, p.left, y);
        cairo_stroke(cr);
        show_text(cr, number_text(v / f, vd), p.left - 7, y, 1, 0.5);
    }
    show_text(cr, g.y_name + " (" + uname + ")", p.left, p.top - 6, 0, 1);
    set_named_colour(cr, AXIS);
    cairo_rectangle(cr, p.left + 0.5, p.top + 0.5, p.width - 1, p.height - 1);
    cairo_stroke(cr);
}

void dot(cairo_t *cr, double x, double y, bool filled)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, filled ? 1.8 : 2.5, 0, 2 * M_PI);
    if (filled)
        cairo_fill(cr);
    else
        cairo_stroke(cr);
}

void cross(cairo_t *cr, double x, double y)
{
    cairo_move_to(cr, x - 3, y - 3);
    cairo_line_to(cr, x + 3, y + 3);
    cairo_move_to(cr, x - 3, y + 3);
    cairo_line_to(cr, x + 3, y - 3);
}

/* One series: its cells in the plot, a few primitives each. */
void draw_series(cairo_t *cr, const graph_series &s, const mapper &m,
                 std::vector<column_cell> &cells)
{
    if (s.pts.empty())
        return;
    set_named_colour(cr, s.colour);
    cairo_set_line_width(cr, s.style == STYLE_BARS ? 1.0 : 1.2);
    if (s.dashed) {
        double dash[] = {5, 3};
        cairo_set_dash(cr, dash, 2, 0);
    }
    column_view cv{m.v.t0, m.v.t1, std::max(1, static_cast<int>(m.p.width))};
    if (s.style == STYLE_LABELS) {
        int64_t a, b;
        points_in_view(s.pts, m.v.t0, m.v.t1, &a, &b);
        font(cr, FONT_SIZE - 1, true);
        for (int64_t i = a; i < b && i < a + 400; i++) {
            const graph_point &q = s.pts[static_cast<size_t>(i)];
            show_text(cr, s.labels[static_cast<size_t>(i)], m.x(q.t) + 3, m.y(q.hi) - 3, 0, 1);
        }
        cairo_set_dash(cr, nullptr, 0, 0);
        return;
    }
    reduce_columns(s.pts, s.pyr, cv, cells);
    bool single = !cells.empty() && cells.size() <= static_cast<size_t>(cv.width) / 4;
    bool started = false;
    double last_y = 0;
    for (const column_cell &c : cells) {
        double x = m.p.left + c.x;
        double ylo = m.y(c.lo), yhi = m.y(c.hi);
        double yfirst = m.y(s.pts[static_cast<size_t>(c.first)].hi);
        double ylast = m.y(s.pts[static_cast<size_t>(c.last)].hi);
        switch (s.style) {
        case STYLE_BARS: {
            double xb = std::floor(x) + 0.5;
            cairo_move_to(cr, xb, ylo + (ylo - yhi < 1 ? 0.5 : 0));
            cairo_line_to(cr, xb, yhi - (ylo - yhi < 1 ? 0.5 : 0));
            if (single) {
                cairo_move_to(cr, xb - 2, yhi);
                cairo_line_to(cr, xb + 2, yhi);
            }
            break;
        }
        case STYLE_STEPS:
        case STYLE_LINE:
            if (!started)
                cairo_move_to(cr, x, yfirst);
            else if (s.style == STYLE_STEPS)
                cairo_line_to(cr, x, last_y);
            cairo_line_to(cr, x, yfirst);
            if (c.first != c.last) {
                cairo_line_to(cr, x, ylo);
                cairo_line_to(cr, x, yhi);
                cairo_line_to(cr, x, ylast);
            }
            started = true;
            last_y = ylast;
            break;
        case STYLE_DOTS:
        case STYLE_HOLLOW:
            dot(cr, x, ylo, s.style == STYLE_DOTS);
            if (yhi != ylo)
                dot(cr, x, yhi, s.style == STYLE_DOTS);
            break;
        case STYLE_TICKS:
            cairo_move_to(cr, x - 3, ylo);
            cairo_line_to(cr, x + 3, ylo);
            cairo_move_to(cr, x - 3, yhi);
            cairo_line_to(cr, x + 3, yhi);
            break;
        default:
            cross(cr, x, (ylo + yhi) / 2);
            break;
        }
    }
    if (s.style != STYLE_DOTS && s.style != STYLE_HOLLOW)
        cairo_stroke(cr);
    /* A line of one point is a dot, or nothing would show. */
    if ((s.style == STYLE_LINE || s.style == STYLE_STEPS) && cells.size() == 1)
        dot(cr, m.p.left + cells[0].x, m.y(cells[0].hi), true);
    cairo_set_dash(cr, nullptr, 0, 0);
}

/* A legend entry's sample of the series' drawing. */
void legend_sample(cairo_t *cr, const graph_series &s, double x, double y)
{
    set_named_colour(cr, s.colour);
    cairo_set_line_width(cr, 1.5);
    if (s.dashed) {
        double dash[] = {4, 2};
        cairo_set_dash(cr, dash, 2, 0);
    }
    switch (s.style) {
    case STYLE_BARS:
        cairo_move_to(cr, x + 8, y - 6);
        cairo_line_to(cr, x + 8, y + 6);
        break;
    case STYLE_DOTS:
    case STYLE_HOLLOW:
        dot(cr, x + 8, y, s.style == STYLE_DOTS);
        break;
    case STYLE_MARKS:
        cross(cr, x + 8, y);
        break;
    case STYLE_LABELS:
        font(cr, FONT_SIZE - 2, true);
        show_text(cr, "SYN", x, y, 0, 0.5);
        break;
    default:
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x + 16, y);
        break;
    }
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

void draw_legend(cairo_t *cr, const graph_data &g, const graph_view &v, const graph_plot &p)
{
    double x = p.left, y = p.top + p.height + 46;
    for (const graph_series &s : g.series) {
        if (s.pts.empty())
            continue;
        font(cr, FONT_SIZE, false);
        double w = 22 + text_width(cr, s.name) + 14;
        if (x + w > v.width - 4 && x > p.left) {
            x = p.left;
            y += 16;
        }
        legend_sample(cr, s, x, y);
        font(cr, FONT_SIZE, false);
        set_named_colour(cr, TEXT);
        show_text(cr, s.name, x + 22, y, 0, 0.5);
        x += w;
    }
    font(cr, FONT_SIZE, false);
    for (const std::string &note : g.notes) {
        double w = text_width(cr, note) + 14;
        if (x + w > v.width - 4 && x > p.left) {
            x = p.left;
            y += 16;
        }
        set_named_colour(cr, AXIS);
        show_text(cr, note, x, y, 0, 0.5);
        x += w;
    }
}

}  // namespace

graph_plot graph_plot_area(int w, int h)
{
    graph_plot p;
    p.left = MARGIN_LEFT;
    p.top = MARGIN_TOP;
    p.width = std::max(1.0, std::floor(w - MARGIN_LEFT - MARGIN_RIGHT));
    p.height = std::max(1.0, std::floor(h - MARGIN_TOP - MARGIN_BOTTOM));
    return p;
}

graph_view graph_full_view(const graph_data &g, int w, int h)
{
    graph_view v{};
    v.width = w;
    v.height = h;
    v.t0 = g.t_min;
    v.t1 = g.t_max;
    if (!(v.t1 > v.t0)) {
        v.t0 -= 0.5;
        v.t1 = v.t0 + 1;
    }
    double pad = (g.v_max - g.v_min) * 0.02;
    v.v0 = g.v_min - (g.v_min < 0 ? pad : 0);
    v.v1 = g.v_max + pad;
    if (!(v.v1 > v.v0)) {
        v.v0 = std::min(g.v_min, 0.0);
        v.v1 = v.v0 + 1;
    }
    return v;
}

double graph_time_at(const graph_view &v, double x)
{
    graph_plot p = graph_plot_area(v.width, v.height);
    return v.t0 + (x - p.left) * (v.t1 - v.t0) / p.width;
}

double graph_value_at(const graph_view &v, double y)
{
    graph_plot p = graph_plot_area(v.width, v.height);
    return v.v1 - (y - p.top) * (v.v1 - v.v0) / p.height;
}

std::string graph_value_text(graph_unit unit, double value, double scale)
{
    const char *name = "";
    double f = unit_factor(unit, scale, &name);
    return number_text(value / f, decimals_for(scale / f / 100)) + " " + name;
}

void draw_graph(cairo_t *cr, const graph_data &g, const graph_view &v)
{
    mapper m{graph_plot_area(v.width, v.height), v};
    set_named_colour(cr, GROUND);
    cairo_paint(cr);
    font(cr, TITLE_SIZE, true);
    set_named_colour(cr, TEXT);
    show_text(cr, g.title, v.width / 2.0, 12, 0.5, 0.5);
    cairo_save(cr);
    cairo_rectangle(cr, m.p.left, m.p.top, m.p.width, m.p.height);
    cairo_clip(cr);
    if (v.shade) {
        double a = std::max(m.p.left, m.x(v.shade_t0));
        double b = std::min(m.p.left + m.p.width, m.x(v.shade_t1));
        set_named_colour(cr, SHADE);
        cairo_rectangle(cr, a, m.p.top, std::max(1.0, b - a), m.p.height);
        cairo_fill(cr);
    }
    cairo_restore(cr);
    draw_axes(cr, g, m);
    cairo_save(cr);
    cairo_rectangle(cr, m.p.left, m.p.top, m.p.width, m.p.height);
    cairo_clip(cr);
    /* Lines lowest, then bars, then the small marks on top of both. */
    std::vector<column_cell> cells;
    for (int layer = 0; layer < 3; layer++) {
        for (const graph_series &s : g.series) {
            int own = s.style == STYLE_STEPS || s.style == STYLE_LINE ? 0
                      : s.style == STYLE_BARS                         ? 1
                                                                      : 2;
            if (own == layer)
                draw_series(cr, s, m, cells);
        }
    }
    cairo_restore(cr);
    bool empty = true;
    for (const graph_series &s : g.series)
        empty = empty && s.pts.empty();
    if (empty) {
        font(cr, TITLE_SIZE, false);
        set_named_colour(cr, AXIS);
        show_text(cr, "nothing to draw: no such segments in this direction",
                  m.p.left + m.p.width / 2, m.p.top + m.p.height / 2, 0.5, 0.5);
    }
    draw_legend(cr, g, v, m.p);
}

int render_graph(const graph_data &g, const graph_view &v, const std::string &path,
                 picture_format format, std::string *error)
{
    if (format == PICTURE_UNKNOWN) {
        *error = "the file name must end in .svg, .pdf, .png, .ps or .eps";
        return 0;
    }
    auto draw = [&](cairo_t *cr) { draw_graph(cr, g, v); };
    if (!render_drawing(v.width, v.height, path, format, draw, error)) {
        *error = "cannot write " + path + ": " + *error;
        return 0;
    }
    return 1;
}

cairo_surface_t *graph_image(const graph_data &g, const graph_view &v)
{
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, v.width, v.height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_t *cr = cairo_create(s);
    draw_graph(cr, g, v);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

int32_t graph_nearest_record(const graph_data &g, const graph_view &v, double x, double y,
                             double radius)
{
    mapper m{graph_plot_area(v.width, v.height), v};
    double t0 = graph_time_at(v, x - radius), t1 = graph_time_at(v, x + radius);
    int32_t best = -1;
    double best_d = radius;
    for (const graph_series &s : g.series) {
        int64_t a, b;
        points_in_view(s.pts, t0, t1, &a, &b);
        /* A column holds at most a few thousand points worth trying. */
        int64_t stride = std::max<int64_t>(1, (b - a) / 4096);
        for (int64_t i = a; i < b; i += stride) {
            const graph_point &q = s.pts[static_cast<size_t>(i)];
            if (q.rec < 0)
                continue;
            double px = m.x(q.t);
            double ylo = m.y(q.lo), yhi = m.y(q.hi);
            double dy = y > ylo ? y - ylo : y < yhi ? yhi - y : 0;
            double d = std::hypot(px - x, dy);
            if (d < best_d) {
                best_d = d;
                best = q.rec;
            }
        }
    }
    return best;
}
