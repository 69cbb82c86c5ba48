#!/usr/bin/env bash
# make_lan_samples.sh - record a download over a short path (a server and a
# client namespace joined through a router namespace by two veth pairs, a
# round trip of tens of microseconds,
# as on a LAN, in a data centre or between containers) into two libpcap
# files, one captured at each end.
#
# The server sends SIZE bytes, waits until they are all on the wire and
# closes first, so its FIN travels alone with the same acknowledgement
# number as every data segment before it (the client sends nothing after
# its request): the shape of HTTP/1.0, FTP data and most bulk senders.
#
# Usage: make_lan_samples.sh [-o] [-p PREFIX] [-s SIZE_BYTES] OUTDIR
# Output: OUTDIR/lan-server.pcap (captured in the server's namespace),
# OUTDIR/lan-client.pcap (in the client's) and OUTDIR/lan-router.pcap (in
# the router's, on its link to the server: a capture taken in the path),
# with PREFIX before "lan-" when given. With -o, the offloads stay on as
# Linux hosts have them by default: TSO and GSO on the server's veth, GRO
# on the client's. Needs root, ip, tcpdump, ethtool and python3 (installed
# with apt-get when missing).
set -euo pipefail

size=200000
offloads=off
prefix=
while getopts op:s: opt; do
    case $opt in
    s) size=$OPTARG ;;
    o) offloads=on ;;
    p) prefix=$OPTARG ;;
    *) echo "usage: $0 [-o] [-p PREFIX] [-s SIZE_BYTES] OUTDIR" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
out=${1:?usage: $0 [-s SIZE_BYTES] OUTDIR}
mkdir -p "$out"

for cmd in ip tcpdump ethtool python3; do
    command -v "$cmd" >/dev/null || apt-get install -y iproute2 tcpdump ethtool python3 >/dev/null
done

source "$(dirname "${BASH_SOURCE[0]}")/netns-common.sh"
NS_S=wplan-s.$$ NS_C=wplan-c.$$ NS_R=wplan-r.$$ PORT=8081
work=$(mktemp -d)
cleanup() {
    ip netns del "$NS_S" 2>/dev/null || true
    ip netns del "$NS_C" 2>/dev/null || true
    ip netns del "$NS_R" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

router_hosts "$NS_S" "$NS_C" "$NS_R" lan 10.78.1.1 10.78.1.2 10.78.2.2 10.78.2.1
for ns_if in "$NS_S lan-s" "$NS_C lan-c" "$NS_R lan-rs" "$NS_R lan-rc"; do
    set -- $ns_if
    ip netns exec "$1" ethtool -K "$2" tso off gso off gro off >/dev/null 2>&1 || true
done
if [ "$offloads" = on ]; then
    ip netns exec "$NS_S" ethtool -K lan-s tso on gso on >/dev/null
    ip netns exec "$NS_C" ethtool -K lan-c gro on >/dev/null
fi
ip netns exec "$NS_R" sysctl -qw net.ipv4.ip_forward=1
ip -n "$NS_S" route add default via 10.78.1.2
ip -n "$NS_C" route add default via 10.78.2.2

cat >"$work/server.py" <<'EOF'
import socket, sys, time
size = int(sys.argv[2])
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("10.78.1.1", int(sys.argv[1])))
s.listen(1)
open(sys.argv[3], "w").close()
c, _ = s.accept()
c.recv(1000)
c.sendall(b"x" * size)
time.sleep(0.2)     # every byte on the wire: the FIN goes alone
c.close()
EOF
cat >"$work/client.py" <<'EOF'
import socket, sys
c = socket.create_connection(("10.78.1.1", int(sys.argv[1])))
c.sendall(b"GET /data HTTP/1.0\r\n\r\n")
while c.recv(65536):
    pass
c.close()
EOF

ip netns exec "$NS_S" tcpdump -i lan-s -s 96 -U -w "$out/${prefix}lan-server.pcap" "tcp port $PORT" 2>/dev/null &
t1=$!
ip netns exec "$NS_C" tcpdump -i lan-c -s 96 -U -w "$out/${prefix}lan-client.pcap" "tcp port $PORT" 2>/dev/null &
t2=$!
ip netns exec "$NS_R" tcpdump -i lan-rs -s 96 -U -w "$out/${prefix}lan-router.pcap" "tcp port $PORT" 2>/dev/null &
t3=$!
sleep 1
ip netns exec "$NS_S" python3 "$work/server.py" "$PORT" "$size" "$work/ready" &
srv=$!
while [ ! -e "$work/ready" ]; do sleep 0.05; done
ip netns exec "$NS_C" python3 "$work/client.py" "$PORT"
wait "$srv"
sleep 1
kill "$t1" "$t2" "$t3"
wait "$t1" "$t2" "$t3" 2>/dev/null || true
echo "make_lan_samples: wrote $out/${prefix}lan-server.pcap, $out/${prefix}lan-client.pcap" \
    "and $out/${prefix}lan-router.pcap (offloads $offloads)"
