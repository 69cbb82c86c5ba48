#!/usr/bin/env bash
# Installs the Debian 12 packages wirepaint needs to build, test and run,
# when any of them is missing. As root it runs apt-get; otherwise it prints
# the apt-get line to run and fails.
#   tools/install-deps.sh         build, run and test
#   tools/install-deps.sh bench   the same, and what the benchmarks compare with
#   tools/install-deps.sh samples the same, and what the scripts that record
#                                 the sample captures in network namespaces
#                                 use (tools/make_*_samples.sh)
set -euo pipefail

# Build and run: compiler, Tcl/Tk, libpcap, Xlib, cairo. Test: GoogleTest,
# Xvfb and the tools that read pictures back (ImageMagick, rsvg-convert,
# pdftoppm), groff for the manual page, clang and its runtimes for the fuzzer,
# tcpdump to check the connection list against, tshark to check the
# analysis events against (its debconf question, whether non-root users may
# capture, is answered "no" by the non-interactive front end), tcptrace to
# check the time-sequence graph against. The compressors' own libraries
# read compressed captures (gzip, zstd, xz, bzip2, lz4), and their tools
# make the compressed captures of the tests.
packages=(cmake g++ make pkg-config tcl8.6-dev tk8.6-dev libpcap-dev
          libx11-dev libcairo2-dev zlib1g-dev libzstd-dev liblzma-dev
          libbz2-dev liblz4-dev libgtest-dev xvfb xauth x11-apps imagemagick
          librsvg2-bin poppler-utils groff man-db clang libclang-rt-14-dev
          tcpdump tshark tcptrace gzip zstd xz-utils bzip2 lz4)
if [ "${1:-}" = bench ]; then
  # tcptrace and GNU time (peak memory) for tools/bench-load.sh.
  packages+=(tcptrace time)
fi
if [ "${1:-}" = samples ]; then
  # Namespaces, veths and routes (iproute2), offloads (ethtool), the
  # router's drops (iptables), the servers, clients and delay line (python3).
  packages+=(iproute2 ethtool iptables python3)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "wirepaint needs these packages; run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
