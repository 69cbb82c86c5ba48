# bench-nav.tcl --
#
#	Benchmark of wirepaint's navigation commands. Used as ./wirepaint.tcl
#	in a scratch folder (tools/bench-nav.sh sets that up): it sources the
#	real UI script named by the environment variable WIREPAINT_SCRIPT, so
#	the window, the published values and the drawing are the real ones,
#	then times every navigation command with Tcl's `time`, the redraw and
#	the X server's drawing included (`update` waits for the server), in
#	two views: the view right after the load, and a view zoomed out until
#	the main canvas holds its full 256 arrows and the overview the whole
#	trace, and then the redraw of each graph in the Graph window. Prints
#	one line per command and view on standard output and closes the
#	window.
#
#	First it prints how long the first drawing took: from the start of
#	this script to the window drawn (the script's window built, init_clib
#	and the X server's drawing), the part of it in init_clib, and, when
#	tools/bench-nav.sh passes the process start time in
#	WIREPAINT_BENCH_START_NS, the time from the process start. With
#	WIREPAINT_BENCH_DRAW_ONLY set it closes the window right then.
#
#	Each command runs RUNS times (environment WIREPAINT_BENCH_RUNS, 30 by
#	default); commands that move the view are paired with their inverse so
#	every run starts from the same view.

set script_start [clock microseconds]
# init_clib draws the loaded trace; the UI script calls it once.
rename init_clib bench_init_clib
proc init_clib {args} {
    set t0 [clock microseconds]
    bench_init_clib {*}$args
    update
    set ::init_us [expr {[clock microseconds] - $t0}]
}
source $env(WIREPAINT_SCRIPT)
update
set drawn [clock microseconds]
puts [format "# window drawn %.1f ms after the UI script started (init_clib and its drawing %.1f ms)" \
    [expr {($drawn - $script_start) / 1000.0}] [expr {$init_us / 1000.0}]]
if {[info exists env(WIREPAINT_BENCH_START_NS)]} {
    puts [format "# window drawn %.1f ms after the process started" \
        [expr {($drawn - $env(WIREPAINT_BENCH_START_NS) / 1000) / 1000.0}]]
}
# Only the first drawing is wanted.
if {[info exists env(WIREPAINT_BENCH_DRAW_ONLY)]} {
    destroy .
    return
}

set runs 30
if {[info exists env(WIREPAINT_BENCH_RUNS)]} { set runs $env(WIREPAINT_BENCH_RUNS) }

# Microseconds of one run of `script`, the window's redraw included.
proc one_run {script} {
    lindex [time [list uplevel #0 "$script; update"] 1] 0
}

# Times `cmd` `runs` times, running `undo` (untimed) after each one.
proc measure {view cmd undo} {
    global runs
    set all {}
    for {set i 0} {$i < $runs} {incr i} {
        lappend all [one_run $cmd]
        if {$undo ne ""} { uplevel #0 "$undo; update" }
    }
    set all [lsort -integer $all]
    set sum 0
    foreach t $all { incr sum $t }
    set mean [expr {$sum / double([llength $all])}]
    set median [lindex $all [expr {[llength $all] / 2}]]
    set max [lindex $all end]
    puts [format "%-8s %-28s %8.2f %8.2f %8.2f" $view $cmd \
        [expr {$mean / 1000.0}] [expr {$median / 1000.0}] [expr {$max / 1000.0}]]
    flush stdout
}

proc bench_view {view} {
    measure $view zoomout_clib zoomin_clib
    measure $view zoomin_clib zoomout_clib
    measure $view subzoomout_clib subzoomin_clib
    measure $view subzoomin_clib subzoomout_clib
    measure $view forward_clib back_clib
    measure $view back_clib forward_clib
    measure $view "scrlbar1_clib 1" "scrlbar1_clib -1"
    measure $view "scrlbar1_clib -1" "scrlbar1_clib 1"
    measure $view "scrlbar2_clib 1" "scrlbar2_clib -1"
    measure $view "scrlbar2_clib -1" "scrlbar2_clib 1"
    measure $view "movebar_clib moveto 0.3" "movebar_clib moveto 0"
    measure $view "scrlbar_move_clib moveto 0.3" "scrlbar_move_clib moveto 0.25"
    measure $view "sub2press_clib 0 300" ""
    measure $view "set texton 0; text_clib" "set texton 1; text_clib"
    measure $view "set texton 1; text_clib" "set texton 0; text_clib"
    measure $view "set timeon 0; time_clib" "set timeon 1; time_clib"
    measure $view "set timeon 1; time_clib" "set timeon 0; time_clib"
}

puts [format "%-8s %-28s %8s %8s %8s" view command "mean ms" "median" "max ms"]
bench_view start

# The largest y of a send end among the published overview lines, read
# from the overview image when the lines went there.
proc latest_send_y {} {
    global sublinecnt suby1 suby2 subimage
    set top -1
    if {[info exists subimage] && $subimage ne ""} {
        foreach {x1 y1 x2 y2 color} [$subimage lines] {
            set top [expr {max($top, min($y1, $y2))}]
        }
        return $top
    }
    for {set i 0} {$i < $sublinecnt} {incr i} {
        set y [expr {min($suby1($i), $suby2($i))}]
        if {$y > $top} { set top $y }
    }
    return $top
}

# Zoom out until the main window is full (256 arrows) and the overview
# holds the whole trace: its latest line lies above the last eighth of
# the overview's region (one zoom step shrinks the picture by 0.875).
# Identical lines are published once, so the count of overview lines
# cannot tell. Then move to where the arrows are.
for {set i 0} {$i < 200 && $linecnt < 256} {incr i} { zoomout_clib }
set subzooms 0
while {$subzooms < 200 && [latest_send_y] > 3.5 * $subcanvas_height} {
    subzoomout_clib
    incr subzooms
}
for {set i 0} {$i < 100 && $linecnt < 256} {incr i} { forward_clib }
update
puts "# zoomed view: $linecnt arrows on the main canvas; the overview zoomed out\
    $subzooms times shows $segcount segments as $sublinecnt lines"
bench_view zoomed

# The Graph window at 1000x600: each graph built once, then redrawn into
# its photo image (column reduction, cairo, the photo's copy, the X
# server's drawing) by a pan of a tenth of the time axis.
wp::graph_window
graph_clib size 1000 600
foreach n {1 2 3 4 5} {
    graph_clib type $n
    update
    measure graph$n "graph_clib pan 1 0" "graph_clib pan -1 0"
}

destroy .
