#!/usr/bin/env bash
# bench.sh - the benchmarks of wirepaint on a large generated connection.
#
#   tools/bench.sh [BUILD]        (default build/, already built)
#
# Writes a bulk transfer of SEGMENTS packets at the sender (500000 by
# default; environment BENCH_SEGMENTS) captured at both ends with
# BUILD/gen_capture into BUILD/bench/, unless the files are there from an
# earlier run with the same count, then runs tools/bench-load.sh on the
# sender's file and on both files, tools/bench-formats.sh (the same
# file as pcapng, gzip'd and zstd'd) and tools/bench-nav.sh on the
# sender's file, then tools/bench-graph.cpp (BUILD/bench_graph) on the sender's
# file and on a 1,000,000-segment one (bench_graph first prints the bytes
# per segment of each structure the load keeps, of the scratch blocks
# its passes held at once at most (the analysis tables while they run,
# then the line list and the events on their pages), the resident memory
# after the load and its peak), then
# tools/bench-health.sh (the -L health table against tcptrace, the
# Connections dialog's sorting). With BENCH_BIG set to a packet count
# (50000000 for the fifty-million case) it also writes a bulk download of
# that many packets at the sender (1448-byte segments every 12 us, 0.1%
# loss; about 91 bytes a packet on disk) and times its load against
# tcptrace, one round. `make bench` installs what they need, builds and
# runs this.
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$repo_root/build}" && pwd)
segments=${BENCH_SEGMENTS:-500000}
dir=$build/bench
mkdir -p "$dir"

sender=$dir/sender-$segments.pcap
receiver=$dir/receiver-$segments.pcap
if [ ! -s "$sender" ] || [ ! -s "$receiver" ]; then
  "$build/gen_capture" -n "$segments" "$sender" "$receiver"
fi

if [ -x "$repo_root/tools/bench-load.sh" ]; then
  WIREPAINT="$build/wirepaint" PCAP_COUNT="$build/pcap_count" \
    "$repo_root/tools/bench-load.sh" "$sender"
  echo
  WIREPAINT="$build/wirepaint" PCAP_COUNT="$build/pcap_count" \
    "$repo_root/tools/bench-load.sh" "$sender" "$receiver"
  echo
fi
# The same sender's capture as pcapng and compressed, against the plain
# file, and the decompression alone.
WIREPAINT="$build/wirepaint" PCAP_COUNT="$build/pcap_count" \
  "$repo_root/tools/bench-formats.sh" "$sender"
echo
"$repo_root/tools/bench-nav.sh" "$build/wirepaint" "$sender"

# The graph redraws, on this capture and on one of 1,000,000 segments
# (BENCH_GRAPH_SEGMENTS), written at the sender only.
if [ -x "$build/bench_graph" ]; then
  echo
  "$build/bench_graph" "$sender"
  big=${BENCH_GRAPH_SEGMENTS:-1000000}
  if [ "$big" != "$segments" ]; then
    big_sender=$dir/sender-$big.pcap
    [ -s "$big_sender" ] || "$build/gen_capture" -n "$big" "$big_sender"
    echo
    "$build/bench_graph" "$big_sender"
  fi
fi

# The health table and the Connections dialog on a capture of many
# connections (BENCH_CONNS, 50,000 by default).
if [ -x "$build/gen_many" ]; then
  echo
  "$repo_root/tools/bench-health.sh" "$build"
fi

# The large load (BENCH_BIG packets), when asked for.
big_load=${BENCH_BIG:-0}
if [ "$big_load" -gt 0 ]; then
  big_file=$dir/bulk-$big_load.pcap
  [ -s "$big_file" ] || "$build/gen_capture" -n "$big_load" -g 12 -l 0.001 "$big_file"
  echo
  RUNS=1 WIREPAINT="$build/wirepaint" PCAP_COUNT="$build/pcap_count" \
    "$repo_root/tools/bench-load.sh" "$big_file"
  echo
  "$build/bench_graph" "$big_file" 0
else
  echo
  echo "(BENCH_BIG=50000000 make bench also times the load of a 50M-packet capture)"
fi
