/*
 * publish.h --
 *
 *	Diagram publishing: the compiled side computes every coordinate,
 *	colour and text of the ladder diagram, sets them as global interpreter
 *	variables and evaluates the UI script's draw and erase procedures by
 *	name. The script only turns the published values into canvas items.
 *
 *	Published variables (arrays indexed "0", "1", ... in publication order;
 *	elements past the current count keep older values):
 *	  fx1 fx2 fy1 fy2              main time axes, "0" left, "1" right
 *	  subfx1 subfx2 subfy1 subfy2  overview time axes
 *	  x1 y1 x2 y2 color arrow      main arrows; linecnt
 *	  lnotice lnoticex lnoticey    the notice under the 256th arrow when
 *	                               the span holds more lines; "" none
 *	  tx ty text txcolor           segment labels; textcnt
 *	  tmx tmy time tmcolor         time stamps; timecnt
 *	  subx1 suby1 subx2 suby2 subcolor   overview lines; sublinecnt
 *	  subimage                     the image holding the overview lines
 *	                               instead (ui/overview_image.h); "" none
 *	  rx1 rx2 ry1 ry2              the view box on the overview
 *	  segcount lefthost righthost  what the diagram shows, for the title
 */

#ifndef WIREPAINT_UI_PUBLISH_H
#define WIREPAINT_UI_PUBLISH_H

#include <set>

/*
 * One column of texts (labels, left or right time stamps) in one
 * publication: the y of every text accepted so far, plus the -100 a
 * column starts with. Accepted texts lie more than 8 px apart, so a set
 * holds them all; the starting entry is the one value it holds once for
 * the five a column once started with, which changes no placement.
 */
struct text_column {
    std::set<int> taken;    /* canvas pixels, ascending */
};

/* text_column_start --
 *	Empties column `c` down to its starting entry, -100. */
void text_column_start(text_column *c);

/*
 * to_pixel --
 *	A canvas coordinate as an int: `v` truncated toward zero, held within
 *	+-2^24 so that ends far outside the canvas stay representable. Inline:
 *	the overview publication calls it for every line it looks at.
 */
inline int to_pixel(double v)
{
    const double limit = 16777216.0;   /* farthest from the canvas origin */
    if (!(v > -limit))
        return static_cast<int>(-limit);
    if (v > limit)
        return static_cast<int>(limit);
    return static_cast<int>(v);
}

/*
 * color_name --
 *	The color table's text for class `cls`; "black" for a class outside
 *	the table.
 */
const char *color_name(int cls);

/*
 * place_text --
 *	Places a text at `y` in column `c`. Every text already in the
 *	column, in ascending order of y, is looked at once: when the text
 *	lies within 8 px of it, the text moves to 9 px below it and is
 *	refused if it then lies within 8 px of any text of the column. On
 *	acceptance stores the final y in *placed, adds it to the column and
 *	returns 1; on refusal returns 0 and leaves the column alone. So no
 *	two texts of a column overlap, in whatever order they come; texts
 *	that come in order of y land where a check against the last five
 *	would put them. O(log n) for a column of n texts.
 */
int place_text(int y, text_column *c, int *placed);

/* The end points of one drawn line, canvas pixels. */
struct line_ends {
    int x1, y1, x2, y2;
};

/*
 * line_ends_of --
 *	A line between the left axis at `left` and the right one at `right`
 *	that leaves its sender at height ys and reaches its receiver at yr:
 *	dir 1 goes from the left host, so (left, ys) to (right, yr); any other
 *	dir from the right host, so (left, yr) to (right, ys).
 */
line_ends line_ends_of(int dir, int left, int right, int ys, int yr);

/* move_receiver_end -- Moves the receiver's end of *e (the second point
 * for dir 1, the first otherwise) to (x, y). */
void move_receiver_end(line_ends *e, int dir, int x, int y);

/* The time axes of the main canvas: fx1, fx2, fy1, fy2. */
void publish_frame();

/* The time axes of the overview canvas: subfx1, subfx2, subfy1, subfy2. */
void publish_overview_frame();

/*
 * publish_lines --
 *	The arrows of the lines inside the main window, at most 256, in list
 *	order; the scan ends at the first line sent after the window. Sets
 *	first_visible and last_visible, rewrites the hit table, and publishes
 *	x1 y1 x2 y2 color arrow per arrow and linecnt, and the notice
 *	lnotice (with lnoticex, lnoticey) when the cap left lines out.
 */
void publish_lines();

/* Labels of the visible range, kept apart by place_text; textcnt. */
void publish_labels();

/* Send and arrival time stamps of the visible range, "%04.6f"; timecnt. */
void publish_times();

/*
 * publish_overview_lines --
 *	The lines inside the overview window, without cap, leaving out each
 *	line whose published values a later line of the window repeats;
 *	sublinecnt. Defined in overview_lines.cpp.
 */
void publish_overview_lines();

/*
 * publish_view_box --
 *	The box on the overview that marks what the main canvas shows at its
 *	middle: the middle half of the main window, placed with the overview
 *	lines' own mapping y = 5 + over_scale * (t - over_start).
 */
void publish_view_box();

/*
 * publish_trace_info --
 *	segcount (the lines of the current load, 0 when nothing is loaded),
 *	lefthost and righthost ("address:port" of the hosts drawn on the left
 *	and right axes, "" when nothing is loaded), and leftother and
 *	rightother: the same end's "address:port" in the other capture of a
 *	two-file load when a middlebox translated it, else "".
 */
void publish_trace_info();

/* Redraw sequences; the results of the script's procedures are ignored. */
void redraw_main();       /* arrows, then labels and times where switched on */
void redraw_overview();   /* overview lines */
void redraw_box();        /* view box */

/*
 * redraw_all --
 *	The full draw after a load: builds the line index of the new line
 *	list, then setup_view, every publication, every draw
 *	procedure, the main canvas moved to its middle; texton and timeon
 *	become "1" in the script and 1 in g_ui.
 */
void redraw_all();

/*
 * forget_publication --
 *	Empties the visible range, the hit table and the line index, for when
 *	the line list they point into is about to be freed.
 */
void forget_publication();

#endif
