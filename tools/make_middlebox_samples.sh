#!/usr/bin/env bash
# make_middlebox_samples.sh - the two-ended captures through middleboxes
# under examples/: a download through a NAT router (nat-client.pcap,
# nat-server.pcap), 40 concurrent downloads through it (many-client.pcap,
# many-server.pcap), a download through a relay that terminates TCP
# (relay-client.pcap, relay-server.pcap), all recorded by
# make_nat_samples.sh, and the rewrites no Linux router makes, by
# pcap-rewrite: the server's sequence numbers shifted across 2^32 as a
# randomising firewall would (nat-server-shifted.pcap,
# many-server-shifted.pcap), the client's identifications zeroed
# (nat-client-noid.pcap), both (nat-server-shifted-noid.pcap), and the
# server's numbers shifted by 4096 and, from its 20th data segment on, by
# 4126, as a NAT helper that rewrote a payload 30 bytes longer would
# (nat-server-helper.pcap; tshark finds that segment).
#
# Usage: make_middlebox_samples.sh PCAP_REWRITE [OUTDIR]
#   PCAP_REWRITE: the built tools/pcap-rewrite.c (build/pcap_rewrite)
#   OUTDIR: examples/ by default. Needs what make_nat_samples.sh needs.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rewrite=${1:?usage: $0 PCAP_REWRITE [OUTDIR]}
out=${2:-$here/../examples}

"$here/make_nat_samples.sh" -s 600000 -p nat- "$out"
"$here/make_nat_samples.sh" -n 40 -s 20000 -p many- "$out"
"$here/make_nat_samples.sh" -m relay -s 100000 -p relay- "$out"
# 0xc0000000 takes the server's numbers past 2^32 for most initial ones.
"$rewrite" -s 0xc0000000 "$out/nat-server.pcap" "$out/nat-server-shifted.pcap"
"$rewrite" -z "$out/nat-client.pcap" "$out/nat-client-noid.pcap"
"$rewrite" -s 0xc0000000 -z "$out/nat-server.pcap" "$out/nat-server-shifted-noid.pcap"
"$rewrite" -s 0xc0000000 "$out/many-server.pcap" "$out/many-server-shifted.pcap"
seq20=$(tshark -r "$out/nat-server.pcap" -o tcp.relative_sequence_numbers:FALSE \
    -Y "tcp.srcport == 8080 && tcp.len > 0" -T fields -e tcp.seq 2>/dev/null | sed -n 20p)
"$rewrite" -s 4096 -a "$seq20:4126" "$out/nat-server.pcap" "$out/nat-server-helper.pcap"
