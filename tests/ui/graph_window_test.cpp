/*
 * graph_window_test.cpp --
 *
 *	The graphs without a window: -G TYPE[:DIR] makes -o write that graph
 *	at the -g size, over the -t span, in formats that real readers open;
 *	a bad type or direction ends with a message and status 1.
 */

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/graph_window.h"
#include "ui/ui_harness.h"

namespace {

const char sender[] = WIREPAINT_SOURCE_DIR "/examples/sender.pcap";
const char receiver[] = WIREPAINT_SOURCE_DIR "/examples/receiver.pcap";

}  // namespace

TEST(GraphOutput, EveryTypeWritesAtTheGeometrySizeAndBadRequestsFail)
{
    std::string dir = uitest::make_temp_dir();
    auto sh = [&](const std::string &cmd) { return std::system(("cd " + dir + " && " + cmd).c_str()); };
    for (const char *type : {"tsg", "tput:LR", "rtt:RL", "owd", "inflight"}) {
        uitest::run_result r =
            uitest::run_wirepaint({"-G", type, "-g", "640x420", "-o", "g.png", sender, receiver}, dir, "");
        EXPECT_EQ(r.status, 0) << type << ": " << r.err;
        EXPECT_EQ(sh("identify -format '%w %h' g.png > size.txt"), 0);
        EXPECT_EQ(uitest::read_file(dir + "/size.txt"), "640 420") << type;
    }
    /* A span: the time axis runs over it (its labels are in the SVG). */
    uitest::run_result r = uitest::run_wirepaint({"-G", "tsg", "-t", "0.2:0.3", "-o", "g.svg", sender}, dir, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sh("rsvg-convert g.svg -o svg.png"), 0);
    r = uitest::run_wirepaint({"-G", "tsg:RL", "-t", "0.2:0.3", "-o", "g.pdf", sender}, dir, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sh("pdftotext g.pdf g.txt"), 0);
    std::string text = uitest::read_file(dir + "/g.txt");
    EXPECT_NE(text.find("0.24"), std::string::npos) << text;
    EXPECT_NE(text.find("10.77.1.1:8080"), std::string::npos) << text;

    for (const char *bad : {"tcp", "tsg:LEFT", "rtt:"}) {
        r = uitest::run_wirepaint({"-G", bad, "-o", "x.png", sender}, dir, "");
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.err, std::string("wirepaint: -G wants TYPE[:DIR], TYPE one of tsg, tput, rtt, owd, "
                                     "inflight and DIR LR or RL, not \"") + bad + "\"\n");
    }
    graph_type t;
    int d = -1;
    EXPECT_TRUE(parse_graph_request("owd", &t, &d));
    EXPECT_EQ(t, GRAPH_OWD);
    EXPECT_EQ(d, 0);
    std::filesystem::remove_all(dir);
}
