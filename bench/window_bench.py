"""Measures the real dittix binary under an X server: processor time per decode tick, process
CPU while idle and while keying continuously, and ticks that came more than 5 ms late.

Usage: python3 bench/window_bench.py BUILD/src/dittix [idle-seconds] [keying-seconds]
Needs DISPLAY (scripts/bench-window.sh starts Xvfb for it). Defaults: 150 s idle, 150 s keying."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xkeys  # noqa: E402

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    binary = sys.argv[1]
    idle_seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 150
    keying_seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 150
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(binary, os.path.join(work, "dittix"))
        stats = os.path.join(work, "ticks.txt")
        env = dict(os.environ, DITTIX_TICK_STATS=stats)
        program = subprocess.Popen([os.path.join(work, "dittix")], env=env, cwd=work)
        x = xkeys.Display()
        window = x.find_window("Dittix - by Zorvan")
        time.sleep(1.0)

        start = cpu_seconds(program.pid)
        time.sleep(idle_seconds)
        idle = (cpu_seconds(program.pid) - start) / idle_seconds

        letters = "abcdefghijklmnopqrstuvwxyz0123456789"
        start_cpu, start_time = cpu_seconds(program.pid), time.time()
        rng = random.Random(1)
        while time.time() - start_time < keying_seconds:
            word = "".join(rng.choice(letters) for _ in range(5))
            x.key_text(word, xkeys.XK_Control_R, 0.05, char_gap=0.25, word_gap=0.7)
        keying = (cpu_seconds(program.pid) - start_cpu) / (time.time() - start_time)
        rss = rss_kib(program.pid)

        x.focus(window)
        x.tap(xkeys.XK_Escape)
        program.wait(timeout=20)
        print(open(stats).read(), end="")
        print(f"process_cpu_idle_percent {100 * idle:.2f}")
        print(f"process_cpu_keying_percent {100 * keying:.2f}")
        print(f"resident_memory_kib {rss}")


if __name__ == "__main__":
    main()
