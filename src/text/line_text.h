/*
 * line_text.h --
 *
 *	The text side of the line list: the label of a line, formatted from
 *	its record whenever it is published, and the priming pass that runs
 *	every segment through the summary in trace order after a load, so
 *	that the relative sequence table and the name caches hold the loaded
 *	connection before the user clicks any arrow. The loader runs the
 *	priming beside analyse_trace, on a second thread.
 */

#ifndef WIREPAINT_TEXT_LINE_TEXT_H
#define WIREPAINT_TEXT_LINE_TEXT_H

#include <cstddef>
#include <cstdint>

struct seg_record;

/* Room for a label, terminator included; every label fits. */
enum { LINE_LABEL_SIZE = 256 };

/*
 * format_record_label --
 *	Writes the label of record `r`, " %ld:%ld(%d) ack %ld win %d " with
 *	seq, seq + paylen, paylen, ack and the window, into `label` (`size`
 *	bytes, cut to fit and zero-terminated).
 */
void format_record_label(const seg_record &r, char *label, size_t size);

/*
 * format_line_label --
 *	The label of line `line`, that of main record `line`, into `label`
 *	as format_record_label writes it; an empty text for an index outside
 *	the main trace. A pure function of the record.
 */
void format_line_label(int32_t line, char *label, size_t size);

/*
 * prime_text_state --
 *	prime_record_texts when there is a line list and g_trace.main.count
 *	lines. Gives the relative
 *	sequence table, the name caches and standard output exactly what
 *	prime_text_state_literal gives them, without formatting any text.
 *	Does nothing when the count is 0 or there is no line list.
 *	Side effects: the relative sequence table and the name caches;
 *	"[bad opt]" on standard output for each malformed option.
 */
void prime_text_state();

/*
 * prime_record_texts --
 *	prime_text_state without the line list, over every main record: the
 *	same tables, standard output and later texts as
 *	prime_text_state_literal, for records as the decoder makes them (its
 *	flow entry holding the hosts and ports of its bytes, its flags those
 *	of its bytes, the trace's count of records without options). Only
 *	the records that may change something go through the summary: those
 *	with SYN, the first of each flow entry, and those whose options may
 *	be malformed; a record without flow entry (0) always does. The last
 *	are found in the decoder's list of them (trace_array.bad_opt) when
 *	it holds every record and the copy length the summary reads is not
 *	shorter than the decoder's; else by reading each record's bytes again
 *	(record_may_mark_bad_options). The bytes of the others are not read.
 *	Reads nothing the analysis passes write, so the loader runs it
 *	on a second thread while they run. Side effects as prime_text_state.
 */
void prime_record_texts();

/*
 * prime_text_state_literal --
 *	The literal form of the priming: segment_detail_text(i, 1) for each
 *	line i in index order, the text dropped. Side effects as
 *	prime_text_state, and g_text.detail holds the last line's summary.
 */
void prime_text_state_literal();

#endif
