/*
 * columns.cpp --
 *
 *	Column reduction of a series, literal and through the pyramid.
 */

#include "graph/columns.h"

#include <algorithm>
#include <cmath>

point_columns::point_columns(const std::vector<graph_point> &pts)
{
    reserve(pts.size());
    for (const graph_point &p : pts)
        push_back(p);
}

void point_columns::reserve(size_t n)
{
    t_.reserve(n);
    rec_.reserve(n);
    hi_.reserve(n);
}

void point_columns::push_low(double lo)
{
    if (lo_.empty()) {
        lo_.reserve(hi_.capacity());
        lo_.assign(hi_.begin(), hi_.end());
    }
    lo_.push_back(lo);
}

void point_columns::clear()
{
    t_.clear();
    rec_.clear();
    hi_.clear();
    lo_.clear();
}

void point_columns::swap(point_columns &o)
{
    t_.swap(o.t_);
    rec_.swap(o.rec_);
    hi_.swap(o.hi_);
    lo_.swap(o.lo_);
}

void pyramid_build(column_pyramid *pyr, const point_columns &pts)
{
    pyr->lo_min.clear();
    pyr->hi_max.clear();
    size_t n = pts.size();
    if (n < 2)
        return;
    /* Levels below PYRAMID_FIRST_LEVEL stay empty: range_extremes reads
     * the points there, a few more reads per column, and a series of
     * millions of points keeps a quarter of the doubles. */
    pyr->lo_min.resize(PYRAMID_FIRST_LEVEL - 1);
    pyr->hi_max.resize(PYRAMID_FIRST_LEVEL - 1);
    const size_t block = size_t{1} << PYRAMID_FIRST_LEVEL;
    /* Filled by push_back: no pass that zeroes the arrays first. */
    std::vector<double> lo, hi;
    lo.reserve((n + block - 1) / block);
    hi.reserve((n + block - 1) / block);
    for (size_t a = 0; a < n; a += block) {
        double l = pts.lo(a), h = pts.hi(a);
        for (size_t i = a + 1; i < std::min(n, a + block); i++) {
            l = std::min(l, pts.lo(i));
            h = std::max(h, pts.hi(i));
        }
        lo.push_back(l);
        hi.push_back(h);
    }
    pyr->lo_min.push_back(std::move(lo));
    pyr->hi_max.push_back(std::move(hi));
    pyramid_raise(pyr);
}

void pyramid_raise(column_pyramid *pyr)
{
    while (!pyr->lo_min.empty() && pyr->lo_min.back().size() > 1) {
        const std::vector<double> &plo = pyr->lo_min.back();
        const std::vector<double> &phi = pyr->hi_max.back();
        size_t m = plo.size();
        std::vector<double> nlo, nhi;
        nlo.reserve((m + 1) / 2);
        nhi.reserve((m + 1) / 2);
        for (size_t a = 0; a < m; a += 2) {
            nlo.push_back(a + 1 < m ? std::min(plo[a], plo[a + 1]) : plo[a]);
            nhi.push_back(a + 1 < m ? std::max(phi[a], phi[a + 1]) : phi[a]);
        }
        pyr->lo_min.push_back(std::move(nlo));
        pyr->hi_max.push_back(std::move(nhi));
    }
}

void range_extremes(const point_columns &pts, const column_pyramid &pyr, int64_t a,
                    int64_t b, double *lo, double *hi)
{
    double l = pts.lo(static_cast<size_t>(a));
    double h = pts.hi(static_cast<size_t>(a));
    int levels = static_cast<int>(pyr.lo_min.size());
    while (a < b) {
        /* The largest aligned block that starts at a and fits in [a, b). */
        int k = 0;
        while (k < levels && (a & ((int64_t{2} << k) - 1)) == 0 && a + (int64_t{2} << k) <= b)
            k++;
        if (k < PYRAMID_FIRST_LEVEL) {
            l = std::min(l, pts.lo(static_cast<size_t>(a)));
            h = std::max(h, pts.hi(static_cast<size_t>(a)));
            a++;
            continue;
        }
        size_t j = static_cast<size_t>(a >> k);
        l = std::min(l, pyr.lo_min[static_cast<size_t>(k - 1)][j]);
        h = std::max(h, pyr.hi_max[static_cast<size_t>(k - 1)][j]);
        a += int64_t{1} << k;
    }
    *lo = l;
    *hi = h;
}

