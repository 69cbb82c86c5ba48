/*
 * drift_view.cpp --
 *
 *	The clock-drift toggle of the window.
 */

#include "ui/drift_view.h"

#include <cstdlib>

#include "load/drift.h"
#include "load/loader.h"
#include "ui/publish.h"
#include "ui/ui_state.h"
#include "ui/winload.h"

int drift_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc >= 2 && loader_correct_drift(std::atoi(argv[1]) != 0)) {
        /* The lines keep their places in the list but not their times:
         * the drawing and every table built from their times go. */
        erase_diagram();
        forget_publication();
        redraw_all();
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(g_drift.correct));
    return TCL_OK;
}

void register_drift_commands()
{
    Tcl_CreateCommand(g_ui.interp, "drift_clib", drift_clib, nullptr, nullptr);
}
