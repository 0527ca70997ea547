#!/usr/bin/env bash
# Builds dittix and the audio benchmarks (release) and measures the sound on both private audio
# servers (PipeWire with its PulseAudio front end, and PulseAudio; each with a null sink): key
# press to recorded tone with the program's own choice of output, and the processor time of the
# program and the server once the program is idle, the first element after an idle close and the
# heard length with and without the shaped edges; then, on PulseAudio, the software path of the
# sidetone and an exercise's tone lengths and silences as the sink hears them.
# Usage: scripts/bench-audio.sh [presses] [idle seconds] [latency rounds] [exercises] [reopenings]
set -euo pipefail
cd "$(dirname "$0")/.."
presses="${1:-40}"
idle_s="${2:-30}"
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" \
    --target dittix sidetone_latency exercise_timing >/dev/null

source scripts/services.sh
trap stop_services EXIT
start_xvfb
start_pipewire
start_pulseaudio

for server in pipewire pulseaudio; do
    "use_$server"
    echo "=== $server"
    python3 bench/key_to_tone.py build/release/src/dittix "$presses"
    python3 bench/audio_idle.py build/release/src/dittix "$server" "$idle_s"
    python3 bench/audio_reopen.py build/release/src/dittix "${5:-10}"
done

use_pulseaudio
SDL_AUDIODRIVER=pulseaudio build/release/bench/sidetone_latency "${3:-1000}"
SDL_AUDIODRIVER=pulseaudio build/release/bench/exercise_timing "${4:-5}"
