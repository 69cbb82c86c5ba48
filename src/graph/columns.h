/*
 * columns.h --
 *
 *	Reducing a series to the pixel columns of a view. A graph of a
 *	million segments lands on a thousand columns: each column keeps the
 *	extremes of the points that fall in it (the lowest `lo`, the highest
 *	`hi`, its first and last point), so no spike and no lone point
 *	disappears, and the renderer draws a few primitives per column.
 *
 *	reduce_columns_literal looks at every point of the view.
 *	reduce_columns finds each column's first point by binary search over
 *	time and its extremes from a pyramid of block extremes built once per
 *	series, so a view costs O(columns * log n) whatever it holds; it
 *	gives exactly the cells of the literal form.
 */

#ifndef WIREPAINT_GRAPH_COLUMNS_H
#define WIREPAINT_GRAPH_COLUMNS_H

#include <cstdint>
#include <vector>

/* One point of a series: a bar lo..hi (a point when lo == hi) at time t. */
struct graph_point {
    float t;        /* s, main clock */
    int32_t rec;    /* the main-trace record it comes from; -1 none */
    double lo;
    double hi;
};

/* The lowest level of block extremes a pyramid stores. */
enum { PYRAMID_FIRST_LEVEL = 3 };

/*
 * Block extremes of a series' points: level k (k >= PYRAMID_FIRST_LEVEL)
 * holds, for each block of 2^k points from the start, the least lo and
 * the greatest hi. The levels below are empty: the points themselves
 * stand for them.
 */
struct column_pyramid {
    std::vector<std::vector<double>> lo_min;   /* [k - 1][block] */
    std::vector<std::vector<double>> hi_max;
};

/* Builds the pyramid of `pts` (O(n) time, about n/4 doubles). */
void pyramid_build(column_pyramid *pyr, const std::vector<graph_point> &pts);

/*
 * pyramid_raise --
 *	Adds to `pyr` the levels above its highest one, each from the one
 *	below, up to a level of one block; pyramid_build's last step, for a
 *	builder that made the first stored level itself. No change to an
 *	empty pyramid.
 */
void pyramid_raise(column_pyramid *pyr);

/*
 * range_extremes --
 *	The least lo and the greatest hi of points [a, b) (a < b), from the
 *	pyramid in O(log n).
 */
void range_extremes(const std::vector<graph_point> &pts, const column_pyramid &pyr, int64_t a,
                    int64_t b, double *lo, double *hi);

/* The time span [t0, t1] of a view, over `width` pixel columns. */
struct column_view {
    double t0, t1;  /* t0 < t1 */
    int width;      /* > 0 */
};

/*
 * One drawn cell: a point of its own (a view with no more points than
 * columns, or a point just outside the view, which lines need to run on
 * to the edge) or the points of one column.
 */
struct column_cell {
    double x;           /* pixels from the view's left edge: a point's own
                         * x, or the column's centre */
    double lo, hi;      /* the least lo, the greatest hi */
    int32_t first;      /* index of the first point in the cell */
    int32_t last;       /* index of the last */
};

/* The x of time t in the view, pixels from its left edge. */
double view_x(const column_view &v, double t);

/*
 * reduce_columns_literal --
 *	The cells of `pts` (time order) in view `v`, left to right, into
 *	`out` (cleared first): the last point before the view and the first
 *	after it as cells of their own; between them, when the view holds at
 *	most v.width points, one cell per point, else one cell per column
 *	that holds points (column floor(view_x), the last column taking
 *	t == t1). Looks at every point of the view.
 */
void reduce_columns_literal(const std::vector<graph_point> &pts, const column_view &v,
                            std::vector<column_cell> &out);

/* reduce_columns -- The same cells through binary search and `pyr`. */
void reduce_columns(const std::vector<graph_point> &pts, const column_pyramid &pyr,
                    const column_view &v, std::vector<column_cell> &out);

/*
 * points_in_view --
 *	The index range [*a, *b) of the points with t0 <= t <= t1, by binary
 *	search.
 */
void points_in_view(const std::vector<graph_point> &pts, double t0, double t1, int64_t *a,
                    int64_t *b);

#endif
