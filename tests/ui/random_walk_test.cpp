/*
 * random_walk_test.cpp --
 *
 *	A seeded random walk of keys, clicks, buttons and menu entries over
 *	every window of the real script on each bundled capture and the
 *	two-file pair. It fails on a background error (the test's copy of the
 *	script hooks bgerror), an error of a command it invoked, a sanitizer
 *	report, a death or a hang. WIREPAINT_WALK_SEED and WIREPAINT_WALK_STEPS
 *	replace the first seed (2026, one more per load) and the steps (90).
 */

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "ui/ui_harness.h"

/* Dialogs that would wait for an answer return at once. Per window: the
 * widgets that take keys, each with its keys. */
const char walk[] = R"TCL(
interp bgerror {} {apply {{m o} {rec bgerror $m [dict get $o -errorinfo]}}}
foreach p {tk_messageBox tk_getOpenFile tk_getSaveFile} { proc $p args {} }
proc pick {l} { lindex $l [expr {int(rand() * [llength $l])}] }
proc rnd {n} { expr {int(rand() * max(1, $n))} }
proc clickables {w} {
    set out {}
    foreach c [winfo children $w] {
        if {[winfo class $c] in {TButton Button}} { lappend out [list $c invoke] }
        if {[winfo class $c] eq "Menu" && ![catch {uplevel #0 [$c cget -postcommand]}]} {
            for {set i 0} {$i <= [$c index end]} {incr i} {
                if {[$c type $i] in {command checkbutton radiobutton} &&
                    [$c entrycget $i -label] ne "Quit"} { lappend out [list $c invoke $i] }
            }
        }
        lappend out {*}[clickables $c]
    }
    return $out
}
set keys {
    . {.subframe1.canvas {Up Down Prior Next plus minus Home End f 0 g i e n p bracketright
        bracketleft t Escape Control-Key-l}}
    .graph {.graph.c {1 2 3 4 5 d w Home 0 BackSpace Left Right Up Down Escape}}
    .problems {.problems.tree {Up Down Return Right Left Escape} .problems.top.e {a r 1 BackSpace}}
    .goto {.goto.entry {1 0 9 a minus BackSpace Return KP_Enter Escape}}
    .conns {.conns.list {Up Down Return Escape}}
}
expr {srand(SEED)}
for {set step 0} {$step < STEPS} {incr step} {
    set w [pick [lmap c [winfo children .] {expr {[winfo toplevel $c] eq $c ? $c : "."}}]]
    lassign [pick [lmap {t k} [expr {[dict exists $keys $w] ? [dict get $keys $w] :
        [list $w.text {Escape Next Control-Key-c}]}] {list $t $k}]] target keylist
    if {![winfo exists $target]} { set target $w }
    set what [pick {key key key click click button}]
    rec step $step $w $what
    if {[catch {
        if {$what eq "key"} {
            focus -force $target
            event generate $target <[pick $keylist]>
        } elseif {$what eq "click"} {
            lassign [list [rnd [winfo width $target]] [rnd [winfo height $target]] [pick {1 1 2 3 4 5}]] x y b
            # A click may close the window (a double-click that opens).
            foreach {e ex ey} [list Motion $x $y ButtonPress-$b $x $y B$b-Motion [rnd 800] [rnd 600] \
                    ButtonRelease-$b [rnd 800] [rnd 600] {*}[lrepeat [expr {2 * [rnd 2]}] \
                    ButtonPress-1 $x $y ButtonRelease-1 $x $y]] {
                if {[winfo exists $target]} { event generate $target <$e> -x $ex -y $ey }
            }
        } else {
            {*}[pick [clickables $w]]
        }
        update
    } msg]} { rec error $step $w $what $msg $::errorInfo }
}
rec @done
destroy .
)TCL";

TEST(RandomWalk, NoScriptErrorSanitizerReportOrDeathOnAnyCaptureOrWindow)
{
    std::vector<std::vector<std::string>> loads;
    for (const auto &e : std::filesystem::directory_iterator(WIREPAINT_SOURCE_DIR "/examples")) {
        if (e.path().extension() == ".pcap" || e.path().extension() == ".pcapng")
            loads.push_back({e.path().string()});
    }
    std::sort(loads.begin(), loads.end());
    loads.push_back({WIREPAINT_SOURCE_DIR "/examples/sender.pcap",
                     WIREPAINT_SOURCE_DIR "/examples/receiver.pcap"});
    const char *seed_env = std::getenv("WIREPAINT_WALK_SEED"), *steps = std::getenv("WIREPAINT_WALK_STEPS");
    unsigned long seed = seed_env != nullptr ? std::strtoul(seed_env, nullptr, 10) : 2026;
    std::set<std::string> visited;
    for (const std::vector<std::string> &files : loads) {
        std::string body = walk;
        body.replace(body.find("SEED"), 4, std::to_string(seed));
        body.replace(body.find("STEPS"), 5, steps != nullptr ? steps : "90");
        uitest::real_session s;
        ASSERT_TRUE(s.x.ok());
        s.run(body, files, 90);
        std::string what = files.back() + " seed " + std::to_string(seed++) + "\n" + s.result.err +
                           uitest::read_file(s.dir + "/record.txt");
        EXPECT_TRUE(s.result.status == 0 && uitest::events(s.rec, "@done").size() == 1 &&
                    uitest::events(s.rec, "bgerror").empty() && uitest::events(s.rec, "error").empty() &&
                    s.result.err.find("Sanitizer") == std::string::npos &&
                    s.result.err.find("runtime error") == std::string::npos) << what;
        for (const std::vector<std::string> &step : uitest::events(s.rec, "step"))
            visited.insert(step[2].substr(0, 3) == ".pi" ? ".pi" : step[2]);
    }
    EXPECT_EQ(visited, (std::set<std::string>{".", ".conns", ".goto", ".graph", ".keys", ".pi",
                                              ".problems", ".stats"}));
}
