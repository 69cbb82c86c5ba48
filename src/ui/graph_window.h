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
    int open;                   /* 1 while the Graph window exists */
    int width, height;          /* its image, pixels; 0 before its first
                                 * size */
    graph_type type;            /* the window's graph */
    int dir;                    /* its direction, 1 or 2; 0 not chosen yet */
    int have_view;              /* 1 once `view` is set for this load */
    graph_view view;            /* its view */
    std::vector<graph_view> zooms;   /* views to go back to, latest last */
    std::vector<uint8_t> seg_events; /* SEG_EVENT_* bits per main record,
                                      * from the events pass; built with the
                                      * first graph of a load, empty before */
};

extern graph_ui_state g_graph;

/* graph_state_reset -- Puts g_graph back to its process-start state:
 * nothing built, the window closed, no size, tsg, no direction chosen. */
void graph_state_reset();

/* graph_forget -- Drops every built series, the window's view and its
 * direction (a new load starts with its own default); the window's size
 * and type stay. */
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

/*
 * graph_follow_view --
 *	When the Graph window is open, draws its graph again with the main
 *	view's span shaded (a new load's graph over the whole connection).
 *	Called after every move of the main view and after every load.
 */
void graph_follow_view();

/*
 * graph_clib SUBCOMMAND ?ARGS? --
 *	The Graph window's commands, X and Y in image pixels:
 *	  open | close               the window opened or gone
 *	  size W H                   the image size; redraws
 *	  type N                     graph N (1 tsg ... 5 inflight), whole view
 *	  dir                        the other direction, whole view
 *	  zoom X0 Y0 X1 Y1           the rectangle's spans; the view before
 *	                             goes on the zoom stack
 *	  back                       the view on top of the stack (bell: none)
 *	  wheel X Y IN VALUE         zooms time (value axis when VALUE is 1) in
 *	                             (IN 1) or out about the pointer
 *	  window                     the next throughput window: the default,
 *	                             0.1, 0.5, 1, 5 s
 *	  pan DX DY                  moves a tenth of a span per step
 *	  home                       the whole connection; empties the stack
 *	  status X Y                 result: "t = ... s   <value name> = ..."
 *	  click X Y                  result: the number of the segment drawn
 *	                             nearest (within 8 px), "" for none
 *	  save PATH                  the current view into PATH (format by its
 *	                             extension); an error with the reason
 *	  title                      result: the window's title text,
 *	                             "Graph: TYPE DIR" (", over W s" for tput)
 *	Redraws fill the photo image "wpgraph". Without a load: nothing.
 */
int graph_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
