#!/usr/bin/env bash
# make_samples.sh - record a real Linux TCP connection with packet loss into
# two libpcap files, one captured at each end of the connection.
#
# What it does:
#   * builds three network namespaces joined by two veth pairs:
#         sender 10.77.1.1 --- 10.77.1.2 router 10.77.2.2 --- 10.77.2.1 receiver
#     with the router forwarding (net.ipv4.ip_forward=1) between the two links;
#   * turns segmentation/receive offloads off on every veth (ethtool -K ...
#     tso off gso off gro off) so the captures show wire-sized segments;
#   * in the router, delays every forwarded packet by DELAY_MS (20 ms) in
#     each direction with a userspace delay line: policy routing sends what
#     arrives on either veth into a TUN device (wpdelay), a small python3
#     program reads each packet from it and writes it back unchanged
#     DELAY_MS later, in arrival order, and the kernel then forwards it out
#     of the right veth by the main routing table (no netem needed); the
#     round trip is checked with ping (about 2 * DELAY_MS) before the
#     download;
#   * drops 1% of forwarded packets at random, once per packet, as they
#     leave the delay line (iptables "statistic" match on "-i wpdelay";
#     falls back to "tc netem loss 1%" if the kernel has no such match) and
#     limits the rate towards the receiver with a token bucket filter
#     (tc tbf), so the connection sees queueing and drops;
#   * serves a file of random bytes with "python3 -m http.server" in the
#     sender namespace and downloads it with curl from the receiver
#     namespace, so the data flows from the sender;
#   * captures that one connection with tcpdump, snaplen 96, classic pcap,
#     on the sender's veth and on the receiver's veth;
#   * checks that each file holds exactly one TCP connection, from SYN to FIN
#     in both directions, that both files show the same connection, and
#     that each has from MIN_RETRANS (at least 1) to MAX_RETRANS
#     retransmitted data segments; tries again (up to MAX_TRIES runs) when
#     not.
#
# Usage: make_samples.sh [-s SIZE] [OUTDIR]
#   -s SIZE  download size in bytes, with an optional K, M or G suffix
#            (powers of 1024); 400K by default. A large size makes a large
#            capture: about 1.5 packets per 1448 bytes at the sender, so
#            -s 480M gives some 500,000 packets; give it a faster RATE too
#            (RATE=200mbit), or the download takes SIZE / RATE. With a
#            size above the default, the download may take SIZE / RATE
#            three times over plus a minute, and a file may hold up to one
#            retransmission in 50 segments unless MAX_RETRANS says
#            otherwise.
#
# Output: OUTDIR/sender.pcap and OUTDIR/receiver.pcap, where OUTDIR is the
# argument, by default examples/ in the repository that holds this
# script. A summary (packets, retransmissions, ports) is printed at the end.
#
# Needs: Linux with network namespaces, veth, tun (/dev/net/tun), tbf, and
# iptables' statistic match (or netem); root; the commands ip, tc, ss
# (iproute2), iptables, ethtool, tcpdump, ping, python3 and curl. Missing
# ones are installed from the Debian packages with apt-get when run as root.
#
# Environment knobs: SIZE_KB (download size in KiB, default 400; -s wins),
# PORT (server TCP
# port, default 8080), LOSS (drop probability, default 0.01), RATE (tbf rate,
# default 4mbit), RCVBUF (receiver's tcp_rmem maximum, default 65536),
# DELAY_MS (one-way delay added by the router, default 20), MAX_TRIES
# (default 10), MIN_RETRANS and MAX_RETRANS (fewest and most retransmitted
# data segments accepted in each file, default 2 and 10; MIN_RETRANS is at
# least 1), OFFLOADS ("on": TSO and GSO stay on on the sender's veth and GRO
# on the receiver's, as Linux hosts have them by default, so the sender's
# capture holds super-segments and the receiver's merged ones; the router's
# veths keep theirs off; default off), PREFIX (put before the file names,
# default none) and ROUTER (1: also capture on the router's link to the
# sender into PREFIXrouter.pcap, a capture taken in the path).
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)

