"""Idle processor time of the program and of the audio server it plays into.

The program starts with the sidetone's idle close at its default (30 s, or the seconds given),
is keyed a few times on Right Ctrl, and is then left alone: once the stream has closed, the
processor time of the program and of the server's processes is taken over a measuring window,
with the sink's state and the program's streams on the server. The same window is measured with
no program running, for the server's own figure.

Usage: python3 bench/audio_idle.py BUILD/src/dittix SERVER [measure_s] [close_s]
SERVER is "pulseaudio" or "pipewire" (the processes counted); PULSE_SERVER must point at it
(scripts/bench-audio.sh starts both servers)."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xkeys  # noqa: E402
from window_bench import cpu_seconds  # noqa: E402

SERVER_PROCESSES = {
    "pulseaudio": ("pulseaudio",),
    "pipewire": ("pipewire", "pipewire-pulse", "wireplumber"),
}


def runtime_dir_of(pid):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            for item in f.read().split(b"\0"):
                if item.startswith(b"XDG_RUNTIME_DIR="):
                    return item.split(b"=", 1)[1].decode()
    except OSError:
        pass
    return None


def server_pids(server):
    """The server's processes that serve this run's runtime folder (another run's are left)."""
    mine = os.environ.get("XDG_RUNTIME_DIR")
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as f:
                name = f.read().strip()
        except OSError:
            continue
        if name in SERVER_PROCESSES[server] and runtime_dir_of(entry) == mine:
            found.append(int(entry))
    return found


def pactl(*args):
    return subprocess.run(["pactl", *args], capture_output=True, text=True).stdout


def sink_state():
    for line in pactl("list", "short", "sinks").splitlines():
        fields = line.split("\t")
        if len(fields) >= 5 and fields[1] == "dittix_null":
            return fields[4]
    return "?"


def program_streams():
    return len([line for line in pactl("list", "short", "sink-inputs").splitlines() if line])


def cpu_of(pids):
    total = 0.0
    for pid in pids:
        try:
            total += cpu_seconds(pid)
        except OSError:
            pass
    return total


def measure(pids, seconds):
    before = {pid: cpu_of([pid]) for pid in pids}
    start = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - start
    return {pid: 100.0 * (cpu_of([pid]) - before[pid]) / elapsed for pid in pids}


def main():
    binary, server = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 30.0
    close_s = int(sys.argv[4]) if len(sys.argv) > 4 else 30
    servers = server_pids(server)
    if not servers:
        print(f"no {server} process serves {os.environ.get('XDG_RUNTIME_DIR')}")
        return 1

    alone = measure(servers, seconds)
    print(f"{server}, no program: server {sum(alone.values()):.2f} % of a core, "
          f"sink {sink_state()}")

    settings = f"[Settings]\nChiusura audio={close_s}\n"
    program = xkeys.Program(binary, settings)
    try:
        x = program.display
        for _ in range(3):
            x.key(xkeys.XK_Control_R, True)
            time.sleep(0.1)
            x.key(xkeys.XK_Control_R, False)
            time.sleep(0.3)
        keyed = measure(servers + [program.process.pid], 5.0)
        streams_keyed = program_streams()
        # The close comes `close_s` after the last keying; a second more for the server.
        time.sleep(max(0.0, close_s + 1.0 - 5.0))
        idle = measure(servers + [program.process.pid], seconds)
        mine = idle.pop(program.process.pid)
        print(f"{server}, right after keying: program {keyed.pop(program.process.pid):.2f} %, "
              f"server {sum(keyed.values()):.2f} %, program's streams {streams_keyed}")
        print(f"{server}, idle after {close_s} s: program {mine:.2f} %, "
              f"server {sum(idle.values()):.2f} %, together {mine + sum(idle.values()):.2f} % "
              f"of a core over {seconds:.0f} s; program's streams {program_streams()}, "
              f"sink {sink_state()}")
        program.end_with_escape()
    finally:
        program.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
