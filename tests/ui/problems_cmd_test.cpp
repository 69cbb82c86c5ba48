/*
 * problems_cmd_test.cpp --
 *
 *	The Problems window and the event keys end to end: the real program
 *	and UI script on a private X server, the slow-reader capture loaded.
 *	The window lists the kinds with counts and severity and opens into
 *	segments, a few at a time; the search narrows them; a double-click
 *	on a stall, the keys ] and [, n and p reach their segments and say
 *	so in the status line; hovering an arrow adds its events.
 */

#include <gtest/gtest.h>

#include <string>

#include "ui_harness.h"

namespace {

using uitest::events;

TEST(ProblemsWindow, ListsKindsAndReachesStallsAndWarnings)
{
    uitest::real_session s;
    ASSERT_TRUE(s.x.ok());
    s.run("update\n"
          "event generate . <KeyPress> -keysym e\n update\n"
          "set t .problems.tree\n"
          "foreach k [$t children {}] { rec kind $k {*}[$t item $k -values] }\n"
          "$t item stall -open 1\n wp::problems_fill stall\n update\n"
          "set first stall/77\n $t see $first\n update\n"
          "lassign [$t bbox $first] x y\n"
          "eval [string map [list %W $t %x [incr x 5] %y [incr y 5]] [bind $t <Double-1>]]\n"
          "update\n rec click [.status cget -text]\n"
          "foreach {key name} {bracketright stall bracketleft back n warning p warning} {\n"
          "  event generate . <KeyPress> -keysym $key\n update\n"
          "  rec key $name [.status cget -text]\n"
          "}\n"
          "set wp::problems_search 1.146946s,zero\n update\n"
          "rec search {*}[lmap k [$t children {}] {if {![$t item $k -open]} continue; set k}]\n"
          "set wp::problems_search {}\n set wp::problems_most 2\n rec most [wp::problems_fill window_full]"
          " [llength [$t children window_full]]\n"
          "set i [view_clib segment 77]\n update\n"
          "rec hover [hover_clib [expr {($x1($i) + $x2($i)) / 2}]"
          " [expr {($y1($i) + $y2($i)) / 2 - [lindex [.subframe1.canvas yview] 0] *"
          " [lindex [.subframe1.canvas cget -scrollregion] 3]}]]\n"
          "destroy .\n",
          {"-g", "900x700", WIREPAINT_SOURCE_DIR "/examples/slow-reader.pcap"});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    uitest::record kinds = events(s.rec, "kind");
    ASSERT_FALSE(kinds.empty()) << s.result.err;
    std::string all;
    for (const auto &k : kinds)
        all += k[1] + " " + k[2] + " " + k[3] + "\n";
    EXPECT_NE(all.find("zero_window 4 warning\n"), std::string::npos) << all;
    EXPECT_NE(all.find("window_full 74 note\n"), std::string::npos) << all;
    /* The two zero-window stalls of the sender; the reader's silences
     * between its ACKs are turns, not stalls. */
    EXPECT_NE(all.find("stall 2 warning\n"), std::string::npos) << all;
    /* The slow reader's zero-window stall, reached by a double-click. */
    EXPECT_EQ(events(s.rec, "click").at(0).at(1), "Segment 77: stall 1.146946s,zero_window");
    uitest::record keys = events(s.rec, "key");
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0][2], "Segment 164: stall 0.741197s,zero_window") << keys[0][2];
    EXPECT_EQ(keys[1][2], "Segment 77: stall 1.146946s,zero_window") << keys[1][2];
    EXPECT_EQ(keys[2][2], "Segment 154: retransmission") << keys[2][2];
    EXPECT_EQ(keys[3][2], "Segment 77: stall 1.146946s,zero_window") << keys[3][2];
    EXPECT_EQ(events(s.rec, "search").at(0), uitest::record::value_type({"search", "stall"}));
    /* 74 full windows, two rows shown and one saying there are more. */
    EXPECT_EQ(events(s.rec, "most").at(0), uitest::record::value_type({"most", "2", "3"}));
    std::string hover = events(s.rec, "hover").at(0).at(1);
    EXPECT_EQ(hover.rfind("Segment 77: ", 0), 0u) << hover;
    EXPECT_NE(hover.find("  [stall]"), std::string::npos) << hover;

    /* The timeout capture: ] reaches the first timeout stall. */
    s.run("update\n event generate . <KeyPress> -keysym bracketright\n update\n"
          "rec key [.status cget -text]\n destroy .\n",
          {"-g", "900x700", WIREPAINT_SOURCE_DIR "/examples/timeout.pcap"});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(events(s.rec, "key").at(0).at(1), "Segment 118: stall 0.233210s,timeout");
}

}  // namespace
