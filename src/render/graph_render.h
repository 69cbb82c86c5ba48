/*
 * graph_render.h --
 *
 *	Drawing one graph of the connection (graph/series.h) with cairo: the
 *	title with the hosts, the plot with its grid, time and value axes
 *	with ticks and units, every series reduced to the plot's pixel
 *	columns (graph/columns.h), so a view of a million points costs a few
 *	primitives per column, and the legend with the graph's notes. The
 *	same drawing goes into SVG, PDF, PNG and PostScript files and, for
 *	the window, into an image surface.
 */

#ifndef WIREPAINT_RENDER_GRAPH_RENDER_H
#define WIREPAINT_RENDER_GRAPH_RENDER_H

#include <string>

#include "graph/series.h"
#include "render/render.h"

typedef struct _cairo_surface cairo_surface_t;

/* What of a graph is drawn, and at what size. */
struct graph_view {
    double t0, t1;          /* s, the time axis; t0 < t1 */
    double v0, v1;          /* the value axis; v0 < v1 */
    int width, height;      /* pixels of the whole drawing */
    int shade;              /* 1: shade the time span shade_t0..shade_t1 */
    double shade_t0, shade_t1;
};

/* The plot area of a view: pixels, inside the drawing. */
struct graph_plot {
    double left, top, width, height;
};

/* Where the plot lies in a drawing of w x h pixels. */
graph_plot graph_plot_area(int w, int h);

/*
 * graph_full_view --
 *	The view of every point of `g` in a w x h drawing, with a margin of
 *	2% on the value axis; a graph without points gets 0..1 on both axes.
 */
graph_view graph_full_view(const graph_data &g, int w, int h);

/* The time and the value at plot pixel (x, y) of view `v`. */
double graph_time_at(const graph_view &v, double x);
double graph_value_at(const graph_view &v, double y);

/*
 * graph_value_text --
 *	A value of unit `unit` as the axes write it, with an SI prefix fitted
 *	to `scale` (the size of the axis span): "12.5 kB", "3 Mbit/s",
 *	"41.2 ms".
 */
std::string graph_value_text(graph_unit unit, double value, double scale);

/* draw_graph -- Draws view `v` of `g` on `cr`, origin at the top left. */
void draw_graph(cairo_t *cr, const graph_data &g, const graph_view &v);

/*
 * render_graph --
 *	draw_graph into the file `path` in format `format`. Returns 1 on
 *	success; 0 with a one-line reason in *error.
 */
int render_graph(const graph_data &g, const graph_view &v, const std::string &path,
                 picture_format format, std::string *error);

/*
 * graph_image --
 *	draw_graph into a new ARGB32 image surface of the view's size (the
 *	caller destroys it); null when cairo cannot make one.
 */
cairo_surface_t *graph_image(const graph_data &g, const graph_view &v);

/*
 * graph_nearest_record --
 *	The main-trace record of the point drawn nearest to plot pixel
 *	(x, y) of view `v`, within `radius` pixels; -1 for none.
 */
int32_t graph_nearest_record(const graph_data &g, const graph_view &v, double x, double y,
                             double radius);

#endif
