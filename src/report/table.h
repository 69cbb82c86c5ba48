/*
 * table.h --
 *
 *	The per-segment table: one CSV row (RFC 4180) per line of the diagram,
 *	in line-list order, after one header row. It gives for every segment
 *	what the diagram draws and what the analysis found, so that scripts
 *	can compare runs without reading pictures.
 *
 *	Columns: index (the segment number, from 1), direction ("L>R" from the
 *	left host, "R>L" from the right), class (the legend's words), send
 *	time, arrival time, one-way delay (s, on the diagram's clock), relative
 *	seq, relative ack (empty without the ACK flag), payload length,
 *	window, flags (the summary line's letters, separated by one blank),
 *	acked_by (the index of the acknowledging segment), ack_time and
 *	response_time (s); after a two-file load also far_end, "measured"
 *	when the segment's copy was found in the other capture and
 *	"estimated" otherwise; last, events: the analysis event kinds of the
 *	segment (analysis/events.h) joined by ";", empty when none. A value
 *	that does not exist is an empty cell.
 *	Times print with "%.9g", enough digits to give back the same float.
 */

#ifndef WIREPAINT_REPORT_TABLE_H
#define WIREPAINT_REPORT_TABLE_H

#include <cstdio>
#include <string>

/*
 * csv_field --
 *	`value` as one RFC 4180 field: unchanged, or within double quotes
 *	with each quote doubled when it holds a comma, a quote, CR or LF.
 */
std::string csv_field(const std::string &value);

/* The header row's text, without the line end; `two_files` adds far_end. */
std::string table_header(int two_files);

/*
 * table_row --
 *	The row of line `line` (0 <= line < g_trace.main.count), without the
 *	line end. Reads g_trace (records and lines) and, with `two_files`,
 *	the loader's copy index of the line.
 */
std::string table_row(int line, int two_files);

/*
 * write_table --
 *	Writes the header and every row to `out`, each ended by CR LF.
 *	Two-file columns when the loaded set has a peer trace. Returns 1, or
 *	0 when writing failed.
 */
int write_table(FILE *out);

#endif
