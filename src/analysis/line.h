/*
 * line.h --
 *
 *	The line record: one arrow of the ladder diagram, one per main-trace
 *	record at the same index. The line list lives in g_trace.lines (the
 *	loader's reset frees it with the records); it holds exactly
 *	g_trace.main.count lines. analyse_trace fills every field; in two-file
 *	mode the loader then corrects t_send, t_recv, delay and cls.
 *
 *	A line holds only what the drawing needs of it. Its label is a pure
 *	function of its record and is formatted when it is published
 *	(format_line_label, text/line_text.h); its packet bytes are its
 *	record's copy, record_bytes(&g_trace.main, i).
 */

#ifndef WIREPAINT_ANALYSIS_LINE_H
#define WIREPAINT_ANALYSIS_LINE_H

#include <cstdint>

struct line_record {
    float t_send;     /* s, departure on the sender's axis, main clock */
    float t_recv;     /* s, arrival on the receiver's axis */
    float delay;      /* s, t_recv - t_send */
    uint8_t dir;      /* 1: left host to right host; 2: right to left */
    uint8_t cls;      /* colour class: index into the color table (0-6) */
};

/* A line list holds one line per segment: kept at 16 bytes. */
static_assert(sizeof(line_record) == 16, "a line is 16 bytes");

/* Colour classes of line_record.cls. */
enum {
    CLS_DATA = 0,      /* "blue": segment with payload */
    CLS_NODATA = 1,    /* "red": segment without payload */
    CLS_DUPACK = 2,    /* "green" */
    CLS_RETRANS = 3,   /* "orange" */
    CLS_LOST = 4,      /* "purple"; also a line without a peer copy */
    CLS_UNUSED = 5,    /* "purple", never produced */
    CLS_OUTORDER = 6   /* "brown" */
};

/* The color table: seven names in slots of 50 bytes, indexed by cls. */
extern const char color_table[7][50];

#endif
