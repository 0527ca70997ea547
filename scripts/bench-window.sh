#!/usr/bin/env bash
# Builds dittix (release) and measures it under a private Xvfb: CPU per tick, idle and keying
# CPU, late ticks. Takes about five minutes with the defaults; arguments are passed on
# (idle seconds, keying seconds).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
source scripts/services.sh
build_release_program
trap stop_services EXIT
start_xvfb
start_pulseaudio
python3 bench/window_bench.py build/release/src/dittix "$@"
