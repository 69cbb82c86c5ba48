/*
 * line_index.h --
 *
 *	Finding the lines inside a view window without scanning the line list
 *	from line 0.
 *
 *	Both canvases publish the lines of a window [start, end] by one scan
 *	in list order: a line that arrives before the window starts
 *	(start > t_recv) is skipped, and the first line looked at that is sent
 *	after the window ends (t_send > end) ends the scan; the main canvas
 *	also stops after 256 lines. window_lines_literal is that scan.
 *
 *	window_lines gives exactly the same lines from an index built once
 *	per load: prefix maxima of t_recv and t_send, and the maxima of
 *	t_recv over blocks of lines. Every line before the first whose prefix
 *	maximum of t_recv reaches start is skipped, and none before the first
 *	whose prefix maximum of t_send passes end can end the scan; both are
 *	found by binary search. Inside the window, runs of skipped lines are
 *	passed a block at a time. A NaN time never satisfies either test, so
 *	it counts as +inf for the skip maxima and as -inf for the stop maxima.
 *
 *	The index belongs to one line list: line_index_build makes it for
 *	g_trace.lines after a load, line_index_clear drops it before the list
 *	is freed, and a query on a list the index was not built for falls back
 *	to the literal scan.
 */

#ifndef WIREPAINT_UI_LINE_INDEX_H
#define WIREPAINT_UI_LINE_INDEX_H

#include <cstdint>
#include <vector>

struct line_record;

/* Lines per block of the block maxima. */
enum { LINE_INDEX_BLOCK = 64 };

/*
 * The index of one line list. One instance, g_line_index; every field is
 * set by line_index_build and emptied by line_index_clear.
 */
struct line_index_state {
    const line_record *lines;     /* the list indexed; null when none */
    int32_t count;                /* its number of lines */
    std::vector<float> recv_max;  /* s; [j]: max t_recv of lines 0..j, NaN as +inf */
    std::vector<float> send_max;  /* s; [j]: max t_send of lines 0..j, NaN as -inf */
    std::vector<float> block_recv_max; /* s; [b]: max t_recv of the lines of
                                        * block b (LINE_INDEX_BLOCK lines), NaN as +inf */
};

extern line_index_state g_line_index;

/*
 * line_index_build --
 *	Builds the index for `count` lines at `lines` (O(count)), replacing
 *	any earlier one. Allocates three float arrays: about 2.02 floats per
 *	line.
 */
void line_index_build(const line_record *lines, int32_t count);

/* line_index_clear -- Frees the index; queries then scan literally. */
void line_index_clear();

/*
 * The lines a window scan gives: indices into the list, in list order.
 * `first` is the first line that is not skipped and `stop` the line that
 * ended the scan (the count when none did), so every published line lies
 * in [first, stop); with a cap the scan may end earlier, at the cap.
 */
struct window_span {
    int32_t first;
    int32_t stop;
};

/*
 * window_lines_literal --
 *	The scan in list order from line 0 over `count` lines: skip a line
 *	with start > t_recv, end at a line with t_send > end, stop after
 *	`cap` lines. Appends the indices of the lines it keeps to `out`
 *	(cleared first).
 */
void window_lines_literal(const line_record *lines, int32_t count, float start, float end,
                          int32_t cap, std::vector<int32_t> &out);

/*
 * window_lines --
 *	The same lines as window_lines_literal, found through g_line_index
 *	when it was built for (lines, count), else by the literal scan.
 */
void window_lines(const line_record *lines, int32_t count, float start, float end, int32_t cap,
                  std::vector<int32_t> &out);

/*
 * window_span_of --
 *	The span of the uncapped scan of window [start, end]: lines outside
 *	[first, stop) are never published, and a line inside is published
 *	exactly when start > t_recv does not hold. Through g_line_index when
 *	it fits the list, else literally.
 */
window_span window_span_of(const line_record *lines, int32_t count, float start, float end);

/*
 * next_unskipped --
 *	The first line at or after `from` that the window starting at `start`
 *	does not skip; `count` when there is none.
 */
int32_t next_unskipped(const line_record *lines, int32_t count, float start, int32_t from);

#endif
