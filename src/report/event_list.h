/*
 * event_list.h --
 *
 *	The list of analysis events (-E): one line per event of the loaded
 *	main trace in segment order, fields separated by blanks, after a
 *	header line:
 *
 *	    index time direction kind detail
 *	    57 0.142311 R>L duplicate_ack #3,of=52
 *	    60 0.612001 L>R stall 0.412033s,timeout
 *
 *	index numbers segments as the -x table numbers its rows (from 1),
 *	time is the capture time (s since the first segment), direction
 *	"L>R" or "R>L" as in the table, kind one of the event kinds'
 *	names (analysis/events.h). The detail is "-" but for a
 *	duplicate_ack (its number and the index of the ACK it duplicates)
 *	and a stall (its length and cause).
 */

#ifndef WIREPAINT_REPORT_EVENT_LIST_H
#define WIREPAINT_REPORT_EVENT_LIST_H

#include <cstdio>
#include <string>

/*
 * event_detail --
 *	The detail field of event `kind` of line `line`, as the list gives
 *	it. Reads g_trace and g_events.
 */
std::string event_detail(int line, int kind);

/*
 * write_event_list --
 *	Writes the header and every event line to `out`, lines ended by
 *	"\n". Nothing but the header when nothing is loaded. Returns 1, or 0
 *	when writing failed.
 */
int write_event_list(FILE *out);

#endif
