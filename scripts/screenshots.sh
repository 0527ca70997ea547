#!/usr/bin/env bash
# Retakes the README's screenshots (docs/*.png) from the release build under a private Xvfb.
# Needs xwd (x11-apps) and ImageMagick's convert. As root the serial ports the setup window
# lists are pseudo-terminals in a private /dev.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/services.sh
build_release_program
trap stop_services EXIT
start_xvfb
start_pulseaudio
with_serial_ptys ttyUSB1 ttyACM0 ttyS3 -- python3 scripts/screenshots.py build/release/src/dittix docs
