/*
 * jump.h --
 *
 *	Moves of the main view that the step and zoom commands do not make:
 *	show a given time span (the -t option, "fit the whole connection"),
 *	jump to the start or the end of the connection, centre one segment,
 *	pan by a pointer drag, and the segment under the pointer. The view
 *	state lives in g_ui (ui/ui_state.h); the overview keeps the view box
 *	in sight.
 *
 *	Segments are numbered from 1 in capture order: segment n is line
 *	n - 1 of the line list.
 */

#ifndef WIREPAINT_UI_JUMP_H
#define WIREPAINT_UI_JUMP_H

#include <tcl.h>

/*
 * show_main_span --
 *	Sets the main view so that the part of the main canvas the window
 *	shows (at the current main_scroll) runs from time `from` at its top
 *	row to `to` at its bottom row: main_scale = main_height / (to - from),
 *	zoom level 0 at that scale. Then keeps the view box in sight on the
 *	overview (keep_box_in_sight). Needs from < to; changes nothing
 *	otherwise. Publishes nothing.
 */
void show_main_span(float from, float to);

/*
 * keep_box_in_sight --
 *	When the view box would lie outside the part of the overview the
 *	window shows, moves the overview window (and, when the box is taller
 *	than 0.8 of the shown part, zooms the overview out to make it half
 *	as tall) so that the box starts a quarter down the shown part.
 *	Returns 1 when it moved the overview, 0 when the box was in sight.
 */
int keep_box_in_sight();

/* The span of the whole connection: from line 0's send time to the last
 * line's arrival, 2% of it added at both ends; from < to always. */
void connection_span(float *from, float *to);

/*
 * view_clib WHAT ?ARG? --
 *	home: the start of the connection at the top of the view, the scale
 *	kept; end: the end of the connection at its bottom; fit: the whole
 *	connection in view; segment N: segment N centred, the scale kept;
 *	pan DY: the diagram moved down by DY window pixels; span FROM TO: the
 *	view from time FROM to TO. Each redraws the main canvas, the overview
 *	when it moved, and the view box. The result is empty, except for
 *	segment N: the index into the published arrays (x1, y1, ...) of that
 *	segment's arrow, or "" when it is not drawn. Before a load has been
 *	drawn, or with a bad argument, nothing happens and the result is "".
 */
int view_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * hover_clib X Y --
 *	The result is "Segment N: " and the summary line of the arrow nearest
 *	to window position (X, Y) of the main canvas, when one lies within
 *	10 px (as a click would pick it), then its analysis events in
 *	brackets when it has any ("  [duplicate_ack]"); "" otherwise.
 */
int hover_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