log() { printf 'make_samples: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }
usage() { echo "Usage: $0 [-s SIZE] [OUTDIR]" >&2; exit 2; }

# size_kb TEXT: a size in bytes with an optional K, M or G suffix, in KiB
# (at least 1); fails on anything else.
size_kb() {
    local n=${1%[KkMmGg]} unit=${1#"${1%[KkMmGg]}"} mult=1
    [[ $n =~ ^[0-9]+$ ]] || return 1
    case $unit in
        K|k) mult=1024 ;;
        M|m) mult=$(( 1024 * 1024 )) ;;
        G|g) mult=$(( 1024 * 1024 * 1024 )) ;;
    esac
    local kb=$(( n * mult / 1024 ))
    [ "$kb" -ge 1 ] || kb=1
    echo "$kb"
}

# rate_kbit TEXT: a tc rate such as 4mbit or 500kbit in kbit/s.
rate_kbit() {
    local n=${1%%[a-zA-Z]*} unit=${1#"${1%%[a-zA-Z]*}"}
    [[ $n =~ ^[0-9]+$ ]] || { echo 0; return; }
    case $unit in
        kbit) echo "$n" ;;
        mbit) echo $(( n * 1000 )) ;;
        gbit) echo $(( n * 1000 * 1000 )) ;;
        *) echo 0 ;;
    esac
}

while getopts s:h opt; do
    case $opt in
        s) SIZE_KB=$(size_kb "$OPTARG") || die "bad size: $OPTARG (bytes, or with K, M or G)" ;;
        *) usage ;;
    esac
