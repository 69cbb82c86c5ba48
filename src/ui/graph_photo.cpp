/*
 * graph_photo.cpp --
 *
 *	Copying a cairo image surface into a Tk photo image.
 */

#include "ui/graph_photo.h"

#include <cairo.h>
#include <tk.h>

#include <cstdint>

int put_image_in_photo(Tcl_Interp *interp, const char *name, cairo_surface_t *image)
{
    Tk_PhotoHandle photo = Tk_FindPhoto(interp, name);
    if (photo == nullptr || image == nullptr)
        return 0;
    int w = cairo_image_surface_get_width(image);
    int h = cairo_image_surface_get_height(image);
    Tk_PhotoImageBlock block;
    block.pixelPtr = cairo_image_surface_get_data(image);
    block.width = w;
    block.height = h;
    block.pitch = cairo_image_surface_get_stride(image);
    block.pixelSize = 4;
    /* Cairo keeps a pixel as one native 32-bit word 0xAARRGGBB. */
    const uint32_t probe = 0x03020100u;
    const unsigned char *order = reinterpret_cast<const unsigned char *>(&probe);
    block.offset[0] = order[2];   /* red: the byte holding bits 16..23 */
    block.offset[1] = order[1];
    block.offset[2] = order[0];
    block.offset[3] = order[3];
    if (Tk_PhotoSetSize(interp, photo, w, h) != TCL_OK)
        return 0;
    return Tk_PhotoPutBlock(interp, photo, &block, 0, 0, w, h, TK_PHOTO_COMPOSITE_SET) == TCL_OK;
}
