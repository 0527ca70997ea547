#!/usr/bin/env bash
# Soak run: builds dittix (release) and runs it for an hour (or the minutes given) of scripted
# keying, setup and training under a private Xvfb and audio server, logging every minute.
# As root the serial ports are pseudo-terminals in a private /dev, so no real port is opened.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-60}"
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target dittix >/dev/null

source scripts/services.sh
trap stop_services EXIT
start_xvfb
start_pulseaudio
if [[ $(id -u) -eq 0 ]]; then
    python3 tests/platform/private_dev.py ttyUSB0 ttyUSB1 ttyACM0 -- \
        python3 bench/soak.py build/release/src/dittix "$minutes"
else
    python3 bench/soak.py build/release/src/dittix "$minutes"
fi
