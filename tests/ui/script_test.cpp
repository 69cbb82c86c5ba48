/*
 * script_test.cpp --
 *
 *	The real UI script, script/wirepaint.tcl, run by the real wirepaint on
 *	a private Xvfb: a screenshot of its window shows the arrows in their
 *	classes' colours, and its controls (popup, open dialog, toggles,
 *	scrollbars, wheel and keys, PostScript, legend, title) reach the
 *	program's commands. Labels and time stamps crowded 9 px apart stay
 *	readable, and the axes lose their host names once a reload finds no
 *	connection. The working folder's ./wirepaint.tcl sources the
 *	real script and then runs the test's own Tcl code; dialogs are
 *	replaced by procedures that answer for the user.
 */

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/pcapgen.h"
#include "trace/trace.h"
#include "ui/ui_harness.h"

namespace {

using uitest::events;
using uitest::record;

std::vector<std::string> ev(std::initializer_list<std::string> f) { return f; }

/* A short connection, all within the first view: handshake, two data
 * segments from the client and the server's acknowledgements. */
std::string connection_capture()
{
    pcapgen::capture c;
    pcapgen::tcp_seg a;                  /* client 10.0.0.1:40000 */
    pcapgen::tcp_seg b;                  /* server 10.0.0.2:80 */
    b.src = "10.0.0.2";
    b.dst = "10.0.0.1";
    b.sport = 80;
    b.dport = 40000;

    a.flags = TH_SYN;
    a.seq = 1000;
    c.add(pcapgen::build_tcp(a), 0.0);
    b.flags = TH_SYN | TH_ACK;
    b.seq = 5000;
    b.ack = 1001;
    c.add(pcapgen::build_tcp(b), 0.02);
    a.flags = TH_ACK;
    a.seq = 1001;
    a.ack = 5001;
    c.add(pcapgen::build_tcp(a), 0.021);
    a.flags = TH_ACK | TH_PUSH;
    a.paylen = 500;
    c.add(pcapgen::build_tcp(a), 0.022);
    a.seq = 1501;
    c.add(pcapgen::build_tcp(a), 0.023);
    b.flags = TH_ACK;
    b.seq = 5001;
    b.ack = 1501;
    c.add(pcapgen::build_tcp(b), 0.042);
    b.ack = 2001;
    c.add(pcapgen::build_tcp(b), 0.043);
    return c.write();
}

using uitest::real_session;
using uitest::real_script;

/* Pixels of exactly colour `rgb` in a column strip of the image. */
int count_colour(XImage *img, int x0, int x1, unsigned long rgb)
{
    int n = 0;
    for (int y = 0; y < img->height; y++) {
        for (int x = x0; x < x1 && x < img->width; x++) {
            if ((XGetPixel(img, x, y) & 0xffffff) == rgb)
                n++;
        }
    }
    return n;
}

TEST(RealScript, ScreenshotShowsTheArrowsInTheirClassColours)
{
    uitest::xserver x;
    ASSERT_TRUE(x.ok());
    std::string dir = uitest::make_temp_dir();
    uitest::write_file(dir + "/wirepaint.tcl",
                       real_script("rec geometry [winfo rootx .subframe1.canvas]"
                               " [winfo rooty .subframe1.canvas]"
                               " [winfo width .subframe1.canvas] [winfo height .subframe1.canvas]\n"));
    pid_t pid = uitest::start_wirepaint({"-g", "800x600", connection_capture()}, dir, x.name());

    record geometry;
    for (int i = 0; i < 200 && geometry.empty(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        geometry = events(uitest::read_record(dir + "/record.txt"), "geometry");
    }
    ASSERT_EQ(geometry.size(), 1u);
    int gx = std::stoi(geometry[0][1]);
    int gy = std::stoi(geometry[0][2]);
    int gw = std::stoi(geometry[0][3]);
    int gh = std::stoi(geometry[0][4]);
    EXPECT_EQ(gw, 640);
    EXPECT_EQ(gh, 600);

    Display *d = XOpenDisplay(x.name().c_str());
    ASSERT_NE(d, nullptr);
    /* Between the left axis and the labels only arrows are drawn. */
    int blue = 0;
    int red = 0;
    for (int i = 0; i < 50 && (blue == 0 || red == 0); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XImage *img = XGetImage(d, DefaultRootWindow(d), gx, gy, gw, gh, AllPlanes, ZPixmap);
        ASSERT_NE(img, nullptr);
        blue = count_colour(img, 85, 200, 0x0000ff);
        red = count_colour(img, 85, 200, 0xff0000);
        XDestroyImage(img);
    }
    XCloseDisplay(d);
    kill(pid, SIGTERM);
    uitest::finish_wirepaint(pid, dir, 10);
    std::filesystem::remove_all(dir);
    EXPECT_GT(blue, 100) << "no blue data arrows on the canvas";
    EXPECT_GT(red, 100) << "no red arrows of segments without payload";
}

TEST(RealScript, NamesTheCaptureAndItsHostsAndShowsTheLegend)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string cap = connection_capture();
    s.run("rec title [wm title .]\n"
          "rec status [.status cget -text]\n"
          "rec header [lsort [lmap i [.subframe1.header find all] {"
          "    if {[.subframe1.header type $i] ne \"text\"} continue;"
          "    .subframe1.header itemcget $i -text}]]\n"
          "for {set i 0} {$i < 6} {incr i} {"
          "    rec legend [.legend.c$i itemcget 1 -fill] [.legend.t$i cget -text] }\n"
          "destroy .\n",
          {"-g", "800x600", cap});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    std::string name = cap.substr(cap.rfind('/') + 1);
    EXPECT_EQ(events(s.rec, "title").at(0), ev({"title", "wirepaint \u2014 " + name + " (7 segments)"}));
    std::string status = events(s.rec, "status").at(0).at(1);
    EXPECT_NE(status.find("10.0.0.1:40000 (left)"), std::string::npos) << status;
    EXPECT_NE(status.find("10.0.0.2:80 (right)"), std::string::npos) << status;
    EXPECT_EQ(events(s.rec, "header").at(0).at(1), "10.0.0.1:40000 10.0.0.2:80 {time \u2193}");
    record legend = events(s.rec, "legend");
    ASSERT_EQ(legend.size(), 6u);
    EXPECT_EQ(legend[0][1], "blue");
    EXPECT_EQ(legend[1][1], "red");
    EXPECT_EQ(legend[2][1], "green");
    EXPECT_EQ(legend[3][1], "orange");
    EXPECT_EQ(legend[4][1], "purple");
    EXPECT_EQ(legend[5][1], "brown");
    EXPECT_EQ(legend[3][2], "retransmission");
}

TEST(RealScript, AfterACaptureWithoutTcpNoHostsNameTheAxes)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    pcapgen::capture udp;
    udp.add(pcapgen::build_udp("10.0.0.1", "10.0.0.2", 5000, 53, 20), 0.0);
    std::string udp_path = udp.write();
    s.run("proc header {} { lsort [lmap i [.subframe1.header find all] {"
          "    .subframe1.header itemcget $i -text}] }\n"
          "rec header [header]\n"
          "proc tk_getOpenFile {args} { return {" + udp_path + "} }\n"
          "wp::open_dialog\n"
          "rec status [.status cget -text]\n"
          "rec header [header]\n"
          "destroy .\n",
          {"-g", "800x600", connection_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record header = events(s.rec, "header");
    ASSERT_EQ(header.size(), 2u);
    EXPECT_EQ(header[0].at(1), "10.0.0.1:40000 10.0.0.2:80 {time \u2193}");
    std::string name = udp_path.substr(udp_path.rfind('/') + 1);
    EXPECT_EQ(events(s.rec, "status").at(0), ev({"status", name + ": no TCP connection found."}));
    EXPECT_EQ(header[1], ev({"header", ""}));
}

/* Rows of the image that hold ink (a pixel darker than light grey) in
 * columns x0 to x1. */
std::vector<int> ink_rows(XImage *img, int x0, int x1)
{
    std::vector<int> rows;
    for (int y = 0; y < img->height; y++) {
        for (int x = x0; x < x1 && x < img->width; x++) {
            unsigned long p = XGetPixel(img, x, y);
            if (((p >> 16) & 0xff) < 0xc0 || ((p >> 8) & 0xff) < 0xc0 || (p & 0xff) < 0xc0) {
                rows.push_back(y);
                break;
            }
        }
    }
    return rows;
}

/* Runs of consecutive rows: {first, last} of each. */
std::vector<std::pair<int, int>> row_runs(const std::vector<int> &rows)
{
    std::vector<std::pair<int, int>> runs;
    for (int y : rows) {
        if (!runs.empty() && runs.back().second + 1 == y)
            runs.back().second = y;
        else
            runs.push_back({y, y});
    }
    return runs;
}

TEST(RealScript, LabelsAndTimesNinePixelsApartStayReadable)
{
    /* Crowded texts are placed 9 px below one another: a label's white
     * ground must not cover the glyphs of the label above it, and two time
     * stamps must not run into each other. Nothing is loaded, so the
     * canvas is empty and shows the top of its region. */
    uitest::xserver x;
    ASSERT_TRUE(x.ok());
    std::string dir = uitest::make_temp_dir();
    uitest::write_file(
        dir + "/wirepaint.tcl",
        real_script("set c .subframe1.canvas\n"
                "array set tx {0 200 1 200}\narray set ty {0 100 1 109}\n"
                "array set text {0 { 1448:2896(1448) ack 1 win 64 } 1 { 2896:4344(1448) ack 1 win 64 }}\n"
                "array set txcolor {0 black 1 black}\nset textcnt 2\n"
                "drawtexts\n"
                "foreach i [$c find withtag texts] {\n"
                "    if {[$c type $i] eq \"text\"} {\n"
                "        rec label [lindex [$c coords $i] 1] [lindex [$c bbox $i] 1]"
                " [font metrics [$c itemcget $i -font] -ascent]\n"
                "    } else { rec ground [lindex [$c coords $i] 1] }\n"
                "}\n"
                "array set tmx {0 450 1 450}\narray set tmy {0 100 1 109}\n"
                "array set time {0 0.123456 1 0.132456}\narray set tmcolor {0 black 1 black}\n"
                "set timecnt 2\ndrawtimes\nupdate\n"
                "rec geometry [winfo rootx $c] [winfo rooty $c]\n"));
    pid_t pid = uitest::start_wirepaint({}, dir, x.name());

    record r;
    for (int i = 0; i < 200 && events(r, "geometry").empty(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        r = uitest::read_record(dir + "/record.txt");
    }
    ASSERT_EQ(events(r, "geometry").size(), 1u);
    int gx = std::stoi(events(r, "geometry")[0][1]);
    int gy = std::stoi(events(r, "geometry")[0][2]);

    /* The ground of the label at 109 starts no higher than the baseline of
     * the label at 100 (its top plus its font's ascent). */
    record labels = events(r, "label");
    record grounds = events(r, "ground");
    ASSERT_EQ(labels.size(), 2u);
    ASSERT_EQ(grounds.size(), 2u);
    double upper_top = 0;
    int upper_ascent = 0;
    for (const auto &l : labels) {
        if (std::stod(l[1]) == 100) {
            upper_top = std::stod(l[2]);
            upper_ascent = std::stoi(l[3]);
        }
    }
    double lower_ground = std::max(std::stod(grounds[0][1]), std::stod(grounds[1][1]));
    EXPECT_GE(lower_ground, upper_top + upper_ascent);

    /* Time stamps: the ink of the two stamps forms two runs of rows with a
     * blank row between them. */
    Display *d = XOpenDisplay(x.name().c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::pair<int, int>> runs;
    for (int i = 0; i < 50 && runs.size() < 2; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XImage *img = XGetImage(d, DefaultRootWindow(d), gx + 400, gy + 80, 100, 50, AllPlanes,
                                ZPixmap);
        ASSERT_NE(img, nullptr);
        runs = row_runs(ink_rows(img, 0, 100));
        XDestroyImage(img);
        if (runs.size() == 1 && runs[0].second - runs[0].first > 12)
            break;      /* drawn, and run together */
    }
    XCloseDisplay(d);
    kill(pid, SIGTERM);
    uitest::finish_wirepaint(pid, dir, 10);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(runs.size(), 2u) << "the two time stamps run into each other";
}

TEST(RealScript, PopupIsAReadOnlyMonospaceTextOfTheWholeMessage)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    /* At -g 800x600 the SYN-ACK runs from (80,680) to (560,650): window
     * (320, 365) is on it while the canvas shows its middle. */
    s.run("sub1press_clib 320 365\n"
          "update\n"
          "rec class [winfo class .pi1]\n"
          "rec state [.pi1.text cget -state] [.pi1.text cget -font]\n"
          "rec same [expr {[.pi1.text get 1.0 end-1c] eq $message}]\n"
          "rec first [lindex [split [.pi1.text get 1.0 end-1c] \\n] 0]\n"
          ".pi1.text tag add sel 1.0 1.5\n"
          "rec selected [.pi1.text get sel.first sel.last]\n"
          "wp::copy_popup .pi1\n"
          "rec clip [clipboard get]\n"
          "focus -force .pi1.text\nupdate\n"
          "event generate .pi1.text <Key-Escape>\nupdate\n"
          "rec open [winfo exists .pi1]\n"
          "destroy .\n",
          {"-g", "800x600", connection_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    EXPECT_EQ(events(s.rec, "class").at(0), ev({"class", "Toplevel"}));
    EXPECT_EQ(events(s.rec, "state").at(0), ev({"state", "disabled", "TkFixedFont"}));
    EXPECT_EQ(events(s.rec, "same").at(0), ev({"same", "1"}));
    EXPECT_EQ(events(s.rec, "first").at(0).at(1).rfind("10.0.0.2.80 > 10.0.0.1.40000:", 0), 0u);
    EXPECT_EQ(events(s.rec, "selected").at(0), ev({"selected", "10.0."}));
    EXPECT_EQ(events(s.rec, "clip").at(0), ev({"clip", "10.0."}));
    EXPECT_EQ(events(s.rec, "open").at(0), ev({"open", "0"}));
}

TEST(RealScript, OpenDialogChecksTheFileBeforeLoadingIt)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string text = s.dir + "/notes.txt";
    uitest::write_file(text, "not a capture at all\n");
    std::string cap = connection_capture();
    s.run("rename openfile_clib real_openfile_clib\n"
          "proc openfile_clib {path} { rec openfile $path; real_openfile_clib $path }\n"
          "proc tk_messageBox {args} { rec messagebox [dict get $args -icon] "
          "[dict get $args -message] }\n"
          "proc tk_getOpenFile {args} { return $::answer }\n"
          "set answer {" + text + "}\nwp::open_dialog\n"
          "set answer {" + s.dir + "/missing.pcap}\nwp::open_dialog\n"
          "set answer {}\nwp::open_dialog\n"
          "set answer {" + cap + "}\nwp::open_dialog\n"
          "rec title [wm title .]\n"
          "destroy .\n",
          {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record boxes = events(s.rec, "messagebox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], ev({"messagebox", "error", "\"notes.txt\" is not a pcap or pcapng capture file."}));
    EXPECT_EQ(boxes[1], ev({"messagebox", "error", "Cannot read \"" + s.dir + "/missing.pcap\"."}));
    record opened = events(s.rec, "openfile");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], ev({"openfile", cap}));
    std::string name = cap.substr(cap.rfind('/') + 1);
    EXPECT_EQ(events(s.rec, "title").at(0), ev({"title", "wirepaint \u2014 " + name + " (7 segments)"}));
}

TEST(RealScript, ChecksPcapAndPcapngMagicNumbers)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::vector<std::pair<std::string, std::string>> files = {
        {"le.pcap", std::string("\xd4\xc3\xb2\xa1", 4)},
        {"be.pcap", std::string("\xa1\xb2\xc3\xd4", 4)},
        {"ns.pcap", std::string("\x4d\x3c\xb2\xa1", 4)},
        {"ng.pcapng", std::string("\x0a\x0d\x0d\x0a", 4)},
        {"short.pcap", std::string("\xd4\xc3", 2)},
        {"text.pcap", "GET / HTTP/1.1\r\n"},
    };
    std::string body;
    for (const auto &f : files) {
        uitest::write_file(s.dir + "/" + f.first, f.second);
        body += "rec magic " + f.first + " [wp::is_capture " + f.first + "]\n";
    }
    s.run(body + "destroy .\n", {});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record r = events(s.rec, "magic");
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[0][2], "1");
    EXPECT_EQ(r[1][2], "1");
    EXPECT_EQ(r[2][2], "1");
    EXPECT_EQ(r[3][2], "1");
    EXPECT_EQ(r[4][2], "0");
    EXPECT_EQ(r[5][2], "0");
}

