#!/usr/bin/env bash
# bench-nav.sh - time wirepaint's navigation commands on a capture.
#
#   tools/bench-nav.sh BINARY [CAPTURE]      (default examples/sender.pcap)
#
# Runs BINARY in a scratch folder whose ./wirepaint.tcl is
# tools/bench-nav.tcl, which sources the tree's script/wirepaint.tcl and
# prints the time of each command, publication and drawing included, in
# milliseconds, and how long the first drawing of the window took after
# the load (WIREPAINT_BENCH_ROUNDS alternating runs, 3 by default).
# Without a DISPLAY it runs under a private Xvfb server.
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$repo_root/tools/xvfb-common.sh"
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
  start_private_xvfb "$workdir" 1280x1024x24
fi

echo "wirepaint navigation benchmark on $(basename "$capture")"
cd "$workdir"

# The first drawing: alternate runs that end once the window is drawn with
# runs that end after the load (no display: Tk cannot start), so that the
# difference of the medians is the time from the end of the load to the
# drawn window (Tk's start, the UI script, init_clib and the X server).
rounds=${WIREPAINT_BENCH_ROUNDS:-3}
: >"$workdir/drawn.ms"
: >"$workdir/load.ms"
for _ in $(seq "$rounds"); do
  WIREPAINT_BENCH_DRAW_ONLY=1 WIREPAINT_BENCH_START_NS=$(date +%s%N) "$binary" "$capture" |
    sed -n 's/^# window drawn \([0-9.]*\) ms after the process started$/\1/p' >>"$workdir/drawn.ms"
  start=$(date +%s%N)
  env -u DISPLAY "$binary" "$capture" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 ))" | awk '{ printf "%.1f\n", $1 / 1000 }' >>"$workdir/load.ms"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
drawn=$(median "$workdir/drawn.ms")
load=$(median "$workdir/load.ms")
echo "# first drawing, medians of $rounds alternating runs: window drawn $drawn ms after" \
  "the process started; the load alone $load ms; drawn" \
  "$(awk -v a="$drawn" -v b="$load" 'BEGIN { printf "%.1f", a - b }') ms after the load"

"$binary" "$capture"
