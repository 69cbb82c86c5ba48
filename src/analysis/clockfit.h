/*
 * clockfit.h --
 *
 *	The fit of two capture hosts' clocks. Two captures of one connection,
 *	one at each end, time every segment twice; on a clock that runs at
 *	another rate than the main capture's, the apparent one-way delays of
 *	each direction drift over time along a line. Each direction's samples
 *	lie above a line d = alpha + beta * t: the path's smallest delay plus
 *	the clocks' offset and drift. That line is the one under every sample
 *	that minimises the total distance of the samples above it (the
 *	linear-programming estimate of Moon, Skelly and Towsley, 1999); its
 *	optimum is the edge of the samples' lower convex hull whose time span
 *	holds the samples' mean time, found here in O(n log n) with Andrew's
 *	monotone chain and no solver. The two directions' slopes give the
 *	skew (a mean weighted by how closely each direction's samples keep
 *	to its line, since a standing queue in one direction lifts its floor
 *	unevenly), their intercepts the offset (assuming the smallest delay
 *	is the same both ways).
 *
 *	Pure arithmetic: no process state.
 */

#ifndef WIREPAINT_ANALYSIS_CLOCKFIT_H
#define WIREPAINT_ANALYSIS_CLOCKFIT_H

#include <cstdint>

#include "trace/scratch.h"

/* One sample: main-clock time t (s) and apparent one-way delay d (s). */
struct fit_point {
    double t;
    double d;
};

/* A direction's samples: one per segment on a large trace, so kept in
 * scratch storage (trace/scratch.h). */
using fit_points = scratch_vec<fit_point>;

/* A line d = alpha + beta * t under a set of samples. */
struct fit_line {
    int ok;         /* 1 when found: two samples at different times */
    double alpha;   /* s */
    double beta;    /* s per s */
};

/*
 * lower_line --
 *	The line under every sample of *pts with the least total distance
 *	to them: the edge of their lower convex hull whose time span holds
 *	their mean time (the left one of two when the mean is a vertex's
 *	time). Sorts *pts by time (a stable order is not kept among
 *	samples of one time). ok 0 with fewer than two distinct times.
 */
fit_line lower_line(fit_points *pts);

/*
 * lower_line_literal --
 *	The same line by the linear programme's definition: every pair of
 *	samples whose line has no sample below it, the one whose line is
 *	highest at the mean time (the first such pair in index order on a
 *	tie). O(n^3): for checks on small inputs.
 */
fit_line lower_line_literal(const fit_points &pts);

/* Fewest samples a direction needs for a fit. */
enum { FIT_MIN_SAMPLES = 8 };

/*
 * The fitted relation of the peer clock to the main clock: a peer
 * capture's relative time reads p = offset + (1 + skew) * T at main
 * relative time T.
 */
struct clock_fit {
    int ok;               /* 1 when both directions gave a line */
    const char *why;      /* when not ok: why no fit was possible */
    double skew;          /* peer clock's rate error (1e-6 is 1 ppm fast) */
    double disagreement;  /* the two directions' skews differ by this */
    double offset;        /* s, peer relative time at main relative time 0 */
    double min_delay[2];  /* s, smallest delay on the fitted clock: [0] of
                           * the segments the peer end received, [1] of
                           * those it sent */
    int64_t samples[2];   /* samples of each direction kept, as min_delay */
};

/*
 * fit_clock --
 *	The clock fit from the apparent delays of the segments the peer end
 *	received (`to_peer`: d = peer time - main time, t = main time) and of
 *	those it sent (`from_peer`: d = main time - peer time, t = main
 *	time). Samples far from the others of their direction are dropped
 *	first (wrong copies); sorts and shortens both vectors. ok 0, with
 *	`why`, when a direction has fewer than FIT_MIN_SAMPLES samples or no
 *	line.
 */
clock_fit fit_clock(fit_points *to_peer, fit_points *from_peer);

/* The same through lower_line_literal, for checks on small inputs. */
clock_fit fit_clock_literal(fit_points *to_peer, fit_points *from_peer);

/*
 * Both directions' samples where they lie (the aligned lines of a load):
 * walk(ctx, sink, to) calls sink(to[0], p) for every sample p of the
 * segments the peer end received and sink(to[1], p) for every one of
 * those it sent, each direction's in the same order at every call. A
 * null to[d] asks for no sample of direction d. Two walks may run at
 * once, on two threads, each with one direction asked for.
 */
using fit_sink = void (*)(void *to, const fit_point &p);
struct fit_walk {
    void (*walk)(const void *ctx, fit_sink sink, void *const to[2]);
    const void *ctx;
    size_t count[2];  /* samples of each direction */
};

/*
 * fit_clock_in_place --
 *	fit_clock over the samples `samples` walks, without gathering them
 *	first: the same result, bit for bit, as fit_clock over vectors
 *	holding each direction's samples in walk order. The samples are
 *	walked three times; a direction whose samples come in time order
 *	needs no memory but its lower hull, one that does not is gathered
 *	as fit_clock takes it. From some tens of thousands of samples each
 *	direction is walked on a thread of its own. Throws std::bad_alloc.
 */
clock_fit fit_clock_in_place(const fit_walk &samples);

/* The same, each direction on a thread of its own when `apart` (for the
 * tests that hold both ways to one result). */
clock_fit fit_clock_in_place(const fit_walk &samples, bool apart);

/*
 * peer_to_main --
 *	Peer relative time p on the main clock by fit f (ok): the T with
 *	p = offset + (1 + skew) * T, written as p + c + k * (p - start) with
 *	c = -offset, start = offset, k = -skew / (1 + skew).
 */
double peer_to_main(const clock_fit &f, double p);

/* k of peer_to_main: the rate correction of a peer time. */
double peer_rate_correction(const clock_fit &f);

#endif
