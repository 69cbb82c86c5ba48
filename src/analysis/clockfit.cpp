/*
 * clockfit.cpp --
 *
 *	The lower line of a direction's delay samples (Andrew's monotone
 *	chain over the samples sorted by time, then the hull edge that spans
 *	their mean time), its literal form, and the two directions combined
 *	into a skew and an offset; and the same fit walking the samples
 *	where they lie, which on a load of millions of segments saves
 *	vectors of 16 bytes a sample (samples in time order need only
 *	their hull).
 */

#include "analysis/clockfit.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <system_error>
#include <thread>

namespace {

/* Mean time of the samples, summed in their given order. */
double mean_time(const fit_points &pts)
{
    double sum = 0.0;
    for (const fit_point &p : pts)
        sum += p.t;
    return sum / static_cast<double>(pts.size());
}

/* > 0 when o, a, b turn left (counter-clockwise), 0 on one line. */
double turn(const fit_point &o, const fit_point &a, const fit_point &b)
{
    return (a.t - o.t) * (b.d - o.d) - (a.d - o.d) * (b.t - o.t);
}

/* The line through a and b, a.t < b.t. */
fit_line line_through(const fit_point &a, const fit_point &b)
{
    fit_line l{1, 0.0, 0.0};
    l.beta = (b.d - a.d) / (b.t - a.t);
    l.alpha = a.d - l.beta * a.t;
    return l;
}


/* Mean delay of the samples, summed in their given order. */
double mean_delay(const fit_points &pts)
{
    double sum = 0.0;
    for (const fit_point &p : pts)
        sum += p.d;
    return sum / static_cast<double>(pts.size());
}

/* The weight of a direction's slope: the inverse square of how far its
 * samples lie above its line on average (the linear programme's
 * objective per sample). A direction whose delays rarely come down to
 * the path's smallest one (a standing queue) tells little of the clock. */
double slope_weight(const fit_line &l, double mean_t, double mean_d)
{
    double excess = std::max(mean_d - (l.alpha + l.beta * mean_t), 1e-9);
    return 1.0 / (excess * excess);
}

/* Samples whose delays stand for all in drop_strays' quantiles. */
enum { STRAY_QUANTILE_SAMPLES = 8192 };

/*
 * The bounds of a direction's samples: its median delay, and how far a
 * sample may stand from it, four times the distance from the median to
 * the 5th percentile, and at least 1 ms. `d` holds the delays of every
 * k-th sample (reordered here).
 */
void stray_bounds(std::vector<double> &d, double *median, double *reach)
{
    size_t mid = d.size() / 2, low = d.size() / 20;
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(mid), d.end());
    *median = d[mid];
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(low),
                     d.begin() + static_cast<std::ptrdiff_t>(mid));
    *reach = std::max(4.0 * (*median - d[low]), 1e-3);
}

/* The step between the samples whose delays stand for all of `n`. */
size_t stray_step(size_t n)
{
    return n / STRAY_QUANTILE_SAMPLES + 1;
}

/* Whether a sample stands too far from the median to be kept. */
bool is_stray(const fit_point &p, double median, double reach)
{
    return std::fabs(p.d - median) > reach;
}

/*
 * Drops the samples of a direction that stand far from its others: more
 * than four times the distance from its median delay to its 5th
 * percentile, and more than 1 ms, from the median. A segment lost
 * between the capture points can be matched to a later one that reuses
 * its identification, seconds away, and one such sample below the floor
 * would carry the lower hull with it. The quantiles are those of every
 * k-th sample, at most STRAY_QUANTILE_SAMPLES of them. O(n).
 */
void drop_strays(fit_points *pts)
{
    size_t step = stray_step(pts->size());
    std::vector<double> d;
    d.reserve(pts->size() / step + 1);
    for (size_t i = 0; i < pts->size(); i += step)
        d.push_back((*pts)[i].d);
    double median = 0.0, reach = 0.0;
    stray_bounds(d, &median, &reach);
    pts->erase(std::remove_if(pts->begin(), pts->end(),
                              [&](const fit_point &p) { return is_stray(p, median, reach); }),
               pts->end());
}

/* Adds sample p, at a time no earlier than the samples before it, to the
 * lower hull of those samples, left to right; of samples at one time
 * only the lowest can be on it. */
