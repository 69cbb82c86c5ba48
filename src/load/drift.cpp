/*
 * drift.cpp --
 *
 *	The samples of the clock fit, taken from the aligned lines, and the
 *	fitted clock applied to a peer time.
 */

#include "load/drift.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/line.h"
#include "trace/trace.h"

drift_state g_drift;

void drift_reset()
{
    int correct = g_drift.correct;
    g_drift = drift_state{};
    g_drift.correct = correct;
}

namespace {

/* Copies of each direction, the first in line order, whose smallest
 * delays measure the offset at the start where the skew is not known. */
constexpr int64_t START_COPIES = 16;

/* The lines of drift_fit_lines as samples: a line's main time is its send
 * time when the peer received it, its arrival otherwise; its delay is
 * the apparent one either way. */
struct line_samples {
    const line_record *lines;
    const int32_t *copy_of;
    int32_t count;
    int32_t peer_dir;
};

void walk_lines(const void *ctx, fit_sink sink, void *const to[2])
{
    const line_samples &s = *static_cast<const line_samples *>(ctx);
    for (int32_t j = 0; j < s.count; j++) {
        const line_record &l = s.lines[j];
        if (s.copy_of[j] < 0)
            continue;
        bool to_peer = l.dir == s.peer_dir;
        if (to[to_peer ? 0 : 1] == nullptr)
            continue;
        if (to_peer)
            sink(to[0], fit_point{l.t_send, l.delay});
        else
            sink(to[1], fit_point{l.t_recv, l.delay});
    }
}

}  // namespace

bool drift_skew_verdict(double span, double resolution, double skew, double disagreement,
                        double *error, char *why, size_t why_size)
{
    *error = span > 0.0 ? 2.0 * resolution / span : std::numeric_limits<double>::infinity();
    if (!(*error <= SKEW_ERROR_MAX)) {
        std::snprintf(why, why_size, "too short to measure drift: %.0f ms of samples",
                      span * 1e3);
        return false;
    }
    /* Queues lift the floors of the two directions unevenly: a skew
     * well above the resolution may differ by a part of itself. */
    double allowed = std::fmax(2.0 * *error, SKEW_ERROR_MAX) + SKEW_AGREEMENT * std::fabs(skew);
    if (disagreement > allowed) {
        std::snprintf(why, why_size,
                      "the directions differ by %.3f ppm, more than the %.3f ppm they may",
                      disagreement * 1e6, allowed * 1e6);
        return false;
    }
    return true;
}

void drift_note_start(double offset)
{
    const clock_fit &f = g_drift.fit;
    if (f.ok && g_drift.resolved) {
        g_drift.start_offset = f.offset + g_drift.start_gap;
        return;
    }
    /* Whole microseconds: the stamps' resolution, and no "-0.000000". */
    double measured = g_drift.start_gap - offset + g_drift.first_error;
    g_drift.start_offset = std::round(measured * 1e6) / 1e6 + 0.0;
}

void drift_fit_lines(const line_record *lines, const int32_t *copy_of, int32_t count,
                     int32_t peer_dir, double offset)
{
    line_samples s{lines, copy_of, count, peer_dir};
    fit_walk samples{walk_lines, &s, {0, 0}};
    double first[2] = {HUGE_VAL, HUGE_VAL}, last[2] = {-HUGE_VAL, -HUGE_VAL};
    double low[2] = {HUGE_VAL, HUGE_VAL};  /* smallest delay of the first copies */
    for (int32_t j = 0; j < count; j++)
        if (copy_of[j] >= 0) {
            int d = lines[j].dir == peer_dir ? 0 : 1;
            if (samples.count[d]++ < START_COPIES)
                low[d] = std::fmin(low[d], lines[j].delay);
            double t = d == 0 ? lines[j].t_send : lines[j].t_recv;
            first[d] = std::fmin(first[d], t);
            last[d] = std::fmax(last[d], t);
        }
    /* The peer times lie this much late on the main clock, if the
     * smallest delays each way are equal (0 without samples both ways). */
    g_drift.first_error = std::isfinite(low[0] - low[1]) ? (low[0] - low[1]) / 2.0 : 0.0;
    g_drift.span = std::fmax(0.0, std::fmin(last[0] - first[0], last[1] - first[1]));
    g_drift.fit = fit_clock_in_place(samples);
    /* The peer times the lines hold are shifted by the offset. */
    g_drift.fit.offset -= offset;
    g_drift.to_peer_dir = peer_dir;
    g_drift.fitted = 1;
    /* Times are microseconds in the capture and 32-bit floats here. */
    double resolution = std::fmax(1e-6, std::fmax(last[0], last[1]) * std::ldexp(1.0, -23));
    g_drift.resolved = g_drift.fit.ok &&
                       drift_skew_verdict(g_drift.span, resolution, g_drift.fit.skew,
                                          g_drift.fit.disagreement,
                                          &g_drift.skew_error, g_drift.why_not,
                                          sizeof g_drift.why_not);
}

float drift_peer_time(float p)
{
    return static_cast<float>(peer_to_main(g_drift.fit, p));
}

double drift_over(double span)
{
    return std::fabs(g_drift.fit.skew) * span;
}
