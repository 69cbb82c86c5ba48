/*
 * drift.h --
 *
 *	The two clocks of a two-file load. After the alignment by one offset,
 *	the segments whose copy was found give each direction's apparent
 *	one-way delays over time; their lower lines (analysis/clockfit.h)
 *	tell how far the peer capture's clock is off and how fast it drifts.
 *	The fit is always made and reported (-S, Statistics...); with -k, or
 *	"Correct clock drift" in the window, the loader puts the peer times
 *	on the fitted clock instead of the one offset.
 */

#ifndef WIREPAINT_LOAD_DRIFT_H
#define WIREPAINT_LOAD_DRIFT_H

#include <cstdint>

#include "analysis/clockfit.h"
#include "analysis/line.h"

/*
 * The clock-drift state, one instance, g_drift. `correct` is the user's
 * wish (-k, or the window's toggle) and outlives loads; the rest belongs
 * to the last two-file load and drift_reset clears it.
 */
struct drift_state {
    int correct;         /* 1: peer times on the fitted clock (-k) */
    int fitted;          /* 1 once a two-file load tried the fit */
    clock_fit fit;       /* its result (fit.ok 0: no fit possible) */
    int corrected;       /* 1 when the lines are on the fitted clock */
    int to_peer_dir;     /* line dir of the segments the peer end received */
    double start_gap;    /* s, peer capture's first stamp - main's first */
};

extern drift_state g_drift;

/* Clears what belongs to the last load; `correct` stays. */
void drift_reset();

/*
 * drift_fit_lines --
 *	Fits the peer clock from the `count` lines of the current two-file
 *	load, aligned by the one offset `offset` (s), that have a copy
 *	(copy_of[j] >= 0): lines of dir `peer_dir` were sent at the main
 *	end and received at the peer's, the others the reverse. Sets
 *	g_drift.fit (on the peer trace's own times), to_peer_dir and fitted.
 */
void drift_fit_lines(const line_record *lines, const int32_t *copy_of, int32_t count,
                     int32_t peer_dir, double offset);

/*
 * drift_peer_time --
 *	Peer relative time p on the main clock by the fit (g_drift.fit.ok).
 */
float drift_peer_time(float p);

/* How far the drift moves the delays over `span` seconds (s, >= 0). */
double drift_over(double span);

/* Drift over the main capture above which -S and Statistics... say so. */
constexpr double DRIFT_WARN = 1e-3;

#endif
