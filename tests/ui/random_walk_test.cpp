/*
 * random_walk_test.cpp --
 *
 *	A seeded random walk of keys, clicks, menu entries and buttons over
 *	every window of the real script (main, Graph, Problems, Go to,
 *	Connections, Statistics, Keys, detail popups) on each bundled capture
 *	and on the two-file pair. A walk fails on any background error (the
 *	test's copy of the script installs a bgerror hook that records it), on
 *	an error of a command it invoked, on a sanitizer report, and when the
 *	program dies or hangs. WIREPAINT_WALK_SEED replaces the seed.
 */

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ui/ui_harness.h"

namespace {

/* The walk: the dialogs that would wait for a user answer at once; each
 * step picks a window and one of its actions. Failures are recorded as
 * "bgerror" and "error" lines. */
const char walk[] = R"TCL(
interp bgerror {} {apply {{msg opts} {rec bgerror $msg [dict get $opts -errorinfo]}}}
foreach p {tk_messageBox tk_getOpenFile tk_getSaveFile} { proc $p args { return "" } }
proc pick {l} { lindex $l [expr {int(rand() * [llength $l])}] }
proc rnd {n} { expr {int(rand() * max(1, $n))} }
proc buttons {w} {
    set out {}
    foreach c [winfo children $w] {
        if {[winfo class $c] in {TButton Button}} { lappend out $c }
        lappend out {*}[buttons $c]
    }
    return $out
}
set keys {
    . {.subframe1.canvas {Up Down Prior Next plus minus Home End f 0 g i e n p bracketright
        bracketleft t Escape Control-Key-l}}
    .graph {.graph.c {1 2 3 4 5 d w Home 0 BackSpace Left Right Up Down Escape}}
    .problems {.problems.tree {Up Down Return Right Left Escape}}
    .goto {.goto.entry {1 2 0 9 a minus space BackSpace Return KP_Enter Escape}}
    .conns {.conns.list {Up Down Return Escape}}
    .stats {.stats.text {Next Prior Escape Control-Key-c}}
    .keys {.keys.text {Next Prior Escape Control-Key-c}}
}
proc special {w} {
    switch -- $w {
        . {
            set m [pick {.toolbar.file.menu .toolbar.view.menu .toolbar.analysis.menu
                .toolbar.help.menu .toolbar.view.menu.host}]
            catch {uplevel #0 [$m cget -postcommand]}
            set i [rnd [expr {[$m index end] + 1}]]
            if {[$m type $i] ni {separator cascade} && [$m entrycget $i -label] ne "Quit"} {
                $m invoke $i
            }
            {*}[pick {wp::main_scrollbar wp::overview_scrollbar}] {*}[pick [list \
                [list moveto [expr {rand()}]] {scroll 1 units} {scroll -1 pages}]]
        }
        .graph {
            .graph.bar.type current [rnd 5]
            event generate .graph.bar.type <<ComboboxSelected>>
        }
        .problems {
            set t .problems.tree
            set items [$t children {}]
            foreach k $items { lappend items {*}[$t children $k] }
            if {[llength $items]} {
                set i [pick $items]
                $t focus $i
                $t selection set $i
                event generate $t <<TreeviewOpen>>
            }
            .problems.top.e insert end [pick {a r 1 . x {}}]
            if {rand() < 0.3} { .problems.top.e delete 0 end }
        }
    }
}
expr {srand(SEED)}
for {set step 0} {$step < STEPS} {incr step} {
    set wins [lmap w [winfo children .] {
        expr {[winfo toplevel $w] eq $w && [winfo ismapped $w] ? $w : [continue]}}]
    set w [pick [linsert $wins 0 .]]
    set pi [string match .pi* $w]
    lassign [expr {$pi ? [list $w.text {Escape Control-Key-c}] : [dict exists $keys $w] ?
        [dict get $keys $w] : [list $w Escape]}] target keylist
    if {![winfo exists $target]} { set target $w }
    set what [pick {key key key click click button special}]
    rec step $step $w $what
    if {[catch {
        switch $what {
            key { focus -force $target; event generate $target <[pick $keylist]> }
            click {
                set x [rnd [winfo width $target]]
                set y [rnd [winfo height $target]]
                set b [pick {1 1 1 2 3 4 5}]
                set evs [list Motion $x $y ButtonPress-$b $x $y B$b-Motion [rnd 800] [rnd 600] \
                    ButtonRelease-$b [rnd 800] [rnd 600]]
                if {rand() < 0.2} {
                    lappend evs {*}[lrepeat 2 ButtonPress-1 $x $y ButtonRelease-1 $x $y]
                }
                # A click may close the window (a double-click that opens).
                foreach {e ex ey} $evs {
                    if {[winfo exists $target]} { event generate $target <$e> -x $ex -y $ey }
                }
            }
            button {
                set bs [buttons $w]
                if {[llength $bs]} {
                    set b [pick $bs]
                    event generate $b <ButtonPress-1>
                    event generate $b <ButtonRelease-1>
                    if {[winfo exists $b]} { $b invoke }
                }
            }
            special { if {!$pi} { special $w } }
        }
        update
    } msg]} { rec error $step $w $what $msg $::errorInfo }
}
update
rec @done
destroy .
)TCL";

std::string replace(std::string s, const std::string &from, const std::string &to)
{
    return s.replace(s.find(from), from.size(), to);
}

}  // namespace

