/*
 * startup_test.cpp --
 *
 *	Window and canvas sizes, the UI script lookup, and the start-up of the
 *	real program: the variables it publishes before the script runs, the
 *	empty window without arguments, the failure without a display and the
 *	exit after the main window goes.
 */

#include "ui/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "trace/trace.h"
#include "ui/ui_harness.h"
#include "ui/ui_state.h"

namespace {

using uitest::events;
using uitest::session;

std::vector<std::string> ev(std::initializer_list<std::string> f) { return f; }

std::string syn_capture()
{
    pcapgen::capture c;
    pcapgen::tcp_seg syn;
    syn.flags = TH_SYN;
    c.add(pcapgen::build_tcp(syn), 0.0);
    return c.write();
}

TEST(ComputeWindowSize, UsesSevenTenthsOfTheRootWithoutAGeometry)
{
    ui_state_reset();
    compute_window_size(1280, 1024);
    EXPECT_EQ(g_ui.win_width, 896);
    EXPECT_EQ(g_ui.win_height, 716);
    compute_canvas_sizes();
    EXPECT_EQ(g_ui.main_width, 716);
    EXPECT_EQ(g_ui.over_width, 179);
    EXPECT_EQ(g_ui.main_height, 716);
    EXPECT_EQ(g_ui.over_height, 716);
}

TEST(ComputeWindowSize, KeepsTheGeometrySizeAndFillsAMissingHeight)
{
    ui_state_reset();
    g_ui.win_width = 800;
    g_ui.win_height = 600;
    compute_window_size(1280, 1024);
    compute_canvas_sizes();
    EXPECT_EQ(g_ui.main_width, 640);
    EXPECT_EQ(g_ui.over_width, 160);
    EXPECT_EQ(g_ui.main_height, 600);
    EXPECT_EQ(g_ui.over_height, 600);

    ui_state_reset();
    g_ui.win_width = 801;
    compute_window_size(1280, 1024);
    compute_canvas_sizes();
    EXPECT_EQ(g_ui.win_height, 716);
    /* The two widths are truncated apart and need not add up. */
    EXPECT_EQ(g_ui.main_width, 640);
    EXPECT_EQ(g_ui.over_width, 160);
}

TEST(FindScript, PrefersTheFirstDirectoryAndFallsBackToTheSecond)
{
    std::string a = uitest::make_temp_dir();
    std::string b = uitest::make_temp_dir();
    char dirs[2][SCRIPT_DIR_SIZE] = {};
    std::snprintf(dirs[0], SCRIPT_DIR_SIZE, "%s", a.c_str());
    std::snprintf(dirs[1], SCRIPT_DIR_SIZE, "%s", b.c_str());
    std::string path;

    EXPECT_EQ(find_script(dirs, &path), -1);
    EXPECT_EQ(path, b + "/wirepaint.tcl");

    uitest::write_file(b + "/wirepaint.tcl", "");
    EXPECT_EQ(find_script(dirs, &path), 1);
    EXPECT_EQ(path, b + "/wirepaint.tcl");

    uitest::write_file(a + "/wirepaint.tcl", "");
    EXPECT_EQ(find_script(dirs, &path), 0);
    EXPECT_EQ(path, a + "/wirepaint.tcl");

    /* Any existing path counts, even a folder. */
    std::filesystem::remove(a + "/wirepaint.tcl");
    std::filesystem::create_directory(a + "/wirepaint.tcl");
    EXPECT_EQ(find_script(dirs, &path), 0);

    EXPECT_STREQ(script_dirs[0], "./");
    EXPECT_STREQ(script_dirs[1], "/usr/local/share/wirepaint");
    std::filesystem::remove_all(a);
    std::filesystem::remove_all(b);
}

TEST(Program, PublishesTheSizesFromTheGeometryBeforeTheScriptRuns)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    std::string cap = syn_capture();
    s.run("rec files $tracefiles\nrec @done\ndestroy .\n", {"-g", "800x600+10+20", cap});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(events(s.rec, "sizes").at(0),
              ev({"sizes", "640", "600", "160", "600", "10", "20", "./"}));
    EXPECT_EQ(events(s.rec, "files").at(0), ev({"files", cap}));
}

TEST(Program, WithoutArgumentsOpensAnEmptyWindowSizedFromTheScreen)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\nrec files $tracefiles\nrec @done\ndestroy .\n", {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(s.result.err, "");
    /* The private server's screen is 1280 x 1024. */
    EXPECT_EQ(events(s.rec, "sizes").at(0),
              ev({"sizes", "716", "716", "179", "716", "0", "0", "./"}));
    EXPECT_EQ(events(s.rec, "files").at(0), ev({"files", ""}));
    EXPECT_TRUE(events(s.rec, "drawframe").empty());
}

TEST(Program, EvaluatesExitOnceTheMainWindowIsGone)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("rename exit ::real_exit\n"
          "proc exit {args} { rec exit {*}$args; ::real_exit {*}$args }\n"
          "after idle {destroy .}\n",
          {});
    EXPECT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(events(s.rec, "exit").size(), 1u);
}

