"""End-to-end sidetone latency: from a key press (XTest on Right Ctrl) to the tone in the audio
server's null sink, recorded from its monitor with parec.

Each chunk that parec delivers is stamped with the time it arrived; a sample's capture time is
taken as its chunk's arrival time less the samples that follow it in the chunk. Delivery delay
is therefore counted in, and the figures are upper bounds of the program's own latency.

Usage: python3 bench/key_to_tone.py BUILD/src/dittix [presses]   (scripts/bench-audio.sh)"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xkeys  # noqa: E402

RATE = 44100


def main():
    binary = sys.argv[1]
    presses = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(binary, os.path.join(work, "dittix"))
        program = subprocess.Popen([os.path.join(work, "dittix")], cwd=work)
        x = xkeys.Display()
        window = x.find_window("Dittix - by Zorvan")
        time.sleep(1.0)

        recorder = subprocess.Popen(["parec", "--device=@DEFAULT_MONITOR@", "--raw",
                                     "--format=s16le", "--latency-msec=5"],
                                    stdout=subprocess.PIPE)
        chunks = []  # (arrival time, first sample index, samples)
        total = [0]

        def read():
            pending = b""
            while True:
                data = os.read(recorder.stdout.fileno(), 4096)
                if not data:
                    return
                now = time.monotonic()
                pending += data
                frames = len(pending) // 4
                left = struct.unpack("<" + "hh" * frames, pending[:frames * 4])[::2]
                pending = pending[frames * 4:]
                chunks.append((now, total[0], left))
                total[0] += frames

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        while not chunks:
            time.sleep(0.01)
        time.sleep(0.3)

        press_times = []
        for _ in range(presses):
            press_times.append(time.monotonic())
            x.key(xkeys.XK_Control_R, True)
            time.sleep(0.08)
            x.key(xkeys.XK_Control_R, False)
            time.sleep(0.25)
        time.sleep(0.3)
        recorder.terminate()
        reader.join(timeout=2)
        x.focus(window)
        x.tap(xkeys.XK_Escape)
        program.wait(timeout=20)

    latencies = []
    for press in press_times:
        onset = None
        for arrival, first, samples in chunks:
            end_time = arrival
            for k, value in enumerate(samples):
                capture = end_time - (len(samples) - 1 - k) / RATE
                if capture >= press - 0.002 and abs(value) > 2000:
                    onset = capture
                    break
            if onset is not None:
                break
        if onset is not None and onset - press < 0.5:
            latencies.append((onset - press) * 1000)
    latencies.sort()
    if not latencies:
        print("no tone recorded")
        return 1
    print(f"key press to tone in the sink, {len(latencies)} of {presses} presses: "
          f"median {latencies[len(latencies) // 2]:.1f} ms, "
          f"p90 {latencies[len(latencies) * 9 // 10]:.1f} ms, worst {latencies[-1]:.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