double view_x(const column_view &v, double t)
{
    return (t - v.t0) * v.width / (v.t1 - v.t0);
}

namespace {

/* The column of a point inside the view: floor(view_x), t1 in the last. */
int column_of(const column_view &v, double t)
{
    double x = std::floor(view_x(v, t));
    if (!(x >= 0))
        return 0;
    if (x >= v.width)
        return v.width - 1;
    return static_cast<int>(x);
}

column_cell point_cell(const point_columns &pts, const column_view &v, int64_t i)
{
    const graph_point p = pts[static_cast<size_t>(i)];
    return column_cell{view_x(v, p.t), p.lo, p.hi, static_cast<int32_t>(i),
                       static_cast<int32_t>(i)};
}

}  // namespace

void points_in_view(const point_columns &pts, double t0, double t1, int64_t *a,
                    int64_t *b)
{
    const std::vector<float> &t = pts.times();
    auto first = std::lower_bound(t.begin(), t.end(), t0,
                                  [](float p, double x) { return p < x; });
    auto last = std::upper_bound(first, t.end(), t1, [](double x, float p) { return x < p; });
    *a = first - t.begin();
    *b = last - t.begin();
}

void reduce_columns_literal(const point_columns &pts, const column_view &v,
                            std::vector<column_cell> &out)
{
    out.clear();
    int64_t a, b;
    points_in_view(pts, v.t0, v.t1, &a, &b);
    if (a > 0)
        out.push_back(point_cell(pts, v, a - 1));
    bool each = b - a <= v.width;
    int col = -1;
    for (int64_t i = a; i < b; i++) {
        const graph_point p = pts[static_cast<size_t>(i)];
        if (each) {
            out.push_back(point_cell(pts, v, i));
            continue;
        }
        int c = column_of(v, p.t);
        if (c != col) {
            out.push_back(column_cell{c + 0.5, p.lo, p.hi, static_cast<int32_t>(i),
                                      static_cast<int32_t>(i)});
            col = c;
            continue;
        }
        column_cell &cell = out.back();
        cell.lo = std::min(cell.lo, p.lo);
        cell.hi = std::max(cell.hi, p.hi);
        cell.last = static_cast<int32_t>(i);
    }
    if (b < static_cast<int64_t>(pts.size()))
        out.push_back(point_cell(pts, v, b));
}

void reduce_columns(const point_columns &pts, const column_pyramid &pyr,
                    const column_view &v, std::vector<column_cell> &out)
{
    int64_t a, b;
    points_in_view(pts, v.t0, v.t1, &a, &b);
    if (b - a <= v.width) {
        reduce_columns_literal(pts, v, out);
        return;
    }
    out.clear();
    if (a > 0)
        out.push_back(point_cell(pts, v, a - 1));
    int64_t s = a;
    while (s < b) {
        const std::vector<float> &t = pts.times();
        int c = column_of(v, t[static_cast<size_t>(s)]);
        /* The first point of a later column. */
        auto it = std::partition_point(t.begin() + s, t.begin() + b,
                                       [&](float x) { return column_of(v, x) <= c; });
        int64_t e = it - t.begin();
        column_cell cell{c + 0.5, 0, 0, static_cast<int32_t>(s), static_cast<int32_t>(e - 1)};
        range_extremes(pts, pyr, s, e, &cell.lo, &cell.hi);
        out.push_back(cell);
        s = e;
    }
    if (b < static_cast<int64_t>(pts.size()))
        out.push_back(point_cell(pts, v, b));
}
