"""Soak run of the real dittix binary: an hour (by default) of scripted use in six-minute
cycles — idle, straight keying with commands, paddles, the setup window open, a training
exercise at 20 or 150 CPM played to its end — logging every minute the resident memory and the ticks that came
more than 5 ms late (from the program's own tick log, DITTIX_TICK_LOG), each put down to a
command or click just before it, to the machine (one of the reference processes, one on each
processor that only wakes every 10 ms, bench/wake_reference.py, was held up at the same time), or
to neither.

Usage: python3 bench/soak.py BUILD/src/dittix [minutes]
Needs DISPLAY and an audio server (scripts/soak.sh starts both and a private /dev)."""
import os
import random
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xkeys  # noqa: E402
from window_bench import cpu_seconds, rss_kib  # noqa: E402

SETTINGS = ("; soak\n[Settings]\nlivello1=EISH5TMO0\n"
            "livello2=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789?=-/.,\n"
            "LIV ES=2\nVEL ES=100\nTEMPO ES=1\nINTER ES=0\nMOSTRA ES=1\nSerial Port=1\n")
PHASES = ["idle", "straight", "paddles", "setup", "training", "training-end"]
KEYS = [xkeys.XK_Control_R, xkeys.XK_Right, xkeys.XK_Control_L, xkeys.XK_Left]
COMMANDS = [ord("1"), ord("2"), ord("+"), ord("-"), ord("9"), ord("0"), ord("c")]
def reference_stalls(logs):
    """The (start, end) of each stall of the reference processes (bench/wake_reference.py)."""
    found = []
    for log in logs:
        if os.path.exists(log):
            with open(log) as f:
                for line in f:
                    parts = line.split()
                    if len(parts) == 3 and parts[0] == "late":
                        scheduled = float(parts[1])
                        found.append((scheduled, scheduled + float(parts[2]) / 1000.0))
    return found


def held_by_machine(tick_time, late_ms, stalls):
    """A late tick whose delay overlaps a stall of a reference process: the machine held both."""
    begin = tick_time - late_ms / 1000.0
    return any(start < tick_time and end > begin for start, end in stalls)


class Soak:
    def __init__(self, program, rng):
        self.program = program
        self.x = program.display
        self.rng = rng
        self.training = None
        self.actions = []  # (monotonic time, what): commands and clicks, to explain late ticks

    def note(self, what):
        self.actions.append((time.monotonic(), what))

    def command(self, keysym):
        self.x.focus(self.program.main_window)
        self.note(chr(keysym))
        self.x.tap(keysym)

    def after_action(self, t, window=0.3):
        """The action that came at most `window` seconds before t, if any."""
        for when, what in reversed(self.actions):
            if when <= t:
                return what if t - when <= window else None
        return None

    def straight(self, until):
        letters = "abcdefghijklmnopqrstuvwxyz0123456789"
        next_command = time.monotonic() + 10
        while time.monotonic() < until - 3:
            word = "".join(self.rng.choice(letters) for _ in range(self.rng.randint(1, 5)))
            self.x.key_text(word, self.rng.choice(KEYS), 0.05, char_gap=0.25, word_gap=0.7)
            if time.monotonic() > next_command:
                self.command(self.rng.choice(COMMANDS))
                next_command = time.monotonic() + 10

    def paddles(self, until):
        self.command(ord("p"))
        swapped = False
        while time.monotonic() < until - 3:
            held = self.rng.choice([[KEYS[0]], [KEYS[2]], [KEYS[1], KEYS[3]], [KEYS[0], KEYS[2]]])
            for k in held:
                self.x.key(k, True)
            time.sleep(self.rng.uniform(0.08, 1.2))
            for k in held:
                self.x.key(k, False)
            time.sleep(self.rng.uniform(0.2, 0.9))
            if not swapped and self.rng.random() < 0.05:
                self.command(ord("r"))
                self.command(ord("r"))
                swapped = True
        self.command(ord("p"))

    def setup(self, until):
        self.command(ord("s"))
        window = self.x.find_window("Settings", timeout=10, shown=True)
        time.sleep(max(0.0, until - 8 - time.monotonic()))
        if window is not None:
            self.x.focus(window)
            self.note("Esc setup")
            self.x.tap(xkeys.XK_Escape)

    def start_training(self, until):
        self.command(ord("e"))
        self.training = self.x.find_window("ESERCIZIO RICEZIONE", timeout=10, shown=True)
        if self.training is not None:
            time.sleep(0.5)
            # Every other cycle the slowest speed (the largest tone bank), else the fastest: a
            # recomposition each time.
            self.slow = not getattr(self, "slow", False)
            self.x.click(self.training, 152 + 48, 8 + 12)  # the speed list
            time.sleep(0.5)
            self.x.tap(0xFF50 if self.slow else 0xFF57)  # Home (20 CPM) or End (150 CPM)
            self.note("speed")
            self.x.tap(0xFF0D)  # Return
            time.sleep(0.5)
            self.note("START")
            self.x.click(self.training, *self.x.training_start(self.training))

    def end_training(self, until):
        # The one-minute exercise ended during the previous minute; Esc closes the window.
        time.sleep(max(0.0, until - 10 - time.monotonic()))
        if self.training is not None:
            self.x.focus(self.training)
            self.note("Esc training")
            self.x.tap(xkeys.XK_Escape)

    def idle(self, until):
        pass


