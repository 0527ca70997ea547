#!/usr/bin/env bash
# Builds dittix (release) and measures it under a private Xvfb: CPU per tick, idle and keying
# CPU, late ticks. Takes about five minutes with the defaults; arguments are passed on
# (idle seconds, keying seconds).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target dittix >/dev/null

display_file=$(mktemp)
Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s "$display_file" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$display_file")"
python3 bench/window_bench.py build/release/src/dittix "$@"
