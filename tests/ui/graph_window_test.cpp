/*
 * graph_window_test.cpp --
 *
 *	The graphs without a window: -G TYPE[:DIR] makes -o write that graph
 *	at the -g size, over the -t span, in formats that real readers open;
 *	a bad type or direction ends with a message and status 1. And the
 *	Graph window of the real script on a private Xvfb: the ladder's span
 *	shaded and following the ladder, a click centring the ladder on the
 *	segment, zoom and its stack, the keys, Save as. The time-sequence
 *	graph marks the events of the events pass.
 */

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load/loader.h"
#include "trace/trace.h"
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

    /* The events pass marks the retransmissions of a lossy download. */
    r = uitest::run_wirepaint({"-G", "tsg", "-o", "e.pdf",
                               WIREPAINT_SOURCE_DIR "/examples/bulk-loss-sender.pcap"}, dir, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sh("pdftotext e.pdf e.txt"), 0);
    EXPECT_NE(uitest::read_file(dir + "/e.txt").find("event: retransmission"), std::string::npos);

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

TEST(GraphWindow, ShadeFollowsTheLadderAndAClickCentresTheLadderOnTheSegment)
{
    /* Where data segment 120 of the sender's graph lies in an 800x500
     * image of the whole connection, found as the window will find it. */
    trace_state_clear();
    std::string file = sender;
    char *argv[] = {&file[0]};
    load_traces(1, argv, 1);
    const graph_data &g = graph_of(GRAPH_TSG, default_graph_dir());
    const graph_point &q = g.series[0].pts[120];
    graph_view v = graph_full_view(g, 800, 500);
    graph_plot p = graph_plot_area(800, 500);
    int x = static_cast<int>(p.left + (q.t - v.t0) * p.width / (v.t1 - v.t0));
    int y = static_cast<int>(p.top + (v.v1 - (q.lo + q.hi) / 2) * p.height / (v.v1 - v.v0));
    int segment = q.rec + 1;
    graph_state_reset();
    trace_state_clear();

    uitest::real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string png = s.dir + "/graph.png";
    std::string X = std::to_string(x), Y = std::to_string(y), top = std::to_string(int(p.top) + 3);
    std::string right = std::to_string(int(p.left + p.width) - 3);
    s.run("focus -force .subframe1.canvas\n"
          "event generate .subframe1.canvas <Key-t>\nupdate\n"
          "graph_clib size 800 500\nupdate\n"
          "proc shade {x} { expr {[wpgraph get $x " + top + "] eq {219 234 254}} }\n"
          "rec first [winfo exists .graph] [shade 90] [shade " + right + "] [wm title .graph]\n"
          "view_clib end\nupdate\n"
          "rec end [shade 90] [shade " + right + "]\n"
          "event generate .graph.c <ButtonPress-1> -x " + X + " -y " + Y + "\n"
          "event generate .graph.c <ButtonRelease-1> -x " + X + " -y " + Y + "\nupdate\n"
          "rec click [.status cget -text] [llength [.subframe1.canvas find withtag flash]] "
          "[shade " + X + "] [shade 90]\n"
          "set ::at0 [graph_clib status 400 200]\nrec at $::at0\n"
          "event generate .graph.c <ButtonPress-1> -x 300 -y 100\n"
          "event generate .graph.c <B1-Motion> -x 500 -y 300\n"
          "event generate .graph.c <ButtonRelease-1> -x 500 -y 300\nupdate\n"
          "rec zoomed [expr {[graph_clib status 400 200] ne $::at0}]\n"
          "focus -force .graph.c\n"
          "event generate .graph.c <Key-BackSpace>\nupdate\n"
          "rec at [graph_clib status 400 200]\n"
          "event generate .graph.c <Key-3>\nupdate\n"
          "event generate .graph.c <Key-d>\nupdate\n"
          "rec keys [wm title .graph]\n"
          "event generate .graph.c <Key-2>\nupdate\nevent generate .graph.c <Key-w>\nupdate\n"
          "rec window [string match {*over 0.1 s*} [graph_clib title]]\n"
          "proc tk_getSaveFile {args} { return {" + png + "} }\n"
          ".graph.bar.save invoke\nupdate\n"
          "rec saved [.graph.status cget -text]\n"
          "destroy .\n",
          {"-g", "900x600", sender});
    ASSERT_EQ(s.result.status, 0) << s.result.err << uitest::read_file(s.dir + "/record.txt");
    using uitest::events;
    EXPECT_EQ(events(s.rec, "first").at(0),
              (std::vector<std::string>{"first", "1", "1", "0", "Graph: tsg LR"}));
    EXPECT_EQ(events(s.rec, "end").at(0), (std::vector<std::string>{"end", "0", "1"}));
    EXPECT_EQ(events(s.rec, "click").at(0),
              (std::vector<std::string>{"click", "Segment " + std::to_string(segment), "1", "1",
                                        "0"}));
    uitest::record at = events(s.rec, "at");
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0], at[1]);   /* BackSpace went back to the view before the zoom */
    EXPECT_EQ(events(s.rec, "zoomed").at(0), (std::vector<std::string>{"zoomed", "1"}));
    EXPECT_EQ(events(s.rec, "keys").at(0), (std::vector<std::string>{"keys", "Graph: rtt RL"}));
    EXPECT_EQ(events(s.rec, "window").at(0), (std::vector<std::string>{"window", "1"}));
    EXPECT_EQ(events(s.rec, "saved").at(0),
              (std::vector<std::string>{"saved", "Saved the graph to " + png + "."}));
    EXPECT_EQ(std::system(("identify -format '%w %h' " + png + " > " + s.dir + "/size.txt").c_str()), 0);
    EXPECT_EQ(uitest::read_file(s.dir + "/size.txt"), "800 500");
    /* -G without -o: the window opens on that graph once it is drawn. */
    uitest::real_session opened;
    opened.run("after 300 {rec graph [winfo exists .graph] [wm title .graph]; destroy .}\n",
          {"-G", "owd:RL", sender});
    EXPECT_EQ(events(opened.rec, "graph").at(0), (std::vector<std::string>{"graph", "1", "Graph: owd RL"}));
}
