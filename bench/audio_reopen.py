"""The sidetone's first element after an idle close, and the heard length of a keyed tone with
the shaped edges and without them, as the audio server's null sink hears them.

The program runs with its idle close at one second. Each round waits until the server has no
stream of the program, presses Right Ctrl for 300 ms (XTest) and finds the tone in the sink's
recording: how late it started after the press (the reopening, plus the tick's sampling and the
recording's delivery) and how long it sounded at half its level or more. Then, with the stream open, presses of 300 ms
half a second apart give the heard length. Both are run with "Rampa=1" and "Rampa=0".

Usage: python3 bench/audio_reopen.py BUILD/src/dittix [rounds]   (scripts/bench-audio.sh)"""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import sink_monitor  # noqa: E402
import xkeys  # noqa: E402

TONE_HZ = 700
PRESS_S = 0.3


def streams():
    out = subprocess.run(["pactl", "list", "short", "sink-inputs"], capture_output=True,
                         text=True).stdout
    return len([line for line in out.splitlines() if line.strip()])


def keyed_tone(x, recorder):
    """Presses once; the tone heard as (start ms after the press, sounding ms, pieces)."""
    start = time.monotonic()
    x.key(xkeys.XK_Control_R, True)
    time.sleep(PRESS_S)
    x.key(xkeys.XK_Control_R, False)
    time.sleep(0.35)
    samples = recorder.samples(start, start + PRESS_S + 0.3)
    # Measured where the tone is at half its level: the shaped edges rise and fall about that
    # point, so that the key-down time lies between the half-level points.
    half = max(sink_monitor.LOUD, max((abs(v) for v in samples), default=0) // 2)
    heard = sink_monitor.sounding(samples, TONE_HZ, loud=half)
    return heard[0] if len(heard) == 1 else None


def summary(values):
    if not values:
        return "none heard"
    values = sorted(values)
    return (f"median {statistics.median(values):.1f} ms, from {values[0]:.1f} to "
            f"{values[-1]:.1f} ms ({len(values)} tones)")


def run(binary, rampa, rounds):
    settings = f"[Settings]\nTono={TONE_HZ}\nChiusura audio=1\nRampa={rampa}\n"
    recorder = sink_monitor.SinkRecorder()
    program = None
    reopen, reopen_length, open_length, split = [], [], [], 0
    try:
        if not recorder.wait_running():
            print("the null sink did not run steadily")
            return False
        program = xkeys.Program(binary, settings)
        x = program.display
        x.focus(x.other_window())
        for _ in range(rounds):
            if not xkeys.wait_for(lambda: streams() == 0, 5.0):
                print("the stream did not close")
                return False
            tone = keyed_tone(x, recorder)
            if tone is None or tone[2] > 1:
                split += 1
                continue
            reopen.append(tone[0])
            reopen_length.append(tone[1])
        for _ in range(rounds):
            tone = keyed_tone(x, recorder)
            if tone is None or tone[2] > 1:
                split += 1
                continue
            open_length.append(tone[1])
        program.end_with_escape()
    finally:
        recorder.stop()
        if program is not None:
            program.close()
    print(f"Rampa={rampa}: press of {PRESS_S * 1000:.0f} ms")
    print(f"  first element after the idle close: starts {summary(reopen)} after the press")
    print(f"  its heard length: {summary(reopen_length)}")
    print(f"  heard length with the stream open: {summary(open_length)}")
    if split:
        print(f"  {split} tones not heard as one piece (left out)")
    return open_length


def main():
    binary = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    shaped = run(binary, 1, rounds)
    plain = run(binary, 0, rounds)
    if shaped and plain:
        print(f"heard length, shaped edges less plain ones (medians): "
              f"{statistics.median(shaped) - statistics.median(plain):+.1f} ms")
    return 0 if shaped and plain else 1


if __name__ == "__main__":
    sys.exit(main())