void hull_add(fit_points &hull, const fit_point &p)
{
    if (!hull.empty() && p.t == hull.back().t) {
        if (!(p.d < hull.back().d))
            return;
        hull.pop_back();
    }
    while (hull.size() >= 2 && turn(hull[hull.size() - 2], hull.back(), p) <= 0.0)
        hull.pop_back();
    hull.push_back(p);
}

/* The edge of a lower hull whose time span holds `mean`. */
fit_line hull_line(const fit_points &hull, double mean)
{
    fit_line none{0, 0.0, 0.0};
    if (hull.size() < 2)
        return none;
    size_t k = 0;
    while (k + 2 < hull.size() && hull[k + 1].t < mean)
        k++;
    return line_through(hull[k], hull[k + 1]);
}

/* The line of direction samples `pts`, or the reason there is none. */
fit_line direction_line(fit_points *pts, bool literal, const char **why)
{
    fit_line none{0, 0.0, 0.0};
    if (pts->size() < FIT_MIN_SAMPLES) {
        *why = "too few segments found their copy in one direction";
        return none;
    }
    fit_line l = literal ? lower_line_literal(*pts) : lower_line(pts);
    if (!l.ok)
        *why = "the segments of one direction were all taken at one time";
    return l;
}

/* Peer time p on the main clock of fit f, whose rate correction is k. */
double on_main_clock(const clock_fit &f, double k, double p)
{
    return p - f.offset + k * (p - f.offset);
}

/* A sample's delay on the fitted clock (k: f's rate correction). */
double fitted_delay(const clock_fit &f, double k, const fit_point &p, bool to_peer)
{
    double main = on_main_clock(f, k, to_peer ? p.t + p.d : p.t - p.d);
    return to_peer ? main - p.t : p.t - main;
}

/* The smallest delay on the fitted clock of one direction's samples. */
double smallest_delay(const clock_fit &f, const fit_points &pts, bool to_peer)
{
    double least = INFINITY, k = peer_rate_correction(f);
    for (const fit_point &p : pts)
        least = std::min(least, fitted_delay(f, k, p, to_peer));
    return least;
}

/* A direction's samples as the fit counts them: n, mean time and delay. */
struct direction_means {
    double n, t, d;
};

/*
 * The skew and offset from the two directions' lines: their slopes'
 * mean, each weighted by how close its samples keep to its line; the
 * offset taken where the samples are, at their mean time, and carried
 * back to main time 0 along the skew. to_peer: d = offset + skew T +
 * delay; from_peer: d = -offset - skew T + delay.
 */
void join_lines(clock_fit &f, const fit_line &out, const fit_line &back,
                const direction_means &m0, const direction_means &m1)
{
    double mean = (m0.t * m0.n + m1.t * m1.n) / (m0.n + m1.n);
    f.ok = 1;
    double w0 = slope_weight(out, m0.t, m0.d), w1 = slope_weight(back, m1.t, m1.d);
    f.skew = (w0 * out.beta - w1 * back.beta) / (w0 + w1);
    f.disagreement = std::fabs(out.beta + back.beta);
    double at_mean = ((out.alpha + out.beta * mean) - (back.alpha + back.beta * mean)) / 2.0;
    f.offset = at_mean - f.skew * mean;
}

clock_fit combine(fit_points *to_peer, fit_points *from_peer, bool literal)
{
    clock_fit f{};
    if (to_peer->empty() || from_peer->empty()) {
        f.why = "no segment found its copy in one direction";
        return f;
    }
    drop_strays(to_peer);
    drop_strays(from_peer);
    f.samples[0] = static_cast<int64_t>(to_peer->size());
    f.samples[1] = static_cast<int64_t>(from_peer->size());
    /* Taken before the fits sort the samples, so both forms sum alike. */
    direction_means m0{static_cast<double>(to_peer->size()), mean_time(*to_peer),
                       mean_delay(*to_peer)};
    direction_means m1{static_cast<double>(from_peer->size()), mean_time(*from_peer),
                       mean_delay(*from_peer)};
    const char *why = nullptr;
    fit_line out = direction_line(to_peer, literal, &why);
    if (!out.ok) {
        f.why = why;
        return f;
    }
    fit_line back = direction_line(from_peer, literal, &why);
    if (!back.ok) {
        f.why = why;
        return f;
    }
    join_lines(f, out, back, m0, m1);
    f.min_delay[0] = smallest_delay(f, *to_peer, true);
    f.min_delay[1] = smallest_delay(f, *from_peer, false);
    return f;
}

