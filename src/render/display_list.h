/*
 * display_list.h --
 *
 *	The ladder diagram as a list of drawing items, for pictures made
 *	without a window. The interface publishes the diagram's values and
 *	names the script's draw and erase procedures; when the publications
 *	go here instead of the interpreter, the display list keeps the values
 *	and turns each draw procedure into items exactly as the UI script's
 *	procedure of the same name turns them into canvas items (same
 *	coordinates, colours, texts, arrow heads, stacking order, tags), and
 *	each erase procedure into the removal of those items. It also follows
 *	"yview moveto" of both canvases, so it knows which part of each
 *	scroll region the window shows.
 *
 *	The renderer (render/render.h) draws the list. The interface fills it
 *	(ui/picture.h); nothing here knows about the interpreter.
 */

#ifndef WIREPAINT_RENDER_DISPLAY_LIST_H
#define WIREPAINT_RENDER_DISPLAY_LIST_H

#include <string>
#include <unordered_map>
#include <vector>

/* The canvas an item lies on. */
enum dl_canvas { DL_MAIN = 0, DL_OVER = 1 };

/* What an item is. */
enum dl_kind { DL_LINE, DL_TEXT, DL_RECT };

/* The fonts of the script: wpSmall (8 pt), wpLabel (9 px), wpHost (10 pt bold). */
enum dl_font { DL_FONT_SMALL, DL_FONT_LABEL, DL_FONT_HOST };

/* The tags the script gives its items; erase procedures remove by tag. */
enum dl_tag { DL_TAG_FRAME, DL_TAG_LINES, DL_TAG_SUBLINES, DL_TAG_TEXTS, DL_TAG_TIMES, DL_TAG_BOX };

/* Arrow heads of a line, as Tk's -arrow option. */
enum dl_arrow { DL_ARROW_NONE, DL_ARROW_LAST, DL_ARROW_FIRST };

/*
 * One canvas item. Coordinates are scroll-region pixels of its canvas.
 * A line runs from (x1, y1) to (x2, y2); a rectangle has those corners;
 * a text is centred on (x1, y1).
 */
struct dl_item {
    dl_kind kind;
    dl_tag tag;
    double x1, y1, x2, y2;
    std::string fill;       /* colour name or "#rrggbb"; "" for no fill */
    std::string outline;    /* rectangles: outline colour, "" for none */
    double width;           /* line or outline width, px */
    dl_arrow arrow;         /* lines only */
    std::string text;       /* texts only */
    dl_font font;           /* texts only */
    bool ground;            /* texts: a white box under the text's bbox */
};

/*
 * The display list: published values, the items of both canvases in
 * stacking order (first drawn lowest), and the sizes and view fractions
 * that fix what the window shows of them.
 */
struct display_list {
    /* Published values: plain variables, and arrays by element index. */
    std::unordered_map<std::string, std::string> vars;
    std::unordered_map<std::string, std::vector<std::string>> arrays;

    std::vector<dl_item> items[2];   /* by dl_canvas, lowest first */

    /* Canvas sizes, pixels; set by whoever fills the list. */
    int main_width, main_height;     /* main canvas; region 2 * main_height */
    int over_width, over_height;     /* overview; region 4 * over_height */

    /* yview fractions of the two canvases, from "yview moveto"; 0 at start. */
    double main_yview;
    double over_yview;
};

/* Empties the list: no values, no items, sizes 0, both views at the top. */
void dl_clear(display_list *dl);

/* Sets plain variable `name`, or element `index` of array `name`. */
void dl_set_var(display_list *dl, const char *name, const char *value);
void dl_set_elem(display_list *dl, const char *name, int index, const char *value);

/*
 * dl_get --
 *	The text of plain variable `name` (index < 0) or of element `index`
 *	of array `name`; "" when it was never set.
 */
const std::string &dl_get(const display_list &dl, const char *name, int index = -1);

/* dl_get read as a number, as Tcl would read it; 0 for no number. */
double dl_get_num(const display_list &dl, const char *name, int index = -1);

/*
 * dl_eval --
 *	Acts on one script line the interface evaluates: a draw procedure
 *	(drawframe, drawsubframe, drawlines, drawsublines, drawtexts,
 *	drawtimes, drawbox) adds the items the script would create from the
 *	values set so far; an erase procedure (eraselines, erasesublines,
 *	erasetexts, erasetimes, erasebox) removes them; ".subframe1.canvas
 *	yview moveto F" and ".subframe2.canvas yview moveto F" set the view
 *	fraction of a canvas. Returns 1 for a line it knew, 0 for anything
 *	else, which changes nothing.
 */
int dl_eval(display_list *dl, const char *script);

/*
 * dl_view_top --
 *	The first scroll-region row the window shows of a canvas: Tk's
 *	(int)(fraction * region height + 0.5), held inside the region.
 */
int dl_view_top(const display_list &dl, dl_canvas canvas);

#endif
