/*
 * output.cpp --
 *
 *	The output options and the run without a window, and the commands
 *	beyond the sixteen that the UI script may call.
 */

#include "ui/output.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render/render.h"
#include "report/event_list.h"
#include "report/stats.h"
#include "report/table.h"
#include "trace/trace.h"
#include "webpage/webpage.h"
#include "ui/cmdline.h"
#include "ui/graph_window.h"
#include "ui/jump.h"
#include "ui/picture.h"
#include "ui/problems_cmd.h"
#include "ui/publish.h"
#include "ui/report_page.h"
#include "ui/startup.h"
#include "ui/ui_state.h"
#include "ui/view.h"

output_request g_output;

const char output_optstring[] = "o:t:x:SEG:P";

/* The window size of a run without a window when -g gives none. */
static const int DEFAULT_WIDTH = 1000, DEFAULT_HEIGHT = 800;

void output_request_reset()
{
    g_output = output_request();
    g_output.have_span = 0;
    g_output.statistics = 0;
    g_output.events = 0;
    g_output.pages = 0;
}

[[noreturn]] static void bad_option(const char *fmt, const char *arg)
{
    std::fprintf(stderr, "%s: ", program_name);
    std::fprintf(stderr, fmt, arg);
    std::fputc('\n', stderr);
    std::exit(1);
}

/* A whole text read as a finite number. */
static int parse_seconds(const std::string &text, float *out)
{
    if (text.empty())
        return 0;
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v))
        return 0;
    *out = static_cast<float>(v);
    return std::isfinite(*out);
}

static void note_span(const char *arg)
{
    std::string text = arg;
    size_t colon = text.find(':');
    float from = 0, to = 0;
    if (colon == std::string::npos || !parse_seconds(text.substr(0, colon), &from) ||
        !parse_seconds(text.substr(colon + 1), &to))
        bad_option("-t wants FROM:TO, two times in seconds, not \"%s\"", arg);
    if (!(from < to))
        bad_option("-t wants FROM before TO, not \"%s\"", arg);
    g_output.have_span = 1;
    g_output.span_from = from;
    g_output.span_to = to;
}

int note_output_option(int c, const char *arg)
{
    switch (c) {
    case 'o':
        if (picture_format_for(arg) == PICTURE_UNKNOWN && !is_webpage_name(arg))
            bad_option("-o \"%s\": the file name must end in .svg, .pdf, .png, .ps, .eps or .html",
                       arg);
        g_output.picture = arg;
        return 1;
    case 't':
        note_span(arg);
        return 1;
    case 'x':
        g_output.table = arg;
        return 1;
    case 'S':
        g_output.statistics = 1;
        return 1;
    case 'E':
        g_output.events = 1;
        return 1;
    case 'P':
        g_output.pages = 1;
        return 1;
    case 'G': {
        graph_type type;
        int dir;
        if (!parse_graph_request(arg, &type, &dir))
            bad_option("-G wants TYPE[:DIR], TYPE one of tsg, tput, rtt, owd, inflight and DIR "
                       "LR or RL, not \"%s\"", arg);
        g_output.graph = 1;
        g_output.graph_type = type;
        g_output.graph_dir = dir;
        return 1;
    }
    default:
        return 0;
    }
}

void print_output_usage()
{
    std::fprintf(stderr, "\t-o <file>: write the diagram to file (.svg .pdf .png .ps .eps), no window;\n");
    std::fprintf(stderr, "\t    .html: the interactive report page (with -L: the health table's)\n");
    std::fprintf(stderr, "\t-t <from>:<to>: show the diagram from <from> to <to> seconds\n");
    std::fprintf(stderr, "\t-x <file>: write one CSV row per segment to file (- for stdout), no window\n");
    std::fprintf(stderr, "\t-S: print statistics of the connection, no window\n");
    std::fprintf(stderr, "\t-E: print the TCP analysis events, one per line, no window\n");
    std::fprintf(stderr, "\t-G <type>[:<dir>]: -o writes graph tsg, tput, rtt, owd or inflight, dir LR or RL\n");
    std::fprintf(stderr, "\t-P: with -L -o <file>.html, each connection's page too, in <file>-pages/\n");
    std::fprintf(stderr, "\tSee wirepaint(1) for the keys of the window.\n");
}

int output_without_window()
{
    return !g_output.picture.empty() || !g_output.table.empty() || g_output.statistics ||
           g_output.events;
}

int output_takes_stdout()
{
    return g_output.table == "-" || g_output.statistics || g_output.events;
}

static int write_table_file(const std::string &path)
{
    if (path == "-")
        return write_table(stdout);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program_name, path.c_str(),
                     std::strerror(errno));
        return 0;
    }
    int ok = write_table(f);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok)
        std::fprintf(stderr, "%s: cannot write %s\n", program_name, path.c_str());
    return ok;
}

void set_up_views()
{
    if (g_ui.win_width <= 0)
        g_ui.win_width = DEFAULT_WIDTH;
    if (g_ui.win_height <= 0)
        g_ui.win_height = DEFAULT_HEIGHT;
    compute_canvas_sizes();
    g_ui.texton = 1;
    g_ui.timeon = 1;
    if (!g_trace.loaded)
        return;
    setup_view();
    if (g_output.have_span)
        show_main_span(g_output.span_from, g_output.span_to);
}

int run_without_window()
{
    set_up_views();
    int status = 0;
    if (!g_output.table.empty() && !write_table_file(g_output.table))
        status = 1;
    if (g_output.statistics)
        std::fputs(statistics_text().c_str(), stdout);
    if (g_output.events && !write_event_list(stdout))
        status = 1;
    if (!g_output.picture.empty()) {
        std::string error;
        int ok = is_webpage_name(g_output.picture) ? save_report(g_output.picture, &error)
                 : g_output.graph
                     ? save_graph_file(static_cast<graph_type>(g_output.graph_type),
                                       g_output.graph_dir, g_ui.win_width, g_ui.win_height,
                                       g_output.have_span, g_output.span_from, g_output.span_to,
                                       g_output.picture, &error)
                     : save_picture(g_output.picture, &error);
        if (!ok) {
            std::fprintf(stderr, "%s: %s\n", program_name, error.c_str());
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}

void apply_start_span()
{
    if (!ui_view_ready())
        return;
    if (g_output.have_span) {
        show_main_span(g_output.span_from, g_output.span_to);
        redraw_main();
        redraw_overview();
        redraw_box();
    }
    if (g_output.graph) {
        g_graph.type = static_cast<graph_type>(g_output.graph_type);
        g_graph.dir = g_output.graph_dir;
        ui_eval("wp::graph_window");
    }
}

int statistics_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(statistics_text().c_str(), -1));
    return TCL_OK;
}

void register_output_commands()
{
    Tcl_CreateCommand(g_ui.interp, "saveas_clib", saveas_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "savereport_clib", savereport_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "statistics_clib", statistics_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "view_clib", view_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "hover_clib", hover_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "problems_clib", problems_clib, nullptr, nullptr);
    Tcl_CreateCommand(g_ui.interp, "graph_clib", graph_clib, nullptr, nullptr);
}
