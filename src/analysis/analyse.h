/*
 * analyse.h --
 *
 *	The analysis entry and the line list. analyse_trace runs the whole
 *	segment analysis over the main trace (marking, pairing, the choice of
 *	the left host) and ends with the line list in g_trace.lines: one
 *	line_record per main-trace record, at the same index, each one arrow
 *	of the ladder diagram with its direction, send and arrival times,
 *	delay and colour class. Analysis does no text work: the text
 *	subsystem primes its tables (prime_text_state) once analyse_trace has
 *	returned, and labels are formatted when they are published.
 *
 *	The left host is the host where the capture was made: every capture
 *	time lies on the left axis.
 */

#ifndef WIREPAINT_ANALYSIS_ANALYSE_H
#define WIREPAINT_ANALYSIS_ANALYSE_H

#include <cstdint>

#include "analysis/line.h"
#include "trace/direction.h"

struct dest_index;

/*
 * reference_record --
 *	The lowest index of g_trace.main whose ack_time is above 0, or 0 when
 *	there is none (also for an empty trace).
 */
int32_t reference_record();

/*
 * choose_left_host --
 *	Estimates the delay of record `ref` with the estimator reset, then
 *	returns the capture host: the named one when it is an end of the
 *	connection, else the one the gaps of two captures named
 *	(g_capture_host.by_gaps), else the one the TTLs show, else the one
 *	the handshake shows (left_host.h), else ref's destination when the
 *	estimate is strictly greater than ref's ack_time and ref's source
 *	otherwise. `ref` must index g_trace.main.
 *	Side effects: g_analysis (reset, then one estimate),
 *	g_left_choice.outcome, g_capture_host (rule and TTLs).
 */
endpoint choose_left_host(int32_t ref);

/*
 * build_line_list_literal --
 *	Allocates g_trace.main.count lines with malloc into g_trace.lines
 *	(a list left standing there is freed first) and fills each from its
 *	record, in index order: delay from one estimate_delay call with reset
 *	off, direction and times from whether the record was sent by
 *	`left_host`, class from the mark or else the payload. The plain
 *	form, which asks the direction test for every record; the reference
 *	for build_line_list_fast. On allocation failure: perror("malloc")
 *	and exit status -1.
 *	Side effects: g_trace.lines, g_analysis.
 */
void build_line_list_literal(const endpoint &left_host);

/*
 * build_line_list_fast --
 *	The same lines, estimates and estimator state as
 *	build_line_list_literal, bit for bit. The direction of
 *	each record comes from the endpoint numbers of `ix` (dest_index.h),
 *	built over the main trace, or from the direction test when `ix` is
 *	null; the list is taken from scratch storage (trace/scratch.h),
 *	and is freed with scratch_free (trace/scratch.h) like the plain one.
 *	Side effects and failure as build_line_list_literal.
 */
void build_line_list_fast(const endpoint &left_host, const dest_index *ix);

/*
 * build_line_list_split --
 *	build_line_list_fast's lines, estimates and estimator state, bit for
 *	bit, made by two threads: a second thread works out the round trips
 *	of pieces of `piece` records from the end of the trace downwards
 *	while this one builds the lines from the start upwards, and this one
 *	then finishes the pieces the other took, in order. Fewer than two
 *	pieces, or no second thread to be had: build_line_list_fast.
 *	Side effects and failure as build_line_list_fast.
 */
void build_line_list_split(const endpoint &left_host, const dest_index *ix, int32_t piece);

/* build_line_list_fast without an index: what tests and callers outside
 * the analysis use. */
void build_line_list(const endpoint &left_host);

/*
 * clamp_arrivals_literal --
 *	For each record i, in index order, acknowledged by record k: when
 *	line i arrives after line k leaves and the pair runs between the left
 *	host and the right host as captured at the left (k addressed to the
 *	left host, or i sent by it), line i's arrival is pulled back to k's
 *	departure, unless that would make its delay negative. A pair the
 *	capture's own time stamps contradict is left as built. The plain
 *	form, asking the direction test for each pair.
 *	Side effects: t_recv and delay of lines in g_trace.lines.
 */
void clamp_arrivals_literal(const endpoint &left_host);

/*
 * clamp_arrivals_fast --
 *	clamp_arrivals_literal with the host questions answered from the
 *	endpoint numbers of `ix` (the plain form when `ix` is null). Same
 *	lines, same side effects.
 */
void clamp_arrivals_fast(const endpoint &left_host, const dest_index *ix);

/* clamp_arrivals_fast without an index. */
void clamp_arrivals(const endpoint &left_host);

/*
 * analyse_trace --
 *	The analysis of g_trace.main, in order: order check, pair scan,
 *	forward and backward pairing, reference record and left host, line
 *	list build, arrival clamp, each in its fast form, with one endpoint
 *	and ack index (dest_index.h) built for all of them. An empty main
 *	trace gets no line list (g_trace.lines nullptr) and no estimator
 *	call. Side effects: analysis fields of the main records,
 *	g_trace.lines, g_analysis. Exits with status -1 when the line list
 *	cannot be allocated.
 */
void analyse_trace();

/*
 * analyse_left_host_again --
 *	The steps of analyse_trace from the choice of the left host on, over
 *	the records as the last analyse_trace left them: after the loader
 *	has set g_capture_host's gap verdict, the lines are those a load
 *	naming that host would give. No effect on an empty main trace.
 *	Side effects as analyse_trace's last steps.
 */
void analyse_left_host_again();

#endif
