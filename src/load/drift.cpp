/*
 * drift.cpp --
 *
 *	The samples of the clock fit, taken from the aligned lines, and the
 *	fitted clock applied to a peer time.
 */

#include "load/drift.h"

#include <cmath>

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

void drift_fit_lines(const line_record *lines, const int32_t *copy_of, int32_t count,
                     int32_t peer_dir, double offset)
{
    line_samples s{lines, copy_of, count, peer_dir};
    fit_walk samples{walk_lines, &s, {0, 0}};
    for (int32_t j = 0; j < count; j++)
        if (copy_of[j] >= 0)
            samples.count[lines[j].dir == peer_dir ? 0 : 1]++;
    g_drift.fit = fit_clock_in_place(samples);
    /* The peer times the lines hold are shifted by the offset. */
    g_drift.fit.offset -= offset;
    g_drift.to_peer_dir = peer_dir;
    g_drift.fitted = 1;
}

float drift_peer_time(float p)
{
    return static_cast<float>(peer_to_main(g_drift.fit, p));
}

double drift_over(double span)
{
    return std::fabs(g_drift.fit.skew) * span;
}
