#!/usr/bin/env bash
# bench-load.sh - time wirepaint's load of a capture against tcptrace and
# a bare libpcap packet count, and show the peak memory of each.
#
#   tools/bench-load.sh CAPTURE [CAPTURE2]
#
# wirepaint runs without a DISPLAY: it loads the files named on its
# command line, then fails to start Tk and ends, so its whole run is the
# load. With CAPTURE2 the two-file load (both ends of the connection) is
# timed too. The rounds alternate the programs, so that a change of
# machine load hits all of them alike; the figures are medians of the
# rounds' wall times, and the largest peak resident set size that
# /usr/bin/time -v reported.
#
# Environment: WIREPAINT (default build/wirepaint), PCAP_COUNT (default
# build/pcap_count), RUNS (rounds, default 5).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wirepaint=${WIREPAINT:-$repo_root/build/wirepaint}
pcap_count=${PCAP_COUNT:-$repo_root/build/pcap_count}
runs=${RUNS:-5}

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "Usage: $0 CAPTURE [CAPTURE2]" >&2
  exit 2
fi
for tool in "$wirepaint" "$pcap_count" tcptrace /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "bench-load: $tool is missing (tools/install-deps.sh bench; cmake --build build)" >&2
    exit 1
  fi
done
capture=$1
capture2=${2:-}

workdir=$(mktemp -d "${TMPDIR:-/tmp}/wirepaint-bench-load-XXXXXX")
trap 'rm -rf "$workdir"' EXIT

# run NAME CMD... : one timed run; appends the wall time in seconds to
# $workdir/NAME.time and the peak RSS in KiB to $workdir/NAME.rss.
run() {
  local name=$1
  shift
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -v -o "$workdir/$name.v" "$@" >/dev/null 2>"$workdir/$name.err" || true
  end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.4f\n", $2 - $1 }' >>"$workdir/$name.time"
  awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' \
    "$workdir/$name.v" >>"$workdir/$name.rss"
}

# A wirepaint run must end at Tk_Init, after a complete load.
check_wirepaint() {
  if ! grep -q 'Tk_Init failed' "$workdir/$1.err"; then
    echo "bench-load: wirepaint did not complete the load:" >&2
    cat "$workdir/$1.err" >&2
    exit 1
  fi
}

for _ in $(seq "$runs"); do
  run one env -u DISPLAY "$wirepaint" "$capture"
  check_wirepaint one
  if [ -n "$capture2" ]; then
    run two env -u DISPLAY "$wirepaint" "$capture" "$capture2"
    check_wirepaint two
  fi
  run tcptrace tcptrace -n -l -r "$capture"
  run count "$pcap_count" "$capture"
done

median() { sort -n "$workdir/$1.time" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_mib() { sort -n "$workdir/$1.rss" | tail -n1 | awk '{ printf "%.1f", $1 / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

packets=$("$pcap_count" "$capture")
echo "wirepaint load: $(basename "$capture") ($packets packets)${capture2:+ and $(basename "$capture2")}, medians of $runs alternating runs"
printf '  %-26s %10s %16s\n' "" "time (s)" "peak RSS (MiB)"
printf '  %-26s %10s %16s\n' "wirepaint, one file" "$(median one)" "$(peak_mib one)"
if [ -n "$capture2" ]; then
  printf '  %-26s %10s %16s\n' "wirepaint, two files" "$(median two)" "$(peak_mib two)"
fi
printf '  %-26s %10s %16s\n' "tcptrace -n -l -r" "$(median tcptrace)" "$(peak_mib tcptrace)"
printf '  %-26s %10s %16s\n' "pcap_loop count" "$(median count)" "$(peak_mib count)"
echo "  one file / tcptrace:        $(ratio "$(median one)" "$(median tcptrace)")"
echo "  one file / pcap_loop count: $(ratio "$(median one)" "$(median count)")"
if [ -n "$capture2" ]; then
  echo "  two files / one file:       $(ratio "$(median two)" "$(median one)")"
fi
