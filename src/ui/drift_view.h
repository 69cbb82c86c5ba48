/*
 * drift_view.h --
 *
 *	The window's "Correct clock drift" (View menu): the command that
 *	switches a two-file load between the one-offset alignment and the
 *	fitted clock (load/drift.h), as -k does on the command line, and
 *	redraws.
 */

#ifndef WIREPAINT_UI_DRIFT_VIEW_H
#define WIREPAINT_UI_DRIFT_VIEW_H

#include <tcl.h>

/*
 * drift_clib ?ON? --
 *	With ON (0 or 1), sets the wish for the fitted clock; when the lines
 *	of the load change with it, erases the diagram and draws it afresh
 *	(redraw_all), the main canvas showing the span it showed before. With no fit possible the lines stay and standard error
 *	says why. The result is the wish, "0" or "1".
 */
int drift_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* Registers drift_clib in g_ui.interp. */
void register_drift_commands();

#endif
