# netns-common.sh - shell helpers of the scripts that record real captures
# in network namespaces (make_samples.sh, make_event_samples.sh); sourced,
# not run. The caller keeps the ids of its background processes in the
# array bg_pids.

# in_ns NS COMMAND...: runs COMMAND in network namespace NS.
in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

# wait_for SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds;
# fails after SECONDS.
wait_for() {
    local t=$(( $1 * 10 )); shift
    while ! "$@" >/dev/null 2>&1; do
        t=$(( t - 1 ))
        [ "$t" -gt 0 ] || return 1
        sleep 0.1
    done
}

# stop_and_delete NS...: ends the processes of bg_pids, waits for them and
# deletes the namespaces NS.
stop_and_delete() {
    local p ns
    for p in "${bg_pids[@]}"; do
        kill "$p" 2>/dev/null || true
    done
    for p in "${bg_pids[@]}"; do
        wait "$p" 2>/dev/null || true
    done
    bg_pids=()
    for ns in "$@"; do
        ip netns del "$ns" 2>/dev/null || true
    done
}
