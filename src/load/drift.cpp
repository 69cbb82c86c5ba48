/*
 * drift.cpp --
 *
 *	The samples of the clock fit, taken from the aligned lines, and the
 *	fitted clock applied to a peer time.
 */

#include "load/drift.h"

#include <cmath>
#include <vector>

#include "analysis/line.h"
#include "trace/trace.h"

drift_state g_drift;

void drift_reset()
{
    int correct = g_drift.correct;
    g_drift = drift_state{};
    g_drift.correct = correct;
}

void drift_fit_lines(int32_t (*copy_of)(int32_t), bool (*peer_receives)(int32_t))
{
    const trace_array &main = g_trace.main;
    const trace_array &peer = g_trace.peer;
    std::vector<fit_point> to_peer, from_peer;
    g_drift.to_peer_dir = 1;
    for (int32_t j = 0; j < main.count; j++) {
        int32_t m = copy_of(j);
        if (m < 0)
            continue;
        double t = main.rec[j].time, p = peer.rec[m].time;
        if (peer_receives(j)) {
            to_peer.push_back({t, p - t});
            g_drift.to_peer_dir = g_trace.lines[j].dir;
        } else {
            from_peer.push_back({t, t - p});
        }
    }
    g_drift.fit = fit_clock(&to_peer, &from_peer);
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
