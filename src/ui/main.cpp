/*
 * main.cpp --
 *
 *	The entry of wirepaint. Reads the command line and loads the capture
 *	files it names before any window exists, then starts the interpreter
 *	with Tk, registers the script's commands, publishes the window and
 *	canvas sizes, sources the UI script and runs the event loop until the
 *	main window goes away. Nothing is drawn here: the script's init_clib
 *	draws the first diagram. With -o, -x or -S it writes those instead
 *	and ends without ever starting Tk.
 */

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
    read_command_line(argc, argv);
    if (output_without_window())
        return run_without_window();
    start_interpreter(argv[0]);
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
