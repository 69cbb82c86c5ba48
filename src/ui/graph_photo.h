/*
 * graph_photo.h --
 *
 *	A cairo image into a Tk photo image: how the Graph window shows a
 *	graph, one block copy per redraw and no canvas item per point. Kept
 *	apart so that only this file sees Tk's and X11's headers.
 */

#ifndef WIREPAINT_UI_GRAPH_PHOTO_H
#define WIREPAINT_UI_GRAPH_PHOTO_H

#include <tcl.h>

typedef struct _cairo_surface cairo_surface_t;

/*
 * put_image_in_photo --
 *	Sizes the photo image `name` of `interp` to the ARGB32 image surface
 *	`image` and copies the image into it. Returns 1; 0 when there is no
 *	such photo or Tk refuses the block (the photo keeps what it had).
 */
int put_image_in_photo(Tcl_Interp *interp, const char *name, cairo_surface_t *image);

#endif
