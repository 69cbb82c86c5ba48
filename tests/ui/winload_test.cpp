/*
 * winload_test.cpp --
 *
 *	Loads from the window never end the program: the real wirepaint with
 *	the real UI script on a private Xvfb, its dialogs answered by the
 *	test's procedures. A file that fails the check keeps the connection
 *	shown; a failure inside the load leaves an empty window that still
 *	opens files; a file cut short loads with a warning; a file with
 *	several connections opens the Connections dialog.
 */

#include "ui/winload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "ui/ui_harness.h"

namespace {

using uitest::events;
using uitest::handshake_capture;
using uitest::real_session;
using uitest::record;

const std::string examples = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";

/* Tcl: dialogs answered and recorded, the state after each step recorded. */
const char answering[] =
    "proc tk_getOpenFile {args} { return $::answer }\n"
    "proc tk_messageBox {args} {\n"
    "    set detail {}; if {[dict exists $args -detail]} { set detail [dict get $args -detail] }\n"
    "    rec box [dict get $args -icon] [dict get $args -message] $detail\n"
    "}\n"
    "proc state {step} { rec state $step $::segcount [wm title .] [winfo exists .conns] }\n"
    "proc open_file {path step} { set ::answer $path; wp::open_dialog; state $step }\n";

std::string radiotap_capture()
{
    pcapgen::capture c(pcapgen::LINK_RADIOTAP);
    c.add_frame(pcapgen::bytes(48, 0), 1, 0);
    return c.write();
}

/* The sample capture cut to `size` bytes. */
std::string cut_sample(long size)
{
    std::string cut = pcapgen::temp_path("cut.pcap");
    std::filesystem::copy_file(examples + "sender.pcap", cut);
    std::filesystem::resize_file(cut, (uintmax_t)size);
    return cut;
}

std::string tail(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

std::vector<std::string> ev(std::initializer_list<std::string> f) { return f; }

TEST(WindowLoad, FilesThatFailTheCheckKeepTheConnectionShown)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string shown = handshake_capture();
    std::string radiotap = radiotap_capture();
    std::string fake = pcapgen::write_text_file("fake.pcap", std::string("\xd4\xc3\xb2\xa1", 4) +
                                                                 "not really a capture file");
    std::string text = pcapgen::write_text_file("notes.txt", "plain text\n");
    std::string cut = cut_sample(50000);
    s.run(std::string(answering) +
              "state start\n"
              "open_file {" + radiotap + "} radiotap\n"
              "open_file {" + fake + "} fake\n"
              "open_file {" + text + "} text\n"
              "open_file {" + cut + "} cut\n"
              "destroy .\n",
          {shown});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    std::string title = "wirepaint \u2014 " + tail(shown) + " (2 segments)";
    record st = events(s.rec, "state");
    ASSERT_EQ(st.size(), 5u);
    EXPECT_EQ(st[0], ev({"state", "start", "2", title, "0"}));
    EXPECT_EQ(st[1], ev({"state", "radiotap", "2", title, "0"}));
    EXPECT_EQ(st[2], ev({"state", "fake", "2", title, "0"}));
    EXPECT_EQ(st[3], ev({"state", "text", "2", title, "0"}));
    EXPECT_EQ(st[4], ev({"state", "cut", "486", "wirepaint \u2014 " + tail(cut) + " (486 segments)", "0"}));

    record boxes = events(s.rec, "box");
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0], ev({"box", "error", "Could not load " + tail(radiotap) + ".",
                            "Unknown DLT 7f (IEEE802_11_RADIO): wirepaint does not read this "
                            "link type"}));
    EXPECT_EQ(boxes[1][1], "error");
    EXPECT_EQ(boxes[1][2], "Could not load " + tail(fake) + ".");
    EXPECT_NE(boxes[1][3], "");             /* libpcap's own reason */
    EXPECT_EQ(boxes[2], ev({"box", "error", "\"" + tail(text) + "\" is not a pcap or pcapng capture file.", ""}));
    EXPECT_EQ(boxes[3][1], "warning");
    EXPECT_EQ(boxes[3][3], "wirepaint: warning: " + cut +
                               ": truncated dump file; tried to read 66 captured bytes, only got 18");
    /* The command line's warning text on standard error too. */
    EXPECT_NE(s.result.err.find("wirepaint: warning: " + cut + ": truncated dump file"),
              std::string::npos);
}

