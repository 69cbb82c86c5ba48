/*
 * drift_view.cpp --
 *
 *	The clock-drift toggle of the window.
 */

#include "ui/drift_view.h"

#include <cstdlib>

#include "load/drift.h"
#include "load/loader.h"
#include "ui/jump.h"
#include "ui/publish.h"
#include "ui/ui_state.h"
#include "ui/winload.h"

int drift_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    /* The span the main canvas shows, on the main clock, which the
     * correction leaves as it is: the view stays where it was. */
    bool keep = ui_view_ready() != 0;
    float from = 0.0f, to = 0.0f;
    if (keep) {
        float top = g_ui.main_scroll * static_cast<float>(g_ui.main_height);
        from = g_ui.main_start + (top - 20.0f) / g_ui.main_scale;
        to = from + static_cast<float>(g_ui.main_height) / g_ui.main_scale;
    }
    if (argc >= 2 && loader_correct_drift(std::atoi(argv[1]) != 0)) {
        /* The lines keep their places in the list but not their times:
         * the drawing and every table built from their times go. */
        erase_diagram();
        forget_publication();
        redraw_all();
        if (keep) {
            show_main_span(from, to);
            redraw_main();
            redraw_overview();
            redraw_box();
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(g_drift.correct));
    return TCL_OK;
}

void register_drift_commands()
{
    Tcl_CreateCommand(g_ui.interp, "drift_clib", drift_clib, nullptr, nullptr);
}
