/*
 * overview_index.cpp --
 *
 *	The block trees of the overview index (see overview_index.h): built in
 *	one pass over the line list, queried per overview publication by a
 *	descent that takes a block whole when its corners give the same
 *	published line and looks at single lines only inside the blocks that
 *	straddle a pixel boundary.
 */

#include "ui/overview_index.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "analysis/line.h"
#include "ui/overview_lines.h"
#include "ui/publish.h"

overview_index_state g_overview_index;

static const size_t FANOUT = OVERVIEW_INDEX_FANOUT;

/* A block holding line j alone. */
static overview_block block_of(const line_record &l, int32_t j)
{
    overview_block b;
    b.first = j;
    b.last = j;
    b.send_lo = b.send_hi = l.t_send;
    b.delay_lo = b.delay_hi = l.delay;
    b.recv_lo = std::isnan(l.t_recv) ? std::numeric_limits<float>::infinity() : l.t_recv;
    b.odd = std::isfinite(l.t_send) && std::isfinite(l.delay) ? 0 : 1;
    return b;
}

/* Widens `into` by `b`, which follows it in list order. The bounds of an
 * odd block are never read, so NaN need not be ordered here. */
static void widen(overview_block &into, const overview_block &b)
{
    into.last = b.last;
    into.send_lo = std::min(into.send_lo, b.send_lo);
    into.send_hi = std::max(into.send_hi, b.send_hi);
    into.delay_lo = std::min(into.delay_lo, b.delay_lo);
    into.delay_hi = std::max(into.delay_hi, b.delay_hi);
    into.recv_lo = std::min(into.recv_lo, b.recv_lo);
    into.odd |= b.odd;
}

/* Adds the levels above the leaves until the top holds at most FANOUT blocks. */
static void build_upper_levels(overview_group &grp)
{
    while (grp.levels.back().size() > FANOUT) {
        const std::vector<overview_block> &below = grp.levels.back();
        std::vector<overview_block> above;
        above.reserve((below.size() + FANOUT - 1) / FANOUT);
        for (size_t k = 0; k < below.size(); k++) {
            if (k % FANOUT == 0)
                above.push_back(below[k]);
            else
                widen(above.back(), below[k]);
        }
        grp.levels.push_back(std::move(above));
    }
}

void overview_index_build(const line_record *lines, int32_t count)
{
    overview_index_clear();
    overview_index_state &x = g_overview_index;
    std::vector<int16_t> group_of(1 << 16, -1); /* by dir << 8 | cls */
    std::vector<size_t> members;                /* of each group's last leaf */
    for (int32_t j = 0; j < count; j++) {
        const line_record &l = lines[j];
        int key = l.dir << 8 | l.cls;
        if (group_of[key] < 0) {
            group_of[key] = static_cast<int16_t>(x.groups.size());
            x.groups.push_back(overview_group{l.dir, l.cls, {{}}});
            members.push_back(0);
        }
        size_t gi = static_cast<size_t>(group_of[key]);
        std::vector<overview_block> &leaves = x.groups[gi].levels[0];
        overview_block b = block_of(l, j);
        if (members[gi] == 0 || members[gi] == FANOUT ||
            j - leaves.back().first >= OVERVIEW_INDEX_LEAF_SPAN) {
            leaves.push_back(b);
            members[gi] = 1;
            continue;
        }
        widen(leaves.back(), b);
        members[gi]++;
    }
    for (overview_group &grp : x.groups)
        build_upper_levels(grp);
    x.lines = lines;
    x.count = count;
}

void overview_index_clear()
{
    std::vector<overview_group>().swap(g_overview_index.groups);
    std::vector<int32_t>().swap(g_overview_index.found);
    g_overview_index.lines = nullptr;
    g_overview_index.count = 0;
}

/*
 * One group's descent over lines [first, stop). Within a group the
 * direction and class are fixed, so two lines publish the same values
 * exactly when their rows (overview_rows_of) are the same.
 */
struct descent {
    const line_record *lines;
    int32_t first, stop;
    const overview_geometry *g;
    const overview_group *grp;
    bool lost;                 /* the group's class is CLS_LOST */
    overview_rows prev;        /* the rows of the group's last candidate */
    bool has_prev;
    std::vector<int32_t> *out;
};

/* Adds line j, whose rows are r, as a candidate unless the group's
 * previous candidate has the same rows. */
static void emit_rows(descent &d, int32_t j, const overview_rows &r)
{
    if (d.has_prev && r.send == d.prev.send && r.other == d.prev.other)
        return;
    d.prev = r;
    d.has_prev = true;
    d.out->push_back(j);
}

/* The send row of a line sent at t, as overview_rows_of computes it. */
static int send_row(const overview_geometry &g, float t)
{
    float ts = t - g.start;
    return to_pixel(ts * g.scale + 5.0f);
}

/* Whether every member of `b` is published and gives the same line; if
 * so, *r is its rows. */
static bool uniform(const descent &d, const overview_block &b, overview_rows *r)
{
    if (b.odd || d.g->start > b.recv_lo)
        return false;
    /* Most blocks that straddle a boundary straddle one of send rows. */
    if (send_row(*d.g, b.send_lo) != send_row(*d.g, b.send_hi))
        return false;
    *r = overview_rows_of(*d.g, b.send_lo, b.delay_lo, d.lost);
    overview_rows hi = overview_rows_of(*d.g, b.send_hi, b.delay_hi, d.lost);
    return r->send == hi.send && r->other == hi.other;
}

/* The group's published lines of leaf `b`, one by one, last first. */
static void scan_leaf(descent &d, const overview_block &b)
{
    int32_t lo = std::max(b.first, d.first);
    for (int32_t j = std::min(b.last, d.stop - 1); j >= lo; j--) {
        const line_record &l = d.lines[j];
        if (l.dir != d.grp->dir || l.cls != d.grp->cls || d.g->start > l.t_recv)
            continue;
        emit_rows(d, j, overview_rows_of(*d.g, l.t_send, l.delay, d.lost));
    }
}

static void visit(descent &d, size_t level, size_t bi)
{
    const overview_block &b = d.grp->levels[level][bi];
    if (b.last < d.first || b.first >= d.stop)
        return;
    overview_rows r;
    if (b.first >= d.first && b.last < d.stop && uniform(d, b, &r)) {
        emit_rows(d, b.last, r);
        return;
    }
    if (level == 0) {
        scan_leaf(d, b);
        return;
    }
    size_t lo = bi * FANOUT;
    size_t hi = std::min(lo + FANOUT, d.grp->levels[level - 1].size());
    for (size_t k = hi; k-- > lo;)
        visit(d, level - 1, k);
}

bool overview_index_candidates(const line_record *lines, int32_t count, int32_t first,
                               int32_t stop, const overview_geometry &g,
                               std::vector<int32_t> &out)
{
    const overview_index_state &x = g_overview_index;
    if (x.lines == nullptr || x.lines != lines || x.count != count)
        return false;
    /* Monotone pixels need a finite origin and scale. */
    if (!std::isfinite(g.start) || !std::isfinite(g.scale))
        return false;
    out.clear();
    for (const overview_group &grp : x.groups) {
        size_t from = out.size();
        descent d = {lines, first, stop, &g, &grp, grp.cls == CLS_LOST, {0, 0}, false, &out};
        size_t top = grp.levels.size() - 1;
        for (size_t k = grp.levels[top].size(); k-- > 0;)
            visit(d, top, k);
        std::inplace_merge(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(from),
                           out.end(), std::greater<int32_t>());
    }
    return true;
}
