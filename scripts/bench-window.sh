#!/usr/bin/env bash
# Builds dittix (release) and measures it under a private Xvfb: CPU per tick, idle and keying
# CPU, late ticks. Takes about five minutes with the defaults; arguments are passed on
# (idle seconds, keying seconds).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target dittix >/dev/null

source scripts/services.sh
trap stop_services EXIT
start_xvfb
start_pulseaudio
python3 bench/window_bench.py build/release/src/dittix "$@"
