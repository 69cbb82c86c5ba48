#!/usr/bin/env bash
# bench-nav.sh - time wirepaint's navigation commands on a capture.
#
#   tools/bench-nav.sh BINARY [CAPTURE]      (default examples/sender.pcap)
#
# Runs BINARY in a scratch folder whose ./wirepaint.tcl is
# tools/bench-nav.tcl, which sources the tree's script/wirepaint.tcl and
# prints the time of each command, publication and drawing included, in
# milliseconds, and how long the first drawing of the window took. Then
# times the load alone, so that the window's drawing after the load is
# the difference of the two process times. Without a DISPLAY it runs under a private Xvfb server.
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
capture=${2:-$repo_root/examples/sender.pcap}
capture=$(cd "$(dirname "$capture")" && pwd)/$(basename "$capture")

workdir=$(mktemp -d "${TMPDIR:-/tmp}/wirepaint-bench-XXXXXX")
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT
cp "$repo_root/tools/bench-nav.tcl" "$workdir/wirepaint.tcl"
export WIREPAINT_SCRIPT="$repo_root/script/wirepaint.tcl"

if [ -z "${DISPLAY:-}" ]; then
  exec 3> "$workdir/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$workdir/display" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$workdir/display")"
fi

echo "wirepaint navigation benchmark on $(basename "$capture")"
cd "$workdir"
WIREPAINT_BENCH_START_NS=$(date +%s%N) "$binary" "$capture"
# The load alone: without a display the program ends right after it.
start=$(date +%s%N)
DISPLAY= "$binary" "$capture" >/dev/null 2>&1 || true
end=$(date +%s%N)
echo "# the load alone (no display) took $(( (end - start) / 1000000 )) ms"
