#!/usr/bin/env bash
# Retakes the README's screenshots (docs/*.png) from the release build under a private Xvfb.
# Needs xwd (x11-apps) and ImageMagick's convert. As root the serial ports the setup window
# lists are pseudo-terminals in a private /dev.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target dittix >/dev/null

source scripts/services.sh
trap stop_services EXIT
start_xvfb
start_pulseaudio
if [[ $(id -u) -eq 0 ]]; then
    python3 tests/platform/private_dev.py ttyUSB1 ttyACM0 ttyS3 -- \
        python3 scripts/screenshots.py build/release/src/dittix docs
else
    python3 scripts/screenshots.py build/release/src/dittix docs
fi
