/*
 * commands.h --
 *
 *	The interpreter commands through which the UI script calls back into
 *	wirepaint, apart from navigation (ui/navigate.h): the start signal,
 *	opening another capture file, the label and time-stamp toggles, and
 *	click-to-inspect. Also the table of all sixteen commands.
 *
 *	Every handler has Tcl's command-procedure signature, returns TCL_OK
 *	and leaves the interpreter result empty; arguments are read with atoi
 *	or atof, so text that is not a number reads as 0.
 */

#ifndef WIREPAINT_UI_COMMANDS_H
#define WIREPAINT_UI_COMMANDS_H

#include <cstddef>

#include <tcl.h>

/*
 * register_commands --
 *	Registers the sixteen "_clib" commands in g_ui.interp in their fixed
 *	order, with no client data and no delete procedure.
 */
void register_commands();

/* Names of the sixteen commands in registration order (for tests). */
extern const char *const command_names[16];

/*
 * init_clib --
 *	Looks up ".subframe1.canvas" and ".subframe2.canvas" and keeps the
 *	handles; a missing one writes the interpreter's error text on standard
 *	error and exits with status -1. Then, when a load has finished, runs
 *	redraw_all.
 */
int init_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * openfile_clib PATH --
 *	Checks that PATH can be loaded; if not, sets "loaderror" to the
 *	reason and keeps the current diagram. Otherwise erases the drawn
 *	diagram (not the frames) when one is loaded, forgets the published
 *	range, loads PATH alone with the reset flag, and when that load
 *	finished draws it with redraw_all. Publishes segcount, lefthost and
 *	righthost either way. A failure inside the load leaves nothing loaded
 *	and its message in "loaderror"; the process goes on (window_load).
 *	Without PATH does nothing.
 */
int openfile_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * text_clib, time_clib --
 *	Read the script variable texton (timeon) into the flag; nonzero
 *	publishes the labels (time stamps) of the visible range and draws
 *	them, zero erases them. Without the variable do nothing.
 */
int text_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);
int time_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * sub1press_clib X Y --
 *	Click-to-inspect at window position (X, Y) of the main canvas: the
 *	arrow whose line lies nearest, if within 10 px (the earlier of equal
 *	distances), has its detail text with the header dump set as `message`
 *	(see build_message) and the script's createpi evaluated.
 */
int sub1press_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * nearest_hit --
 *	The line index of the hit-table entry nearest to (x, ya), ya in
 *	scroll-region pixels, or -1 when none lies within 10 px.
 */
int nearest_hit(int x, int ya);

/*
 * build_message --
 *	Writes `detail` and a newline into `out` (size bytes, at least 2).
 *	A text too long for that is cut after its last line break that fits,
 *	or, without one, at the room left, so the message still ends with a
 *	newline. Returns out.
 */
char *build_message(const char *detail, char *out, size_t size);

#endif
