/*
 * navigate.h --
 *
 *	The navigation commands of the UI script: zoom in or out on either
 *	canvas, step the main window or the overview forward or back, follow
 *	the two scrollbars, and re-centre the main canvas on a click in the
 *	overview. Each changes the view windows (g_ui) and runs the redraws
 *	the change affects. Limits ring the X bell; they are not errors.
 *
 *	Before a load has been drawn every one of them only rings the bell.
 *	Handlers return TCL_OK with an empty result; arguments read as atoi or
 *	atof, so text that is not a number reads as 0.
 */

#ifndef WIREPAINT_UI_NAVIGATE_H
#define WIREPAINT_UI_NAVIGATE_H

#include <tcl.h>

/* Directions of a step. */
enum step_direction { STEP_BACK, STEP_FORWARD };

/*
 * step_main --
 *	Moves the main window by 1/32 of its span, held within
 *	[-20 delay_unit, duration + 20 delay_unit] for main_start; a step
 *	clamped at a limit rings the bell.
 */
void step_main(step_direction dir);

/*
 * step_overview --
 *	Moves the overview window and the main window by 1/32 of the overview
 *	span while the overview lies within 20 delay units of the trace's
 *	ends; beyond, scrolls the overview canvas by 0.025 of its region and
 *	moves only the main window; at the region's ends rings the bell.
 */
void step_overview(step_direction dir);

/*
 * recentre_main --
 *	Centres the main window on the time that the overview lines place at
 *	window height `y` of the overview canvas (scrolled by over_scroll),
 *	and moves the main canvas to its middle (main_scroll 0.5).
 */
void recentre_main(int y);

int zoomout_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int zoomin_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int subzoomout_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int subzoomin_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int forward_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int back_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* scrlbar1_clib N: step the main window, forward for N > 0, else back. */
int scrlbar1_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* scrlbar2_clib N: step the overview, back for N < 0, else forward. */
int scrlbar2_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* movebar_clib moveto F: scroll the overview to F held in [0, 0.75]; any
 * other form of call does nothing. */
int movebar_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* sub2press_clib X Y: recentre_main(Y); X is not read. */
int sub2press_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* scrlbar_move_clib any F: main canvas to m = F held in [0, 0.5],
 * main_scroll = 2 m. */
int scrlbar_move_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
