#!/usr/bin/env bash
# bench-webpage.sh - the report pages: writing and opening the page of a
# generated 1,000,000-segment connection (BENCH_PAGE_SEGMENTS) and of the
# health table of a capture of many connections (BENCH_CONNS, 50,000), in
# headless Chromium (tools/bench-webpage.py), and the size of the bundled
# sample's page.
#
#   tools/bench-webpage.sh BUILD      (BUILD/wirepaint, gen_capture, gen_many)
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$repo_root/build}" && pwd)
dir=$build/bench
mkdir -p "$dir"
segments=${BENCH_PAGE_SEGMENTS:-1000000}
conns=${BENCH_CONNS:-50000}

sample=$dir/sample-page.html
"$build/wirepaint" -o "$sample" "$repo_root/examples/sender.pcap" >/dev/null
echo "report page of examples/sender.pcap: $(stat -c %s "$sample") bytes (the aim: under 300 KB)"

capture=$dir/sender-$segments.pcap
[ -s "$capture" ] || "$build/gen_capture" -n "$segments" "$capture"
page=$dir/page-$segments.html
start=$(date +%s.%N)
"$build/wirepaint" -o "$page" "$capture" >/dev/null
end=$(date +%s.%N)
count=$("$build/wirepaint" -S "$capture" | awk '$1 == "segments" { print $2 + $3; exit }')
[ -n "$count" ] || count=$segments
echo
awk -v a="$start" -v b="$end" -v n="$count" 'BEGIN { printf "report page of %d segments: written in %.1f s\n", n, b - a }'
python3 "$repo_root/tools/bench-webpage.py" connection "$page" "$count"

many=$dir/many-$conns.pcap
[ -s "$many" ] || "$build/gen_many" -n "$conns" "$many" "$dir/many-$conns.truth"
hpage=$dir/health-$conns.html
"$build/wirepaint" -L -o "$hpage" "$many" >/dev/null
echo
echo "health table page of $(basename "$many"): $(stat -c %s "$hpage") bytes"
python3 "$repo_root/tools/bench-webpage.py" health "$hpage"
