/*
 * overview_image.cpp --
 *
 *	The image type "wpoverview" (see overview_image.h): a Tk image whose
 *	display procedure draws the published overview lines through Xlib, as
 *	the canvas draws its line items, and the test of which publications
 *	it takes.
 */

#include "ui/overview_image.h"

#include <tk.h>

#include <algorithm>
#include <cstdlib>

#include "analysis/line.h"
#include "ui/publish.h"
#include "ui/ui_state.h"

overview_image_state g_overview_image = {nullptr, "", 0, 0, {}, OVERVIEW_IMAGE_MIN_LINES};

/* Colour ids: the color table's slots, then OVERVIEW_COLOR_OUTSIDE. */
enum { COLOR_IDS = OVERVIEW_COLOR_OUTSIDE + 1 };

/* One use of the image in one window: a graphics context per colour,
 * made when first drawn with. */
struct image_instance {
    Tk_Window tkwin;
    XColor *color[COLOR_IDS];
    GC gc[COLOR_IDS];
};

/* The published text of a colour id. */
static const char *color_text(int32_t id)
{
    return id >= 0 && id < OVERVIEW_COLOR_OUTSIDE ? color_table[id] : color_name(-1);
}

static Tk_ImageMaster master_of_state()
{
    return static_cast<Tk_ImageMaster>(g_overview_image.master);
}

/* The scroll region's size; the image covers it from the origin. */
static void size_to_region()
{
    g_overview_image.width = g_ui.over_width;
    g_overview_image.height = 4 * g_ui.over_height;
}

/* "NAME lines": the lines as one flat list. */
static int image_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2 || std::string(Tcl_GetString(objv[1])) != "lines") {
        Tcl_WrongNumArgs(interp, 1, objv, "lines");
        return TCL_ERROR;
    }
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const overview_line &l : g_overview_image.lines) {
        for (int v : {l.ends.x1, l.ends.y1, l.ends.x2, l.ends.y2})
            Tcl_ListObjAppendElement(interp, list, Tcl_NewIntObj(v));
        Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj(color_text(l.color), -1));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

static int create_image(Tcl_Interp *interp, CONST86 char *name, int, Tcl_Obj *const[],
                        CONST86 Tk_ImageType *, Tk_ImageMaster master, ClientData *data)
{
    if (g_overview_image.master != nullptr) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("only one wpoverview image can exist", -1));
        return TCL_ERROR;
    }
    Tcl_CreateObjCommand(interp, name, image_command, nullptr, nullptr);
    g_overview_image.master = master;
    g_overview_image.name = name;
    size_to_region();
    Tk_ImageChanged(master, 0, 0, 0, 0, g_overview_image.width, g_overview_image.height);
    *data = nullptr;
    return TCL_OK;
}

static ClientData get_instance(Tk_Window tkwin, ClientData)
{
    image_instance *inst = new image_instance();
    inst->tkwin = tkwin;
    return inst;
}

/* The context a canvas line item of width 1 in colour `id` draws with. */
static GC context_of(image_instance *inst, int32_t id)
{
    if (inst->gc[id] != nullptr)
        return inst->gc[id];
    if (inst->color[id] == nullptr)
        inst->color[id] = Tk_GetColor(g_ui.interp, inst->tkwin, Tk_GetUid(color_text(id)));
    if (inst->color[id] == nullptr)
        return nullptr;
    XGCValues values;
    values.foreground = inst->color[id]->pixel;
    values.line_width = 1;
    values.cap_style = CapButt;
    values.join_style = JoinRound;
    inst->gc[id] = Tk_GetGC(inst->tkwin, GCForeground | GCLineWidth | GCCapStyle | GCJoinStyle,
                            &values);
    return inst->gc[id];
}

/* Whether a line reaches rows [top, bottom]: its pixels lie within one
 * pixel of the segment between its end points. */
