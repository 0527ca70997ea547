"""End to end: the real dittix binary opens the training window with 'e', START builds an
exercise from a level of the settings file, Esc closes the window and writes its five keys, and
Esc in the main window ends the program."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402


def main():
    binary = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(binary, os.path.join(work, "dittix"))
        settings = os.path.join(work, "settings.ini")
        with open(settings, "w") as f:
            f.write("; e2e\n[Settings]\nlivello1=eish5\nlivello2=tmo0\nLIV ES=2\nVEL ES=75\n"
                    "TEMPO ES=3\nINTER ES=4\nMOSTRA ES=1\n")
        program = subprocess.Popen([os.path.join(work, "dittix")], cwd=work)
        try:
            x = xkeys.Display()
            main_window = x.find_window("Dittix - by Zorvan")
            if main_window is None:
                raise SystemExit("the main window did not appear")
            time.sleep(0.5)
            x.focus(main_window)
            x.tap(0x65)  # 'e'
            training = x.find_window("ESERCIZIO RICEZIONE", timeout=10)
            if training is None:
                raise SystemExit("the training window did not appear")
            time.sleep(0.5)
            x.click(training, 878 + 40, 8 + 16)  # START
            time.sleep(0.8)
            x.focus(training)
            x.tap(xkeys.XK_Escape)
            time.sleep(0.5)
            x.focus(main_window)
            x.tap(xkeys.XK_Escape)
            program.wait(timeout=10)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
                failures.append("the program did not end on Esc")
        saved = open(settings).read()
        want = ("; e2e\n[Settings]\nlivello1=eish5\nlivello2=tmo0\nLIV ES=2\nVEL ES=75\n"
                "TEMPO ES=3\nINTER ES=4\nMOSTRA ES=1\nSize=38\nPalette=0\nTono=800\n")
        if saved != want:
            failures.append(f"settings: {saved!r}, expected {want!r}")
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
