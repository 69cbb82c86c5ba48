/*
 * view_test.cpp --
 *
 *	Set-up and rescaling of the two view windows, on line lists made in
 *	the test.
 */

#include "ui/view.h"

#include <gtest/gtest.h>

#include <vector>

#include "analysis/line.h"
#include "trace/trace.h"
#include "ui/ui_state.h"

namespace {

/* Installs `lines` as the line list of the main trace for one test. */
class installed_lines {
public:
    explicit installed_lines(std::vector<float> delays, float duration = 1.0f)
    {
        ui_state_reset();
        trace_state_clear();
        for (float d : delays) {
            line_record l{};
            l.dir = 1;
            l.delay = d;
            l.t_recv = d;
            lines_.push_back(l);
        }
        g_trace.lines = lines_.data();
        g_trace.main.count = static_cast<int32_t>(lines_.size());
        g_trace.duration = duration;
        g_trace.loaded = 1;
        g_ui.main_height = 600;
        g_ui.over_height = 600;
    }
    ~installed_lines()
    {
        g_trace.lines = nullptr;
        g_trace.main.count = 0;
        g_trace.loaded = 0;
    }

private:
    std::vector<line_record> lines_;
};

TEST(SetupView, ScalesBothWindowsFromTheFirstLinesDelay)
{
    installed_lines l({0.01f, 0.5f});
    g_ui.over_scroll = 0.4f;
    g_ui.main_zoom = 3;
    g_ui.over_zoom = -2;
    setup_view();
    EXPECT_EQ(g_ui.view_ready, 1);
    EXPECT_FLOAT_EQ(g_ui.delay_unit, 0.01f);
    EXPECT_FLOAT_EQ(g_ui.main_scale, 3000.0f);
    EXPECT_FLOAT_EQ(g_ui.main_base_scale, 3000.0f);
    EXPECT_FLOAT_EQ(g_ui.main_start, -0.2f);
    EXPECT_FLOAT_EQ(g_ui.main_end, 0.2f);
    EXPECT_FLOAT_EQ(g_ui.over_scale, 300.0f);
    EXPECT_FLOAT_EQ(g_ui.over_base_scale, 300.0f);
    EXPECT_FLOAT_EQ(g_ui.over_start, -0.3f);
    EXPECT_FLOAT_EQ(g_ui.over_end, 8.0f);
    EXPECT_FLOAT_EQ(g_ui.main_scroll, 0.5f);
    EXPECT_EQ(g_ui.main_zoom, 0);
    EXPECT_EQ(g_ui.over_zoom, 0);
    /* Nothing moves the overview canvas on a reload. */
    EXPECT_FLOAT_EQ(g_ui.over_scroll, 0.4f);
}

TEST(SetupView, TakesAUsableUnitWhenTheFirstDelayIsNotPositive)
{
    {
        installed_lines l({0.0f, -0.5f, 0.02f, 0.04f});
        setup_view();
        EXPECT_FLOAT_EQ(g_ui.delay_unit, 0.02f);
        EXPECT_FLOAT_EQ(g_ui.main_scale, 1500.0f);
        EXPECT_GT(g_ui.over_scale, 0.0f);
    }
    {
        installed_lines l({-0.5f, -0.5f}, 2.0f);
        setup_view();
        EXPECT_FLOAT_EQ(g_ui.delay_unit, 0.1f);
    }
    {
        installed_lines l({-0.5f}, 0.0f);
        setup_view();
        EXPECT_FLOAT_EQ(g_ui.delay_unit, 0.01f);
        EXPECT_FLOAT_EQ(g_ui.main_scale, 3000.0f);
    }
    {
        installed_lines l({});
        setup_view();
        EXPECT_EQ(g_ui.view_ready, 0);
        EXPECT_FLOAT_EQ(g_ui.delay_unit, 99999.0f);
    }
}

TEST(ZoomMain, RecomputesTheScaleFromTheLevel)
{
    installed_lines l({0.01f});
    setup_view();
    for (int i = 0; i < 3; i++)
        zoom_main(1);
    EXPECT_EQ(g_ui.main_zoom, 3);
    EXPECT_FLOAT_EQ(g_ui.main_scale, 3000.0f * 0.669921875f);
    for (int i = 0; i < 3; i++)
        zoom_main(-1);
    EXPECT_EQ(g_ui.main_scale, 3000.0f);

    /* A new set-up starts again at level 0. */
    setup_view();
    zoom_main(1);
    EXPECT_FLOAT_EQ(g_ui.main_scale, 3000.0f * 0.875f);
}

TEST(RescaleView, KeepsTheTimeAtTheScrollFractionInPlace)
{
    installed_lines l({0.01f});
    setup_view();
    /* Canvas at its middle: the centre of the window, t 0, stays. */
    zoom_main(1);
    EXPECT_NEAR((g_ui.main_start + g_ui.main_end) / 2, 0.0f, 1e-7);
    EXPECT_NEAR(g_ui.main_end - g_ui.main_start, 1200.0f / g_ui.main_scale, 1e-6);

    /* Canvas at its bottom: the time at seven eighths stays. */
    setup_view();
    g_ui.main_scroll = 1.0f;
    float anchor = g_ui.main_start + 0.875f * (g_ui.main_end - g_ui.main_start);
    zoom_main(-1);
    EXPECT_NEAR(g_ui.main_start + 0.875f * (g_ui.main_end - g_ui.main_start), anchor, 1e-6);
    EXPECT_NEAR(g_ui.main_end - g_ui.main_start, 1200.0f / g_ui.main_scale, 1e-6);
}

TEST(ZoomOverview, KeepsTheTopOfTheOverview)
{
    installed_lines l({0.01f});
    setup_view();
    zoom_overview(1);
    EXPECT_EQ(g_ui.over_zoom, 1);
    EXPECT_FLOAT_EQ(g_ui.over_scale, 262.5f);
    EXPECT_FLOAT_EQ(g_ui.over_start, -0.3f);
    EXPECT_FLOAT_EQ(g_ui.over_end, -0.3f + 2400.0f / 262.5f);
    /* The main window keeps its span and centre. */
    EXPECT_FLOAT_EQ(g_ui.main_start, -0.2f);
    EXPECT_FLOAT_EQ(g_ui.main_end, 0.2f);
}

}  // namespace