static bool reaches_rows(const overview_line &l, int top, int bottom)
{
    return std::max(l.ends.y1, l.ends.y2) >= top - 1 && std::min(l.ends.y1, l.ends.y2) <= bottom + 1;
}

static void display_image(ClientData data, Display *display, Drawable drawable, int imageX,
                          int imageY, int, int height, int drawableX, int drawableY)
{
    image_instance *inst = static_cast<image_instance *>(data);
    /* The image lies at the canvas origin: image pixels are canvas pixels.
     * The offset below is the one the canvas gives its items' points. */
    int dx = drawableX - imageX, dy = drawableY - imageY;
    std::vector<XSegment> run;
    int32_t run_color = -1;
    auto flush = [&]() {
        GC gc = run.empty() ? nullptr : context_of(inst, run_color);
        if (gc != nullptr)
            XDrawSegments(display, drawable, gc, run.data(), static_cast<int>(run.size()));
        run.clear();
    };
    for (const overview_line &l : g_overview_image.lines) {
        if (!reaches_rows(l, imageY, imageY + height - 1))
            continue;
        if (l.color != run_color)
            flush();
        run_color = l.color;
        run.push_back({static_cast<short>(l.ends.x1 + dx), static_cast<short>(l.ends.y1 + dy),
                       static_cast<short>(l.ends.x2 + dx), static_cast<short>(l.ends.y2 + dy)});
    }
    flush();
}

static void free_instance(ClientData data, Display *display)
{
    image_instance *inst = static_cast<image_instance *>(data);
    for (int k = 0; k < COLOR_IDS; k++) {
        if (inst->gc[k] != nullptr)
            Tk_FreeGC(display, inst->gc[k]);
        if (inst->color[k] != nullptr)
            Tk_FreeColor(inst->color[k]);
    }
    delete inst;
}

static void delete_image(ClientData)
{
    if (g_ui.interp != nullptr && !g_overview_image.name.empty())
        Tcl_DeleteCommand(g_ui.interp, g_overview_image.name.c_str());
    g_overview_image.master = nullptr;
    g_overview_image.name.clear();
}

static Tk_ImageType image_type = {
    "wpoverview", create_image, get_instance, display_image, free_instance, delete_image,
    nullptr,      nullptr,      nullptr};

void overview_image_register()
{
    static bool registered = false;   /* Tk keeps image types per process */
    if (registered)
        return;
    registered = true;
    Tk_CreateImageType(&image_type);
}

/* Whether the canvas draws line `l` without clipping wherever it shows it. */
static bool image_can_draw(const overview_line &l)
{
    const line_ends &e = l.ends;
    int rows = 4 * g_ui.over_height;
    if (std::max(e.y1, e.y2) < -2 || std::min(e.y1, e.y2) > rows + 2)
        return true;    /* never shown */
    return std::abs(static_cast<int64_t>(e.y1) - e.y2) <= OVERVIEW_IMAGE_TALL &&
           std::min(e.x1, e.x2) >= 0 && std::max(e.x1, e.x2) <= g_ui.over_width;
}

bool overview_image_takes(const overview_line *lines, size_t count)
{
    if (g_overview_image.master == nullptr || g_ui.picture != nullptr)
        return false;
    if (count < static_cast<size_t>(std::max(g_overview_image.min_lines, 0)))
        return false;
    return std::all_of(lines, lines + count, image_can_draw);
}

void overview_image_fill(std::vector<overview_line> &lines)
{
    g_overview_image.lines.swap(lines);
    size_to_region();
    Tk_ImageMaster master = master_of_state();
    if (master != nullptr)
        Tk_ImageChanged(master, 0, 0, g_overview_image.width, g_overview_image.height,
                        g_overview_image.width, g_overview_image.height);
}

void overview_image_reset()
{
    std::vector<overview_line>().swap(g_overview_image.lines);
    g_overview_image.min_lines = OVERVIEW_IMAGE_MIN_LINES;
}
