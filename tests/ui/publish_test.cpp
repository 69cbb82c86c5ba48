/*
 * publish_test.cpp --
 *
 *	Publication of the diagram into a real Tcl interpreter: arrows and
 *	their hit table, labels and time stamps kept apart, overview lines,
 *	frames, the view box and the redraw sequences, on line lists made in
 *	the test. The draw procedures are Tcl procedures that note each call.
 */

#include "ui/publish.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "trace/direction.h"
#include "line_fixture.h"
#include "trace/trace.h"
#include "ui/line_index.h"
#include "ui/ui_state.h"
#include "ui/view.h"

namespace {

/* A Tcl interpreter whose draw and erase procedures append their names
 * to the list `calls`, and a line list installed as the main trace's. */
class publish_env : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui_state_reset();
        trace_state_clear();
        g_ui.interp = Tcl_CreateInterp();
        Tcl_Eval(g_ui.interp,
                 "set calls {}\n"
                 "foreach p {drawframe drawsubframe drawlines drawsublines drawtexts drawtimes\n"
                 "    drawbox eraselines erasesublines erasetexts erasetimes erasebox} {\n"
                 "    proc $p {} \"lappend ::calls $p\"\n"
                 "}\n"
                 "proc .subframe1.canvas {args} { lappend ::calls [list canvas {*}$args] }\n");
        g_ui.main_width = 640;
        g_ui.main_height = 600;
        g_ui.over_width = 160;
        g_ui.over_height = 600;
    }
    void TearDown() override
    {
        g_trace.lines = nullptr;
        g_trace.main.rec = nullptr;
        g_trace.main.count = 0;
        g_trace.loaded = 0;
        Tcl_DeleteInterp(g_ui.interp);
        g_ui.interp = nullptr;
    }

    /* A line from the left host unless dir is 2. */
    void add_line(float t_send, float delay, int dir = 1, int cls = CLS_DATA)
    {
        append_line(lines_, t_send, delay, dir, cls);
        g_trace.loaded = 1;
    }

    /* The view of a fresh set-up at 3000 px/s: main window [-0.2, 0.2]. */
    void standard_view()
    {
        g_ui.main_scale = 3000.0f;
        g_ui.main_start = -0.2f;
        g_ui.main_end = 0.2f;
        g_ui.main_scroll = 0.5f;
        g_ui.over_scale = 300.0f;
        g_ui.over_start = -0.3f;
        g_ui.over_end = 8.0f;
    }

    std::string var(const char *name, const char *index = nullptr)
    {
        const char *v = Tcl_GetVar2(g_ui.interp, name, index, TCL_GLOBAL_ONLY);
        return v ? v : "<unset>";
    }
    std::string elem(const char *name, int i) { return var(name, std::to_string(i).c_str()); }
    std::string calls() { return var("calls"); }

    std::vector<line_record> lines_;
    std::vector<seg_record> records_;
};

TEST(PlaceText, MovesACrowdedTextBelowAndDropsOneThatStillCrowds)
{
    text_column h;
    text_column_start(&h);
    int y = 0;
    ASSERT_TRUE(place_text(100, &h, &y));
    EXPECT_EQ(y, 100);
    ASSERT_TRUE(place_text(104, &h, &y));
    EXPECT_EQ(y, 109);

    text_column g;
    text_column_start(&g);
    ASSERT_TRUE(place_text(100, &g, &y));
    ASSERT_TRUE(place_text(100, &g, &y));
    EXPECT_EQ(y, 109);
    y = -1;
    EXPECT_FALSE(place_text(100, &g, &y));
    EXPECT_EQ(y, -1);
    /* A refusal leaves the column as it was. */
    EXPECT_EQ(g.taken, (std::set<int>{-100, 100, 109}));
    /* Far from both, a text keeps its place; nothing is forgotten. */
    ASSERT_TRUE(place_text(200, &g, &y));
    EXPECT_EQ(y, 200);
    EXPECT_EQ(g.taken, (std::set<int>{-100, 100, 109, 200}));
    /* Out of order: 1029 after 1029 and 1021 came before it. */
    text_column o;
    text_column_start(&o);
    for (int base : {1029, 1040, 1021, 1029, 1000, 1030, -95})
        place_text(base, &o, &y);
    EXPECT_EQ(o.taken, (std::set<int>{-100, -91, 1000, 1029, 1040}));
}

