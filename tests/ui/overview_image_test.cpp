/*
 * overview_image_test.cpp --
 *
 *	The overview drawn by the "wpoverview" image in the real window: at
 *	several zooms, scroll positions and after a click that moves the view
 *	box under the lines, a dump of the overview canvas (xwd) is byte for
 *	byte the dump of the same canvas with the image's lines drawn as one
 *	canvas line item each, and differs from the canvas without them.
 */

#include <gtest/gtest.h>

#include <string>

#include "ui/ui_harness.h"

namespace {

/*
 * Tcl run after the window is drawn: for each view, when the lines went
 * into the image, dumps the canvas as drawn, then without the image, then
 * with one line item per line of the image, and records "view NAME
 * LINES"; when they came one by one it records "items NAME". The image is
 * put back after each view.
 */
const char *const COMPARE_VIEWS = R"TCL(
set c .subframe2.canvas
proc dump {file} {
    update
    exec xwd -silent -id [winfo id .subframe2.canvas] -out $file
}
proc compare_view {name} {
    global c subimage
    if {$subimage eq ""} {
        rec items $name
        return
    }
    dump $name-image.xwd
    set lines [$subimage lines]
    $c delete sublines
    dump $name-none.xwd
    foreach {x1 y1 x2 y2 color} $lines {
        $c create line $x1 $y1 $x2 $y2 -fill $color -tags sublines
    }
    dump $name-items.xwd
    $c delete sublines
    $c create image 0 0 -anchor nw -image $subimage -tags sublines
    rec view $name [expr {[llength $lines] / 5}]
}
foreach {name action} {
    start {}
    scrolled {movebar_clib moveto 0.3}
    clicked {sub2press_clib 40 200}
    out4 {for {set i 0} {$i < 4} {incr i} { subzoomout_clib }}
    out4-bottom {movebar_clib moveto 0.75}
    in5 {for {set i 0} {$i < 9} {incr i} { subzoomin_clib }}
    in5-stepped {scrlbar2_clib 1}
} { eval $action; compare_view $name }
destroy .
)TCL";

TEST(OverviewImage, DrawsThePixelsOfOneLineItemPerLine)
{
    uitest::real_session s;
    ASSERT_TRUE(s.x.ok());
    s.run(COMPARE_VIEWS, {"-g", "800x600", WIREPAINT_SOURCE_DIR "/examples/drift-sender.pcap",
                          WIREPAINT_SOURCE_DIR "/examples/drift-receiver.pcap"});
    EXPECT_EQ(s.result.status, 0) << s.result.err;
    int compared = 0;
    for (const std::vector<std::string> &e : uitest::events(s.rec, "view")) {
        ASSERT_EQ(e.size(), 3u);
        std::string base = s.dir + "/" + e[1];
        std::string image = uitest::read_file(base + "-image.xwd");
        ASSERT_GT(image.size(), 100000u) << e[1];
        EXPECT_EQ(image, uitest::read_file(base + "-items.xwd")) << e[1];
        EXPECT_NE(image, uitest::read_file(base + "-none.xwd")) << e[1];
        EXPECT_GE(std::stoi(e[2]), 1000) << e[1];
        compared++;
    }
    EXPECT_GE(compared, 5);
}

}  // namespace
