/*
 * capture_host.cpp --
 *
 *	The Capture host command of the window: names the host to draw on the
 *	left, or forgets the name, and reloads the files shown so that the
 *	whole analysis (marks, pairing, delays, the two-file alignment) runs
 *	again with that host on the left.
 */

#include "ui/capture_host.h"

#include "analysis/left_host.h"
#include "ui/ui_state.h"
#include "ui/winload.h"

int capturehost_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    if (argc < 3)
        return TCL_OK;
    if (argv[1][0] == '\0') {
        left_host_forget();
    } else if (!left_host_name(argv[1])) {
        ui_set_var("loaderror", "not an address or endpoint");
        return TCL_OK;
    } else {
        g_left_choice.in_window = 1;
    }
    int nfiles = argc >= 4 ? 2 : 1;
    window_reload(nfiles, argv + 2);
    return TCL_OK;
}

void register_capture_host_command()
{
    Tcl_CreateCommand(g_ui.interp, "capturehost_clib", capturehost_clib, nullptr, nullptr);
}