/* The five-entry history columns once had: the last five accepted texts,
 * oldest first, -100 at the start. */
int place_in_last_five(int y, int h[5], int *placed)
{
    bool accepted = true;
    for (int i = 0; i < 5; i++) {
        if (std::abs(y - h[i]) > 8)
            continue;
        y = h[i] + 9;
        for (int k = 0; k < 5; k++)
            if (std::abs(y - h[k]) <= 8)
                accepted = false;
    }
    if (!accepted)
        return 0;
    std::memmove(h, h + 1, 4 * sizeof(int));
    h[4] = y;
    *placed = y;
    return 1;
}

TEST(PlaceText, NoTwoTextsOverlapAndRisingBasesLandAsWithTheLastFive)
{
    std::mt19937 rng(15);
    for (int round = 0; round < 3000; round++) {
        bool rising = round % 2 == 0;
        text_column c;
        text_column_start(&c);
        int h[5] = {-100, -100, -100, -100, -100};
        /* Rising from -91 on: a text far above the canvas, below -91,
         * meets the starting -100 before older texts below it in the
         * last five, but comes after them in order of y. */
        int base = static_cast<int>(rng() % 200) - (rising ? 91 : 150);
        std::vector<int> placed;
        for (int n = 0; n < 60; n++) {
            base = rising ? base + static_cast<int>(rng() % 12)
                          : static_cast<int>(rng() % 400) - 120;
            int y = 0, old = 0;
            int got = place_text(base, &c, &y);
            if (got)
                placed.push_back(y);
            if (!rising)
                continue;
            ASSERT_EQ(got, place_in_last_five(base, h, &old)) << round << " " << n;
            if (got) {
                ASSERT_EQ(y, old) << round << " " << n;
            }
        }
        std::sort(placed.begin(), placed.end());
        for (size_t k = 1; k < placed.size(); k++)
            ASSERT_GT(placed[k] - placed[k - 1], 8) << round;
    }
}

TEST_F(publish_env, LabelsWithTheSameBaseLandAt100And109AndTheThirdIsDropped)
{
    standard_view();
    /* Base y = 3000 * (0.2 + t + 0.01) + 16 = 100 for t = -0.182 s. */
    for (int i = 0; i < 3; i++) {
        add_line(-0.182f, 0.02f, 1, CLS_DATA);
        /* The label is formatted from the line's record when published. */
        seg_record r{};
        set_seq(r, 100 * i + 1);
        r.paylen = 100;
        set_ack(r, 1);
        r.win = 65535;
        records_.push_back(r);
    }
    g_trace.main.rec = records_.data();
    g_ui.first_visible = 0;
    g_ui.last_visible = 2;
    publish_labels();
    EXPECT_EQ(var("textcnt"), "2");
    EXPECT_EQ(elem("ty", 0), "100");
    EXPECT_EQ(elem("ty", 1), "109");
    EXPECT_EQ(elem("tx", 0), "320");
    EXPECT_EQ(elem("text", 0), " 1:101(100) ack 1 win 65535 ");
    EXPECT_EQ(elem("text", 1), " 101:201(100) ack 1 win 65535 ");
    EXPECT_EQ(elem("txcolor", 0), "blue");
}

TEST_F(publish_env, TimeStampsArePrintedWithSixDecimals)
{
    standard_view();
    g_ui.main_start = -1.0f;
    g_ui.main_end = 2.0f;
    g_ui.main_scale = 200.0f;
    add_line(-0.25f, 1.75f, 2, CLS_RETRANS);
    g_ui.first_visible = 0;
    g_ui.last_visible = 0;
    publish_times();
    EXPECT_EQ(var("timecnt"), "2");
    /* From the right host: the left time is the arrival. */
    EXPECT_EQ(elem("time", 0), "1.500000");
    EXPECT_EQ(elem("tmx", 0), "40");
    EXPECT_EQ(elem("tmy", 0), "516");
    EXPECT_EQ(elem("time", 1), "-0.250000");
    EXPECT_EQ(elem("tmx", 1), "600");
    EXPECT_EQ(elem("tmy", 1), "166");
    EXPECT_EQ(elem("tmcolor", 1), "orange");
}

