/*
 * commands_test.cpp --
 *
 *	The start signal, open-file, toggles and click-to-inspect, run end to
 *	end: the real wirepaint on a private Xvfb with a recording UI script,
 *	on captures written through libpcap. Also the shortening of a detail
 *	text too long for the message.
 */

#include "ui/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "trace/trace.h"
#include "ui/ui_harness.h"
#include "ui/ui_state.h"

namespace {

/* The detail text of handshake_capture()'s SYN-ACK: summary, blank line, header dump. */
const char synack_detail[] =
    "10.0.0.2.80 > 10.0.0.1.40000:  S , cksum 0xe7ce (correct), 5000:5000(0) ack 1001 win 65535\n"
    "\n      0x0000:  4500 0028 1234 4000 4006 0000 0a00 0002 "
    "\n      0x0010:  0a00 0001 0050 9c40 0000 1388 0000 03e9 "
    "\n      0x0020:  5012 ffff e7ce 0000 ";

/* A capture whose packets are all UDP: no TCP connection at all. */
std::string udp_capture()
{
    pcapgen::capture c;
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 5000, 53, 20), 0.0);
    return c.write();
}

constexpr size_t MESSAGE_SIZE_FOR_TEST = 1024;

using uitest::events;
using uitest::handshake_capture;
using uitest::record;
using uitest::section;
using uitest::session;

std::vector<std::string> ev(std::initializer_list<std::string> f) { return f; }

TEST(InitClib, DrawsACommandLineLoadWithItsSetUpGeometry)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\nrec @done\ndestroy .\n", {"-g", "800x600+10+20", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    const record &r = s.rec;

    EXPECT_EQ(events(r, "drawframe").at(0),
              ev({"drawframe", "80", "80", "20", "1200", "560", "560", "20", "1200"}));
    EXPECT_EQ(events(r, "drawsubframe").at(0),
              ev({"drawsubframe", "24.000000", "24.000000", "5", "2400", "136.000000",
                  "136.000000", "5", "2400"}));
    /* Main window [-0.2, 0.2] s at 3000 px/s: the SYN leaves at y 620 and
     * arrives 10 ms later at 650; the SYN-ACK leaves the right host at 650
     * and reaches the left one at 680. */
    EXPECT_EQ(events(r, "drawlines").at(0), ev({"drawlines", "2"}));
    record lines = events(r, "line");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], ev({"line", "0", "80", "620", "560", "650", "red", "last"}));
    EXPECT_EQ(lines[1], ev({"line", "1", "80", "680", "560", "650", "red", "first"}));
    /* Overview from -0.3 s at 300 px/s, its lines between x 25 and 135. */
    record sub = events(r, "subline");
    ASSERT_EQ(sub.size(), 2u);
    EXPECT_EQ(sub[0], ev({"subline", "0", "25", "95", "135", "98", "red"}));
    EXPECT_EQ(sub[1], ev({"subline", "1", "25", "101", "135", "98", "red"}));
    /* The box covers the middle half of the main window, [-0.1, 0.1] s,
     * on the overview lines' own scale. */
    EXPECT_EQ(events(r, "drawbox").at(0),
              ev({"drawbox", "8.000000", "152.000000", "65.000000", "125.000000"}));
    /* Labels halfway down their arrows, 4 px up. */
    record texts = events(r, "text");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], ev({"text", "0", "320", "631", "red", " 0:0(0) ack 0 win 65535 "}));
    EXPECT_EQ(texts[1], ev({"text", "1", "320", "661", "red", " 0:0(0) ack 1 win 65535 "}));
    /* Time stamps "%04.6f"; the right column's second one moves 9 px below
     * the first, which it would touch. */
    record times = events(r, "time");
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(times[0], ev({"time", "0", "40", "616", "red", "0.000000"}));
    EXPECT_EQ(times[1], ev({"time", "1", "600", "646", "red", "0.010000"}));
    EXPECT_EQ(times[2], ev({"time", "2", "40", "676", "red", "0.020000"}));
    EXPECT_EQ(times[3], ev({"time", "3", "600", "655", "red", "0.010000"}));
    /* After drawing, the main canvas shows the middle of its region. */
    EXPECT_EQ(events(r, "maincanvas").back(), ev({"maincanvas", "yview", "moveto", "0.25"}));
    EXPECT_TRUE(events(r, "erasetexts").empty());
}

TEST(InitClib, DrawsNothingWithoutALoadAndEndsOnAMissingCanvas)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\nrec @done\ndestroy .\n", {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    ASSERT_FALSE(events(s.rec, "@done").empty());
    EXPECT_TRUE(events(s.rec, "drawframe").empty());
    EXPECT_TRUE(events(s.rec, "drawlines").empty());

    session missing;
    missing.run("destroy .subframe2.canvas\ninit_clib\nrec @done\n", {handshake_capture()});
    EXPECT_EQ(missing.result.status, 255);
    EXPECT_EQ(missing.result.err, "bad window path name \".subframe2.canvas\"\n");
    EXPECT_TRUE(events(missing.rec, "@done").empty());
}

