/*
 * line_text.h --
 *
 *	The text part of the line-list build: the label of every line and the
 *	priming pass that runs every segment through the summary in trace
 *	order, so that the relative sequence table and the name caches hold
 *	the loaded connection before the user clicks any arrow. The loader
 *	calls it right after analyse_trace.
 */

#ifndef WIREPAINT_TEXT_LINE_TEXT_H
#define WIREPAINT_TEXT_LINE_TEXT_H

#include <cstddef>

struct seg_record;

/*
 * format_line_label --
 *	Writes the label of record `r`, " %ld:%ld(%d) ack %ld win %d " with
 *	seq, seq + paylen, paylen, ack and the window, into `label` (`size`
 *	bytes, cut to fit and zero-terminated).
 */
void format_line_label(const seg_record &r, char *label, size_t size);

/*
 * annotate_lines --
 *	For each line i of g_trace.lines, in index order over the
 *	g_trace.main.count lines: writes the label of main record i into
 *	line i's label, then calls segment_detail_text(i, 1) and drops the
 *	text. Does nothing when the count is 0 or there is no line list.
 *	Side effects: the labels; the relative sequence table and the name
 *	caches; "[bad opt]" on standard output for each malformed option;
 *	g_text.detail holds the last line's summary.
 */
void annotate_lines();

#endif
