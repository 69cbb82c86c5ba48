/*
 * display_list_test.cpp --
 *
 *	The display list turns published values into the items the UI
 *	script's draw procedures make, removes them as the erase procedures
 *	do, keeps the script's stacking order and follows "yview moveto".
 */

#include <gtest/gtest.h>

#include <string>

#include "render/display_list.h"

namespace {

/* Two arrows, one label, one time stamp, one overview line and the box. */
void publish_sample(display_list *dl)
{
    dl_set_var(dl, "linecnt", "2");
    const char *x1[] = {"80", "80"}, *y1[] = {"400", "450"}, *x2[] = {"560", "560"},
               *y2[] = {"430", "420"}, *col[] = {"blue", "red"}, *arr[] = {"last", "first"};
    for (int i = 0; i < 2; i++) {
        dl_set_elem(dl, "x1", i, x1[i]);
        dl_set_elem(dl, "y1", i, y1[i]);
        dl_set_elem(dl, "x2", i, x2[i]);
        dl_set_elem(dl, "y2", i, y2[i]);
        dl_set_elem(dl, "color", i, col[i]);
        dl_set_elem(dl, "arrow", i, arr[i]);
    }
    dl_set_var(dl, "textcnt", "1");
    dl_set_elem(dl, "tx", 0, "320");
    dl_set_elem(dl, "ty", 0, "411");
    dl_set_elem(dl, "text", 0, " 1:101(100) ack 1 win 65535 ");
    dl_set_elem(dl, "txcolor", 0, "blue");
    dl_set_var(dl, "timecnt", "1");
    dl_set_elem(dl, "tmx", 0, "40");
    dl_set_elem(dl, "tmy", 0, "396");
    dl_set_elem(dl, "time", 0, "0.000000");
    dl_set_elem(dl, "tmcolor", 0, "blue");
    dl_set_var(dl, "sublinecnt", "1");
    dl_set_elem(dl, "subx1", 0, "25");
    dl_set_elem(dl, "suby1", 0, "35");
    dl_set_elem(dl, "subx2", 0, "134");
    dl_set_elem(dl, "suby2", 0, "38");
    dl_set_elem(dl, "subcolor", 0, "green");
    for (const char *v : {"rx1", "rx2", "ry1", "ry2"})
        dl_set_var(dl, v, v[1] == 'x' ? (v[2] == '1' ? "8.0" : "152.0") : (v[2] == '1' ? "20.5" : "40.5"));
}

TEST(DisplayList, DrawProceduresMakeTheScriptsItemsAndEraseRemovesThem)
{
    display_list dl;
    dl_clear(&dl);
    publish_sample(&dl);
    for (const char *p : {"drawlines", "drawtexts", "drawtimes", "drawsublines", "drawbox"})
        EXPECT_EQ(dl_eval(&dl, p), 1) << p;
    const auto &m = dl.items[DL_MAIN];
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].kind, DL_LINE);
    EXPECT_EQ(m[0].arrow, DL_ARROW_LAST);
    EXPECT_EQ(m[0].fill, "blue");
    EXPECT_DOUBLE_EQ(m[0].y2, 430.0);
    EXPECT_EQ(m[1].arrow, DL_ARROW_FIRST);
    EXPECT_EQ(m[2].kind, DL_TEXT);
    EXPECT_TRUE(m[2].ground);
    EXPECT_EQ(m[2].font, DL_FONT_LABEL);
    EXPECT_EQ(m[2].text, " 1:101(100) ack 1 win 65535 ");
    EXPECT_FALSE(m[3].ground);
    EXPECT_EQ(m[3].font, DL_FONT_SMALL);
    /* The box is lowered below the overview lines drawn before it. */
    const auto &o = dl.items[DL_OVER];
    ASSERT_EQ(o.size(), 2u);
    EXPECT_EQ(o[0].kind, DL_RECT);
    EXPECT_DOUBLE_EQ(o[0].y1, 20.5);
    EXPECT_EQ(o[1].fill, "green");

    /* Each erase removes its own items only. */
    struct {
        const char *erase;
        size_t main_left, over_left;
    } steps[] = {{"erasetimes", 3, 2}, {"erasebox", 3, 1}, {"eraselines", 1, 1},
                 {"erasetexts", 0, 1}, {"erasesublines", 0, 0}};
    for (const auto &s : steps) {
        EXPECT_EQ(dl_eval(&dl, s.erase), 1);
        EXPECT_EQ(dl.items[DL_MAIN].size(), s.main_left) << s.erase;
        EXPECT_EQ(dl.items[DL_OVER].size(), s.over_left) << s.erase;
    }
}

