"""End to end: what the settings file holds when the real dittix binary ends while the setup or
the training window is open. Esc in the main window ends the program: the main window saves its
keys, and a window that is still open closes with the program and saves its own, with the
change just made in it. Esc in the code table ends the program without saving anything. Each row
starts the program afresh, in a private /dev (tests/platform/private_dev.py) whose only serial
device is a pseudo-terminal named ttyUSB0 (COM1).
Run as: private_dev.py ttyUSB0 -- python3 quit_saves_e2e.py BIN"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402

SETTINGS = "; e2e\n[Settings]\nSerial Port=1\nLento=0\nMOSTRA ES=0\n"

# Where the controls clicked lie in their window (as in full_e2e.py): the setup window's
# "Verticale Lento" box, and the training window's show box (found from its right edge).
def setup_lento_box(display, window):
    return (23, 96 + 8)


def training_mostra_box(display, window):
    return display.training_mostra_box(window)


def nothing(program):
    pass


def open_and_tick(command, title, box):
    """Opens a window with its command in the main window and ticks a check box in it."""
    def step(program):
        x = program.display
        x.focus(program.main_window)
        x.tap(command)
        window = x.find_window(title, timeout=10, shown=True)
        if window is None:
            raise SystemExit(f"the window {title!r} did not appear")
        time.sleep(0.5)  # its show handling (the setup window's scan) has run
        x.click(window, *box(x, window))
        time.sleep(0.3)
    return step


def escape_in_main_window(program):
    return program.end_with_escape()


def escape_in_code_table(program):
    x = program.display
    table = x.find_window("Codice Morse", timeout=10, shown=True)
    if table is None:
        raise SystemExit("the code table did not appear")
    x.focus(table)
    x.tap(xkeys.XK_Escape)
    try:
        program.process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        return False
    return program.process.returncode == 0


# (row name, what is done first, how the program is ended, lines the file must hold afterwards
# (None: the file must be as it was), lines it must not hold)
ROWS = [
    ("no_other_window_esc_in_main_window", nothing, escape_in_main_window,
     ["Size=38", "Palette=0", "Tono=800", "Lento=0", "MOSTRA ES=0"],
     ["Decode time=", "TEMPO ES="]),
    ("setup_open_esc_in_main_window",
     open_and_tick(xkeys.XK_s, "Settings", setup_lento_box), escape_in_main_window,
     ["Size=38", "Tono=800", "Lento=1", "Decode time=30", "Blank time=60", "MOSTRA ES=0"],
     ["TEMPO ES="]),
    ("training_open_esc_in_main_window",
     open_and_tick(xkeys.XK_e, "ESERCIZIO RICEZIONE", training_mostra_box),
     escape_in_main_window,
     ["Size=38", "Tono=800", "MOSTRA ES=1", "TEMPO ES=1", "Lento=0"],
     ["Decode time="]),
    ("setup_open_esc_in_code_table",
     open_and_tick(xkeys.XK_s, "Settings", setup_lento_box), escape_in_code_table, None, []),
]


def main():
    failures = []
    for name, before, end, present, absent in ROWS:
        program = xkeys.Program(sys.argv[1], SETTINGS)
        try:
            before(program)
            if not end(program):
                failures.append(f"{name}: the program did not end with status 0")
                continue
            saved = program.saved_settings()
        finally:
            program.close()
        lines = saved.splitlines()
        if present is None and saved != SETTINGS:
            failures.append(f"{name}: the file was written: {saved!r}")
        for line in present or []:
            if line not in lines:
                failures.append(f"{name}: no line {line!r} in {saved!r}")
        for start in absent:
            if any(held.startswith(start) for held in lines):
                failures.append(f"{name}: a line {start!r} in {saved!r}")
        print(f"{name}: done")
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
