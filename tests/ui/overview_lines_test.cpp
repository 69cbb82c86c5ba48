/*
 * overview_lines_test.cpp --
 *
 *	The overview publication in a real Tcl interpreter against the literal
 *	one, which publishes every line of the window: where no two lines
 *	share their five published values the two publications are the same;
 *	where lines collide, exactly the last line of each group of equal
 *	ones is kept, in order, numbered from 0. With Tk on a private server
 *	and the script's "wpoverview" image, a publication that goes into the
 *	image gives it exactly those kept lines.
 */

#include "ui/overview_lines.h"

#include <gtest/gtest.h>
#include <tk.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "line_fixture.h"
#include "render/display_list.h"
#include "trace/trace.h"
#include "ui/line_index.h"
#include "ui/overview_image.h"
#include "ui/overview_index.h"
#include "ui/publish.h"
#include "ui/ui_harness.h"
#include "ui/ui_state.h"

namespace {

/* One published overview line: subx1 suby1 subx2 suby2 subcolor. */
using published = std::vector<std::string>;

class overview_env : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui_state_reset();
        trace_state_clear();
        overview_scratch_reset();
        g_ui.interp = Tcl_CreateInterp();
        g_ui.over_width = 160;
        g_ui.over_height = 600;
        g_ui.over_start = -0.3f;
        g_ui.over_scale = 300.0f;
        g_ui.over_end = 8.0f;
    }
    void TearDown() override
    {
        line_index_clear();
        overview_index_clear();
        overview_scratch_reset();
        g_trace.lines = nullptr;
        g_trace.main.count = 0;
        Tcl_DeleteInterp(g_ui.interp);
        g_ui.interp = nullptr;
    }

    void add_line(float t_send, float delay, int dir, int cls)
    {
        append_line(lines_, t_send, delay, dir, cls);
    }

    /* What the last publication left: sublinecnt lines, read back. */
    std::vector<published> read_back()
    {
        std::vector<published> out;
        int n = std::stoi(Tcl_GetVar2(g_ui.interp, "sublinecnt", nullptr, TCL_GLOBAL_ONLY));
        for (int i = 0; i < n; i++) {
            published p;
            for (const char *name : {"subx1", "suby1", "subx2", "suby2", "subcolor"})
                p.push_back(Tcl_GetVar2(g_ui.interp, name, std::to_string(i).c_str(),
                                        TCL_GLOBAL_ONLY));
            out.push_back(p);
        }
        return out;
    }

    std::vector<published> literal()
    {
        publish_overview_lines_literal();
        return read_back();
    }

    std::vector<published> kept()
    {
        publish_overview_lines();
        return read_back();
    }

    std::vector<line_record> lines_;
};

/* The lines of `all` that no later line of `all` repeats, in order. */
std::vector<published> last_of_each(const std::vector<published> &all)
{
    std::set<published> later;
    std::vector<published> out;
    for (size_t i = all.size(); i-- > 0;) {
        if (later.insert(all[i]).second)
            out.push_back(all[i]);
    }
    std::reverse(out.begin(), out.end());
    return out;
}

TEST_F(overview_env, WithoutCollisionsThePublicationIsTheLiteralOne)
{
    /* 10 ms apart at 300 px/s: every line on rows of its own. */
    for (int i = 0; i < 400; i++)
        add_line(0.01f * static_cast<float>(i), 0.02f, 1 + i % 2, i % 7);
    std::vector<published> all = literal();
    ASSERT_EQ(all.size(), 400u);
    EXPECT_EQ(kept(), all);
    line_index_build(g_trace.lines, g_trace.main.count);
    EXPECT_EQ(kept(), all);
}

TEST_F(overview_env, CollidingLinesLeaveTheLastOfEachGroup)
{
    /* A and B, then A again, C, B again: the second A, C and the second B
     * remain. Classes 9 and -1 are both published as "black". */
    add_line(0.0f, 0.02f, 1, CLS_DATA);      /* A, rows 95 to 101 */
    add_line(0.1f, 0.02f, 2, CLS_NODATA);    /* B */
    add_line(0.0001f, 0.02f, 1, CLS_DATA);   /* A on the same pixels */
    add_line(0.2f, 0.02f, 1, 9);             /* C */
    add_line(0.1f, 0.02f, 2, CLS_NODATA);    /* B */
    add_line(0.2f, 0.02f, 1, -1);            /* C, published alike */
    std::vector<published> all = literal();
    ASSERT_EQ(all.size(), 6u);
    std::vector<published> want = {all[2], all[4], all[5]};
    EXPECT_EQ(kept(), want);
    EXPECT_EQ(want[2][4], "black");
}

