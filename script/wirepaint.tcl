# wirepaint.tcl --
#
#	The window of wirepaint: a ladder diagram of one TCP connection.
#
#	The program sources this script once it has set canvas_width,
#	canvas_height, subcanvas_width, subcanvas_height, appl_x, appl_y,
#	tcldir and tracefiles. The script builds the window, then calls
#	init_clib; from then on the program publishes coordinates, colours and
#	texts as global variables and calls the draw and erase procedures
#	below by name. Every number is the program's; this script only turns
#	the published values into canvas items and the user's actions into the
#	program's "_clib" commands. Besides the drawing values the program
#	publishes segcount, lefthost and righthost with each full drawing, for
#	the title, the status line and the host names above the axes. A dense
#	overview comes as one image of the program's type "wpoverview", which
#	draws its lines itself: subimage names it ("" when the lines come one
#	by one).
#
#	Main canvas   .subframe1.canvas  scroll region 2 x canvas_height high,
#	                                 half of it visible
#	Overview      .subframe2.canvas  scroll region 4 x subcanvas_height
#	                                 high, a quarter of it visible

package require Tk

namespace eval wp {
    # Colour classes as the program publishes them, with their meaning.
    variable legend {
        blue   "data"
        red    "no payload"
        green  "duplicate ACK"
        orange "retransmission"
        purple "lost / no copy in peer capture"
        brown  "out of order"
    }
    variable popups 0          ;# popups opened so far, for their names
    variable loaded_name ""    ;# file name shown in title and status line
    variable page_steps 8      ;# steps of one PageUp / PageDown
    variable current_files {}  ;# the files of the connection shown
}

# ---------------------------------------------------------------------
# Window layout

proc wp::build_fonts {} {
    catch {ttk::style theme use clam}
    font create wpSmall -family Helvetica -size 8
    # Crowded labels are placed 9 px apart, and each one's white ground is
    # drawn over the label above it: the label font is sized in pixels (a
    # negative size) so that the ground starts below the glyphs of that
    # label at any screen resolution.
    font create wpLabel -family Helvetica -size -9
    font create wpHost -family Helvetica -size 10 -weight bold
}

proc wp::build_toolbar {} {
    set t [ttk::frame .toolbar -padding {2 2}]
    set b {ttk::button}
    wp::build_file_menu $t.file
    wp::build_view_menu $t.view
    wp::build_help_menu $t.help
    ttk::separator $t.s1 -orient vertical
    # Navigation buttons repeat while held down.
    foreach {name text cmd} [list \
        back "\u25b2 Back" back_clib fwd "\u25bc Forward" forward_clib \
        zin "Zoom in" zoomin_clib zout "Zoom out" zoomout_clib \
        ozin "in" subzoomin_clib ozout "out" subzoomout_clib] {
        $b $t.$name -text $text -style Toolbutton
        repeating $t.$name $cmd
    }
    ttk::separator $t.s2 -orient vertical
    ttk::label $t.ov -text "Overview:"
    pack $t.file $t.view $t.s1 $t.back $t.fwd $t.zin $t.zout $t.s2 \
        $t.ov $t.ozin $t.ozout -side left -padx 1
    foreach s {s1 s2} { pack configure $t.$s -fill y -padx 4 }
    pack configure $t.ov -padx {2 0}
    wp::build_analysis_menu $t.analysis
    pack $t.analysis -side left -padx 1 -after $t.view
    pack $t.help -side right -padx 1
    pack $t -side top -fill x
}

# Makes button `w` run `cmd` when pressed, and again and again while held.
proc wp::repeating {w cmd} {
    bind $w <ButtonPress-1> [list wp::repeat_start $cmd]
    bind $w <ButtonRelease-1> wp::repeat_stop
    bind $w <Leave> wp::repeat_stop
    bind $w <Key-space> $cmd
}

proc wp::repeat_start {cmd} {
    variable repeat
    repeat_stop
    uplevel #0 $cmd
    set repeat [after 400 [list wp::repeat_tick $cmd]]
}

proc wp::repeat_tick {cmd} {
    variable repeat
    uplevel #0 $cmd
    update idletasks
    set repeat [after 40 [list wp::repeat_tick $cmd]]
}

proc wp::repeat_stop {} {
    variable repeat
    if {[info exists repeat]} {
        after cancel $repeat
        unset repeat
    }
}

proc wp::build_main_canvas {} {
    global canvas_width canvas_height
    frame .subframe1 -borderwidth 0
    canvas .subframe1.header -width $canvas_width -height 22 \
        -background "#eef1f5" -highlightthickness 0 -borderwidth 0
    canvas .subframe1.canvas -width $canvas_width -height $canvas_height \
        -background white -highlightthickness 0 -borderwidth 0 \
        -scrollregion [list 0 0 $canvas_width [expr {2 * $canvas_height}]] \
        -yscrollincrement 0 -confine 1 \
        -yscrollcommand {.subframe1.scroll set}
    scrollbar .subframe1.scroll -orient vertical -command wp::main_scrollbar
    grid .subframe1.header -row 0 -column 0 -sticky ew
    grid .subframe1.canvas -row 1 -column 0
    grid .subframe1.scroll -row 1 -column 1 -sticky ns
}

proc wp::build_overview_canvas {} {
    global subcanvas_width subcanvas_height
    frame .subframe2 -borderwidth 0
    label .subframe2.title -text "Overview" -font wpSmall \
        -background "#eef1f5" -height 1
    canvas .subframe2.canvas -width $subcanvas_width -height $subcanvas_height \
        -background "#fbfbfb" -highlightthickness 0 -borderwidth 0 \
        -scrollregion [list 0 0 $subcanvas_width [expr {4 * $subcanvas_height}]] \
        -yscrollincrement 0 -confine 1 \
        -yscrollcommand {.subframe2.scroll set}
    scrollbar .subframe2.scroll -orient vertical -command wp::overview_scrollbar
    grid .subframe2.title -row 0 -column 0 -columnspan 2 -sticky nsew
    grid .subframe2.canvas -row 1 -column 0
    grid .subframe2.scroll -row 1 -column 1 -sticky ns
    grid rowconfigure .subframe2 0 -minsize 22
}

proc wp::build_legend {} {
    variable legend
    set l [ttk::frame .legend -padding {6 2}]
    set i 0
    foreach {colour meaning} $legend {
        canvas $l.c$i -width 26 -height 12 -highlightthickness 0 \
            -background [. cget -background]
        $l.c$i create line 2 6 24 6 -fill $colour -width 2 -arrow last \
            -arrowshape {6 7 3}
        ttk::label $l.t$i -text $meaning -font wpSmall
        pack $l.c$i -side left -padx {6 1}
        pack $l.t$i -side left
        incr i
    }
    pack $l -side bottom -fill x
}

proc wp::build_status {} {
    ttk::label .status -relief sunken -anchor w -padding {6 2} -width 1
    pack .status -side bottom -fill x
}

