/*
 * cmdline.cpp --
 *
 *	Option parsing, the usage and version texts and the command-line load
 *	of wirepaint. Runs before the interpreter exists, so everything it sets
 *	is plain process state (g_trace, g_ui) that later steps read.
 */

#include "ui/cmdline.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "load/choose.h"
#include "load/drift.h"
#include "load/loader.h"
#include "text/host_evidence.h"
#include "capture/capfile.h"
#include "trace/dropnote.h"
#include "trace/trace.h"
#include "ui/output.h"
#include "ui/ui_state.h"

const char program_name[] = "wirepaint";
const char program_version[] = "2.01a (20080212)";

/* The file names of the command-line load, in command-line order. */
static std::vector<std::string> g_loaded_names;

/* The same names as the command line holds them (argv, which lives as
 * long as the process), for the load; set by parse_command_line. */
static char *const *g_file_args;

cmdline_conn_state g_cmdconn;

/* -g: position and size from an X geometry string; missing parts are 0. */
static void apply_geometry(const char *text)
{
    int x = 0;
    int y = 0;
    unsigned int width = 0;
    unsigned int height = 0;
    XParseGeometry(text, &x, &y, &width, &height);
    g_ui.win_x = x;
    g_ui.win_y = y;
    g_ui.win_width = static_cast<int>(width);
    g_ui.win_height = static_cast<int>(height);
}

cmdline_action parse_options(int argc, char **argv, int *first_file)
{
    /* optind 0 makes glibc start a fresh scan and reread the '+' mode. */
    optind = 0;
    const std::string optstring = std::string("+vVd:s:g:hLc:f:H:k") + output_optstring;
    for (;;) {
        int c = getopt(argc, argv, optstring.c_str());
        if (c == -1)
            break;
        switch (c) {
        case 'V':
            g_trace.verbose = 1;
            break;
        case 'd':
            g_ui.delay_unit = static_cast<float>(std::atof(optarg));
            break;
        case 's':
            g_trace.copy_len = std::atoi(optarg);
            g_trace.saved_copy_len = g_trace.copy_len;
            break;
        case 'g':
            apply_geometry(optarg);
            break;
        case 'L':
        case 'c':
        case 'f':
        case 'H':
            if (!apply_connection_option(c, optarg))
                std::exit(1);
            break;
        case 'o':
        case 't':
        case 'x':
        case 'S':
        case 'E':
        case 'G':
            note_output_option(c, optarg);
            break;
        case 'k':
            g_drift.correct = 1;
            break;
        case 'v':
            *first_file = optind;
            return CMDLINE_VERSION;
        default:        /* 'h', an unknown letter or a missing argument */
            *first_file = optind;
            return CMDLINE_USAGE;
        }
    }
    *first_file = optind;
    return CMDLINE_RUN;
}

int is_file_count_ok(int n)
{
    return static_cast<uint32_t>(n) - 3u > 0xFFFFFFFDu;
}

void print_usage()
{
    std::fprintf(stderr, "Usage: %s [opts] file [file]\n", program_name);
    std::fprintf(stderr, "\t-V: be verbose\n");
    std::fprintf(stderr, "\t-g <geometry>: specify window geometry\n");
    std::fprintf(stderr, "\t-v: show version number and quit\n");
    std::fprintf(stderr, "\t-h: display this help message\n");
    print_connection_usage();
    std::fprintf(stderr, "\t-k: two files: correct the drift of the two capture hosts' clocks\n");
    print_output_usage();
}

void print_version()
{
    std::fprintf(stderr, "%s version %s\n", program_name, program_version);
}

bool parse_command_line(int argc, char **argv)
{
    g_ui.delay_unit = 99999.0f;
    g_trace.copy_len = 0;
    g_loaded_names.clear();
    g_cmdconn = cmdline_conn_state{};
    g_drift.correct = 0;
    g_dropnote.stdout_taken = 0;
    output_request_reset();
    if (argc <= 1)
        return false;

    int first = 1;
    cmdline_action action = parse_options(argc, argv, &first);
    if (action == CMDLINE_VERSION) {
        print_version();
        std::exit(0);
    }
    if (action == CMDLINE_USAGE) {
        print_usage();
        std::exit(0);
    }
    g_dropnote.stdout_taken = output_takes_stdout() || g_cmdconn.list;
    int n = argc - first;
    if (!is_file_count_ok(n)) {
        print_usage();
        std::exit(0);
    }
    if (n == 2 && std::strcmp(argv[first], "-") == 0 && std::strcmp(argv[first + 1], "-") == 0) {
        std::fprintf(stderr, "%s: standard input (-) can be only one of the two files\n",
                     program_name);
        std::exit(1);
    }
    g_loaded_names.assign(argv + first, argv + argc);
    g_file_args = argv + first;
    if (g_cmdconn.list) {
        std::exit(list_connections_out(n, argv + first) ? 0 : 1);
    }
    return true;
}

void load_command_line_files()
{
    int n = static_cast<int>(g_loaded_names.size());
    choose_connection(n, g_file_args, g_cmdconn.number);
    load_traces(n, g_file_args, 0);
}

void finish_command_line_load()
{
    check_named_host();
    if (g_trace.verbose == 1)
        std::fputs(capture_host_line().c_str(), stderr);
}

void read_command_line(int argc, char **argv)
{
    if (!parse_command_line(argc, argv))
        return;
    load_command_line_files();
    finish_command_line_load();
}

const std::vector<std::string> &loaded_file_names()
{
    return g_loaded_names;
}
