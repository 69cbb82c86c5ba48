/*
 * startup.cpp --
 *
 *	Interpreter creation, window and canvas sizes, publication of the
 *	sizes, the UI script lookup and the event loop of wirepaint.
 */

#include "ui/startup.h"

#include <tk.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/left_host.h"
#include "ui/cmdline.h"
#include "ui/ui_state.h"

const char script_dirs[2][SCRIPT_DIR_SIZE] = {"./", "/usr/local/share/wirepaint"};

void start_interpreter(const char *argv0)
{
    Tcl_FindExecutable(argv0);
    g_ui.interp = Tcl_CreateInterp();
    if (Tcl_Init(g_ui.interp) == TCL_ERROR) {
        std::fprintf(stderr, "Tcl_Init failed:  %s\n", Tcl_GetStringResult(g_ui.interp));
        std::exit(-1);
    }
    if (Tk_Init(g_ui.interp) == TCL_ERROR) {
        std::fprintf(stderr, "Tk_Init failed:  %s\n", Tcl_GetStringResult(g_ui.interp));
        std::exit(-1);
    }
    g_ui.main_window = Tk_MainWindow(g_ui.interp);
    if (g_ui.main_window == nullptr) {
        std::fprintf(stderr, "%s\n", Tcl_GetStringResult(g_ui.interp));
        std::exit(-1);
    }
}

void compute_window_size(int root_width, int root_height)
{
    if (g_ui.win_width == 0) {
        g_ui.win_width = static_cast<int>(root_width * 0.7);
        g_ui.win_height = static_cast<int>(root_height * 0.7);
        return;
    }
    if (g_ui.win_height == 0)
        g_ui.win_height = static_cast<int>(root_height * 0.7);
}

void compute_canvas_sizes()
{
    g_ui.main_width = static_cast<int>(0.8 * g_ui.win_width);
    g_ui.over_width = static_cast<int>(0.2 * g_ui.win_width);
    g_ui.main_height = g_ui.win_height;
    g_ui.over_height = g_ui.win_height;
}

void size_window()
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    Tk_GetVRootGeometry(g_ui.main_window, &x, &y, &width, &height);
    compute_window_size(width, height);
    compute_canvas_sizes();
}

void publish_sizes()
{
    ui_set_var_int("canvas_width", g_ui.main_width);
    ui_set_var_int("canvas_height", g_ui.main_height);
    ui_set_var_int("subcanvas_width", g_ui.over_width);
    ui_set_var_int("subcanvas_height", g_ui.over_height);
    ui_set_var_int("appl_x", g_ui.win_x);
    ui_set_var_int("appl_y", g_ui.win_y);

    const std::vector<std::string> &files = loaded_file_names();
    std::vector<const char *> names;
    for (const std::string &f : files)
        names.push_back(f.c_str());
    char *list = Tcl_Merge(static_cast<int>(names.size()), names.data());
    ui_set_var("tracefiles", list);
    Tcl_Free(list);
    ui_set_var("capturehost", g_left_choice.named ? g_left_choice.text.c_str() : "");
}

int find_script(const char dirs[2][SCRIPT_DIR_SIZE], std::string *path)
{
    struct stat st;
    for (int slot = 0; slot < 2; slot++) {
        *path = std::string(dirs[slot]) + "/wirepaint.tcl";
        if (stat(path->c_str(), &st) == 0)
            return slot;
    }
    return -1;
}

void source_script()
{
    std::string path;
    int slot = find_script(script_dirs, &path);
    ui_set_var("tcldir", script_dirs[slot < 0 ? 1 : slot]);
    std::string cmd = "source " + path;
    ui_eval(cmd.c_str());
}

void run_event_loop()
{
    Tk_MainLoop();
    Tcl_Eval(g_ui.interp, "exit");
}