proc wp::build_window {} {
    global appl_x appl_y
    build_fonts
    build_toolbar
    build_status
    build_legend
    build_main_canvas
    build_overview_canvas
    pack .subframe1 -side left -anchor n
    pack .subframe2 -side left -anchor n
    wm resizable . 0 0
    wm protocol . WM_DELETE_WINDOW {destroy .}
    if {$appl_x != 0 || $appl_y != 0} {
        wm geometry . +$appl_x+$appl_y
    }
    bind_controls
}

# ---------------------------------------------------------------------
# Mouse and keyboard

proc wp::main_scrollbar {args} {
    switch -- [lindex $args 0] {
        moveto { scrlbar_move_clib moveto [lindex $args 1] }
        scroll {
            set n [lindex $args 1]
            set times [expr {[lindex $args 2] eq "pages" ? $wp::page_steps : 1}]
            for {set i 0} {$i < $times} {incr i} { scrlbar1_clib $n }
        }
    }
}

proc wp::overview_scrollbar {args} {
    switch -- [lindex $args 0] {
        moveto { movebar_clib moveto [lindex $args 1] }
        scroll { scrlbar2_clib [lindex $args 1] }
    }
}

proc wp::steps {cmd n} {
    for {set i 0} {$i < $n} {incr i} { $cmd }
}

proc wp::bind_controls {} {
    set c .subframe1.canvas
    set o .subframe2.canvas
    bind $c <ButtonPress-1> {sub1press_clib %x %y}
    bind $o <ButtonPress-1> {sub2press_clib %x %y}
    bind $c <Button-4> {scrlbar1_clib -1}
    bind $c <Button-5> {scrlbar1_clib 1}
    bind $c <Control-Button-4> {zoomin_clib}
    bind $c <Control-Button-5> {zoomout_clib}
    bind $o <Button-4> {scrlbar2_clib -1}
    bind $o <Button-5> {scrlbar2_clib 1}
    bind $o <Control-Button-4> {subzoomin_clib}
    bind $o <Control-Button-5> {subzoomout_clib}
    bind $c <MouseWheel> {if {%D > 0} {scrlbar1_clib -1} else {scrlbar1_clib 1}}
    bind $o <MouseWheel> {if {%D > 0} {scrlbar2_clib -1} else {scrlbar2_clib 1}}
    $c configure -cursor crosshair
    $o configure -cursor hand2

    foreach key {plus KP_Add equal} { bind . <Key-$key> zoomin_clib }
    foreach key {minus KP_Subtract} { bind . <Key-$key> zoomout_clib }
    bind . <Key-Up> back_clib
    bind . <Key-Down> forward_clib
    bind . <Key-Prior> {wp::steps back_clib $wp::page_steps}
    bind . <Key-Next> {wp::steps forward_clib $wp::page_steps}
    bind . <Control-Key-o> wp::open_dialog
    bind . <Control-Key-s> wp::save_as
    bind . <Control-Key-l> wp::connections_dialog
    bind . <Key-Escape> wp::close_popup
    bind . <Key-q> {destroy .}
    wp::bind_view_keys $c
}

# The keys and pointer moves of the view (see also wp::keys_text).
proc wp::bind_view_keys {c} {
    bind . <Key-Home> {view_clib home}
    bind . <Key-End> {view_clib end}
    foreach key {f 0 KP_0} { bind . <Key-$key> {view_clib fit} }
    bind . <Key-g> wp::goto_dialog
    bind . <Key-i> wp::statistics_dialog
    bind . <Key-e> wp::problems_window
    bind . <Key-n> {wp::event_step 1}
    bind . <Key-p> {wp::event_step -1}
    bind . <Key-bracketright> {wp::event_step 1 stall}
    bind . <Key-bracketleft> {wp::event_step -1 stall}
    bind . <Key-t> wp::graph_window
    bind $c <Control-MouseWheel> {if {%D > 0} {zoomin_clib} else {zoomout_clib}}
    bind $c <ButtonPress-2> {set wp::pan_y %y}
    bind $c <B2-Motion> {wp::pan %y}
    bind $c <Motion> {wp::hover %x %y}
    bind $c <Leave> {wp::hover_end}
}

# Middle-button drag: the diagram follows the pointer.
proc wp::pan {y} {
    variable pan_y
    if {![info exists pan_y]} { set pan_y $y }
    set dy [expr {$y - $pan_y}]
    set pan_y $y
    if {$dy != 0} { view_clib pan $dy }
}

# The summary line of the arrow under the pointer, in the status line.
proc wp::hover {x y} {
    variable hovering
    set text [hover_clib $x $y]
    if {$text ne ""} {
        .status configure -text $text
        set hovering 1
    } elseif {[info exists hovering]} {
        unset hovering
        describe
    }
}

proc wp::hover_end {} {
    variable hovering
    if {[info exists hovering]} {
        unset hovering
        describe
    }
}

# ---------------------------------------------------------------------
# Go to a segment, statistics, keys

namespace eval wp {
    variable goto_number ""    ;# the Go-to window's entry; empty at first
}

proc wp::goto_dialog {} {
    global segcount
    set w .goto
    if {[winfo exists $w]} { raise $w; focus $w.entry; return }
    toplevel $w
    wm title $w "Go to segment"
    wm transient $w .
    set n [expr {[info exists segcount] ? $segcount : 0}]
    ttk::label $w.l -text "Segment number (1 to $n):"
    ttk::entry $w.entry -width 10 -textvariable wp::goto_number
    ttk::button $w.ok -text "Go" -command wp::goto_entered
    ttk::button $w.cancel -text "Cancel" -command [list destroy $w]
    grid $w.l -row 0 -column 0 -columnspan 2 -sticky w -padx 8 -pady {8 2}
    grid $w.entry -row 1 -column 0 -columnspan 2 -sticky ew -padx 8 -pady 2
    grid $w.ok $w.cancel -row 2 -padx 8 -pady 8
    bind $w <Key-Return> wp::goto_entered
    bind $w <Key-KP_Enter> wp::goto_entered
    bind $w <Key-Escape> "[list destroy $w]; break"
    $w.entry selection range 0 end
    focus $w.entry
}

proc wp::goto_entered {} {
    variable goto_number
    set n [string trim $goto_number]
    if {![string is integer -strict $n]} { bell; return }
    destroy .goto
    goto_segment $n
}

# Centres segment `n` and flashes its arrow; the bell when it is not drawn.
proc wp::goto_segment {n} {
    set i [view_clib segment $n]
    if {$i eq ""} { bell; return }
    global x1 y1 x2 y2
    set c .subframe1.canvas
    $c delete flash
    $c create line $x1($i) $y1($i) $x2($i) $y2($i) -width 5 -fill "#f6e05e" \
        -capstyle round -tags flash
    catch {$c lower flash lines}
    .status configure -text "Segment $n"
    flash_step 0
}

