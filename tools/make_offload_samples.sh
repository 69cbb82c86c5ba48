#!/usr/bin/env bash
# make_offload_samples.sh - record a lossy download the way Linux hosts
# capture by default: segmentation offloads left on (TSO and GSO on the
# sender's veth, GRO on the receiver's), so the sender's capture holds
# super-segments of many MSS and the receiver's capture the same bytes cut
# otherwise. A router namespace between them delays each way with the
# user-space delay line and drops 1% of the packets it forwards, as
# make_samples.sh does (it is make_samples.sh with OFFLOADS=on).
#
# Usage: make_offload_samples.sh [-s SIZE] [OUTDIR]
# Output: OUTDIR/offload-sender.pcap, OUTDIR/offload-receiver.pcap (one
# capture at each end) and OUTDIR/offload-router.pcap (taken at the
# router, on its link to the sender); OUTDIR is examples/ by default.
# Environment: the knobs of make_samples.sh; here DELAY_MS defaults to 5
# and RATE to 20mbit, so that a few hundred KiB make a short capture.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
OFFLOADS=on PREFIX=${PREFIX:-offload-} ROUTER=${ROUTER:-1} \
    DELAY_MS=${DELAY_MS:-5} RATE=${RATE:-20mbit} \
    exec "$script_dir/make_samples.sh" "$@"
