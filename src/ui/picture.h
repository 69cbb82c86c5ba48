/*
 * picture.h --
 *
 *	Pictures of the current view: the diagram published once more, with
 *	every publication and draw procedure going to a display list instead
 *	of the interpreter (g_ui.picture), then drawn by the cairo renderer.
 *	The window's "Save as" and the -o option both come through here, so
 *	the file shows what the window shows.
 */

#ifndef WIREPAINT_UI_PICTURE_H
#define WIREPAINT_UI_PICTURE_H

#include <string>

#include <tcl.h>

struct display_list;

/*
 * build_picture --
 *	Empties `dl` and fills it with the diagram of the current view: the
 *	canvas sizes, the frames, the arrows, the overview lines, the labels
 *	and time stamps where switched on (g_ui.texton, timeon), the view
 *	box, the host names, and both canvases' view fractions (main_scroll /
 *	2, over_scroll). Runs the publications as a redraw does, so the hit
 *	table and the visible range are rewritten with the same values. The
 *	interpreter is not touched. With nothing loaded only the frames.
 */
void build_picture(display_list *dl);

/*
 * save_picture --
 *	build_picture, then render_picture into `path` in the format of its
 *	extension. Returns 1 on success; 0 with a one-line reason in *error.
 */
int save_picture(const std::string &path, std::string *error);

/*
 * saveas_clib PATH --
 *	save_picture of PATH. Result: empty on success; on failure an error
 *	(TCL_ERROR) with the reason, for the script to show.
 */
int saveas_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
