/*
 * jump_test.cpp --
 *
 *	Home, end, fit, go-to-segment, pan and span moves of the main view,
 *	and the hover summary, through the real program and a recording
 *	script. The handshake capture at -g 800x600: first delay 10 ms, so
 *	3000 px/s at zoom 0; the window shows region rows 300 to 899.
 */

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ui_harness.h"

namespace {

using uitest::record;

/* Rows of the ends of published arrow `i` in a section: {y1, y2}. */
std::pair<double, double> arrow_rows(const record &sec, int i)
{
    for (const auto &e : uitest::events(sec, "line")) {
        if (std::stoi(e[1]) == i)
            return {std::stod(e[3]), std::stod(e[5])};
    }
    return {-1e9, -1e9};
}

TEST(Jump, HomeEndFitSegmentPanAndSpan)
{
    uitest::session s;
    ASSERT_TRUE(s.x.ok());
    /* Each mark opens the section of the publications that follow it. */
    s.run("rec @before [view_clib home]\n"
          "rec @init\ninit_clib\n"
          "rec @home\nview_clib home\n"
          "rec @end\nview_clib end\n"
          "rec @fit\nview_clib fit\n"
          "rec @segment\nrec result [view_clib segment 2]\n"
          "rec @pan\nview_clib pan 30\n"
          "rec @span\nview_clib span 0 0.02\n"
          "rec @bad [view_clib segment 9] [view_clib span 1 0] [view_clib pan x] [view_clib nosuch]\n"
          "destroy .\n",
          {"-g", "800x600", uitest::handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(uitest::section(s.rec, "@before").size(), 1u) << "nothing drawn before a load";

    /* Home: line 0 (the SYN, sent at 0) 20 px below the top row. */
    EXPECT_NEAR(arrow_rows(uitest::section(s.rec, "@home"), 0).first, 320, 1);
    /* End: the SYN-ACK's arrival (0.02 s, its first end) 20 px above the
     * bottom row. */
    EXPECT_NEAR(arrow_rows(uitest::section(s.rec, "@end"), 1).first, 880, 1);
    /* Fit: 0 to 0.02 with 2% on both ends over 600 rows. */
    record fit_sec = uitest::section(s.rec, "@fit");
    EXPECT_NEAR(arrow_rows(fit_sec, 0).first, 300 + 600 * 0.0004 / 0.0208, 1);
    EXPECT_NEAR(arrow_rows(fit_sec, 1).first, 300 + 600 * 0.0204 / 0.0208, 1);
    /* Segment 2 (sent 0.01, arrives 0.02) centred at the scale of the
     * fit; its arrow is published at index 1. */
    record seg_sec = uitest::section(s.rec, "@segment");
    EXPECT_EQ(uitest::events(seg_sec, "result").at(0).at(1), "1");
    auto centred = arrow_rows(seg_sec, 1);
    EXPECT_NEAR((centred.first + centred.second) / 2, 600, 1);
    /* Pan 30: everything 30 rows lower. */
    auto panned = arrow_rows(uitest::section(s.rec, "@pan"), 1);
    EXPECT_NEAR(panned.first - centred.first, 30, 1);
    /* Span 0..0.02: t 0 at the top row, 0.02 at the bottom. */
    record span_sec = uitest::section(s.rec, "@span");
    EXPECT_NEAR(arrow_rows(span_sec, 0).first, 300, 1);
    EXPECT_NEAR(arrow_rows(span_sec, 1).first, 900, 1);
    /* The box stays within the shown quarter of the overview. */
    record bad_sec = uitest::section(s.rec, "@bad");
    record all_boxes = uitest::events(span_sec, "drawbox");
    ASSERT_FALSE(all_boxes.empty());
    double top = std::stod(all_boxes.back()[3]), bottom = std::stod(all_boxes.back()[4]);
    EXPECT_GE(top, 0);
    EXPECT_LE(bottom, 600);
    /* Bad arguments: empty results, nothing redrawn. */
    EXPECT_EQ(uitest::section(s.rec, "@bad")[0], (std::vector<std::string>{"@bad", "", "", "", ""}));
    EXPECT_EQ(uitest::events(bad_sec, "drawlines").size(), 0u);
}

TEST(Jump, HoverNamesTheArrowUnderThePointer)
{
    uitest::session s;
    ASSERT_TRUE(s.x.ok());
    /* The SYN runs from (80, 620) to (560, 650) in region rows, which the
     * window shows from row 300. */
    s.run("rec hover [hover_clib 80 320]\n"
          "init_clib\n"
          "rec hover [hover_clib 320 335]\n"
          "rec hover [hover_clib 320 100]\n"
          "rec hover [hover_clib 1]\n"
          "destroy .\n",
          {"-g", "800x600", uitest::handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record h = uitest::events(s.rec, "hover");
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[0].at(1), "");
    EXPECT_EQ(h[1].at(1).rfind("Segment 1: 10.0.0.1.40000 > 10.0.0.2.80: ", 0), 0u) << h[1].at(1);
    EXPECT_EQ(h[2].at(1), "");
    EXPECT_EQ(h[3].at(1), "");
}

}  // namespace
