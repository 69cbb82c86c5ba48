/*
 * report_page.cpp --
 *
 *	The report pages written from the command line and the window.
 */

#include "ui/report_page.h"

#include "report/health.h"
#include "trace/trace.h"
#include "ui/cmdline.h"
#include "ui/ui_state.h"
#include "webpage/health_page.h"
#include "webpage/webpage.h"

namespace {

webpage_view current_view()
{
    webpage_view v;
    v.main_width = g_ui.main_width;
    v.main_height = g_ui.main_height;
    v.over_width = g_ui.over_width;
    v.over_height = g_ui.over_height;
    v.main_start = g_ui.main_start;
    v.main_end = g_ui.main_end;
    v.main_scale = g_ui.main_scale;
    v.main_scroll = g_ui.main_scroll;
    v.delay_unit = g_ui.delay_unit;
    return v;
}

}  // namespace

int save_report(const std::string &path, std::string *error)
{
    if (!g_trace.loaded || g_trace.lines == nullptr || !ui_view_ready()) {
        *error = "nothing is loaded";
        return 0;
    }
    return write_text_file(path, connection_page(loaded_file_names(), current_view(),
                                                 g_cmdconn.number),
                           error);
}

int save_health_page(int nfiles, char *const names[], const std::string &path,
                     std::string *error)
{
    std::vector<health_file> files;
    for (int i = 0; i < nfiles; i++)
        files.push_back({names[i], health_table(names[i])});
    return write_text_file(path, health_page(files), error);
}

int savereport_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    if (argc < 2) {
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj("wrong # args: should be \"savereport_clib path\"", -1));
        return TCL_ERROR;
    }
    std::string error;
    if (!save_report(argv[1], &error)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), -1));
        return TCL_ERROR;
    }
    return TCL_OK;
}