TEST(Program, AMissingOrFailingScriptLeavesTheWindowRunning)
{
    uitest::xserver x;
    ASSERT_TRUE(x.ok());
    std::string dir = uitest::make_temp_dir();
    /* No script in ./ and, in a test environment, none installed either
     * (the run would then show the real window; it is ended the same). */
    uitest::run_result none = uitest::run_wirepaint({}, dir, x.name(), 2);
    EXPECT_TRUE(none.timed_out);
    EXPECT_EQ(none.err, "");

    uitest::write_file(dir + "/wirepaint.tcl", "error {broken script}\n");
    uitest::run_result broken = uitest::run_wirepaint({}, dir, x.name(), 2);
    EXPECT_TRUE(broken.timed_out);
    EXPECT_EQ(broken.err, "");
    std::filesystem::remove_all(dir);
}

/* An installed copy run in a folder holding a planted wirepaint.tcl runs
 * the installed script only, and -V says which; the build's own binary
 * runs the folder's script, as the tests and tools rely on. */
TEST(Program, InstalledBinaryNeverRunsTheCurrentFoldersScript)
{
    uitest::xserver x;
    ASSERT_TRUE(x.ok());
    std::string prefix = uitest::make_temp_dir();
    std::string folder = uitest::make_temp_dir();
    std::string cmd = "cmake --install " WIREPAINT_BINARY_DIR " --prefix " + prefix + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string installed = prefix + "/share/wirepaint/wirepaint.tcl";
    ASSERT_TRUE(std::filesystem::exists(installed));
    /* A path that cannot be resolved counts as installed, never "./". */
    for (const char *exe : {"", "wirepaint", "/no-such/bin/wirepaint"}) {
        char dirs[2][SCRIPT_DIR_SIZE];
        script_lookup_dirs(exe, WIREPAINT_BINARY_DIR, dirs);
        EXPECT_STREQ(dirs[0], "/usr/local/share/wirepaint") << exe;
    }
    uitest::write_file(installed, "set f [open installed.txt w]; puts $f $tcldir; close $f; exit 0\n");
    uitest::write_file(folder + "/wirepaint.tcl",
                       "set f [open planted.txt w]; puts $f $tcldir; close $f; exit 0\n");
    uitest::run_result r = uitest::run_wirepaint({"-V", syn_capture()}, folder, x.name(), 30,
                                                 prefix + "/bin/wirepaint");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(folder + "/planted.txt"));
    EXPECT_EQ(uitest::read_file(folder + "/installed.txt"), prefix + "/share/wirepaint\n");
    EXPECT_NE(r.err.find("wirepaint: UI script: " + installed + "\n"), std::string::npos) << r.err;

    std::filesystem::remove(folder + "/installed.txt");
    r = uitest::run_wirepaint({"-V", syn_capture()}, folder, x.name(), 30);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(uitest::read_file(folder + "/planted.txt"), "./\n");
    EXPECT_FALSE(std::filesystem::exists(folder + "/installed.txt"));
    EXPECT_NE(r.err.find("wirepaint: UI script: .//wirepaint.tcl\n"), std::string::npos) << r.err;

    /* None beside it: the install prefix's script, if there is one, and
     * never the planted one. */
    std::filesystem::remove(installed);
    std::filesystem::remove(folder + "/planted.txt");
    r = uitest::run_wirepaint({"-V", syn_capture()}, folder, x.name(), 2, prefix + "/bin/wirepaint");
    EXPECT_FALSE(std::filesystem::exists(folder + "/planted.txt"));
    std::string prefix_script = "/usr/local/share/wirepaint/wirepaint.tcl";
    std::string said = std::filesystem::exists(prefix_script) ? "wirepaint: UI script: "
                                                              : "wirepaint: no UI script: ";
    EXPECT_NE(r.err.find(said + prefix_script + "\n"), std::string::npos) << r.err;
    std::filesystem::remove_all(prefix);
    std::filesystem::remove_all(folder);
}

TEST(Program, WithoutADisplayTkInitFails)
{
    std::string dir = uitest::make_temp_dir();
    uitest::run_result r = uitest::run_wirepaint({syn_capture()}, dir, "");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Tk_Init failed:  no display name and no $DISPLAY environment variable\n");
    std::filesystem::remove_all(dir);
}

/* The interpreter starts while the files load: what the load says comes
 * first, and a failed load ends the program as if nothing ran beside it. */
TEST(Program, TheLoadsMessagesComeBeforeTheInterpretersFailure)
{
    const std::string ex = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";
    const std::string tk = "Tk_Init failed:  no display name and no $DISPLAY environment variable\n";
    struct row {
        std::vector<std::string> args;
        std::string err;
        int status;
    } rows[] = {
        {{"/nonexistent/capture.pcap"}, "pcap_open: No such file or directory\n", 255},
        {{"-H", "10.9.9.9", ex + "sender.pcap"},
         "wirepaint: -H: 10.9.9.9 is not an end of this connection\n", 1},
        {{"-V", ex + "sender.pcap", ex + "receiver.pcap"},
         " reading from " + ex + "receiver.pcap... done.\n reading from " + ex +
             "sender.pcap... done.\nCapture host:    10.77.1.1 (two captures: gaps longer at this "
             "end in 16 of 16 pairs)\n" + tk,
         255},
    };
    for (const row &r : rows) {
        uitest::run_result res = uitest::run_headless(r.args);
        EXPECT_EQ(res.status, r.status) << r.args[0];
        EXPECT_EQ(res.err, r.err);
    }
}

}  // namespace