TEST_F(publish_env, AtMost256ArrowsAndTheRangeThatLabelsAndTimesCover)
{
    standard_view();
    for (int i = 0; i < 300; i++) {
        add_line(-0.19f + 0.001f * static_cast<float>(i), 0.005f, 1, CLS_DATA);
        seg_record r{};
        set_seq(r, i);   /* the label reads " i:i(0) ack 0 win 0 " */
        records_.push_back(r);
    }
    g_trace.main.rec = records_.data();
    publish_lines();
    EXPECT_EQ(var("linecnt"), "256");
    EXPECT_EQ(g_ui.hit_count, 256);
    EXPECT_EQ(g_ui.first_visible, 0);
    EXPECT_EQ(g_ui.last_visible, 255);
    EXPECT_EQ(g_ui.hits[255].line, 255);
    /* The notice under the last arrow says how many the span holds. */
    std::string notice = var("lnotice");
    int held = 0;
    ASSERT_EQ(std::sscanf(notice.c_str(), "first 256 of %d segments", &held), 1) << notice;
    EXPECT_GT(held, 256);
    EXPECT_LE(held, 300);
    EXPECT_EQ(notice.substr(notice.find(" segments")),
              " segments in this span: zoom in, or press t for the graphs");
    EXPECT_EQ(std::stoi(var("lnoticey")),
              std::max(std::stoi(elem("y1", 255)), std::stoi(elem("y2", 255))) + 12);
    /* Labels and times come from lines 0 to 255 only: the 256th arrives
     * at 0.070 s, and line 256 would be sent at 0.066 s. */
    publish_times();
    int timecnt = std::stoi(var("timecnt"));
    ASSERT_GT(timecnt, 0);
    double latest = -1;
    for (int i = 0; i < timecnt; i++)
        latest = std::max(latest, std::stod(elem("time", i)));
    EXPECT_EQ(latest, 0.07);
    publish_labels();
    int textcnt = std::stoi(var("textcnt"));
    ASSERT_GT(textcnt, 0);
    for (int i = 0; i < textcnt; i++)
        EXPECT_LE(std::stoi(elem("text", i)), 255);
}

TEST_F(publish_env, ArrowsMeetingTheWindowEdgeArePublished)
{
    standard_view();
    g_ui.main_start = -0.25f;
    g_ui.main_end = 0.25f;
    add_line(-0.5f, 0.25f);           /* arrives exactly at main_start */
    add_line(-1.0f, 0.25f);           /* over before the window: skipped */
    add_line(0.25f, 0.0078125f, 2);   /* sent exactly at main_end */
    add_line(0.5f, 0.01f);            /* after the window: ends the scan */
    add_line(0.0f, 0.01f);            /* would fit, but is never looked at */
    publish_lines();
    EXPECT_EQ(var("linecnt"), "2");
    EXPECT_EQ(var("lnotice"), "");
    EXPECT_EQ(g_ui.first_visible, 0);
    EXPECT_EQ(g_ui.last_visible, 2);
    EXPECT_EQ(g_ui.hits[1].line, 2);
    /* Line 0: sent at y 20 + 3000 * -0.25, arriving at the region's top. */
    EXPECT_EQ(elem("x1", 0), "80");
    EXPECT_EQ(elem("y1", 0), "-730");
    EXPECT_EQ(elem("x2", 0), "560");
    EXPECT_EQ(elem("y2", 0), "20");
    EXPECT_EQ(elem("arrow", 0), "last");
    /* From the right host: the head is on the left axis. */
    EXPECT_EQ(elem("x1", 1), "80");
    EXPECT_EQ(elem("y1", 1), "1543");
    EXPECT_EQ(elem("x2", 1), "560");
    EXPECT_EQ(elem("y2", 1), "1520");
    EXPECT_EQ(elem("arrow", 1), "first");
    EXPECT_EQ(elem("color", 1), "blue");
    /* The hit table holds each arrow's line a x + b y + c = 0. */
    EXPECT_EQ(g_ui.hits[0].a, -750);
    EXPECT_EQ(g_ui.hits[0].b, 480);
    EXPECT_EQ(g_ui.hits[0].c, 80 * 20 - 560 * -730);
    EXPECT_EQ(g_ui.hits[0].line, 0);
}

