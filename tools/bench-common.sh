# bench-common.sh - the timed run and the medians of the load benchmarks
# (bench-load.sh, bench-formats.sh); sourced, not run. The caller sets
# workdir, a scratch folder.

# run NAME CMD... : one timed run; appends the wall time in seconds to
# $workdir/NAME.time, the CPU time to $workdir/NAME.cpu and the peak RSS
# in KiB to $workdir/NAME.rss.
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
  awk -F: '/(User|System) time \(seconds\)/ { s += $2 } END { printf "%.4f\n", s }' \
    "$workdir/$name.v" >>"$workdir/$name.cpu"
}

# median NAME [time|cpu|rss]: the median of the runs of NAME.
median() { sort -n "$workdir/$1.${2:-time}" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# peak_mib NAME: the largest peak RSS of the runs of NAME, MiB.
peak_mib() { sort -n "$workdir/$1.rss" | tail -n1 | awk '{ printf "%.1f", $1 / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
