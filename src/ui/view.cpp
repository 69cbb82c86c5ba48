/*
 * view.cpp --
 *
 *	Set-up and rescaling of the main and overview view windows. The mixed
 *	float and double steps below are deliberate: every value is stored as
 *	float, and the widths of the intermediate steps fix the pixels the
 *	diagram lands on.
 */

#include "ui/view.h"

#include <cmath>

#include "analysis/line.h"
#include "trace/trace.h"
#include "ui/ui_state.h"

float view_time_unit()
{
    for (int i = 0; i < g_trace.main.count; i++) {
        if (g_trace.lines[i].delay > 0.0f)
            return g_trace.lines[i].delay;
    }
    if (g_trace.duration / 20.0f > 0.0f)
        return g_trace.duration / 20.0f;
    return 0.01f;
}

void setup_view()
{
    g_ui.view_ready = 0;
    if (g_trace.main.count <= 0 || g_trace.lines == nullptr)
        return;

    float d = view_time_unit();
    g_ui.delay_unit = d;
    g_ui.main_scale = static_cast<float>(g_ui.main_height / (20.0 * d));
    g_ui.main_base_scale = g_ui.main_scale;
    g_ui.over_scale = static_cast<float>(g_ui.over_height / (static_cast<double>(d) * 200.0));
    g_ui.over_base_scale = g_ui.over_scale;
    g_ui.main_scroll = 0.5f;
    g_ui.main_zoom = 0;
    g_ui.over_zoom = 0;

    float h = static_cast<float>(2 * g_ui.main_height) / g_ui.main_scale * 0.5f;
    g_ui.main_start = -h;
    g_ui.main_end = h;
    g_ui.over_end = static_cast<float>(4 * g_ui.over_height) / g_ui.over_scale;
    g_ui.over_start = g_ui.main_start + d * -10.0f;
    g_ui.view_ready = 1;
}

void rescale_view()
{
    float c = static_cast<float>((g_ui.main_scroll - 0.5) * 0.75 + 0.5);
    float anchor = g_ui.main_start * (1.0f - c) + g_ui.main_end * c;
    float span = static_cast<float>(2 * g_ui.main_height) / g_ui.main_scale;
    g_ui.main_start = anchor - c * span;
    g_ui.main_end = span * (1.0f - c) + anchor;
    g_ui.over_end = static_cast<float>(4 * g_ui.over_height) / g_ui.over_scale + g_ui.over_start;
}

void zoom_main(int levels)
{
    g_ui.main_zoom += levels;
    g_ui.main_scale = g_ui.main_base_scale * powf(0.875f, static_cast<float>(g_ui.main_zoom));
    rescale_view();
}

void zoom_overview(int levels)
{
    g_ui.over_zoom += levels;
    g_ui.over_scale = g_ui.over_base_scale * powf(0.875f, static_cast<float>(g_ui.over_zoom));
    rescale_view();
}