/*
 * One direction of fit_clock_in_place, pass by pass: its quantile
 * samples picked, its kept samples summed and hulled while they come in
 * time order (gathered in a further walk when they do not), and their
 * smallest fitted delay found. Each sink is one pass's step.
 */
struct direction_walk {
    bool to_peer = true;
    size_t n = 0;              /* samples */
    size_t step = 1, at = 0;   /* every step-th sample's delay is picked */
    std::vector<double> picks;
    double median = 0.0, reach = 0.0;
    size_t kept = 0;           /* samples not stray */
    double sum_t = 0.0, sum_d = 0.0;
    bool in_order = true;      /* the kept samples' times never fall */
    double last_t = 0.0;       /* time of the last kept sample */
    fit_points hull;           /* their lower hull while in_order */
    fit_points gathered;       /* the kept samples, when not in order */
    const clock_fit *fit = nullptr;
    double k = 0.0, least = INFINITY;

    /* A walk hands a direction's sink a null `to` when another thread
     * takes that direction (fit_clock_in_place). */
    static direction_walk &of(void *to) { return *static_cast<direction_walk *>(to); }
    static void pick(void *to, const fit_point &p)
    {
        if (to == nullptr)
            return;
        direction_walk &w = of(to);
        if (w.at++ % w.step == 0)
            w.picks.push_back(p.d);
    }
    static void keep(void *to, const fit_point &p)
    {
        if (to == nullptr)
            return;
        direction_walk &w = of(to);
        if (is_stray(p, w.median, w.reach))
            return;
        if (w.kept > 0 && p.t < w.last_t)
            w.in_order = false;
        w.kept++;
        w.sum_t += p.t;
        w.sum_d += p.d;
        w.last_t = p.t;
        if (w.in_order)
            hull_add(w.hull, p);
    }
    static void gather(void *to, const fit_point &p)
    {
        if (to == nullptr)
            return;
        direction_walk &w = of(to);
        if (!w.in_order && !is_stray(p, w.median, w.reach))
            w.gathered.push_back(p);
    }
    static void lowest(void *to, const fit_point &p)
    {
        if (to == nullptr)
            return;
        direction_walk &w = of(to);
        if (!is_stray(p, w.median, w.reach))
            w.least = std::min(w.least, fitted_delay(*w.fit, w.k, p, w.to_peer));
    }

    /* The kept samples' line, or the reason there is none, as
     * direction_line gives it for them (gathered first when needed). */
    fit_line line(const char **why)
    {
        fit_line none{0, 0.0, 0.0};
        if (kept < FIT_MIN_SAMPLES) {
            *why = "too few segments found their copy in one direction";
            return none;
        }
        fit_line l = in_order ? hull_line(hull, sum_t / static_cast<double>(kept))
                              : lower_line(&gathered);
        if (!l.ok)
            *why = "the segments of one direction were all taken at one time";
        return l;
    }
};

/* Samples from which each direction of fit_clock_in_place walks on a
 * thread of its own: below, a thread costs more than it saves. */
constexpr size_t FIT_APART = 65536;

/*
 * Runs step(d) for both directions: on two threads when `apart` and a
 * thread can be had, else one after the other. A direction's step
 * touches only its own state, so the result is the same either way.
 * Rethrows what a step threw.
 */
template <typename Step>
void both_directions(bool apart, Step step)
{
    std::exception_ptr failed;
    std::thread other;
    if (apart) {
        try {
            other = std::thread([&] {
                try {
                    step(1);
                } catch (...) {
                    failed = std::current_exception();
                }
            });
        } catch (const std::system_error &) {
            /* run below, after direction 0 */
        }
    }
    try {
        step(0);
    } catch (...) {
        if (other.joinable())
            other.join();
        throw;
    }
    if (other.joinable())
        other.join();
    else
        step(1);
    if (failed)
        std::rethrow_exception(failed);
}