TEST_F(overview_env, RandomCrowdedWindowsKeepExactlyTheLastOfEachGroup)
{
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> cls(0, 6), dir(1, 2), step(0, 3);
    float t = -0.5f;
    for (int i = 0; i < 6000; i++) {
        t += 0.0005f * static_cast<float>(step(rng));
        add_line(t, 0.001f * static_cast<float>(step(rng)), dir(rng), cls(rng));
    }
    line_index_build(g_trace.lines, g_trace.main.count);
    /* Overview scales from rows of their own for most lines (the set
     * grows past its first size) down to dozens of lines a row; each
     * window is published twice, so the set is reused. */
    const struct {
        float scale, span;
    } views[] = {{3000.0f, 6.0f}, {300.0f, 1.0f}, {30.0f, 6.0f}, {3.0f, 6.0f}};
    for (auto v : views) {
        float scale = v.scale;
        g_ui.over_scale = scale;
        g_ui.over_end = g_ui.over_start + v.span;
        std::vector<published> want = last_of_each(literal());
        EXPECT_EQ(kept(), want) << "scale " << scale;
        EXPECT_EQ(kept(), want) << "scale " << scale << ", again";
    }
}

TEST_F(overview_env, RepeatsFarApartAreFoundWhileTheSetGrows)
{
    /* Lines 3000 to 5999 repeat lines 0 to 2999 on rows of their own:
     * more distinct lines than the set first holds. */
    for (int i = 0; i < 6000; i++) {
        int k = i % 3000;
        add_line(0.001f * static_cast<float>(k), 0.02f, 1 + k % 2, k % 7);
    }
    g_ui.over_scale = 3000.0f;
    g_ui.over_end = 6.0f;
    std::vector<published> all = literal();
    ASSERT_EQ(all.size(), 6000u);
    EXPECT_EQ(kept(), std::vector<published>(all.begin() + 3000, all.end()));
}

/* A transfer's shape: data one way, acks the other, rare other classes,
 * times mostly rising with some out of order, a few arrivals that do not
 * match their delay, and now and then a NaN or infinite time. */
