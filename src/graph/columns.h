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

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

/* One point of a series: a bar lo..hi (a point when lo == hi) at time t. */
struct graph_point {
    float t;        /* s, main clock */
    int32_t rec;    /* the main-trace record it comes from; -1 none */
    double lo;
    double hi;
};

/*
 * The points of a series, kept by field: times, records, highs, and lows
 * only from the first point whose low is not its high. A series of single
 * values (an ACK line, a rate, a delay) then takes 16 bytes a point
 * instead of 24, which is most of what building a graph of millions of
 * points costs; a binary search over time reads the times alone. Reads
 * give graph_point values; the points are only ever added at the end.
 */
class point_columns {
public:
    point_columns() = default;
    /* The points of `pts`, in their order (for tests and small series). */
    point_columns(const std::vector<graph_point> &pts);

    size_t size() const { return t_.size(); }
    bool empty() const { return t_.empty(); }
    graph_point operator[](size_t i) const
    {
        return graph_point{t_[i], rec_[i], lo_.empty() ? hi_[i] : lo_[i], hi_[i]};
    }
    float t(size_t i) const { return t_[i]; }
    double lo(size_t i) const { return lo_.empty() ? hi_[i] : lo_[i]; }
    double hi(size_t i) const { return hi_[i]; }
    const std::vector<float> &times() const { return t_; }

    /* Room for n points (the lows' room is taken when they appear). */
    void reserve(size_t n);
    void push_back(const graph_point &p)
    {
        if (!lo_.empty() || !same_bits(p.lo, p.hi))
            push_low(p.lo);
        t_.push_back(p.t);
        rec_.push_back(p.rec);
        hi_.push_back(p.hi);
    }
    void clear();
    void swap(point_columns &o);

    /* A read-only random-access walk over the points, by value. */
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = graph_point;
        using difference_type = std::ptrdiff_t;
        using pointer = const graph_point *;
        using reference = graph_point;
        struct arrow {
            graph_point p;
            const graph_point *operator->() const { return &p; }
        };
        const_iterator(const point_columns *c, std::ptrdiff_t i) : c_(c), i_(i) {}
        graph_point operator*() const { return (*c_)[static_cast<size_t>(i_)]; }
        arrow operator->() const { return arrow{**this}; }
        graph_point operator[](std::ptrdiff_t k) const { return *(*this + k); }
        const_iterator &operator++() { ++i_; return *this; }
        const_iterator operator++(int) { const_iterator o = *this; ++i_; return o; }
        const_iterator &operator--() { --i_; return *this; }
        const_iterator operator--(int) { const_iterator o = *this; --i_; return o; }
        const_iterator &operator+=(std::ptrdiff_t k) { i_ += k; return *this; }
        const_iterator &operator-=(std::ptrdiff_t k) { i_ -= k; return *this; }
        const_iterator operator+(std::ptrdiff_t k) const { return const_iterator(c_, i_ + k); }
        const_iterator operator-(std::ptrdiff_t k) const { return const_iterator(c_, i_ - k); }
        std::ptrdiff_t operator-(const const_iterator &o) const { return i_ - o.i_; }
        bool operator==(const const_iterator &o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator &o) const { return i_ != o.i_; }
        bool operator<(const const_iterator &o) const { return i_ < o.i_; }
        bool operator>(const const_iterator &o) const { return i_ > o.i_; }
        bool operator<=(const const_iterator &o) const { return i_ <= o.i_; }
        bool operator>=(const const_iterator &o) const { return i_ >= o.i_; }

    private:
        const point_columns *c_;
        std::ptrdiff_t i_;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, static_cast<std::ptrdiff_t>(size())); }

private:
    static bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
    /* Adds the low of the next point, first giving the earlier points
     * theirs (their highs). */
    void push_low(double lo);

    std::vector<float> t_;      /* s, main clock */
    std::vector<int32_t> rec_;  /* main-trace record; -1 none */
    std::vector<double> hi_;
    std::vector<double> lo_;    /* empty while every low is its high */
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
void pyramid_build(column_pyramid *pyr, const point_columns &pts);

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
void range_extremes(const point_columns &pts, const column_pyramid &pyr, int64_t a,
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
void reduce_columns_literal(const point_columns &pts, const column_view &v,
                            std::vector<column_cell> &out);

/* reduce_columns -- The same cells through binary search and `pyr`. */
void reduce_columns(const point_columns &pts, const column_pyramid &pyr,
                    const column_view &v, std::vector<column_cell> &out);

/*
 * points_in_view --
 *	The index range [*a, *b) of the points with t0 <= t <= t1, by binary
 *	search.
 */
void points_in_view(const point_columns &pts, double t0, double t1, int64_t *a,
                    int64_t *b);

#endif
