/*
 * navigate.cpp --
 *
 *	Zoom, step, scroll and re-centre commands. The comparisons against the
 *	limits are made in double from the float view fields, and every field
 *	is stored back as float, so that a window pushed against a limit stops
 *	there and each further push rings again and moves by zero.
 */

#include "ui/navigate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace/trace.h"
#include "ui/publish.h"
#include "ui/ui_state.h"
#include "ui/view.h"

/* Limit of the trace's far end for the windows, in s (double). */
static double far_limit()
{
    return 20.0 * static_cast<double>(g_ui.delay_unit) + static_cast<double>(g_trace.duration);
}

static double near_margin()
{
    return 20.0 * static_cast<double>(g_ui.delay_unit);
}

/* Scrolls the overview canvas to over_scroll. */
static void move_overview_canvas()
{
    char cmd[80];
    std::snprintf(cmd, sizeof cmd, ".subframe2.canvas yview moveto %f",
                  static_cast<double>(g_ui.over_scroll));
    ui_eval(cmd);
}

void step_main(step_direction dir)
{
    float step = (g_ui.main_end - g_ui.main_start) * 0.03125f;
    if (dir == STEP_FORWARD) {
        if (static_cast<double>(g_ui.main_start + step) > far_limit()) {
            step = static_cast<float>(far_limit() - g_ui.main_start);
            ring_limit_bell();
        }
        g_ui.main_start += step;
        g_ui.main_end += step;
        return;
    }
    if (static_cast<double>(g_ui.main_start - step) + near_margin() < 0.0) {
        step = static_cast<float>(near_margin() + g_ui.main_start);
        ring_limit_bell();
    }
    g_ui.main_start -= step;
    g_ui.main_end -= step;
}

static void step_overview_back(float ostep)
{
    if (static_cast<double>(g_ui.over_start) + near_margin() >= 0.0) {
        g_ui.over_start -= ostep;
        g_ui.over_end -= ostep;
        g_ui.main_start -= ostep;
        g_ui.main_end -= ostep;
        return;
    }
    if (g_ui.over_scroll > 0.0f) {
        double s = g_ui.over_scroll - 0.025;
        g_ui.over_scroll = static_cast<float>(s < 0.0 ? 0.0 : s);
        g_ui.main_start -= ostep;
        g_ui.main_end -= ostep;
        move_overview_canvas();
        return;
    }
    g_ui.over_scroll = 0.0f;
    ring_limit_bell();
}

static void step_overview_forward(float ostep)
{
    if (static_cast<double>(g_ui.over_end) <= far_limit()) {
        g_ui.over_start += ostep;
        g_ui.over_end += ostep;
        g_ui.main_start += ostep;
        g_ui.main_end += ostep;
        return;
    }
    if (g_ui.over_scroll < 0.75f) {
        double s = g_ui.over_scroll + 0.025;
        g_ui.over_scroll = static_cast<float>(s > 0.75 ? 0.75 : s);
        g_ui.main_start += ostep;
        g_ui.main_end += ostep;
        move_overview_canvas();
        return;
    }
    ring_limit_bell();
    g_ui.over_scroll = 0.75f;
}

void step_overview(step_direction dir)
{
    float ostep = (g_ui.over_end - g_ui.over_start) * 0.03125f;
    if (dir == STEP_BACK)
        step_overview_back(ostep);
    else
        step_overview_forward(ostep);
}

void recentre_main(int y)
{
    /* y in overview-region pixels, then the time the overview lines put
     * there: they lie at y = 5 + over_scale * (t - over_start). */
    int ya = to_pixel(g_ui.over_scroll * static_cast<float>(g_ui.main_height) * 4.0f +
                      static_cast<float>(y));
    float t = g_ui.over_start + static_cast<float>(ya - 5) / g_ui.over_scale;
    double half = (static_cast<double>(g_ui.main_end) - static_cast<double>(g_ui.main_start)) * 0.5;
    g_ui.main_start = static_cast<float>(t - half);
    g_ui.main_end = static_cast<float>(t + half);
    g_ui.main_scroll = 0.5f;
    ui_eval(".subframe1.canvas yview moveto 0.25");
}

/* Common end of a handler: empty result, TCL_OK. */
static int done(Tcl_Interp *interp)
{
    Tcl_ResetResult(interp);
    return TCL_OK;
}

/* Nothing to navigate yet: ring and tell the caller to stop. */
static int refuse_before_load()
{
    if (ui_view_ready())
        return 0;
    ring_limit_bell();
    return 1;
}

static void after_main_move()
{
    redraw_main();
    redraw_box();
}

static void after_overview_zoom()
{
    redraw_overview();
    redraw_box();
}

int zoomout_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    if (refuse_before_load())
        return done(interp);
    zoom_main(1);
    after_main_move();
    return done(interp);
}

int zoomin_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    if (refuse_before_load())
        return done(interp);
    zoom_main(-1);
    after_main_move();
    return done(interp);
}

int subzoomout_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    if (refuse_before_load())
        return done(interp);
    zoom_overview(1);
    after_overview_zoom();
    return done(interp);
}

int subzoomin_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    if (refuse_before_load())
        return done(interp);
    zoom_overview(-1);
    after_overview_zoom();
    return done(interp);
}

int forward_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    if (refuse_before_load())
        return done(interp);
    step_main(STEP_FORWARD);
    after_main_move();
    return done(interp);
}

int back_clib(ClientData, Tcl_Interp *interp, int, const char *[])
{
    if (refuse_before_load())
        return done(interp);
    step_main(STEP_BACK);
    after_main_move();
    return done(interp);
}

int scrlbar1_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (refuse_before_load())
        return done(interp);
    int n = argc > 1 ? std::atoi(argv[1]) : 0;
    step_main(n > 0 ? STEP_FORWARD : STEP_BACK);
    after_main_move();
    return done(interp);
}

int scrlbar2_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (refuse_before_load())
        return done(interp);
    int n = argc > 1 ? std::atoi(argv[1]) : 0;
    step_overview(n < 0 ? STEP_BACK : STEP_FORWARD);
    redraw_main();
    redraw_overview();
    redraw_box();
    return done(interp);
}

int movebar_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (refuse_before_load())
        return done(interp);
    if (argc != 3 || std::strcmp(argv[1], "moveto") != 0)
        return done(interp);
    double f = std::atof(argv[2]);
    if (!(f >= 0.0))
        f = 0.0;
    if (f > 0.75)
        f = 0.75;
    g_ui.over_scroll = static_cast<float>(f);
    move_overview_canvas();
    return done(interp);
}

int sub2press_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (refuse_before_load())
        return done(interp);
    int y = argc > 2 ? std::atoi(argv[2]) : 0;
    recentre_main(y);
    after_main_move();
    return done(interp);
}

int scrlbar_move_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (refuse_before_load())
        return done(interp);
    double m = argc > 2 ? std::atof(argv[2]) : 0.0;
    if (!(m >= 0.0))
        m = 0.0;
    if (m > 0.5)
        m = 0.5;
    g_ui.main_scroll = static_cast<float>(2.0 * m);
    char cmd[80];
    std::snprintf(cmd, sizeof cmd, ".subframe1.canvas yview moveto %f", m);
    ui_eval(cmd);
    return done(interp);
}