TEST(WindowLoad, FailureInsideTheLoadLeavesAnEmptyUsableWindow)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string first_record_cut = cut_sample(60);
    std::string good = handshake_capture();
    s.run(std::string(answering) +
              "open_file {" + first_record_cut + "} cut\n"
              "rec status [.status cget -text]\n"
              "rec header [llength [.subframe1.header find all]]\n"
              "open_file {" + good + "} good\n"
              "set wp::current_files {" + examples + "loopback-any.pcap}\n"
              "openconn_clib 9 {" + examples + "loopback-any.pcap}\n"
              "rec outcome $::loadkept $::loaderror\n"
              "wp::load_outcome $wp::current_files Connections\n"
              "state connection9\n"
              "open_file {" + good + "} again\n"
              "destroy .\n",
          {examples + "sender.pcap"});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record st = events(s.rec, "state");
    ASSERT_EQ(st.size(), 4u);
    std::string title = "wirepaint \u2014 " + tail(good) + " (2 segments)";
    EXPECT_EQ(st[0], ev({"state", "cut", "0", "wirepaint", "0"}));
    EXPECT_EQ(st[1], ev({"state", "good", "2", title, "0"}));
    EXPECT_EQ(st[2], ev({"state", "connection9", "0", "wirepaint", "0"}));
    EXPECT_EQ(st[3], ev({"state", "again", "2", title, "0"}));
    std::string libpcap = "pcap_loop: truncated dump file; tried to read 74 captured bytes, only got 20";
    EXPECT_EQ(events(s.rec, "header").at(0), ev({"header", "0"}));   /* no host names */
    EXPECT_EQ(events(s.rec, "status").at(0), ev({"status", "Could not load " + tail(first_record_cut) + ": " + libpcap}));
    std::string none = "wirepaint: " + examples + "loopback-any.pcap holds 3 TCP connections: no connection 9";
    EXPECT_EQ(events(s.rec, "outcome").at(0), ev({"outcome", "0", none}));
    record boxes = events(s.rec, "box");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], ev({"box", "error", "Could not load " + tail(first_record_cut) + ".", libpcap}));
    EXPECT_EQ(boxes[1], ev({"box", "error", "Could not load loopback-any.pcap.", none}));
}

TEST(WindowLoad, ConnectionsDialogLetsTheUserPick)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    s.run(std::string(answering) +
              "open_file {" + examples + "loopback-any.pcap} opened\n"
              "set items [.conns.list children {}]\n"
              "rec rows [llength $items] [lindex [.conns.list item [lindex $items 0] -values] 2]\n"
              ".conns.list selection set [lindex $items 1]\n"
              ".conns.buttons.open invoke\n"
              "state picked\n"
              "rec hosts $::lefthost $::righthost\n"
              "event generate . <Control-Key-l>\n"
              "update\n"
              "state listed\n"
              ".conns.list selection set [lindex [.conns.list children {}] 2]\n"
              "eval [bind .conns.list <Double-Button-1>]\n"
              "state again\n"
              "rec hosts $::lefthost $::righthost\n"
              "destroy .\n",
          {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record st = events(s.rec, "state");
    ASSERT_EQ(st.size(), 4u);
    EXPECT_EQ(st[0], ev({"state", "opened", "10", "wirepaint \u2014 loopback-any.pcap (10 segments)", "1"}));
    EXPECT_EQ(events(s.rec, "rows").at(0), ev({"rows", "3", "127.0.0.1:34086"}));
    EXPECT_EQ(st[1], ev({"state", "picked", "11", "wirepaint \u2014 loopback-any.pcap (11 segments)", "0"}));
    EXPECT_EQ(events(s.rec, "hosts").at(0), ev({"hosts", "127.0.0.1:34096", "127.0.0.1:45123"}));
    EXPECT_EQ(st[2][4], "1");
    EXPECT_EQ(st[3][4], "0");
    EXPECT_EQ(events(s.rec, "hosts").at(1), ev({"hosts", "127.0.0.1:34100", "127.0.0.1:45123"}));
    EXPECT_TRUE(events(s.rec, "box").empty());
}

}  // namespace

namespace {

TEST(WindowLoad, ConnectionsOfATwoFileLoadReloadBothFiles)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    s.run(std::string(answering) +
              "state start\n"
              "rename openconn_clib real_openconn_clib\n"
              "proc openconn_clib {args} { rec openconn {*}$args; real_openconn_clib {*}$args }\n"
              "wp::connections_dialog\n"
              "rec rows [llength [.conns.list children {}]]\n"
              ".conns.buttons.open invoke\n"
              "state reloaded\n"
              "destroy .\n",
          {examples + "sender.pcap", examples + "receiver.pcap"});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record st = events(s.rec, "state");
    ASSERT_EQ(st.size(), 2u);
    EXPECT_EQ(events(s.rec, "rows").at(0), ev({"rows", "1"}));
    EXPECT_EQ(events(s.rec, "openconn").at(0),
              ev({"openconn", "1", examples + "sender.pcap", examples + "receiver.pcap"}));
    /* The same two-file diagram as the command line's. */
    EXPECT_EQ(st[1][2], st[0][2]);
    EXPECT_EQ(st[1][3], "wirepaint \u2014 sender.pcap + receiver.pcap (" + st[0][2] + " segments)");
    EXPECT_TRUE(events(s.rec, "box").empty());
}

}  // namespace

