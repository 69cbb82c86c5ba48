/*
 * startup.h --
 *
 *	The steps of wirepaint's start-up after the command line: the
 *	interpreter with Tk, the window and canvas sizes published to the UI
 *	script, the lookup and sourcing of the script, and the event loop.
 *	main() runs them in order; each is a separate function so tests can
 *	check the arithmetic and the lookup on their own.
 */

#ifndef WIREPAINT_UI_STARTUP_H
#define WIREPAINT_UI_STARTUP_H

#include <string>

/* Size of one slot of the script directory table. */
enum { SCRIPT_DIR_SIZE = 256 };

/* The directories a binary run from its build tree searches for the UI
 * script, in order: "./", then the installed script's directory (the
 * install prefix's share/wirepaint). */
extern const char script_dirs[2][SCRIPT_DIR_SIZE];

/*
 * in_build_tree --
 *	Whether the binary at the absolute path `exe` lies in the folder
 *	`build_dir` (both as real paths, links resolved). False for a
 *	relative or empty `exe` and when either cannot be resolved.
 */
bool in_build_tree(const char *exe, const char *build_dir);

/*
 * script_lookup_dirs --
 *	The directories the binary at `exe` searches for the UI script. Run
 *	from its build tree (`build_dir`): script_dirs, "./" first. Anywhere
 *	else (installed, or a path that cannot be resolved): only installed
 *	places, never the current folder: the share/wirepaint folder beside
 *	the binary's bin folder, then the install prefix's (script_dirs[1]),
 *	which is also the first when the binary's folder is unknown.
 */
void script_lookup_dirs(const char *exe, const char *build_dir, char dirs[2][SCRIPT_DIR_SIZE]);

/*
 * start_interpreter --
 *	Creates the interpreter (g_ui.interp), initialises Tcl and Tk and
 *	fetches the main window (g_ui.main_window). A failure writes
 *	"Tcl_Init failed:  %s\n", "Tk_Init failed:  %s\n" or "%s\n" with the
 *	interpreter's result on standard error and exits with status -1.
 */
void start_interpreter(const char *argv0);

/*
 * open_interpreter, interpreter_failed --
 *	start_interpreter after Tcl_FindExecutable, in two steps, so that the
 *	first can run while the capture files load on another thread: it
 *	ends nothing and gives the failure's whole text (empty when none);
 *	the second writes a text that is not empty and exits with status -1.
 */
std::string open_interpreter();
void interpreter_failed(const std::string &failure);

/*
 * compute_window_size --
 *	Without a -g size (win_width 0), the window is 0.7 of the virtual
 *	root: win_width = (int)(root_width * 0.7), win_height likewise. A -g
 *	size without a height takes the height from the root the same way.
 */
void compute_window_size(int root_width, int root_height);

/*
 * compute_canvas_sizes --
 *	main_width = (int)(0.8 * win_width), over_width = (int)(0.2 *
 *	win_width), main_height = over_height = win_height.
 */
void compute_canvas_sizes();

/* compute_window_size with the main window's virtual root, then the
 * canvas sizes. */
void size_window();

/*
 * publish_sizes --
 *	Sets canvas_width, canvas_height, subcanvas_width, subcanvas_height,
 *	appl_x and appl_y in that order, tracefiles, the list of the
 *	capture files loaded from the command line, and capturehost, the
 *	capture host -H named ("" without).
 */
void publish_sizes();

/*
 * find_script --
 *	Forms "<dir>/wirepaint.tcl" with dirs[0] and stats it; when that
 *	fails, forms it with dirs[1] and stats that. Leaves the path formed
 *	last in *path and returns the index of the directory that holds the
 *	script, or -1 when neither does.
 */
int find_script(const char dirs[2][SCRIPT_DIR_SIZE], std::string *path);

/*
 * source_script --
 *	find_script over the directories script_lookup_dirs gives for this
 *	binary (/proc/self/exe), sets tcldir to the directory found (the
 *	second one when neither holds the script) and evaluates "source PATH".
 *	With -V writes "wirepaint: UI script: PATH" (or "wirepaint: no UI
 *	script: PATH") on standard error. The result is ignored: a missing or
 *	failing script leaves the window empty.
 */
void source_script();

/*
 * run_event_loop --
 *	Runs the Tk event loop until the main window is destroyed, then
 *	evaluates "exit", which ends the process with status 0.
 */
void run_event_loop();

#endif
