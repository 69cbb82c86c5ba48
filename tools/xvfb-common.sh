# xvfb-common.sh - the private X server of the tools that open wirepaint's
# window without a display of their own (run-sample.sh, bench-nav.sh,
# bench-health.sh); sourced, not run.

# start_private_xvfb DIR SCREEN [XVFB-ARGS...]: starts Xvfb with one screen
# of SCREEN (WxHxD) on a display number it picks itself, written to
# DIR/display, and exports DISPLAY for it. Sets xvfb_pid to the server's id
# (the caller kills it on exit). Returns 1 when the server did not come up
# within ten seconds.
start_private_xvfb() {
  local dir=$1 screen=$2
  shift 2
  exec 3> "$dir/display"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp "$@" >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
  done
  [ -s "$dir/display" ] || return 1
  export DISPLAY=":$(head -n1 "$dir/display")"
}
