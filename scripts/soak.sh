#!/usr/bin/env bash
# Soak run: builds dittix (release) and runs it for an hour (or the minutes given) of scripted
# keying, setup and training under a private Xvfb and audio server, logging every minute.
# As root the serial ports are pseudo-terminals in a private /dev, so no real port is opened.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-60}"
bash scripts/install-deps.sh
source scripts/services.sh
build_release_program
trap stop_services EXIT
start_xvfb
start_pulseaudio
with_serial_ptys ttyUSB0 ttyUSB1 ttyACM0 -- python3 bench/soak.py build/release/src/dittix "$minutes"
