/*
 * clockfit.cpp --
 *
 *	The lower line of a direction's delay samples (Andrew's monotone
 *	chain over the samples sorted by time, then the hull edge that spans
 *	their mean time), its literal form, and the two directions combined
 *	into a skew and an offset.
 */

#include "analysis/clockfit.h"

#include <algorithm>
#include <cmath>

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
    size_t step = pts->size() / STRAY_QUANTILE_SAMPLES + 1;
    std::vector<double> d;
    d.reserve(pts->size() / step + 1);
    for (size_t i = 0; i < pts->size(); i += step)
        d.push_back((*pts)[i].d);
    size_t mid = d.size() / 2, low = d.size() / 20;
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(mid), d.end());
    double median = d[mid];
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(low),
                     d.begin() + static_cast<std::ptrdiff_t>(mid));
    double reach = std::max(4.0 * (median - d[low]), 1e-3);
    pts->erase(std::remove_if(pts->begin(), pts->end(),
                              [&](const fit_point &p) { return std::fabs(p.d - median) > reach; }),
               pts->end());
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

/* The smallest delay on the fitted clock of one direction's samples. */
double smallest_delay(const clock_fit &f, const fit_points &pts, bool to_peer)
{
    double least = INFINITY, k = peer_rate_correction(f);
    for (const fit_point &p : pts) {
        double main = on_main_clock(f, k, to_peer ? p.t + p.d : p.t - p.d);
        least = std::min(least, to_peer ? main - p.t : p.t - main);
    }
    return least;
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
    double n0 = static_cast<double>(to_peer->size()), n1 = static_cast<double>(from_peer->size());
    double t0 = mean_time(*to_peer), t1 = mean_time(*from_peer);
    double d0 = mean_delay(*to_peer), d1 = mean_delay(*from_peer);
    double mean = (t0 * n0 + t1 * n1) / (n0 + n1);
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
    /* to_peer: d = offset + skew T + delay; from_peer: d = -offset - skew T
     * + delay. The skew is the two slopes' mean, each weighted by how
     * close its samples keep to its line. The offset is taken where the
     * samples are, at their mean time, and carried back to main time 0
     * along the skew. */
    f.ok = 1;
    double w0 = slope_weight(out, t0, d0), w1 = slope_weight(back, t1, d1);
    f.skew = (w0 * out.beta - w1 * back.beta) / (w0 + w1);
    f.disagreement = std::fabs(out.beta + back.beta);
    double at_mean = ((out.alpha + out.beta * mean) - (back.alpha + back.beta * mean)) / 2.0;
    f.offset = at_mean - f.skew * mean;
    f.min_delay[0] = smallest_delay(f, *to_peer, true);
    f.min_delay[1] = smallest_delay(f, *from_peer, false);
    return f;
}

}  // namespace

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
    /* The lower hull, left to right; of samples at one time only the
     * lowest can be on it. */
    fit_points hull;
    for (size_t i = 0; i < v.size(); i++) {
        if (!hull.empty() && v[i].t == hull.back().t) {
            if (!(v[i].d < hull.back().d))
                continue;
            hull.pop_back();
        }
        while (hull.size() >= 2 && turn(hull[hull.size() - 2], hull.back(), v[i]) <= 0.0)
            hull.pop_back();
        hull.push_back(v[i]);
    }
    if (hull.size() < 2)
        return none;
    size_t k = 0;
    while (k + 2 < hull.size() && hull[k + 1].t < mean)
        k++;
    return line_through(hull[k], hull[k + 1]);
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
