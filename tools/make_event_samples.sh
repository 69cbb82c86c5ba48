#!/usr/bin/env bash
# make_event_samples.sh - record the real captures of the analysis-event
# tests: small Linux TCP connections that show a slow reader closing its
# window, keep-alive probes on an idle connection, and a sender meeting
# a retransmission timeout.
#
# Two network namespaces joined by one veth pair (offloads off, so the
# captures show wire-sized segments):
#     server 10.78.1.1 --veth-- 10.78.1.2 client
# A token bucket filter (tbf, RATE) on the server's side paces the data.
# A python3 server in the server namespace and a python3 client in the
# client namespace run one scenario each; tcpdump -s 96 captures it on the
# server's veth:
#   slow-reader.pcap  the client's receive buffer is small (SO_RCVBUF
#                     4096 before connect) and it stops reading twice
#                     (1.2 s, 0.8 s) during a 200 KiB download: zero
#                     windows, the server's window probes, window updates;
#   keepalive.pcap    the client sends a request, gets 100 bytes back,
#                     then idles 3.5 s with SO_KEEPALIVE, TCP_KEEPIDLE 1 s
#                     and TCP_KEEPINTVL 1 s: keep-alive probes and their
#                     ACKs;
#   timeout.pcap      during a 200 KiB download the client drops every
#                     segment from the server for 0.7 s (iptables INPUT
#                     DROP in its namespace), so the server's retransmission
#                     timer fires, with backoff.
#
# Usage: make_event_samples.sh [OUTDIR]   (examples/ by default)
# Needs root, ip, tc, iptables, ethtool, tcpdump, python3.
# Environment: PORT (default 8090), RATE (default 8mbit).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
outdir=${1:-$repo_root/examples}
PORT=${PORT:-8090}
RATE=${RATE:-8mbit}
[ "$(id -u)" -eq 0 ] || { echo "make_event_samples: must run as root" >&2; exit 1; }

NS_S=wpesrv$$
NS_C=wpecli$$
S_ADDR=10.78.1.1
C_ADDR=10.78.1.2
work=$(mktemp -d "${TMPDIR:-/tmp}/make_event_samples.XXXXXX")
bg_pids=()

# shellcheck source=tools/netns-common.sh
. "$repo_root/tools/netns-common.sh"

cleanup() { stop_and_delete "$NS_S" "$NS_C"; }
trap 'cleanup; rm -rf "$work"' EXIT

cat >"$work/server.py" <<'PY'
import socket, sys
mode, addr, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
ls = socket.socket()
ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
ls.bind((addr, port))
ls.listen(1)
print('ready', flush=True)
c, _ = ls.accept()
c.recv(100)
if mode == 'keepalive':
    c.sendall(b'k' * 100)
    while c.recv(100):
        pass
else:
    c.sendall(bytes(range(256)) * 800)
c.close()
PY

cat >"$work/client.py" <<'PY'
import socket, subprocess, sys, time
mode, addr, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
s = socket.socket()
if mode == 'slow-reader':
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.connect((addr, port))
s.sendall(b'GET\n')
if mode == 'keepalive':
    s.setsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE, 1)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPIDLE, 1)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPINTVL, 1)
    s.recv(100)
    time.sleep(3.5)
    s.close()
    sys.exit(0)
got = 0
pauses = {'slow-reader': [(40000, 1.2), (120000, 0.8)], 'timeout': [(40000, 0.7)]}[mode]
while True:
    b = s.recv(4096)
    if not b:
        break
    got += len(b)
    if pauses and got >= pauses[0][0]:
        pause = pauses.pop(0)[1]
        if mode == 'timeout':
            rule = ['INPUT', '-p', 'tcp', '--sport', str(port), '-j', 'DROP']
            subprocess.run(['iptables', '-I'] + rule, check=True)
            time.sleep(pause)
            subprocess.run(['iptables', '-D'] + rule, check=True)
        else:
            time.sleep(pause)
print(got)
PY

setup_net() { two_hosts "$NS_S" "$NS_C" "$S_ADDR" "$C_ADDR" "$RATE"; }

one_scenario() {
    local mode=$1
    setup_net
    in_ns "$NS_S" python3 "$work/server.py" "$mode" "$S_ADDR" "$PORT" >"$work/server.log" 2>&1 &
    bg_pids+=($!)
    wait_for 10 grep -q ready "$work/server.log" || { echo "server did not start" >&2; exit 1; }
    in_ns "$NS_S" tcpdump -i veth-s -s 96 -U -nn -Z root -w "$work/$mode.pcap" \
        "tcp port $PORT" 2>"$work/tcpdump.log" &
    local td=$!
    bg_pids+=($td)
    wait_for 10 grep -q 'listening on' "$work/tcpdump.log" || { echo "no tcpdump" >&2; exit 1; }
    sleep 0.3
    in_ns "$NS_C" python3 "$work/client.py" "$mode" "$S_ADDR" "$PORT"
    sleep 1
    kill -TERM "$td"
    wait "$td" 2>/dev/null || true
    cleanup
    cp "$work/$mode.pcap" "$outdir/$mode.pcap"
    echo "make_event_samples: $outdir/$mode.pcap: $(tcpdump -r "$outdir/$mode.pcap" 2>/dev/null | wc -l) packets"
}

for mode in slow-reader keepalive timeout; do
    one_scenario "$mode"
done
