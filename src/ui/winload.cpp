/*
 * winload.cpp --
 *
 *	Loads from the window: a check of every file before the current
 *	connection is let go, then the load inside a trapped failure
 *	(capture/loadfail.h), so that what would end the program on the
 *	command line becomes a message for the script.
 */

#include "ui/winload.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/left_host.h"
#include "load/choose.h"
#include "load/loader.h"
#include "report/health.h"
#include "capture/capfile.h"
#include "trace/connlist.h"
#include "capture/loadfail.h"
#include "trace/trace.h"
#include "ui/connview_cmd.h"
#include "ui/publish.h"
#include "ui/ui_state.h"

void erase_diagram()
{
    ui_eval("eraselines");
    ui_eval("erasesublines");
    ui_eval("erasebox");
    if (g_ui.texton)
        ui_eval("erasetexts");
    if (g_ui.timeon)
        ui_eval("erasetimes");
}

namespace {

/* The first reason one of the files cannot be loaded, or "". */
std::string probe_files(int nfiles, const char *const names[])
{
    for (int i = 0; i < nfiles; i++) {
        std::string reason;
        if (!capture_probe(names[i], &reason))
            return reason;
    }
    return "";
}

void publish_outcome(const std::string &error, int kept)
{
    ui_set_var_int("loadkept", kept);
    ui_set_var("loaderror", error.c_str());
    ui_set_var("loadwarning", g_loadfail.warnings.c_str());
    ui_set_var("capturehost", g_left_choice.named ? g_left_choice.text.c_str() : "");
}

/* The names as the loader takes them: writable copies. */
struct name_copies {
    std::vector<std::string> text;
    std::vector<char *> ptr;

    name_copies(int n, const char *const names[]) : text(names, names + n)
    {
        for (std::string &t : text)
            ptr.push_back(&t[0]);
    }
};

}  // namespace

/*
 * The load of window_load and window_reload: with `choose`, connection
 * `number` is chosen afresh (and the capture host named for the last
 * connection forgotten); without, the last choices stand.
 */
static int load_in_window(int nfiles, const char *const names[], int number, bool choose)
{
    loadfail_reset();
    std::string error = probe_files(nfiles, names);
    if (!error.empty()) {
        publish_outcome(error, 1);
        return 0;
    }
    if (g_trace.loaded) {
        erase_diagram();
        g_trace.loaded = 0;
    }
    /* The line list is freed by the reload: nothing may point into it. */
    forget_publication();
    g_ui.view_ready = 0;

    name_copies files(nfiles, names);
    bool ok = true;
    loadfail_trap_begin();
    try {
        if (choose) {
            left_host_forget();
            choose_connection(nfiles, files.ptr.data(), number);
        }
        load_traces(nfiles, files.ptr.data(), 1);
    } catch (const load_error &) {
        ok = false;
        unload_traces();
    }
    /* The connection chosen stands until the next choice, so that a
     * reload of the same files (window_reload) reads it again. */
    loadfail_trap_end();
    if (g_trace.loaded)
        redraw_all();
    publish_trace_info();
    publish_outcome(ok ? "" : g_loadfail.message, 0);
    return ok ? 1 : 0;
}

int window_load(int nfiles, const char *const names[], int number)
{
    return load_in_window(nfiles, names, number, true);
}

int window_reload(int nfiles, const char *const names[])
{
    return load_in_window(nfiles, names, 0, false);
}

int connlist_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    std::vector<health_row> rows;
    std::string error;
    if (argc < 2) {
        error = "no capture file";
    } else if (capture_probe(argv[1], &error)) {
        loadfail_trap_begin();
        try {
            rows = health_table(argv[1]);
        } catch (const load_error &) {
            error = g_loadfail.message;
        }
        loadfail_trap_end();
    }
    connview_take(std::move(rows));
    ui_set_var_int("conncount", static_cast<int>(g_connview.rows.size()));
    ui_set_var("loaderror", error.c_str());
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int openconn_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc >= 3) {
        int number = std::atoi(argv[1]);
        int nfiles = argc >= 4 ? 2 : 1;
        window_load(nfiles, argv + 2, number < 1 ? 1 : number);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

void register_connection_commands()
{
    Tcl_CreateCommand(g_ui.interp, "connlist_clib", connlist_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "openconn_clib", openconn_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "connview_clib", connview_clib, nullptr, nullptr);
}