TEST_F(publish_env, TheLineIndexOfALoadServesTheSameArrowsUntilItIsForgotten)
{
    for (int i = 0; i < 600; i++)
        add_line(-0.3f + 0.001f * static_cast<float>(i), 0.004f * static_cast<float>(i % 5),
                 1 + i % 2, i % 7);
    auto arrows = [this]() {
        standard_view();
        publish_lines();
        std::vector<std::string> v = {var("linecnt"), std::to_string(g_ui.first_visible),
                                      std::to_string(g_ui.last_visible)};
        for (int i = 0; i < g_ui.hit_count; i++)
            v.push_back(elem("y1", i) + " " + elem("y2", i) + " " +
                        std::to_string(g_ui.hits[i].line));
        return v;
    };
    std::vector<std::string> literal = arrows();
    ASSERT_EQ(literal[0], "256");
    redraw_all();
    EXPECT_EQ(g_line_index.lines, g_trace.lines);
    EXPECT_EQ(g_line_index.count, 600);
    EXPECT_EQ(arrows(), literal);
    forget_publication();
    EXPECT_EQ(g_line_index.lines, nullptr);
    EXPECT_EQ(arrows(), literal);
}

TEST_F(publish_env, ALostSegmentStopsHalfwayAtTheMiddle)
{
    standard_view();
    add_line(0.0f, 0.0205f, 2, CLS_LOST);
    publish_lines();
    /* Sent from the right axis at y 620; its end is at x 320 and
     * y = 3000 * (0.0205 / 2.05 + 0.2) + 20 = 650. */
    EXPECT_EQ(elem("x1", 0), "320");
    EXPECT_EQ(elem("y1", 0), "650");
    EXPECT_EQ(elem("x2", 0), "560");
    EXPECT_EQ(elem("y2", 0), "620");
    EXPECT_EQ(elem("color", 0), "purple");
    EXPECT_EQ(elem("arrow", 0), "first");
    EXPECT_EQ(g_ui.hits[0].a, 650 - 620);
    EXPECT_EQ(g_ui.hits[0].b, 560 - 320);
    EXPECT_EQ(g_ui.hits[0].c, 320 * 620 - 560 * 650);

    /* On the overview the divisor is 2: 300 * (0.01025 + 0.3) + 5 = 98. */
    publish_overview_lines();
    EXPECT_EQ(var("sublinecnt"), "1");
    EXPECT_EQ(elem("subx1", 0), "80");
    EXPECT_EQ(elem("suby1", 0), "98");
    EXPECT_EQ(elem("subx2", 0), "135");
    EXPECT_EQ(elem("suby2", 0), "95");
}

TEST_F(publish_env, OverviewFrameAndBoxForAWidthOf179)
{
    standard_view();
    g_ui.over_width = 179;
    publish_overview_frame();
    EXPECT_EQ(elem("subfx1", 0), "26.850000");
    EXPECT_EQ(elem("subfx2", 0), "26.850000");
    EXPECT_EQ(elem("subfx1", 1), "152.150000");
    EXPECT_EQ(elem("subfy1", 1), "5");
    EXPECT_EQ(elem("subfy2", 0), "2400");
    publish_view_box();
    EXPECT_EQ(var("rx1"), "8.950000");
    /* (float)(0.95 * 179) is 170.050003 in float. */
    EXPECT_EQ(var("rx2"), "170.050003");
}

TEST_F(publish_env, TheViewBoxLinesUpWithTheOverviewLines)
{
    standard_view();
    /* Lines sent at the edges of the middle half of the main window,
     * -0.1 s and 0.1 s, start at the box's top and bottom. */
    add_line(-0.1f, 0.01f);
    add_line(0.1f, 0.01f);
    publish_overview_lines();
    publish_view_box();
    EXPECT_EQ(var("ry1"), "65.000000");
    EXPECT_EQ(var("ry2"), "125.000000");
    EXPECT_EQ(elem("suby1", 0), "65");
    EXPECT_EQ(elem("suby1", 1), "125");

    /* Moved and zoomed, the box still covers the middle half:
     * 5 + 128 * (1.25 + 0.5) and 5 + 128 * (1.75 + 0.5). */
    g_ui.main_start = 1.0f;
    g_ui.main_end = 2.0f;
    g_ui.over_start = -0.5f;
    g_ui.over_scale = 128.0f;
    publish_view_box();
    EXPECT_EQ(var("ry1"), "229.000000");
    EXPECT_EQ(var("ry2"), "293.000000");
}

