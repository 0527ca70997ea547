"""End to end: the real dittix binary opens the training window with 'e', START builds an
exercise from a level of the settings file and sends it, Esc stops it and a second Esc closes the
window, which writes its five keys; Esc in the main window ends the program."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402

SETTINGS = ("; e2e\n[Settings]\nlivello1=eish5\nlivello2=tmo0\nLIV ES=2\nVEL ES=75\n"
            "TEMPO ES=3\nINTER ES=4\nMOSTRA ES=1\n")


def main():
    failures = []
    program = xkeys.Program(sys.argv[1], SETTINGS)
    try:
        x = program.display
        x.focus(program.main_window)
        x.tap(0x65)  # 'e'
        training = x.find_window("ESERCIZIO RICEZIONE", timeout=10)
        if training is None:
            raise SystemExit("the training window did not appear")
        time.sleep(0.5)
        x.click(training, *x.training_start(training))
        time.sleep(0.8)
        x.focus(training)
        x.tap(xkeys.XK_Escape)  # stops the exercise
        time.sleep(0.5)
        x.tap(xkeys.XK_Escape)  # closes the window
        time.sleep(0.5)
        if not program.end_with_escape():
            failures.append("the program did not end on Esc")
        want = SETTINGS + "Size=38\nPalette=0\nTono=800\n"
        saved = program.saved_settings()
        if saved != want:
            failures.append(f"settings: {saved!r}, expected {want!r}")
    finally:
        program.close()
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
