# Sourced by the test and benchmark scripts: a private X server (Xvfb) and a private audio server
# (PulseAudio with a null sink, so nothing reaches real speakers), stopped by stop_services.
# shellcheck shell=bash

service_pids=()
service_runtime_dir=""

stop_services() {
    local pid
    for pid in "${service_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    service_pids=()
    if [[ -n "$service_runtime_dir" ]]; then
        rm -rf "$service_runtime_dir"
    fi
}

start_xvfb() {
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp 9>"$display_file" >/dev/null 2>&1 &
    service_pids+=($!)
    for _ in $(seq 100); do
        [[ -s "$display_file" ]] && break
        sleep 0.1
    done
    if [[ ! -s "$display_file" ]]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$display_file")"
    rm -f "$display_file"
    echo "=== X server on $DISPLAY"
}

start_pulseaudio() {
    service_runtime_dir=$(mktemp -d)
    chmod 700 "$service_runtime_dir"
    export XDG_RUNTIME_DIR="$service_runtime_dir"
    export PULSE_SERVER="unix:$service_runtime_dir/pulse/native"
    pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --load="module-null-sink sink_name=dittix_null rate=44100" \
        --load="module-native-protocol-unix" >/dev/null 2>&1 &
    service_pids+=($!)
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! pactl info >/dev/null 2>&1; then
        echo "PulseAudio did not start" >&2
        return 1
    fi
    echo "=== audio server with a null sink at $PULSE_SERVER"
}

# The release build of the program alone, in build/release (benchmarks, soak, screenshots).
build_release_program() {
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
    cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target dittix >/dev/null
}

# Runs a command with the given pseudo-terminals as serial devices in a private /dev when root
# (so no real port is opened), else as it is: with_serial_ptys NAME... -- COMMAND...
with_serial_ptys() {
    local names=()
    while [[ $1 != "--" ]]; do
        names+=("$1")
        shift
    done
    shift
    if [[ $(id -u) -eq 0 ]]; then
        python3 tests/platform/private_dev.py "${names[@]}" -- "$@"
    else
        "$@"
    fi
}
