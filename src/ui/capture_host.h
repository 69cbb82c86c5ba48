/*
 * capture_host.h --
 *
 *	The window's Capture host choice: which end of the connection is
 *	drawn on the left axis, named by the user when the handshake and the
 *	delays cannot tell (a path shorter than the hosts' own turnaround, a
 *	capture without its handshake).
 */

#ifndef WIREPAINT_UI_CAPTURE_HOST_H
#define WIREPAINT_UI_CAPTURE_HOST_H

#include <tcl.h>

/*
 * capturehost_clib HOST PATH ?PATH2? --
 *	Names HOST (an endpoint as "lefthost" and "righthost" show it, or an
 *	address) as the capture host, or with HOST "" lets the analysis
 *	decide again, then reloads PATH (and PATH2) as they are shown now
 *	(window_reload): the analysis runs again and the diagram is redrawn
 *	with that host on the left. Sets "capturehost" to the named host or
 *	"", and the load variables of window_load. A HOST that is no address
 *	sets "loaderror" and changes nothing.
 */
int capturehost_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* Registers capturehost_clib in g_ui.interp. */
void register_capture_host_command();

#endif
