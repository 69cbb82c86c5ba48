/*
 * class_name.h --
 *
 *	What each colour class of the line list means, in the words of the
 *	window's legend. Tables, pictures and statistics name classes by these
 *	texts, so a reader sees the same word everywhere.
 */

#ifndef WIREPAINT_ANALYSIS_CLASS_NAME_H
#define WIREPAINT_ANALYSIS_CLASS_NAME_H

/* How many classes the legend shows, and which, in its order. */
enum { LEGEND_CLASSES = 6 };
extern const int legend_classes[LEGEND_CLASSES];

/*
 * class_name --
 *	The legend's text for colour class `cls` (line_record.cls): "data",
 *	"no payload", "duplicate ACK", "retransmission", "lost / no copy in
 *	peer capture" (class 4, and the never produced 5, drawn alike), "out
 *	of order"; "unknown" outside the table.
 */
const char *class_name(int cls);

#endif
