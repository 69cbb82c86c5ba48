/*
 * winload.h --
 *
 *	Loading from the window, which never ends the program: the Open
 *	dialog's file, and a connection picked in the Connections dialog.
 *	Before anything is let go, every file is checked to open with
 *	libpcap, to have a link type wirepaint reads and to take the filter;
 *	a file that fails keeps the current connection on the screen. A
 *	failure later in the load (the reader's, the decoder's, the loader's)
 *	leaves an empty, usable window. Either way the reason is published to
 *	the script as "loaderror"; a warning of the load (a file cut short)
 *	as "loadwarning"; and "loadkept" is 1 when the current connection was
 *	kept (a file failed the check), else 0.
 *
 *	Also the two commands of the Connections dialog, registered beside
 *	the sixteen of commands.h.
 */

#ifndef WIREPAINT_UI_WINLOAD_H
#define WIREPAINT_UI_WINLOAD_H

#include <tcl.h>

/*
 * window_load --
 *	Loads `nfiles` (1 or 2) files, connection `number` of the first
 *	file's list (0: the first connection), as the open-file command does,
 *	forgetting a capture host named for the connection shown before:
 *	erase the drawing, reset, load, redraw, publish the trace info. Sets
 *	"loadkept", "loaderror" and "loadwarning" ("" when there is none).
 *	Returns 1 when
 *	the load went through (even without any TCP segment), 0 when it
 *	failed. Never ends the process.
 */
int window_load(int nfiles, const char *const names[], int number);

/*
 * window_reload --
 *	window_load of the files shown, keeping what was chosen for them:
 *	the connection (-c or the Connections dialog), the filter and the
 *	named capture host. What the analysis decides anew shows after it.
 *	Same variables and result as window_load.
 */
int window_reload(int nfiles, const char *const names[]);

/*
 * connlist_clib PATH ?PATH2? --
 *	Reads PATH's health table (report/health.h) into the Connections
 *	dialog's view (ui/connview_cmd.h, opening order), sets "conncount"
 *	to its rows and "loaderror" to "" or the reason it could not be read
 *	(no rows then). The drawing is not touched.
 */
int connlist_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * openconn_clib N PATH ?PATH2? --
 *	Loads connection N of PATH (with PATH2, the same connection in it,
 *	in two-file mode) through window_load.
 */
int openconn_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* Removes the drawn diagram (lines, overview, box, labels and times
 * where shown), before a reload or a redraw of changed lines. */
void erase_diagram();

/* Registers connlist_clib, openconn_clib and connview_clib in g_ui.interp. */
void register_connection_commands();

#endif
