/*
 * ui_state_test.cpp --
 *
 *	The user interface state's reset and the helpers that talk to the
 *	interpreter, against a real Tcl interpreter.
 */

#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
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

/* The text of every variable of `interp` with its elements, sorted, so two
 * interpreters can be compared as a whole. */
std::string all_variables(Tcl_Interp *interp)
{
    const char *dump = R"(
        set out {}
        foreach v [lsort [info globals w*]] {
            if {[array exists ::$v]} {
                foreach {k x} [lsort -stride 2 -index 0 [array get ::$v]] {
                    append out "${v}($k)=$x\n"
                }
            } else {
                append out "$v=[set ::$v]\n"
            }
        }
        set out)";
    EXPECT_EQ(Tcl_Eval(interp, dump), TCL_OK);
    return Tcl_GetStringResult(interp);
}

TEST(InterpreterHelpers, ReusedObjectsSetTheTextsOfThePlainCalls)
{
    /* Random publications through the helpers, and the same through
     * Tcl_SetVar2 with the value printed: both interpreters must end equal,
     * also across a new interpreter and a dropped cache. Names beyond the
     * cache's slots, negative and large keys, a text buffer rewritten in
     * place and texts too long to cache all occur. */
    ui_state_reset();
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) { seed = seed * 1664525u + 1013904223u; return (seed >> 8) % n; };
    for (int round = 0; round < 3; round++) {
        g_ui.interp = Tcl_CreateInterp();
        Tcl_Interp *literal = Tcl_CreateInterp();
        char name[16], key[16], text[64];
        for (int op = 0; op < 4000; op++) {
            std::snprintf(name, sizeof name, "w%u", next(80));
            int index = static_cast<int>(next(300)) - 5;
            int value = next(10) == 0 ? INT32_MIN + static_cast<int>(next(3)) : static_cast<int>(next(2000)) - 1000;
            static const char *texts[] = {"red", "black", "last", "first", "", "a b {c",
                                          "a text of more than thirty-one characters"};
            std::snprintf(text, sizeof text, "%s", texts[next(7)]);
            std::snprintf(key, sizeof key, "%d", index);
            char printed[16];
            std::snprintf(printed, sizeof printed, "%d", value);
            switch (next(3)) {
            case 0:
                ui_set_elem(name, index, text);
                Tcl_SetVar2(literal, name, key, text, TCL_GLOBAL_ONLY);
                break;
            case 1:
                ui_set_elem_int(name, index, value);
                Tcl_SetVar2(literal, name, key, printed, TCL_GLOBAL_ONLY);
                break;
            default:
                /* The name of an array as a scalar fails alike in both. */
                std::snprintf(name, sizeof name, "ws%u", next(80));
                ui_set_var_int(name, value);
                Tcl_SetVar2(literal, name, nullptr, printed, TCL_GLOBAL_ONLY);
            }
        }
        std::string published = all_variables(g_ui.interp);
        EXPECT_GT(published.size(), 10000u);
        EXPECT_EQ(published, all_variables(literal)) << "round " << round;
        Tcl_DeleteInterp(literal);
        Tcl_DeleteInterp(g_ui.interp);
        g_ui.interp = nullptr;
        if (round == 1)
            ui_obj_cache_reset();
    }
    ui_obj_cache_reset();
}

}  // namespace
