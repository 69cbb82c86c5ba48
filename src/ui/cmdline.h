/*
 * cmdline.h --
 *
 *	The command line of wirepaint: options, the usage and version texts,
 *	and the load of the capture files it names, which happens before any
 *	window exists.
 *
 *	    wirepaint [-V] [-d delay] [-s copylen] [-g geometry] [-v] [-h]
 *	              [-L] [-c n] [-f filter] [-k] file [file]
 */

#ifndef WIREPAINT_UI_CMDLINE_H
#define WIREPAINT_UI_CMDLINE_H

#include <string>
#include <vector>

/* What the options ask for once parsing stops. */
enum cmdline_action {
    CMDLINE_RUN,         /* go on: load the files that follow the options */
    CMDLINE_USAGE,       /* -h, an unknown option or a missing argument */
    CMDLINE_VERSION      /* -v */
};

/* The connection options of the command line. One instance, g_cmdconn. */
struct cmdline_conn_state {
    int list;             /* 1 for -L: print the connection tables, exit 0 */
    int number;           /* -c N: connection to draw, from 1; 0 the first */
};

extern cmdline_conn_state g_cmdconn;

/*
 * apply_connection_option --
 *	Acts on -L, -c N, -f EXPR or -H HOST (letter `opt`, argument `arg`):
 *	sets g_cmdconn, the filter (g_capfile) or the named capture host
 *	(g_left_choice). A -c argument that is not a whole number from 1, or
 *	a -H argument that is no address or endpoint, writes a message on
 *	standard error and returns 0; otherwise returns 1.
 */
int apply_connection_option(int opt, const char *arg);

/* The usage lines of -L, -c, -f and -H, on standard error. */
void print_connection_usage();

/*
 * list_connections_out --
 *	The -L run over `nfiles` files: the health tables as text on
 *	standard output, or with -x FILE as CSV to FILE ("-" standard
 *	output). A file that cannot be written gets "wirepaint: cannot write
 *	FILE: reason" on standard error. 1 when all was written.
 */
int list_connections_out(int nfiles, char *const names[]);

/*
 * check_named_host --
 *	After the command-line load: when -H named a host that is neither
 *	end of the loaded connection, or an address both ends share, writes
 *	"wirepaint: -H: HOST is not an end of this connection" (or that it
 *	is both) on standard error and exits with status 1.
 */
void check_named_host();

/* Program name used in the usage and version texts, whatever argv[0] is. */
extern const char program_name[];

/* Version text of the version line. */
extern const char program_version[];

/*
 * parse_options --
 *	Parses the options of argv with getopt and the option string
 *	"+vVd:s:g:hLc:f:k" and the output letters of ui/output.h (-o -t -x -S,
 *	handed to note_output_option): options act in the order given and
 *	parsing stops at the
 *	first argument that is not an option, or at "--", and at -v and -h.
 *	Sets g_trace.verbose (-V), g_ui.delay_unit (-d, atof), g_trace.copy_len
 *	and saved_copy_len (-s, atoi), g_ui.win_x, win_y, win_width and
 *	win_height (-g, XParseGeometry; parts the string lacks become 0),
 *	and the connection options -L, -c and -f (apply_connection_option;
 *	a bad -c number exits with status 1), and -k (g_drift.correct, the
 *	fitted clock of a two-file load).
 *	getopt writes its own diagnostic for a bad option. Restarts getopt's
 *	scan, so it can be called again. Stores in *first_file the index of the
 *	first argument after the options and returns what to do next.
 */
cmdline_action parse_options(int argc, char **argv, int *first_file);

/*
 * is_file_count_ok --
 *	Nonzero for 1 or 2 file arguments: the single unsigned comparison
 *	n - 3 > 2^32 - 3.
 */
int is_file_count_ok(int n);

/* The five-line usage text, on standard error. */
void print_usage();

/* The version line, on standard error. */
void print_version();

/*
 * read_command_line --
 *	Start-up's first step. Sets delay_unit to 99999 and the copy length to
 *	0. With no argument at all returns at once (the window starts empty).
 *	Otherwise parses the options; -v prints the version line and -h or a
 *	bad option the usage text, and both exit with status 0. One or two file
 *	names are loaded with load_traces (reset 0) and kept for
 *	loaded_file_names; with -L their connection tables are printed
 *	instead and the process exits 0; with -c the chosen connection is
 *	loaded. Any other count prints the usage text and exits 0. When
 *	standard output carries -E, -S, -x - or -L, the reader's notes on
 *	dropped packets are counted, not written (g_dropnote). The loader
 *	ends the process on its own errors.
 */
void read_command_line(int argc, char **argv);

/*
 * parse_command_line, load_command_line_files, finish_command_line_load --
 *	read_command_line in three steps, so that start-up can run the
 *	middle one beside the interpreter's start (load/beside.h). The first
 *	does all but the load (and exits where read_command_line does) and
 *	tells whether there are files to load; the second chooses the
 *	connection and loads the files, failing through load_fail only; the
 *	third checks -H against the loaded connection (exit status 1) and,
 *	with -V, writes the capture host line.
 */
bool parse_command_line(int argc, char **argv);
void load_command_line_files();
void finish_command_line_load();

/*
 * loaded_file_names --
 *	The capture files read_command_line loaded, in command-line order;
 *	empty when none. Start-up publishes them to the script.
 */
const std::vector<std::string> &loaded_file_names();

#endif
