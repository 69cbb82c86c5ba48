/*
 * series.h --
 *
 *	The series of the connection's graphs: pure functions of the loaded
 *	connection (g_trace: the main trace's records and the line list), one
 *	graph per type and direction. A direction is the segments one host
 *	sends: 1 the left host's (LR), 2 the right host's (RL), as the
 *	lines' `dir` says.
 *
 *	    tsg       time-sequence: data segments as bars seq..seq+length by
 *	              class, the other side's ACK and window lines, its
 *	              duplicate-ACK ticks, SACK blocks and zero windows, the
 *	              SYN, FIN and RST labels, and event marks where a
 *	              per-segment event flag set is given
 *	    tput      throughput and goodput over a moving window, bit/s
 *	    rtt       acknowledgement-time samples (Karn) and TCP-timestamp
 *	              echo samples, s
 *	    owd       one-way delay of every line, both directions, measured
 *	              (copy found in the peer capture) or estimated, s
 *	    inflight  bytes in flight as seen at the capture point, and the
 *	              receive window
 *
 *	Every series holds its points in time order, with the pyramid of
 *	column extremes (graph/columns.h) built, so that a view of any span
 *	is reduced to pixel columns without a scan.
 */

#ifndef WIREPAINT_GRAPH_SERIES_H
#define WIREPAINT_GRAPH_SERIES_H

#include <cstdint>
#include <string>
#include <vector>

#include "graph/columns.h"

enum graph_type { GRAPH_TSG = 0, GRAPH_TPUT, GRAPH_RTT, GRAPH_OWD, GRAPH_INFLIGHT, GRAPH_TYPES };

/* How a series is drawn. */
enum series_style {
    STYLE_BARS,     /* a vertical bar lo..hi at t */
    STYLE_STEPS,    /* a stepped line through (t, hi): across, then up */
    STYLE_LINE,     /* a line through (t, hi) */
    STYLE_DOTS,     /* a filled dot at (t, hi) */
    STYLE_HOLLOW,   /* a hollow dot at (t, hi) */
    STYLE_TICKS,    /* a short level tick at (t, hi) */
    STYLE_MARKS,    /* a cross over the bar lo..hi at t */
    STYLE_LABELS    /* a text (labels[k]) at (t, hi) */
};

/* One series of a graph. */
struct graph_series {
    std::string name;           /* legend text */
    std::string colour;         /* "#rrggbb" */
    series_style style;
    int dashed;                 /* 1: drawn dashed (a guessed window) */
    point_columns pts;          /* by t, ascending */
    std::vector<std::string> labels;     /* STYLE_LABELS: one per point */
    column_pyramid pyr;         /* extremes of pts, built with them */
};

/* The values of a graph's vertical axis. */
enum graph_unit { UNIT_BYTES, UNIT_BITS_PER_S, UNIT_SECONDS };

/* One graph: its series, what it shows and the extent of its points. */
struct graph_data {
    graph_type type;
    int dir;                    /* 1 LR, 2 RL; owd shows both */
    std::string title;          /* "time-sequence 10.0.0.1:80 -> ..." */
    graph_unit unit;
    std::string y_name;         /* the value axis: "sequence offset" ... */
    std::vector<graph_series> series;
    std::vector<std::string> notes;  /* legend notes: "window scale unknown" */
    double t_min, t_max;        /* s, extent of all points; 0 0 when none */
    double v_min, v_max;        /* value extent, 0 included */
    double window;              /* s, a tput graph's moving window; 0 else */
};

/*
 * Event flags of one segment, set by an events pass: a tsg built with a
 * flag set marks the segments that carry them. Bits of a uint8_t per
 * main-trace record.
 */
enum {
    SEG_EVENT_RETRANSMISSION = 0x01,
    SEG_EVENT_OUT_OF_ORDER = 0x02,
    SEG_EVENT_LOST = 0x04,
    SEG_EVENT_ZERO_WINDOW_PROBE = 0x08
};

/* What a build may be given beside the loaded connection. */
struct graph_inputs {
    const uint8_t *seg_events;  /* per main record, SEG_EVENT_* bits; null:
                                 * no events pass ran, no marks */
    double tput_window;         /* s, throughput window; <= 0: the default */
};

/*
 * segment_event_marks --
 *	The SEG_EVENT_* bits of every main-trace record from the events pass
 *	(g_events) into *out, one byte per record: retransmissions of every
 *	kind, out of order, lost segment, zero-window probe.
 */
void segment_event_marks(std::vector<uint8_t> *out);

/* The type's name on the command line and in the window: "tsg" ... */
const char *graph_type_name(graph_type type);

/* The type named `name`; GRAPH_TYPES for none. */
graph_type graph_type_named(const char *name);

/*
 * default_graph_dir --
 *	The direction that sent more payload in the loaded connection: 1
 *	(LR) or 2 (RL), 1 on a tie or with nothing loaded.
 */
int default_graph_dir();

/*
 * build_graph --
 *	The graph of `type` for direction `dir` (1 or 2) of the loaded
 *	connection, with `in`. Reads g_trace (main records, their copies,
 *	lines) and, for owd, the loader's copy table; changes nothing. An
 *	empty graph (no series points) when nothing is loaded.
 */
graph_data build_graph(graph_type type, int dir, const graph_inputs &in);

/*
 * build_graph_literal --
 *	build_graph through its literal passes: every record's options read,
 *	the default throughput window from a pass of its own, the extents
 *	and the pyramid from passes of their own. The same graph; kept to
 *	check build_graph against.
 */
graph_data build_graph_literal(graph_type type, int dir, const graph_inputs &in);

/*
 * window_scale_shifts --
 *	The window scale shifts of the connection's handshake: *left and
 *	*right get the shift applied to the windows of the left and right
 *	host's segments (0 when the option is missing from either SYN).
 *	Returns 0 when either SYN is missing from the capture (the shifts
 *	are then unknown and set 0), 1 otherwise.
 */
int window_scale_shifts(int *left, int *right);

/*
 * tput_default_window --
 *	The throughput window of direction `dir`: 1 s, or 20 times the
 *	median acknowledgement-time sample when that is shorter.
 */
double tput_default_window(int dir);

#endif