void random_transfer(std::mt19937 &rng, std::vector<line_record> &lines, int n)
{
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const float odd[] = {std::nanf(""), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    float t = -1.0f + 2.0f * u(rng);
    float base = 0.001f + 0.05f * u(rng);
    for (int i = 0; i < n; i++) {
        t += 0.0004f * u(rng);
        float r = u(rng);
        int dir = i % 3 == 2 ? 2 : 1;
        int cls = r < 0.9f ? (dir == 1 ? CLS_DATA : CLS_NODATA)
                           : static_cast<int>(u(rng) * 8.0f) % 8;
        float send = u(rng) < 0.02f ? t - 0.01f * u(rng) : t;
        float delay = base + (u(rng) < 0.1f ? 0.02f * u(rng) : 0.0f);
        append_line(lines, send, delay, dir, cls);
        line_record &l = lines.back();
        if (u(rng) < 0.01f)
            l.t_recv = l.t_send + 0.05f * (u(rng) - 0.5f);
        if (u(rng) < 0.002f)
            (u(rng) < 0.5f ? l.t_send : u(rng) < 0.5f ? l.delay : l.t_recv) =
                odd[static_cast<int>(u(rng) * 3.0f) % 3];
    }
}

TEST_F(overview_env, TheIndexGivesTheLiteralLinesOnRandomTransfersAndViews)
{
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    size_t candidates = 0, window = 0;
    for (int trace = 0; trace < 30; trace++) {
        lines_.clear();
        random_transfer(rng, lines_, 2000 + trace * 150);
        line_index_build(g_trace.lines, g_trace.main.count);
        overview_index_build(g_trace.lines, g_trace.main.count);
        for (int view = 0; view < 12; view++) {
            /* From rows of their own down to hundreds of lines a row,
             * now and then a scale of zero or below. */
            float scale = std::pow(10.0f, 4.0f * u(rng) - 1.0f);
            if (view == 10)
                scale = 0.0f;
            if (view == 11)
                scale = -scale;
            g_ui.over_scale = scale;
            g_ui.over_width = 20 + static_cast<int>(300.0f * u(rng));
            g_ui.over_start = -1.5f + 3.0f * u(rng);
            g_ui.over_end = g_ui.over_start + 3.0f * u(rng);
            std::vector<published> all = literal();
            std::vector<published> want = last_of_each(all);
            ASSERT_EQ(kept(), want) << "trace " << trace << " view " << view;
            window += all.size();
            candidates += g_overview_index.found.size();
        }
        /* The index of another list is not used. */
        overview_index_build(g_trace.lines, g_trace.main.count - 1);
        EXPECT_EQ(kept(), last_of_each(literal())) << "trace " << trace;
    }
    /* Blocks were taken whole: far fewer candidates than lines. */
    EXPECT_LT(candidates * 3, window);
}

TEST_F(overview_env, TheIndexHoldsAtItsEdges)
{
    /* One row per case: the lines, then the view; every case published
     * through the index as the literal publication does. */
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char *name;
        int lines;        /* all alike, sent 1 us apart from 0 */
        float odd_send;   /* t_send of line 5 when not 0 */
        float start, scale, end;
        bool indexed;     /* whether the index may answer */
    } cases[] = {
        {"no list", 0, 0.0f, -0.3f, 300.0f, 8.0f, false},
        {"one line", 1, 0.0f, -0.3f, 300.0f, 8.0f, true},
        {"thousands alike, one candidate", 5000, 0.0f, -0.3f, 3.0f, 8.0f, true},
        {"a NaN send among them", 5000, std::nanf(""), -0.3f, 3.0f, 8.0f, true},
        {"an infinite send among them", 5000, inf, -0.3f, 3.0f, 8.0f, true},
        {"window starting inside the lines", 5000, 0.0f, 0.002f, 3000.0f, 8.0f, true},
        {"infinite scale", 300, 0.0f, -0.3f, inf, 8.0f, false},
        {"NaN start", 300, 0.0f, std::nanf(""), 300.0f, 8.0f, false},
    };
    for (const auto &c : cases) {
        lines_.clear();
        g_trace.lines = nullptr;
        g_trace.main.count = 0;
        for (int i = 0; i < c.lines; i++)
            add_line(1e-6f * static_cast<float>(i), 0.02f, 1, CLS_LOST);
        if (c.odd_send != 0.0f)
            lines_[5].t_send = c.odd_send;
        g_ui.over_start = c.start;
        g_ui.over_scale = c.scale;
        g_ui.over_end = c.end;
        line_index_build(g_trace.lines, g_trace.main.count);
        overview_index_build(g_trace.lines, g_trace.main.count);
        std::vector<published> want = last_of_each(literal());
        EXPECT_EQ(kept(), want) << c.name;
        g_overview_index.found.assign(1, -1);
        publish_overview_lines();
        EXPECT_EQ(g_overview_index.found != std::vector<int32_t>{-1}, c.indexed) << c.name;
    }
}

/* The overview with Tk on a private server and the script's image. */
class overview_image_env : public overview_env {
protected:
    void SetUp() override
    {
        overview_env::SetUp();
        ASSERT_TRUE(server().ok());
        setenv("DISPLAY", server().name().c_str(), 1);
        ASSERT_EQ(Tcl_Init(g_ui.interp), TCL_OK) << Tcl_GetStringResult(g_ui.interp);
        ASSERT_EQ(Tk_Init(g_ui.interp), TCL_OK) << Tcl_GetStringResult(g_ui.interp);
        overview_image_register();
        ASSERT_EQ(Tcl_Eval(g_ui.interp, "image create wpoverview overviewlines"), TCL_OK);
    }
    void TearDown() override
    {
        overview_env::TearDown();
        overview_image_reset();
        unsetenv("DISPLAY");
    }

    std::string var(const char *name)
    {
        const char *v = Tcl_GetVar2(g_ui.interp, name, nullptr, TCL_GLOBAL_ONLY);
        return v == nullptr ? "(unset)" : v;
    }

