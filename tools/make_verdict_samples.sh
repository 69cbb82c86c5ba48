#!/usr/bin/env bash
# make_verdict_samples.sh - record one real capture of each kind of trouble
# the health table (-L) names, each a single connection whose trouble is
# made on purpose, captured at the client as a user would:
#   verdict-ok.pcap          a plain download of ANSWER (200,000) bytes;
#   verdict-unanswered.pcap  the router drops every SYN: the client tries
#                            for CONNECT_WAIT (4) s, nothing comes back;
#   verdict-refused.pcap     a closed port: the SYN is answered by a reset;
#   verdict-think.pcap       two request/answer exchanges, the client idle
#                            THINK (1.5) s between them;
#   verdict-pause.pcap       the server pauses PAUSE (1.5) s in the middle
#                            of its answer;
#   verdict-slow-reader.pcap the client (SO_RCVBUF 4096) reads 2,000 bytes
#                            every 20 ms: zero windows;
#   verdict-drop.pcap        the router drops DROP (0.03) of the server's
#                            packets at random (iptables statistic match)
#                            during a download of BULK (1,500,000) bytes.
#
# Three network namespaces joined by two veth pairs; segmentation offloads
# off at the server and the router, so that the router drops segments one
# at a time, and as the kernel leaves them at the client:
#     server 10.31.1.1 -- 10.31.1.2 router 10.31.2.2 -- 10.31.2.1 client
# (netns-common.sh's routed_hosts). The router forwards through the
# user-space delay line (delay_line.py, DELAY_MS each way) and drops with
# iptables in its FORWARD chain.
# tcpdump -s 96 captures on the client's veth.
#
# Usage: make_verdict_samples.sh [OUTDIR]   (examples/ by default)
# Needs root, ip, ethtool, iptables, tcpdump, python3 and /dev/net/tun.
# Environment: PORT (8131, the first of seven), DELAY_MS (5), CONNECT_WAIT,
# THINK, PAUSE, DROP, ANSWER, BULK. The random drop is the kernel's: each
# run drops other packets.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
outdir=${1:-$script_dir/../examples}
PORT=${PORT:-8131}
DELAY_MS=${DELAY_MS:-5}
CONNECT_WAIT=${CONNECT_WAIT:-4}
THINK=${THINK:-1.5}
PAUSE=${PAUSE:-1.5}
DROP=${DROP:-0.03}
ANSWER=${ANSWER:-200000}
BULK=${BULK:-1500000}
[ "$(id -u)" -eq 0 ] || { echo "make_verdict_samples: must run as root" >&2; exit 1; }

NS_S=wp31vsrv
NS_R=wp31vrtr
NS_C=wp31vcli
S_ADDR=10.31.1.1
RS_ADDR=10.31.1.2
RC_ADDR=10.31.2.2
C_ADDR=10.31.2.1
D_IF=wp31delay
D_TABLE=231
work=$(mktemp -d "${TMPDIR:-/tmp}/make_verdict_samples.XXXXXX")
bg_pids=()

# shellcheck source=tools/netns-common.sh
. "$script_dir/netns-common.sh"

cleanup() { stop_and_delete "$NS_S" "$NS_R" "$NS_C"; }
trap 'cleanup; rm -rf "$work"' EXIT

cat >"$work/server.py" <<'PY'
import socket, sys, time
mode, addr, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
answer, pause = int(sys.argv[4]), float(sys.argv[5])
ls = socket.socket()
ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
ls.bind((addr, port))
ls.listen(1)
print('ready', flush=True)
c, _ = ls.accept()
def request():
    got = b''
    while not got.endswith(b'\n'):
        b = c.recv(1000)
        if not b:
            return False
        got += b
    return True
while request():
    if mode == 'pause':
        c.sendall(b'a' * (answer // 2))
        time.sleep(pause)
        c.sendall(b'a' * (answer - answer // 2))
    else:
        c.sendall(b'a' * answer)
    if mode != 'think':
        break
c.close()
PY

cat >"$work/client.py" <<'PY'
import socket, sys, time
mode, addr, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
answer, wait = int(sys.argv[4]), float(sys.argv[5])
s = socket.socket()
if mode == 'slow-reader':
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
if mode == 'unanswered':
    s.settimeout(wait)
try:
    s.connect((addr, port))
except (socket.timeout, OSError) as e:
    print('no connection:', e)
    sys.exit(0)
def exchange():
    s.sendall(b'GET /index.html HTTP/1.0\n')
    got = 0
    while got < answer:
        b = s.recv(2000 if mode == 'slow-reader' else 65536)
        if not b:
            break
        got += len(b)
        if mode == 'slow-reader':
            time.sleep(0.02)
    return got
exchange()
if mode == 'think':
    time.sleep(wait)
    exchange()
    s.shutdown(socket.SHUT_WR)
while s.recv(65536):
    pass
s.close()
PY

# one_scenario NAME MODE SERVER(1|0) ANSWER WAIT [IPTABLES RULE...]: runs a
# server (unless 0) and the client of MODE, the rule in the router's
# FORWARD chain while it runs, and keeps the capture as verdict-NAME.pcap.
one_scenario() {
    local name=$1 mode=$2 server=$3 answer=$4 wait=$5
    shift 5
    local port=$PORT
    PORT=$((PORT + 1))
    [ $# -eq 0 ] || in_ns "$NS_R" iptables -A FORWARD "$@"
    if [ "$server" = 1 ]; then
        ip netns exec "$NS_S" python3 "$work/server.py" "$mode" "$S_ADDR" "$port" "$answer" \
            "$wait" </dev/null >"$work/server.log" 2>&1 &
        bg_pids+=($!)
        wait_for 10 grep -q ready "$work/server.log" || { echo "server did not start" >&2; exit 1; }
    fi
    ip netns exec "$NS_C" tcpdump -i veth-c -s 96 -U -nn -Z root -w "$work/$name.pcap" \
        "tcp port $port" </dev/null >/dev/null 2>"$work/tcpdump.log" &
    local td=$!
    bg_pids+=($td)
    wait_for 10 grep -q 'listening on' "$work/tcpdump.log" || { echo "no tcpdump" >&2; exit 1; }
    sleep 0.3
    in_ns "$NS_C" python3 "$work/client.py" "$mode" "$S_ADDR" "$port" "$answer" "$wait" >/dev/null
    sleep 1
    kill -TERM "$td"
    wait "$td" 2>/dev/null || true
    [ $# -eq 0 ] || in_ns "$NS_R" iptables -D FORWARD "$@"
    cp "$work/$name.pcap" "$outdir/verdict-$name.pcap"
    echo "make_verdict_samples: $outdir/verdict-$name.pcap:" \
         "$(tcpdump -r "$outdir/verdict-$name.pcap" 2>/dev/null | wc -l) packets"
}

routed_hosts "$DELAY_MS" on
one_scenario ok plain 1 "$ANSWER" 0
one_scenario unanswered unanswered 0 0 "$CONNECT_WAIT" -i veth-rc -p tcp --syn -j DROP
one_scenario refused refused 0 0 0
one_scenario think think 1 20000 "$THINK"
one_scenario pause pause 1 "$ANSWER" "$PAUSE"
one_scenario slow-reader slow-reader 1 100000 0
one_scenario drop plain 1 "$BULK" 0 -i veth-rs -m statistic --mode random \
    --probability "$DROP" -j DROP
