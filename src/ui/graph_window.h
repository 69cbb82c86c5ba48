/*
 * graph_window.h --
 *
 *	The graphs of the loaded connection in the interface: the -G picture
 *	written without a window, and the Graph window (a Tk photo filled
 *	from a cairo image, linked to the ladder's view). The series come
 *	from graph/series.h and are built once per load, type and direction;
 *	the drawing is render/graph_render.h.
 */

#ifndef WIREPAINT_UI_GRAPH_WINDOW_H
#define WIREPAINT_UI_GRAPH_WINDOW_H

#include <memory>
#include <string>
#include <vector>

#include <tcl.h>

#include "graph/series.h"
#include "render/graph_render.h"

/*
 * The graph state of the interface. One instance, g_graph: the series
 * built for the current load (one slot per type and direction, built on
 * first use and dropped by graph_forget before the load they come from
 * goes), and the window's view with its zoom stack.
 */
struct graph_ui_state {
    std::unique_ptr<graph_data> built[GRAPH_TYPES][2];  /* [type][dir - 1] */
    double tput_window;         /* s; 0: the default of the direction */
    graph_type type;            /* the window's graph */
    int dir;                    /* its direction, 1 or 2; 0 not chosen yet */
    graph_view view;            /* its view; width 0: not shown yet */
    std::vector<graph_view> zooms;   /* views to go back to, latest last */
    int flash_line;             /* line the last click centred; -1 none */
};

extern graph_ui_state g_graph;

/* graph_forget -- Drops every built series and the window's view. */
void graph_forget();

/*
 * graph_of --
 *	The graph of `type` and `dir` (1 or 2) of the current load, built on
 *	first use. Valid until graph_forget.
 */
const graph_data &graph_of(graph_type type, int dir);

/*
 * parse_graph_request --
 *	Reads "TYPE[:DIR]" (TYPE tsg, tput, rtt, owd or inflight; DIR LR or
 *	RL). Returns 1 and sets *type and *dir (0 when no DIR was given);
 *	returns 0 for anything else.
 */
int parse_graph_request(const char *text, graph_type *type, int *dir);

/*
 * fit_values --
 *	Sets v's value axis to the extremes of g's points within v's time
 *	span (plus 2%), found through each series' pyramid; keeps it when
 *	the span holds no point.
 */
void fit_values(const graph_data &g, graph_view *v);

/*
 * save_graph_file --
 *	Writes graph `type` of direction `dir` (0: default_graph_dir) of the
 *	current load into `path`, `w` x `h` pixels, over [from, to] when
 *	`span` is set (else the whole connection), values fitted to the span.
 *	Returns 1; 0 with a one-line reason in *error.
 */
int save_graph_file(graph_type type, int dir, int w, int h, int span, double from, double to,
                    const std::string &path, std::string *error);

#endif
