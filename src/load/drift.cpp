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

void drift_fit_lines(const line_record *lines, const int32_t *copy_of, int32_t count,
                     int32_t peer_dir, double offset)
{
    /* Counted first, so that each vector takes its memory once. */
    size_t receives = 0, copies = 0;
    for (int32_t j = 0; j < count; j++)
        if (copy_of[j] >= 0) {
            copies++;
            receives += lines[j].dir == peer_dir;
        }
    fit_points to_peer, from_peer;
    to_peer.reserve(receives);
    from_peer.reserve(copies - receives);
    /* A line's main time is its send time when the peer received it, its
     * arrival otherwise; its delay is the apparent one either way. */
    for (int32_t j = 0; j < count; j++) {
        const line_record &l = lines[j];
        if (copy_of[j] < 0)
            continue;
        if (l.dir == peer_dir)
            to_peer.push_back({l.t_send, l.delay});
        else
            from_peer.push_back({l.t_recv, l.delay});
    }
    g_drift.fit = fit_clock(&to_peer, &from_peer);
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
