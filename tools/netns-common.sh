# netns-common.sh - shell helpers of the scripts that record real captures
# in network namespaces (make_samples.sh, make_event_samples.sh,
# make_midstream_samples.sh, make_wait_samples.sh,
# make_verdict_samples.sh); sourced, not run. The caller keeps the ids of
# its background processes in the array bg_pids.

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

# routed_hosts DELAY_MS CLIENT_OFFLOADS: makes the namespaces NS_S (server),
# NS_R (router) and NS_C (client) of the caller's variables, joined by two
# veth pairs (veth-s -- veth-rs, veth-rc -- veth-c) with the addresses
# S_ADDR, RS_ADDR, RC_ADDR and C_ADDR (/24 each side). The router forwards
# through the user-space delay line (delay_line.py in script_dir, DELAY_MS
# each way) on the TUN device D_IF, routing table D_TABLE; its log goes to
# $work/delay.log. Segmentation offloads are off at the server and the
# router, and at the client too unless CLIENT_OFFLOADS is "on".
routed_hosts() {
    local delay=$1 client_offloads=$2 ns pair
    local s_net=${S_ADDR%.*}.0/24 c_net=${C_ADDR%.*}.0/24
    for ns in "$NS_S" "$NS_R" "$NS_C"; do
        ip netns add "$ns"
        in_ns "$ns" ip link set lo up
        in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
        in_ns "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1
    done
    ip -n "$NS_S" link add veth-s type veth peer name veth-rs netns "$NS_R"
    ip -n "$NS_C" link add veth-c type veth peer name veth-rc netns "$NS_R"
    in_ns "$NS_S" ip addr add "$S_ADDR/24" dev veth-s
    in_ns "$NS_R" ip addr add "$RS_ADDR/24" dev veth-rs
    in_ns "$NS_R" ip addr add "$RC_ADDR/24" dev veth-rc
    in_ns "$NS_C" ip addr add "$C_ADDR/24" dev veth-c
    for pair in "$NS_S:veth-s" "$NS_R:veth-rs" "$NS_R:veth-rc" "$NS_C:veth-c"; do
        if [ "$pair" != "$NS_C:veth-c" ] || [ "$client_offloads" != on ]; then
            in_ns "${pair%%:*}" ethtool -K "${pair#*:}" tso off gso off gro off >/dev/null
        fi
        in_ns "${pair%%:*}" ip link set "${pair#*:}" up
    done
    in_ns "$NS_S" ip route add "$c_net" via "$RS_ADDR"
    in_ns "$NS_C" ip route add "$s_net" via "$RC_ADDR"
    in_ns "$NS_R" sysctl -qw net.ipv4.ip_forward=1
    # The delay line: what arrives on either veth is routed into the TUN
    # device, held, written back and forwarded by the main table.
    in_ns "$NS_R" ip tuntap add dev "$D_IF" mode tun
    for i in all default veth-rs veth-rc "$D_IF"; do
        in_ns "$NS_R" sysctl -qw "net.ipv4.conf.$i.rp_filter=0"
        in_ns "$NS_R" sysctl -qw "net.ipv4.conf.$i.send_redirects=0"
    done
    # Background processes run under ip netns exec itself, not the in_ns
    # function, so that the ids kept are theirs and the cleanup ends them.
    ip netns exec "$NS_R" python3 "$script_dir/delay_line.py" "$D_IF" "$delay" \
        </dev/null >"$work/delay.log" 2>&1 &
    bg_pids+=($!)
    wait_for 10 grep -q ready "$work/delay.log" || { echo "no delay line" >&2; exit 1; }
    in_ns "$NS_R" ip link set "$D_IF" up
    in_ns "$NS_R" ip route add "$s_net" dev "$D_IF" table "$D_TABLE"
    in_ns "$NS_R" ip route add "$c_net" dev "$D_IF" table "$D_TABLE"
    in_ns "$NS_R" ip rule add iif veth-rs lookup "$D_TABLE"
    in_ns "$NS_R" ip rule add iif veth-rc lookup "$D_TABLE"
}
