#!/usr/bin/env bash
# make_nat_samples.sh - record downloads through a middlebox into two
# libpcap files, one captured at each end, as captures made across the
# internet or a cloud look: the two ends see different addresses and ports.
#
#   client 10.221.0.2 --veth-- 10.221.0.254 router 10.220.0.254 --veth-- 10.220.0.1 server
#
# The client asks for 10.221.0.254 port 80. In the default mode the router
# translates: DNAT of port 80 to the server's 10.220.0.1:8080, SNAT of the
# client to 10.220.0.254 with random ports (iptables --random-fully), so the
# server sees neither the client's address nor its port, and the client not
# the server's. With -m relay a user-space relay in the router terminates
# TCP instead (accepts on port 80, opens its own connection to the server):
# two separate connections, of which neither capture holds a copy of the
# other's. The router drops a share of the forwarded packets at random
# (iptables statistic) and its link towards the client is limited by a
# token bucket filter, so the connection sees loss and queueing. Offloads
# stay on as Linux hosts have them.
#
# Usage: make_nat_samples.sh [-m nat|relay] [-n CONNECTIONS] [-s SIZE]
#                            [-d DROP] [-p PREFIX] OUTDIR
#   -n  concurrent downloads (default 1), each of SIZE bytes (default 300000)
#   -d  probability of a drop per forwarded packet (default 0.005)
#   -p  prefix of the output names (default "nat-")
# Output: OUTDIR/PREFIXserver.pcap (captured in the server's namespace) and
# OUTDIR/PREFIXclient.pcap (in the client's). Namespaces are named after
# NS_PREFIX (default "wpnat") and deleted at the end. Needs root, ip,
# iptables, tcpdump and python3 (installed with apt-get when missing).
set -euo pipefail

mode=nat
conns=1
size=300000
drop=0.005
prefix=nat-
while getopts m:n:s:d:p: opt; do
    case $opt in
    m) mode=$OPTARG ;;
    n) conns=$OPTARG ;;
    s) size=$OPTARG ;;
    d) drop=$OPTARG ;;
    p) prefix=$OPTARG ;;
    *) echo "usage: $0 [-m nat|relay] [-n N] [-s SIZE] [-d DROP] [-p PREFIX] OUTDIR" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
out=${1:?usage: $0 [-m nat|relay] [-n N] [-s SIZE] [-d DROP] [-p PREFIX] OUTDIR}
mkdir -p "$out"

for cmd in ip iptables tcpdump python3; do
    command -v "$cmd" >/dev/null || apt-get install -y iproute2 iptables tcpdump python3 >/dev/null
done

source "$(dirname "${BASH_SOURCE[0]}")/netns-common.sh"
ns=${NS_PREFIX:-wpnat}
NS_S=$ns-s NS_C=$ns-c NS_R=$ns-r
work=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    ip netns del "$NS_S" 2>/dev/null || true
    ip netns del "$NS_C" 2>/dev/null || true
    ip netns del "$NS_R" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

router_hosts "$NS_S" "$NS_C" "$NS_R" nat 10.220.0.1 10.220.0.254 10.221.0.254 10.221.0.2
# The client reaches only the router's address; the server has no route
# to the client's network, so without the SNAT its answers would go nowhere.
ip -n "$NS_C" route add default via 10.221.0.254
ip netns exec "$NS_R" sysctl -qw net.ipv4.ip_forward=1
ip netns exec "$NS_R" tc qdisc add dev nat-rc root tbf rate 40mbit burst 10kb latency 50ms
ip netns exec "$NS_R" iptables -A FORWARD -m statistic --mode random --probability "$drop" -j DROP
if [ "$mode" = nat ]; then
    ip netns exec "$NS_R" iptables -t nat -A PREROUTING -i nat-rc -p tcp --dport 80 \
        -j DNAT --to-destination 10.220.0.1:8080
    ip netns exec "$NS_R" iptables -t nat -A POSTROUTING -o nat-rs -p tcp \
        -j SNAT --to-source 10.220.0.254 --random-fully
fi

cat >"$work/server.py" <<'EOF'
import socket, sys, threading, time
size = int(sys.argv[1])
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("10.220.0.1", 8080))
s.listen(128)
open(sys.argv[2], "w").close()
def serve(c):
    c.recv(1000)
    c.sendall(b"x" * size)
    time.sleep(0.2)
    c.close()
while True:
    c, _ = s.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
EOF
cat >"$work/relay.py" <<'EOF'
import socket, sys, threading
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("10.221.0.254", 80))
s.listen(128)
open(sys.argv[1], "w").close()
def pump(a, b):
    while True:
        d = a.recv(65536)
        if not d:
            break
        b.sendall(d)
    try:
        b.shutdown(socket.SHUT_WR)
    except OSError:
        pass
def relay(c):
    u = socket.create_connection(("10.220.0.1", 8080))
    threading.Thread(target=pump, args=(u, c), daemon=True).start()
    pump(c, u)
while True:
    c, _ = s.accept()
    threading.Thread(target=relay, args=(c,), daemon=True).start()
EOF
cat >"$work/client.py" <<'EOF'
import socket, sys, threading
def fetch():
    c = socket.create_connection(("10.221.0.254", 80))
    c.sendall(b"GET /data HTTP/1.0\r\n\r\n")
    while c.recv(65536):
        pass
    c.close()
ts = [threading.Thread(target=fetch) for _ in range(int(sys.argv[1]))]
for t in ts:
    t.start()
for t in ts:
    t.join()
EOF

ip netns exec "$NS_S" tcpdump -i nat-s -s 96 -U -w "$out/${prefix}server.pcap" "tcp port 8080" 2>/dev/null &
pids+=($!)
ip netns exec "$NS_C" tcpdump -i nat-c -s 96 -U -w "$out/${prefix}client.pcap" "tcp port 80" 2>/dev/null &
pids+=($!)
sleep 1
ip netns exec "$NS_S" python3 "$work/server.py" "$size" "$work/ready-s" &
pids+=($!)
while [ ! -e "$work/ready-s" ]; do sleep 0.05; done
if [ "$mode" = relay ]; then
    ip netns exec "$NS_R" python3 "$work/relay.py" "$work/ready-r" &
    pids+=($!)
    while [ ! -e "$work/ready-r" ]; do sleep 0.05; done
fi
ip netns exec "$NS_C" python3 "$work/client.py" "$conns"
sleep 1.5
echo "make_nat_samples: wrote $out/${prefix}server.pcap and $out/${prefix}client.pcap ($mode, $conns connection(s))"
