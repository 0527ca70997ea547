"""End to end: the real dittix binary in a private /dev (tests/platform/private_dev.py) whose
only serial devices are pseudo-terminals named ttyUSB1 (COM2) and ttyACM0 (COM17). The 's'
command opens the setup window and scans; the stored key port COM3 is not there, so the first
found port, COM2, becomes the key port; Esc in the setup window writes it, and Esc in the main
window ends the program. Run as: private_dev.py ttyUSB1 ttyACM0 -- python3 setup_scan_e2e.py BIN
[SCREENSHOT.png]"""
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
    screenshot = sys.argv[2] if len(sys.argv) > 2 else None
    failures = []
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(binary, os.path.join(work, "dittix"))
        settings = os.path.join(work, "settings.ini")
        with open(settings, "w") as f:
            f.write("[Settings]\nSerial Port=3\n")
        program = subprocess.Popen([os.path.join(work, "dittix")], cwd=work)
        try:
            x = xkeys.Display()
            main_window = x.find_window("Dittix - by Zorvan")
            if main_window is None:
                raise SystemExit("the main window did not appear")
            time.sleep(0.5)
            x.focus(main_window)
            x.tap(0x0073)  # 's'
            setup = x.find_window("Settings", timeout=10)
            if setup is None:
                raise SystemExit("the setup window did not appear")
            time.sleep(0.5)
            if screenshot:
                subprocess.run(["sh", "-c", f"xwd -root -silent | convert xwd:- '{screenshot}'"],
                               check=False)
            x.focus(setup)
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
        if "Serial Port=2\n" not in saved:
            failures.append(f"the scan's fallback port was not saved: {saved!r}")
        if "memoriaPunto=1\n" not in saved or "CPM palette=40\n" not in saved:
            failures.append(f"the setup window's keys were not saved: {saved!r}")
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
