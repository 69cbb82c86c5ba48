#!/usr/bin/env bash
# run-sample.sh - open wirepaint's window on a capture.
#
#   tools/run-sample.sh BINARY CAPTURE [CAPTURE2]
#
# With a DISPLAY, runs BINARY on the capture(s) and waits until the window
# is closed. Without one, starts a private Xvfb server, runs BINARY there,
# waits until the diagram is drawn, saves a screenshot of the window as
# PNG beside the binary (e.g. build/wirepaint-sample.png), says where, ends
# the program and the server, and exits 0.
#
# BINARY uses the UI script in the current folder's ./wirepaint.tcl or in
# the installed share folder; this script runs it in a temporary folder
# holding a copy of script/wirepaint.tcl from this source tree, so the
# window is the tree's own without an install.
#
# Needs (without DISPLAY): Xvfb (xvfb), import and identify (imagemagick).
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BINARY CAPTURE [CAPTURE2]" >&2
  exit 2
fi

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$repo_root/tools/xvfb-common.sh"
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
captures=()
for c in "$@"; do
  captures+=("$(cd "$(dirname "$c")" && pwd)/$(basename "$c")")
done
shot=$(dirname "$binary")/wirepaint-sample.png

workdir=$(mktemp -d "${TMPDIR:-/tmp}/wirepaint-run-XXXXXX")
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT
cp "$repo_root/script/wirepaint.tcl" "$workdir/wirepaint.tcl"

if [ -n "${DISPLAY:-}" ]; then
  cd "$workdir"
  "$binary" "${captures[@]}"
  exit 0
fi

for tool in Xvfb import identify; do
  if ! command -v "$tool" >/dev/null; then
    echo "$0: no DISPLAY, and $tool is missing (run tools/install-deps.sh)" >&2
    exit 1
  fi
done

# A private server on a display number it picks itself.
if ! start_private_xvfb "$workdir" 1280x1024x24 -br; then
  echo "$0: Xvfb did not start" >&2
  exit 1
fi

(cd "$workdir" && exec "$binary" "${captures[@]}") > "$workdir/out.txt" 2>&1 &
app_pid=$!

# The window is drawn once the screen is no longer all black.
drawn=""
for _ in $(seq 100); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "$0: wirepaint ended before its window was drawn:" >&2
    cat "$workdir/out.txt" >&2
    exit 1
  fi
  if import -window root "$workdir/probe.png" 2>/dev/null &&
     [ "$(identify -format '%[fx:maxima.intensity > 0]' "$workdir/probe.png" 2>/dev/null)" = 1 ]; then
    drawn=yes
    break
  fi
  sleep 0.2
done
if [ -z "$drawn" ]; then
  echo "$0: the window did not appear" >&2
  exit 1
fi
sleep 1
import -window root -trim +repage "$shot"
echo "wirepaint ran on ${captures[*]} under Xvfb (no DISPLAY); screenshot of the window: $shot"
exit 0