TEST(DisplayList, FramesReplaceEachOtherAndCountsBoundTheArrays)
{
    display_list dl;
    dl_clear(&dl);
    for (int i = 0; i < 2; i++) {
        dl_set_elem(&dl, "fx1", i, i ? "560" : "80");
        dl_set_elem(&dl, "fx2", i, i ? "560" : "80");
        dl_set_elem(&dl, "fy1", i, "20");
        dl_set_elem(&dl, "fy2", i, "1200");
    }
    dl_eval(&dl, "drawframe");
    dl_eval(&dl, "drawframe");
    ASSERT_EQ(dl.items[DL_MAIN].size(), 2u);
    EXPECT_DOUBLE_EQ(dl.items[DL_MAIN][1].x1, 560.0);
    EXPECT_DOUBLE_EQ(dl.items[DL_MAIN][0].width, 2.0);
    /* Elements past the count are older values and are not drawn. */
    publish_sample(&dl);
    dl_set_var(&dl, "linecnt", "1");
    dl_eval(&dl, "drawlines");
    EXPECT_EQ(dl.items[DL_MAIN].size(), 3u);
    EXPECT_EQ(dl_get(dl, "x1", 7), "");
    EXPECT_EQ(dl_get_num(dl, "linecnt"), 1.0);
}

TEST(DisplayList, FollowsYviewMovetoAndIgnoresOtherScripts)
{
    display_list dl;
    dl_clear(&dl);
    dl.main_height = 600;
    dl.over_height = 600;
    EXPECT_EQ(dl_eval(&dl, ".subframe1.canvas yview moveto 0.250000"), 1);
    EXPECT_EQ(dl_eval(&dl, ".subframe2.canvas yview moveto 0.125"), 1);
    EXPECT_EQ(dl_view_top(dl, DL_MAIN), 300);
    EXPECT_EQ(dl_view_top(dl, DL_OVER), 300);
    dl_eval(&dl, ".subframe1.canvas yview moveto 0.9");
    EXPECT_EQ(dl_view_top(dl, DL_MAIN), 600);    /* held inside the region */
    for (const char *other : {"createpi", "exit", ".subframe1.canvas yview moveto x", "drawlinesx"})
        EXPECT_EQ(dl_eval(&dl, other), 0) << other;
    EXPECT_TRUE(dl.items[DL_MAIN].empty());
}

}  // namespace

TEST(DisplayList, DrawlinesAddsTheNoticeWithTheArrowsAndEraseTakesIt)
{
    display_list dl;
    dl_clear(&dl);
    publish_sample(&dl);
    dl_set_var(&dl, "lnotice", "first 256 of 300 segments in this span: zoom in, or press t for the graphs");
    dl_set_var(&dl, "lnoticex", "320");
    dl_set_var(&dl, "lnoticey", "462");
    dl_eval(&dl, "drawlines");
    const auto &m = dl.items[DL_MAIN];
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[2].kind, DL_TEXT);
    EXPECT_EQ(m[2].tag, DL_TAG_LINES);
    EXPECT_EQ(m[2].x1, 320);
    EXPECT_EQ(m[2].y1, 462);
    EXPECT_EQ(m[2].text.substr(0, 13), "first 256 of ");
    dl_eval(&dl, "eraselines");
    EXPECT_TRUE(dl.items[DL_MAIN].empty());
    dl_set_var(&dl, "lnotice", "");
    dl_eval(&dl, "drawlines");
    EXPECT_EQ(dl.items[DL_MAIN].size(), 2u);
}