proc wp::flash_step {k} {
    set c .subframe1.canvas
    if {$k >= 6} { $c delete flash; return }
    $c itemconfigure flash -state [expr {$k % 2 ? "normal" : "hidden"}]
    after 180 [list wp::flash_step [incr k]]
}

# A read-only text window with Copy and Close, for statistics and keys.
proc wp::text_window {w title text} {
    destroy $w
    toplevel $w
    wm title $w $title
    set lines [split [string trimright $text "\n"] "\n"]
    set width 30
    foreach l $lines { set width [expr {max($width, [string length $l])}] }
    text $w.text -font TkFixedFont -wrap none -width [expr {min($width + 1, 120)}] \
        -height [expr {min([llength $lines] + 1, 40)}] -background white \
        -relief flat -padx 8 -pady 6
    $w.text insert end $text
    $w.text configure -state disabled
    wp::copy_close_buttons $w
    pack $w.buttons -side bottom -fill x
    # The statistics run longer than the window's 40 lines.
    scrollbar $w.sb -command [list $w.text yview]
    $w.text configure -yscrollcommand [list $w.sb set]
    pack $w.sb -side right -fill y
    pack $w.text -fill both -expand 1
    bind $w <Key-Escape> "[list destroy $w]; break"
    bind $w <Control-Key-c> [list wp::copy_popup $w]
    focus $w
}

proc wp::statistics_dialog {} {
    text_window .stats "Statistics" [statistics_clib]
}

proc wp::keys_text {} {
    return [join {
        "Home            start of the connection"
        "End             end of the connection"
        "f or 0          fit the whole connection in the view"
        "g               go to a segment by its number, and flash it"
        "Up / Down       step back / forward"
        "PageUp/PageDown eight steps back / forward"
        "+ / -           zoom in / out"
        "Wheel           scroll; with Ctrl: zoom"
        "Middle drag     pan the diagram"
        "Hover an arrow  its summary line in the status line"
        "Click an arrow  its details; Ctrl-C in the popup copies them"
        "Escape          close the newest popup"
        "Ctrl-O          open a capture"
        "Ctrl-L          the connections of the current file"
        "Ctrl-S          save the view as SVG, PDF, PNG or PostScript"
        "i               statistics of the connection"
        "e               problems: the analysis events by kind"
        "n / p           next / previous warning (or kind chosen in Problems)"
        "] / \[           next / previous stall"
        "t               the graphs (time-sequence, throughput, RTT, delay, in flight)"
        "q               quit"
    } "\n"]
}

proc wp::keys_window {} {
    text_window .keys "Keys" [keys_text]
}

# ---------------------------------------------------------------------
# Analysis events: the Problems window and the keys that go to events

namespace eval wp {
    variable event_cursor 0    ;# the segment the event keys went to last
    variable event_kind ""     ;# the kind chosen in Problems; "": warnings
    variable problems_search "" ;# the Problems window's search text
    variable problems_most 5000 ;# segment rows shown under one kind
}

proc wp::build_analysis_menu {mb} {
    ttk::menubutton $mb -text "Analysis" -style Toolbutton -menu $mb.menu
    menu $mb.menu -tearoff 0
    $mb.menu add command -label "Problems\u2026" -accelerator E -command wp::problems_window
    $mb.menu add command -label "Graphs\u2026" -accelerator T -command wp::graph_window
}

# One row per event kind found, with its count and severity, opening into
# its segments; the search field keeps the segments whose row holds its
# text. Double-click (or Return) on a segment goes there and flashes it.
proc wp::problems_window {} {
    set w .problems
    if {[winfo exists $w]} { raise $w; return }
    toplevel $w
    wm title $w "Problems"
    ttk::frame $w.top -padding {8 6}
    ttk::label $w.top.l -text "Search:"
    ttk::entry $w.top.e -textvariable wp::problems_search -width 40
    pack $w.top.l -side left -padx {0 4}
    pack $w.top.e -side left -fill x -expand 1
    set t $w.tree
    ttk::treeview $t -columns {count severity time dir detail summary} -height 18 \
        -yscrollcommand [list $w.sb set]
    foreach {col text width anchor} {#0 "Kind / segment" 190 w count "Count" 60 e
            severity "Severity" 80 w time "Time (s)" 90 e dir "Dir" 40 w
            detail "Detail" 190 w summary "Summary" 520 w} {
        $t heading $col -text $text -anchor w
        $t column $col -width $width -anchor $anchor -stretch [expr {$col eq "summary"}]
    }
    $t tag configure warning -foreground "#b00000"
    scrollbar $w.sb -command [list $t yview]
    ttk::frame $w.buttons -padding 4
    ttk::button $w.buttons.close -text "Close" -command [list destroy $w]
    pack $w.buttons.close -side right -padx 2
    pack $w.top -side top -fill x
    pack $w.buttons -side bottom -fill x
    pack $w.sb -side right -fill y
    pack $t -fill both -expand 1
    foreach row [problems_clib kinds] {
        lassign $row kind count severity
        $t insert {} end -id $kind -text $kind -values [list $count $severity] -tags $severity
        $t insert $kind end -text "\u2026"
    }
    bind $t <<TreeviewOpen>> {wp::problems_fill [%W focus]}
    bind $t <<TreeviewSelect>> wp::problems_selected
    bind $t <Double-1> {wp::problems_activate [%W identify item %x %y]}
    bind $t <Key-Return> {wp::problems_activate [%W focus]}
    bind $w <Key-Escape> "[list destroy $w]; break"
    trace remove variable wp::problems_search write wp::problems_refilter
    trace add variable wp::problems_search write wp::problems_refilter
}

# The segment rows of `kind` that match the search, at most problems_most;
# the number of rows shown.
proc wp::problems_fill {kind} {
    variable problems_search
    variable problems_most
    set t .problems.tree
    if {![$t exists $kind] || [$t parent $kind] ne ""} return
    $t delete [$t children $kind]
    set pattern ""
    if {$problems_search ne ""} {
        set pattern *[string map {* \\* ? \\? [ \\[ ] \\] \\ \\\\} $problems_search]*
    }
    set rows [problems_clib segments $kind $pattern $problems_most]
    foreach row [lrange $rows 0 end-1] {
        lassign $row n time dir detail summary
        if {$detail eq "-"} { set detail "" }
        $t insert $kind end -id $kind/$n -text $n -values [list "" "" $time $dir $detail $summary]
    }
    if {[lindex $rows end] == 1} {
        $t insert $kind end -text "\u2026" -values [list "" "" "" "" "" "more: search to narrow"]
    }
    return [expr {[llength $rows] - 1}]
}

