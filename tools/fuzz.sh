#!/usr/bin/env bash
# Runs the load fuzzer for a while on a seed corpus made from the sample
# captures, and keeps what it finds.
#   tools/fuzz.sh BUILD_DIR SECONDS
# The corpus grows in BUILD_DIR/fuzz-corpus from run to run; a finding
# is written to BUILD_DIR/fuzz-findings/ and makes the script fail.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-600}
here=$(cd "$(dirname "$0")/.." && pwd)

seeds="$build/fuzz-seeds"
corpus="$build/fuzz-corpus"
findings="$build/fuzz-findings"
mkdir -p "$seeds" "$corpus" "$findings"
captures=()
for f in "$here"/examples/*.pcap "$here"/examples/*.pcapng "$here"/tests/fuzz/*.pcap; do
  [ -f "$f" ] && captures+=("$f")
done
pairs=()
[ -f "$here/examples/sender.pcap" ] && [ -f "$here/examples/receiver.pcap" ] &&
  pairs+=("$here/examples/sender.pcap+$here/examples/receiver.pcap")
"$build/fuzz_seeds" "$seeds" "${captures[@]}" "${pairs[@]}"
# Earlier findings stay in the corpus, so a regression shows at once.
if [ -d "$here/tests/fuzz/findings" ]; then
  cp "$here"/tests/fuzz/findings/* "$seeds"/ 2>/dev/null || true
fi

exec "$build/fuzz_load" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -max_len=16384 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/" \
  "$corpus" "$seeds"
