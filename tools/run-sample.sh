#!/usr/bin/env bash
# Runs wirepaint on a sample capture: tools/run-sample.sh BINARY CAPTURE
set -euo pipefail
exec "$1" "$2"