TEST(Sub1press, ShowsTheWholeDetailTextOfTheArrowClicked)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* On the SYN-ACK's arrow, (80,680)-(560,650), at x 320: y 665 in the
     * scroll region, 365 in the window while the canvas shows its middle. */
    s.run("init_clib\nsub1press_clib 320 365\nrec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    ASSERT_EQ(events(s.rec, "createpi").size(), 1u);
    EXPECT_EQ(s.message(1), std::string(synack_detail) + "\n");
}

TEST(Sub1press, PicksTheEarlierOfEqualDistancesAndIgnoresFarClicks)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* (480, 650) lies 5 px from both arrows, which meet at (560, 650). */
    s.run("init_clib\n"
          "sub1press_clib 480 350\n"
          "rec @far\n"
          "sub1press_clib 320 350\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    ASSERT_EQ(events(s.rec, "createpi").size(), 1u);
    EXPECT_EQ(s.message(1).rfind("10.0.0.1.40000 > 10.0.0.2.80:", 0), 0u) << s.message(1);
    /* (320, 650) is 15 px from both: nothing, no popup. */
    EXPECT_TRUE(events(section(s.rec, "@far"), "createpi").empty());
}

TEST(Sub1press, SelectsAtExactlyTenPixelsButNotBeyond)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* At -g 480x600 the SYN runs from (80,620) to (304,650): the line
     * -30x + 224y - 136480 = 0, whose normal is 226 long. (154, 640) lies
     * 2260 / 226 = 10 px from it, (154, 641) 2484 / 226 = 10.99 px. */
    s.run("init_clib\n"
          "sub1press_clib 154 341\n"
          "rec @between\n"
          "sub1press_clib 154 340\n"
          "rec @done\ndestroy .\n",
          {"-g", "480x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record lines = events(s.rec, "line");
    ASSERT_EQ(lines.at(0), ev({"line", "0", "80", "620", "304", "650", "red", "last"}));
    EXPECT_EQ(events(s.rec, "createpi").size(), 1u);
    EXPECT_EQ(events(section(s.rec, "@between"), "createpi").size(), 1u);
    EXPECT_EQ(s.message(1).rfind("10.0.0.1.40000 > 10.0.0.2.80:", 0), 0u) << s.message(1);
}

TEST(Sub1press, UsesTheScrollPositionOfTheMainCanvas)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* With the canvas scrolled to its bottom (main_scroll 1) window y 65
     * is region y 665, on the SYN-ACK. Scrolled to the top, window y 665
     * is on it as well. */
    s.run("init_clib\n"
          "scrlbar_move_clib moveto 0.7\n"
          "sub1press_clib 320 65\n"
          "scrlbar_move_clib moveto 0\n"
          "sub1press_clib 320 665\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    ASSERT_EQ(events(s.rec, "createpi").size(), 2u);
    EXPECT_EQ(s.message(1), std::string(synack_detail) + "\n");
    EXPECT_EQ(s.message(2), std::string(synack_detail) + "\n");
}

TEST(Toggles, PublishForTheVisibleRangeOrEraseAndNeedTheirVariable)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\n"
          "rec @step1\nset texton 0\ntext_clib\n"
          "rec @step2\nset texton 1\ntext_clib\n"
          "rec @step3\nset timeon 0\ntime_clib\n"
          "rec @step4\nset timeon 1\ntime_clib\n"
          "rec @step5\nunset texton timeon\ntext_clib\ntime_clib\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record off = section(s.rec, "@step1");
    ASSERT_EQ(off.size(), 2u);
    EXPECT_EQ(off[1], ev({"erasetexts"}));
    record on = section(s.rec, "@step2");
    ASSERT_EQ(on.size(), 4u);
    EXPECT_EQ(on[1], ev({"drawtexts", "2"}));
    EXPECT_EQ(on[2], ev({"text", "0", "320", "631", "red", " 0:0(0) ack 0 win 65535 "}));
    record times_off = section(s.rec, "@step3");
    ASSERT_EQ(times_off.size(), 2u);
    EXPECT_EQ(times_off[1], ev({"erasetimes"}));
    record times_on = section(s.rec, "@step4");
    ASSERT_EQ(times_on.size(), 6u);
    EXPECT_EQ(times_on[1], ev({"drawtimes", "4"}));
    EXPECT_EQ(section(s.rec, "@step5").size(), 1u);
}

TEST(Toggles, BeforeAnyLoadPublishNothing)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\nset texton 1\ntext_clib\nset timeon 1\ntime_clib\nrec @done\ndestroy .\n",
          {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(events(s.rec, "drawtexts").at(0), ev({"drawtexts", "0"}));
    EXPECT_EQ(events(s.rec, "drawtimes").at(0), ev({"drawtimes", "0"}));
}

