/*
 * overview_lines.h --
 *
 *	The lines of the overview canvas. Zoomed out on a large trace,
 *	hundreds of thousands of lines land on the same few hundred pixel
 *	rows, and drawing each of them makes every overview command take
 *	seconds. So one publication leaves out a line whose five published
 *	values (subx1, suby1, subx2, suby2, subcolor) equal those of a later
 *	line of the same publication: the later line is drawn over the same
 *	pixels, so the picture does not change. The kept lines keep their
 *	order and are numbered from 0; sublinecnt is their number.
 *
 *	The lines looked at are the overview index's candidates (see
 *	overview_index.h), or every line of the window when there is no index,
 *	with one hash set of the distinct lines seen, kept from one
 *	publication to the next so that publishing allocates nothing once the
 *	set has grown to its size.
 */

#ifndef WIREPAINT_UI_OVERVIEW_LINES_H
#define WIREPAINT_UI_OVERVIEW_LINES_H

#include <cstdint>
#include <vector>

#include "ui/publish.h"

struct line_record;

/*
 * The published values of one overview line: its end points in overview
 * pixels and its colour as the index of the first color-table slot with
 * the same text (7 for "black", a class outside the table).
 */
struct overview_line {
    line_ends ends;
    int32_t color;
};

/* Color id of a class outside the color table ("black"). */
enum { OVERVIEW_COLOR_OUTSIDE = 7 };

/* What every line of one overview publication shares. */
struct overview_geometry {
    int xl, xr, mx;          /* px, left and right ends, middle of a lost one */
    float start, scale;      /* over_start (s), over_scale (px/s) */
    int32_t color[OVERVIEW_COLOR_OUTSIDE]; /* color id of each class of the table */
};

/*
 * overview_line_of --
 *	The overview line of a line sent at `t_send` with `delay`, direction
 *	`dir` and class `cls`: from the left axis to the right one, the
 *	receiver's end moved to the middle for a lost segment. Each of its
 *	ordinates is a monotone function of t_send and of delay.
 */
overview_line overview_line_of(const overview_geometry &g, float t_send, float delay, int dir,
                               int cls);

/*
 * The two rows that, with its direction and class, fix an overview line's
 * published values: the sender's row and the row of its other end (the
 * receiver's; the middle one for a lost segment).
 */
struct overview_rows {
    int send, other;
};

/*
 * overview_rows_of --
 *	The rows of the overview line of a line sent at `t_send` with `delay`,
 *	`lost` when its class is CLS_LOST; both monotone in t_send and delay.
 *	overview_line_of places its ends at these rows. Inline, as it runs for
 *	every line an overview publication looks at.
 */
inline overview_rows overview_rows_of(const overview_geometry &g, float t_send, float delay,
                                     bool lost)
{
    float ts = t_send - g.start;
    int ys = to_pixel(ts * g.scale + 5.0f);
    if (!lost)
        return {ys, to_pixel((ts + delay) * g.scale + 5.0f)};
    /* A lost segment stops halfway across. */
    return {ys, to_pixel(static_cast<double>(g.scale) *
                             (static_cast<double>(delay) * 0.5 + static_cast<double>(ts)) +
                         5.0)};
}

/* same_overview_line -- Whether a and b publish the same five values. */
bool same_overview_line(const overview_line &a, const overview_line &b);

/*
 * One slot of the set of distinct lines: a line's values, their hash and
 * the publication that stored them; a slot of an older publication counts
 * as empty.
 */
struct overview_slot {
    overview_line line;
    uint32_t hash;
    uint32_t stamp;
};

/*
 * The scratch state of the overview publication. One instance,
 * g_overview_scratch; only publish_overview_lines writes it.
 */
struct overview_scratch {
    std::vector<overview_slot> slots; /* open addressing, size a power of 2 */
    uint32_t stamp;                   /* this publication's stamp; 0 unused */
    int32_t used;                     /* slots holding this stamp */
    std::vector<int32_t> kept;        /* kept line indices, last line first */
    std::vector<overview_line> values; /* the kept lines' values, first line first */
};

extern overview_scratch g_overview_scratch;

/*
 * publish_overview_lines_literal --
 *	Every line of the overview window, in list order: subx1 suby1 subx2
 *	suby2 subcolor per line and sublinecnt. The overview as it was before
 *	lines drawn over by later ones were left out; for comparison.
 */
void publish_overview_lines_literal();

/* overview_scratch_reset -- Frees the scratch state (for tests). */
void overview_scratch_reset();

#endif
