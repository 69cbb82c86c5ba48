/*
 * render.h --
 *
 *	Pictures of the ladder diagram: a display list (render/display_list.h)
 *	drawn with cairo into an SVG, PDF, PNG or PostScript file, the format
 *	chosen by the file name's extension.
 *
 *	The picture is what the window shows of the diagram, at the window's
 *	pixel sizes: a header strip of HEADER_HEIGHT px (the host names above
 *	the axes, the overview's title), below it the visible part of the main
 *	canvas (main_width x main_height, from its yview) and to its right the
 *	visible part of the overview (over_width x over_height), and at the
 *	bottom a legend strip of LEGEND_HEIGHT px with the colour classes.
 *	Items are drawn as Tk draws them: 1 px lines on pixel centres, Tk's
 *	arrow heads of shape {9 11 3}, texts centred on their point.
 */

#ifndef WIREPAINT_RENDER_RENDER_H
#define WIREPAINT_RENDER_RENDER_H

#include <functional>
#include <string>

#include "render/display_list.h"

typedef struct _cairo cairo_t;

enum { HEADER_HEIGHT = 22, LEGEND_HEIGHT = 20 };

enum picture_format {
    PICTURE_UNKNOWN = 0,
    PICTURE_SVG,        /* .svg */
    PICTURE_PDF,        /* .pdf */
    PICTURE_PNG,        /* .png */
    PICTURE_PS,         /* .ps */
    PICTURE_EPS         /* .eps: encapsulated PostScript */
};

/*
 * picture_format_for --
 *	The format a file name asks for by its extension, in any letter case;
 *	PICTURE_UNKNOWN for any other name.
 */
picture_format picture_format_for(const std::string &path);

/* Width and height of the picture of `dl`, pixels (points for PDF/PS). */
int picture_width(const display_list &dl);
int picture_height(const display_list &dl);

/*
 * render_picture --
 *	Draws `dl` into the file `path` in format `format`. Returns 1 on
 *	success; on failure (an unknown format, a file that cannot be
 *	written) returns 0 and puts a one-line reason in *error. Writes
 *	nothing but that file.
 */
int render_picture(const display_list &dl, const std::string &path, picture_format format,
                   std::string *error);

/*
 * render_drawing --
 *	Runs `draw` on a cairo context of a w x h surface of `format` (hinted
 *	font metrics set) and writes it to `path`: the vector formats as
 *	cairo writes them, PNG from an image surface. Returns 1 on success;
 *	0 with cairo's reason in *error.
 */
int render_drawing(int w, int h, const std::string &path, picture_format format,
                   const std::function<void(cairo_t *)> &draw, std::string *error);

/* set_named_colour -- Makes a colour name of the diagram or "#rrggbb"
 * the source of `cr`. */
void set_named_colour(cairo_t *cr, const std::string &name);

#endif