/* The walk over direction d's samples alone, into w. */
void walk_one(const fit_walk &samples, fit_sink sink, direction_walk *w, int d)
{
    void *const to[2] = {d == 0 ? w : nullptr, d == 1 ? w : nullptr};
    samples.walk(samples.ctx, sink, to);
}

}  // namespace

clock_fit fit_clock_in_place(const fit_walk &samples)
{
    return fit_clock_in_place(samples, samples.count[0] + samples.count[1] >= FIT_APART);
}

clock_fit fit_clock_in_place(const fit_walk &samples, bool apart)
{
    clock_fit f{};
    direction_walk w[2];
    w[1].to_peer = false;
    if (samples.count[0] == 0 || samples.count[1] == 0) {
        f.why = "no segment found its copy in one direction";
        return f;
    }
    const char *why[2] = {nullptr, nullptr};
    fit_line line[2];
    /* Each direction's picks, bounds, sums, hull and line, apart. */
    both_directions(apart, [&](int d) {
        direction_walk &me = w[d];
        me.n = samples.count[d];
        me.step = stray_step(me.n);
        me.picks.reserve(me.n / me.step + 1);
        walk_one(samples, direction_walk::pick, &me, d);
        stray_bounds(me.picks, &me.median, &me.reach);
        walk_one(samples, direction_walk::keep, &me, d);
        if (!me.in_order)
            walk_one(samples, direction_walk::gather, &me, d);
        line[d] = me.line(&why[d]);
    });
    f.samples[0] = static_cast<int64_t>(w[0].kept);
    f.samples[1] = static_cast<int64_t>(w[1].kept);
    direction_means m[2];
    for (int s = 0; s < 2; s++) {
        double n = static_cast<double>(w[s].kept);
        m[s] = direction_means{n, w[s].sum_t / n, w[s].sum_d / n};
    }
    for (int s = 0; s < 2; s++)
        if (!line[s].ok) {
            f.why = why[s];
            return f;
        }
    join_lines(f, line[0], line[1], m[0], m[1]);
    for (direction_walk &d : w) {
        d.fit = &f;
        d.k = peer_rate_correction(f);
    }
    both_directions(apart, [&](int d) { walk_one(samples, direction_walk::lowest, &w[d], d); });
    f.min_delay[0] = w[0].least;
    f.min_delay[1] = w[1].least;
    return f;
}

fit_line lower_line(fit_points *pts)
{
    fit_line none{0, 0.0, 0.0};
    if (pts->size() < 2)
        return none;
    double mean = mean_time(*pts);
    fit_points &v = *pts;
    auto earlier = [](const fit_point &a, const fit_point &b) { return a.t < b.t; };
    if (!std::is_sorted(v.begin(), v.end(), earlier))
        std::sort(v.begin(), v.end(), earlier);
    fit_points hull;
    for (size_t i = 0; i < v.size(); i++)
        hull_add(hull, v[i]);
    return hull_line(hull, mean);
}

fit_line lower_line_literal(const fit_points &pts)
{
    fit_line best{0, 0.0, 0.0};
    if (pts.size() < 2)
        return best;
    double mean = mean_time(pts);
    double best_at = 0.0;
    for (size_t i = 0; i < pts.size(); i++)
        for (size_t j = 0; j < pts.size(); j++) {
            const fit_point &a = pts[i], &b = pts[j];
            if (!(a.t < b.t))
                continue;
            bool under = true;
            for (const fit_point &c : pts)
                if (turn(a, b, c) < 0.0) {
                    under = false;
                    break;
                }
            if (!under)
                continue;
            fit_line l = line_through(a, b);
            double at = l.alpha + l.beta * mean;
            if (!best.ok || at > best_at) {
                best = l;
                best_at = at;
            }
        }
    return best;
}

clock_fit fit_clock(fit_points *to_peer, fit_points *from_peer)
{
    return combine(to_peer, from_peer, false);
}

clock_fit fit_clock_literal(fit_points *to_peer, fit_points *from_peer)
{
    return combine(to_peer, from_peer, true);
}

double peer_rate_correction(const clock_fit &f)
{
    return -f.skew / (1.0 + f.skew);
}

double peer_to_main(const clock_fit &f, double p)
{
    return on_main_clock(f, peer_rate_correction(f), p);
}
