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

#include <cstddef>
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
    int resolved;        /* 1 when the samples resolve the skew: their span
                          * and the time resolution bound its error, and
                          * the two directions agree within it; set by
                          * drift_fit_lines */
    double span;         /* s, the shorter direction's span of samples */
    double skew_error;   /* the skew's error bound (1e-6 is 1 ppm) */
    char why_not[128];   /* when fit.ok but not resolved: why no skew */
    double first_error;  /* s, how late the first copies put the peer times
                          * on the offset clock: half the difference of the
                          * two directions' smallest delays among them */
    double start_offset; /* s, peer clock - main clock at the main
                          * capture's first segment: the fit's where it
                          * resolves, else measured at the anchor copy;
                          * set by drift_fit_lines and drift_note_start */
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

/* Largest skew error (1e-6 is 1 ppm) at which a skew is reported. */
constexpr double SKEW_ERROR_MAX = 20e-6;

/* The share of a skew by which its directions may differ beyond the
 * resolution's bound (queues lift the two floors unevenly). */
constexpr double SKEW_AGREEMENT = 0.25;

/*
 * drift_skew_verdict --
 *	Whether the samples of a fit resolve its skew, and why not: a skew
 *	error bound of twice the time resolution `resolution` (s) over the
 *	shorter direction's span `span` (s) must stay below SKEW_ERROR_MAX,
 *	and the directions' `disagreement` within twice that bound (at least
 *	SKEW_ERROR_MAX: queueing, not the clock, sets how far the floors
 *	agree) plus SKEW_AGREEMENT of the `skew`. Fills
 *	`why` (when not resolved) with e.g. "too short to measure drift: 73
 *	ms of samples". Pure.
 */
bool drift_skew_verdict(double span, double resolution, double skew, double disagreement,
                        double *error, char *why, size_t why_size);

/*
 * drift_note_start --
 *	Sets g_drift.start_offset after drift_fit_lines and the start gap:
 *	the fit's offset at the main capture's first segment when the skew
 *	is resolved, else the one the first copies measure: the start gap
 *	less the loader's clock offset `offset` (s; relative times: main =
 *	peer + offset), plus first_error.
 */
void drift_note_start(double offset);

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
