/*
 * conn_dialog_test.cpp --
 *
 *	The Connections dialog end to end: the real wirepaint and UI script
 *	on a private Xvfb, a generated capture of 300 connections with a few
 *	troubled ones. The dialog opens worst first, a click on a heading
 *	sorts by it and a second click turns the order round, typed text
 *	filters the rows, the keys move through rows beyond those in sight,
 *	and Return loads the chosen connection.
 */

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "ui/ui_harness.h"

namespace {

using uitest::events;
using uitest::real_session;
using uitest::record;

/* Tcl: the verdict, number and retr< of the rows in sight, recorded. */
const char recorder[] =
    "proc sight {what} {\n"
    "    set t .conns.list\n"
    "    set cells {}\n"
    "    foreach i [$t children {}] {\n"
    "        lassign [$t item $i -values] n verdict\n"
    "        lappend cells $n:$verdict:[lindex [$t item $i -values] 12]\n"
    "    }\n"
    "    rec $what [connview_clib count] [$t selection] {*}$cells\n"
    "}\n"
    "proc heading {name} {\n"
    "    set t .conns.list\n"
    "    foreach id [$t cget -columns] {\n"
    "        if {[$t heading $id -text] eq $name} { uplevel #0 [$t heading $id -command] }\n"
    "    }\n"
    "}\n";

TEST(ConnectionsDialog, SortsFiltersAndLoads)
{
    std::string capture = pcapgen::temp_path("many.pcap");
    std::string cmd = std::string(WIREPAINT_BINARY_DIR "/gen_many") + " -n 300 -l 3 -z 3 -p 3 " +
                      capture + " " + pcapgen::temp_path("many.txt");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    real_session s;
    ASSERT_TRUE(s.x.ok());
    s.run(std::string(recorder) +
              "wp::connections_dialog\n"
              "update\n"
              "sight opened\n"
              "rec reason [string map {{ } _} [lindex [.conns.list item [lindex [.conns.list children {}] 0] -values] end]]\n"
              "heading retr<\n"
              "sight by_retr\n"
              "heading retr<\n"
              "sight by_retr_again\n"
              "set wp::conn_filter Window\n"
              "wp::conn_filter_now .conns\n"
              "update\n"
              "sight filtered\n"
              "set wp::conn_filter {}\n"
              "wp::conn_filter_now .conns\n"
              "heading #\n"
              "event generate .conns.list <Key-End>\n"
              "sight at_end\n"
              "event generate .conns.list <Key-Up>\n"
              "eval [bind .conns <Key-Return>]\n"
              "update\n"
              "rec loaded [winfo exists .conns] $::lefthost $::righthost [wm title .]\n"
              "destroy .\n",
          {capture});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    std::vector<std::string> opened = events(s.rec, "opened").at(0);
    ASSERT_EQ(opened.size(), 3u + 20u);
    EXPECT_EQ(opened[1], "300");
    for (size_t i = 3; i < 6; i++)
        EXPECT_NE(opened[i].find(":stalled:"), std::string::npos) << opened[i];
    for (size_t i = 6; i < 9; i++)
        EXPECT_NE(opened[i].find(":loss:"), std::string::npos) << opened[i];
    EXPECT_NE(opened[22].find(":ok:"), std::string::npos);
    /* The last column says why: the server's pause of 1.5 s. */
    EXPECT_EQ(events(s.rec, "reason").at(0).at(1), "server_paused_1.50_s_mid-transfer,_nothing_outstanding");
    /* Selected: the first row in sight. */
    EXPECT_EQ(opened[2], "c" + opened[3].substr(0, opened[3].find(':')));
    /* retr< (the server's retransmissions): largest first, then round. */
    std::vector<std::string> by = events(s.rec, "by_retr").at(0);
    for (size_t i = 3; i < 6; i++)
        EXPECT_EQ(by[i].substr(by[i].rfind(':')), ":1") << by[i];
    EXPECT_EQ(by[6].substr(by[6].rfind(':')), ":0");
    std::vector<std::string> again = events(s.rec, "by_retr_again").at(0);
    EXPECT_EQ(again[3].substr(again[3].rfind(':')), ":0");
    EXPECT_EQ(again[3].substr(0, 2), "1:");
    /* The filter ignores case and keeps the three window rows. */
    std::vector<std::string> filtered = events(s.rec, "filtered").at(0);
    ASSERT_EQ(filtered.size(), 6u);
    EXPECT_EQ(filtered[1], "3");
    for (size_t i = 3; i < 6; i++)
        EXPECT_NE(filtered[i].find(":window:"), std::string::npos);
    /* End goes to the last row, out of the first sight: number 300. */
    std::vector<std::string> at_end = events(s.rec, "at_end").at(0);
    EXPECT_EQ(at_end[2], "c300");
    EXPECT_EQ(at_end.back().substr(0, 4), "300:");
    /* Up, Return: connection 299 loaded, the dialog gone. */
    std::vector<std::string> loaded = events(s.rec, "loaded").at(0);
    EXPECT_EQ(loaded[1], "0");
    std::string client = "10.1.1.42:20298";  /* 10.1.0.0 + 298 */
    EXPECT_TRUE(loaded[2] == client || loaded[3] == client) << loaded[2] << " " << loaded[3];
    EXPECT_NE(loaded[4].find("(55 segments)"), std::string::npos) << loaded[4];
}

}  // namespace
