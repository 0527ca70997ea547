#!/usr/bin/env bash
# Builds Dittix with warnings as errors and runs the whole test suite, runs the threaded parts
# under ThreadSanitizer, runs the whole suite again under AddressSanitizer +
# UndefinedBehaviorSanitizer, then checks the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Private X and audio servers for the keyboard, audio and end-to-end tests, stopped on exit:
# PulseAudio for the suite, PipeWire for the audio tests run again on it.
source scripts/services.sh
trap stop_services EXIT
start_xvfb
start_pipewire
start_pulseaudio
export DITTIX_REQUIRE_AUDIO=1
# Which output the program picks on each server (the audio tests check it).
export DITTIX_EXPECT_AUDIO_BACKEND=pulseaudio

run_suite() {
    local dir=$1
    shift
    echo "=== ${dir}: configure and build"
    cmake -S . -B "$dir" -DDITTIX_WERROR=ON -DDITTIX_BUILD_BENCH=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "=== ${dir}: tests"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The sidetone recorded, its idle close and reopening, and the real program's streams, on
# PipeWire. (The training output's recorded exercise stays on PulseAudio: PipeWire on a busy
# machine without real-time scheduling drops samples at the short cycles the sidetone asks for,
# which a check of tone lengths to a sine period cannot tell from a fault.)
echo "=== build/test: the audio tests on PipeWire"
use_pipewire
DITTIX_EXPECT_AUDIO_BACKEND=pipewire-native \
    ctest --test-dir build/test --output-on-failure -R 'AudioServerTest|e2e_audio_idle|e2e_keyboard_keys'
use_pulseaudio

echo "=== build/tsan: the threaded parts (audio callbacks, playback, port scan, settings saves, progress reads) under ThreadSanitizer"
cmake -S . -B build/tsan -DDITTIX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDITTIX_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target audio_tests playback_thread_tests port_scan_tests \
    sidetone_tests settings_saver_tests progress_window_tests
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build/tsan -L threaded --output-on-failure
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
    run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DDITTIX_SANITIZE=address,undefined

echo "=== clang-format"
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h')
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
echo "formatting: ok"