TEST(RealScript, TogglesScrollbarsWheelAndKeysReachTheCommands)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    s.run("set c .subframe1.canvas\n"
          "proc first_line {} { lindex [$::c coords [lindex [$::c find withtag lines] 0]] 1 }\n"
          "rec texts [llength [$c find withtag texts]]\n"
          ".toolbar.view.menu invoke Labels\n"
          "rec texts [llength [$c find withtag texts]] $texton\n"
          ".toolbar.view.menu invoke Labels\n"
          "rec texts [llength [$c find withtag texts]] $texton\n"
          ".toolbar.view.menu invoke Times\n"
          "rec times [llength [$c find withtag times]] $timeon\n"
          "rec y [first_line]\n"
          "event generate $c <Button-5>\nupdate\n"
          "rec y [first_line]\n"
          "event generate $c <Button-4>\nupdate\n"
          "rec y [first_line]\n"
          "focus -force $c\nupdate\n"
          "event generate $c <Key-minus>\nupdate\n"
          "rec y [first_line]\n"
          "event generate $c <Key-plus>\nupdate\n"
          "rec y [first_line]\n"
          "event generate $c <Key-Down>\nupdate\n"
          "rec y [first_line]\n"
          "event generate $c <Key-Up>\nupdate\n"
          "rec y [first_line]\n"
          ".subframe1.scroll set 0 1\n"
          "eval [.subframe1.scroll cget -command] moveto 0.1\nupdate\n"
          "rec view [lindex [$c yview] 0]\n"
          "eval [.subframe1.scroll cget -command] scroll 1 units\nupdate\n"
          "rec y [first_line]\n"
          "eval [.subframe2.scroll cget -command] moveto 0.5\nupdate\n"
          "rec overview [lindex [.subframe2.canvas yview] 0]\n"
          "destroy .\n",
          {"-g", "800x600", connection_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    record texts = events(s.rec, "texts");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0][1], "0");
    EXPECT_EQ(texts[1], ev({"texts", "0", "0"}));
    EXPECT_EQ(texts[2][2], "1");
    EXPECT_EQ(texts[2][1], texts[0][1]);
    EXPECT_EQ(events(s.rec, "times").at(0), ev({"times", "0", "0"}));
    /* One step is 1/32 of the 0.4 s window at 3000 px/s: 37.5 px. A zoom
     * out keeps the centre, t 0, where the first line (the SYN) leaves. */
    record y = events(s.rec, "y");
    ASSERT_EQ(y.size(), 8u);
    EXPECT_EQ(y[0][1], "620.0");
    EXPECT_EQ(y[1][1], "582.0");
    EXPECT_EQ(y[2][1], "620.0");
    EXPECT_EQ(y[3][1], "620.0");
    EXPECT_EQ(y[4][1], "620.0");
    EXPECT_EQ(y[5][1], "582.0");
    EXPECT_EQ(y[6][1], "620.0");
    EXPECT_EQ(events(s.rec, "view").at(0), ev({"view", "0.1"}));
    EXPECT_EQ(y[7][1], "582.0");
    EXPECT_EQ(events(s.rec, "overview").at(0), ev({"overview", "0.5"}));
}

