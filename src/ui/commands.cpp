/*
 * commands.cpp --
 *
 *	The start signal, open-file, label and time toggles and click-to-
 *	inspect commands of the UI script, and the registration of all sixteen
 *	commands in their fixed order.
 */

#include "ui/commands.h"

#include <tk.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/detail.h"
#include "load/loader.h"
#include "trace/trace.h"
#include "ui/navigate.h"
#include "ui/overview_image.h"
#include "ui/publish.h"
#include "ui/ui_state.h"
#include "ui/winload.h"

/* One row of the command table. */
struct command_row {
    const char *name;
    Tcl_CmdProc *proc;
};

static const command_row command_table[16] = {
    {"init_clib", init_clib},
    {"zoomout_clib", zoomout_clib},
    {"zoomin_clib", zoomin_clib},
    {"movebar_clib", movebar_clib},
    {"sub1press_clib", sub1press_clib},
    {"sub2press_clib", sub2press_clib},
    {"subzoomout_clib", subzoomout_clib},
    {"subzoomin_clib", subzoomin_clib},
    {"scrlbar1_clib", scrlbar1_clib},
    {"scrlbar2_clib", scrlbar2_clib},
    {"forward_clib", forward_clib},
    {"back_clib", back_clib},
    {"time_clib", time_clib},
    {"text_clib", text_clib},
    {"openfile_clib", openfile_clib},
    {"scrlbar_move_clib", scrlbar_move_clib},
};

const char *const command_names[16] = {
    "init_clib", "zoomout_clib", "zoomin_clib", "movebar_clib",
    "sub1press_clib", "sub2press_clib", "subzoomout_clib", "subzoomin_clib",
    "scrlbar1_clib", "scrlbar2_clib", "forward_clib", "back_clib",
    "time_clib", "text_clib", "openfile_clib", "scrlbar_move_clib",
};

void register_commands()
{
    for (const command_row &row : command_table)
        Tcl_CreateCommand(g_ui.interp, row.name, row.proc, nullptr, nullptr);
    overview_image_register();
}

/* Looks up one canvas by path; a missing one ends the process. */
static Tk_Window find_canvas(Tcl_Interp *interp, const char *path)
{
    Tk_Window w = nullptr;
    if (g_ui.main_window != nullptr)
        w = Tk_NameToWindow(interp, path, g_ui.main_window);
    else
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad window path name \"%s\"", path));
    if (w == nullptr) {
        std::fprintf(stderr, "%s\n", Tcl_GetStringResult(interp));
        std::exit(-1);
    }
    return w;
}

int init_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    g_ui.main_canvas = find_canvas(interp, ".subframe1.canvas");
    g_ui.over_canvas = find_canvas(interp, ".subframe2.canvas");
    if (g_trace.loaded)
        redraw_all();
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int openfile_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc >= 2)
        window_load(1, argv + 1, 0);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

/* The common body of the two toggles. */
static void toggle(const char *var, int *flag, void (*publish)(), const char *draw,
                   const char *erase)
{
    const char *value = ui_get_var(var);
    if (value == nullptr)
        return;
    *flag = std::atoi(value);
    if (*flag) {
        publish();
        ui_eval(draw);
    } else {
        ui_eval(erase);
    }
}

int text_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    toggle("texton", &g_ui.texton, publish_labels, "drawtexts", "erasetexts");
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int time_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    toggle("timeon", &g_ui.timeon, publish_times, "drawtimes", "erasetimes");
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int nearest_hit(int x, int ya)
{
    float best = 100.0f;
    int sel = -1;
    for (int i = 0; i < g_ui.hit_count; i++) {
        const hit_entry &h = g_ui.hits[i];
        int64_t norm2 = h.a * h.a + h.b * h.b;
        if (norm2 == 0)
            continue;       /* an arrow of no length has no line */
        int64_t v = h.a * x + h.b * ya + h.c;
        float dist = static_cast<float>(static_cast<double>(std::llabs(v)) /
                                        std::sqrt(static_cast<double>(norm2)));
        if (dist < best) {
            best = dist;
            sel = h.line;
        }
    }
    if (best > 10.0f)
        return -1;
    return sel;
}

char *build_message(const char *detail, char *out, size_t size)
{
    size_t len = std::strlen(detail);
    size_t room = size - 1;              /* characters, newline included */
    if (len + 1 <= room) {
        std::memcpy(out, detail, len);
        out[len] = '\n';
        out[len + 1] = '\0';
        return out;
    }
    /* Keep whole lines: up to and including the last break that fits. */
    size_t keep = 0;
    for (size_t i = 0; i < room; i++) {
        if (detail[i] == '\n')
            keep = i + 1;
    }
    if (keep > 0) {
        std::memcpy(out, detail, keep);
        out[keep] = '\0';
        return out;
    }
    std::memcpy(out, detail, room - 1);
    out[room - 1] = '\n';
    out[room] = '\0';
    return out;
}

int sub1press_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    int x = argc > 1 ? std::atoi(argv[1]) : 0;
    int y = argc > 2 ? std::atoi(argv[2]) : 0;
    if (g_ui.hit_count == 0) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    int ya = to_pixel(static_cast<float>(g_ui.main_height) * g_ui.main_scroll +
                      static_cast<float>(y));
    int sel = nearest_hit(x, ya);
    if (sel >= 0 && sel < g_trace.main.count) {
        build_message(segment_detail_text(sel, 0), g_ui.message, sizeof g_ui.message);
        ui_set_var("message", g_ui.message);
        ui_eval("createpi");
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}
