/*
 * picture.cpp --
 *
 *	The current view into a display list, and from there into a file.
 */

#include "ui/picture.h"

#include <cstdio>
#include <string>

#include "render/display_list.h"
#include "render/render.h"
#include "trace/trace.h"
#include "ui/publish.h"
#include "ui/ui_state.h"

namespace {

/* Points publications at `dl` for as long as it lives. */
struct picture_sink {
    display_list *saved;
    explicit picture_sink(display_list *dl) : saved(g_ui.picture) { g_ui.picture = dl; }
    ~picture_sink() { g_ui.picture = saved; }
    picture_sink(const picture_sink &) = delete;
    picture_sink &operator=(const picture_sink &) = delete;
};

void publish_view()
{
    publish_frame();
    publish_overview_frame();
    publish_trace_info();
    if (!ui_view_ready())
        return;
    publish_lines();
    publish_overview_lines();
    publish_labels();
    publish_times();
    publish_view_box();
}

/* The draw procedures in the order of the full redraw after a load. */
void draw_view()
{
    ui_eval("drawframe");
    ui_eval("drawsubframe");
    if (!ui_view_ready())
        return;
    ui_eval("drawlines");
    ui_eval("drawsublines");
    if (g_ui.texton)
        ui_eval("drawtexts");
    if (g_ui.timeon)
        ui_eval("drawtimes");
    ui_eval("drawbox");
}

}  // namespace

void build_picture(display_list *dl)
{
    dl_clear(dl);
    dl->main_width = g_ui.main_width;
    dl->main_height = g_ui.main_height;
    dl->over_width = g_ui.over_width;
    dl->over_height = g_ui.over_height;
    picture_sink sink(dl);
    publish_view();
    draw_view();
    char move[64];
    std::snprintf(move, sizeof move, ".subframe1.canvas yview moveto %f", g_ui.main_scroll * 0.5);
    ui_eval(move);
    std::snprintf(move, sizeof move, ".subframe2.canvas yview moveto %f",
                  static_cast<double>(g_ui.over_scroll));
    ui_eval(move);
}

int save_picture(const std::string &path, std::string *error)
{
    display_list dl;
    build_picture(&dl);
    return render_picture(dl, path, picture_format_for(path), error);
}

int saveas_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    if (argc < 2) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("wrong # args: should be \"saveas_clib path\"", -1));
        return TCL_ERROR;
    }
    std::string error;
    if (!save_picture(argv[1], &error)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), -1));
        return TCL_ERROR;
    }
    return TCL_OK;
}