TEST(RandomWalk, NoScriptErrorSanitizerReportOrDeathOnAnyCaptureOrWindow)
{
    namespace fs = std::filesystem;
    std::vector<std::vector<std::string>> loads;
    for (const fs::directory_entry &e : fs::directory_iterator(WIREPAINT_SOURCE_DIR "/examples")) {
        if (e.path().extension() == ".pcap" || e.path().extension() == ".pcapng")
            loads.push_back({e.path().string()});
    }
    std::sort(loads.begin(), loads.end());
    loads.push_back({WIREPAINT_SOURCE_DIR "/examples/sender.pcap",
                     WIREPAINT_SOURCE_DIR "/examples/receiver.pcap"});
    const char *env = std::getenv("WIREPAINT_WALK_SEED");
    unsigned long seed = env != nullptr ? std::strtoul(env, nullptr, 10) : 2026;
    env = std::getenv("WIREPAINT_WALK_STEPS");
    std::string steps = env != nullptr ? env : "90";
    std::set<std::string> visited;
    for (const std::vector<std::string> &files : loads) {
        std::string body = replace(replace(walk, "SEED", std::to_string(seed)), "STEPS", steps);
        uitest::real_session s;
        ASSERT_TRUE(s.x.ok());
        s.run(body, files, 90);
        std::string what = files.back() + " seed " + std::to_string(seed++);
        std::string rec = uitest::read_file(s.dir + "/record.txt");
        EXPECT_EQ(s.result.status, 0) << what << " " << s.result.err
                                      << rec.substr(rec.size() > 600 ? rec.size() - 600 : 0);
        EXPECT_EQ(uitest::events(s.rec, "@done").size(), 1u) << what;
        EXPECT_EQ(uitest::events(s.rec, "bgerror").size() + uitest::events(s.rec, "error").size(), 0u)
            << what << "\n" << rec;
        EXPECT_EQ(s.result.err.find("Sanitizer"), std::string::npos) << what << s.result.err;
        EXPECT_EQ(s.result.err.find("runtime error"), std::string::npos) << what << s.result.err;
        for (const std::vector<std::string> &step : uitest::events(s.rec, "step"))
            visited.insert(step[2].substr(0, 3) == ".pi" ? ".pi" : step[2]);
    }
    /* The walks went into every window. */
    EXPECT_EQ(visited, (std::set<std::string>{".", ".conns", ".goto", ".graph", ".keys", ".pi",
                                              ".problems", ".stats"}));
}
