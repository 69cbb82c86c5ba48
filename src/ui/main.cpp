/*
 * main.cpp --
 *
 *	The entry of wirepaint. Reads the command line and loads the capture
 *	files it names before any window exists; the interpreter with Tk
 *	starts meanwhile on this thread while the files load on another.
 *	Then it registers the script's commands, publishes the window and
 *	canvas sizes, sources the UI script and runs the event loop until the
 *	main window goes away. Nothing is drawn here: the script's init_clib
 *	draws the first diagram. With -o, -x or -S it writes those instead
 *	and ends without ever starting Tk.
 */

#include <string>

#include <tcl.h>

#include "load/beside.h"
#include "ui/capture_host.h"
#include "ui/cmdline.h"
#include "ui/commands.h"
#include "ui/drift_view.h"
#include "ui/output.h"
#include "ui/startup.h"
#include "ui/ui_state.h"
#include "ui/winload.h"

int main(int argc, char **argv)
{
    ui_state_reset();
    bool files = parse_command_line(argc, argv);
    if (output_without_window()) {
        if (files) {
            load_command_line_files();
            finish_command_line_load();
        }
        return run_without_window();
    }
    /* Tcl's own set-up (encodings, the locale) before the load's thread
     * starts; the interpreter and Tk beside the load. A failure of the
     * load comes first, as when nothing ran beside it. */
    Tcl_FindExecutable(argv[0]);
    std::string failure;
    if (files) {
        load_beside(load_command_line_files, [&failure] { failure = open_interpreter(); });
        finish_command_line_load();
    } else {
        failure = open_interpreter();
    }
    interpreter_failed(failure);
    register_commands();
    register_connection_commands();
    register_capture_host_command();
    register_output_commands();
    register_drift_commands();
    size_window();
    publish_sizes();
    source_script();
    apply_start_span();
    run_event_loop();
    return 0;
}
