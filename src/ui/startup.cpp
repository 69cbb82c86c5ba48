/*
 * startup.cpp --
 *
 *	Interpreter creation, window and canvas sizes, publication of the
 *	sizes, the UI script lookup and the event loop of wirepaint.
 *
 *	The UI script is code run with the user's rights, so where it comes
 *	from matters: people run wirepaint inside folders that hold files
 *	from elsewhere. Only a binary run from its own build tree (the
 *	developer's runs and the tests, which bring their own script) takes
 *	"./wirepaint.tcl"; any other binary is an installed one and takes
 *	only the installed script.
 */

#include "ui/startup.h"

#include <tk.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/left_host.h"
#include "trace/trace.h"
#include "ui/cmdline.h"
#include "ui/ui_state.h"

/* The installed script's folder and the folder the build puts the binary
 * in, as the build knows them. */
#ifndef WIREPAINT_SCRIPT_DIR
#define WIREPAINT_SCRIPT_DIR "/usr/local/share/wirepaint"
#endif
#ifndef WIREPAINT_BUILD_DIR
#define WIREPAINT_BUILD_DIR ""
#endif

const char script_dirs[2][SCRIPT_DIR_SIZE] = {"./", WIREPAINT_SCRIPT_DIR};

namespace {

/* The real path of `path`, or "" when it cannot be resolved. */
std::string real_path(const std::string &path)
{
    char *p = realpath(path.c_str(), nullptr);
    if (p == nullptr)
        return "";
    std::string out = p;
    std::free(p);
    return out;
}

/* The folder part of `path` ("." for a bare name). */
std::string folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

/* The path of the running binary, or "" when the system does not say. */
std::string own_path()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    buf[n] = 0;
    return buf;
}

}  // namespace

bool in_build_tree(const char *exe, const char *build_dir)
{
    if (exe[0] != '/')
        return false;
    std::string folder = real_path(folder_of(exe));
    return !folder.empty() && folder == real_path(build_dir);
}

void script_lookup_dirs(const char *exe, const char *build_dir, char dirs[2][SCRIPT_DIR_SIZE])
{
    if (in_build_tree(exe, build_dir)) {
        std::memcpy(dirs, script_dirs, sizeof script_dirs);
        return;
    }
    std::string prefix = exe[0] == '/' ? real_path(folder_of(exe) + "/..") : "";
    std::string beside = prefix.empty() ? script_dirs[1]
                                        : (prefix == "/" ? "" : prefix) + "/share/wirepaint";
    std::snprintf(dirs[0], SCRIPT_DIR_SIZE, "%s", beside.c_str());
    std::snprintf(dirs[1], SCRIPT_DIR_SIZE, "%s", script_dirs[1]);
}

std::string open_interpreter()
{
    g_ui.interp = Tcl_CreateInterp();
    if (Tcl_Init(g_ui.interp) == TCL_ERROR)
        return std::string("Tcl_Init failed:  ") + Tcl_GetStringResult(g_ui.interp) + "\n";
    if (Tk_Init(g_ui.interp) == TCL_ERROR)
        return std::string("Tk_Init failed:  ") + Tcl_GetStringResult(g_ui.interp) + "\n";
    g_ui.main_window = Tk_MainWindow(g_ui.interp);
    if (g_ui.main_window == nullptr)
        return std::string(Tcl_GetStringResult(g_ui.interp)) + "\n";
    return std::string();
}

void interpreter_failed(const std::string &failure)
{
    if (failure.empty())
        return;
    std::fputs(failure.c_str(), stderr);
    std::exit(-1);
}

void start_interpreter(const char *argv0)
{
    Tcl_FindExecutable(argv0);
    interpreter_failed(open_interpreter());
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
    char dirs[2][SCRIPT_DIR_SIZE];
    script_lookup_dirs(own_path().c_str(), WIREPAINT_BUILD_DIR, dirs);
    std::string path;
    int slot = find_script(dirs, &path);
    ui_set_var("tcldir", dirs[slot < 0 ? 1 : slot]);
    if (g_trace.verbose == 1)
        std::fprintf(stderr, "wirepaint: %s: %s\n", slot < 0 ? "no UI script" : "UI script",
                     path.c_str());
    std::string cmd = "source " + path;
    ui_eval(cmd.c_str());
}

void run_event_loop()
{
    Tk_MainLoop();
    Tcl_Eval(g_ui.interp, "exit");
}
