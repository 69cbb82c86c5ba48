/*
 * overview_image.h --
 *
 *	The overview lines drawn by one image instead of one canvas item per
 *	line. Zoomed out on millions of segments the overview still holds some
 *	ten thousand distinct lines, and setting five interpreter variables and
 *	creating one canvas line item for each of them takes several frames.
 *
 *	The script creates one image of type "wpoverview" (any name) and shows
 *	it with one image item at the overview canvas's origin, where the line
 *	items would go, whenever the publication names it in "subimage". A
 *	publication of at least `min_lines` lines, none of which the canvas
 *	would have to clip, goes into that image; a smaller one, or one with a
 *	line the canvas clips, or any publication while no such image exists or
 *	a picture is made, is published line by line as before, with
 *	"subimage" set to "".
 *
 *	The image draws its lines with the X server's own line drawing, in
 *	publication order, one request per run of one colour, with the
 *	graphics context of a canvas line item of width 1 (line width 1, butt
 *	caps, round joins, the colour's pixel) at the drawable coordinates the
 *	canvas would give the items. So it sets the pixels the line items
 *	would set, and a redisplay sends only the lines that reach the rows
 *	redrawn.
 *
 *	The canvas translates a line's end points without clipping only while
 *	they lie within 1000 px above the window's top (and 31000 below).
 *	A drawn line crosses the window, so a line at most OVERVIEW_IMAGE_TALL
 *	px high with its abscissas within the canvas never needs clipping; a
 *	line that reaches none of the scroll region's rows is never drawn.
 *
 *	The image's command NAME answers "NAME lines" with its lines as one flat
 *	list, x1 y1 x2 y2 colour per line (for tests and benchmarks).
 */

#ifndef WIREPAINT_UI_OVERVIEW_IMAGE_H
#define WIREPAINT_UI_OVERVIEW_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "ui/overview_lines.h"

/* Highest line, px, that the image draws; taller ones are canvas items. */
enum { OVERVIEW_IMAGE_TALL = 900 };

/* Fewest lines of a publication that go into the image, by default. */
enum { OVERVIEW_IMAGE_MIN_LINES = 1000 };

/*
 * The image of the overview lines. One instance, g_overview_image; the
 * image's create and delete procedures set and clear master and name,
 * overview_image_fill sets lines, width and height.
 */
struct overview_image_state {
    void *master;                     /* Tk_ImageMaster of the image; null none */
    std::string name;                 /* its name and command; "" none */
    int width, height;                /* px, the image's size: the scroll region */
    std::vector<overview_line> lines; /* drawn in this order */
    int32_t min_lines;                /* fewest lines that use the image; tests
                                       * may lower it */
};

extern overview_image_state g_overview_image;

/*
 * overview_image_register --
 *	Makes the image type "wpoverview" known to Tk (once per process).
 */
void overview_image_register();

/*
 * overview_image_takes --
 *	Whether `count` lines at `lines` go into the image: an image exists,
 *	no picture is being made, count >= min_lines, and every line is at
 *	most OVERVIEW_IMAGE_TALL px high with abscissas in [0, over_width] or
 *	lies wholly above row -2 or below row 4 * over_height + 2.
 */
bool overview_image_takes(const overview_line *lines, size_t count);

/*
 * overview_image_fill --
 *	Takes `lines` as the image's lines (leaving `lines` with the image's
 *	earlier ones), sizes the image to the overview's scroll region and has
 *	Tk redraw wherever the image is shown.
 */
void overview_image_fill(std::vector<overview_line> &lines);

/* overview_image_reset -- Empties the lines and restores min_lines (for tests). */
void overview_image_reset();

#endif