def main():
    binary = sys.argv[1]
    minutes = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    folder = os.environ.get("TMPDIR", "/tmp")
    reference_script = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "wake_reference.py")
    processors = sorted(os.sched_getaffinity(0))
    reference_logs = [os.path.join(folder, f"dittix-soak-reference-{os.getpid()}-{cpu}.log")
                      for cpu in processors]
    references = [subprocess.Popen([sys.executable, reference_script, log, str(cpu)])
                  for log, cpu in zip(reference_logs, processors)]
    program = xkeys.Program(binary, SETTINGS, tick_log=True)
    summary = os.path.join(program.folder, "ticks.txt")  # the program's tick figures at its end
    soak = Soak(program, random.Random(7))
    actions = {"idle": soak.idle, "straight": soak.straight, "paddles": soak.paddles,
               "setup": soak.setup, "training": soak.start_training,
               "training-end": soak.end_training}
    rows = []
    try:
        print("minute phase         rss_kib  cpu_%  late_ticks  worst_late_ms  after", flush=True)
        start = time.monotonic()
        for minute in range(minutes):
            phase = PHASES[minute % len(PHASES)]
            begin, end = start + 60 * minute, start + 60 * (minute + 1)
            cpu0 = cpu_seconds(program.process.pid)
            actions[phase](end)
            time.sleep(max(0.0, end - time.monotonic()))
            if program.process.poll() is not None:
                raise SystemExit(f"the program ended during minute {minute + 1}")
            late = [(t.at, t.ms) for t in program.late_ticks() if begin <= t.at < end]
            rss = rss_kib(program.process.pid)
            cpu = 100 * (cpu_seconds(program.process.pid) - cpu0) / 60
            worst = f"{max(ms for _, ms in late):.1f}" if late else "-"
            # A late tick within 0.3 s of a command or a click was held up by that command's
            # handler (a port scan, a bitmap cleared, tones composed) on the interface thread;
            # one whose delay a reference process shared was held up by the machine.
            stalls = reference_stalls(reference_logs)
            causes = [soak.after_action(t) or ("machine" if held_by_machine(t, ms, stalls)
                                               else "?") for t, ms in late]
            rows.append((minute + 1, phase, rss, len(late), causes.count("?"),
                         causes.count("machine")))
            # Each late tick not put down to the machine shows how late it came.
            named = [cause if cause == "machine" else f"{cause}:{ms:.1f}"
                     for cause, (_, ms) in zip(causes, late)]
            print(f"{minute + 1:6d} {phase:12s} {rss:9d} {cpu:6.2f} {len(late):11d}  {worst:>13s}"
                  f"  {' '.join(named)}", flush=True)
        ok = program.end_with_escape()
    finally:
        # The program's own figures, written as it ended, are read before its folder goes.
        figures = open(summary).read() if os.path.exists(summary) else ""
        minutes_logged = ("".join(line for line in open(program.tick_log)
                                  if line.startswith("minute"))
                          if os.path.exists(program.tick_log) else "")
        program.close()
        for reference in references:
            reference.terminate()
            reference.wait()

    idle_late = sum(row[3] for row in rows if row[1] == "idle")
    all_late = sum(row[3] for row in rows)
    unexplained = sum(row[4] for row in rows)
    machine = sum(row[5] for row in rows)
    keying = sum(row[4] for row in rows if row[1] in ("straight", "paddles"))
    print(f"late ticks while idle: {idle_late}; in all: {all_late}: {machine} while the "
          f"reference processes were held up too, {all_late - machine - unexplained} right after "
          f"a command or click, {unexplained} neither ({keying} of them while keying)")
    stalls = reference_stalls(reference_logs)
    held = [b - a for a, b in stalls if b - a > 0.005]
    print(f"the reference processes were held up more than 5 ms {len(held)} times "
          f"(worst {max(held, default=0) * 1000:.1f} ms)")
    if len(rows) >= 12:
        # Memory after the first two cycles (everything built and composed once) against the end.
        settled = max(row[2] for row in rows if 7 <= row[0] <= 12)
        last = max(row[2] for row in rows[-6:])
        print(f"resident memory: {settled} KiB in cycle 2, {last} KiB in the last cycle "
              f"({last - settled:+d} KiB)")
    print(f"ended by Esc: {'yes' if ok else 'NO'}")
    print(figures, end="")
    for log in reference_logs:
        if os.path.exists(log):
            os.remove(log)
    print("program's own minute lines:")
    print(minutes_logged, end="")


if __name__ == "__main__":
    main()