TEST(Openfile, LoadsIntoAnEmptyWindowThenErasesBeforeEachReload)
{
    std::string cap = handshake_capture();
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\n"
          "rec @first\nopenfile_clib {" + cap + "}\n"
          "rec @second\nopenfile_clib {" + cap + "}\n"
          "rec @nopath\nopenfile_clib\n"
          "rec @done\ndestroy .\n",
          {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record first = section(s.rec, "@first");
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first[1][0], "drawframe");
    EXPECT_TRUE(events(first, "eraselines").empty());

    record second = section(s.rec, "@second");
    ASSERT_GE(second.size(), 7u);
    EXPECT_EQ(second[1], ev({"eraselines"}));
    EXPECT_EQ(second[2], ev({"erasesublines"}));
    EXPECT_EQ(second[3], ev({"erasebox"}));
    EXPECT_EQ(second[4], ev({"erasetexts"}));
    EXPECT_EQ(second[5], ev({"erasetimes"}));
    EXPECT_EQ(second[6][0], "drawframe");
    EXPECT_EQ(events(second, "line"), events(first, "line"));

    EXPECT_EQ(section(s.rec, "@nopath").size(), 1u);
}

TEST(Openfile, AfterACaptureWithoutTcpTheOldDiagramIsForgotten)
{
    session s;
    ASSERT_TRUE(s.x.ok());
    /* The reload finds no connection: clicks, toggles and the title must
     * not reach back into the freed diagram. */
    s.run("init_clib\n"
          "openfile_clib {" + udp_capture() + "}\n"
          "rec @empty $segcount\n"
          "sub1press_clib 320 365\n"
          "set texton 1\ntext_clib\n"
          "set timeon 1\ntime_clib\n"
          "rec @done\ndestroy .\n",
          {"-g", "800x600", handshake_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record after = section(s.rec, "@empty");
    ASSERT_GE(after.size(), 1u);
    EXPECT_EQ(after[0], ev({"@empty", "0"}));
    EXPECT_TRUE(events(after, "createpi").empty());
    EXPECT_EQ(events(after, "drawtexts").at(0), ev({"drawtexts", "0"}));
    EXPECT_EQ(events(after, "drawtimes").at(0), ev({"drawtimes", "0"}));
}

TEST(NearestHit, TakesTheEarlierOfEqualDistancesWithinTenPixels)
{
    ui_state_reset();
    /* Two horizontal lines y = 100 and y = 120, then a zero-length arrow
     * right at the click, which has no line to measure against. */
    g_ui.hits[0] = {0, 100, -100 * 100, 7};
    g_ui.hits[1] = {0, 100, -100 * 120, 9};
    g_ui.hits[2] = {0, 0, 0, 11};
    g_ui.hit_count = 3;
    EXPECT_EQ(nearest_hit(50, 110), 7);
    EXPECT_EQ(nearest_hit(50, 119), 9);
    EXPECT_EQ(nearest_hit(50, 90), 7);
    EXPECT_EQ(nearest_hit(50, 89), -1);
    EXPECT_EQ(nearest_hit(50, 130), 9);
    EXPECT_EQ(nearest_hit(50, 131), -1);
    g_ui.hit_count = 0;
    EXPECT_EQ(nearest_hit(50, 110), -1);
}

TEST(BuildMessage, AddsANewlineAndCutsALongTextAtALineBreak)
{
    char out[MESSAGE_SIZE_FOR_TEST];
    EXPECT_STREQ(build_message("one line", out, sizeof out), "one line\n");

    /* 1022 characters and the newline fill the 1023 places exactly. */
    std::string exact(1022, 'x');
    EXPECT_EQ(std::string(build_message(exact.c_str(), out, sizeof out)), exact + "\n");

    /* One more, and the text is cut after its last line break that fits. */
    std::string head = std::string(600, 'a') + "\n" + std::string(300, 'b') + "\n";
    std::string longer = head + std::string(200, 'c');
    std::string got = build_message(longer.c_str(), out, sizeof out);
    EXPECT_EQ(got, head);

    /* A break right at the last place still fits. */
    std::string edge = std::string(1022, 'd') + "\n" + "tail";
    EXPECT_EQ(std::string(build_message(edge.c_str(), out, sizeof out)),
              std::string(1022, 'd') + "\n");

    /* Without any break the text is cut to make room for the newline. */
    std::string flat(2000, 'e');
    EXPECT_EQ(std::string(build_message(flat.c_str(), out, sizeof out)),
              std::string(1022, 'e') + "\n");
}

}  // namespace

TEST(Drawtimes, NoTwoTimeStampsOfAColumnOverlapInTheTwoFileSample)
{
    const std::string ex = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";
    session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\nrec @done\ndestroy .\n", {ex + "sender.pcap", ex + "receiver.pcap"});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    std::map<std::string, std::vector<int>> column;
    for (const auto &e : events(s.rec, "time"))
        column[e.at(2)].push_back(std::stoi(e.at(3)));
    ASSERT_EQ(column.size(), 2u);
    for (auto &c : column) {
        std::sort(c.second.begin(), c.second.end());
        ASSERT_GT(c.second.size(), 20u);
        for (size_t k = 1; k < c.second.size(); k++)
            EXPECT_GT(c.second[k] - c.second[k - 1], 8) << "x " << c.first << " at " << c.second[k];
    }
}
