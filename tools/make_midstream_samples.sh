#!/usr/bin/env bash
# make_midstream_samples.sh - record real captures that start in the middle
# of their connections, for the analysis-event tests: no handshake, and an
# end that sends nothing but bare ACKs while the capture runs.
#
# Two network namespaces joined by one veth pair (offloads off, so the
# captures show wire-sized segments):
#     server 10.79.1.1 --veth-- 10.79.1.2 client
# A token bucket filter (tbf, RATE) on the server's side paces the data.
# A python3 server and a python3 client run one scenario each; tcpdump -s 96
# starts on the server's veth only once the transfer runs (the client
# writes a mark file, waits for the script's answer, then goes on):
#   midstream.pcap         a 400 KiB download; the client's namespace drops
#                          LOSS of the server's segments at random (iptables
#                          INPUT), so the capture holds the lost segments,
#                          the client's repeated bare ACKs and the resends;
#                          started after 100 KiB;
#   midstream-acks.pcap    the same connection captured at the same time
#                          with the filter "tcp dst port PORT": one
#                          direction only, and that one bare ACKs;
#   midstream-window.pcap  a 120 KiB download by a client with SO_RCVBUF
#                          4096, captured from 20 KB on; at 40 KB the client
#                          stops reading for 1.2 s: a zero window, and the
#                          client's bare ACK opens the window again;
#   midstream-many.pcap    25 connections at once, each a few requests of
#                          2-12 KB answered with 4-24 KiB, with LOSS dropped
#                          at random in both namespaces; captured from 0.4 s
#                          on, when every connection has started.
# Each scenario is run again (at most TRIES times) until tshark finds in it
# what it is for: duplicate ACKs and a fast retransmission, a window
# update, an ACK of a segment that was not captured.
#
# Usage: make_midstream_samples.sh [OUTDIR]   (examples/ by default)
# Needs root, ip, tc, iptables, ethtool, tcpdump, tshark, python3.
# Environment: PORT (default 8095), RATE (default 8mbit), LOSS (default
# 0.02), TRIES (default 10).
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
outdir=${1:-$repo_root/examples}
PORT=${PORT:-8095}
RATE=${RATE:-8mbit}
LOSS=${LOSS:-0.02}
TRIES=${TRIES:-10}
[ "$(id -u)" -eq 0 ] || { echo "make_midstream_samples: must run as root" >&2; exit 1; }

NS_S=wpmsrv$$
NS_C=wpmcli$$
S_ADDR=10.79.1.1
C_ADDR=10.79.1.2
work=$(mktemp -d "${TMPDIR:-/tmp}/make_midstream_samples.XXXXXX")
bg_pids=()

# shellcheck source=tools/netns-common.sh
. "$repo_root/tools/netns-common.sh"

cleanup() { stop_and_delete "$NS_S" "$NS_C"; }
trap 'cleanup; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

cat >"$work/server.py" <<'PY'
import socket, sys, threading
mode, addr, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
ls = socket.socket()
ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
ls.bind((addr, port))
ls.listen(64)
print('ready', flush=True)

def recv_exact(c, n):
    got = b''
    while len(got) < n:
        b = c.recv(n - len(got))
        if not b:
            return None
        got += b
    return got

def serve_many(c):
    # Each request: a 4-byte header (answer size in KiB, body size in
    # bytes, two bytes each), the body; the answer follows.
    while True:
        head = recv_exact(c, 4)
        if head is None:
            break
        kib, body = int.from_bytes(head[:2], 'big'), int.from_bytes(head[2:], 'big')
        if recv_exact(c, body) is None:
            break
        c.sendall(bytes(range(256)) * 4 * kib)
    c.close()

if mode == 'many':
    while True:
        c, _ = ls.accept()
        threading.Thread(target=serve_many, args=(c,), daemon=True).start()
c, _ = ls.accept()
c.recv(100)
c.sendall(bytes(range(256)) * (1600 if mode == 'midstream' else 480))
c.close()
PY

cat >"$work/client.py" <<'PY'
import os, random, socket, sys, threading, time
mode, addr, port, work = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]

def wait_for_capture():
    open(os.path.join(work, 'mark'), 'w').close()
    while not os.path.exists(os.path.join(work, 'go')):
        time.sleep(0.01)

def one_of_many(k):
    rnd = random.Random(k)
    s = socket.socket()
    s.connect((addr, port))
    for _ in range(rnd.randint(2, 4)):
        kib, body = rnd.randint(4, 24), rnd.randint(2000, 12000)
        s.sendall(kib.to_bytes(2, 'big') + body.to_bytes(2, 'big') + b'q' * body)
        left = kib * 1024
        while left > 0:
            b = s.recv(65536)
            if not b:
                return
            left -= len(b)
        time.sleep(rnd.uniform(0.05, 0.2))
    s.close()

