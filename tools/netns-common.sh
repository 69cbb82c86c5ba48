# netns-common.sh - shell helpers of the scripts that record real captures
# in network namespaces (make_samples.sh, make_event_samples.sh,
# make_midstream_samples.sh); sourced, not run. The caller keeps the ids
# of its background processes in the array bg_pids.

# two_hosts NS_S NS_C S_ADDR C_ADDR RATE: makes namespaces NS_S (server) and
# NS_C (client) joined by one veth pair, veth-s and veth-c, addresses /24,
# offloads off (so captures show wire-sized segments), and a token bucket
# filter of RATE on the server's side.
two_hosts() {
    local s=$1 c=$2
    ip netns add "$s"
    ip netns add "$c"
    ip -n "$s" link add veth-s type veth peer name veth-c netns "$c"
    in_ns "$s" ip addr add "$3/24" dev veth-s
    in_ns "$c" ip addr add "$4/24" dev veth-c
    in_ns "$s" ethtool -K veth-s tso off gso off gro off >/dev/null
    in_ns "$c" ethtool -K veth-c tso off gso off gro off >/dev/null
    in_ns "$s" ip link set lo up
    in_ns "$c" ip link set lo up
    in_ns "$s" ip link set veth-s up
    in_ns "$c" ip link set veth-c up
    in_ns "$s" tc qdisc add dev veth-s root tbf rate "$5" burst 10kb latency 100ms
}

# router_hosts NS_S NS_C NS_R IF S_ADDR RS_ADDR RC_ADDR C_ADDR: makes the
# namespaces NS_S (server), NS_C (client) and NS_R (router), joined by two
# veth pairs, IF-s (server) to IF-rs (router) and IF-c (client) to IF-rc
# (router), with the addresses S_ADDR, RS_ADDR, RC_ADDR and C_ADDR (/24),
# every link and loopback up, offloads as Linux leaves them.
router_hosts() {
    local s=$1 c=$2 r=$3 i=$4 ns_if
    ip netns add "$s"
    ip netns add "$c"
    ip netns add "$r"
    ip link add "$i-s" netns "$s" type veth peer name "$i-rs" netns "$r"
    ip link add "$i-c" netns "$c" type veth peer name "$i-rc" netns "$r"
    ip -n "$s" addr add "$5/24" dev "$i-s"
    ip -n "$r" addr add "$6/24" dev "$i-rs"
    ip -n "$r" addr add "$7/24" dev "$i-rc"
    ip -n "$c" addr add "$8/24" dev "$i-c"
    for ns_if in "$s $i-s" "$c $i-c" "$r $i-rs" "$r $i-rc"; do
        set -- $ns_if
        ip -n "$1" link set lo up
        ip -n "$1" link set "$2" up
    done
}

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
