/*
 * output.h --
 *
 *	What wirepaint writes besides its window: the -o picture, the -t view
 *	span, the -x per-segment table and the -S statistics, and the window
 *	commands that reach the same code ("Save as", "Statistics"). With -o,
 *	-x or -S the program loads, writes and exits without a window: no
 *	display is needed and Tk is never initialised.
 *
 *	    -o FILE        picture of the first view, .svg .pdf .png .ps .eps
 *	    -t FROM:TO     the main view from FROM to TO seconds (diagram times)
 *	    -x FILE        the per-segment table as CSV; "-" for standard output
 *	    -S             the statistics on standard output
 *	    -E             the analysis events on standard output
 *	    -G TYPE[:DIR]  -o writes that graph (tsg tput rtt owd inflight;
 *	                   LR or RL) instead of the ladder; without -o the
 *	                   window opens its Graph window on it
 *	    -P             with -L -o FILE.html: each connection's own report
 *	                   page too, in the folder FILE-pages beside it
 */

#ifndef WIREPAINT_UI_OUTPUT_H
#define WIREPAINT_UI_OUTPUT_H

#include <string>

#include <tcl.h>

/* The output options of the command line. One instance, g_output. */
struct output_request {
    std::string picture;   /* -o file name; "" for none */
    int have_span;         /* 1 once -t gave a span */
    float span_from;       /* s, -t FROM (diagram time) */
    float span_to;         /* s, -t TO; span_from < span_to */
    std::string table;     /* -x file name, "-" for stdout; "" for none */
    int statistics;        /* 1 for -S */
    int events;            /* 1 for -E */
    int graph;             /* 1 once -G named a graph */
    int graph_type;        /* -G TYPE: a graph_type (graph/series.h) */
    int graph_dir;         /* -G DIR: 1 LR, 2 RL, 0 the default */
    int pages;             /* 1 for -P: with -L -o FILE.html, each
                            * connection's own page too, in a folder */
};

extern output_request g_output;

/* Puts g_output back to no output options. */
void output_request_reset();

/* The option letters this file handles, for the getopt string. */
extern const char output_optstring[];

/*
 * note_output_option --
 *	Takes option letter `c` ('o', 't', 'x', 'S', 'E', 'G' or 'P') with its argument.
 *	A -G that is not TYPE[:DIR] exits the same way.
 *	A -o name without a known extension, or a -t that is not two numbers
 *	FROM:TO with FROM < TO, writes a message naming the option on
 *	standard error and exits with status 1. Returns 1 when `c` was one
 *	of these letters, 0 otherwise.
 */
int note_output_option(int c, const char *arg);

/* The usage lines of the output options, on standard error. */
void print_output_usage();

/* Nonzero when -o, -x, -S or -E asks for a run without a window. */
int output_without_window();

/* Nonzero when -x -, -S or -E writes on standard output. */
int output_takes_stdout();

/*
 * set_up_views --
 *	The views a window of the -g size (1000x800 without one) would start
 *	with: canvas sizes, labels and time stamps on, and after a load the
 *	set-up view with -t applied.
 */
void set_up_views();

/*
 * run_without_window --
 *	After the command-line load: sizes the canvases as the window would
 *	for the -g size (1000x800 without one), sets up the view, applies -t,
 *	then writes the -x table, the -S statistics, the -E events and the
 *	-o picture, in that order. Returns the exit status: 0, or 1 after a message on
 *	standard error when a file could not be written.
 */
int run_without_window();

/*
 * apply_start_span --
 *	In the window, after the first drawing: a -t span moves the main view
 *	there and redraws, and a -G graph opens the Graph window on it.
 *	Nothing without a drawn load.
 */
void apply_start_span();

/* statistics_clib: the result is the statistics text. */
int statistics_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

/*
 * register_output_commands --
 *	Registers the commands beyond the sixteen: saveas_clib, savereport_clib,
 *	statistics_clib,
 *	view_clib, hover_clib, problems_clib and graph_clib.
 */
void register_output_commands();

#endif