# A new search text: every kind with a match opens on its matches.
proc wp::problems_refilter {args} {
    variable problems_search
    if {![winfo exists .problems]} return
    set t .problems.tree
    foreach kind [$t children {}] {
        set open [$t item $kind -open]
        if {!$open && $problems_search eq ""} continue
        set shown [problems_fill $kind]
        $t item $kind -open [expr {$problems_search ne "" ? $shown > 0 : $open}]
    }
}

# The kind of the row selected is what n and p go to.
proc wp::problems_selected {} {
    variable event_kind
    set t .problems.tree
    set item [lindex [$t selection] 0]
    if {$item eq ""} return
    set parent [$t parent $item]
    set event_kind [expr {$parent eq "" ? $item : $parent}]
    .status configure -text "n / p go to the next / previous $event_kind"
}

proc wp::problems_activate {item} {
    variable event_cursor
    set t .problems.tree
    if {$item eq "" || ![$t exists $item]} return
    set kind [$t parent $item]
    set n [$t item $item -text]
    if {$kind eq "" || ![string is integer -strict $n]} return
    set event_cursor [expr {$n - 1}]
    event_step 1 $kind
}

# n / p (step 1 / -1): the next / previous segment with a warning, or with
# the kind chosen in the Problems window; ] / [ the same for stalls. The
# status line says which events the segment has.
proc wp::event_step {step {name ""}} {
    variable event_cursor
    variable event_kind
    if {$name eq ""} { set name [expr {$event_kind ne "" ? $event_kind : "warning"}] }
    set found [problems_clib [expr {$step > 0 ? "next" : "prev"}] $event_cursor $name]
    if {$found eq ""} { bell; return }
    lassign $found n text
    set event_cursor $n
    goto_segment $n
    .status configure -text $text
}

# A new load starts the event keys afresh and closes the Problems window.
proc wp::events_reset {} {
    variable event_cursor 0
    variable event_kind ""
    destroy .problems
}

# The File menu: what acts on files and on the connection as a whole. A
# menu rather than a row of buttons, so that the toolbar never asks for
# more width than the canvases of the -g size.
proc wp::build_file_menu {mb} {
    ttk::menubutton $mb -text "File" -style Toolbutton -menu $mb.menu
    menu $mb.menu -tearoff 0
    $mb.menu add command -label "Open\u2026" -accelerator Ctrl+O -command wp::open_dialog
    $mb.menu add command -label "Connections\u2026" -accelerator Ctrl+L \
        -command wp::connections_dialog
    $mb.menu add command -label "Save as\u2026" -accelerator Ctrl+S -command wp::save_as
    $mb.menu add command -label "Save report\u2026" -command wp::save_report
    $mb.menu add command -label "Statistics\u2026" -accelerator I -command wp::statistics_dialog
    $mb.menu add separator
    $mb.menu add command -label "Quit" -accelerator Q -command {destroy .}
}

# The View menu: how the diagram shows what was loaded. Labels and Times
# switch the arrows' labels and time stamps (a menu, so that the toolbar
# stays within the canvases' width); "Capture host"
# draws either end on the left (the -H option); "Correct clock drift"
# puts the other capture of a two-file load on the clock fitted to both
# captures (the -k option) instead of one offset, and redraws.
proc wp::build_view_menu {mb} {
    global driftcorrect
    ttk::menubutton $mb -text "View" -style Toolbutton -menu $mb.menu
    menu $mb.menu -tearoff 0
    $mb.menu add checkbutton -label "Labels" -variable texton -command text_clib
    $mb.menu add checkbutton -label "Times" -variable timeon -command time_clib
    $mb.menu add separator
    $mb.menu add cascade -label "Capture host" -menu $mb.menu.host
    menu $mb.menu.host -tearoff 0 -postcommand [list wp::fill_capture_host_menu $mb.menu.host]
    set driftcorrect [drift_clib]
    $mb.menu add checkbutton -label "Correct clock drift" -variable driftcorrect \
        -command {set driftcorrect [drift_clib $driftcorrect]}
}

# The Capture host choices: let the capture decide, or either end.
proc wp::fill_capture_host_menu {m} {
    global lefthost righthost capturehost
    variable capture_choice
    $m delete 0 end
    # A radiobutton entry with an empty -value takes its label instead.
    set capture_choice [expr {[info exists capturehost] && $capturehost ne "" ? \
        $capturehost : "auto"}]
    $m add radiobutton -label "As the capture shows" -value auto \
        -variable wp::capture_choice -command wp::choose_capture_host
    if {![info exists lefthost] || $lefthost eq ""} { return }
    $m add separator
    foreach host [lsort [list $lefthost $righthost]] {
        $m add radiobutton -label $host -value $host \
            -variable wp::capture_choice -command wp::choose_capture_host
    }
}

# Redraws the connection with the chosen capture host on the left.
proc wp::choose_capture_host {} {
    variable capture_choice
    variable current_files
    set files [expr {[llength $current_files] ? $current_files : $::tracefiles}]
    if {![llength $files]} { return }
    . configure -cursor watch
    .status configure -text "Analysing again\u2026"
    update idletasks
    capturehost_clib [expr {$capture_choice eq "auto" ? "" : $capture_choice}] {*}$files
    . configure -cursor {}
    load_outcome $files "Capture host"
}

proc wp::build_help_menu {mb} {
    ttk::menubutton $mb -text "Help" -style Toolbutton -menu $mb.menu
    menu $mb.menu -tearoff 0
    $mb.menu add command -label "Keys\u2026" -command wp::keys_window
}

# ---------------------------------------------------------------------
# Title and status line

proc wp::describe {} {
    global segcount lefthost righthost tracefiles
    variable loaded_name
    if {$loaded_name eq "" && [info exists tracefiles] && [llength $tracefiles]} {
        set loaded_name [join [lmap f $tracefiles {file tail $f}] " + "]
    }
    if {$loaded_name eq ""} {
        # After a load that failed the axes belong to no hosts either.
        .subframe1.header delete all
        wm title . "wirepaint"
        .status configure -text "No capture loaded. Open one with Ctrl-O."
        return
    }
    if {![info exists segcount] || $segcount == 0} {
        # The axes stay, but they no longer belong to any hosts.
        .subframe1.header delete all
        wm title . "wirepaint \u2014 $loaded_name"
        .status configure -text "$loaded_name: no TCP connection found."
        return
    }
    set s [expr {$segcount == 1 ? "segment" : "segments"}]
    wm title . "wirepaint \u2014 $loaded_name ($segcount $s)"
    .status configure -text "$loaded_name: $segcount $s, $lefthost (left)\
        \u2194 $righthost (right). Click an arrow for its details."
}

# ---------------------------------------------------------------------
# Open and save

