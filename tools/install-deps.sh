#!/usr/bin/env bash
# Installs the Debian 12 packages wirepaint needs to build, test and run,
# when any of them is missing. As root it runs apt-get; otherwise it prints
# the apt-get line to run and fails.
set -euo pipefail

packages=(cmake g++ make pkg-config tcl8.6-dev tk8.6-dev libpcap-dev
          libx11-dev libgtest-dev xvfb xauth x11-apps imagemagick)

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
