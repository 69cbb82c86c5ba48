#!/usr/bin/env bash
# bench-health.sh - the health table (-L) and the Connections dialog on a
# generated server capture of many connections.
#
#   tools/bench-health.sh BUILD        (BUILD/wirepaint, BUILD/gen_many built)
#
# Writes BUILD/bench/many-CONNS.pcap (BENCH_CONNS, 50,000 by default, some
# 2.7 million packets) with gen_many unless it is there, then times
# `wirepaint -L -x -` against `tcptrace -n -l` on it (elapsed seconds and
# peak resident memory, by GNU time; the aim: no slower than tcptrace and
# at most 256 MiB), and runs tools/bench-conns.tcl in the window under a
# private Xvfb: sorting and filtering the dialog's rows (the aim: 100 ms).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$repo_root/tools/xvfb-common.sh"
build=$(cd "${1:-$repo_root/build}" && pwd)
conns=${BENCH_CONNS:-50000}
dir=$build/bench
mkdir -p "$dir"
capture=$dir/many-$conns.pcap
[ -s "$capture" ] || "$build/gen_many" -n "$conns" "$capture" "$dir/many-$conns.truth"

measure() {  # measure COMMAND...: prints its seconds and peak KiB
  /usr/bin/time -o "$dir/time.txt" -f '%e %M' "$@" >/dev/null 2>&1 || true
  tail -n1 "$dir/time.txt"
}
echo "health table on $(basename "$capture")"
read -r wp_s wp_kb < <(measure "$build/wirepaint" -L -x - "$capture")
awk -v s="$wp_s" -v k="$wp_kb" 'BEGIN { printf "  wirepaint -L -x -   %6.2f s  %7.1f MiB\n", s, k / 1024 }'
if command -v tcptrace >/dev/null; then
  read -r tt_s tt_kb < <(measure tcptrace -n -l "$capture")
  awk -v s="$tt_s" -v k="$tt_kb" -v w="$wp_s" 'BEGIN {
    printf "  tcptrace -n -l      %6.2f s  %7.1f MiB\n", s, k / 1024
    printf "  time ratio          %6.2f (the aim: at most 1.0)\n", w / s }'
fi

workdir=$(mktemp -d "${TMPDIR:-/tmp}/wirepaint-bench-XXXXXX")
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT
cp "$repo_root/tools/bench-conns.tcl" "$workdir/wirepaint.tcl"
export WIREPAINT_SCRIPT="$repo_root/script/wirepaint.tcl"
if [ -z "${DISPLAY:-}" ]; then
  start_private_xvfb "$workdir" 1600x1024x24
fi
echo
echo "Connections dialog on $(basename "$capture")"
cd "$workdir"
"$build/wirepaint" "$capture" >/dev/null 2>&1 || true
sed 's/^/  /' "$workdir/bench.txt"
