/*
 * ui_state.h --
 *
 *	The process-wide state of wirepaint's user interface: the interpreter
 *	and window handles, the window and canvas sizes, the two view windows
 *	that map segment times to canvas pixels, the hit table of the arrows
 *	on the main canvas, the label and time-stamp flags and the message
 *	buffer of the detail popup.
 *
 *	Everything lives in one record, g_ui, with one instance. ui_state_reset
 *	puts it back to its process-start state, so tests can start afresh.
 *	The trace data the interface draws lives in g_trace (trace/trace.h).
 */

#ifndef WIREPAINT_UI_UI_STATE_H
#define WIREPAINT_UI_UI_STATE_H

#include <cstdint>

#include <tcl.h>

/* Tk's window handle, declared as tk.h does, so that this header does not
 * bring in the X11 headers and their macros. */
struct Tk_Window_;
typedef struct Tk_Window_ *Tk_Window;

struct display_list;

/* Most arrows one publication puts on the main canvas. */
enum { MAX_HITS = 256 };

/* Size of the message buffer: the detail text, its newline and the NUL. */
enum { MESSAGE_SIZE = 1024 };

/*
 * One arrow on the main canvas as the click command sees it: the line
 * a*x + b*y + c = 0 through its two published end points, in main-canvas
 * scroll-region pixels, and the index of the line it draws. The
 * coefficients are held in 64 bits so that the end points of arrows far
 * outside the canvas cannot overflow them.
 */
struct hit_entry {
    int64_t a;           /* y1 - y2 */
    int64_t b;           /* x2 - x1 */
    int64_t c;           /* x1 * y2 - x2 * y1 */
    int32_t line;        /* index into g_trace.lines */
};

/*
 * All state of the user interface. One instance, g_ui.
 *
 * Times are seconds on the main trace's clock (the clock of
 * line_record.t_send and t_recv); pixels are canvas coordinates.
 * Main canvas: time t lies at y = 20 + main_scale * (t - main_start); its
 * scroll region is 2 * main_height high and it shows half of it.
 * Overview canvas: t lies at y = 5 + over_scale * (t - over_start); its
 * scroll region is 4 * over_height high and it shows a quarter of it.
 */
struct ui_state {
    /* Interpreter and windows. */
    Tcl_Interp *interp;       /* the one interpreter; set at start-up */
    Tk_Window main_window;    /* Tk main window; set at start-up, null in
                               * tests that run Tcl without Tk */
    Tk_Window main_canvas;    /* ".subframe1.canvas"; looked up by init_clib */
    Tk_Window over_canvas;    /* ".subframe2.canvas"; looked up by init_clib */

    /* Window and canvas sizes, pixels; set at start-up, fixed after. */
    int win_x, win_y;         /* window position from -g; 0 otherwise */
    int win_width;            /* from -g, else 0.7 of the virtual root */
    int win_height;           /* as win_width */
    int main_width;           /* main canvas: 0.8 * win_width */
    int main_height;          /* main canvas: win_height */
    int over_width;           /* overview canvas: 0.2 * win_width */
    int over_height;          /* overview canvas: win_height */

    /* View windows; set by setup_view after each load, then changed by the
     * zoom and step commands and the main scrollbar. */
    float delay_unit;         /* s; unit of the navigation limits: the -d
                               * value until set-up puts the first line's
                               * delay there; 99999 at start */
    float main_start;         /* s at the top of the main scroll region */
    float main_end;           /* s at its bottom */
    float main_scale;         /* px/s of the main canvas */
    float main_base_scale;    /* px/s of the main canvas at zoom level 0 */
    int main_zoom;            /* zoom level of the main canvas; no bound */
    float main_scroll;        /* 0..1: where the visible half of the main
                               * scroll region lies; yview fraction * 2 */
    float over_start;         /* s at the top of the overview region */
    float over_end;           /* s bounding the overview window (limits) */
    float over_scale;         /* px/s of the overview canvas */
    float over_base_scale;    /* px/s of the overview at zoom level 0 */
    int over_zoom;            /* zoom level of the overview canvas */
    float over_scroll;        /* 0..0.75: yview fraction of the overview */
    int view_ready;           /* 1 once setup_view ran for the current
                               * load; cleared when a reload starts */

    /* Publication of the main canvas; rewritten by every publish_lines. */
    int first_visible;        /* first line published; -1 none */
    int last_visible;         /* last line published; -1 none */
    hit_entry hits[MAX_HITS]; /* one entry per published arrow, in order */
    int hit_count;            /* valid entries of hits */

    /* Toggles: mirror the script variables texton and timeon; set to 1 by
     * redraw_all and from the variables by text_clib and time_clib. */
    int texton;
    int timeon;

    /* Detail popup text: the detail text and a newline, cut to fit. */
    char message[MESSAGE_SIZE];

    /* Limit bell: how often it rang in this process (for tests). */
    unsigned bell_count;

    /* Where publications go: null for the interpreter (the window); a
     * display list while a picture is made (ui/picture.h), which then
     * takes every ui_set_* and ui_eval instead of the interpreter. */
    display_list *picture;
};

extern ui_state g_ui;

/*
 * ui_state_reset --
 *	Puts g_ui back to its process-start state: no interpreter or windows,
 *	all sizes and view fields 0, delay_unit 99999, no visible range, an
 *	empty hit table, both toggles off, an empty message. The interpreter
 *	itself is not deleted; a test that made one deletes it.
 */
void ui_state_reset();

/*
 * ui_view_ready --
 *	Nonzero when a load has finished and its views are set up, so the
 *	navigation commands have a diagram to move.
 */
int ui_view_ready();

/*
 * ring_limit_bell --
 *	Rings the X bell on the main window's display at volume percent 0 and
 *	counts the ring in g_ui.bell_count. Without a main window only counts.
 */
void ring_limit_bell();

/*
 * ui_eval --
 *	Evaluates `script` in the interpreter and drops its result and any
 *	error, so that a failing script procedure never reaches the caller.
 *	Does nothing without an interpreter. While g_ui.picture is set, hands
 *	`script` to that display list (dl_eval) instead.
 */
void ui_eval(const char *script);

/*
 * ui_set_var, ui_set_elem, ui_set_elem_int --
 *	Set a global interpreter variable, or the element "index" (decimal
 *	text) of a global array, to a text or to an int printed with "%d".
 *	While g_ui.picture is set, the value goes to that display list
 *	instead, and the interpreter is not touched.
 */
void ui_set_var(const char *name, const char *value);
void ui_set_var_int(const char *name, int value);
void ui_set_elem(const char *name, int index, const char *value);
void ui_set_elem_int(const char *name, int index, int value);

/*
 * ui_obj_cache_reset --
 *	Drops the Tcl objects ui_set_* keep for reuse (variable names, element
 *	keys, recent texts); they are made again when next needed.
 */
void ui_obj_cache_reset();

/*
 * ui_get_var --
 *	The text of a global interpreter variable, or null when it does not
 *	exist (or there is no interpreter).
 */
const char *ui_get_var(const char *name);

#endif