TEST(RealScript, SavesTheDiagramAsPostScript)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string out = s.dir + "/diagram.ps";
    s.run("proc tk_getSaveFile {args} { return {" + out + "} }\n"
          "wp::save_postscript\n"
          "rec status [.status cget -text]\n"
          "destroy .\n",
          {"-g", "800x600", connection_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    std::string ps = uitest::read_file(out);
    EXPECT_EQ(ps.rfind("%!PS-Adobe-3.0 EPSF-3.0", 0), 0u);
    EXPECT_EQ(events(s.rec, "status").at(0), ev({"status", "Saved the visible diagram to " + out + "."}));
}

TEST(RealScript, ViewKeysPointerAndHelpWindowsWork)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    std::string png = s.dir + "/view.png";
    /* The pointer and the popup first, while the first view shows the
     * SYN-ACK at (320, 365); then the keys that move the view. */
    s.run("set c .subframe1.canvas\n"
          "foreach cmd {view_clib zoomin_clib zoomout_clib scrlbar1_clib} {\n"
          "    rename $cmd real_$cmd\n"
          "    proc $cmd {args} \"rec cmd $cmd {*}\\$args; real_$cmd {*}\\$args\"\n"
          "}\n"
          /* Hover over the SYN-ACK, then away from every arrow. */
          "event generate $c <Motion> -x 320 -y 365\nupdate\n"
          "rec hover [.status cget -text]\n"
          "event generate $c <Motion> -x 5 -y 5\nupdate\n"
          "rec hover [.status cget -text]\n"
          /* Ctrl-C in a popup copies its selection. */
          "sub1press_clib 320 365\nupdate\n"
          ".pi1.text tag add sel 1.0 1.4\n"
          "focus -force .pi1.text\nupdate\n"
          "clipboard clear\n"
          "event generate .pi1.text <Control-Key-c>\nupdate\n"
          "rec clip [clipboard get]\n"
          "focus -force $c\nupdate\n"
          "foreach key {Home End f 0} { event generate $c <Key-$key>; update }\n"
          "event generate $c <MouseWheel> -delta 120\nupdate\n"
          "event generate $c <Control-MouseWheel> -delta 120\nupdate\n"
          "event generate $c <Control-MouseWheel> -delta -120\nupdate\n"
          "event generate $c <ButtonPress-2> -x 300 -y 300\n"
          "event generate $c <B2-Motion> -x 300 -y 340\n"
          "event generate $c <ButtonRelease-2> -x 300 -y 340\nupdate\n"
          /* Go to segment 2 through the dialog: centred and flashed. */
          "event generate $c <Key-g>\nupdate\n"
          "rec goto [winfo exists .goto]\n"
          "set wp::goto_number 2\n"
          "event generate .goto.entry <Key-Return>\nupdate\n"
          "rec flash [llength [$c find withtag flash]] [winfo exists .goto]\n"
          "set i [real_view_clib segment 2]\n"
          "rec flashed [expr {[$c coords flash] eq [list $x1($i).0 $y1($i).0 $x2($i).0 $y2($i).0]}]\n"
          "rec status [.status cget -text]\n"
          /* Help > Keys, Statistics, Save as. */
          ".toolbar.help.menu invoke 0\nupdate\n"
          "rec keys [string match {*Home*start of the connection*} [.keys.text get 1.0 end]]\n"
          ".toolbar.file.menu invoke [.toolbar.file.menu index Statistics*]\nupdate\n"
          "rec stats [string match {*Left host (L):*10.0.0.1.40000*} [.stats.text get 1.0 end]]\n"
          "destroy .stats\nfocus -force $c\nupdate\n"
          "event generate $c <Key-i>\nupdate\n"
          "rec stats [string match {*Left host (L):*10.0.0.1.40000*} [.stats.text get 1.0 end]]\n"
          "proc tk_getSaveFile {args} { return {" + png + "} }\n"
          "focus -force $c\nupdate\n"
          "event generate $c <Control-Key-s>\nupdate\n"
          "rec saved [file exists {" + png + "}] [.status cget -text]\n"
          "destroy .\n",
          {"-g", "800x600", connection_capture()});
    ASSERT_EQ(s.result.status, 0) << s.result.err << uitest::read_file(s.dir + "/record.txt");
    record cmds = events(s.rec, "cmd");
    std::vector<std::string> seen;
    for (const auto &c : cmds) {
        std::string line;
        for (size_t i = 1; i < c.size(); i++)
            line += (i > 1 ? " " : "") + c[i];
        seen.push_back(line);
    }
    std::vector<std::string> want = {"view_clib home", "view_clib end", "view_clib fit",
                                     "view_clib fit", "scrlbar1_clib -1", "zoomin_clib",
                                     "zoomout_clib", "view_clib pan 40", "view_clib segment 2"};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(events(s.rec, "goto").at(0), ev({"goto", "1"}));
    EXPECT_EQ(events(s.rec, "flash").at(0), ev({"flash", "1", "0"}));
    EXPECT_EQ(events(s.rec, "flashed").at(0), ev({"flashed", "1"}));
    EXPECT_EQ(events(s.rec, "status").at(0), ev({"status", "Segment 2"}));
    record hover = events(s.rec, "hover");
    ASSERT_EQ(hover.size(), 2u);
    EXPECT_EQ(hover[0][1].rfind("Segment 2: 10.0.0.2.80 > 10.0.0.1.40000: ", 0), 0u) << hover[0][1];
    EXPECT_NE(hover[1][1].find("Click an arrow for its details."), std::string::npos) << hover[1][1];
    EXPECT_EQ(events(s.rec, "clip").at(0), ev({"clip", "10.0"}));
    EXPECT_EQ(events(s.rec, "keys").at(0), ev({"keys", "1"}));
    EXPECT_EQ(events(s.rec, "stats").at(0), ev({"stats", "1"}));
    EXPECT_EQ(events(s.rec, "stats").at(1), ev({"stats", "1"}));
    EXPECT_EQ(events(s.rec, "saved").at(0), ev({"saved", "1", "Saved the diagram to " + png + "."}));
}

}  // namespace

