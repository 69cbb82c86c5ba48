/*
 * navigate_test.cpp --
 *
 *	Zoom, step, scroll and re-centre. The step limits are checked on the
 *	view state directly; the commands are run end to end on the real
 *	wirepaint under a private Xvfb, whose bells are counted through the
 *	keyboard extension.
 */

#include "ui/navigate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "trace/trace.h"
#include "ui/ui_harness.h"
#include "ui/ui_state.h"

namespace {

/* handshake_capture(): SYN at 0 and SYN-ACK at 20 ms: delay unit 10 ms, duration 20 ms. At
 * -g 800x600 the main window starts at [-0.2, 0.2] s, 3000 px/s, and the
 * overview at -0.3 s, 300 px/s, over_end 8.0 s. */

using uitest::events;
using uitest::handshake_capture;
using uitest::record;
using uitest::section;
using uitest::session;

std::vector<std::string> ev(std::initializer_list<std::string> f) { return f; }

/* The view state of a fresh set-up for the capture above, without Tk. */
void set_up_view()
{
    ui_state_reset();
    trace_state_clear();
    g_ui.main_height = g_ui.over_height = 600;
    g_ui.delay_unit = 0.01f;
    g_trace.duration = 0.02f;
    g_ui.main_start = -0.2f;
    g_ui.main_end = 0.2f;
    g_ui.over_start = -0.3f;
    g_ui.over_end = 8.0f;
    g_ui.over_scale = 300.0f;
    g_ui.main_scroll = 0.5f;
}

TEST(StepMain, StopsAtTheTraceEndsAndRingsAtEachPushAgainstThem)
{
    set_up_view();
    /* One step is 1/32 of the 0.4 s window. */
    step_main(STEP_FORWARD);
    EXPECT_FLOAT_EQ(g_ui.main_start, -0.1875f);
    EXPECT_FLOAT_EQ(g_ui.main_end, 0.2125f);
    EXPECT_EQ(g_ui.bell_count, 0u);

    /* Forward: main_start stops at duration + 20 units = 0.22 s. */
    for (int i = 0; i < 40; i++)
        step_main(STEP_FORWARD);
    EXPECT_NEAR(g_ui.main_start, 0.22f, 1e-6);
    EXPECT_NEAR(g_ui.main_end - g_ui.main_start, 0.4f, 1e-5);
    EXPECT_EQ(g_ui.bell_count, 8u);   /* the push that clamped and seven more */
    float at_end = g_ui.main_start;
    step_main(STEP_FORWARD);
    EXPECT_NEAR(g_ui.main_start, at_end, 1e-7);
    EXPECT_EQ(g_ui.bell_count, 9u);

    /* Back: main_start stops at -20 units. */
    for (int i = 0; i < 60; i++)
        step_main(STEP_BACK);
    EXPECT_NEAR(g_ui.main_start, -0.2f, 1e-6);
    EXPECT_GT(g_ui.bell_count, 9u);
}

TEST(StepOverview, MovesBothWindowsThenScrollsTheOverviewThenRings)
{
    set_up_view();
    /* over_end 8.0 lies past duration + 20 units: the overview canvas
     * scrolls instead, and only the main window moves. */
    float ostep = (8.0f - -0.3f) * 0.03125f;
    step_overview(STEP_FORWARD);
    EXPECT_FLOAT_EQ(g_ui.over_scroll, 0.025f);
    EXPECT_FLOAT_EQ(g_ui.over_start, -0.3f);
    EXPECT_FLOAT_EQ(g_ui.main_start, -0.2f + ostep);
    for (int i = 0; i < 40; i++)
        step_overview(STEP_FORWARD);
    EXPECT_FLOAT_EQ(g_ui.over_scroll, 0.75f);
    /* Steps of 0.025 summed in float fall just short of 0.75 after 30, so
     * the 31st reaches it and the ten after ring. */
    EXPECT_EQ(g_ui.bell_count, 10u);

    /* Back: over_start + 20 units is below 0, so the canvas scrolls back. */
    set_up_view();
    g_ui.over_scroll = 0.03f;
    step_overview(STEP_BACK);
    EXPECT_FLOAT_EQ(g_ui.over_scroll, 0.005f);
    step_overview(STEP_BACK);
    EXPECT_FLOAT_EQ(g_ui.over_scroll, 0.0f);
    EXPECT_EQ(g_ui.bell_count, 0u);
    step_overview(STEP_BACK);
    EXPECT_EQ(g_ui.bell_count, 1u);

    /* Within 20 units of the start, both windows move. */
    set_up_view();
    g_ui.over_start = 0.0f;
    g_ui.over_end = 0.2f;
    step_overview(STEP_BACK);
    EXPECT_FLOAT_EQ(g_ui.over_start, -0.00625f);
    EXPECT_FLOAT_EQ(g_ui.over_end, 0.19375f);
    EXPECT_FLOAT_EQ(g_ui.main_start, -0.20625f);
    step_overview(STEP_FORWARD);
    EXPECT_FLOAT_EQ(g_ui.over_start, 0.0f);
}

TEST(RecentreMain, CentresTheTimeTheOverviewLinesShowAtTheClick)
{
    set_up_view();
    /* Region y 95 shows t = -0.3 + 90 / 300 = 0 on the overview lines. */
    recentre_main(95);
    EXPECT_NEAR(g_ui.main_start, -0.2f, 1e-6);
    EXPECT_NEAR(g_ui.main_end, 0.2f, 1e-6);
    EXPECT_FLOAT_EQ(g_ui.main_scroll, 0.5f);

    /* Scrolled by a quarter of its region (600 px), window y 5 is region
     * y 605: t = 1.7 s. */
    g_ui.over_scroll = 0.25f;
    g_ui.main_scroll = 1.0f;
    recentre_main(5);
    EXPECT_NEAR((g_ui.main_start + g_ui.main_end) / 2, 1.7f, 1e-5);
    EXPECT_NEAR(g_ui.main_end - g_ui.main_start, 0.4f, 1e-5);
    EXPECT_FLOAT_EQ(g_ui.main_scroll, 0.5f);
}

TEST(NavigationCommands, OnlyRingBeforeAnyLoad)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    uitest::bell_counter bells(s.x.name());
    ASSERT_TRUE(bells.ok());
    s.run("init_clib\n"
          "zoomout_clib\nzoomin_clib\nsubzoomout_clib\nsubzoomin_clib\n"
          "forward_clib\nback_clib\nscrlbar1_clib 1\nscrlbar2_clib 1\n"
          "movebar_clib moveto 0.5\nsub2press_clib 10 10\nscrlbar_move_clib moveto 0.5\n"
          "rec @done\ndestroy .\n",
          {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    ASSERT_FALSE(events(s.rec, "@done").empty());
    EXPECT_EQ(bells.count(), 11);
    EXPECT_TRUE(events(s.rec, "drawlines").empty());
    EXPECT_TRUE(events(s.rec, "drawbox").empty());
    EXPECT_TRUE(events(s.rec, "maincanvas").empty());
    EXPECT_TRUE(events(s.rec, "overcanvas").empty());
}

TEST(ForwardClib, AtTheEndRingsAndStops)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    uitest::bell_counter bells(s.x.name());
    ASSERT_TRUE(bells.ok());
    /* 33 steps of 12.5 ms bring main_start to 0.2125 s; the 34th is held
     * at 0.22 s and rings, the 35th rings and moves nothing. */
    s.run("init_clib\n"
          "for {set i 0} {$i < 33} {incr i} { forward_clib }\n"
          "rec @free\nforward_clib\n"
          "rec @held\nforward_clib\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(bells.count(), 2);
    /* The box marks [main_start + 0.1, main_start + 0.3] on the overview,
     * 5 + 300 (t + 0.3) px. */
    record held = events(section(s.rec, "@held"), "drawbox");
    record again = events(section(s.rec, "@done"), "drawbox");
    ASSERT_EQ(held.size(), 1u);
    ASSERT_EQ(again.size(), 0u);
    record last = events(s.rec, "drawbox");
    ASSERT_GE(last.size(), 2u);
    EXPECT_NEAR(std::stod(held[0][3]), 5 + 300 * (0.22 + 0.1 + 0.3), 1e-3);
    EXPECT_EQ(last[last.size() - 1], last[last.size() - 2]);
    /* Nothing of the trace is left in the window. */
    EXPECT_EQ(events(section(s.rec, "@held"), "drawlines").at(0), ev({"drawlines", "0"}));
}

TEST(BackClib, AtTheStartRingsAndStops)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    uitest::bell_counter bells(s.x.name());
    ASSERT_TRUE(bells.ok());
    /* The window starts at its back limit, -20 units: the first step back
     * is held there (up to the float rounding of the limit, under a
     * pixel) and rings; the second rings and moves nothing. */
    s.run("init_clib\nrec @back\nback_clib\nrec @again\nback_clib\nrec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(bells.count(), 2);
    record before = events(s.rec, "line");
    record first = events(section(s.rec, "@back"), "line");
    record second = events(section(s.rec, "@again"), "line");
    ASSERT_EQ(first.size(), 2u);
    for (int i = 0; i < 2; i++) {
        for (int f = 2; f <= 5; f++)
            EXPECT_NEAR(std::stoi(first[i][f]), std::stoi(before[i][f]), 1);
    }
    EXPECT_EQ(second, first);
    /* A redraw of the main canvas: arrows, labels and times, then the box. */
    record seq = section(s.rec, "@back");
    EXPECT_EQ(seq.at(1), ev({"eraselines"}));
    EXPECT_EQ(seq.at(2), ev({"drawlines", "2"}));
    EXPECT_EQ(seq.at(5), ev({"erasetexts"}));
    EXPECT_EQ(seq.at(6), ev({"drawtexts", "2"}));
    EXPECT_EQ(seq.at(9), ev({"erasetimes"}));
    EXPECT_EQ(seq.at(10), ev({"drawtimes", "4"}));
    EXPECT_EQ(seq.at(15), ev({"erasebox"}));
    EXPECT_EQ(seq.at(16)[0], "drawbox");
}

TEST(ScrollbarCommands, StepInTheirDirectionsEvenForZero)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    uitest::bell_counter bells(s.x.name());
    ASSERT_TRUE(bells.ok());
    /* scrlbar1_clib 0 steps back (and rings: the window is at its start);
     * scrlbar2_clib 0 steps forward, scrolling the overview canvas. */
    s.run("init_clib\n"
          "rec @main0\nscrlbar1_clib 0\n"
          "rec @main1\nscrlbar1_clib 1\n"
          "rec @over0\nscrlbar2_clib 0\n"
          "rec @overback\nscrlbar2_clib -1\n"
          "rec @overlimit\nscrlbar2_clib -1\nscrlbar2_clib -1\nscrlbar2_clib -1\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    /* The scroll back leaves over_scroll a float rounding above 0, so one
     * more step back reaches 0 and the two after ring. */
    EXPECT_EQ(bells.count(), 3);
    /* One main step is 12.5 ms: the SYN moves up 37.5 px. */
    EXPECT_EQ(events(section(s.rec, "@main1"), "line").at(0),
              ev({"line", "0", "80", "582", "560", "612", "red", "last"}));
    record over0 = section(s.rec, "@over0");
    EXPECT_EQ(events(over0, "overcanvas").at(0), ev({"overcanvas", "yview", "moveto", "0.025000"}));
    EXPECT_FALSE(events(over0, "drawsublines").empty());
    EXPECT_EQ(events(section(s.rec, "@overback"), "overcanvas").at(0),
              ev({"overcanvas", "yview", "moveto", "0.000000"}));
    EXPECT_EQ(events(section(s.rec, "@overlimit"), "overcanvas").size(), 1u);
}

TEST(ScrollMoveCommands, ClampTheirFractions)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\n"
          "rec @main\nscrlbar_move_clib moveto 0.7\nscrlbar_move_clib moveto -1\n"
          "scrlbar_move_clib moveto 0.3\nscrlbar_move_clib moveto nan\n"
          "rec @over\nmovebar_clib moveto 0.9\nmovebar_clib moveto -0.2\n"
          "movebar_clib moveto 0.25\nmovebar_clib scroll 1 units\nmovebar_clib moveto\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record main = events(section(s.rec, "@main"), "maincanvas");
    ASSERT_EQ(main.size(), 4u);
    EXPECT_EQ(main[0], ev({"maincanvas", "yview", "moveto", "0.500000"}));
    EXPECT_EQ(main[1], ev({"maincanvas", "yview", "moveto", "0.000000"}));
    EXPECT_EQ(main[2], ev({"maincanvas", "yview", "moveto", "0.300000"}));
    /* A fraction that is no number at all reads as 0. */
    EXPECT_EQ(main[3], ev({"maincanvas", "yview", "moveto", "0.000000"}));
    record over = events(section(s.rec, "@over"), "overcanvas");
    ASSERT_EQ(over.size(), 3u);
    EXPECT_EQ(over[0], ev({"overcanvas", "yview", "moveto", "0.750000"}));
    EXPECT_EQ(over[1], ev({"overcanvas", "yview", "moveto", "0.000000"}));
    EXPECT_EQ(over[2], ev({"overcanvas", "yview", "moveto", "0.250000"}));
    /* Neither redraws anything. */
    EXPECT_TRUE(events(section(s.rec, "@main"), "drawlines").empty());
    EXPECT_TRUE(events(section(s.rec, "@over"), "drawlines").empty());
}

TEST(ZoomCommands, RecomputeTheScaleFromTheLevelAroundTheCentre)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* The SYN leaves at t 0, the centre of the main window, which stays at
     * y 620; its 10 ms arrow is 30 px at level 0, 30 * 0.875^3 after three
     * zooms out, and 30 again after three back in. */
    s.run("init_clib\n"
          "zoomout_clib\nzoomout_clib\nrec @out3\nzoomout_clib\n"
          "zoomin_clib\nzoomin_clib\nrec @in3\nzoomin_clib\n"
          "rec @subout\nsubzoomout_clib\n"
          "rec @subin\nsubzoomin_clib\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(events(section(s.rec, "@out3"), "line").at(0),
              ev({"line", "0", "80", "620", "560", "640", "red", "last"}));
    EXPECT_EQ(events(section(s.rec, "@in3"), "line").at(0),
              ev({"line", "0", "80", "620", "560", "650", "red", "last"}));
    /* An overview zoom keeps over_start: the SYN at 0.3 s from it lies at
     * 5 + 0.3 * 262.5 = 83.75 px, and its main-canvas arrows stay. */
    record subout = section(s.rec, "@subout");
    EXPECT_EQ(events(subout, "subline").at(0), ev({"subline", "0", "25", "83", "135", "86", "red"}));
    EXPECT_TRUE(events(subout, "drawlines").empty());
    EXPECT_FALSE(events(subout, "drawbox").empty());
    EXPECT_EQ(events(section(s.rec, "@subin"), "subline").at(0),
              ev({"subline", "0", "25", "95", "135", "98", "red"}));
}

TEST(Sub2press, RecentresOnTheClickedTimeAndMovesTheCanvasToItsMiddle)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* Overview window y 95 shows t 0 (the SYN's departure); after moving
     * the main canvas to its top, a click there brings the SYN to the
     * centre again and the canvas back to 0.25. */
    s.run("init_clib\n"
          "forward_clib\nforward_clib\n"
          "scrlbar_move_clib moveto 0\n"
          "rec @press\nsub2press_clib 77 95\n"
          "rec @click\nsub1press_clib 320 365\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record press = section(s.rec, "@press");
    EXPECT_EQ(events(press, "maincanvas").at(0), ev({"maincanvas", "yview", "moveto", "0.25"}));
    EXPECT_EQ(events(press, "line").at(0), ev({"line", "0", "80", "620", "560", "650", "red", "last"}));
    /* main_scroll is 0.5 again: window y 365 is region y 665, the SYN-ACK. */
    EXPECT_EQ(events(section(s.rec, "@click"), "createpi").size(), 1u);
    EXPECT_EQ(s.message(1).rfind("10.0.0.2.80 > 10.0.0.1.40000:", 0), 0u) << s.message(1);
}

}  // namespace
