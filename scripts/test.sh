#!/usr/bin/env bash
# Builds Dittix with warnings as errors and runs the whole test suite, then again under
# AddressSanitizer + UndefinedBehaviorSanitizer, then checks the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# An X server of our own for the keyboard adapter and the end-to-end tests, stopped on exit.
xvfb_pid=""
stop_services() {
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
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
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
    run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DDITTIX_SANITIZE=address,undefined

echo "=== clang-format"
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h')
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
echo "formatting: ok"
