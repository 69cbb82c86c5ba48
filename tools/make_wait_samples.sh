#!/usr/bin/env bash
# make_wait_samples.sh - record the real captures of the three classic
# causes of a slow request: small single-request web-like fetches where
#   slow-path.pcap    the path's round trip is about 0.9 s (DELAY_MS 450
#                     each way) and both ends answer at once;
#   slow-client.pcap  the client sleeps CLIENT_SLEEP (1.35 s) after the
#                     handshake before it sends its request;
#   slow-server.pcap  the server sleeps SERVER_SLEEP (0.98 s) after the
#                     request before it answers.
# The request is one line; the answer is ANSWER (5000) bytes, then the
# server closes.
#
# Three network namespaces joined by two veth pairs (offloads off):
#     server 10.79.1.1 -- 10.79.1.2 router 10.79.2.2 -- 10.79.2.1 client
# The router forwards through the user-space delay line (delay_line.py,
# DELAY_MS each way; 5 ms for the slow client and server). tcpdump -s 128
# captures on the client's veth, where a user fetching a page would.
#
# Usage: make_wait_samples.sh [OUTDIR]   (examples/ by default)
# Needs root, ip, ethtool, tcpdump, python3 and /dev/net/tun.
# Environment: PORT (8095), DELAY_MS (450), CLIENT_SLEEP, SERVER_SLEEP, ANSWER.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
outdir=${1:-$script_dir/../examples}
PORT=${PORT:-8095}
DELAY_MS=${DELAY_MS:-450}
CLIENT_SLEEP=${CLIENT_SLEEP:-1.35}
SERVER_SLEEP=${SERVER_SLEEP:-0.98}
ANSWER=${ANSWER:-5000}
[ "$(id -u)" -eq 0 ] || { echo "make_wait_samples: must run as root" >&2; exit 1; }

NS_S=wpwsrv$$
NS_R=wpwrtr$$
NS_C=wpwcli$$
S_ADDR=10.79.1.1
RS_ADDR=10.79.1.2
RC_ADDR=10.79.2.2
C_ADDR=10.79.2.1
D_IF=wpwdelay
D_TABLE=201
work=$(mktemp -d "${TMPDIR:-/tmp}/make_wait_samples.XXXXXX")
bg_pids=()

# shellcheck source=tools/netns-common.sh
. "$script_dir/netns-common.sh"

cleanup() { stop_and_delete "$NS_S" "$NS_R" "$NS_C"; }
trap 'cleanup; rm -rf "$work"' EXIT

cat >"$work/server.py" <<'PY'
import socket, sys, time
mode, addr, port, sleep, answer = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5])
ls = socket.socket()
ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
ls.bind((addr, port))
ls.listen(1)
print('ready', flush=True)
c, _ = ls.accept()
got = b''
while not got.endswith(b'\n'):
    b = c.recv(1000)
    if not b:
        break
    got += b
if mode == 'slow-server':
    time.sleep(sleep)
c.sendall(b'a' * answer)
c.close()
PY

cat >"$work/client.py" <<'PY'
import socket, sys, time
mode, addr, port, sleep = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
s = socket.socket()
s.connect((addr, port))
if mode == 'slow-client':
    time.sleep(sleep)
s.sendall(b'GET /index.html HTTP/1.0\n')
got = 0
while True:
    b = s.recv(65536)
    if not b:
        break
    got += len(b)
s.close()
print(got)
PY

one_scenario() {
    local mode=$1 delay=$2 sleep=$3
    routed_hosts "$delay" off
    ip netns exec "$NS_S" python3 "$work/server.py" "$mode" "$S_ADDR" "$PORT" "$sleep" "$ANSWER" \
        </dev/null >"$work/server.log" 2>&1 &
    bg_pids+=($!)
    wait_for 10 grep -q ready "$work/server.log" || { echo "server did not start" >&2; exit 1; }
    ip netns exec "$NS_C" tcpdump -i veth-c -s 128 -U -nn -Z root -w "$work/$mode.pcap" \
        "tcp port $PORT" </dev/null >/dev/null 2>"$work/tcpdump.log" &
    local td=$!
    bg_pids+=($td)
    wait_for 10 grep -q 'listening on' "$work/tcpdump.log" || { echo "no tcpdump" >&2; exit 1; }
    sleep 0.3
    in_ns "$NS_C" python3 "$work/client.py" "$mode" "$S_ADDR" "$PORT" "$sleep" >/dev/null
    sleep $(( delay * 3 / 1000 + 1 ))
    kill -TERM "$td"
    wait "$td" 2>/dev/null || true
    cleanup
    cp "$work/$mode.pcap" "$outdir/$mode.pcap"
    echo "make_wait_samples: $outdir/$mode.pcap: $(tcpdump -r "$outdir/$mode.pcap" 2>/dev/null | wc -l) packets"
}

one_scenario slow-path "$DELAY_MS" 0
one_scenario slow-client 5 "$CLIENT_SLEEP"
one_scenario slow-server 5 "$SERVER_SLEEP"