namespace {

TEST(RealScript, ViewMenuCorrectsClockDriftAndRedraws)
{
    real_session s;
    ASSERT_TRUE(s.x.ok());
    /* At the end of the connection, whose first label the redraw keeps. */
    s.run("set m .toolbar.view.menu\n"
          "rec wish $driftcorrect\n"
          "view_clib end\nupdate\n"
          "rec label $text(0)\n"
          "foreach pass {1 2} {\n"
          "    $m invoke [$m index {Correct clock drift}]\nupdate\n"
          "    wp::statistics_dialog\nupdate\n"
          "    rec pass $driftcorrect $linecnt [string match {*Clock drift:     corrected (-k)*} "
          "[.stats.text get 1.0 end]]\n"
          "    rec label $text(0)\n"
          "}\n"
          "destroy .\n",
          {"-g", "800x600", WIREPAINT_SOURCE_DIR "/examples/drift-sender.pcap",
           WIREPAINT_SOURCE_DIR "/examples/drift-receiver.pcap"});
    ASSERT_EQ(s.result.status, 0) << s.result.err << uitest::read_file(s.dir + "/record.txt");
    EXPECT_EQ(events(s.rec, "wish").at(0), ev({"wish", "0"}));
    record pass = events(s.rec, "pass");
    ASSERT_EQ(pass.size(), 2u);
    EXPECT_EQ(pass[0][1], "1");
    EXPECT_EQ(pass[0][3], "1");
    EXPECT_GT(std::stoi(pass[0][2]), 0);
    EXPECT_EQ(pass[1], ev({"pass", "0", pass[1][2], "0"}));
    record label = events(s.rec, "label");
    ASSERT_EQ(label.size(), 3u);
    EXPECT_EQ(label[1], label[0]);
    EXPECT_EQ(label[2], label[0]);
}

}  // namespace
