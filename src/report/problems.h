/*
 * problems.h --
 *
 *	What the Problems window and the event keys of the window show of the
 *	analysis events (analysis/events.h): the kinds found with their
 *	counts and severity, the segments of one kind, and the next or
 *	previous segment with an event of a chosen set. No interpreter here:
 *	the commands of ui/problems_cmd.cpp hand these to the script.
 *
 *	Segments are numbered from 1, as the -x table numbers its rows.
 */

#ifndef WIREPAINT_REPORT_PROBLEMS_H
#define WIREPAINT_REPORT_PROBLEMS_H

#include <cstdint>
#include <string>
#include <vector>

/* One row of the Problems window: a kind found and how often. */
struct problem_row {
    int kind;            /* event_kind */
    int64_t count;       /* segments with it, both directions */
    bool warning;        /* event_is_warning(kind) */
};

/* The kinds found in the loaded trace, in event_kind order; none when
 * nothing is loaded. */
std::vector<problem_row> problem_rows();

/*
 * event_mask_named --
 *	The seg_events.kinds bits a name selects: a kind's name selects its
 *	bit, "warning" every warning kind, "any" every kind; 0 for another
 *	name.
 */
uint16_t event_mask_named(const std::string &name);

/*
 * find_event --
 *	The number of the first segment after segment `from` (step +1) or
 *	before it (step -1) with an event in `mask`; 0 when there is none.
 *	`from` may be 0 (before the first) or count + 1 (after the last).
 *	A linear scan from `from`; reads g_events only.
 */
int32_t find_event(int32_t from, int step, uint16_t mask);

/*
 * event_line_text --
 *	"Segment N: " and the events of segment n in `mask`, each as
 *	"kind" or "kind detail" (the -E list's detail), joined by "; ".
 *	"" for a segment without such events.
 */
std::string event_line_text(int32_t n, uint16_t mask);

/*
 * hover_events_suffix --
 *	What the hover line adds after segment `line`'s summary (line from
 *	0): "  [kind kind]" with the names of its events, "" for a segment
 *	without events. Reads g_events only.
 */
std::string hover_events_suffix(int32_t line);

/*
 * segment_hover_text --
 *	The line the window shows while the pointer rests near the arrow of
 *	line `line` (0 <= line < count): "Segment N: ", the summary
 *	(segment_detail_text(line, 1)) and hover_events_suffix. Overwrites
 *	the detail text buffer.
 */
std::string segment_hover_text(int32_t line);

#endif
