/*
 * ui_state_test.cpp --
 *
 *	The user interface state's reset and the helpers that talk to the
 *	interpreter, against a real Tcl interpreter.
 */

#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <string>

#include "trace/trace.h"

namespace {

TEST(UiStateReset, RestoresTheProcessStartState)
{
    g_ui.delay_unit = 1.0f;
    g_ui.main_scale = 5.0f;
    g_ui.hit_count = 7;
    g_ui.first_visible = 3;
    g_ui.texton = 1;
    g_ui.bell_count = 4;
    g_ui.view_ready = 1;
    ui_state_reset();
    EXPECT_FLOAT_EQ(g_ui.delay_unit, 99999.0f);
    EXPECT_FLOAT_EQ(g_ui.main_scale, 0.0f);
    EXPECT_EQ(g_ui.hit_count, 0);
    EXPECT_EQ(g_ui.first_visible, -1);
    EXPECT_EQ(g_ui.last_visible, -1);
    EXPECT_EQ(g_ui.texton, 0);
    EXPECT_EQ(g_ui.bell_count, 0u);
    EXPECT_EQ(g_ui.interp, nullptr);
    EXPECT_EQ(g_ui.main_window, nullptr);
    EXPECT_EQ(g_ui.message[0], '\0');
}

TEST(UiViewReady, NeedsBothALoadAndASetUp)
{
    ui_state_reset();
    trace_state_clear();
    EXPECT_FALSE(ui_view_ready());
    g_trace.loaded = 1;
    EXPECT_FALSE(ui_view_ready());
    g_ui.view_ready = 1;
    EXPECT_TRUE(ui_view_ready());
    g_trace.loaded = 0;
    EXPECT_FALSE(ui_view_ready());
}

TEST(RingLimitBell, CountsEvenWithoutAWindow)
{
    ui_state_reset();
    ring_limit_bell();
    ring_limit_bell();
    EXPECT_EQ(g_ui.bell_count, 2u);
}

TEST(InterpreterHelpers, SetGlobalsAndDropScriptErrors)
{
    ui_state_reset();
    /* Without an interpreter every helper does nothing. */
    ui_set_var("a", "1");
    ui_eval("error boom");
    EXPECT_EQ(ui_get_var("a"), nullptr);

    g_ui.interp = Tcl_CreateInterp();
    ui_set_var("plain", "text with spaces");
    ui_set_var_int("count", -42);
    ui_set_elem("arr", 3, "x");
    ui_set_elem_int("arr", 10, 7);
    EXPECT_STREQ(ui_get_var("plain"), "text with spaces");
    EXPECT_STREQ(ui_get_var("count"), "-42");
    EXPECT_STREQ(Tcl_GetVar2(g_ui.interp, "arr", "3", TCL_GLOBAL_ONLY), "x");
    EXPECT_STREQ(Tcl_GetVar2(g_ui.interp, "arr", "10", TCL_GLOBAL_ONLY), "7");
    EXPECT_EQ(ui_get_var("missing"), nullptr);

    /* Variables are global even when set from inside a procedure call. */
    Tcl_Eval(g_ui.interp, "proc p {} { set local 1; return [set ::plain] }");
    ui_eval("p");
    EXPECT_STREQ(Tcl_GetStringResult(g_ui.interp), "");
    ui_eval("error boom");
    EXPECT_STREQ(Tcl_GetStringResult(g_ui.interp), "");
    ui_eval("set ran 1");
    EXPECT_STREQ(ui_get_var("ran"), "1");

    Tcl_DeleteInterp(g_ui.interp);
    g_ui.interp = nullptr;
}

}  // namespace
