/*
 * problems_cmd.h --
 *
 *	The interpreter command behind the Problems window and the event keys
 *	(n, p, ], [) of the window. The data comes from report/problems.h.
 */

#ifndef WIREPAINT_UI_PROBLEMS_CMD_H
#define WIREPAINT_UI_PROBLEMS_CMD_H

#include <tcl.h>

/*
 * problems_clib WHAT ?ARGS? --
 *	kinds: a list of {kind count severity} ("warning" or "note"), one per
 *	kind found, in the kinds' order.
 *	segments KIND ?PATTERN? ?MOST?: a list of {N time direction detail
 *	summary}, one per segment with event KIND (a kind's name) whose row,
 *	those five joined by blanks, matches the glob PATTERN without regard
 *	to case ("" or none: every row), in segment order: its number,
 *	capture time (s, six decimals), "L>R" or "R>L", the event's detail as
 *	-E gives it, and its summary line; at most MOST rows (1000 without
 *	it), then 1 when more rows match, 0 when not.
 *	next FROM NAME, prev FROM NAME: {N text} for the first segment after
 *	(before) segment FROM with an event NAME selects ("warning", "any"
 *	or a kind's name), text saying which events it has; "" when there is
 *	none.
 *	Before a load, or with a bad argument, the result is "".
 */
int problems_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
