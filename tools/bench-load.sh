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
# rounds' wall times and of their CPU times (user + system, which a busy
# machine disturbs less), and the largest peak resident set size that
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

# shellcheck source=tools/bench-common.sh
. "$repo_root/tools/bench-common.sh"

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


packets=$("$pcap_count" "$capture")
echo "wirepaint load: $(basename "$capture") ($packets packets)${capture2:+ and $(basename "$capture2")}, medians of $runs alternating runs"
row() { printf '  %-26s %10s %10s %16s\n' "$@"; }
row "" "time (s)" "CPU (s)" "peak RSS (MiB)"
row "wirepaint, one file" "$(median one)" "$(median one cpu)" "$(peak_mib one)"
if [ -n "$capture2" ]; then
  row "wirepaint, two files" "$(median two)" "$(median two cpu)" "$(peak_mib two)"
fi
row "tcptrace -n -l -r" "$(median tcptrace)" "$(median tcptrace cpu)" "$(peak_mib tcptrace)"
row "pcap_loop count" "$(median count)" "$(median count cpu)" "$(peak_mib count)"
# ratios NAME: the time ratios, then the CPU ratios.
ratios() {
  printf '  %-26s %10s %10s\n' "$1" "$(ratio "$(median "$2")" "$(median "$3")")" \
    "$(ratio "$(median "$2" cpu)" "$(median "$3" cpu)")"
}
ratios "one file / tcptrace" one tcptrace
ratios "one file / pcap_loop count" one count
if [ -n "$capture2" ]; then
  ratios "two files / one file" two one
fi
