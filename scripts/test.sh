#!/usr/bin/env bash
# Builds Dittix with warnings as errors and runs the whole test suite, runs the threaded parts
# under ThreadSanitizer, runs the whole suite again under AddressSanitizer +
# UndefinedBehaviorSanitizer, then checks the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# An X server of our own for the keyboard adapter and the end-to-end tests, and an audio server
# of our own with a null sink (nothing reaches real speakers), both stopped on exit.
xvfb_pid=""
pulse_pid=""
runtime_dir=$(mktemp -d)
stop_services() {
    for pid in $pulse_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$runtime_dir"
}
trap stop_services EXIT
display_file=$(mktemp)
Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$display_file" ]] && break
    sleep 0.1
done
if [[ ! -s "$display_file" ]]; then
    echo "Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$display_file")"
rm -f "$display_file"
echo "=== X server on $DISPLAY"

chmod 700 "$runtime_dir"
export XDG_RUNTIME_DIR="$runtime_dir"
export PULSE_SERVER="unix:$runtime_dir/pulse/native"
pulseaudio --daemonize=no --exit-idle-time=-1 -n \
    --load="module-null-sink sink_name=dittix_null rate=44100" \
    --load="module-native-protocol-unix" >/dev/null 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
    echo "PulseAudio did not start" >&2
    exit 1
fi
export DITTIX_REQUIRE_AUDIO=1
echo "=== audio server with a null sink at $PULSE_SERVER"

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

echo "=== build/tsan: the threaded parts (audio callbacks) under ThreadSanitizer"
cmake -S . -B build/tsan -DDITTIX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDITTIX_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target audio_tests
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
