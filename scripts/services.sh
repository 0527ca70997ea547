# Sourced by the test and benchmark scripts: a private X server (Xvfb) and private audio servers
# (PulseAudio, or PipeWire with its PulseAudio front end, each with a null sink, so nothing reaches
# real speakers), stopped by stop_services.
# shellcheck shell=bash

service_pids=()
service_runtime_dirs=()

stop_services() {
    local pid
    for pid in "${service_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    service_pids=()
    local dir
    for dir in "${service_runtime_dirs[@]}"; do
        rm -rf "$dir"
    done
    service_runtime_dirs=()
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

new_runtime_dir() {
    local dir
    dir=$(mktemp -d)
    chmod 700 "$dir"
    service_runtime_dirs+=("$dir")
    echo "$dir"
}

# Waits (boundedly) until the PulseAudio protocol answers at $PULSE_SERVER.
wait_for_pactl() {
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# PulseAudio with a null sink at 44 100 Hz. Sets XDG_RUNTIME_DIR and PULSE_SERVER to it, and
# remembers them as DITTIX_PULSEAUDIO_DIR / DITTIX_PULSEAUDIO_SERVER for use_pulseaudio.
start_pulseaudio() {
    local dir
    dir=$(new_runtime_dir)
    export DITTIX_PULSEAUDIO_DIR="$dir"
    export DITTIX_PULSEAUDIO_SERVER="unix:$dir/pulse/native"
    use_pulseaudio
    pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --load="module-null-sink sink_name=dittix_null rate=44100" \
        --load="module-native-protocol-unix" >/dev/null 2>&1 &
    service_pids+=($!)
    if ! wait_for_pactl; then
        echo "PulseAudio did not start" >&2
        return 1
    fi
    echo "=== audio server with a null sink at $PULSE_SERVER"
}

use_pulseaudio() {
    export XDG_RUNTIME_DIR="$DITTIX_PULSEAUDIO_DIR"
    export PULSE_SERVER="$DITTIX_PULSEAUDIO_SERVER"
}

# PipeWire as most desktops now run it: the daemon, its session manager and its PulseAudio front
# end, headless with a private runtime folder and a session bus of their own (the session manager
# quits without one), and a null sink at the server's own rate (48 kHz) as the default sink.
# Sets XDG_RUNTIME_DIR and PULSE_SERVER to it (DITTIX_PIPEWIRE_DIR / DITTIX_PIPEWIRE_SERVER for
# use_pipewire); the PulseAudio tools (pactl, parec) then talk to PipeWire.
start_pipewire() {
    local dir
    dir=$(new_runtime_dir)
    export DITTIX_PIPEWIRE_DIR="$dir"
    export DITTIX_PIPEWIRE_SERVER="unix:$dir/pulse/native"
    (
        export XDG_RUNTIME_DIR="$dir" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
        unset PULSE_SERVER
        exec dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
    ) >/dev/null 2>&1 &
    service_pids+=($!)
    for _ in $(seq 50); do
        [[ -S "$dir/bus" ]] && break
        sleep 0.1
    done
    local program
    for program in pipewire wireplumber pipewire-pulse; do
        (
            export XDG_RUNTIME_DIR="$dir" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
            unset PULSE_SERVER
            exec "$program"
        ) >"$dir/$program.log" 2>&1 &
        service_pids+=($!)
        if [[ $program == pipewire ]]; then
            for _ in $(seq 50); do
                [[ -S "$dir/pipewire-0" ]] && break
                sleep 0.1
            done
        fi
    done
    use_pipewire
    if ! wait_for_pactl; then
        echo "PipeWire did not start:" >&2
        cat "$dir"/*.log >&2
        return 1
    fi
    pactl load-module module-null-sink sink_name=dittix_null >/dev/null
    for _ in $(seq 50); do
        pactl set-default-sink dittix_null 2>/dev/null && break
        sleep 0.1
    done
    echo "=== PipeWire with a null sink at $dir"
}

use_pipewire() {
    export XDG_RUNTIME_DIR="$DITTIX_PIPEWIRE_DIR"
    export PULSE_SERVER="$DITTIX_PIPEWIRE_SERVER"
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
