#!/usr/bin/env bash
# bench-formats.sh - time wirepaint's load of one capture in each form it
# reads: classic pcap, pcapng (editcap -F pcapng), gzip -1, zstd and the
# pcapng zstd'd, and the decompression alone (gzip -dc, zstd -dc), with
# the peak memory of each load.
#
#   tools/bench-formats.sh CAPTURE
#
# The rounds alternate the forms, so that a change of machine load hits
# all of them alike; the figures are medians of the rounds' wall times
# and the largest peak resident set size. A compressed capture is read
# through a ring while it is decompressed, and its records keep copies of
# their packet bytes (a file on disk is read where it lies): the extra
# peak over the plain load is shown in bytes a packet. Each load must
# also give what the plain file gives (-S).
#
# Environment: WIREPAINT (default build/wirepaint), PCAP_COUNT (default
# build/pcap_count), RUNS (rounds, default 5).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wirepaint=${WIREPAINT:-$repo_root/build/wirepaint}
pcap_count=${PCAP_COUNT:-$repo_root/build/pcap_count}
runs=${RUNS:-5}

if [ $# -ne 1 ]; then
  echo "Usage: $0 CAPTURE" >&2
  exit 2
fi
for tool in "$wirepaint" "$pcap_count" editcap gzip zstd /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "bench-formats: $tool is missing (tools/install-deps.sh bench; cmake --build build)" >&2
    exit 1
  fi
done
capture=$1
workdir=$(mktemp -d "${TMPDIR:-/tmp}/wirepaint-bench-formats-XXXXXX")
trap 'rm -rf "$workdir"' EXIT

cp "$capture" "$workdir/plain.pcap"
editcap -F pcapng "$capture" "$workdir/pcapng.pcapng"
gzip -1 -c "$capture" >"$workdir/gzip.pcap.gz"
zstd -q -c "$capture" >"$workdir/zstd.pcap.zst"
zstd -q -c "$workdir/pcapng.pcapng" >"$workdir/ngzstd.pcapng.zst"
forms=(plain.pcap pcapng.pcapng gzip.pcap.gz zstd.pcap.zst ngzstd.pcapng.zst)

"$wirepaint" -S "$workdir/plain.pcap" >"$workdir/want.txt"
for f in "${forms[@]}"; do
  "$wirepaint" -S "$workdir/$f" >"$workdir/got.txt"
  if ! cmp -s "$workdir/want.txt" "$workdir/got.txt"; then
    echo "bench-formats: -S of $f differs from the plain file's" >&2
    exit 1
  fi
done

# shellcheck source=tools/bench-common.sh
. "$repo_root/tools/bench-common.sh"

for _ in $(seq "$runs"); do
  for f in "${forms[@]}"; do
    # Without a display the run ends at Tk_Init, after the whole load.
    run "${f%%.*}" env -u DISPLAY "$wirepaint" "$workdir/$f"
  done
  run zcat sh -c "gzip -dc '$workdir/gzip.pcap.gz' >/dev/null"
  run unzstd sh -c "zstd -q -dc '$workdir/zstd.pcap.zst' >/dev/null"
  run ngunzstd sh -c "zstd -q -dc '$workdir/ngzstd.pcapng.zst' >/dev/null"
done

peak_kib() { sort -n "$workdir/$1.rss" | tail -n1; }

packets=$("$pcap_count" "$capture")
plain_time=$(median plain)
plain_peak=$(peak_kib plain)
echo "wirepaint load by form: $(basename "$capture") ($packets packets), medians of $runs alternating runs, $(nproc) cores"
row() { printf '  %-22s %9s %9s %11s %13s %13s %13s\n' "$@"; }
row "" "time (s)" "CPU (s)" "/ plain" "/ longer" "peak (MiB)" "+ B/packet"
for f in plain pcapng gzip zstd ngzstd; do
  t=$(median "$f")
  case $f in
    gzip) alone=$(median zcat) ;;
    zstd) alone=$(median unzstd) ;;
    ngzstd) alone=$(median ngunzstd) ;;
    *) alone=0 ;;
  esac
  longer=$(awk -v a="$plain_time" -v b="$alone" 'BEGIN { print (a > b ? a : b) }')
  peak=$(peak_kib "$f")
  label=$f
  [ "$f" = ngzstd ] && label="pcapng zstd"
  row "$label" "$t" "$(median "$f" cpu)" "$(ratio "$t" "$plain_time")" "$(ratio "$t" "$longer")" \
    "$(peak_mib "$f")" \
    "$(awk -v k="$peak" -v p="$plain_peak" -v n="$packets" 'BEGIN { printf "%.1f", (k - p) * 1024 / n }')"
done
row "gzip -dc alone" "$(median zcat)" "$(median zcat cpu)" "" "" "$(peak_mib zcat)" ""
row "zstd -dc alone" "$(median unzstd)" "$(median unzstd cpu)" "" "" "$(peak_mib unzstd)" ""
row "zstd -dc pcapng alone" "$(median ngunzstd)" "$(median ngunzstd cpu)" "" "" "$(peak_mib ngunzstd)" ""
echo "  (/ longer: against the longer of the plain load and the decompression alone;"
echo "   a compressed load's CPU is the plain load's, the decompression's and the"
echo "   supply of its copies' pages: with two cores it cannot overlap them all)"
