"""A reference for the soak: a process that does nothing but wake every 10 ms on the same
machine, and logs each wake-up that came more than 2 ms late ("late SCHEDULED_S LATE_MS", steady
clock). A tick of the program that came late while this process was held up too was held up by
the machine (the virtual machine's scheduling, the host), not by the program.

The soak runs one on each processor, pinned to it: a stall of one virtual processor holds up only
the threads on it.

Usage: python3 bench/wake_reference.py LOG [PROCESSOR]"""
import os
import sys
import time

PERIOD_S = 0.010
LIMIT_MS = 2.0


def main():
    if len(sys.argv) > 2:
        os.sched_setaffinity(0, {int(sys.argv[2])})
    with open(sys.argv[1], "w") as log:
        deadline = time.monotonic()
        while True:
            deadline += PERIOD_S
            time.sleep(max(0.0, deadline - time.monotonic()))
            late_ms = (time.monotonic() - deadline) * 1000.0
            if late_ms > LIMIT_MS:
                log.write(f"late {deadline:.4f} {late_ms:.3f}\n")
                log.flush()
            if late_ms > 10 * PERIOD_S * 1000.0:
                deadline = time.monotonic()  # a long stall: start the schedule afresh


if __name__ == "__main__":
    main()
