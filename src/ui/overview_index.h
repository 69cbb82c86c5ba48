/*
 * overview_index.h --
 *
 *	Finding the overview lines worth publishing without computing the
 *	pixels of every line of the window. Zoomed out on millions of lines,
 *	thousands of consecutive lines of one direction and colour class land
 *	on the same pixels; of each such group only its last line can be kept
 *	by the publication (see overview_lines.h), so walking them one by one
 *	is wasted work.
 *
 *	The index splits the line list into groups, one per (dir, cls) pair,
 *	and over each group builds a tree of blocks: a leaf block holds up to
 *	OVERVIEW_INDEX_FANOUT consecutive members of the group lying within
 *	OVERVIEW_INDEX_LEAF_SPAN list positions, a block of a higher level
 *	holds OVERVIEW_INDEX_FANOUT blocks of the level below. Each block
 *	keeps the least and greatest t_send and delay of its members and the
 *	least t_recv. The pixels of a line are monotone in t_send and in delay
 *	(a float difference, sum and product by a finite scale, then
 *	truncation, each monotone), so when a block's corners give the same
 *	published values every member gives them, and only its last member is
 *	a candidate. Blocks holding a NaN or infinite time are never taken
 *	whole.
 *
 *	The candidates of all groups, in descending list order, contain the
 *	last line of every distinct published line of the window, which is
 *	all the publication needs.
 *
 *	Memory: one 32-byte block per leaf, about 2 to 3 bytes per line.
 */

#ifndef WIREPAINT_UI_OVERVIEW_INDEX_H
#define WIREPAINT_UI_OVERVIEW_INDEX_H

#include <cstdint>
#include <vector>

struct line_record;
struct overview_geometry;

/* Members per block, and the list positions a leaf block may span. */
enum { OVERVIEW_INDEX_FANOUT = 16, OVERVIEW_INDEX_LEAF_SPAN = 128 };

/* One block of a group's tree. */
struct overview_block {
    int32_t first, last;      /* list index of the first and last member */
    float send_lo, send_hi;   /* s, least and greatest t_send */
    float delay_lo, delay_hi; /* s, least and greatest delay */
    float recv_lo;            /* s, least t_recv, NaN counted as +inf */
    uint32_t odd;             /* 1 when a member's t_send or delay is not finite */
};

/* The tree of one (dir, cls) group: levels[0] leaves, then upward. */
struct overview_group {
    uint8_t dir, cls;
    std::vector<std::vector<overview_block>> levels;
};

/*
 * The index of one line list. One instance, g_overview_index; every field
 * is set by overview_index_build and emptied by overview_index_clear.
 */
struct overview_index_state {
    const line_record *lines;          /* the list indexed; null when none */
    int32_t count;                     /* its number of lines */
    std::vector<overview_group> groups; /* one per (dir, cls) pair present */
    std::vector<int32_t> found;        /* scratch: candidates of one query */
};

extern overview_index_state g_overview_index;

/*
 * overview_index_build --
 *	Builds the index for `count` lines at `lines` (O(count)), replacing
 *	any earlier one.
 */
void overview_index_build(const line_record *lines, int32_t count);

/* overview_index_clear -- Frees the index. */
void overview_index_clear();

/*
 * overview_index_candidates --
 *	When the index was built for (lines, count) and the geometry's start
 *	and scale are finite: fills `out` with candidate lines of [first,
 *	stop) in descending order, none of them skipped by a window starting
 *	at g.start (start > t_recv), such that every published line of those
 *	lines is given by a candidate as by its last line, and returns true.
 *	Otherwise returns false and leaves `out` alone.
 */
bool overview_index_candidates(const line_record *lines, int32_t count, int32_t first,
                               int32_t stop, const overview_geometry &g,
                               std::vector<int32_t> &out);

#endif
