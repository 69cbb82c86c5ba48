/*
 * loader.h --
 *
 *	The trace-set loader: the one entry point for getting capture data
 *	into wirepaint. It reads one or two capture files, installs the main
 *	(and peer) trace, runs the segment analysis and, with two files, puts
 *	both captures on one clock.
 */

#ifndef WIREPAINT_LOAD_LOADER_H
#define WIREPAINT_LOAD_LOADER_H

#include <cstdint>

/*
 * load_traces --
 *	Loads `nfiles` (1 or 2) capture files, names in command-line order.
 *	With `reset` nonzero, first frees both traces, their copies and the
 *	line list, and puts the copy length back to the saved copy length.
 *	On return g_trace.main, g_trace.lines (g_trace.main.count lines) and,
 *	with two files, g_trace.peer are ready and g_trace.loaded is 1; a
 *	one-file load of a file without any TCP segment of a connection leaves
 *	g_trace.loaded at 0 and says so on standard error. With -V, the
 *	counts of the packets passed over quietly (trace/dropnote.h) follow
 *	on standard error. Every failure ends
 *	the process with a message and status -1 (-2 for a read error), or
 *	inside a trapped load throws load_error (capture/loadfail.h), leaving
 *	a half-done state that unload_traces clears.
 */
void load_traces(int nfiles, char *const names[], int reset);

/*
 * unload_traces --
 *	The reset of load_traces on its own, and the loaded flag cleared:
 *	nothing is loaded after it. A window load that failed half-way
 *	leaves the state empty through it.
 */
void unload_traces();

/*
 * loader_correct_drift --
 *	Sets the wish for the fitted clock (g_drift.correct, as -k) and,
 *	after a two-file load, puts the lines on the clock it asks for: the
 *	fitted one (copies matched again with it), or the one offset. With
 *	no fit possible, says so on standard error and leaves the lines.
 *	Returns 1 when the lines changed. Runs the load's second thread.
 */
int loader_correct_drift(int on);

/* The peer-trace clock offset of the last two-file load (s); 0 otherwise. */
float loader_clock_offset();

/*
 * loader_copy_of --
 *	The index in the peer trace of line `line`'s copy after a two-file
 *	load, whose far-end time is then measured; -1 when it has none (its
 *	far-end time is the estimate) and after a one-file load.
 */
int32_t loader_copy_of(int32_t line);

/*
 * loader_left_role --
 *	0 when the left host is the client (the sender of the SYN, else of
 *	the main trace's first segment) as trace/peer_map.h names roles, 1
 *	when it is the server; 0 before a load.
 */
int loader_left_role();

#endif
