#!/usr/bin/env bash
# Builds dittix and the audio benchmarks (release) and measures the sidetone latency against a
# private audio server with a null sink: the software path, then key press to recorded tone, then
# an exercise's tone lengths and silences as the sink hears them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" \
    --target dittix sidetone_latency exercise_timing >/dev/null

source scripts/services.sh
trap stop_services EXIT
start_xvfb
start_pulseaudio
SDL_AUDIODRIVER=pulseaudio build/release/bench/sidetone_latency "${1:-1000}"
python3 bench/key_to_tone.py build/release/src/dittix "${2:-40}"
SDL_AUDIODRIVER=pulseaudio build/release/bench/exercise_timing "${3:-5}"
