/*
 * dropnote.h --
 *
 *	What the reader says about the packets it passes over. Reading a
 *	capture of one connection, each packet the decoder drops is worth a
 *	line on standard output ("not tcp", "Warning: address unmatch", ...):
 *	there are few, and each one is news. Reading one connection out of
 *	many (-c, -f, the Connections dialog), nearly every packet belongs to
 *	another connection, and when standard output carries what was asked
 *	for (-E, -S, -x -) no line may go into it. Then the packets are only
 *	counted, and -V gives one line per kind with its count on standard
 *	error at the end of the load. The option text's "[bad opt]" mark,
 *	which the summary writes on standard output, is counted the same way.
 *
 *	The state lives in one record, g_dropnote.
 */

#ifndef WIREPAINT_TRACE_DROPNOTE_H
#define WIREPAINT_TRACE_DROPNOTE_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

/* The kinds of note, each counted on its own. */
enum drop_kind {
    DROP_NOT_TCP,         /* "not tcp", "Not tcp" */
    DROP_OTHER_CONNECTION,/* "Warning: address unmatch", "... port unmatch" */
    DROP_TRUNCATED,       /* "Warning: truncated packet" */
    DROP_BAD_OPTIONS,     /* "[bad opt]" of the option text */
    DROP_KINDS
};

/* How dropped packets are reported. One instance, g_dropnote. */
struct dropnote_state {
    int stdout_taken;     /* 1 when standard output carries machine-readable
                           * output (-E, -S, -x -); set by the command line */
    int quiet;            /* 1 while notes are counted, not written; set by
                           * dropnote_begin_file for each file read */
    std::atomic<uint64_t> count[DROP_KINDS]; /* notes counted since
                           * dropnote_reset_counts, per kind; the text pass
                           * may count from the load's second thread */
};

extern dropnote_state g_dropnote;

/*
 * dropnote_begin_file --
 *	The reader starts on a file (after conn_select_begin): notes are
 *	counted rather than written when standard output is taken, when a
 *	connection is chosen for the file (trace/connlist.h) or when a -f
 *	filter is set (capture/capfile.h).
 */
void dropnote_begin_file();

/*
 * drop_note --
 *	One note of kind `kind`: writes `line` and a newline on standard
 *	output (puts), or counts it while quiet.
 */
void drop_note(drop_kind kind, const char *line);

/*
 * drop_mark --
 *	As drop_note for a mark written without a newline (fputs).
 */
void drop_mark(drop_kind kind, const char *mark);

/* Zeroes the counts: a load begins. */
void dropnote_reset_counts();

/*
 * dropnote_summary --
 *	The lines of the counts, one per kind counted, e.g. "158,954 packets
 *	of other connections skipped", each ending in a newline; "" when
 *	nothing was counted.
 */
std::string dropnote_summary();

/* Writes dropnote_summary on standard error with -V (g_trace.verbose). */
void dropnote_write_summary();

/* Puts g_dropnote back to its process-start state (for tests). */
void dropnote_reset();

#endif