    /* The image's lines as its command gives them, five values a line,
     * read back through the publication's variables. */
    std::vector<published> image_lines()
    {
        EXPECT_EQ(Tcl_Eval(g_ui.interp, R"TCL(
            set sublinecnt 0
            foreach {a b c d e} [overviewlines lines] {
                foreach n {subx1 suby1 subx2 suby2 subcolor} v [list $a $b $c $d $e] {
                    set ${n}($sublinecnt) $v
                }
                incr sublinecnt
            })TCL"), TCL_OK);
        return read_back();
    }

    /* One server for the whole run: Tk keeps its connection to a display
     * open once made. */
    static uitest::xserver &server()
    {
        static uitest::xserver x;
        return x;
    }
};

TEST_F(overview_image_env, TheImageHoldsTheKeptLinesOfTheLiteralPublicationOnRandomViews)
{
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    int in_image = 0, one_by_one = 0;
    g_overview_image.min_lines = 0;
    for (int trace = 0; trace < 12; trace++) {
        lines_.clear();
        random_transfer(rng, lines_, 3000 + trace * 400);
        line_index_build(g_trace.lines, g_trace.main.count);
        overview_index_build(g_trace.lines, g_trace.main.count);
        for (int view = 0; view < 12; view++) {
            /* Up to 10^4.5 px/s, where some lines are taller than the
             * image draws. */
            g_ui.over_scale = std::pow(10.0f, 5.0f * u(rng) - 0.5f);
            g_ui.over_width = 20 + static_cast<int>(300.0f * u(rng));
            g_ui.over_start = -1.5f + 3.0f * u(rng);
            g_ui.over_end = g_ui.over_start + 3.0f * u(rng);
            std::vector<published> want = last_of_each(literal());
            publish_overview_lines();
            ASSERT_EQ(var("sublinecnt"), std::to_string(want.size()));
            std::string image = var("subimage");
            if (image.empty()) {
                ASSERT_EQ(read_back(), want) << "trace " << trace << " view " << view;
                one_by_one++;
                continue;
            }
            ASSERT_EQ(image, "overviewlines");
            ASSERT_EQ(image_lines(), want) << "trace " << trace << " view " << view;
            in_image++;
        }
    }
    EXPECT_GT(in_image, 40);
    EXPECT_GT(one_by_one, 10);
}

TEST_F(overview_image_env, ManyLinesNoneClippedAndNoPictureGoIntoTheImage)
{
    /* One row per case: lines 1 ms apart at 3000 px/s (rows of their own,
     * 60 px high) and maybe one more line; whether the image takes them. */
    const struct {
        const char *name;
        int lines;
        float extra_send, extra_delay;   /* the extra line; delay 0: none */
        bool picture;   /* drawn into a picture, with no least line count */
        bool image;
    } cases[] = {
        {"fewer than the least", 999, 0.0f, 0.0f, false, false},
        {"the least", 1000, 0.0f, 0.0f, false, true},
        {"a line 900 px high", 1000, 0.1f, 0.3f, false, true},
        {"a line 903 px high", 1000, 0.1f, 0.301f, false, false},
        {"a tall line below the region", 1000, 2.0f, 2.0f, false, true},
        {"a tall line from above it", 1000, -1.0f, 1.05f, false, false},
        {"a picture", 2000, 0.0f, 0.0f, true, false},
    };
    for (const auto &c : cases) {
        lines_.clear();
        for (int i = 0; i < c.lines; i++)
            add_line(0.001f * static_cast<float>(i), 0.02f, 1 + i % 2, CLS_DATA);
        if (c.extra_delay != 0.0f)
            add_line(c.extra_send, c.extra_delay, 1, CLS_RETRANS);
        g_ui.over_scale = 3000.0f;
        g_ui.over_start = 0.0f;
        g_ui.over_end = 8.0f;
        g_ui.over_height = 600;
        g_overview_image.min_lines = c.picture ? 0 : OVERVIEW_IMAGE_MIN_LINES;
        Tcl_UnsetVar(g_ui.interp, "subimage", TCL_GLOBAL_ONLY);
        display_list dl;
        g_ui.picture = c.picture ? &dl : nullptr;
        publish_overview_lines();
        g_ui.picture = nullptr;
        if (c.picture) {
            EXPECT_EQ(dl_get(dl, "sublinecnt"), std::to_string(c.lines)) << c.name;
            EXPECT_EQ(dl_get(dl, "subcolor", c.lines - 1), "blue") << c.name;
            EXPECT_EQ(var("subimage"), "(unset)") << c.name;
            continue;
        }
        EXPECT_EQ(var("subimage"), c.image ? "overviewlines" : "") << c.name;
        EXPECT_EQ(var("sublinecnt"), std::to_string(lines_.size())) << c.name;
        if (c.image) {
            EXPECT_EQ(image_lines().size(), lines_.size()) << c.name;
        }
    }
}

}  // namespace