done
shift $(( OPTIND - 1 ))
[ $# -le 1 ] || usage
outdir=${1:-$repo_root/examples}

SIZE_KB=${SIZE_KB:-400}
PORT=${PORT:-8080}
LOSS=${LOSS:-0.01}
RATE=${RATE:-4mbit}
MAX_TRIES=${MAX_TRIES:-10}
RCVBUF=${RCVBUF:-65536}
DELAY_MS=${DELAY_MS:-20}
MIN_RETRANS=${MIN_RETRANS:-2}
OFFLOADS=${OFFLOADS:-off}
PREFIX=${PREFIX:-}
ROUTER=${ROUTER:-0}
[ "$MIN_RETRANS" -ge 1 ] || MIN_RETRANS=1
TBF="rate $RATE burst 10kb latency 100ms"

# The sample's size keeps the bounds of the first captures; a larger
# download gets room in time and in retransmissions.
CURL_MAX_TIME=60
if [ "$SIZE_KB" -gt 400 ]; then
    kbit=$(rate_kbit "$RATE")
    [ "$kbit" -gt 0 ] || die "cannot read RATE=$RATE (kbit, mbit or gbit)"
    CURL_MAX_TIME=$(( SIZE_KB * 8 * 1024 / 1000 * 3 / kbit + 60 ))
    MAX_RETRANS=${MAX_RETRANS:-$(( SIZE_KB * 1024 / 1448 / 50 + 10 ))}
fi
MAX_RETRANS=${MAX_RETRANS:-10}

[ "$(id -u)" -eq 0 ] || die "must run as root (namespaces, iptables, tcpdump)"

# ---- install what is missing ------------------------------------------------
need_pkgs=()
command -v ip >/dev/null 2>&1       || need_pkgs+=(iproute2)
command -v tc >/dev/null 2>&1       || need_pkgs+=(iproute2)
command -v ss >/dev/null 2>&1       || need_pkgs+=(iproute2)
command -v iptables >/dev/null 2>&1 || need_pkgs+=(iptables)
command -v ethtool >/dev/null 2>&1  || need_pkgs+=(ethtool)
command -v tcpdump >/dev/null 2>&1  || need_pkgs+=(tcpdump)
command -v python3 >/dev/null 2>&1  || need_pkgs+=(python3)
command -v curl >/dev/null 2>&1     || need_pkgs+=(curl)
command -v ping >/dev/null 2>&1     || need_pkgs+=(iputils-ping)
if [ ${#need_pkgs[@]} -gt 0 ]; then
    command -v apt-get >/dev/null 2>&1 || die "missing: ${need_pkgs[*]} (and no apt-get)"
    log "installing ${need_pkgs[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_pkgs[@]}" >/dev/null
fi

# ---- names ------------------------------------------------------------------
tag=$$
NS_S=wpsnd$tag       # sender: runs the server, data flows from here
NS_R=wprtr$tag       # router: forwards, drops, shapes
NS_C=wprcv$tag       # receiver: runs the client
S_IF=veth-s          # sender side of link 1   (in NS_S)
RS_IF=veth-rs        # router side of link 1   (in NS_R)
RC_IF=veth-rc        # router side of link 2   (in NS_R)
C_IF=veth-c          # receiver side of link 2 (in NS_C)
D_IF=wpdelay         # TUN device of the delay line (in NS_R)
D_TABLE=200          # routing table that sends arriving packets into D_IF
S_ADDR=10.77.1.1
RS_ADDR=10.77.1.2
RC_ADDR=10.77.2.2
C_ADDR=10.77.2.1

work=$(mktemp -d "${TMPDIR:-/tmp}/make_samples.XXXXXX")
bg_pids=()

# shellcheck source=tools/netns-common.sh
. "$script_dir/netns-common.sh"

cleanup() { stop_and_delete "$NS_S" "$NS_R" "$NS_C"; }
on_exit() {
    cleanup
    rm -rf "$work"
}
trap on_exit EXIT
trap 'exit 130' INT TERM

# ---- pcap checker: one connection, SYN..FIN, count retransmissions ----------
# A retransmitted segment is counted as: a TCP segment from the server port
# with payload (IP total length - IP header - TCP header > 0) whose sequence
# number is below the highest "seq + payload length" seen before it from the
# server in the same file (sequence numbers compared modulo 2^32).
cat >"$work/check.py" <<'PY'
import struct, sys

def packets(path):
    with open(path, 'rb') as f:
        data = f.read()
    magic = data[:4]
    if magic in (b'\xd4\xc3\xb2\xa1', b'\x4d\x3c\xb2\xa1'):
        e = '<'
    elif magic in (b'\xa1\xb2\xc3\xd4', b'\xa1\xb2\x3c\x4d'):
        e = '>'
    else:
        sys.exit('%s: not a classic pcap file' % path)
    _, _, _, _, snaplen, linktype = struct.unpack(e + 'IHHiII', data[4:24])
    off = 24
    out = []
    while off + 16 <= len(data):
        _, _, incl, _ = struct.unpack(e + 'IIII', data[off:off + 16])
        out.append(data[off + 16:off + 16 + incl])
        off += 16 + incl
    return snaplen, linktype, out

def main(path, port):
    snaplen, linktype, pkts = packets(path)
    if linktype != 1:
        sys.exit('%s: link type %d, expected 1 (Ethernet)' % (path, linktype))
    conns = set()
    syn = fin_srv = fin_cli = 0
    retrans = 0
    hi = None
    first_syn = False
    for i, p in enumerate(pkts):
        if len(p) < 14 + 20 or struct.unpack('>H', p[12:14])[0] != 0x0800:
            sys.exit('%s: packet %d is not IPv4' % (path, i + 1))
        ip = p[14:]
        ihl = (ip[0] & 15) * 4
        tot = struct.unpack('>H', ip[2:4])[0]
        if ip[9] != 6:
            sys.exit('%s: packet %d is not TCP' % (path, i + 1))
        tcp = ip[ihl:]
        sport, dport, seq = struct.unpack('>HHI', tcp[:8])
        doff = (tcp[12] >> 4) * 4
        flags = tcp[13]
        src = '.'.join(map(str, ip[12:16]))
        dst = '.'.join(map(str, ip[16:20]))
        a, b = (src, sport), (dst, dport)
        conns.add((min(a, b), max(a, b)))
        if i == 0 and flags & 0x02 and not flags & 0x10:
            first_syn = True
        if flags & 0x02:
            syn += 1
        plen = tot - ihl - doff
        if sport == port:
            if flags & 0x01:
                fin_srv += 1
            if plen > 0:
                if hi is not None and 0 < ((hi - seq) & 0xffffffff) < 0x80000000:
                    retrans += 1
                end = (seq + plen) & 0xffffffff
                if hi is None or 0 < ((end - hi) & 0xffffffff) < 0x80000000:
                    hi = end
        elif flags & 0x01:
            fin_cli += 1
    ok = len(conns) == 1 and first_syn and fin_srv > 0 and fin_cli > 0
    (ca, cb) = sorted(conns)[0] if conns else ((None, None), (None, None))
    print('packets=%d linktype=%d snaplen=%d connections=%d first_is_syn=%d '
          'fin_server=%d fin_client=%d retransmissions=%d ok=%d endpoints=%s:%s,%s:%s'
          % (len(pkts), linktype, snaplen, len(conns), first_syn, fin_srv,
             fin_cli, retrans, ok, ca[0], ca[1], cb[0], cb[1]))

main(sys.argv[1], int(sys.argv[2]))
PY

# The delay line is tools/delay_line.py.

field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1"; }

# ---- one run ----------------------------------------------------------------
setup_net() {
    local ns
    for ns in "$NS_S" "$NS_R" "$NS_C"; do
        ip netns add "$ns"
        in_ns "$ns" ip link set lo up
        # keep the links quiet: no IPv6 router solicitations or MLD reports
        in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
        in_ns "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1
    done

    ip -n "$NS_S" link add "$S_IF" type veth peer name "$RS_IF" netns "$NS_R"
    ip -n "$NS_C" link add "$C_IF" type veth peer name "$RC_IF" netns "$NS_R"

    in_ns "$NS_S" ip addr add "$S_ADDR/24" dev "$S_IF"
    in_ns "$NS_R" ip addr add "$RS_ADDR/24" dev "$RS_IF"
    in_ns "$NS_R" ip addr add "$RC_ADDR/24" dev "$RC_IF"
    in_ns "$NS_C" ip addr add "$C_ADDR/24" dev "$C_IF"

    local pair
    for pair in "$NS_S:$S_IF" "$NS_R:$RS_IF" "$NS_R:$RC_IF" "$NS_C:$C_IF"; do
        in_ns "${pair%%:*}" ethtool -K "${pair#*:}" tso off gso off gro off
        in_ns "${pair%%:*}" ip link set "${pair#*:}" up
    done

    if [ "$OFFLOADS" = on ]; then
        in_ns "$NS_S" ethtool -K "$S_IF" tso on gso on
        in_ns "$NS_C" ethtool -K "$C_IF" gro on
    fi

    in_ns "$NS_S" ip route add 10.77.2.0/24 via "$RS_ADDR"
    in_ns "$NS_C" ip route add 10.77.1.0/24 via "$RC_ADDR"
    in_ns "$NS_R" sysctl -qw net.ipv4.ip_forward=1
    # A small receive buffer caps the receiver's window (about RCVBUF bytes),
    # so the sender's burst fits in the router's queue: the connection sees
    # queueing delay, and its losses are mostly the random drops below
    # rather than a queue overflowing in slow start.
    in_ns "$NS_C" sysctl -qw net.ipv4.tcp_rmem="4096 $RCVBUF $RCVBUF"

    setup_delay

    # Random loss of forwarded packets, both directions. Every packet is
    # forwarded twice in the router (veth -> wpdelay, then wpdelay -> veth);
    # the rule matches only the second pass, so each packet has one chance
    # of LOSS to be dropped.
    if in_ns "$NS_R" iptables -A FORWARD -i "$D_IF" -m statistic --mode random \
            --probability "$LOSS" -j DROP 2>/dev/null; then
        loss_how="iptables statistic match on packets leaving the delay line, probability $LOSS"
    elif command -v iptables-legacy >/dev/null 2>&1 &&
         in_ns "$NS_R" iptables-legacy -A FORWARD -i "$D_IF" -m statistic --mode random \
            --probability "$LOSS" -j DROP 2>/dev/null; then
        loss_how="iptables-legacy statistic match on packets leaving the delay line, probability $LOSS"
    else
        loss_how=netem
    fi

    # Rate limit towards the receiver: the data path sees queueing and drops.
    if [ "$loss_how" = netem ]; then
        # No statistic match: netem does the loss, tbf below it the shaping.
        local pct
        pct=$(python3 -c "print('%g%%' % ($LOSS * 100))")
        in_ns "$NS_R" tc qdisc add dev "$RC_IF" root handle 1: netem loss "$pct" \
            || die "neither iptables statistic match nor netem works here"
        in_ns "$NS_R" tc qdisc add dev "$RC_IF" parent 1:1 handle 10: \
            tbf $TBF
        loss_how="tc netem loss $pct on the router's link to the receiver (data path only)"
    else
        in_ns "$NS_R" tc qdisc add dev "$RC_IF" root tbf $TBF
    fi
}

# The delay line in the router. Packets that arrive on either veth are
# routed (table D_TABLE, chosen by incoming interface) into the TUN device
# D_IF; delay.py holds each for DELAY_MS and writes it back; coming in again
# on D_IF, it follows the main table out of the veth towards its
# destination. Traffic to the router's own addresses takes the local table
# first and is not delayed. Reverse-path filtering is off, since a packet
# from the sender now also comes in on D_IF.
setup_delay() {
    local i
    in_ns "$NS_R" ip tuntap add dev "$D_IF" mode tun
    for i in all default "$RS_IF" "$RC_IF" "$D_IF"; do
        in_ns "$NS_R" sysctl -qw "net.ipv4.conf.$i.rp_filter=0"
        in_ns "$NS_R" sysctl -qw "net.ipv4.conf.$i.send_redirects=0"
    done

    ip netns exec "$NS_R" python3 "$script_dir/delay_line.py" "$D_IF" "$DELAY_MS" \
        >"$work/run$run/delay.log" 2>&1 &
    bg_pids+=($!)
    wait_for 10 grep -q ready "$work/run$run/delay.log" || die "delay line did not start"
    in_ns "$NS_R" ip link set "$D_IF" up

    in_ns "$NS_R" ip route add 10.77.1.0/24 dev "$D_IF" table "$D_TABLE"
    in_ns "$NS_R" ip route add 10.77.2.0/24 dev "$D_IF" table "$D_TABLE"
    in_ns "$NS_R" ip rule add iif "$RS_IF" lookup "$D_TABLE"
    in_ns "$NS_R" ip rule add iif "$RC_IF" lookup "$D_TABLE"
    delay_how="userspace delay line (TUN $D_IF) in the router, $DELAY_MS ms each way"
}

# Round trip from the receiver to the sender through the router, by ping:
# must be about 2 * DELAY_MS (at least that, less 2 ms; at most that plus
# 20 ms, since the path is idle). Logs the figures and keeps them in rtt_how;
# ends the script when the round trip is off.
check_rtt() {
    local out avg min
    out=$(in_ns "$NS_C" ping -n -q -c 10 -i 0.2 -W 2 "$S_ADDR") || die "ping through the router failed"
    min=$(sed -n 's|^rtt [^=]*= \([0-9.]*\)/\([0-9.]*\)/.*|\1|p' <<<"$out")
    avg=$(sed -n 's|^rtt [^=]*= \([0-9.]*\)/\([0-9.]*\)/.*|\2|p' <<<"$out")
    [ -n "$avg" ] || die "no round trip time in ping output: $out"
    log "ping $C_ADDR -> $S_ADDR: rtt min $min ms, avg $avg ms"
    python3 -c "import sys; sys.exit(not ($min >= 2*$DELAY_MS - 2 and $avg <= 2*$DELAY_MS + 20))" ||
        die "round trip $avg ms, expected about $(( 2 * DELAY_MS )) ms"
    rtt_how="ping rtt min $min ms, avg $avg ms"
}

listening() { in_ns "$NS_S" ss -Hltn "sport = :$PORT" | grep -q .; }
tcpdump_ready() { grep -q 'listening on' "$1"; }

one_run() {
    local run=$1
    loss_how='' delay_how='' rtt_how=''
    mkdir -p "$work/www" "$work/run$run"
    setup_net
    check_rtt
    [ -f "$work/www/data.bin" ] ||
        head -c "$(( SIZE_KB * 1024 ))" /dev/urandom >"$work/www/data.bin"

    # Started directly (not through a shell function) so that $! is the
    # process itself and can be signalled.
    ip netns exec "$NS_S" python3 -m http.server --bind "$S_ADDR" --directory "$work/www" "$PORT" \
        >"$work/run$run/server.log" 2>&1 &
    bg_pids+=($!)
    wait_for 10 listening || die "server did not start"

    local filter="tcp port $PORT"
    ip netns exec "$NS_S" tcpdump -i "$S_IF" -s 96 -U -nn -Z root -w "$work/run$run/sender.pcap" \
        "$filter" 2>"$work/run$run/tcpdump-sender.log" &
    local td_s=$!
    bg_pids+=($td_s)
    ip netns exec "$NS_C" tcpdump -i "$C_IF" -s 96 -U -nn -Z root -w "$work/run$run/receiver.pcap" \
        "$filter" 2>"$work/run$run/tcpdump-receiver.log" &
    local td_c=$!
    bg_pids+=($td_c)
    if [ "$ROUTER" = 1 ]; then
        ip netns exec "$NS_R" tcpdump -i "$RS_IF" -s 96 -U -nn -Z root -w "$work/run$run/router.pcap" \
            "$filter" 2>"$work/run$run/tcpdump-router.log" &
        bg_pids+=($!)
        wait_for 10 tcpdump_ready "$work/run$run/tcpdump-router.log" || die "tcpdump (router) did not start"
    fi
    wait_for 10 tcpdump_ready "$work/run$run/tcpdump-sender.log" || die "tcpdump (sender) did not start"
    wait_for 10 tcpdump_ready "$work/run$run/tcpdump-receiver.log" || die "tcpdump (receiver) did not start"
    sleep 0.5

    in_ns "$NS_C" curl -sS --max-time "$CURL_MAX_TIME" -o "$work/run$run/data.out" \
        "http://$S_ADDR:$PORT/data.bin"
    cmp -s "$work/www/data.bin" "$work/run$run/data.out" || die "download differs from the served file"

    # Let the closing handshake (and any retransmitted FIN) finish.
    sleep 3
    # SIGTERM, not SIGINT: background jobs of a script start with SIGINT
    # ignored. tcpdump flushes and closes its file on SIGTERM.
    kill -TERM "$td_s" "$td_c"
    wait "$td_s" 2>/dev/null || true
    wait "$td_c" 2>/dev/null || true
    sleep 0.5   # the router's tcpdump, if any, ends with the cleanup below
    router_drops
    cleanup
}

# Logs how many packets the router dropped at random and in the tbf queue
# during the run (the iptables rule's counter and the qdisc's statistics).
router_drops() {
    local rnd tbf
    rnd=$(in_ns "$NS_R" iptables -L FORWARD -v -x -n 2>/dev/null | awk '$3 == "DROP" {print $1; exit}')
    tbf=$(in_ns "$NS_R" tc -s qdisc show dev "$RC_IF" | sed -n 's/.*(dropped \([0-9]*\),.*/\1/p' | head -n 1)
    log "router dropped: ${rnd:-?} at random, ${tbf:-?} in the tbf queue (ping included)"
}

# ---- main -------------------------------------------------------------------
mkdir -p "$outdir"
run=0
while :; do
    run=$(( run + 1 ))
    [ "$run" -le "$MAX_TRIES" ] || die "no run with $MIN_RETRANS to $MAX_RETRANS retransmissions in $MAX_TRIES tries"
    log "run $run"
    one_run "$run"
    s=$(python3 "$work/check.py" "$work/run$run/sender.pcap" "$PORT")
    r=$(python3 "$work/check.py" "$work/run$run/receiver.pcap" "$PORT")
    log "sender:   $s"
    log "receiver: $r"
    [ "$(field "$s" ok)" = 1 ] && [ "$(field "$r" ok)" = 1 ] || { log "incomplete capture, again"; continue; }
    [ "$(field "$s" endpoints)" = "$(field "$r" endpoints)" ] || { log "files differ in connection, again"; continue; }
    rs=$(field "$s" retransmissions) rr=$(field "$r" retransmissions)
    if [ "$rs" -gt "$MAX_RETRANS" ] || [ "$rr" -gt "$MAX_RETRANS" ]; then
        log "more than $MAX_RETRANS retransmissions, again"
        continue
    fi
    if [ "$rs" -ge "$MIN_RETRANS" ] && [ "$rr" -ge "$MIN_RETRANS" ]; then
        break
    fi
    log "fewer than $MIN_RETRANS retransmissions, again"
done

cp "$work/run$run/sender.pcap" "$outdir/${PREFIX}sender.pcap"
cp "$work/run$run/receiver.pcap" "$outdir/${PREFIX}receiver.pcap"
chmod 644 "$outdir/${PREFIX}sender.pcap" "$outdir/${PREFIX}receiver.pcap"
if [ "$ROUTER" = 1 ]; then
    cp "$work/run$run/router.pcap" "$outdir/${PREFIX}router.pcap"
    chmod 644 "$outdir/${PREFIX}router.pcap"
fi
log "loss: $loss_how; rate: tbf $TBF; delay: $delay_how ($rtt_how); offloads $OFFLOADS"
log "wrote $outdir/${PREFIX}sender.pcap and $outdir/${PREFIX}receiver.pcap"
printf 'sender.pcap   %s\nreceiver.pcap %s\n' "$s" "$r"