TEST_F(publish_env, MainFrameAxesSpanTheScrollRegion)
{
    publish_frame();
    EXPECT_EQ(elem("fx1", 0), "80");
    EXPECT_EQ(elem("fx2", 0), "80");
    EXPECT_EQ(elem("fx1", 1), "560");
    EXPECT_EQ(elem("fy1", 0), "20");
    EXPECT_EQ(elem("fy2", 1), "1200");
}

TEST_F(publish_env, RedrawSequencesCallTheScriptInOrder)
{
    add_line(0.0f, 0.01f);
    redraw_all();
    EXPECT_EQ(calls(),
              "drawframe drawsubframe drawlines drawsublines drawtexts drawtimes drawbox "
              "{canvas yview moveto 0.25}");
    EXPECT_EQ(var("texton"), "1");
    EXPECT_EQ(var("timeon"), "1");
    EXPECT_EQ(g_ui.texton, 1);
    EXPECT_EQ(g_ui.timeon, 1);
    EXPECT_EQ(g_ui.view_ready, 1);

    Tcl_Eval(g_ui.interp, "set calls {}");
    redraw_main();
    EXPECT_EQ(calls(), "eraselines drawlines erasetexts drawtexts erasetimes drawtimes");
    Tcl_Eval(g_ui.interp, "set calls {}");
    g_ui.texton = 0;
    g_ui.timeon = 0;
    redraw_main();
    redraw_overview();
    redraw_box();
    EXPECT_EQ(calls(), "eraselines drawlines erasesublines drawsublines erasebox drawbox");
}

TEST_F(publish_env, ErrorsOfTheScriptAreIgnored)
{
    add_line(0.0f, 0.01f);
    Tcl_Eval(g_ui.interp, "proc drawlines {} { error boom }");
    redraw_all();
    EXPECT_EQ(std::string(Tcl_GetStringResult(g_ui.interp)), "");
    EXPECT_EQ(var("linecnt"), "1");
}

TEST_F(publish_env, TraceInfoNamesTheHostsOfBothAxes)
{
    seg_record r{};
    set_src4(r, 0x0a000001);
    set_dst4(r, 0x0a000002);
    set_ports(r, 40000, 80);
    records_.push_back(r);
    g_trace.main.rec = records_.data();
    add_line(0.0f, 0.01f, 2);
    publish_trace_info();
    EXPECT_EQ(var("segcount"), "1");
    /* Line 0 goes right to left: its source is the right host. */
    EXPECT_EQ(var("lefthost"), "10.0.0.2:80");
    EXPECT_EQ(var("righthost"), "10.0.0.1:40000");

    records_[0] = seg_record{};
    uint8_t six[16];
    inet_pton(AF_INET6, "2001:db8::1", six);
    set_src6(records_[0], six);
    inet_pton(AF_INET6, "2001:db8::2", six);
    set_dst6(records_[0], six);
    set_ports(records_[0], 443, 50000);
    g_trace.main.rec = records_.data();
    g_trace.ipv6 = 1;
    lines_[0].dir = 1;
    publish_trace_info();
    EXPECT_EQ(var("lefthost"), "[2001:db8::1]:443");
    EXPECT_EQ(var("righthost"), "[2001:db8::2]:50000");

    g_trace.loaded = 0;
    publish_trace_info();
    EXPECT_EQ(var("segcount"), "0");
    EXPECT_EQ(var("lefthost"), "");
}

TEST(ToPixel, TruncatesTowardZeroWithinItsLimits)
{
    EXPECT_EQ(to_pixel(12.9), 12);
    EXPECT_EQ(to_pixel(-12.9), -12);
    EXPECT_EQ(to_pixel(1e30), 16777216);
    EXPECT_EQ(to_pixel(-1e30), -16777216);
    EXPECT_EQ(to_pixel(std::nan("")), -16777216);
}

TEST(ColorName, GivesTheTableTextAndBlackOutsideIt)
{
    EXPECT_STREQ(color_name(0), "blue");
    EXPECT_STREQ(color_name(1), "red");
    EXPECT_STREQ(color_name(2), "green");
    EXPECT_STREQ(color_name(3), "orange");
    EXPECT_STREQ(color_name(4), "purple");
    EXPECT_STREQ(color_name(6), "brown");
    EXPECT_STREQ(color_name(7), "black");
    EXPECT_STREQ(color_name(-1), "black");
}

}  // namespace
