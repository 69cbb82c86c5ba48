/*
 * cmdline_test.cpp --
 *
 *	Options, the usage and version texts and their exit statuses: the
 *	parser in this process, and the real binary for what reaches the
 *	shell. None of these runs needs a display: every one ends before the
 *	window would open.
 */

#include "ui/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "trace/trace.h"
#include "ui/ui_harness.h"
#include "ui/ui_state.h"

namespace {

const char usage_text[] =
    "Usage: wirepaint [opts] file [file]\n"
    "\t-V: be verbose\n"
    "\t-g <geometry>: specify window geometry\n"
    "\t-v: show version number and quit\n"
    "\t-h: display this help message\n"
    /* New options follow the five lines above, which never change. */
    "\t-L: list the TCP connections of each file with their health and quit\n"
    "\t    (-x <file>: as CSV, - for stdout)\n"
    "\t-c <n>: draw connection n of that list\n"
    "\t-f <filter>: read only the packets a libpcap filter passes\n"
    "\t-H <host>: draw this end (address or address:port) on the left axis\n"
    "\t-k: two files: correct the drift of the two capture hosts' clocks\n"
    "\t-o <file>: write the diagram to file (.svg .pdf .png .ps .eps), no window;\n"
    "\t    .html: the interactive report page (with -L: the health table's)\n"
    "\t-t <from>:<to>: show the diagram from <from> to <to> seconds\n"
    "\t-x <file>: write one CSV row per segment to file (- for stdout), no window\n"
    "\t-S: print statistics of the connection, no window\n"
    "\t-E: print the TCP analysis events, one per line, no window\n"
    "\t-G <type>[:<dir>]: -o writes graph tsg, tput, rtt, owd or inflight, dir LR or RL\n"
    "\t-P: with -L -o <file>.html, each connection's page too, in <file>-pages/\n"
    "\tSee wirepaint(1) for the keys of the window.\n";

const char version_text[] = "wirepaint version 2.01a (20080212)\n";

/* Parses `args` (program name first) from a fresh state. */
cmdline_action parse(std::vector<std::string> args, int *first)
{
    ui_state_reset();
    trace_state_clear();
    static std::vector<std::string> keep;
    static std::vector<char *> argv;
    keep = std::move(args);
    argv.clear();
    for (std::string &a : keep)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return parse_options(static_cast<int>(keep.size()), argv.data(), first);
}

using uitest::run_headless;

TEST(ParseOptions, SetsEachValueInTheOrderGiven)
{
    int first = 0;
    EXPECT_EQ(parse({"wirepaint", "-g", "800x600+10+20", "a.pcap"}, &first), CMDLINE_RUN);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(g_ui.win_width, 800);
    EXPECT_EQ(g_ui.win_height, 600);
    EXPECT_EQ(g_ui.win_x, 10);
    EXPECT_EQ(g_ui.win_y, 20);

    /* A repeated option overwrites; parts a geometry lacks become 0. */
    parse({"wirepaint", "-g", "800x600+10+20", "-g", "+5+6", "a.pcap"}, &first);
    EXPECT_EQ(g_ui.win_width, 0);
    EXPECT_EQ(g_ui.win_height, 0);
    EXPECT_EQ(g_ui.win_x, 5);
    EXPECT_EQ(g_ui.win_y, 6);

    parse({"wirepaint", "-V", "-d", "0.25", "-s", "128", "a.pcap", "b.pcap"}, &first);
    EXPECT_EQ(first, 6);
    EXPECT_EQ(g_trace.verbose, 1);
    EXPECT_FLOAT_EQ(g_ui.delay_unit, 0.25f);
    EXPECT_EQ(g_trace.copy_len, 128);
    EXPECT_EQ(g_trace.saved_copy_len, 128);

    /* Text that is no number reads as 0. */
    parse({"wirepaint", "-d", "soon", "-s", "many", "a.pcap"}, &first);
    EXPECT_FLOAT_EQ(g_ui.delay_unit, 0.0f);
    EXPECT_EQ(g_trace.copy_len, 0);
}

TEST(ParseOptions, StopsAtTheFirstFileNameAndAtDashDash)
{
    int first = 0;
    /* "-V" after a file name is a second file name, not an option. */
    EXPECT_EQ(parse({"wirepaint", "a.pcap", "-V"}, &first), CMDLINE_RUN);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(g_trace.verbose, 0);

    EXPECT_EQ(parse({"wirepaint", "-V", "--", "-g", "x"}, &first), CMDLINE_RUN);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(g_ui.win_width, 0);
}

TEST(ParseOptions, VersionHelpAndBadOptionsActWhereTheyStand)
{
    int first = 0;
    /* -v acts at once: the -g after it is never read. */
    EXPECT_EQ(parse({"wirepaint", "-v", "-g", "800x600", "a.pcap"}, &first), CMDLINE_VERSION);
    EXPECT_EQ(g_ui.win_width, 0);
    EXPECT_EQ(parse({"wirepaint", "-V", "-h", "a.pcap"}, &first), CMDLINE_USAGE);
    EXPECT_EQ(g_trace.verbose, 1);

    testing::internal::CaptureStderr();
    EXPECT_EQ(parse({"wirepaint", "-y", "a.pcap"}, &first), CMDLINE_USAGE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "wirepaint: invalid option -- 'y'\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(parse({"wirepaint", "-g"}, &first), CMDLINE_USAGE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "wirepaint: option requires an argument -- 'g'\n");
}

TEST(IsFileCountOk, AcceptsOneOrTwoFiles)
{
    EXPECT_FALSE(is_file_count_ok(0));
    EXPECT_TRUE(is_file_count_ok(1));
    EXPECT_TRUE(is_file_count_ok(2));
    EXPECT_FALSE(is_file_count_ok(3));
    EXPECT_FALSE(is_file_count_ok(-1));
}

TEST(Program, PrintsUsageAndVersionOnStandardErrorWithStatusZero)
{
    uitest::run_result help = run_headless({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, usage_text);
    EXPECT_EQ(help.out, "");

    /* -v before a file name: the file is never opened. */
    uitest::run_result version = run_headless({"-v", "no-such-file.pcap"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err, version_text);

    /* Options without a file, and three files, are usage errors. */
    uitest::run_result no_file = run_headless({"-V"});
    EXPECT_EQ(no_file.status, 0);
    EXPECT_EQ(no_file.err, usage_text);
    uitest::run_result three = run_headless({"a.pcap", "b.pcap", "c.pcap"});
    EXPECT_EQ(three.status, 0);
    EXPECT_EQ(three.err, usage_text);

    /* getopt's diagnostic names the program as it was started. */
    uitest::run_result bad = run_headless({"-y", "a.pcap"});
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.err, std::string(WIREPAINT_BINARY) + ": invalid option -- 'y'\n" + usage_text);
    uitest::run_result missing = run_headless({"-g"});
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.err,
              std::string(WIREPAINT_BINARY) + ": option requires an argument -- 'g'\n" + usage_text);
}

TEST(Program, TakesAnOptionAfterAFileNameAsASecondFile)
{
    pcapgen::capture c;
    pcapgen::tcp_seg syn;
    syn.flags = TH_SYN;
    c.add(pcapgen::build_tcp(syn), 0.0);
    std::string cap = c.write();
    /* The loader reads the second name, "-V", first, finds no such file in
     * the working folder and stops; had -V been taken as an option it
     * would have loaded the capture with progress lines. */
    uitest::run_result r = run_headless({cap, "-V"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "pcap_open: No such file or directory\n");
}

}  // namespace
