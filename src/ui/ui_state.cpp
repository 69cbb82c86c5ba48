/*
 * ui_state.cpp --
 *
 *	The one instance of the user interface state, its reset, and the small
 *	helpers every part of the interface uses to talk to the interpreter:
 *	setting published variables, evaluating the script's procedures and
 *	ringing the limit bell. These few calls are where every publication
 *	goes out, so they also choose its sink: the interpreter, or the
 *	display list of a picture being made.
 */

#include "ui/ui_state.h"

#include <cstdio>
#include <cstring>

#include <X11/Xlib.h>
#include <tk.h>

#include "render/display_list.h"
#include "trace/trace.h"

ui_state g_ui;

void ui_state_reset()
{
    std::memset(&g_ui, 0, sizeof g_ui);
    g_ui.delay_unit = 99999.0f;
    g_ui.first_visible = -1;
    g_ui.last_visible = -1;
}

int ui_view_ready()
{
    return g_trace.loaded && g_ui.view_ready;
}

void ring_limit_bell()
{
    g_ui.bell_count++;
    if (g_ui.main_window == nullptr)
        return;
    XBell(Tk_Display(g_ui.main_window), 0);
}

void ui_eval(const char *script)
{
    if (g_ui.picture != nullptr) {
        dl_eval(g_ui.picture, script);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    Tcl_Eval(g_ui.interp, script);
    Tcl_ResetResult(g_ui.interp);
}

void ui_set_var(const char *name, const char *value)
{
    if (g_ui.picture != nullptr) {
        dl_set_var(g_ui.picture, name, value);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    Tcl_SetVar2(g_ui.interp, name, nullptr, value, TCL_GLOBAL_ONLY);
}

void ui_set_var_int(const char *name, int value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d", value);
    ui_set_var(name, text);
}

void ui_set_elem(const char *name, int index, const char *value)
{
    if (g_ui.picture != nullptr) {
        dl_set_elem(g_ui.picture, name, index, value);
        return;
    }
    if (g_ui.interp == nullptr)
        return;
    char key[32];
    std::snprintf(key, sizeof key, "%d", index);
    Tcl_SetVar2(g_ui.interp, name, key, value, TCL_GLOBAL_ONLY);
}

void ui_set_elem_int(const char *name, int index, int value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d", value);
    ui_set_elem(name, index, text);
}

const char *ui_get_var(const char *name)
{
    if (g_ui.interp == nullptr)
        return nullptr;
    return Tcl_GetVar2(g_ui.interp, name, nullptr, TCL_GLOBAL_ONLY);
}