if mode == 'many':
    threads = [threading.Thread(target=one_of_many, args=(k,)) for k in range(25)]
    for t in threads:
        t.start()
        time.sleep(0.01)
    for t in threads:
        t.join()
    sys.exit(0)
s = socket.socket()
if mode == 'window':
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.connect((addr, port))
s.sendall(b'GET\n')
got = 0
marked = paused = False
while True:
    b = s.recv(4096)
    if not b:
        break
    got += len(b)
    if mode == 'midstream' and not marked and got >= 100 * 1024:
        marked = True
        wait_for_capture()
    if mode == 'window' and not marked and got >= 20000:
        marked = True
        wait_for_capture()
    if mode == 'window' and not paused and got >= 40000:
        paused = True
        time.sleep(1.2)
print(got)
PY

setup_net() { two_hosts "$NS_S" "$NS_C" "$S_ADDR" "$C_ADDR" "$RATE"; }

# drop_some NS SIDE: NS drops LOSS of its incoming segments from SIDE's port.
drop_some() {
    in_ns "$1" iptables -A INPUT -p tcp "--$2" "$PORT" \
        -m statistic --mode random --probability "$LOSS" -j DROP
}

# capture NAME FILTER: starts tcpdump on the server's veth into NAME.pcap
# (its process id joins td_pids).
capture() {
    ip netns exec "$NS_S" tcpdump -i veth-s -s 96 --immediate-mode -U -nn -Z root \
        -w "$work/$1.pcap" "$2" 2>"$work/$1.log" &
    td_pids+=($!)
    wait_for 10 grep -q 'listening on' "$work/$1.log" || { echo "no tcpdump" >&2; exit 1; }
}

# count FILE FIELD: the frames of FILE that tshark marks with tcp.analysis.FIELD.
count() { tshark -r "$1" -Y "tcp.analysis.$2" 2>/dev/null | wc -l; }

# One run of scenario MODE; the captures it makes are left in $work.
one_run() {
    local mode=$1
    rm -f "$work/mark" "$work/go" "$work"/*.pcap "$work"/*.log
    td_pids=()
    setup_net
    case $mode in
    midstream) drop_some "$NS_C" sport ;;
    many) drop_some "$NS_C" sport; drop_some "$NS_S" dport ;;
    esac
    in_ns "$NS_S" python3 "$work/server.py" "$mode" "$S_ADDR" "$PORT" >"$work/server.log" 2>&1 &
    bg_pids+=($!)
    wait_for 10 grep -q ready "$work/server.log" || { echo "server did not start" >&2; exit 1; }
    in_ns "$NS_C" python3 "$work/client.py" "$mode" "$S_ADDR" "$PORT" "$work" >/dev/null &
    local client=$!
    if [ "$mode" = many ]; then
        sleep 0.4
        capture midstream-many "tcp port $PORT"
    else
        wait_for 20 test -e "$work/mark" || { echo "the client did not get going" >&2; exit 1; }
        if [ "$mode" = midstream ]; then
            capture midstream "tcp port $PORT"
            capture midstream-acks "tcp dst port $PORT"
        else
            capture midstream-window "tcp port $PORT"
        fi
        touch "$work/go"
    fi
    wait "$client"
    sleep 0.5
    local td
    for td in "${td_pids[@]}"; do
        kill -TERM "$td"
        wait "$td" 2>/dev/null || true
    done
    cleanup
}

# wanted MODE: whether the captures of MODE show what they are for.
wanted() {
    case $1 in
    midstream)
        [ "$(count "$work/midstream.pcap" fast_retransmission)" -ge 1 ] &&
            [ "$(count "$work/midstream.pcap" duplicate_ack)" -ge 3 ] &&
            [ "$(count "$work/midstream-acks.pcap" duplicate_ack)" -ge 3 ] ;;
    window)
        [ "$(count "$work/midstream-window.pcap" window_update)" -ge 1 ] &&
            [ "$(count "$work/midstream-window.pcap" zero_window)" -ge 1 ] ;;
    many)
        [ "$(count "$work/midstream-many.pcap" ack_lost_segment)" -ge 1 ] ;;
    esac
}

for mode in ${MODES:-midstream window many}; do
    try=1
    until one_run "$mode" && wanted "$mode"; do
        try=$((try + 1))
        [ "$try" -le "$TRIES" ] || { echo "make_midstream_samples: $mode: $TRIES runs, none fit" >&2; exit 1; }
    done
    for f in "$work"/*.pcap; do
        cp "$f" "$outdir/"
        echo "make_midstream_samples: $outdir/$(basename "$f"): $(tcpdump -r "$f" 2>/dev/null | wc -l) packets (run $try)"
    done
done
