# bench-conns.tcl --
#
#	Benchmark of the Connections dialog. Used as ./wirepaint.tcl in a
#	scratch folder (tools/bench-health.sh sets that up): it sources the
#	real UI script named by WIREPAINT_SCRIPT, opens the dialog on the
#	file given on the command line, then times with Tcl's `time`, the
#	tree's refill and the X server's drawing included (`update`), a sort
#	by every column both ways and a filter by several texts, and writes
#	one line each and the slowest, in milliseconds, to ./bench.txt.
#	Closes the window.

set out [open bench.txt w]
proc say {text} { puts $::out $text; flush $::out }
source $env(WIREPAINT_SCRIPT)
update
set t0 [clock microseconds]
wp::connections_dialog
update
say [format "open the dialog: %.1f ms (%d rows)" \
          [expr {([clock microseconds] - $t0) / 1000.0}] $conncount]

proc ms {script} {
    set us [lindex [time {uplevel #0 $script; update} 3] 0]
    return [expr {$us / 1000.0}]
}

set worst 0
set columns [connview_clib columns]
for {set c 0} {$c < [llength $columns]} {incr c} {
    foreach way {first second} {
        set t [ms [list wp::conn_sort .conns $c]]
        set worst [expr {max($worst, $t)}]
        say [format "sort by %-9s (%s click): %6.1f ms" [lindex $columns $c] $way $t]
    }
}
# (Not "text": the UI script keeps an array of that name.)
foreach typed {stalled 10.1.1 :80 20001 loss zzz {}} {
    set t [ms "set wp::conn_filter [list $typed]; wp::conn_filter_now .conns"]
    set worst [expr {max($worst, $t)}]
    say [format "filter %-10s %6.1f ms (%d shown)" \"$typed\" $t [connview_clib count]]
}
say [format "slowest sort or filter: %.1f ms (the aim: at most 100 ms)" $worst]
destroy .