# Whether the first bytes of `path` are a pcap or pcapng magic number, or
# those of a compressor wirepaint reads (gzip, zstd, xz, bzip2, lz4).
proc wp::is_capture {path} {
    if {[catch {open $path rb} f]} { return 0 }
    set head [read $f 6]
    close $f
    binary scan $head H* magic
    foreach m {a1b2c3d4 d4c3b2a1 a1b23c4d 4d3cb2a1 0a0d0d0a
               1f8b 28b52ffd fd377a585a00 425a68 04224d18} {
        if {[string length $magic] >= [string length $m] &&
            [string first $m $magic] == 0} { return 1 }
    }
    return 0
}

proc wp::open_dialog {} {
    variable loaded_name
    set path [tk_getOpenFile -parent . -title "Open capture" -filetypes {
        {{Capture files} {.pcap .pcapng .cap .dmp .gz .zst .xz .bz2 .lz4}}
        {{All files} *}
    }]
    if {$path eq ""} { return }
    if {![file isfile $path] || ![file readable $path]} {
        tk_messageBox -parent . -icon error -title "Open capture" \
            -message "Cannot read \"$path\"."
        return
    }
    if {![is_capture $path]} {
        tk_messageBox -parent . -icon error -title "Open capture" \
            -message "\"[file tail $path]\" is not a pcap or pcapng capture file."
        return
    }
    .status configure -text "Reading [file tail $path]\u2026"
    . configure -cursor watch
    update idletasks
    openfile_clib $path
    . configure -cursor {}
    if {[load_outcome [list $path] "Open capture"]} {
        connections_dialog 1
    }
}

# After a load from the window: names what is shown now, and tells the
# user why a file could not be loaded or was cut short. Returns 1 when
# `files` are the ones shown now.
proc wp::load_outcome {files title} {
    global loaderror loadwarning loadkept
    variable loaded_name
    variable current_files
    if {!$loadkept} {
        # The command line's files are no longer the ones shown.
        set ::tracefiles {}
        set current_files $files
        set loaded_name [join [lmap f $files {file tail $f}] " + "]
        if {$loaderror ne ""} {
            set current_files {}
            set loaded_name ""
        }
    }
    describe
    events_reset
    if {$loaderror ne ""} {
        set what [join [lmap f $files {file tail $f}] " + "]
        .status configure -text "Could not load $what: $loaderror"
        tk_messageBox -parent . -icon error -title $title \
            -message "Could not load $what." -detail $loaderror
        return 0
    }
    if {$loadwarning ne ""} {
        tk_messageBox -parent . -icon warning -title $title \
            -message "The capture ends inside a packet record: it was cut short.\
                Every packet before the cut is shown." -detail [string trim $loadwarning]
    }
    return 1
}

# ---------------------------------------------------------------------
# Connections: the TCP connections of the current file with their health,
# as -L lists them. The rows stay in the program (connview_clib); the
# dialog's tree holds only the rows in sight, so 50,000 connections sort,
# filter and scroll as fast as ten.

namespace eval wp {
    variable conn_top 0        ;# index of the first row in sight
    variable conn_pick 0       ;# connection number selected; 0 none
    variable conn_filter ""    ;# the text typed in the filter entry
    variable conn_rows 20      ;# rows in sight
}