namespace {

/* View > Capture host analyses again with the chosen end on the left,
 * keeping the connection chosen with -c; "As the capture shows" undoes it. */
TEST(WindowLoad, CaptureHostRedrawsWithTheChosenEndOnTheLeft)
{
    const std::string m = ".toolbar.view.menu.host";
    const std::string pick = "proc pick {i} { wp::fill_capture_host_menu " + m + "; " + m +
                             " invoke $i; rec hosts $::segcount $::lefthost $::capturehost }\n";
    struct row {
        std::vector<std::string> args;
        std::vector<std::string> hosts;  /* at start, after entries 3, 2, 0 */
    } rows[] = {
        {{examples + "lan-server.pcap"},
         {"10.78.1.1:8081", "10.78.2.1:49950", "10.78.1.1:8081", "10.78.1.1:8081"}},
        {{"-c", "2", examples + "loopback-any.pcap"},
         {"127.0.0.1:34096", "127.0.0.1:45123", "127.0.0.1:34096", "127.0.0.1:34096"}},
    };
    for (const row &r : rows) {
        real_session s;
        ASSERT_TRUE(s.x.ok());
        s.run(std::string(answering) + pick +
                  "rec hosts $::segcount $::lefthost $::capturehost\n"
                  "pick 3\npick 2\npick 0\ndestroy .\n",
              r.args);
        ASSERT_EQ(s.result.status, 0) << s.result.err;
        record h = events(s.rec, "hosts");
        ASSERT_EQ(h.size(), 4u);
        for (size_t i = 0; i < 4; i++) {
            EXPECT_EQ(h[i][1], h[0][1]) << i;
            EXPECT_EQ(h[i][2], r.hosts[i]) << i;
            EXPECT_EQ(h[i].size() > 3 ? h[i][3] : "", i == 0 || i == 3 ? "" : r.hosts[i]) << i;
        }
        EXPECT_TRUE(events(s.rec, "box").empty());
    }
}

}  // namespace

namespace {

/* Open and Connections take compressed files as they take plain ones; a
 * corrupt one fails the check and keeps the connection shown. Packets of
 * other connections are written one by one only while no connection is
 * chosen. */
TEST(WindowLoad, CompressedFilesOpenAndListAndChosenConnectionsLoadQuietly)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    pcapgen::capture c;
    c.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 53, 53, 8), 0.0);
    std::string shown = c.add(pcapgen::build_tcp(pcapgen::tcp_seg()), 0.01).write();
    std::string dir = s.dir + "/";
    ASSERT_EQ(std::system(("gzip -n -c " + examples + "sender.pcap > " + dir + "sender.gz && "
                           "zstd -q -c " + examples + "loopback-any.pcap > " + dir + "loop.zst && "
                           "xz -c " + examples + "sender.pcap > " + dir + "bad.xz && "
                           "dd if=/dev/zero of=" + dir + "bad.xz bs=1 seek=7000 count=16 "
                           "conv=notrunc 2>/dev/null")
                              .c_str()),
              0);
    s.run(std::string(answering) +
              "open_file {" + dir + "sender.gz} gzip\n"
              "open_file {" + dir + "bad.xz} corrupt\n"
              "connlist_clib {" + dir + "loop.zst}\n"
              "rec listed $::conncount $::loaderror\n"
              "openconn_clib 2 {" + dir + "loop.zst}\n"
              "state zstd\n"
              "rec hosts $::lefthost $::righthost\n"
              "destroy .\n",
          {shown});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record st = events(s.rec, "state");
    ASSERT_EQ(st.size(), 3u);
    std::string title = "wirepaint \u2014 sender.gz (492 segments)";
    EXPECT_EQ(st[0], ev({"state", "gzip", "492", title, "0"}));
    EXPECT_EQ(st[1], ev({"state", "corrupt", "492", title, "0"}));
    EXPECT_EQ(st[2][2], "11");
    EXPECT_EQ(events(s.rec, "listed").at(0), ev({"listed", "3", ""}));
    EXPECT_EQ(events(s.rec, "hosts").at(0), ev({"hosts", "127.0.0.1:34096", "127.0.0.1:45123"}));
    record boxes = events(s.rec, "box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], ev({"box", "error", "Could not load bad.xz.",
                            "corrupt xz data: compressed data is corrupt"}));
    /* The UDP packet of the file drawn first; nothing of the other
     * connections of loop.zst once the second one is chosen. */
    EXPECT_EQ(s.result.out, "not tcp\n");
}

}  // namespace