# Shows the connections of the current file. With `only_many`, only when
# there is more than one to choose from (after an Open).
proc wp::connections_dialog {{only_many 0}} {
    global conncount loaderror
    variable current_files
    variable conn_top
    variable conn_pick
    variable conn_filter
    variable conn_rows
    if {![llength $current_files]} {
        if {!$only_many} {
            tk_messageBox -parent . -icon info -title "Connections" \
                -message "No capture loaded."
        }
        return
    }
    connlist_clib [lindex $current_files 0]
    if {$loaderror ne ""} {
        tk_messageBox -parent . -icon error -title "Connections" -message $loaderror
        return
    }
    if {$only_many && $conncount < 2} { return }
    set w .conns
    destroy $w
    toplevel $w
    wm title $w "Connections of [file tail [lindex $current_files 0]]"
    wm transient $w .
    set n $conncount
    ttk::label $w.intro -padding {8 6} -text [expr {$n == 1 ? \
        "1 TCP connection, worst first. Double-click one, or select it and press Open." : \
        "$n TCP connections, worst first. Click a heading to sort;\
            double-click one, or select it and press Open."}]
    ttk::frame $w.find -padding {8 0}
    ttk::label $w.find.label -text "Filter (address, port or verdict):"
    set conn_filter ""
    ttk::entry $w.find.entry -textvariable wp::conn_filter -width 30
    ttk::label $w.find.shown -text ""
    pack $w.find.label $w.find.entry $w.find.shown -side left -padx 3
    set conn_rows [expr {min(20, max(4, $n))}]
    set t $w.list
    set columns [connview_clib columns]
    ttk::treeview $t -columns [lmap c $columns {string map {< lt > gt # n} $c}] \
        -show headings -height $conn_rows -selectmode browse
    # Each column as wide as its heading or a wide value of its kind.
    set wide {# 50000 from 192.168.100.100:65535 to 192.168.100.100:65535
        pkts> 123456 bytes> 12345678 pkts< 123456 bytes< 12345678
        first 1750000000.000 duration 123.456 rtt 0.1234 retr> 999
        retr< 999 zwin> 999 zwin< 999 stall 12.345 cause application
        gput> 12345678 gput< 12345678 verdict incomplete
        reason {server paused 1.48 s mid-transfer, nothing outstanding}}
    set i 0
    set total 0
    foreach c $columns id [$t cget -columns] {
        set sample $c
        if {[dict exists $wide $c]} { set sample [dict get $wide $c] }
        set px [expr {max([font measure TkHeadingFont $c], [font measure TkDefaultFont $sample]) + 10}]
        incr total $px
        $t heading $id -text $c -command [list wp::conn_sort $w $i]
        $t column $id -width $px -stretch 0 \
            -anchor [expr {$c in {from to verdict cause reason} ? "w" : "e"}]
        incr i
    }
    ttk::scrollbar $w.ys -orient vertical -command [list wp::conn_yview $w]
    ttk::scrollbar $w.xs -orient horizontal -command [list $t xview]
    $t configure -xscrollcommand [list $w.xs set]
    ttk::frame $w.buttons -padding 6
    ttk::button $w.buttons.open -text "Open" -default active \
        -command [list wp::open_connection $w]
    ttk::button $w.buttons.close -text "Close" -command [list destroy $w]
    pack $w.buttons.close $w.buttons.open -side right -padx 3
    grid $w.intro -row 0 -column 0 -columnspan 2 -sticky w
    grid $w.find -row 1 -column 0 -columnspan 2 -sticky w
    grid $t -row 2 -column 0 -sticky nsew -padx {8 0}
    grid $w.ys -row 2 -column 1 -sticky ns -padx {0 8}
    grid $w.xs -row 3 -column 0 -sticky ew -padx {8 0}
    grid $w.buttons -row 4 -column 0 -columnspan 2 -sticky ew
    grid rowconfigure $w 2 -weight 1
    grid columnconfigure $w 0 -weight 1
    bind $t <Double-Button-1> [list wp::open_connection $w]
    # The dialog is gone once a connection opens: the tree's own binding
    # must not run after it.
    bind WpConnGone <Double-Button-1> {if {![winfo exists %W]} break}
    bindtags $t [linsert [bindtags $t] 1 WpConnGone]
    bind $w <Key-Return> [list wp::open_connection $w]
    bind $w <Key-Escape> [list destroy $w]
    bind $t <<TreeviewSelect>> [list wp::conn_selected $w]
    bind $t <MouseWheel> [list wp::conn_wheel $w %D]
    bind $t <Button-4> [list wp::conn_scroll $w -3]
    bind $t <Button-5> [list wp::conn_scroll $w 3]
    foreach {key step} {Up -1 Down 1 Prior -page Next page Home -all End all} {
        bind $t <Key-$key> "[list wp::conn_step $w $step]; break"
    }
    bind $w.find.entry <KeyRelease> [list wp::conn_filter_now $w]
    set conn_top 0
    set conn_pick 0
    wp::conn_show $w
    # No wider than the screen: the scroll bar below reaches the rest.
    set most [expr {[winfo screenwidth $w] - 40}]
    if {$total + 40 > $most} { wm geometry $w ${most}x[expr {($conn_rows + 6) * 22}] }
    focus $t
}

# Fills the tree with the rows in sight, from row conn_top of those
# shown, selects the chosen connection when it is among them and sets
# the scroll bar.
proc wp::conn_show {w} {
    variable conn_top
    variable conn_pick
    variable conn_rows
    set t $w.list
    # A heading's sort runs when idle, perhaps after the dialog closed.
    if {![winfo exists $t]} { return }
    set n [connview_clib count]
    set conn_top [expr {max(0, min($conn_top, $n - $conn_rows))}]
    $t delete [$t children {}]
    foreach row [connview_clib rows $conn_top $conn_rows] {
        $t insert {} end -id c[lindex $row 0] -values $row
    }
    if {$conn_pick == 0 && $n > 0} {
        set conn_pick [lindex [lindex [connview_clib rows 0 1] 0] 0]
    }
    if {[$t exists c$conn_pick]} {
        $t selection set c$conn_pick
        $t focus c$conn_pick
    }
    if {$n == 0} {
        $w.ys set 0 1
    } else {
        $w.ys set [expr {double($conn_top) / $n}] \
            [expr {double(min($n, $conn_top + $conn_rows)) / $n}]
    }
    $w.find.shown configure -text "$n shown"
}

# The selection of the tree becomes the chosen connection.
proc wp::conn_selected {w} {
    variable conn_pick
    set sel [$w.list selection]
    if {[llength $sel]} { set conn_pick [string range [lindex $sel 0] 1 end] }
}

# A click on heading `column`: sorts by it, the other way on a second click
# (numbers open largest first, names, the verdict and the reason from the
# start).
proc wp::conn_sort {w column} {
    variable conn_top
    lassign [connview_clib order] now down
    if {$now == $column} {
        set down [expr {!$down}]
    } else {
        set name [lindex [connview_clib columns] $column]
        set down [expr {$name ni {# from to first cause verdict reason}}]
    }
    connview_clib sort $column $down
    set conn_top 0
    conn_show $w
}

# The filter entry changed: shows the rows that hold its text.
proc wp::conn_filter_now {w} {
    variable conn_filter
    variable conn_top
    connview_clib filter $conn_filter
    set conn_top 0
    conn_show $w
}

# The scroll bar's command: moveto FRACTION, or scroll N units|pages.
proc wp::conn_yview {w args} {
    variable conn_top
    variable conn_rows
    set n [connview_clib count]
    switch -- [lindex $args 0] {
        moveto { set conn_top [expr {int([lindex $args 1] * $n)}] }
        scroll {
            set by [lindex $args 1]
            if {[lindex $args 2] eq "pages"} { set by [expr {$by * $conn_rows}] }
            incr conn_top $by
        }
    }
    conn_show $w
}

proc wp::conn_scroll {w by} {
    variable conn_top
    incr conn_top $by
    conn_show $w
}

proc wp::conn_wheel {w delta} {
    conn_scroll $w [expr {$delta > 0 ? -3 : 3}]
}

# Moves the selection one row (1, -1), a page (page, -page) or to an end
# (all, -all), scrolling to keep it in sight.
proc wp::conn_step {w step} {
    variable conn_top
    variable conn_rows
    variable conn_pick
    set t $w.list
    set n [connview_clib count]
    if {$n == 0} { return }
    set sel [$t selection]
    set at [expr {[llength $sel] ? $conn_top + [$t index [lindex $sel 0]] : $conn_top}]
    switch -- $step {
        page { incr at $conn_rows }
        -page { incr at -$conn_rows }
        all { set at [expr {$n - 1}] }
        -all { set at 0 }
        default { incr at $step }
    }
    set at [expr {max(0, min($n - 1, $at))}]
    if {$at < $conn_top} { set conn_top $at }
    if {$at >= $conn_top + $conn_rows} { set conn_top [expr {$at - $conn_rows + 1}] }
    set conn_pick [lindex [lindex [connview_clib rows $at 1] 0] 0]
    conn_show $w
}

# Loads the connection selected in the dialog `w`.
proc wp::open_connection {w} {
    variable current_files
    variable conn_pick
    set sel [$w.list selection]
    if {![llength $sel]} { return }
    set number [string range [lindex $sel 0] 1 end]
    set files $current_files
    destroy $w
    . configure -cursor watch
    .status configure -text "Reading connection $number\u2026"
    update idletasks
    openconn_clib $number {*}$files
    . configure -cursor {}
    load_outcome $files "Connections"
}

# Save as: the view through the program's renderer, the format by the
# file name's extension.
proc wp::save_as {} {
    set path [tk_getSaveFile -parent . -title "Save as" -defaultextension .svg -filetypes {
        {SVG {.svg}} {PDF {.pdf}} {PNG {.png}} {PostScript {.ps .eps}}
    }]
    if {$path eq ""} { return }
    if {[catch {saveas_clib $path} err]} {
        tk_messageBox -parent . -icon error -title "Save as" -message $err
        return
    }
    .status configure -text "Saved the diagram to $path."
}

# The report page: the loaded connection as one web page that any
# browser opens offline, starting at the view the window shows.
proc wp::save_report {} {
    set path [tk_getSaveFile -parent . -title "Save report" -defaultextension .html \
        -filetypes {{{Web page} {.html .htm}} {{All files} *}}]
    if {$path eq ""} { return }
    if {[catch {savereport_clib $path} err]} {
        tk_messageBox -parent . -icon error -title "Save report" -message $err
        return
    }
    .status configure -text "Saved the report page to $path."
}

proc wp::save_postscript {} {
    set path [tk_getSaveFile -parent . -title "Save as PostScript" \
        -defaultextension .ps -filetypes {{PostScript {.ps .eps}} {{All files} *}}]
    if {$path eq ""} { return }
    if {[catch {.subframe1.canvas postscript -file $path -colormode color} err]} {
        tk_messageBox -parent . -icon error -title "Save as PostScript" -message $err
        return
    }
    .status configure -text "Saved the visible diagram to $path."
}

# ---------------------------------------------------------------------
# Drawing: every procedure reads the values the program has just published

proc drawframe {} {
    global fx1 fx2 fy1 fy2 lefthost righthost leftother rightother
    set c .subframe1.canvas
    $c delete frame
    for {set i 0} {$i < 2} {incr i} {
        $c create line $fx1($i) $fy1($i) $fx2($i) $fy2($i) \
            -fill "#4a5568" -width 2 -tags frame
    }
    set h .subframe1.header
    $h delete all
    # An end a middlebox translated: its name in the other capture below.
    set others [expr {[info exists leftother] && "$leftother$rightother" ne ""}]
    $h configure -height [expr {$others ? 34 : 22}]
    if {$others} {
        foreach {x name} [list $fx1(0) $leftother $fx1(1) $rightother] {
            if {$name ne ""} {
                $h create text $x 26 -text "($name in the other capture)" \
                    -font wpSmall -fill "#718096"
            }
        }
    }
    if {[info exists lefthost]} {
        $h create text $fx1(0) 11 -text $lefthost -font wpHost -fill "#1a202c"
        $h create text $fx1(1) 11 -text $righthost -font wpHost -fill "#1a202c"
        set mid [expr {($fx1(0) + $fx1(1)) / 2}]
        $h create text $mid 11 -text "time \u2193" -font wpSmall -fill "#718096"
    }
    wp::describe
}

proc drawsubframe {} {
    global subfx1 subfx2 subfy1 subfy2
    set c .subframe2.canvas
    $c delete frame
    for {set i 0} {$i < 2} {incr i} {
        $c create line $subfx1($i) $subfy1($i) $subfx2($i) $subfy2($i) \
            -fill "#718096" -tags frame
    }
}

proc drawlines {} {
    global linecnt x1 y1 x2 y2 color arrow
    set c .subframe1.canvas
    for {set i 0} {$i < $linecnt} {incr i} {
        $c create line $x1($i) $y1($i) $x2($i) $y2($i) -fill $color($i) \
            -arrow $arrow($i) -arrowshape {9 11 3} -tags lines
    }
    global lnotice lnoticex lnoticey
    if {[info exists lnotice] && $lnotice ne ""} {
        $c create text $lnoticex $lnoticey -text $lnotice -font wpSmall \
            -fill #2d3748 -tags lines
    }
}

proc eraselines {} { .subframe1.canvas delete lines }

# Many lines come as one image (subimage, made below) that draws them all.
image create wpoverview overviewlines

proc drawsublines {} {
    global sublinecnt subx1 suby1 subx2 suby2 subcolor subimage
    set c .subframe2.canvas
    if {[info exists subimage] && $subimage ne ""} {
        $c create image 0 0 -anchor nw -image $subimage -tags sublines
        return
    }
    for {set i 0} {$i < $sublinecnt} {incr i} {
        $c create line $subx1($i) $suby1($i) $subx2($i) $suby2($i) \
            -fill $subcolor($i) -tags sublines
    }
}

proc erasesublines {} { .subframe2.canvas delete sublines }

proc drawtexts {} {
    global textcnt tx ty text txcolor
    set c .subframe1.canvas
    for {set i 0} {$i < $textcnt} {incr i} {
        $c create text $tx($i) $ty($i) -text $text($i) -fill $txcolor($i) \
            -font wpLabel -tags {texts label}
    }
    # A white ground under each label keeps it readable over the arrows.
    foreach item [$c find withtag label] {
        set box [$c bbox $item]
        if {[llength $box] == 4} {
            set ground [$c create rectangle $box -fill white -outline {} -tags texts]
            $c lower $ground $item
        }
    }
    $c dtag label
}

proc erasetexts {} { .subframe1.canvas delete texts }

proc drawtimes {} {
    global timecnt tmx tmy time tmcolor
    set c .subframe1.canvas
    for {set i 0} {$i < $timecnt} {incr i} {
        $c create text $tmx($i) $tmy($i) -text $time($i) -fill $tmcolor($i) \
            -font wpSmall -tags times
    }
}

proc erasetimes {} { .subframe1.canvas delete times }

proc drawbox {} {
    global rx1 rx2 ry1 ry2
    set c .subframe2.canvas
    $c create rectangle $rx1 $ry1 $rx2 $ry2 -fill "#fdf3c4" -outline "#b7791f" \
        -width 1 -tags box
    $c lower box
}

proc erasebox {} { .subframe2.canvas delete box }

# ---------------------------------------------------------------------
# Detail popup

proc createpi {} {
    global message
    set w .pi[incr ::wp::popups]
    toplevel $w
    set first [lindex [split $message "\n"] 0]
    wm title $w "Segment: [string range $first 0 60]"
    set lines [split [string trimright $message "\n"] "\n"]
    set width 40
    foreach l $lines { set width [expr {max($width, [string length $l])}] }
    set width [expr {min($width + 1, 140)}]
    set height [expr {min([llength $lines] + 1, 30)}]
    text $w.text -font TkFixedFont -wrap none -width $width -height $height \
        -background white -relief flat -padx 8 -pady 6 \
        -xscrollcommand [list $w.xs set] -yscrollcommand [list $w.ys set]
    ttk::scrollbar $w.xs -orient horizontal -command [list $w.text xview]
    ttk::scrollbar $w.ys -orient vertical -command [list $w.text yview]
    $w.text insert end $message
    # Read-only, but its text can still be selected and copied.
    $w.text configure -state disabled
    wp::copy_close_buttons $w
    grid $w.text -row 0 -column 0 -sticky nsew
    grid $w.ys -row 0 -column 1 -sticky ns
    grid $w.xs -row 1 -column 0 -sticky ew
    grid $w.buttons -row 2 -column 0 -columnspan 2 -sticky ew
    grid rowconfigure $w 0 -weight 1
    grid columnconfigure $w 0 -weight 1
    bind $w <Key-Escape> "[list destroy $w]; break"
    bind $w <Control-Key-c> [list wp::copy_popup $w]
    bind $w.text <ButtonPress-1> [list focus $w.text]
    # Near the pointer, but on the screen as a whole.
    update idletasks
    set x [expr {[winfo pointerx .] + 16}]
    set y [expr {[winfo pointery .] + 16}]
    set x [expr {max(0, min($x, [winfo screenwidth $w] - [winfo reqwidth $w]))}]
    set y [expr {max(0, min($y, [winfo screenheight $w] - [winfo reqheight $w]))}]
    wm geometry $w +$x+$y
    focus $w
}

# The Copy and Close buttons of a text window `w`, in the frame $w.buttons,
# which the caller places.
proc wp::copy_close_buttons {w} {
    ttk::frame $w.buttons -padding 4
    ttk::button $w.buttons.copy -text "Copy" -command [list wp::copy_popup $w]
    ttk::button $w.buttons.close -text "Close" -command [list destroy $w]
    pack $w.buttons.close $w.buttons.copy -side right -padx 2
}

proc wp::copy_popup {w} {
    set t $w.text
    if {[catch {$t get sel.first sel.last} s]} {
        set s [$t get 1.0 end-1c]
    }
    clipboard clear -displayof $w
    clipboard append -displayof $w $s
}

# Escape anywhere closes the newest detail popup.
proc wp::close_popup {} {
    for {set i $::wp::popups} {$i > 0} {incr i -1} {
        if {[winfo exists .pi$i]} {
            destroy .pi$i
            return
        }
    }
}

# ---------------------------------------------------------------------
# Start

set texton 1
set timeon 1
if {[info exists tracefiles]} { set wp::current_files $tracefiles }
wp::build_window
init_clib
wp::describe
focus .subframe1.canvas

# ---------------------------------------------------------------------
# The Graph window: one photo image that the program fills (graph_clib),
# a crosshair and a zoom rectangle on top of it, and the keys:
# 1-5 the graph, d the direction, drag a rectangle to zoom (right click
# or BackSpace goes back), wheel zooms time, Ctrl+wheel the values,
# arrows pan, Home or 0 everything, w the throughput window; a click
# centres the ladder on the segment and flashes it.

proc wp::graph_window {} {
    set w .graph
    if {[winfo exists $w]} { raise $w; focus $w.c; return }
    toplevel $w
    catch {image create photo wpgraph}
    set t [ttk::frame $w.bar -padding {2 2}]
    ttk::combobox $t.type -state readonly -width 18 -values {
        "1 time-sequence" "2 throughput" "3 round-trip time" "4 one-way delay"
        "5 bytes in flight"}
    bind $t.type <<ComboboxSelected>> {wp::graph_do type [expr {[%W current] + 1}]}
    ttk::button $t.dir -text "Direction (d)" -style Toolbutton -command {wp::graph_do dir}
    ttk::button $t.home -text "All (Home)" -style Toolbutton -command {wp::graph_do home}
    ttk::button $t.save -text "Save as\u2026" -style Toolbutton -command wp::graph_save
    pack $t.type $t.dir $t.home $t.save -side left -padx 2
    canvas $w.c -width 1000 -height 600 -highlightthickness 0 -background white \
        -cursor crosshair
    $w.c create image 0 0 -anchor nw -image wpgraph -tags graph
    ttk::label $w.status -anchor w -padding {4 1}
    pack $w.bar -side top -fill x
    pack $w.status -side bottom -fill x
    pack $w.c -fill both -expand 1
    graph_clib open
    bind $w.c <Configure> {graph_clib size %w %h; wp::graph_title}
    bind $w <Destroy> {if {"%W" eq ".graph"} {graph_clib close}}
    foreach n {1 2 3 4 5} { bind $w <Key-$n> [list wp::graph_do type $n] }
    bind $w <Key-d> {wp::graph_do dir}
    bind $w <Key-w> {wp::graph_do window}
    foreach key {Home 0 KP_0} { bind $w <Key-$key> {wp::graph_do home} }
    bind $w <Key-BackSpace> {wp::graph_do back}
    bind $w <Key-Escape> {destroy .graph}
    foreach {key dx dy} {Left -1 0 Right 1 0 Up 0 1 Down 0 -1} {
        bind $w <Key-$key> [list wp::graph_do pan $dx $dy]
    }
    bind $w.c <ButtonPress-1> {set wp::graph_from [list %x %y]}
    bind $w.c <B1-Motion> {wp::graph_drag %x %y}
    bind $w.c <ButtonRelease-1> {wp::graph_release %x %y}
    bind $w.c <ButtonPress-3> {wp::graph_do back}
    bind $w.c <MouseWheel> {wp::graph_do wheel %x %y [expr {%D > 0}] 0}
    bind $w.c <Control-MouseWheel> {wp::graph_do wheel %x %y [expr {%D > 0}] 1}
    bind $w.c <Button-4> {wp::graph_do wheel %x %y 1 0}
    bind $w.c <Button-5> {wp::graph_do wheel %x %y 0 0}
    bind $w.c <Control-Button-4> {wp::graph_do wheel %x %y 1 1}
    bind $w.c <Control-Button-5> {wp::graph_do wheel %x %y 0 1}
    bind $w.c <Motion> {wp::graph_cross %x %y}
    bind $w.c <Leave> {.graph.c delete cross}
    graph_clib size [winfo reqwidth $w.c] [winfo reqheight $w.c]
    wp::graph_title
    focus $w.c
}

proc wp::graph_title {} {
    if {![winfo exists .graph]} { return }
    set title [graph_clib title]
    wm title .graph $title
    set types {tsg tput rtt owd inflight}
    set n [lsearch $types [lindex $title 1]]
    if {$n >= 0} { .graph.bar.type current $n }
}

proc wp::graph_do {args} {
    graph_clib {*}$args
    wp::graph_title
}

proc wp::graph_drag {x y} {
    variable graph_from
    if {![info exists graph_from]} { return }
    set c .graph.c
    $c delete zoombox
    $c create rectangle {*}$graph_from $x $y -outline "#2b6cb0" -dash {4 2} -tags zoombox
}

proc wp::graph_release {x y} {
    variable graph_from
    if {![info exists graph_from]} { return }
    lassign $graph_from x0 y0
    unset graph_from
    .graph.c delete zoombox
    if {abs($x - $x0) > 4 && abs($y - $y0) > 4} {
        graph_clib zoom $x0 $y0 $x $y
        return
    }
    set n [graph_clib click $x $y]
    if {$n eq ""} { bell; return }
    wp::goto_segment $n
    .graph.status configure -text "Segment $n"
}

proc wp::graph_cross {x y} {
    set c .graph.c
    $c delete cross
    $c create line 0 $y [winfo width $c] $y -fill "#a0aec0" -tags cross
    $c create line $x 0 $x [winfo height $c] -fill "#a0aec0" -tags cross
    .graph.status configure -text [graph_clib status $x $y]
}

proc wp::graph_save {} {
    set path [tk_getSaveFile -parent .graph -title "Save the graph as" -defaultextension .svg \
        -filetypes {{SVG {.svg}} {PDF {.pdf}} {PNG {.png}} {PostScript {.ps .eps}}}]
    if {$path eq ""} { return }
    if {[catch {graph_clib save $path} err]} {
        tk_messageBox -parent .graph -icon error -title "Save as" -message $err
        return
    }
    .graph.status configure -text "Saved the graph to $path."
}
